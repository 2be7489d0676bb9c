// The frustum planner of perspective frames.
#include "geometry/ormik_persp.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "foundation/control.h"
#include "foundation/message_log.h"
#include "foundation/numeric.h"

namespace ulm3 {

const ULMVector3D OrmikPersp::sViewVectors[6] = {{-1, 0, 0}, {1, 0, 0},  {0, -1, 0},
                                                 {0, 1, 0},  {0, 0, -1}, {0, 0, 1}};

namespace {

// Saturating conversion for sizes that a degenerate camera can blow up.
int ToInt(double x) {
    if (!(x > 0.0)) return 0;
    return x < static_cast<double>(INT_MAX) ? static_cast<int>(x) : INT_MAX;
}

// A quad clipped by four planes never has more corners than the stages take;
// should the clipper ever hand over more, the tile is dropped rather than
// overrun their arrays.
bool FitsStages(const PolygonST3H& p) {
    return p.GetNumbVerts() <= PerspectiveStages::kMaxStageCorners;
}

}  // namespace

int OrmikPersp::SetViewport(int inMinX, int inMinY, int inMaxX, int inMaxY) {
    mViewPort = Tile2D(inMinX, inMinY, inMaxX, inMaxY);
    return 0;
}

int OrmikPersp::SetWriteport(int inMinX, int inMinY, int inMaxX, int inMaxY) {
    SetWriteportEdges(inMinX, inMinY, inMaxX + 1.0, inMaxY + 1.0);
    return 0;
}

void OrmikPersp::SetWriteportEdges(double inMinX, double inMinY, double inMaxX, double inMaxY) {
    mWriteEdges[0] = inMinX;
    mWriteEdges[1] = inMinY;
    mWriteEdges[2] = inMaxX;
    mWriteEdges[3] = inMaxY;
}

int OrmikPersp::SetCorrMatrix(const ULMMatrix& m) {
    mCorrMat = ULMMatToMat44(m);
    return 0;
}

int OrmikPersp::SetModelMatrix(const ULMMatrix& m) {
    mModelMat = ULMMatToMat44(m);
    return 0;
}

int OrmikPersp::SetViewMatrix(const ULMMatrix& m) {
    mViewMat = ULMMatToMat44(m);
    return 0;
}

int OrmikPersp::SetProjMatrix(const ULMMatrix& m) {
    mProjMat = ULMMatToMat44(m);
    return 0;
}

int OrmikPersp::SetMinVoxDist(double d) {
    mMinVoxDist = d;
    return 0;
}

int OrmikPersp::SetMaxVoxDist(double d) {
    mMaxVoxDist = d;
    return 0;
}

void OrmikPersp::SetSize(int inMinX, int inMinY, int inMinZ, int inMaxX, int inMaxY, int inMaxZ) {
    mVolMin = {double(inMinX), double(inMinY), double(inMinZ)};
    mVolMax = {double(inMaxX), double(inMaxY), double(inMaxZ)};
}

void OrmikPersp::SetVolDim(const Point3D& min, const Point3D& max) {
    mVolMin = min;
    mVolMax = max;
}

void OrmikPersp::SetSampMultLimits(double inMinXY, double inMaxXY, double inMinZ, double inMaxZ) {
    mMinXYSampMult = inMinXY;
    mMaxXYSampMult = inMaxXY;
    mMinZSampMult = inMinZ;
    mMaxZSampMult = inMaxZ;
}

void OrmikPersp::Fail(const char* message) {
    ULMOutputMessage("%s", message);
    mPerspInterf->SetStatus(kULMErrArgument);
}

int OrmikPersp::RendPerspFrustum(PerspectiveStages* inPerspInterf) {
    if (!inPerspInterf) return 1;
    mPerspInterf = inPerspInterf;

    // Checked before the inversions: a zero column makes the camera singular
    // too, and this is the message that names the cause.
    const Mat44& K = mCorrMat;
    mAniso = ULMVector3D(ULMMax(std::fabs(K(0, 0)), std::fabs(K(1, 0)), std::fabs(K(2, 0))),
                         ULMMax(std::fabs(K(0, 1)), std::fabs(K(1, 1)), std::fabs(K(2, 1))),
                         ULMMax(std::fabs(K(0, 2)), std::fabs(K(1, 2)), std::fabs(K(2, 2))));
    if (ULMMin(mAniso.X(), mAniso.Y(), mAniso.Z()) == 0.0) {
        Fail("RendPerspFrustum: Bad correction matrix\n");
        return 1;
    }

    Mat44 mv;
    MatMultiply(&mv, &mViewMat, &mModelMat);
    MatMultiply(&mv, &mv, &mCorrMat);
    MatMultiply(&mPmvMat, &mProjMat, &mv);
    // Scaled inversions: a camera with voxel-sized and pixel-sized terms has
    // a tiny determinant without being singular.
    ULMMatrix invMv;
    ULMMatrix invPmv;
    if (!InvertHomogeneous(Mat44ToULMMat(mv), invMv) ||
        !InvertHomogeneous(Mat44ToULMMat(mPmvMat), invPmv)) {
        Fail("RendPerspFrustum: Singular camera matrix\n");
        return 1;
    }
    mInvPmvMat = ULMMatToMat44(invPmv);

    // Nothing to plan for an empty volume box or viewport.
    if (!(mVolMax.x > mVolMin.x && mVolMax.y > mVolMin.y && mVolMax.z > mVolMin.z)) return 0;
    if (!(mViewPort.mDdimX > 0.0 && mViewPort.mDdimY > 0.0)) return 0;

    const Tile2D& V = mViewPort;
    const double* W = mWriteEdges;
    const double sx = 2.0 / V.mDdimX;
    const double sy = 2.0 / V.mDdimY;
    mClipper.Reset();
    mClipper.AddClipPlane({1, 0, 0, 1 - (W[0] - V.mDminX) * sx});
    mClipper.AddClipPlane({-1, 0, 0, 1 + (W[2] - 1 - V.mDmaxX) * sx});
    mClipper.AddClipPlane({0, 1, 0, 1 - (W[1] - V.mDminY) * sy});
    mClipper.AddClipPlane({0, -1, 0, 1 + (W[3] - 1 - V.mDmaxY) * sy});

    ClipSampleSpace space(mVolMin, mVolMax, mPmvMat, mInvPmvMat, mClipper);
    PointST3H eye(0.0, 0.0, 0.0);
    eye.Transform(ULMMatToMat44(invMv));
    eye.DivideW();
    mViewPoint = eye;
    space.SetViewpoint(mViewPoint);
    mEyePoint3D = mViewPoint.GetXYZ();

    mClipNear = space.GetClipDist(mMinVoxDist);
    mClipFar = space.GetFarClipDist(mMaxVoxDist);
    // At least 1/512 of the far distance, and never below one voxel, so the
    // near/far ratio stays finite.
    mClipNear = ULMMax(mClipNear, std::ceil(mClipFar / 512.0), 1.0);

    for (mNearSide = 0; mNearSide < 6; ++mNearSide) {
        space.SetSpaceNumb(sViewVectors[mNearSide]);
        if (space.SetClipCube(mNearSide, mClipNear, mClipFar) == 0) continue;
        space.GetClipCube(mClipMin, mClipMax);
        // This order matters: the clip box reads the polygons both calls leave.
        mNearHyper = space.GetNearHyper(mNearSide);
        mFarHyper = space.GetFarHyper(mNearSide);
        mClipBoxST = space.GetClipSTBox().GetBoxST();
        mClipTile2D = Tile2D(mClipBoxST);
        if (GetBaseplaneArea() == 1) RendBaseplaneArea();
    }
    return 0;
}

OblPerspFrustum OrmikPersp::SideFrustum() const {
    OblPerspFrustum frustum(mNearHyper, mFarHyper, mPmvMat);
    frustum.CreateNearPoly(mClipTile2D, mClipMin, mClipMax, mNearSide);
    frustum.Transform();
    frustum.DivideW();
    frustum.CalcFarXYZ();
    return frustum;
}

PermuteTiler OrmikPersp::SideTiler(const OblPerspFrustum& frustum) const {
    return PermuteTiler(mClipTile2D, frustum.GetNearPoly(), frustum.GetFarPoly(), mClipMin,
                        mClipMax, mNearSide);
}

int OrmikPersp::GetBaseplaneArea() {
    OblPerspFrustum frustum = SideFrustum();
    PermuteTiler tiler = SideTiler(frustum);
    Box2D box;
    box.InitMaxMin();
    Tile2D tile;
    while (tiler.GetNextTile(tile)) box.Update(tile.GetBox2D());
    if (!box.NonNull()) return 0;
    mRendTile = Tile2D(box.GetMin(), box.GetMax());

    frustum.CreateNearPoly(mRendTile, mClipMin, mClipMax, mNearSide);
    frustum.Transform();
    mClipPoly = frustum.GetNearPoly();
    if (!mClipper.ClipPolyST3H(mClipPoly)) return 0;
    mClipPoly.DivideW();

    OblPerspFrustum::CalcStepsZ(mClipMin, mClipMax, mNearSide, 1.0, mNearZv, mFarZv, mDeltaZ);
    mNearFarRatio = (mDeltaZ + mClipNear) / mClipNear;
    CalcAnisoScale();
    mDimZs = ToInt(mDeltaZ * mScalSamp.z + 0.5);
    // A clip cube under a voxel deep still has a slice to show.
    if (mDimZs == 0 && mFarZv != mNearZv) mDimZs = 1;
    // Kept as computed, 0 included: the engine limits what it writes to the
    // chip's section fields.
    mSectionX = SectionSize(mScalSamp.x, mNearFarRatio);
    mSectionY = SectionSize(mScalSamp.y, mNearFarRatio);
    return 1;
}

Point3D OrmikPersp::AnisoScale(double gradS, double gradT, double samplingFactor, double ratio,
                               double minXY, double maxXY, double minZ, double maxZ, int fixedXY,
                               int fixedZ) {
    auto scale = [&](double grad) {
        const double s = grad == 0.0 ? 1.0 : samplingFactor / grad;
        // A gradient that is not a number gives no usable scale either.
        return std::isfinite(s) ? s : 1.0;
    };
    double clampX = ULMClampTo(scale(gradS), minXY * ratio, maxXY * ratio);
    double clampY = ULMClampTo(scale(gradT), minXY * ratio, maxXY * ratio);
    if (fixedXY != 0) clampX = clampY = fixedXY * ratio;
    clampX = ULMMin(clampX, 256.0);
    clampY = ULMMin(clampY, 256.0);
    double z = ULMClampTo((clampX + clampY) * 0.5 / ratio, minZ, maxZ);
    if (fixedZ != 0) z = fixedZ;
    return {clampX, clampY, z};
}

int OrmikPersp::SectionSize(double scale, double nearFarRatio) {
    return ULMMin(ToInt(scale / nearFarRatio * 32.0), 32) & ~3;
}

void OrmikPersp::CalcAnisoScale() {
    Point3D c;
    mClipPoly.Centroid3D(c);
    double gradS = 0.0;
    double gradT = 0.0;
    mNearHyper.GradST(c.x, c.y, gradS, gradT, mViewPort.mDdimX * 0.5, mViewPort.mDdimY * 0.5);
    mScalSamp = AnisoScale(gradS, gradT, mSamplingFactor, mNearFarRatio, mMinXYSampMult,
                           mMaxXYSampMult, mMinZSampMult, mMaxZSampMult,
                           gULMControl.m_fixedXYSupersampleFactor,
                           gULMControl.m_fixedZSupersampleFactor);
}

void OrmikPersp::CalcIsotropicScale() {
    const double ratio = mNearFarRatio;
    const double scrArea = mClipPoly.CalcAreaXY() * (mViewPort.mDdimX * mViewPort.mDdimY * 0.25);
    const double voxArea = mClipPoly.CalcAreaST();
    double scale = std::sqrt(std::fabs(scrArea / voxArea)) * mSamplingFactor;
    if (!std::isfinite(scale)) scale = 1.0;
    scale = ULMClampTo(scale, mMinXYSampMult * ratio, mMaxXYSampMult * ratio);
    if (gULMControl.m_fixedXYSupersampleFactor != 0)
        scale = gULMControl.m_fixedXYSupersampleFactor * ratio;
    scale = ULMMin(scale, 256.0);
    mScalSamp.x = mScalSamp.y = scale;
    mScalSamp.z = ULMClampTo(scale / ratio, mMinZSampMult, mMaxZSampMult);
    if (gULMControl.m_fixedZSupersampleFactor != 0) mScalSamp.z = gULMControl.m_fixedZSupersampleFactor;
}

int OrmikPersp::RendBaseplaneArea() {
    OrmikPermute permute(true);
    OblPerspFrustum frustum = SideFrustum();
    PermuteTiler tiler = SideTiler(frustum);
    // Two supersampled samples; a scale of 0 leaves no tile to widen.
    const double dx = mScalSamp.x > 0.0 ? 2.0 / mScalSamp.x : 0.0;
    const double dy = mScalSamp.y > 0.0 ? 2.0 / mScalSamp.y : 0.0;
    Tile2D extTile;
    Tile2D permTile;
    while (tiler.GetExtendedTile(extTile, dx, dy)) {
        tiler.GetNextTile(permTile);

        frustum.CreateNearPoly(extTile, mClipMin, mClipMax, mNearSide);
        frustum.Transform();
        PolygonST3H extPoly = frustum.GetNearPoly();
        if (!mClipper.ClipPolyST3H(extPoly) || !FitsStages(extPoly)) continue;
        extPoly.DivideW();

        frustum.CreateNearPoly(permTile, mClipMin, mClipMax, mNearSide);
        frustum.GetNearPoly().Centroid3D(mSightPoint3D);

        permute.SetPermute(mEyePoint3D, mSightPoint3D);
        mTransformReg = permute.GetTransformReg();

        frustum.Transform();
        const PolygonST3H nearHom = frustum.GetNearPoly();
        PolygonST3H clipPoly = nearHom;
        frustum.DivideW();
        frustum.CalcFarXYZ();

        // A tile that an enlargement leaves under two samples across still
        // takes two: dropped, its pixels would not be drawn at all.
        const bool wide = permTile.mDdimX > 0.0, high = permTile.mDdimY > 0.0;
        permTile.ScaleUp(mScalSamp);
        mDimXs = wide ? std::max(permTile.dimX, 2) : permTile.dimX;
        mDimYs = high ? std::max(permTile.dimY, 2) : permTile.dimY;
        if (!(mDimXs > 1 && mDimYs > 1 && mDimZs > 0)) continue;

        const PolygonST3H nearST = frustum.GetNearPoly();
        const PolygonST3H farST = frustum.GetFarPoly();
        mNearPoly3D = nearST.GetPolygonST(mNearZv);
        mFarPoly3D = farST.GetPolygonST(mFarZv);

        PolygonST3H farHom;
        for (int i = 0; i < mFarPoly3D.GetNumbVerts(); ++i) {
            Point3D p = mFarPoly3D[i];
            permute.PermutePSTtoUVW(p);
            farHom.AddVert(PointST3H(p.x, p.y, p.z));
        }
        farHom.Transform(mPmvMat);

        permute.PermutePolyPSTtoXYZ(mNearPoly3D);
        permute.PermutePolyPSTtoXYZ(mFarPoly3D);

        Point2D stCorners[4];
        for (int i = 0; i < 4; ++i) stCorners[i] = {nearST[i].s, nearST[i].t};

        if (!mClipper.ClipPolyST3H(clipPoly) || !FitsStages(clipPoly)) continue;
        clipPoly.DivideW();
        if (!mPerspInterf->WantsTile(clipPoly)) continue;

        if (mPerspInterf->PrepareRender(mNearPoly3D, mFarPoly3D, mEyePoint3D, mSightPoint3D,
                                        mDimXs, mDimYs, mDimZs, mSectionX, mSectionY,
                                        mTransformReg, mNearHyper, stCorners) != 0)
            continue;
        mPerspInterf->PreResample(extPoly);
        mPerspInterf->DistortDepthIn(nearHom, farHom);
        if (mPerspInterf->LoadBuffers() != 0) continue;
        if (mPerspInterf->RenderMiniFrustum() == 1) continue;
        if (mPerspInterf->UnloadBuffers() == 1) continue;
        mPerspInterf->DistortDepthOut(nearHom, farHom);
        mPerspInterf->PostResample(clipPoly);
    }
    return 1;
}

}  // namespace ulm3
