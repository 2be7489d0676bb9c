// The camera of a parallel-projection render turned into the chip's sample
// grid: slices of constant permuted Z, stepped away from the eye.
#include "render/ulm_sample_space.h"

#include <algorithm>
#include <cmath>

#include "board/board_pass_block.h"
#include "board/float_converters.h"
#include "board/ulm_all_render_registers.h"
#include "foundation/control.h"
#include "foundation/fixed_point.h"
#include "geometry/base_plane_geometry.h"
#include "geometry/ormik_permute.h"
#include "render/volume_render_state.h"
#include "tulx7/chip_codes.h"
#include "ulm3/context.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr double kTwo32 = 4294967296.0;
constexpr int32_t kTrimLimit = 16383 * 256 - 1;  // +-16382.99609375 in S23.8
constexpr double kMaxSubsample = 2.0;

int32_t ToTrim(double inVoxels) {
    const double v = std::clamp(std::round(inVoxels * 256.0), double{-kTrimLimit}, double{kTrimLimit});
    return static_cast<int32_t>(v);
}

// Sign and nine-bit magnitude.
uint64_t SignMagnitude9(double inValue) {
    const uint64_t magnitude =
        static_cast<uint64_t>(std::min(511.0, std::round(std::fabs(inValue) * 511.0)));
    return (inValue < 0.0 ? 0x200u : 0u) | magnitude;
}

// The crop enable of permuted axis `inAxis` in slab group `inGroup`.
constexpr uint32_t CropEnable(int inGroup, int inAxis) {
    constexpr int kAxisStep = NKW7_CropControl_enableY0_LoBit - NKW7_CropControl_enableX0_LoBit;
    return NKW7_PlaceField<32>(1, NKW7_FIELD_LOBIT_AT(CropControl, enableX0, enableX1, inGroup) + kAxisStep * inAxis,
                               NKW7_CropControl_enableX0_Size);
}

// The frustum's pixels, each at its own element of a wrapped image.
bool WrapHoldsFrustum(const int (&inModuli)[2], const int (&inSizes)[2], const ULMSampleFrustum& inFrustum) {
    return ULMWrapHoldsPixels(inModuli, inSizes, {inFrustum.min[0], inFrustum.min[1]},
                              {inFrustum.max[0], inFrustum.max[1]});
}

}  // namespace

bool ULMWrapHoldsPixels(const int (&inModuli)[2], const int (&inSizes)[2], const int64_t (&inMin)[2],
                        const int64_t (&inMax)[2]) {
    for (int axis = 0; axis < 2; ++axis) {
        const int64_t modulus = inModuli[axis];
        const int64_t extent = inMax[axis] - inMin[axis] + 1;
        const int64_t start = inMin[axis] & (modulus - 1);
        if (modulus <= 0 || extent > modulus) return false;
        if ((start + extent <= modulus ? start + extent : modulus) > inSizes[axis]) return false;
    }
    return true;
}

ULMStatus ULMCheckWrapHolds(const ULMImageBuffer& inImage, const ULMImageRange& inRange) {
    const int64_t min[2] = {inRange.XOrigin(), inRange.YOrigin()};
    const int64_t max[2] = {min[0] + inRange.XSize() - 1, min[1] + inRange.YSize() - 1};
    const int moduli[2] = {inImage.GetAddressParameterX(), inImage.GetAddressParameterY()};
    const int sizes[2] = {static_cast<int>(inImage.GetWidth()), static_cast<int>(inImage.GetHeight())};
    if (min[0] >= 0 && min[1] >= 0 && max[0] <= 65535 && max[1] <= 65535 &&
        ULMWrapHoldsPixels(moduli, sizes, min, max))
        return kULMOK;
    return ULMRefuseForBuffer("image 0", "is wrap-addressed, and its wrap cannot hold the pixels drawn apart, or "
                                         "they lie outside the board's coordinates");
}

