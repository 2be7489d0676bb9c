// Where a parallel-projection render samples a volume: the chip's frustum,
// permutation, trims and the affine map from sample grid to voxels.
#pragma once

#include <algorithm>
#include <cstdint>

#include "foundation/thread_scope_flag.h"
#include "foundation/transform_register.h"
#include "geometry/base_plane_geometry.h"
#include "ulm3/camera.h"
#include "ulm3/image_buffer.h"
#include "ulm3/matrix.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMAllRenderRegisters;
class ULMContext;
class ULMCrop;
class ULMCutPlane;
class ULMImageBuffer;
class ULMVolume;
class ULMVolumeInternal;
struct ULMMiniFrustum;

// The sample grid the chip runs over, inclusive per axis.
struct ULMSampleFrustum {
    int32_t min[3] = {0, 0, 0};
    int32_t max[3] = {-1, -1, -1};
    bool IsEmpty() const { return max[0] < min[0] || max[1] < min[1] || max[2] < min[2]; }
};

// Every pixel of the rectangle from inMin to inMax (inclusive) lands at its
// own element inside a wrapped image of inSizes: on each axis it spans at
// most one period, and the elements it reaches lie within the image's size.
bool ULMWrapHoldsPixels(const int (&inModuli)[2], const int (&inSizes)[2], const int64_t (&inMin)[2],
                        const int64_t (&inMax)[2]);
// kULMOK when a wrap-addressed image holds each pixel of the rectangle at
// an element of its own, inside the board's coordinates 0..65535; else
// kULMErrBuffer, logged, as a render into it is refused.
ULMStatus ULMCheckWrapHolds(const ULMImageBuffer& inImage, const ULMImageRange& inRange);

// While one lives, the parallel renders on this thread whose volume misses
// the image still write their frustum, the viewport's part of the image
// (unless the render area is the volume's), as they write every pixel no
// sample reaches: a band of a picture that the volume misses is then
// filled as the one-board render fills those rows.
class ULMFillBesideVolume : public ULMThreadScopeFlag<ULMFillBesideVolume> {};

class ULMSampleSpace {
public:
    // Computes the sample space of a render of inVolume's current sub-volume
    // into inImage through the context's camera. kULMErrTransform for a
    // singular camera, kULMErrEmptyRender when nothing of the volume lies in
    // the viewport and the image, kULMErrCantSubsample when one pixel step
    // covers more than two voxels and inFailOnSubsample is set. The frustum
    // and the subsample tests are kept on that last refusal, so that a
    // caller can choose a coarser road from them.
    // With a perspective camera and a mini-frustum of a perspective frame,
    // the space is that mini-frustum's instead (parallel cameras ignore
    // it): kULMErrBuffer when inImage is smaller than its base plane,
    // kULMErrEmptyRender when it has no pixels or slices.
    ULMStatus Assign(const ULMContext* inContext, const ULMVolumeInternal* inVolume, const ULMImageBuffer* inImage,
                     bool& ioNewSampleSpace, bool inFailOnSubsample, const ULMMiniFrustum* inMiniFrustum = nullptr);
    // Assign over inRange of the volume's voxels instead of its current
    // sub-volume (and never a mini-frustum's): the view of a whole volume
    // that no one plain volume holds, such as a bricked volume's, with the
    // camera, correction and board of inVolume, one of its parts.
    ULMStatus AssignOver(const ULMContext* inContext, const ULMVolumeInternal* inVolume, const ULMVolumeRange& inRange,
                         const ULMImageBuffer* inImage, bool& ioNewSampleSpace, bool inFailOnSubsample);

    // The last assignment came from a mini-frustum.
    bool IsMiniFrustum() const { return m_fromMiniFrustum; }

    // An unrotated grid over the volume's permuted axes, inSampling voxels
    // apart (X', Y', and a Z' step of 1/k for whole k up to 256), whose rows
    // follow the camera's rays: the base plane a warp takes to the view.
    // Refuses as Assign does, and a perspective camera with
    // kULMErrTransform, bad steps with kULMErrArgument, a grid beyond the
    // chip's coordinates with kULMErrBasePlaneTooLarge, and steps over two
    // voxels with kULMErrCantSubsample (the grid is kept).
    ULMStatus ObjectAssign(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                           const ULMImageBuffer* inImage, bool& ioNewSampleSpace, const ULMVector3D& inSampling);
    // The warp from the last ObjectAssign's view to its grid: output pixel
    // (x, y) reads the grid at origin + x d/dXs + y d/dYs (S23.40, origins
    // biased as the chip takes them), on slice 0 in the grid's own axes.
    void ComputePostWarpRegisters(unsigned int& outTransform, long long& outOriginX, long long& outOriginY,
                                  long long& outOriginZ, long long& outdXdXs, long long& outdXdYs,
                                  long long& outdXdZs, long long& outdYdXs, long long& outdYdYs,
                                  long long& outdYdZs, long long& outdZdZs, long long& outdXdZv,
                                  long long& outdYdZv, unsigned char* outSectionSize) const;

