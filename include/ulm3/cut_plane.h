// A cut plane of the rendering state: a slab between two parallel planes.
#pragma once

#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// The plane (a, b, c, d) gives every world point p the value
// a*p.x + b*p.y + c*p.z + d; the slab holds the points whose value lies in
// [min, max]. A visible-inside plane keeps the slab, otherwise it keeps
// what lies outside it. Setters refuse a zero or non-finite normal (a, b, c),
// a non-finite d and a range with min above max with kULMErrArgument. A cut
// plane may be read and changed from several threads; a render reads the
// values it had when the render started.
class ULMCutPlane : public ULMShareable {
public:
    // Null for a bad plane or range; otherwise one reference. Keeps the
    // inside.
    static ULMCutPlane* Create(const ULMVector4D& inPlane, double inMin, double inMax);

    virtual ULMVector4D GetPlane() const = 0;
    virtual ULMStatus SetPlane(const ULMVector4D& inPlane) = 0;
    virtual void GetRange(double& outMin, double& outMax) const = 0;
    virtual ULMStatus SetRange(double inMin, double inMax) = 0;
    virtual bool GetVisibility() const = 0;
    // True keeps the inside of the slab.
    virtual ULMStatus SetVisibility(bool inKeepInside) = 0;

    virtual ULMStatus Reserved00();
    virtual ULMStatus Reserved01();
    virtual ULMStatus Reserved02();
    virtual ULMStatus Reserved03();

protected:
    ~ULMCutPlane() override;
};

}  // namespace ulm3