int64_t ULMSampleSpace::Raw(double inValue, double inScale) {
    const double v = inValue * inScale;
    if (!(std::fabs(v) < 9.2e18)) return v < 0 ? INT64_MIN : INT64_MAX;
    return static_cast<int64_t>(std::llround(v));
}

unsigned ULMSampleSpace::SectionCode(int inSize) {
    return static_cast<unsigned>(std::max(0, std::min(24, inSize) / 4 - 1));
}

int ULMSampleSpace::GetEyeOrViewInVoxelSpace(const ULMContext* inContext,
                                             const ULMVolume* inVolume, ULMVector4D& outDirection) {
    const ULMCamera& camera = inContext->GetCamera();
    const ULMMatrix m = camera.GetProjectionMatrix() * camera.GetViewMatrix() *
                        camera.GetModelMatrix() * inVolume->GetCorrectionMatrix();
    outDirection = ULMVector4D(0, 0, 0, 0);
    if (m.IsSingular()) return 0;
    // Window z grows away from the eye; a perspective projection takes the
    // eye to that direction's point at infinity, so the same preimage is it.
    outDirection = m.Inverse() * ULMVector4D(0, 0, 1, 0);
    if (!IsPerspectiveMatrix(camera.GetProjectionMatrix()) || outDirection[3] == 0.0) return 0;
    outDirection = ULMVector4D(outDirection[0] / outDirection[3], outDirection[1] / outDirection[3],
                               outDirection[2] / outDirection[3], 1.0);
    return 1;
}

void ULMSampleSpace::ComputeTrims(const ULMContext* inContext, const ULMVolumeRange& inRange, uint32_t inTransform) {
    OrmikPermute perm;
    perm.SetTransformReg(static_cast<int>(inTransform));
    // Trims: each voxel owns the cell around its centre, so bricks of one
    // volume partition its samples; the context trims cut further.
    const ULMVolumeRange& sub = inRange;
    double ctx[6];
    inContext->GetTrimPlanes(ctx[0], ctx[1], ctx[2], ctx[3], ctx[4], ctx[5]);
    for (int i = 0; i < 3; ++i) {
        const int a = perm.GetSelect(i);
        const int origin = a == 0 ? sub.XOrigin() : a == 1 ? sub.YOrigin() : sub.ZOrigin();
        const int size = a == 0 ? sub.XSize() : a == 1 ? sub.YSize() : sub.ZSize();
        int32_t lo = std::max(ToTrim(ctx[2 * a]), ToTrim(origin - 0.5));
        int32_t hi = std::min(ToTrim(ctx[2 * a + 1]), ToTrim(origin + (size - 0.5)) - 1);
        if (perm.GetNeg(i)) {
            const int32_t newLo = -hi - 256, newHi = -lo - 256;
            lo = newLo;
            hi = newHi;
        }
        m_trims[2 * i] = lo;
        m_trims[2 * i + 1] = hi;
    }
}

void ULMSampleSpace::ClearMiniFrustumTerms() {
    m_fromMiniFrustum = false;
    m_ddXsZs[0] = m_ddXsZs[1] = m_ddYsZs[0] = m_ddYsZs[1] = 0.0;
}

ULMSampleSpace::ViewRect ULMSampleSpace::ViewRectOf(const ULMCamera& inCamera, const ULMImageBuffer& inImage) {
    ViewRect r;
    inCamera.GetViewport(r.vx, r.vy, r.vw, r.vh);
    r.wrap = inImage.GetAddressMode() == kULMWrapAddress;
    r.ix = r.wrap ? 0 : inImage.GetAddressParameterX();
    r.iy = r.wrap ? 0 : inImage.GetAddressParameterY();
    r.iw = static_cast<int>(inImage.GetWidth()), r.ih = static_cast<int>(inImage.GetHeight());
    if (r.wrap) r.wrapX = inImage.GetAddressParameterX(), r.wrapY = inImage.GetAddressParameterY();
    if (r.vw <= 0 || r.vh <= 0) {
        r.vx = r.ix;
        r.vy = r.iy;
        r.vw = r.iw;
        r.vh = r.ih;
    }
    return r;
}

