// Multi-planar reconstruction of a plain volume: the plane at an eye-space
// depth becomes a thin slab cut from a clone of the context, and the samples
// in it are either averaged on the host from the chip's sums and counts
// (kMPRAlpha, a grey image) or taken as classified (kMPRRGBA).
#include "render/mpr.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "board/ulm_all_render_registers.h"
#include "context/render_context.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "render/ulm_sample_space.h"
#include "render/volume_render.h"
#include "render/volume_render_state.h"
#include "ulm3/configuration.h"
#include "ulm3/context.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr uint32_t kMax12 = 4095;

// The registers of one cut-plane slot that the slab's bounds come from.
struct SlabRegisters {
    uint32_t ULMAllRenderRegisters::*step;
    uint32_t ULMAllRenderRegisters::*min;
    uint32_t ULMAllRenderRegisters::*max;
};
using R = ULMAllRenderRegisters;
constexpr SlabRegisters kSlabRegisters[4] = {{&R::m_CutPlane0_dCut_dZs, &R::m_CutPlane0_min, &R::m_CutPlane0_max},
                                             {&R::m_CutPlane1_dCut_dZs, &R::m_CutPlane1_min, &R::m_CutPlane1_max},
                                             {&R::m_CutPlane2_dCut_dZs, &R::m_CutPlane2_min, &R::m_CutPlane2_max},
                                             {&R::m_CutPlane3_dCut_dZs, &R::m_CutPlane3_min, &R::m_CutPlane3_max}};

uint32_t ToRegister(int64_t inValue) {
    return static_cast<uint32_t>(static_cast<int32_t>(std::clamp<int64_t>(inValue, INT32_MIN, INT32_MAX)));
}

// Half the slab's thickness in eye units: inSamples slices of the sample
// grid along the ray, whose slices are 1 / inQuality voxels apart along the
// principal axis. Only its centre reaches the chip exactly; the rest is
// ULMFitMPRSlab's.
double SlabHalfThickness(const ULMContext* inContext, const ULMVolume* inVolume, int inQuality, int inSamples) {
    ULMVector4D ray;
    ULMSampleSpace::GetEyeOrViewInVoxelSpace(inContext, inVolume, ray);
    const ULMCamera& camera = inContext->GetCamera();
    const ULMMatrix toEye = camera.GetViewMatrix() * camera.GetModelMatrix() * inVolume->GetCorrectionMatrix();
    const double eyeZ = toEye[2][0] * ray[0] + toEye[2][1] * ray[1] + toEye[2][2] * ray[2];
    const double principal = std::max({std::fabs(ray[0]), std::fabs(ray[1]), std::fabs(ray[2])});
    // A singular camera: the render refuses it.
    if (!(principal > 0.0) || !std::isfinite(eyeZ)) return 0.5;
    return 0.5 * inSamples / inQuality * std::fabs(eyeZ) / principal;
}

// The clone an MPR renders with: the MPR's settings and the slab as the
// last cut plane.
ULMStatus SetUpClone(ULMContext* ioClone, ULMCutPlane* inSlab, int inQuality, bool inSums) {
    const ULMStatus status = ULMSetUpMPRContext(ioClone, inQuality, inSums);
    if (status != kULMOK) return status;
    return ioClone->AddCutPlane(inSlab) == kULMOK ? kULMOK : kULMErrCutplaneOverflow;
}

// Places the slab: value 0 at eye z = -inNegativeDistance, in eye units.
ULMStatus PlaceSlab(ReleasablePointer<ULMCutPlane>& ioSlab, const ULMContext* inContext, const ULMVolume* inVolume,
                    double inNegativeDistance, int inQuality, int inSamples) {
    const ULMMatrix view = inContext->GetCamera().GetViewMatrix();
    const ULMVector4D plane(view[2][0], view[2][1], view[2][2], view[2][3] + inNegativeDistance);
    const double half = SlabHalfThickness(inContext, inVolume, inQuality, inSamples);
    if (ioSlab == nullptr) {
        ioSlab.Assign(ULMCutPlane::Create(plane, -half, half));
        return ioSlab != nullptr ? kULMOK : kULMErrTransform;
    }
    if (ioSlab->SetPlane(plane) != kULMOK) return kULMErrTransform;
    return ioSlab->SetRange(-half, half) == kULMOK ? kULMOK : kULMErrTransform;
}

