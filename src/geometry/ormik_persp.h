// Plans one perspective frame of one volume as at most 24 mini-frustums (six
// near sides of at most four tiles each) that the chip renders in its
// permuted sample space, and drives the frame's stages for each of them.
#pragma once

#include "geometry/clip_sample_space.h"
#include "geometry/obl_persp_frustum.h"
#include "geometry/ormik_permute.h"
#include "geometry/permute_tiler.h"
#include "geometry/perspective_stages.h"
#include "ulm3/matrix.h"

namespace ulm3 {

class OrmikPersp {
public:
    // The viewing direction of each near side: even sides look down the
    // negative axis, so their near face is the clip cube's maximum face.
    static const ULMVector3D sViewVectors[6];

    // Both maxima inclusive.
    int SetViewport(int inMinX, int inMinY, int inMaxX, int inMaxY);
    int SetWriteport(int inMinX, int inMinY, int inMaxX, int inMaxY);
    // The write port as edges in the viewport's units, where its pixel i
    // spans i to i + 1; the whole pixels above are the edges (min, max + 1).
    void SetWriteportEdges(double inMinX, double inMinY, double inMaxX, double inMaxY);
    int SetCorrMatrix(const ULMMatrix& m);
    int SetModelMatrix(const ULMMatrix& m);
    int SetViewMatrix(const ULMMatrix& m);
    int SetProjMatrix(const ULMMatrix& m);
    int SetMinVoxDist(double d);
    int SetMaxVoxDist(double d);
    void SetSize(int inMinX, int inMinY, int inMinZ, int inMaxX, int inMaxY, int inMaxZ);
    void SetVolDim(const Point3D& min, const Point3D& max);
    void SetSampMultLimits(double inMinXY, double inMaxXY, double inMinZ, double inMaxZ);
    void SetSamplingFactor(double f) { mSamplingFactor = f; }

    // 0 when the frame was planned, whatever happened to single tiles; 1,
    // with kULMErrArgument given to the stages' status, when the correction
    // matrix has an all-zero column or the camera cannot be inverted; 1
    // without anything else for null stages.
    int RendPerspFrustum(PerspectiveStages* inPerspInterf);
    // 1 when the current near side has something to render.
    int GetBaseplaneArea();
    // Renders every tile of the current near side; returns 1.
    int RendBaseplaneArea();
    void CalcAnisoScale();
    void CalcIsotropicScale();
    // The supersampling scales (x, y, z) the current near side is planned
    // with.
    Point3D GetSampScale() const { return mScalSamp; }

    // The supersampling rule of CalcAnisoScale for given near-map gradients
    // (voxels per pixel in s and t) and near/far ratio, with the limits and
    // the fixed factors (0 = none) of the configuration.
    static Point3D AnisoScale(double gradS, double gradT, double samplingFactor, double ratio,
                              double minXY, double maxXY, double minZ, double maxZ, int fixedXY,
                              int fixedZ);
    // Section size for a supersampling scale: a multiple of 4, at most 32,
    // possibly 0.
    static int SectionSize(double scale, double nearFarRatio);

private:
    // The frustum of the current near side, with its near and far polygons
    // for the side's clip tile, and the tiler over them.
    OblPerspFrustum SideFrustum() const;
    PermuteTiler SideTiler(const OblPerspFrustum& frustum) const;
    void Fail(const char* message);

    PerspectiveStages* mPerspInterf = nullptr;
    Tile2D mViewPort;
    double mWriteEdges[4] = {};  // min x, min y, max x, max y
    Mat44 mCorrMat;
    Mat44 mModelMat;
    Mat44 mViewMat;
    Mat44 mProjMat;
    Mat44 mPmvMat;
    Mat44 mInvPmvMat;
    ULMVector3D mAniso;
    PointST3H mViewPoint;
    Point3D mVolMin;
    Point3D mVolMax;
    double mMinXYSampMult = 1.0;
    double mMinZSampMult = 1.0;
    double mMaxXYSampMult = 3.0;
    double mMaxZSampMult = 3.0;
    double mSamplingFactor = 1.0;
    double mNearFarRatio = 1.0;
    Point3D mScalSamp{1.0, 1.0, 1.0};
    Clipper3H mClipper;
    int mNearSide = 0;
    double mMinVoxDist = 5.0;
    double mMaxVoxDist = 65536.0;
    double mClipNear = 1.0;
    double mClipFar = 1.0;
    PointST3H mClipMin;
    PointST3H mClipMax;
    DualHyper mNearHyper;
    DualHyper mFarHyper;
    BoxST mClipBoxST;
    Tile2D mClipTile2D;
    PolygonST3H mClipPoly;
    double mNearZv = 0.0;
    double mFarZv = 0.0;
    int mDeltaZ = 0;
    Tile2D mRendTile;
    Polygon3D mNearPoly3D;
    Polygon3D mFarPoly3D;
    Point3D mEyePoint3D;
    Point3D mSightPoint3D;
    int mDimXs = 0;
    int mDimYs = 0;
    int mDimZs = 0;
    int mSectionX = 32;
    int mSectionY = 32;
    int mTransformReg = OrmikPermute::kDefaultTransformReg;
};

}  // namespace ulm3
