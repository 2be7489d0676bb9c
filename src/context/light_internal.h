// The directional light behind ULMLight.
#pragma once

#include "ulm3/light.h"

namespace ulm3 {

class ULMLightInternal : public ULMLight {
public:
    // Null for a zero or non-finite direction or a bad intensity.
    static ULMLightInternal* Make(const ULMVector3D& inDirection, double inIntensity);

    ULMVector3D GetDirection() const override { return m_direction; }
    ULMStatus SetDirection(const ULMVector3D& inDirection) override;
    double GetIntensity() const override { return m_intensity; }
    ULMStatus SetIntensity(double inIntensity) override;

    static bool ValidDirection(const ULMVector3D& inDirection);
    static bool ValidIntensity(double inIntensity);

private:
    ULMLightInternal(const ULMVector3D& inDirection, double inIntensity);
    ~ULMLightInternal() override = default;

    ULMVector3D m_direction;
    double m_intensity;
};

}  // namespace ulm3