ULMStatus ULMSampleSpace::PermuteView(const ULMMatrix& inVoxelToWindow, PermutedWindow& outWindow) {
    const ULMMatrix& a = inVoxelToWindow;
    const ULMVector4D view = a.Inverse() * ULMVector4D(0, 0, 1, 0);
    const double d[3] = {view[0], view[1], view[2]};
    // Permuted Z is the principal axis and every permuted axis increases
    // away from the eye: the rule the perspective road permutes by.
    const OrmikPermute perm(Point3D{}, Point3D{d[0], d[1], d[2]});
    m_transform = static_cast<uint32_t>(perm.GetTransformReg());
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int i = 0; i < 3; ++i) m_eye[i] = length > 0.0 ? -d[i] / length : 0.0;

    // Window position as a function of the permuted position: p = Q (P', 1).
    ULMMatrix q(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1);
    for (int i = 0; i < 3; ++i) {
        q[perm.GetSelect(i)][i] = perm.GetNeg(i) ? -1.0 : 1.0;
        q[perm.GetSelect(i)][3] = perm.GetNeg(i) ? -1.0 : 0.0;
    }
    const ULMMatrix w = a * q;
    const double det = w[0][0] * w[1][1] - w[0][1] * w[1][0];
    if (det == 0.0 || !std::isfinite(det)) return kULMErrTransform;
    outWindow.w = w;
    outWindow.f00 = w[1][1] / det, outWindow.f01 = -w[0][1] / det;
    outWindow.f10 = -w[1][0] / det, outWindow.f11 = w[0][0] / det;
    m_testX = std::fabs(outWindow.f00) + std::fabs(outWindow.f01);
    m_testY = std::fabs(outWindow.f10) + std::fabs(outWindow.f11);
    return kULMOK;
}

int ULMSampleSpace::SlicesPerVoxel(const ULMContext* inContext, const ULMVolumeInternal* inVolume) const {
    const int board = inVolume->BoardCopy().Board() != nullptr ? inVolume->BoardCopy().Board()->GetID() : 0;
    const ULMBoardRecord& record = gULMControl.m_board[std::clamp(board, 0, 7)];
    int k = gULMControl.m_fixedZSupersampleFactor;
    if (k <= 0) {
        double minXY = 1, maxXY = 3, minZ = 1, maxZ = 3;
        inContext->GetSamplingLimits(minXY, maxXY, minZ, maxZ);
        const double pixelsPerVoxel = 1.0 / std::max({m_testX, m_testY, 1e-9});
        const double wanted = std::round(inContext->GetSamplingFactor() * pixelsPerVoxel);
        k = static_cast<int>(std::clamp(wanted, std::max(1.0, std::ceil(minZ)), std::max(1.0, std::floor(maxZ))));
    }
    if (record.m_minZSupersample > 0) k = std::max(k, record.m_minZSupersample);
    if (record.m_maxZSupersample > 0) k = std::min(k, record.m_maxZSupersample);
    return std::clamp(k, 1, 256);
}

