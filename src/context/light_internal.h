// The directional light behind ULMLight.
#pragma once

#include "foundation/locks.h"
#include "ulm3/light.h"

namespace ulm3 {

// A light may sit in several contexts and be changed in one thread while
// another renders with it: its values are read and written under its own
// lock.
class ULMLightInternal : public ULMLight {
public:
    // Null for a zero or non-finite direction or a bad intensity.
    static ULMLightInternal* Make(const ULMVector3D& inDirection, double inIntensity);
    // A new light with inLight's direction and intensity as they stand,
    // both read at once; null when it cannot be made.
    static ULMLightInternal* MakeCopy(const ULMLight& inLight);

    ULMVector3D GetDirection() const override;
    ULMStatus SetDirection(const ULMVector3D& inDirection) override;
    double GetIntensity() const override;
    ULMStatus SetIntensity(double inIntensity) override;

    static bool ValidDirection(const ULMVector3D& inDirection);
    static bool ValidIntensity(double inIntensity);

private:
    ULMLightInternal(const ULMVector3D& inDirection, double inIntensity);
    ~ULMLightInternal() override = default;

    mutable ULMMutex m_lock;
    ULMVector3D m_direction;
    double m_intensity;
};

}  // namespace ulm3
