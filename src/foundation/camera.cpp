// The camera: a value object of the matrices and viewport a view is made
// of, which checks what it stores. The geometry below the contexts factors
// views through it, so it lives with the matrices.
#include "ulm3/camera.h"

#include "foundation/finite_checks.h"

namespace ulm3 {

namespace {

ULMStatus SetMatrix(ULMMatrix& field, const ULMMatrix& value) {
    if (!IsFinite(value)) return kULMErrArgument;
    field = value;
    return kULMOK;
}

}  // namespace

ULMStatus ULMCamera::SetModelMatrix(const ULMMatrix& inMatrix) { return SetMatrix(m_model, inMatrix); }
ULMStatus ULMCamera::SetViewMatrix(const ULMMatrix& inMatrix) { return SetMatrix(m_view, inMatrix); }
ULMStatus ULMCamera::SetProjectionMatrix(const ULMMatrix& inMatrix) {
    return SetMatrix(m_projection, inMatrix);
}

void ULMCamera::GetViewport(int& outX, int& outY, int& outWidth, int& outHeight) const {
    outX = m_viewport[0];
    outY = m_viewport[1];
    outWidth = m_viewport[2];
    outHeight = m_viewport[3];
}

ULMStatus ULMCamera::SetViewport(int inX, int inY, int inWidth, int inHeight) {
    if (inWidth < 0 || inHeight < 0) return kULMErrArgument;
    m_viewport[0] = inX;
    m_viewport[1] = inY;
    m_viewport[2] = inWidth;
    m_viewport[3] = inHeight;
    return kULMOK;
}

void ULMCamera::GetDepthRange(double& outNear, double& outFar) const {
    outNear = m_near;
    outFar = m_far;
}

ULMStatus ULMCamera::SetDepthRange(double inNear, double inFar) {
    if (!AllFinite({inNear, inFar})) return kULMErrArgument;
    m_near = inNear;
    m_far = inFar;
    return kULMOK;
}

}  // namespace ulm3