ULMStatus ULMSampleSpace::PlaceFrustum(const ULMContext* inContext, const PermutedWindow& inWindow,
                                       const ViewRect& inView, double& outFirstSlice) {
    const ULMMatrix& w = inWindow.w;
    // Slices on the grid Z' = j / k.
    const double jmin = std::ceil(m_trims[4] / 256.0 * m_k);
    const double jmax = std::floor(m_trims[5] / 256.0 * m_k);
    outFirstSlice = jmin / m_k;

    // Pixels: the viewport and the image, and the box as it projects.
    double lox = 1e300, hix = -1e300, loy = 1e300, hiy = -1e300;
    for (int c = 0; c < 8; ++c) {
        const double p[3] = {m_trims[(c & 1) ? 1 : 0] / 256.0, m_trims[(c & 2) ? 3 : 2] / 256.0,
                             m_trims[(c & 4) ? 5 : 4] / 256.0};
        const double x = w[0][0] * p[0] + w[0][1] * p[1] + w[0][2] * p[2] + w[0][3];
        const double y = w[1][0] * p[0] + w[1][1] * p[1] + w[1][2] * p[2] + w[1][3];
        lox = std::min(lox, x);
        hix = std::max(hix, x);
        loy = std::min(loy, y);
        hiy = std::max(hiy, y);
    }
    // A wrapped image has no edge: the viewport alone bounds the pixels.
    const ViewRect& v = inView;
    const double screenMin[2] = {double(v.wrap ? v.vx : std::max(v.vx, v.ix)),
                                 double(v.wrap ? v.vy : std::max(v.vy, v.iy))};
    // Origins near the int limits: the ends are summed in 64 bits.
    const double screenMax[2] = {
        double((v.wrap ? int64_t{v.vx} + v.vw : std::min(int64_t{v.vx} + v.vw, int64_t{v.ix} + v.iw)) - 1),
        double((v.wrap ? int64_t{v.vy} + v.vh : std::min(int64_t{v.vy} + v.vh, int64_t{v.iy} + v.ih)) - 1)};
    const double boxMin[2] = {std::ceil(lox - 1e-6), std::ceil(loy - 1e-6)};
    const double boxMax[2] = {std::floor(hix + 1e-6), std::floor(hiy + 1e-6)};
    const bool volumeArea = gULMControl.m_renderArea == ULMControlInternal::kVolume ||
                            inContext->GetRenderArea() == ULMContext::kVolume;
    const bool fillBeside = !volumeArea && ULMFillBesideVolume::Active();
    // Trims crossed on X' or Y' (an empty sub-volume, or trim planes that
    // miss it) leave no voxel to sample, as crossed slices do on Z'.
    bool empty = jmax < jmin || m_trims[0] > m_trims[1] || m_trims[2] > m_trims[3];
    double box[4] = {};
    bool cut = false;
    for (int i = 0; i < 2; ++i) {
        const double lo = std::max(screenMin[i], boxMin[i]), hi = std::min(screenMax[i], boxMax[i]);
        if (hi < lo && !fillBeside) empty = true;
        if (screenMax[i] < screenMin[i]) empty = true;
        box[i] = std::clamp(lo, 0.0, 65535.0);
        box[2 + i] = std::clamp(hi, -1.0, 65535.0) - box[i] + 1;
        const double fl = volumeArea ? lo : screenMin[i], fh = volumeArea ? hi : screenMax[i];
        if (fl < 0 || fh > 65535) empty = empty || fh < 0 || fl > 65535, cut = true;
        m_frustum.min[i] = static_cast<int32_t>(std::clamp(fl, 0.0, 65535.0));
        m_frustum.max[i] = static_cast<int32_t>(std::clamp(fh, -1.0, 65535.0));
    }
    if (jmax - jmin > 65535) empty = true;
    // Pixels of a wrapped image are never cut off: none lies outside it.
    if (v.wrap && cut && !empty)
        return ULMRefuseForBuffer("image 0", "is wrap-addressed and the viewport reaches outside the board's "
                                             "coordinates 0..65535");
    m_frustum.min[2] = 0;
    m_frustum.max[2] = empty ? -1 : static_cast<int32_t>(jmax - jmin);
    if (empty) {
        m_frustum = ULMSampleFrustum();
        return kULMErrEmptyRender;
    }
    m_footprint = ULMImageRange(static_cast<int>(box[2]), static_cast<int>(box[3]), static_cast<int>(box[0]),
                                static_cast<int>(box[1]));
    return kULMOK;
}

