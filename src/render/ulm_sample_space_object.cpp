// The sample space's two other grids: the volume's own unrotated grid, whose
// image a warp takes to the view, and the voxels of another volume that a
// render writes instead of an image.
#include <algorithm>
#include <cmath>

#include "board/board_range.h"
#include "board/float_converters.h"
#include "foundation/fixed_point.h"
#include "foundation/shareable.h"
#include "geometry/ormik_permute.h"
#include "render/ulm_sample_space.h"
#include "ulm3/context.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr double kMaxGridStep = 2.0;  // voxels the chip's footprint test allows
constexpr double kMaxCoordinate = 65535.0;
// An entry this small of a matrix whose entries are of order one is a zero
// that inversion left behind.
constexpr double kNoise = 1e-9;

}  // namespace

// An object grid over the view's rays: its steps, its slices and the box's
// shadow on its base plane.
struct ULMSampleSpace::ObjectGrid {
    double step[2] = {};
    int k = 1;                     // slices per voxel
    double z0 = 0.0;               // the view's first slice
    double r[2] = {};              // the rays' X' and Y' per unit of Z'
    int view[2] = {};              // the view's pixels
    double jmin = 0.0, jmax = 0.0;  // the slices, Z' = j / k
    double base = 0.0;             // Z' of the base plane
    double origin[2] = {}, count[2] = {};
};

// The view's own assignment gives its rays over the permuted axes: pixel
// (x, y) meets slice Z' at m_origin + x m_dXs + y m_dYs + (Z' - z0) r. The
// grid keeps those rays and axes and replaces the pixels by grid points.
ULMStatus ULMSampleSpace::ObjectAssign(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                                       const ULMImageBuffer* inImage, bool& ioNewSampleSpace,
                                       const ULMVector3D& inSampling) {
    // A refused grid leaves an empty frustum: nothing to render or warp.
    m_valid = false;
    ClearMiniFrustumTerms();
    m_frustum = ULMSampleFrustum();
    if (inContext == nullptr || inVolume == nullptr || inImage == nullptr) return kULMErrArgument;
    ObjectGrid grid;
    grid.step[0] = inSampling.X(), grid.step[1] = inSampling.Y();
    const double slices = 1.0 / inSampling.Z();
    if (!(grid.step[0] > 0.0 && grid.step[1] > 0.0 && std::isfinite(grid.step[0]) && std::isfinite(grid.step[1]) &&
          slices >= 1.0 && slices <= 256.0 && std::fabs(slices - std::round(slices)) <= kNoise * slices))
        return kULMErrArgument;
    if (IsPerspectiveMatrix(inContext->GetCamera().GetProjectionMatrix())) return kULMErrTransform;
    bool viewNew = true;
    const ULMStatus viewed = Assign(inContext, inVolume, inImage, viewNew, false);
    if (viewed != kULMOK) return viewed;
    m_valid = false;
    grid.k = static_cast<int>(std::round(slices));
    grid.z0 = m_origin[2];
    grid.r[0] = m_dZs[0] * m_k, grid.r[1] = m_dZs[1] * m_k;
    grid.view[0] = m_frustum.max[0] - m_frustum.min[0] + 1, grid.view[1] = m_frustum.max[1] - m_frustum.min[1] + 1;
    m_frustum = ULMSampleFrustum();
    if (const ULMStatus placed = PlaceObjectGrid(grid); placed != kULMOK) return placed;
    SetPostWarp(grid);
    SetGridSteps(grid);
    if (grid.step[0] > kMaxGridStep || grid.step[1] > kMaxGridStep) return kULMErrCantSubsample;
    m_valid = true;
    ioNewSampleSpace = false;
    return kULMOK;
}

// Slices on Z' = j / k, as in a view's render; the first holds the base
// plane, which starts at the grid step below the box's shadow.
ULMStatus ULMSampleSpace::PlaceObjectGrid(ObjectGrid& ioGrid) const {
    const int k = ioGrid.k;
    ioGrid.jmin = std::ceil(m_trims[4] / 256.0 * k), ioGrid.jmax = std::floor(m_trims[5] / 256.0 * k);
    ioGrid.base = ioGrid.jmin / k;
    double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
    for (int c = 0; c < 8; ++c) {
        const double z = m_trims[(c & 4) != 0 ? 5 : 4] / 256.0;
        for (int i = 0; i < 2; ++i) {
            const double shadow = m_trims[2 * i + ((c >> i) & 1)] / 256.0 - (z - ioGrid.base) * ioGrid.r[i];
            lo[i] = std::min(lo[i], shadow);
            hi[i] = std::max(hi[i], shadow);
        }
    }
    for (int i = 0; i < 2; ++i) {
        ioGrid.origin[i] = ioGrid.step[i] * std::floor(lo[i] / ioGrid.step[i]);
        ioGrid.count[i] = std::floor((hi[i] - ioGrid.origin[i]) / ioGrid.step[i]) + 1.0;
    }
    if (ioGrid.jmax < ioGrid.jmin) return kULMErrEmptyRender;
    if (ioGrid.count[0] > kMaxCoordinate + 1 || ioGrid.count[1] > kMaxCoordinate + 1 ||
        ioGrid.jmax - ioGrid.jmin > kMaxCoordinate)
        return kULMErrBasePlaneTooLarge;
    return kULMOK;
}

