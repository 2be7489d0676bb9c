// The camera, crop and cursor: value objects that check what they store.
#include "ulm3/camera.h"

#include "context/state_checks.h"

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

ULMCrop::ULMCrop() : m_slabs(WholeBox()) {}

ULMStatus ULMCrop::SetFlags(unsigned inFlags) {
    if ((inFlags & ~static_cast<unsigned>(kAllFlags)) != 0) return kULMErrArgument;
    m_flags = inFlags;
    return kULMOK;
}

void ULMCrop::GetSlabs(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY, double& outMinZ,
                       double& outMaxZ) const {
    Unpack(m_slabs, outMinX, outMaxX, outMinY, outMaxY, outMinZ, outMaxZ);
}

ULMStatus ULMCrop::SetSlabs(double inMinX, double inMaxX, double inMinY, double inMaxY, double inMinZ,
                            double inMaxZ) {
    if (!AllFinite({inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ})) return kULMErrArgument;
    m_slabs = {inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ};
    return kULMOK;
}

ULMStatus ULMCursor::SetType(Type inType) {
    if (inType != kOff && inType != kCrossHair) return kULMErrArgument;
    m_type = inType;
    return kULMOK;
}

ULMStatus ULMCursor::SetPosition(const ULMVector3D& inPosition) {
    if (!IsFinite(inPosition)) return kULMErrArgument;
    m_position = inPosition;
    return kULMOK;
}

ULMStatus ULMCursor::SetLength(double inLength) {
    if (!std::isfinite(inLength) || inLength < 0.0) return kULMErrArgument;
    m_length = inLength;
    return kULMOK;
}

ULMStatus ULMCursor::SetColor(const ULMRGBAFloat& inColor) {
    if (!IsFraction(inColor.m_red) || !IsFraction(inColor.m_green) || !IsFraction(inColor.m_blue) ||
        !IsFraction(inColor.m_alpha))
        return kULMErrArgument;
    m_color = inColor;
    return kULMOK;
}

bool ULMCursor::operator==(const ULMCursor& other) const {
    return m_type == other.m_type && m_position == other.m_position && m_length == other.m_length &&
           m_color.m_red == other.m_color.m_red && m_color.m_green == other.m_color.m_green &&
           m_color.m_blue == other.m_color.m_blue && m_color.m_alpha == other.m_color.m_alpha;
}

}  // namespace ulm3
