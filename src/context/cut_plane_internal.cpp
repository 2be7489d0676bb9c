// Cut planes: a plane equation and the slab of values it keeps or removes.
#include "context/cut_plane_internal.h"

#include <new>

#include "context/state_checks.h"
#include "foundation/shareable.h"

namespace ulm3 {

ULMCutPlane::~ULMCutPlane() = default;
ULMStatus ULMCutPlane::Reserved00() { return kULMErrUnimplemented; }
ULMStatus ULMCutPlane::Reserved01() { return kULMErrUnimplemented; }
ULMStatus ULMCutPlane::Reserved02() { return kULMErrUnimplemented; }
ULMStatus ULMCutPlane::Reserved03() { return kULMErrUnimplemented; }

ULMCutPlane* ULMCutPlane::Create(const ULMVector4D& inPlane, double inMin, double inMax) {
    ULMCutPlane* plane = ULMCutPlaneInternal::Make(inPlane, inMin, inMax);
    if (plane) plane->AddRef();
    return plane;
}

// The engine scales the plane by its normal; a zero normal has no side.
bool ULMCutPlaneInternal::ValidPlane(const ULMVector4D& inPlane) {
    return IsFinite(inPlane) && (inPlane.X() != 0.0 || inPlane.Y() != 0.0 || inPlane.Z() != 0.0);
}

bool ULMCutPlaneInternal::ValidRange(double inMin, double inMax) {
    return AllFinite({inMin, inMax}) && inMin <= inMax;
}

ULMCutPlaneInternal* ULMCutPlaneInternal::Make(const ULMVector4D& inPlane, double inMin, double inMax) {
    if (!ValidPlane(inPlane) || !ValidRange(inMin, inMax)) return nullptr;
    return new (std::nothrow) ULMCutPlaneInternal(inPlane, inMin, inMax);
}

ULMCutPlaneInternal* ULMCutPlaneInternal::MakeCopy(const ULMCutPlane& inPlane) {
    ULMVector4D plane;
    double range[2] = {0.0, 0.0};
    bool keepInside = true;
    if (IsObjectType(&inPlane, kObjectTypeULMCutPlaneInternal)) {
        const auto& own = static_cast<const ULMCutPlaneInternal&>(inPlane);
        ULMScopedLock hold(own.m_lock);
        plane = own.m_plane;
        range[0] = own.m_min;
        range[1] = own.m_max;
        keepInside = own.m_keepInside;
    } else {
        plane = inPlane.GetPlane();
        inPlane.GetRange(range[0], range[1]);
        keepInside = inPlane.GetVisibility();
        if (!ValidPlane(plane) || !ValidRange(range[0], range[1])) return nullptr;
    }
    return new (std::nothrow) ULMCutPlaneInternal(plane, range[0], range[1], keepInside);
}

ULMCutPlaneInternal::ULMCutPlaneInternal(const ULMVector4D& inPlane, double inMin, double inMax, bool inKeepInside)
    : m_plane(inPlane), m_min(inMin), m_max(inMax), m_keepInside(inKeepInside) {
    SetObjectType(this, kObjectTypeULMCutPlaneInternal);
}

ULMVector4D ULMCutPlaneInternal::GetPlane() const {
    ULMScopedLock hold(m_lock);
    return m_plane;
}

bool ULMCutPlaneInternal::GetVisibility() const {
    ULMScopedLock hold(m_lock);
    return m_keepInside;
}

ULMStatus ULMCutPlaneInternal::SetPlane(const ULMVector4D& inPlane) {
    if (!ValidPlane(inPlane)) return kULMErrArgument;
    ULMScopedLock hold(m_lock);
    if (inPlane == m_plane) return kULMOK;
    m_plane = inPlane;
    IncSerial();
    return kULMOK;
}

void ULMCutPlaneInternal::GetRange(double& outMin, double& outMax) const {
    ULMScopedLock hold(m_lock);
    outMin = m_min;
    outMax = m_max;
}

ULMStatus ULMCutPlaneInternal::SetRange(double inMin, double inMax) {
    if (!ValidRange(inMin, inMax)) return kULMErrArgument;
    ULMScopedLock hold(m_lock);
    if (inMin == m_min && inMax == m_max) return kULMOK;
    m_min = inMin;
    m_max = inMax;
    IncSerial();
    return kULMOK;
}

ULMStatus ULMCutPlaneInternal::SetVisibility(bool inKeepInside) {
    ULMScopedLock hold(m_lock);
    if (inKeepInside == m_keepInside) return kULMOK;
    m_keepInside = inKeepInside;
    IncSerial();
    return kULMOK;
}

}  // namespace ulm3