// The chip's pixel coordinates are unsigned: an output addressed from
// negative coordinates has its sums rendered that far (an even number of
// pixels, as offsets are) towards the positive, the view with them, and
// written back where they belong.
struct SumsShift {
    int x = 0, y = 0;
};

SumsShift ShiftOf(const ULMImageBuffer* inOutput) {
    if (inOutput->GetAddressMode() != kULMOffsetAddress) return {};
    return {std::max(0, -inOutput->GetAddressParameterX()), std::max(0, -inOutput->GetAddressParameterY())};
}

ULMStatus ShiftViewport(ULMContext* ioClone, const SumsShift& inShift) {
    ULMCamera& camera = ioClone->GetCamera();
    int x = 0, y = 0, w = 0, h = 0;
    camera.GetViewport(x, y, w, h);
    // None stands for the whole image, which moves with the sums' image.
    if (w <= 0 || h <= 0 || (inShift.x == 0 && inShift.y == 0)) return kULMOK;
    return camera.SetViewport(x + inShift.x, y + inShift.y, w, h);
}

// The image the chip sums and counts into: the output's size and
// addressing, so that it gets the output's sample grid, starting from 0.
ULMStatus PrepareSumAndCount(ReleasablePointer<ULMImageBuffer>& ioBuffer, const ULMImageBuffer* inOutput,
                             ULMLocation inLocation, const SumsShift& inShift) {
    const unsigned width = inOutput->GetWidth(), height = inOutput->GetHeight();
    if (ioBuffer == nullptr || ioBuffer->GetWidth() != width || ioBuffer->GetHeight() != height) {
        ioBuffer.Assign(ULMImageBuffer::Create(inLocation, width, height, 32, 2, kULMMPRSumFields));
        // The render overwrites it whole: a move need not carry its pixels.
        if (ioBuffer == nullptr || ioBuffer->SetMigrationMode(kULMMigrationNoCopy) != kULMOK) {
            ioBuffer.Assign(nullptr);
            return kULMErrAlloc;
        }
    }
    ULMAddressMode mode = kULMOffsetAddress;
    int x = 0, y = 0;
    inOutput->GetAddressParameters(mode, x, y);
    if (mode == kULMOffsetAddress) x += inShift.x, y += inShift.y;
    const ULMStatus addressed = ioBuffer->SetAddressParameters(mode, x, y);
    if (addressed != kULMOK) return addressed;
    const ULMStatus cleared = ioBuffer->SetBorderValue(0, 0, 0, 0);
    return cleared != kULMOK ? cleared : ioBuffer->SetInputLimits(ULMImageRange());
}

// The output's pixel of one colour, rounded as the chip writes an element.
uint64_t EncodePixel(const double inColour[4], const ULMImageBuffer* inOutput) {
    uint64_t word = 0;
    for (int c = 0; c < 4; ++c)
        word = ULMStoreElementField(word, inColour[c], inOutput->GetFieldDescriptor(static_cast<ULMChannel>(c)));
    return word;
}

// kMPRAlpha's host step once the sums are rendered: each pixel's mean alpha
// as opaque grey, written over the render's rectangle.
ULMStatus WriteGrey(ULMVolumeRenderState& ioState, ULMImageBuffer* ioOutput, int inSupersample,
                    const SumsShift& inShift) {
    ULMImageBuffer* sums = ioState.m_sumAndCountBuffer;
    const ULMImageRange range = sums->GetOutputLimits();
    const ULMImageRange written(range.XSize(), range.YSize(), range.XOrigin() - inShift.x,
                                range.YOrigin() - inShift.y);
    const size_t width = static_cast<size_t>(range.XSize()), count = width * static_cast<size_t>(range.YSize());
    ioState.m_mprBuffer.resize(count);
    ioState.m_mprUnloadEvent = sums->StartUnload(ioState.m_mprBuffer.data(), range, static_cast<unsigned>(width));
    const ULMStatus unloaded = ioState.m_mprUnloadEvent.Wait(-1);
    if (ULMFailed(unloaded)) return unloaded;
    return ULMWriteMPRGrey(ioState.m_mprBuffer.data(), written, inSupersample, ioOutput, ioState.m_mprPixels);
}

}  // namespace

