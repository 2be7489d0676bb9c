// The cut plane behind ULMCutPlane.
#pragma once

#include "ulm3/cut_plane.h"

namespace ulm3 {

class ULMCutPlaneInternal : public ULMCutPlane {
public:
    // Null for a bad plane or range.
    static ULMCutPlaneInternal* Make(const ULMVector4D& inPlane, double inMin, double inMax);

    ULMVector4D GetPlane() const override { return m_plane; }
    ULMStatus SetPlane(const ULMVector4D& inPlane) override;
    void GetRange(double& outMin, double& outMax) const override;
    ULMStatus SetRange(double inMin, double inMax) override;
    bool GetVisibility() const override { return m_keepInside; }
    ULMStatus SetVisibility(bool inKeepInside) override;

    static bool ValidPlane(const ULMVector4D& inPlane);
    static bool ValidRange(double inMin, double inMax);

private:
    ULMCutPlaneInternal(const ULMVector4D& inPlane, double inMin, double inMax);
    ~ULMCutPlaneInternal() override = default;

    ULMVector4D m_plane;
    double m_min;
    double m_max;
    bool m_keepInside = true;
};

}  // namespace ulm3
