// One mini-frustum of a perspective frame as the render engine's sample space
// reads it: the frame driver fills it before each mini render.
#pragma once

#include "foundation/transform_register.h"
#include "ulm3/vectors.h"

namespace ulm3 {

struct ULMMiniFrustum {
    // Near and far faces in the chip's permuted sample space, in the
    // planner's corner order.
    ULMVector3D mNearPoly[4];
    ULMVector3D mFarPoly[4];
    // Voxel coordinates.
    ULMVector3D mEyePoint;
    ULMVector3D mSightPoint;
    // The base plane with a one-pixel border on each side, and its slices.
    int mDimXs = 0;
    int mDimYs = 0;
    int mDimZs = 0;
    int mSectionSizeX = 32;
    int mSectionSizeY = 32;
    unsigned int mTransform = kULMIdentityTransform;
    // The share of the depth scale the slices are spread over, near to far.
    double mMinD = 1e-7;
    double mMaxD = 1.0;
};

// The corner of the near and far faces that pixel (0, 0) of the base plane
// looks through: the corner order may run against the sample axes, and the
// chip steps only forwards from its origin.
inline int ULMMiniFrustumOriginCorner(const ULMMiniFrustum& inFrustum) {
    constexpr double kTolerance = 0.001;
    const ULMVector3D* f = inFrustum.mFarPoly;
    const bool flipX = f[3].X() - f[0].X() < -kTolerance || f[3].Y() - f[0].Y() < -kTolerance;
    const bool flipY = f[1].X() - f[0].X() < -kTolerance || f[1].Y() - f[0].Y() < -kTolerance;
    return (flipX ? 3 : 0) ^ (flipY ? 1 : 0);
}

}  // namespace ulm3
