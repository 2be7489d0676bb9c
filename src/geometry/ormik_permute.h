// The chip's axis permutation for one mini-frustum: which volume axis feeds
// each sample-space axis and which run backwards, packed as the Transform
// register value, with conversions between volume (UVW), base-plane (PST)
// and permuted sample-space (XYZ) coordinates.
#pragma once

#include "foundation/transform_register.h"
#include "geometry/polygons.h"

namespace ulm3 {

class OrmikPermute {
public:
    enum Sign { positive = 0, negative = 1 };
    static constexpr int kDefaultTransformReg = static_cast<int>(kULMIdentityTransform);

    explicit OrmikPermute(bool topLeftOrigin = true) : mTopLeftOrigin(topLeftOrigin) {
        SetDefaultPermute();
    }
    OrmikPermute(const Point3D& eye, const Point3D& sight, bool topLeftOrigin = true)
        : mTopLeftOrigin(topLeftOrigin) {
        SetDefaultPermute();
        SetPermute(eye, sight);
    }

    // From the direction eye -> sight; its dominant axis becomes sample z.
    int SetPermute(const Point3D& inEye, const Point3D& inSight);
    int SetDefaultPermute();
    int GetTransformReg() const { return mTransformReg; }
    // Unpacks a register value. A select of 3, or selects that are not the
    // row of the case table the value's own select z and signs lead to, are
    // refused with a message and change nothing; returns whether it was
    // taken.
    bool SetTransformReg(int reg);

    // In place. A negated axis maps u to -u - 1.
    void PermuteToXYZ(Point3D& p) const;
    void PermuteToUVW(Point3D& p) const;
    // (s, t, depth) to volume coordinates: depth on the dominant axis.
    void PermutePSTtoUVW(Point3D& p) const;
    void PermutePolyPSTtoXYZ(Polygon3D& poly) const;

    int GetCombinedCase() const { return mCombinedCase; }
    int GetSelect(int axis) const { return mSelect[axis]; }
    int GetNeg(int axis) const { return mNeg[axis]; }

    void Print() const;

private:
    void ApplyCase(const int signs[3]);
    void Pack();

    bool mTopLeftOrigin = true;
    int mCombinedCase = 4;
    int mSelect[3] = {0, 1, 2};  // mSelectX, mSelectY, mSelectZ
    int mNeg[3] = {0, 0, 0};     // mNegX, mNegY, mNegZ
    double mAdj[3] = {0.0, 0.0, 0.0};
    int mTransformReg = kDefaultTransformReg;
};

}  // namespace ulm3