void ULMSampleSpace::SetSteps(const PermutedWindow& inWindow, double inFirstSlice) {
    const ULMMatrix& w = inWindow.w;
    const double f00 = inWindow.f00, f01 = inWindow.f01, f10 = inWindow.f10, f11 = inWindow.f11;
    const double z0 = inFirstSlice;
    // X', Y' of pixel (xs, ys) on slice Z': F ((xs, ys) - W[0..1][2] Z' - W[0..1][3]).
    m_dXs[0] = f00, m_dXs[1] = f10, m_dXs[2] = 0.0;
    m_dYs[0] = f01, m_dYs[1] = f11, m_dYs[2] = 0.0;
    const double dz = 1.0 / m_k;
    m_dZs[0] = -(f00 * w[0][2] + f01 * w[1][2]) * dz;
    m_dZs[1] = -(f10 * w[0][2] + f11 * w[1][2]) * dz;
    m_dZs[2] = dz;
    m_origin[0] = -(f00 * (w[0][2] * z0 + w[0][3]) + f01 * (w[1][2] * z0 + w[1][3]));
    m_origin[1] = -(f10 * (w[0][2] * z0 + w[0][3]) + f11 * (w[1][2] * z0 + w[1][3]));
    m_origin[2] = z0;
    // Window depth along the same steps.
    auto depthAt = [&](const double p[3]) {
        return w[2][0] * p[0] + w[2][1] * p[1] + w[2][2] * p[2] + w[2][3];
    };
    m_depthOrigin = depthAt(m_origin);
    m_depthRate[0] = w[2][0] * m_dXs[0] + w[2][1] * m_dXs[1];
    m_depthRate[1] = w[2][0] * m_dYs[0] + w[2][1] * m_dYs[1];
    m_depthRate[2] = w[2][0] * m_dZs[0] + w[2][1] * m_dZs[1] + w[2][2] * m_dZs[2];
}

ULMStatus ULMSampleSpace::Assign(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                                 const ULMImageBuffer* inImage, bool& ioNewSampleSpace, bool inFailOnSubsample,
                                 const ULMMiniFrustum* inMiniFrustum) {
    const ULMCamera& camera = inContext->GetCamera();
    // Only a perspective camera reads the mini-frustum.
    if (inMiniFrustum != nullptr && IsPerspectiveMatrix(camera.GetProjectionMatrix())) {
        Forget();
        m_fromMiniFrustum = true;
        const ULMStatus status = AssignMiniFrustum(inContext, inVolume, inImage, *inMiniFrustum);
        if (status == kULMOK) ioNewSampleSpace = false;
        return status;
    }
    return AssignOver(inContext, inVolume, inVolume->BoardCopy().CurrentSubVolume(), inImage, ioNewSampleSpace,
                      inFailOnSubsample);
}

ULMStatus ULMSampleSpace::AssignOver(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                                     const ULMVolumeRange& inRange, const ULMImageBuffer* inImage,
                                     bool& ioNewSampleSpace, bool inFailOnSubsample) {
    Forget();
    const ULMCamera& camera = inContext->GetCamera();
    const ViewRect view = ViewRectOf(camera, *inImage);
    const ULMMatrix a = VoxelToWindow(camera, *inVolume, view.vx, view.vy, view.vw, view.vh);
    if (a.IsSingular()) return kULMErrTransform;
    m_volumeToWorld = camera.GetModelMatrix() * inVolume->GetCorrectionMatrix();
    PermutedWindow window;
    if (PermuteView(a, window) != kULMOK) return kULMErrTransform;
    m_k = SlicesPerVoxel(inContext, inVolume);
    ComputeTrims(inContext, inRange, m_transform);
    double firstSlice = 0.0;
    if (const ULMStatus placed = PlaceFrustum(inContext, window, view, firstSlice); placed != kULMOK) return placed;
    if (view.wrap && !WrapHoldsFrustum({view.wrapX, view.wrapY}, {view.iw, view.ih}, m_frustum))
        return ULMRefuseForBuffer("image 0", "is wrap-addressed, and its wrap cannot hold the pixels drawn apart");
    SetSteps(window, firstSlice);
    if (inFailOnSubsample && (m_testX > kMaxSubsample || m_testY > kMaxSubsample))
        return kULMErrCantSubsample;
    m_valid = true;
    ioNewSampleSpace = false;
    return kULMOK;
}