void ULMSampleSpace::SetPostWarp(const ObjectGrid& inGrid) {
    // The warp: where pixel (x, y)'s ray crosses the base plane, in grid steps.
    for (int i = 0; i < 2; ++i) {
        m_postWarp[3 * i] = (m_origin[i] + (inGrid.base - inGrid.z0) * inGrid.r[i] - inGrid.origin[i]) / inGrid.step[i];
        m_postWarp[3 * i + 1] = m_dXs[i] / inGrid.step[i];
        m_postWarp[3 * i + 2] = m_dYs[i] / inGrid.step[i];
        m_warpSection[i] = static_cast<unsigned char>(SectionCode(inGrid.view[i]));
    }
    // Depth follows the pixel each grid point lies on: (x, y) = J^-1 ((u, v) - o)
    // for the warp's J, which the view's assignment found invertible.
    const double* w = m_postWarp;
    const double det = w[1] * w[5] - w[2] * w[4];
    const double xu = w[5] / det, xv = -w[2] / det, yu = -w[4] / det, yv = w[1] / det;
    const double x0 = -(xu * w[0] + xv * w[3]), y0 = -(yu * w[0] + yv * w[3]);
    m_depthOrigin += x0 * m_depthRate[0] + y0 * m_depthRate[1] + (inGrid.base - inGrid.z0) * m_k * m_depthRate[2];
    const double depthRate[3] = {xu * m_depthRate[0] + yu * m_depthRate[1], xv * m_depthRate[0] + yv * m_depthRate[1],
                                 m_depthRate[2] * m_k / inGrid.k};
    std::copy(depthRate, depthRate + 3, m_depthRate);
}

void ULMSampleSpace::SetGridSteps(const ObjectGrid& inGrid) {
    const int k = inGrid.k;
    m_origin[0] = inGrid.origin[0];
    m_origin[1] = inGrid.origin[1];
    m_origin[2] = inGrid.base;
    for (int i = 0; i < 3; ++i) m_dXs[i] = m_dYs[i] = 0.0;
    m_dXs[0] = inGrid.step[0];
    m_dYs[1] = inGrid.step[1];
    m_dZs[0] = inGrid.r[0] / k;
    m_dZs[1] = inGrid.r[1] / k;
    m_dZs[2] = 1.0 / k;
    m_k = k;
    m_frustum.min[0] = m_frustum.min[1] = m_frustum.min[2] = 0;
    m_frustum.max[0] = static_cast<int32_t>(inGrid.count[0]) - 1;
    m_frustum.max[1] = static_cast<int32_t>(inGrid.count[1]) - 1;
    m_frustum.max[2] = static_cast<int32_t>(inGrid.jmax - inGrid.jmin);
    m_testX = inGrid.step[0];
    m_testY = inGrid.step[1];
}

// The base plane is read on its one slice in its own axes: a transposition
// or a flip of the view lives in the cross terms and the signs.
void ULMSampleSpace::ComputePostWarpRegisters(unsigned int& outTransform, long long& outOriginX, long long& outOriginY,
                                              long long& outOriginZ, long long& outdXdXs, long long& outdXdYs,
                                              long long& outdXdZs, long long& outdYdXs, long long& outdYdYs,
                                              long long& outdYdZs, long long& outdZdZs, long long& outdXdZv,
                                              long long& outdYdZv, unsigned char* outSectionSize) const {
    outTransform = OrmikPermute::kDefaultTransformReg;
    outOriginX = static_cast<long long>(ConvertFloatToS23R40(m_postWarp[0]));
    outOriginY = static_cast<long long>(ConvertFloatToS23R40(m_postWarp[3]));
    outOriginZ = 0;
    outdXdXs = Raw(m_postWarp[1], kULMFixedScale2340);
    outdXdYs = Raw(m_postWarp[2], kULMFixedScale2340);
    outdYdXs = Raw(m_postWarp[4], kULMFixedScale2340);
    outdYdYs = Raw(m_postWarp[5], kULMFixedScale2340);
    outdXdZs = outdYdZs = outdXdZv = outdYdZv = 0;
    outdZdZs = kULMFixedOne2340;
    if (outSectionSize != nullptr) {
        outSectionSize[0] = m_warpSection[0];
        outSectionSize[1] = m_warpSection[1];
    }
}

