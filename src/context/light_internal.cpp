// Directional lights: a direction towards the light and an intensity.
#include "context/light_internal.h"

#include <new>

#include "context/state_checks.h"
#include "foundation/shareable.h"

namespace ulm3 {

ULMLight::~ULMLight() = default;
ULMStatus ULMLight::Reserved00() { return kULMErrUnimplemented; }
ULMStatus ULMLight::Reserved01() { return kULMErrUnimplemented; }
ULMStatus ULMLight::Reserved02() { return kULMErrUnimplemented; }
ULMStatus ULMLight::Reserved03() { return kULMErrUnimplemented; }

ULMLight* ULMLight::Create(const ULMVector3D& inDirectionTowardsLight, double inIntensity) {
    ULMLight* light = ULMLightInternal::Make(inDirectionTowardsLight, inIntensity);
    if (light) light->AddRef();
    return light;
}

// A direction that normalises: exactly zero has none, and the engine
// divides by its length.
bool ULMLightInternal::ValidDirection(const ULMVector3D& inDirection) {
    return IsFinite(inDirection) && inDirection.LengthSquared() > 0.0;
}

bool ULMLightInternal::ValidIntensity(double inIntensity) {
    return std::isfinite(inIntensity) && inIntensity >= 0.0;
}

ULMLightInternal* ULMLightInternal::Make(const ULMVector3D& inDirection, double inIntensity) {
    if (!ValidDirection(inDirection) || !ValidIntensity(inIntensity)) return nullptr;
    return new (std::nothrow) ULMLightInternal(inDirection, inIntensity);
}

ULMLightInternal* ULMLightInternal::MakeCopy(const ULMLight& inLight) {
    if (!IsObjectType(&inLight, kObjectTypeULMLightInternal))
        return Make(inLight.GetDirection(), inLight.GetIntensity());
    const auto& light = static_cast<const ULMLightInternal&>(inLight);
    ULMVector3D direction;
    double intensity = 0.0;
    {
        ULMScopedLock hold(light.m_lock);
        direction = light.m_direction;
        intensity = light.m_intensity;
    }
    return new (std::nothrow) ULMLightInternal(direction, intensity);
}

ULMLightInternal::ULMLightInternal(const ULMVector3D& inDirection, double inIntensity)
    : m_direction(inDirection), m_intensity(inIntensity) {
    SetObjectType(this, kObjectTypeULMLightInternal);
}

ULMVector3D ULMLightInternal::GetDirection() const {
    ULMScopedLock hold(m_lock);
    return m_direction;
}

double ULMLightInternal::GetIntensity() const {
    ULMScopedLock hold(m_lock);
    return m_intensity;
}

ULMStatus ULMLightInternal::SetDirection(const ULMVector3D& inDirection) {
    if (!ValidDirection(inDirection)) return kULMErrArgument;
    ULMScopedLock hold(m_lock);
    if (inDirection == m_direction) return kULMOK;
    m_direction = inDirection;
    IncSerial();
    return kULMOK;
}

ULMStatus ULMLightInternal::SetIntensity(double inIntensity) {
    if (!ValidIntensity(inIntensity)) return kULMErrArgument;
    ULMScopedLock hold(m_lock);
    if (inIntensity == m_intensity) return kULMOK;
    m_intensity = inIntensity;
    IncSerial();
    return kULMOK;
}

}  // namespace ulm3