void ULMSampleSpace::Forget() {
    m_valid = false;
    m_frustum = ULMSampleFrustum();
    ClearMiniFrustumTerms();
    m_footprint = ULMImageRange();
}

ULMImageRange ULMSampleSpace::GetOutputRange() const {
    if (m_frustum.IsEmpty()) return ULMImageRange();
    return ULMImageRange(m_frustum.max[0] - m_frustum.min[0] + 1, m_frustum.max[1] - m_frustum.min[1] + 1,
                         m_frustum.min[0], m_frustum.min[1]);
}

void ULMSampleSpace::SamplePosition(double inXs, double inYs, double inZs, double outPosition[3]) const {
    for (int i = 0; i < 3; ++i)
        outPosition[i] = m_origin[i] + inXs * m_dXs[i] + inYs * m_dYs[i] + inZs * m_dZs[i];
    for (int i = 0; i < 2; ++i) outPosition[i] += (inXs * m_ddXsZs[i] + inYs * m_ddYsZs[i]) * inZs;
}

void ULMSampleSpace::FillCropRegisters(const ULMCrop& inCrop, ULMAllRenderRegisters& r) const {
    OrmikPermute perm;
    perm.SetTransformReg(static_cast<int>(m_transform));
    double slabs[6];
    inCrop.GetSlabs(slabs[0], slabs[1], slabs[2], slabs[3], slabs[4], slabs[5]);
    const uint32_t flags = inCrop.GetFlags();
    // Invert and combine bits stay; each group's enables follow their axes.
    uint32_t control = flags & (ULMCrop::kInvert0 | ULMCrop::kInvert1 | ULMCrop::kInvert2 |
                                ULMCrop::kOrSelect | ULMCrop::kInvertOutput);
    uint32_t* ranges[6] = {&r.m_CropRangeXmin, &r.m_CropRangeXmax, &r.m_CropRangeYmin,
                           &r.m_CropRangeYmax, &r.m_CropRangeZmin, &r.m_CropRangeZmax};
    for (int i = 0; i < 3; ++i) {
        const int a = perm.GetSelect(i);
        for (int group = 0; group < 3; ++group)
            if (flags & (1u << (4 * group + a))) control |= CropEnable(group, i);
        int32_t lo = ToTrim(slabs[2 * a]), hi = ToTrim(slabs[2 * a + 1]);
        if (perm.GetNeg(i)) {
            const int32_t newLo = -hi - 256, newHi = -lo - 256;
            lo = newLo;
            hi = newHi;
        }
        *ranges[2 * i] = static_cast<uint32_t>(lo);
        *ranges[2 * i + 1] = static_cast<uint32_t>(hi);
    }
    r.m_CropControl = control;
}