// The chip computes a sample's position from the output element: the
// inverse of the camera, target voxel to source voxel. Slices need a source
// axis that the target's Z alone moves; it becomes permuted Z.
ULMStatus ULMSampleSpace::AssignRenderToVolume(const ULMContext* inContext, const ULMVolumeInternal* inSource,
                                               bool& ioNewSampleSpace) {
    m_valid = false;
    m_frustum = ULMSampleFrustum();
    ClearMiniFrustumTerms();
    if (inContext == nullptr || inSource == nullptr) return kULMErrArgument;
    if (m_renderToVolumeMode < ULMVolume::kRenderToVolumeNone ||
        m_renderToVolumeMode > ULMVolume::kOutputGradientAndMagnitude)
        return kULMErrArgument;
    if (!IsObjectType(m_renderToVolume, kObjectTypeULMVolumeInternal)) return kULMErrVolume;
    const auto* target = static_cast<const ULMVolumeInternal*>(m_renderToVolume);
    ULMVolumeRange range = target->GetRange();
    if (!target->GetActiveSubVolume().IsEmpty()) range.Intersect(target->GetActiveSubVolume());
    KWBBuffer* buffer = target->BoardCopy().Buffer();
    if (buffer == nullptr || target->BoardCopy().Board() != inSource->BoardCopy().Board() || range.IsEmpty()) return kULMErrVolume;
    // The chip's grid is unsigned 16-bit, and every voxel it writes must
    // land at an element of its own in the target's storage.
    for (int a = 0; a < 3; ++a)
        if (range.m_origin[a] < 0 || range.m_origin[a] + int64_t{range.m_size[a]} - 1 > kMaxCoordinate)
            return kULMErrVolume;
    if (target->BoardCopy().CanWrite(range) != kULMOK) return kULMErrVolume;

    const ULMCamera& camera = inContext->GetCamera();
    const ULMMatrix m = camera.GetProjectionMatrix() * camera.GetViewMatrix() * camera.GetModelMatrix();
    if (IsPerspectiveMatrix(m) || m.IsSingular()) return kULMErrTransform;
    const ULMMatrix n = m.Inverse();
    int axis = -1;
    for (int a = 0; a < 3; ++a)
        if (std::fabs(n[a][0]) <= kNoise && std::fabs(n[a][1]) <= kNoise && std::fabs(n[a][2]) > kNoise) axis = a;
    if (axis < 0) return kULMErrTransform;

    // Along a positive axis the permutation negates nothing.
    const OrmikPermute perm(Point3D{}, Point3D{axis == 0 ? 1.0 : 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0});
    m_transform = static_cast<uint32_t>(perm.GetTransformReg());
    const ULMVolumeRange& source = inSource->BoardCopy().CurrentSubVolume();
    for (int i = 0; i < 3; ++i) {
        const int a = perm.GetSelect(i);
        m_origin[i] = n[a][3];
        m_dXs[i] = n[a][0];
        m_dYs[i] = n[a][1];
        m_dZs[i] = n[a][2];
        // The source's voxels and the half voxel around them.
        const int64_t first = source.m_origin[a], last = first + source.m_size[a] - 1;
        m_trims[2 * i] = static_cast<int32_t>(std::clamp<int64_t>(first * 256 - 128, INT32_MIN, INT32_MAX));
        m_trims[2 * i + 1] = static_cast<int32_t>(std::clamp<int64_t>(last * 256 + 128, INT32_MIN, INT32_MAX));
        m_frustum.min[i] = range.m_origin[i];
        m_frustum.max[i] = range.m_origin[i] + range.m_size[i] - 1;
    }
    m_dXs[2] = m_dYs[2] = 0.0;
    m_k = 1;  // one sample per voxel: no opacity to correct
    m_testX = std::fabs(m_dXs[0]) + std::fabs(m_dYs[0]);
    m_testY = std::fabs(m_dXs[1]) + std::fabs(m_dYs[1]);
    m_depthOrigin = m_depthRate[0] = m_depthRate[1] = m_depthRate[2] = 0.0;
    // The target's Z runs away from the eye.
    const double length = std::sqrt(n[0][2] * n[0][2] + n[1][2] * n[1][2] + n[2][2] * n[2][2]);
    for (int a = 0; a < 3; ++a) m_eye[a] = -n[a][2] / length;
    m_volumeToWorld = camera.GetModelMatrix();
    m_valid = true;
    ioNewSampleSpace = false;
    return kULMOK;
}

}  // namespace ulm3