// Sums in red, counts in green, each in the chip's 12 bits.
const ULMFieldDescriptor kULMMPRSumFields[2] = {{0, 12, kULMUnsignedFraction}, {12, 12, kULMUnsignedFraction}};

ULMStatus ULMSetUpMPRContext(ULMContext* ioClone, int inQuality, bool inSums) {
    double minXY = 1, maxXY = 1, minZ = 1, maxZ = 1;
    ioClone->GetSamplingLimits(minXY, maxXY, minZ, maxZ);
    const ULMStatus steps[] = {ioClone->SetImageOutputBuffer(ULMContext::kImageBuffer0),
                               ioClone->SetBlendMode(inSums ? kULMBlendSumAndCount : kULMBlendFTBPreWeighted),
                               ioClone->SetLastBlendMode(kULMBlendNone),
                               ioClone->SetDepthCombineFunction(ULMContext::kDepthCombineAll),
                               ioClone->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::kAlwaysFail),
                               ioClone->SetDepthUpdateFilter(ULMContext::kDepthBuffer1, ULMContext::kAlwaysFail),
                               ioClone->SetSamplingLimits(minXY, maxXY, inQuality, inQuality)};
    for (const ULMStatus status : steps)
        if (status != kULMOK) return status;
    return kULMOK;
}

ULMStatus ULMWriteMPRGrey(const uint32_t* inSums, const ULMImageRange& inRange, int inSupersample,
                          ULMImageBuffer* ioOutput, std::vector<unsigned char>& ioPixels) {
    const size_t width = static_cast<size_t>(inRange.XSize()), count = width * static_cast<size_t>(inRange.YSize());
    const size_t bytes = ioOutput->GetPixelSize() / 8;
    ioPixels.resize(count * bytes);
    double border[4];
    ioOutput->GetBorderValue(border[0], border[1], border[2], border[3]);
    const uint64_t none = EncodePixel(border, ioOutput);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t word = inSums[i];
        const uint32_t sum = word & kMax12, samples = (word >> 12) & kMax12;
        uint64_t pixel = none;
        if (samples != 0) {
            const double grey = std::min(1.0, double(sum) * inSupersample / (double(kMax12) * samples));
            const double colour[4] = {grey, grey, grey, 1.0};
            pixel = EncodePixel(colour, ioOutput);
        }
        std::memcpy(&ioPixels[i * bytes], &pixel, bytes);
    }
    const ULMStatus written = ioOutput->Update(ioPixels.data(), inRange, static_cast<unsigned>(width));
    return written != kULMOK ? written : ioOutput->SetOutputLimits(inRange);
}

void ULMFitMPRSlab(ULMMPRSlab& ioSlab, const ULMSampleSpace& inSpace, ULMAllRenderRegisters& ioRegisters) {
    ioSlab.zSupersample = inSpace.GetZSupersample();
    if (ioSlab.slot < 0 || ioSlab.slot > 3) return;
    const SlabRegisters& slot = kSlabRegisters[ioSlab.slot];
    const int64_t step = std::llabs(static_cast<int32_t>(ioRegisters.*slot.step));
    // A plane the rounded rates put along the slices keeps its bounds.
    if (step == 0) return;
    const int64_t centre = (static_cast<int64_t>(static_cast<int32_t>(ioRegisters.*slot.min)) +
                            static_cast<int32_t>(ioRegisters.*slot.max)) >>
                           1;
    const int64_t samples = ioSlab.sumAndCount ? ioSlab.zSupersample : 1;
    const int64_t width = samples * step - 1;
    ioRegisters.*slot.min = ToRegister(centre - width / 2);
    ioRegisters.*slot.max = ToRegister(centre - width / 2 + width);
}