void ULMSampleSpace::FillCutPlaneRegisters(const ULMCutPlane* const* inPlanes, int inCount,
                                           ULMAllRenderRegisters& r) const {
    OrmikPermute perm;
    perm.SetTransformReg(static_cast<int>(m_transform));
    uint32_t* regs[4][6] = {
        {&r.m_CutPlane0_dCut_dXs, &r.m_CutPlane0_dCut_dYs, &r.m_CutPlane0_dCut_dZs, &r.m_CutPlane0_dCut_dZv,
         &r.m_CutPlane0_min, &r.m_CutPlane0_max},
        {&r.m_CutPlane1_dCut_dXs, &r.m_CutPlane1_dCut_dYs, &r.m_CutPlane1_dCut_dZs, &r.m_CutPlane1_dCut_dZv,
         &r.m_CutPlane1_min, &r.m_CutPlane1_max},
        {&r.m_CutPlane2_dCut_dXs, &r.m_CutPlane2_dCut_dYs, &r.m_CutPlane2_dCut_dZs, &r.m_CutPlane2_dCut_dZv,
         &r.m_CutPlane2_min, &r.m_CutPlane2_max},
        {&r.m_CutPlane3_dCut_dXs, &r.m_CutPlane3_dCut_dYs, &r.m_CutPlane3_dCut_dZs, &r.m_CutPlane3_dCut_dZv,
         &r.m_CutPlane3_min, &r.m_CutPlane3_max}};
    // S15.16, clamped: no reachable value lies beyond the range.
    const auto fixed = [](double inValue) {
        const double v = std::clamp(std::round(inValue * 65536.0), -2147483648.0, 2147483647.0);
        return static_cast<uint32_t>(static_cast<int32_t>(v));
    };
    uint32_t control = 0;
    for (int k = 0; k < std::min(inCount, 4); ++k) {
        const ULMVector4D plane = inPlanes[k]->GetPlane();
        // The plane over voxel coordinates, then over permuted ones.
        double v[4] = {};
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) v[j] += plane[i] * m_volumeToWorld[i][j];
        // The plane over permuted positions P: c0 + g . P.
        double g[3], c0 = v[3];
        for (int i = 0; i < 3; ++i) {
            const int a = perm.GetSelect(i);
            g[i] = perm.GetNeg(i) ? -v[a] : v[a];
            if (perm.GetNeg(i)) c0 -= v[a];  // a negated axis maps u to -u - 1
        }
        // A mini-frustum's rays spread from slice to slice, so the plane is
        // no affine function of its grid: the chip takes it over the
        // sample's position instead. A parallel grid gives it as rates per
        // step, the constant at the grid's origin.
        double rate[3] = {}, constant = c0, reach = 0.0;
        for (int i = 0; i < 3; ++i) {
            if (m_fromMiniFrustum) {
                rate[i] = g[i];
                reach += std::fabs(g[i]) * (std::max(std::abs(m_trims[2 * i]), std::abs(m_trims[2 * i + 1])) / 256.0 + 1);
                continue;
            }
            constant += g[i] * m_origin[i];
            rate[0] += g[i] * m_dXs[i], rate[1] += g[i] * m_dYs[i], rate[2] += g[i] * m_dZs[i];
        }
        // The chip only compares: one scale keeps the rates' precision, and
        // the constant it lacks moves into the slab. Over positions the
        // scale also keeps every value inside the trims within S15.16.
        const double scale =
            std::max({std::fabs(rate[0]), std::fabs(rate[1]), std::fabs(rate[2]), reach / 32000.0, 1e-300});
        double lo = 0.0, hi = 0.0;
        inPlanes[k]->GetRange(lo, hi);
        for (int i = 0; i < 3; ++i) *regs[k][i] = fixed(rate[i] / scale);
        *regs[k][3] = 0;
        *regs[k][4] = fixed((lo - constant) / scale);
        *regs[k][5] = fixed((hi - constant) / scale);
        control |= NKW7_FIELD_AT(CutPlaneControl, enable0, enable1, k, 1) |
                   NKW7_FIELD_AT(CutPlaneControl, visibility0, visibility1, k, inPlanes[k]->GetVisibility()) |
                   NKW7_FIELD_AT(CutPlaneControl, positional0, positional1, k, m_fromMiniFrustum);
    }
    r.m_CutPlaneControl = control;
}