    // Render to volume: while a target is set, the volume's renders write
    // each voxel of the target's active sub-volume (its whole range when
    // that is empty) instead of an image. The camera's matrices (projection
    // x view x model, no correction) take source voxels to target voxels,
    // and must keep the target's Z a function of one source axis. Set and
    // cleared under the render state's lock, like the rest of the space.
    void SetRenderToVolume(ULMVolume* inTarget) { m_renderToVolume = inTarget; }
    void SetRenderToVolumeMode(ULMVolume::RenderToVolumeMode inMode) { m_renderToVolumeMode = inMode; }
    ULMVolume* GetRenderToVolume() const { return m_renderToVolume; }
    ULMVolume::RenderToVolumeMode GetRenderToVolumeMode() const { return m_renderToVolumeMode; }
    // The target's fields the gradient's three components go into, in the
    // sampled volume's axis order: a render from a volume whose axes are
    // permuted source axes writes them back in the source's order.
    void SetRenderToVolumeAxes(int inX, int inY, int inZ) {
        m_renderToVolumeAxes[0] = inX, m_renderToVolumeAxes[1] = inY, m_renderToVolumeAxes[2] = inZ;
    }
    int GetRenderToVolumeAxis(int inComponent) const { return m_renderToVolumeAxes[inComponent]; }
    // While set, the volume's renders keep the grid the last ObjectAssign
    // made instead of assigning the view again. Set and cleared under the
    // render state's lock, like the target.
    void SetGridAssigned(bool inAssigned) { m_gridAssigned = inAssigned; }
    bool IsGridAssigned() const { return m_gridAssigned; }
    // The sample space of a render into the target: kULMErrVolume for a
    // target that is not a plain volume with a buffer on inSource's board
    // holding the range, kULMErrTransform for a camera the chip cannot
    // follow, kULMErrArgument for an unknown mode.
    ULMStatus AssignRenderToVolume(const ULMContext* inContext, const ULMVolumeInternal* inSource,
                                   bool& ioNewSampleSpace);

    // The viewing direction in the volume's voxel axes, away from the eye,
    // and 0; for a perspective camera the eye point there, and 1.
    static int GetEyeOrViewInVoxelSpace(const ULMContext* inContext, const ULMVolume* inVolume,
                                        ULMVector4D& outDirection);

    bool IsValid() const { return m_valid; }
    const ULMSampleFrustum& GetVolumeFrustum() const { return m_frustum; }
    // Voxels of permuted X and Y that one pixel step covers.
    void GetSubSampleTests(double& outX, double& outY) const {
        outX = m_testX;
        outY = m_testY;
    }
    // The rectangle of the image the render writes.
    ULMImageRange GetOutputRange() const;
    // The box's footprint in the viewport and the image, whatever the render
    // area; kept on the kULMErrCantSubsample refusal like the frustum.
    ULMImageRange GetBoxFootprint() const { return m_footprint; }
    int GetZSupersample() const { return m_k; }
    // Distance between two slices along the principal axis, in voxels of
    // the volume's finest copy: what opacity is corrected for. A render into
    // a volume takes each sample alone (1).
    double GetSampleDistance() const {
        if (m_renderToVolume != nullptr) return 1.0;
        return m_voxelSpan[std::min(ULMReadTransformWord(m_transform).select[2], 2)] / m_k;
    }
    // How many voxels of the finest copy of the data one voxel of the volume
    // spans on each of its axes: more than 1 for a coarser copy, whose
    // samples lie further apart and so must each be more opaque.
    void SetVoxelSpan(const double (&inSpan)[3]) {
        for (int a = 0; a < 3; ++a) m_voxelSpan[a] = inSpan[a];
    }
    uint32_t GetTransform() const { return m_transform; }
    // Unit vector towards the eye in volume axes.
    const double* GetEyeVector() const { return m_eye; }
    // The voxel position, in permuted axes, that sample (xs, ys, zs) reads.
    void SamplePosition(double inXs, double inYs, double inZs, double outPosition[3]) const;

