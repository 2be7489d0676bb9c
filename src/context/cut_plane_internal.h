// The cut plane behind ULMCutPlane.
#pragma once

#include "foundation/locks.h"
#include "ulm3/cut_plane.h"

namespace ulm3 {

// A cut plane may sit in several contexts and be changed in one thread while
// another renders with it: its values are read and written under its own
// lock.
class ULMCutPlaneInternal : public ULMCutPlane {
public:
    // Null for a bad plane or range.
    static ULMCutPlaneInternal* Make(const ULMVector4D& inPlane, double inMin, double inMax);
    // A new cut plane with inPlane's plane, range and visibility as they
    // stand, all read at once; null when it cannot be made.
    static ULMCutPlaneInternal* MakeCopy(const ULMCutPlane& inPlane);

    ULMVector4D GetPlane() const override;
    ULMStatus SetPlane(const ULMVector4D& inPlane) override;
    void GetRange(double& outMin, double& outMax) const override;
    ULMStatus SetRange(double inMin, double inMax) override;
    bool GetVisibility() const override;
    ULMStatus SetVisibility(bool inKeepInside) override;

    static bool ValidPlane(const ULMVector4D& inPlane);
    static bool ValidRange(double inMin, double inMax);

private:
    ULMCutPlaneInternal(const ULMVector4D& inPlane, double inMin, double inMax, bool inKeepInside = true);
    ~ULMCutPlaneInternal() override = default;

    mutable ULMMutex m_lock;
    ULMVector4D m_plane;
    double m_min;
    double m_max;
    bool m_keepInside;
};

}  // namespace ulm3