void ULMSampleSpace::FillRegisters(ULMAllRenderRegisters& r) const {
    r.m_ViewFrustumRangeMin = ULMPassCoordinates(m_frustum.min[0], m_frustum.min[1], m_frustum.min[2]);
    r.m_ViewFrustumRangeMax = ULMPassCoordinates(m_frustum.max[0], m_frustum.max[1], m_frustum.max[2]);
    r.m_Transform = m_transform;
    uint32_t* trims[6] = {&r.m_TrimRangeXmin, &r.m_TrimRangeXmax, &r.m_TrimRangeYmin,
                          &r.m_TrimRangeYmax, &r.m_TrimRangeZmin, &r.m_TrimRangeZmax};
    for (int i = 0; i < 6; ++i) *trims[i] = static_cast<uint32_t>(m_trims[i]);
    r.m_OriginXv8 = ConvertFloatToS23R40(m_origin[0]);
    r.m_OriginYv8 = ConvertFloatToS23R40(m_origin[1]);
    r.m_OriginZv8 = ConvertFloatToS23R40(m_origin[2]);
    r.m_dXv8_dXs = static_cast<uint64_t>(Raw(m_dXs[0], kULMFixedScale2340));
    r.m_dYv8_dXs = static_cast<uint64_t>(Raw(m_dXs[1], kULMFixedScale2340));
    r.m_dXv8_dYs = static_cast<uint64_t>(Raw(m_dYs[0], kULMFixedScale2340));
    r.m_dYv8_dYs = static_cast<uint64_t>(Raw(m_dYs[1], kULMFixedScale2340));
    r.m_dXv8_dZs = static_cast<uint64_t>(Raw(m_dZs[0], kULMFixedScale2340));
    r.m_dYv8_dZs = static_cast<uint64_t>(Raw(m_dZs[1], kULMFixedScale2340));
    r.m_dZv8_dZs = static_cast<uint64_t>(Raw(m_dZs[2], kULMFixedScale2340));
    r.m_dXv8_dZv = r.m_dYv8_dZv = 0;
    r.m_ddXv8_dXs_dZs = static_cast<uint64_t>(Raw(m_ddXsZs[0], kULMFixedScale2340));
    r.m_ddXv8_dYs_dZs = static_cast<uint64_t>(Raw(m_ddYsZs[0], kULMFixedScale2340));
    r.m_ddYv8_dXs_dZs = static_cast<uint64_t>(Raw(m_ddXsZs[1], kULMFixedScale2340));
    r.m_ddYv8_dYs_dZs = static_cast<uint64_t>(Raw(m_ddYsZs[1], kULMFixedScale2340));
    r.m_ddXv8_dXs_dZv = r.m_ddXv8_dYs_dZv = r.m_ddYv8_dXs_dZv = r.m_ddYv8_dYs_dZv = 0;
    constexpr double kDepthUnits = 16777215.0 * kTwo32;
    r.m_OriginDepth = static_cast<uint64_t>(Raw(m_depthOrigin, kDepthUnits));
    r.m_dD_dXs = static_cast<uint64_t>(Raw(m_depthRate[0], kDepthUnits));
    r.m_dD_dYs = static_cast<uint64_t>(Raw(m_depthRate[1], kDepthUnits));
    r.m_dD_dZs = static_cast<uint64_t>(Raw(m_depthRate[2], kDepthUnits));
    r.m_dD_dZv = 0;
    const int sectionX = m_fromMiniFrustum ? m_sectionSize[0] : m_frustum.max[0] - m_frustum.min[0] + 1;
    const int sectionY = m_fromMiniFrustum ? m_sectionSize[1] : m_frustum.max[1] - m_frustum.min[1] + 1;
    r.m_Section = NKW7_FIELD(Section, sizeX, SectionCode(sectionX)) | NKW7_FIELD(Section, sizeY, SectionCode(sectionY));
    r.m_EyeVector = NKW7_FIELD(EyeVector, w, SignMagnitude9(m_eye[2])) |
                    NKW7_FIELD(EyeVector, v, SignMagnitude9(m_eye[1])) |
                    NKW7_FIELD(EyeVector, u, SignMagnitude9(m_eye[0]));
}

}  // namespace ulm3
