// Axis permutation of the perspective planner.
#include "geometry/ormik_permute.h"

#include <cmath>

#include "foundation/message_log.h"
#include "foundation/transform_register.h"
#include "ulm3/vectors.h"

namespace ulm3 {
namespace {

// Per combined case: the volume axes feeding sample x and y. Sample z is the
// dominant axis (case / 2); the handedness bit picks one of the two orders of
// the other two axes.
constexpr int kCaseSelect[6][2] = {{1, 2}, {2, 1}, {2, 0}, {0, 2}, {0, 1}, {1, 0}};

double& At(Point3D& p, int a) { return a == 0 ? p.x : (a == 1 ? p.y : p.z); }

}  // namespace

int OrmikPermute::SetDefaultPermute() {
    for (int a = 0; a < 3; ++a) {
        mSelect[a] = a;
        mNeg[a] = 0;
        mAdj[a] = 0.0;
    }
    mCombinedCase = 4 + (mTopLeftOrigin ? 0 : 1);
    mTransformReg = kDefaultTransformReg;
    return 0;
}

int OrmikPermute::SetPermute(const Point3D& inEye, const Point3D& inSight) {
    ULMVector3D d(inSight.x - inEye.x, inSight.y - inEye.y, inSight.z - inEye.z);
    d.Normalize(1.0);
    const double ax = std::fabs(d.X()), ay = std::fabs(d.Y()), az = std::fabs(d.Z());
    int selectZ = mSelect[2];  // kept for a direction that is not a number
    if (ax >= ay && ax >= az) {
        selectZ = 0;
    } else if (ay >= ax && ay >= az) {
        selectZ = 1;
    } else if (az >= ax && az >= ay) {
        selectZ = 2;
    }
    const int signs[3] = {d.X() < 0.0 ? negative : positive, d.Y() < 0.0 ? negative : positive,
                          d.Z() < 0.0 ? negative : positive};
    const int parity = (signs[0] + signs[1] + signs[2]) & 1;
    mCombinedCase = 2 * selectZ + (mTopLeftOrigin ? parity : 1 - parity);
    ApplyCase(signs);
    return 1;
}

void OrmikPermute::ApplyCase(const int signs[3]) {
    if (mCombinedCase < 0 || mCombinedCase > 5) {
        ULMOutputMessage("OrmikPermute: Bad mCombinedCase, this can't happen: %d\n", mCombinedCase);
        mCombinedCase = 4;
    }
    mSelect[0] = kCaseSelect[mCombinedCase][0];
    mSelect[1] = kCaseSelect[mCombinedCase][1];
    mSelect[2] = mCombinedCase / 2;
    // Each negation is the sign of the volume axis its sample axis selects.
    for (int a = 0; a < 3; ++a) {
        mNeg[a] = signs[mSelect[a]];
        mAdj[a] = mNeg[a];
    }
    Pack();
}

void OrmikPermute::Pack() {
    const ULMTransformFields fields = {{mSelect[0], mSelect[1], mSelect[2]}, {mNeg[0], mNeg[1], mNeg[2]}};
    mTransformReg = static_cast<int>(ULMTransformWord(fields));
}

bool OrmikPermute::SetTransformReg(int reg) {
    const ULMTransformFields fields = ULMReadTransformWord(static_cast<uint32_t>(reg));
    const int* sel = fields.select;
    const int* neg = fields.negate;
    const int parity = (neg[0] + neg[1] + neg[2]) & 1;
    const int combined = 2 * sel[2] + (mTopLeftOrigin ? parity : 1 - parity);
    // Only the six rows of the case table describe a permutation the
    // conversions can invert; anything else would index past the axes.
    const bool known = sel[2] < 3 && kCaseSelect[combined][0] == sel[0] &&
                       kCaseSelect[combined][1] == sel[1] &&
                       (static_cast<uint32_t>(reg) & ~kULMTransformFieldBits) == 0;
    if (!known) {
        ULMOutputMessage("OrmikPermute: Bad Transform value ignored: 0x%x\n", reg);
        return false;
    }
    mTransformReg = reg;
    mCombinedCase = combined;
    for (int a = 0; a < 3; ++a) {
        mSelect[a] = sel[a];
        mNeg[a] = neg[a];
        mAdj[a] = neg[a];
    }
    return true;
}

void OrmikPermute::PermuteToXYZ(Point3D& p) const {
    double out[3];
    for (int a = 0; a < 3; ++a) {
        const double v = At(p, mSelect[a]);
        out[a] = (mNeg[a] ? -v : v) - mAdj[a];
    }
    p = {out[0], out[1], out[2]};
}

void OrmikPermute::PermuteToUVW(Point3D& p) const {
    const double in[3] = {p.x, p.y, p.z};
    Point3D out;
    for (int a = 0; a < 3; ++a) {
        const double v = in[a] + mAdj[a];
        At(out, mSelect[a]) = mNeg[a] ? -v : v;
    }
    p = out;
}

void OrmikPermute::PermutePSTtoUVW(Point3D& p) const {
    const double s = p.x, t = p.y, depth = p.z;
    switch (mCombinedCase / 2) {
        case 0: p = {depth, t, s}; break;
        case 1: p = {s, depth, t}; break;
        default: p = {s, t, depth}; break;
    }
}

void OrmikPermute::PermutePolyPSTtoXYZ(Polygon3D& poly) const {
    for (int i = 0; i < poly.GetNumbVerts(); ++i) {
        Point3D p = poly[i];
        PermutePSTtoUVW(p);
        PermuteToXYZ(p);
        poly.ReplaceVert(p, i);
    }
}

void OrmikPermute::Print() const {
    ULMOutputMessage("\nOrmikPermute: mTopLeftOrigin: %d mCombinedCase: %d\n", mTopLeftOrigin ? 1 : 0,
                     mCombinedCase);
    ULMOutputMessage(" mSelectX: %d mSelectY: %d mSelectZ: %d\n", mSelect[0], mSelect[1], mSelect[2]);
    ULMOutputMessage(" mNegX: %d mNegY: %d mNegZ: %d\n", mNeg[0], mNeg[1], mNeg[2]);
    ULMOutputMessage(" mAdjX: %12.6g mAdjY: %12.6g mAdjZ: %12.6g\n", mAdj[0], mAdj[1], mAdj[2]);
    ULMOutputMessage(" mTransformReg: 0x%x\n\n", mTransformReg);
}

}  // namespace ulm3