ULMSyncEvent ULMStartMPRRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext, double inNegativeDistance,
                               int inQuality, ULMVolume::MPRMode inMode, ULMImageBuffer* ioImage) {
    if (inContext == nullptr || inQuality < 1 || (inMode != ULMVolume::kMPRAlpha && inMode != ULMVolume::kMPRRGBA) ||
        !std::isfinite(inNegativeDistance))
        return ULMSyncEvent(kULMErrArgument);
    if (ioImage == nullptr) return ULMSyncEvent(ULMRefuseForBuffer("the MPR's image buffer", "is not given"));
    // The MPR's own copy, which takes the slab and the MPR's settings.
    ReleasablePointer<ULMContext> clone(ULMCopyContextForRender(inContext));
    if (clone == nullptr) return ULMSyncEvent(kULMErrAlloc);
    // The chip has four cut planes, and the slab takes one.
    if (clone->GetCutPlaneCount() >= std::min(ULMConfiguration::GetMaxCutPlanes(), 4))
        return ULMSyncEvent(kULMErrCutplaneOverflow);
    ULMVolumeRenderState& state = ULMRenderStateOf(ioVolume);
    try {
        ULMScopedLock mprLock(state.m_mprLock);
        const bool sums = inMode == ULMVolume::kMPRAlpha;
        // A part of a volume's render leaves its sums to its caller.
        ULMMPRSumsScope* const partSums = sums ? ULMMPRSumsScope::Current() : nullptr;
        const SumsShift shift = sums && partSums == nullptr ? ShiftOf(ioImage) : SumsShift();
        ULMMPRSlab slab;
        ULMSyncEvent event(kULMOK);
        {
            // The slab is placed from the volume's description as the render
            // reads it: its setters wait until the render is queued.
            ULMRecursiveLock bufferHold(ioVolume.BoardCopy().Lock());
            ULMStatus status =
                PlaceSlab(state.m_mprCutPlane, clone, &ioVolume, inNegativeDistance, inQuality, sums ? inQuality : 1);
            if (status == kULMOK) status = SetUpClone(clone, state.m_mprCutPlane, inQuality, sums);
            // Made in host memory, it moves to the volume's board with the first render.
            if (status == kULMOK && sums && partSums == nullptr)
                status = PrepareSumAndCount(state.m_sumAndCountBuffer, ioImage, kULMSystem, shift);
            if (status == kULMOK) status = ShiftViewport(clone, shift);
            if (status != kULMOK) return ULMSyncEvent(status);

            slab.slot = clone->GetCutPlaneCount() - 1;
            slab.sumAndCount = sums;
            slab.quality = inQuality;
            ULMImageBuffer* target = sums && partSums == nullptr ? state.m_sumAndCountBuffer.GetPointer() : ioImage;
            event = ULMStartVolumeRender(ioVolume, clone, target, nullptr, nullptr, nullptr, &slab);
        }
        // Only a render that was queued fitted its slab.
        if (partSums != nullptr && !ULMFailed(event.Status())) partSums->zSupersample = slab.zSupersample;
        if (!sums || partSums != nullptr) return event;
        ULMStatus status = event.Wait(-1);
        if (status == kULMErrEmptyRender) ioImage->SetOutputLimits(ULMImageRange());
        if (ULMFailed(status)) return event;
        status = WriteGrey(state, ioImage, slab.zSupersample, shift);
        if (status == kULMOK) SetLastVolumeRendered(ioVolume.GetObjectID(), clone, ioImage, nullptr, nullptr, nullptr);
        return ULMSyncEvent(status);
    } catch (const std::bad_alloc&) {
        return ULMSyncEvent(kULMErrAlloc);
    } catch (ULMStatus status) {
        return ULMSyncEvent(status);
    }
}

}  // namespace ulm3
