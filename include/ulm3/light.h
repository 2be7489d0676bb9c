// A directional light of the rendering state.
#pragma once

#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// Light arriving from infinitely far away: the direction points from the
// scene towards the light, in world coordinates (after the model matrix).
// Setters refuse a zero or non-finite direction and a negative or
// non-finite intensity with kULMErrArgument. A light may be read and changed
// from several threads; a render reads the values it had when the render
// started.
class ULMLight : public ULMShareable {
public:
    // Null for a bad direction or intensity; otherwise one reference.
    static ULMLight* Create(const ULMVector3D& inDirectionTowardsLight, double inIntensity = 1.0);

    virtual ULMVector3D GetDirection() const = 0;
    virtual ULMStatus SetDirection(const ULMVector3D& inDirectionTowardsLight) = 0;
    virtual double GetIntensity() const = 0;
    virtual ULMStatus SetIntensity(double inIntensity) = 0;

    virtual ULMStatus Reserved00();
    virtual ULMStatus Reserved01();
    virtual ULMStatus Reserved02();
    virtual ULMStatus Reserved03();

protected:
    ~ULMLight() override;
};

}  // namespace ulm3