    // The frustum, permutation, trims, origins, deltas, depth terms, section
    // and eye vector.
    void FillRegisters(ULMAllRenderRegisters& ioRegisters) const;
    // The crop's flags and slabs moved onto the permuted axes.
    void FillCropRegisters(const ULMCrop& inCrop, ULMAllRenderRegisters& ioRegisters) const;
    // Hard cut planes, world-space slabs, as rates over the sample grid, or
    // over the sample's permuted position for a mini-frustum; at most four.
    void FillCutPlaneRegisters(const ULMCutPlane* const* inPlanes, int inCount,
                               ULMAllRenderRegisters& ioRegisters) const;

private:
    // The viewport (the image's own rectangle when it has no size) and the
    // image's window, in pixels.
    struct ViewRect {
        int vx = 0, vy = 0, vw = 0, vh = 0;
        int ix = 0, iy = 0, iw = 0, ih = 0;
        // A wrap-addressed image has no edge: its moduli instead.
        bool wrap = false;
        int wrapX = 0, wrapY = 0;
    };
    // Window position from the permuted position, w = A Q, and the inverse
    // F of its upper-left 2 x 2 block.
    struct PermutedWindow {
        ULMMatrix w;
        double f00 = 0.0, f01 = 0.0, f10 = 0.0, f11 = 0.0;
    };
    // The steps of a parallel view's assignment.
    static ViewRect ViewRectOf(const ULMCamera& inCamera, const ULMImageBuffer& inImage);
    // The permutation and eye vector of the view, its window over the
    // permuted axes and the voxels one pixel step covers; kULMErrTransform
    // for a view that flattens the window.
    ULMStatus PermuteView(const ULMMatrix& inVoxelToWindow, PermutedWindow& outWindow);
    // The Z supersampling: the context's sampling of the pixels per voxel,
    // within its limits and the board's.
    int SlicesPerVoxel(const ULMContext* inContext, const ULMVolumeInternal* inVolume) const;
    // The slices within the trims, and the pixels of the viewport, the image
    // and the box's shadow: the frustum and footprint, outFirstSlice the
    // first slice's Z'; kULMErrEmptyRender when nothing is left.
    ULMStatus PlaceFrustum(const ULMContext* inContext, const PermutedWindow& inWindow, const ViewRect& inView,
                           double& outFirstSlice);
    // The permuted position and window depth at sample (0, 0, 0) and their
    // rates per step.
    void SetSteps(const PermutedWindow& inWindow, double inFirstSlice);
    ULMStatus AssignMiniFrustum(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                                const ULMImageBuffer* inImage, const ULMMiniFrustum& inFrustum);
    // The steps of an object grid's assignment, after the view's: its
    // slices and the box's shadow on its base plane (kULMErrEmptyRender,
    // kULMErrBasePlaneTooLarge), the warp from the view to it, and its
    // grid taking the view's place.
    struct ObjectGrid;
    ULMStatus PlaceObjectGrid(ObjectGrid& ioGrid) const;
    void SetPostWarp(const ObjectGrid& inGrid);
    void SetGridSteps(const ObjectGrid& inGrid);
    // Forgets the last mini-frustum's terms: every assignment starts from a
    // grid without them.
    void ClearMiniFrustumTerms();
    // Forgets the last assignment: no frustum, no footprint, not valid.
    void Forget();
    // inRange of the volume's voxels and the context's trims on the permuted
    // axes.
    void ComputeTrims(const ULMContext* inContext, const ULMVolumeRange& inRange, uint32_t inTransform);
    // A value as a signed fixed-point register of inScale steps to one,
    // rounded and saturated.
    static int64_t Raw(double inValue, double inScale);
    // The Section code of a run of inSize samples.
    static unsigned SectionCode(int inSize);

    bool m_valid = false;
    ULMSampleFrustum m_frustum;
    ULMImageRange m_footprint;
    double m_testX = 0.0, m_testY = 0.0;
    int m_k = 1;
    double m_voxelSpan[3] = {1.0, 1.0, 1.0};
    uint32_t m_transform = kULMIdentityTransform;
    int32_t m_trims[6] = {};  // S23.8 per permuted axis: X min, X max, ...
    // Permuted position and window depth at sample (0, 0, 0), and their
    // rates per step of xs, ys and zs.
    double m_origin[3] = {}, m_dXs[3] = {}, m_dYs[3] = {}, m_dZs[3] = {};
    // How the X and Y rates of permuted X and Y grow per slice: a
    // mini-frustum's rays spread apart, a parallel render's do not.
    double m_ddXsZs[2] = {}, m_ddYsZs[2] = {};
    bool m_fromMiniFrustum = false;
    int m_sectionSize[2] = {32, 32};  // the mini-frustum's
    double m_depthOrigin = 0.0, m_depthRate[3] = {};
    double m_eye[3] = {0.0, 0.0, 1.0};  // towards the eye, volume axes
    ULMMatrix m_volumeToWorld;           // model x correction
    // The last ObjectAssign's warp: X origin, d/dx, d/dy, then Y's; sections.
    double m_postWarp[6] = {};
    unsigned char m_warpSection[2] = {};
    ULMVolume* m_renderToVolume = nullptr;  // borrowed for the render
    ULMVolume::RenderToVolumeMode m_renderToVolumeMode = ULMVolume::kRenderToVolumeNone;
    int m_renderToVolumeAxes[3] = {0, 1, 2};
    bool m_gridAssigned = false;
};

}  // namespace ulm3
