// Render-and-resize: the enlarged render into a temporary board image, and
// the chain of image resample passes that shrinks it into the caller's
// output image. Temporaries are released as soon as their work is queued;
// the board keeps their buffers for that work.
#include "resample/render_and_resize.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "buffers/image_buffer_internal.h"
#include "buffers/omni_image_buffer.h"
#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/field_conversions.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "resample/image_resample_3d.h"

namespace ulm3 {
namespace {

constexpr unsigned kMax12 = 4095;
constexpr int kMinScaledSide = 10;

// Sum in red, count in green, in every image of the chain: the grey is their
// ratio, which a shrink of both keeps.
const ULMFieldDescriptor kSumAndCountFields[2] = {{0, 12, kULMUnsignedFraction}, {12, 12, kULMUnsignedFraction}};

bool IsMinMode(ULMBlendMode inMode) { return inMode >= kULMBlendMinRed && inMode <= kULMBlendMinAlpha; }

// Where the temporaries start: the border the chip reads for a pixel never
// written, and the fill that matches it.
struct Background {
    double colour[4] = {0, 0, 0, 0};
    unsigned long long fill = 0;
};

Background BackgroundOf(const ULMContext* inContext, const ULMImageBuffer* inColor0) {
    Background b;
    if (!IsMinMode(inContext->GetBlendMode())) return b;
    if (inColor0 == nullptr) {
        for (double& c : b.colour) c = 1.0;
        b.fill = 0xFFFFFFFFull;
        return b;
    }
    inColor0->GetBorderValue(b.colour[0], b.colour[1], b.colour[2], b.colour[3]);
    // Unsigned, so an alpha of 128 or more stays in the low word.
    for (int c = 0; c < 4; ++c)
        b.fill |= static_cast<unsigned long long>(ULMConvertFloatTo8(b.colour[c])) << (8 * c);
    return b;
}

// A 32-bit board image of at least inWidth x inHeight (sides a multiple of
// 16, at least 32), filled with the background; null when none is made.
ULMImageBufferInternal* MakeTemporary(ULMLocation inBoard, int inWidth, int inHeight, bool inSums,
                                      const Background& inBackground, int inX, int inY) {
    const auto side = [](int n) { return static_cast<unsigned>(std::max((n + 15) & ~15, 32)); };
    const unsigned width = side(inWidth), height = side(inHeight);
    ULMImageBufferInternal* image = ULMImageBufferInternal::Create3D(
        inBoard, width, height, 32, inSums ? 2 : 4, inSums ? kSumAndCountFields : kULMColourFields8, 0);
    if (image == nullptr) return nullptr;
    const double* c = inBackground.colour;
    const ULMImageRange whole(static_cast<int>(width), static_cast<int>(height), inX, inY);
    if (image->SetAddressParameters(kULMOffsetAddress, inX, inY) != kULMOK ||
        image->SetInputLimits(ULMImageRange()) != kULMOK || image->SetBorderValue(c[0], c[1], c[2], c[3]) != kULMOK ||
        image->Clear(whole, inBackground.fill) != kULMOK) {
        image->Release();
        return nullptr;
    }
    return image;
}

// The context of every pass but the last, and a copy of the real one for
// the last: the images hold pre-weighted colours, which the plain modes
// would weigh by alpha once more per pass.
ULMStatus PreWeighted(ULMContext* ioContext) {
    const ULMBlendMode mode = ioContext->GetBlendMode();
    if (mode == kULMBlendBTF) return ioContext->SetBlendMode(kULMBlendBTFPreWeighted);
    if (mode == kULMBlendFTB) return ioContext->SetBlendMode(kULMBlendFTBPreWeighted);
    return kULMOK;
}

// The two pixel conventions meet here. The engine puts the viewport's edges
// on pixel centres (w - 1 pixels per two units), while the passes map
// rectangles edge to edge (w pixels per two units, centres at half pixels).
// The enlarged render's projection is corrected in normalised coordinates
// so that its pixel u sits where the passes read it: small pixel j of the
// destination d is large pixel r.origin - 0.5 + S (j - d.origin + 0.5),
// with S = r.size / d.size, and each must see the same point of the view.
ULMStatus MatchPassConvention(ULMContext* ioEnlarged, int inViewOrigin[2], int inViewSize[2],
                              const ULMImageRange& inDest, const ULMImageRange& inLarge) {
    double a[2], b[2];
    const int dOrigin[2] = {inDest.XOrigin(), inDest.YOrigin()}, dSize[2] = {inDest.XSize(), inDest.YSize()};
    const int lSize[2] = {inLarge.XSize(), inLarge.YSize()};
    for (int i = 0; i < 2; ++i) {
        if (inViewSize[i] < 2 || lSize[i] < 2) return kULMErrCantSubsample;
        const double s = double(lSize[i]) / dSize[i];
        a[i] = s * (inViewSize[i] - 1) / (lSize[i] - 1);
        b[i] = a[i] - 1 + (2 * s * (inViewOrigin[i] - dOrigin[i] + 0.5) - 1) / (lSize[i] - 1);
    }
    const ULMMatrix fit(a[0], 0, 0, b[0], 0, a[1], 0, b[1], 0, 0, 1, 0, 0, 0, 0, 1);
    ULMCamera& camera = ioEnlarged->GetCamera();
    const ULMStatus projected = camera.SetProjectionMatrix(fit * camera.GetProjectionMatrix());
    if (projected != kULMOK) return projected;
    return camera.SetViewport(inLarge.XOrigin(), inLarge.YOrigin(), inLarge.XSize(), inLarge.YSize());
}

// The host step the sums still owe: scaled in place, then written back.
ULMStatus ScaleSums(ULMImageBuffer* ioImage, const ULMImageRange& inRange, double inScale) {
    std::vector<unsigned int> words;
    try {
        words.resize(static_cast<size_t>(inRange.XSize()) * static_cast<size_t>(inRange.YSize()));
    } catch (const std::bad_alloc&) {
        return kULMErrAlloc;
    }
    const auto width = static_cast<unsigned>(inRange.XSize());
    const ULMStatus unloaded = ioImage->StartUnload(words.data(), inRange, width).Wait(-1);
    if (ULMFailed(unloaded)) return unloaded;
    ScaleMPRAlpha(inScale, inRange, words.data());
    return ioImage->StartUpdate(words.data(), inRange, width).Wait(-1);
}

}  // namespace

void ScaleMPRAlpha(double scaleFactor, const ULMImageRange& range, unsigned int* sumBuffer) {
    const size_t width = static_cast<size_t>(std::max(range.XSize(), 0));
    const size_t count = width * static_cast<size_t>(std::max(range.YSize(), 0));
    for (size_t i = 0; i < count; ++i) {
        const double v = std::min(double(sumBuffer[i] & kMax12) * scaleFactor, double(kMax12));
        sumBuffer[i] = (sumBuffer[i] & ~kMax12) | static_cast<unsigned>(std::max(v, 0.0));
    }
}

ULMSyncEvent GetRealImageBuffer(ULMImageBuffer*& ioBuffer, ULMLocation desiredBoard) {
    if (ioBuffer == nullptr) return ULMSyncEvent(kULMOK);
    if (!IsObjectType(ioBuffer, kObjectTypeULMOmniImageBuffer)) return ULMSyncEvent(kULMErrBuffer);
    ULMImageBufferInternal* onBoard = static_cast<ULMOmniImageBuffer*>(ioBuffer)->GetImageBuffer();
    if (onBoard == nullptr) return ULMSyncEvent(kULMErrBuffer);
    ULMSyncEvent event(kULMOK);
    if (desiredBoard != kULMAnyBoard) {
        event = onBoard->StartMigrate(desiredBoard);
        if (ULMFailed(event.Status())) return event;
    }
    ioBuffer = onBoard;
    return event;
}

ULMSyncEvent Resample3DImage(const ULMContext* inRealContext, ULMImageBuffer* ioColor0, ULMImageBuffer* ioColor1,
                             ULMContext* ioTempContext, const ULMImageRange& inDestRange, ULMImageBuffer* in3DImage,
                             bool inMPRSumAndCount) {
    if (in3DImage == nullptr || inDestRange.XSize() <= 0 || inDestRange.YSize() <= 0)
        return ULMSyncEvent(kULMErrArgument);
    ULMLocation board = in3DImage->GetLocation();
    if (board == kULMMultiBoardMode1) return ULMSyncEvent(kULMErrUnimplemented);
    ULMImageBuffer* color[2] = {ioColor0, ioColor1};
    if (board == kULMMultiBoardMode2) {
        ULMSyncEvent found = GetRealImageBuffer(in3DImage, kULMAnyBoard);
        if (ULMFailed(found.Status())) return found;
        board = in3DImage->GetLocation();
        for (ULMImageBuffer*& c : color) {
            found = GetRealImageBuffer(c, board);
            if (ULMFailed(found.Status())) return found;
        }
    }
    in3DImage->AddRef();
    ReleasablePointer<ULMImageBuffer> source(in3DImage);
    const Background background = BackgroundOf(inRealContext, ioColor0);
    if (PreWeighted(ioTempContext) != kULMOK) return ULMSyncEvent(kULMErrArgument);
    ULMImageRange sourceRange;
    for (;;) {
        sourceRange = source->GetOutputLimits();
        source->SetInputLimits(sourceRange);
        const double scale[2] = {double(sourceRange.XSize()) / inDestRange.XSize(),
                                 double(sourceRange.YSize()) / inDestRange.YSize()};
        if (scale[0] < 2.0 && scale[1] < 2.0) break;
        int size[2];
        for (int i = 0; i < 2; ++i) {
            const double step = scale[i] > 2.5 ? 2.0 : scale[i] > 2.0 ? 1.58 : scale[i];
            size[i] = static_cast<int>(std::ceil((i == 0 ? sourceRange.XSize() : sourceRange.YSize()) / step));
        }
        ReleasablePointer<ULMImageBuffer> next(
            MakeTemporary(board, size[0], size[1], inMPRSumAndCount, background, 0, 0));
        if (next == nullptr) return ULMSyncEvent(kULMErrAlloc);
        const ULMImageRange nextRange(size[0], size[1], 0, 0);
        ioTempContext->GetCamera().SetViewport(0, 0, size[0], size[1]);
        ioTempContext->SetImageOutputBuffer(ULMContext::kImageBuffer0);
        const ULMSyncEvent event = ULMResample3DImage(ioTempContext, next, nullptr, nextRange, source, sourceRange);
        next->AddRef();
        source.Assign(next.GetPointer());
        if (ULMFailed(event.Status())) {
            ULMOutputMessage("R&R: Resample3DImage; Intermediate Resample failed %s (%d)\n",
                             UlmGetStatusString(event.Status()), static_cast<int>(event.Status()));
            return event;
        }
    }
    ReleasablePointer<ULMContext> last(ULMCopyContextForRender(inRealContext));
    if (last == nullptr) return ULMSyncEvent(kULMErrAlloc);
    if (PreWeighted(last) != kULMOK) return ULMSyncEvent(kULMErrArgument);
    const ULMSyncEvent event = ULMResample3DImage(last, color[0], color[1], inDestRange, source, sourceRange);
    if (ULMFailed(event.Status())) return event;
    // The caller's location-independent images learn what their board images got.
    ULMImageBuffer* const callers[2] = {ioColor0, ioColor1};
    for (int i = 0; i < 2; ++i)
        if (color[i] != callers[i]) callers[i]->SetOutputLimits(color[i]->GetOutputLimits());
    return event;
}

ULMSyncEvent DoStartRenderAndResize(const ULMEnlargedRender& inRender, ULMLocation inBoard,
                                    const ULMContext* inContext, const ULMResizeView& inView,
                                    bool inEnableSumAndCount, double& inOutMPRScale, ULMImageBuffer* ioColor0,
                                    ULMImageBuffer* ioColor1) {
    // The checks, the enlarged render and the shrink read one state of the
    // context: the render's own copy as the engine and the wrappers pass it.
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    const bool sums = inContext->GetBlendMode() == kULMBlendSumAndCount;
    if (!IsDepthTestPass(inContext) ||
        inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer0) != ULMContext::kAlwaysFail ||
        inContext->GetDepthUpdateFilter(ULMContext::kDepthBuffer1) != ULMContext::kAlwaysFail ||
        (sums && !inEnableSumAndCount))
        return ULMSyncEvent(kULMErrCantSubsample);
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, ioColor0, ioColor1);
    if (output == nullptr) return ULMSyncEvent(kULMErrCantSubsample);
    const double scale = std::max({inView.testX * 0.5, inView.testY * 0.5, 1.0});
    if (!std::isfinite(scale)) return ULMSyncEvent(kULMErrCantSubsample);

    int vx = 0, vy = 0, vw = 0, vh = 0;
    inContext->GetCamera().GetViewport(vx, vy, vw, vh);
    if (vw <= 0 || vh <= 0) {
        // As the sample space takes it: the whole image.
        const bool offset = output->GetAddressMode() == kULMOffsetAddress;
        vx = offset ? output->GetAddressParameterX() : 0;
        vy = offset ? output->GetAddressParameterY() : 0;
        vw = static_cast<int>(output->GetWidth());
        vh = static_cast<int>(output->GetHeight());
    }
    const ULMImageRange unscaled = Intersect(ULMImageRange(vw, vh, vx, vy), inView.footprint);
    // Nothing to shrink into: the step ratio would be unbounded.
    if (unscaled.XSize() <= 0 || unscaled.YSize() <= 0) return ULMSyncEvent(kULMErrArgument);
    int origin[2] = {static_cast<int>(unscaled.XOrigin() * scale + 0.5),
                     static_cast<int>(unscaled.YOrigin() * scale + 0.5)};
    // A whole number of pixels gets one more: the enlarged view's step then
    // stays within the chip's limit after rounding, not on it.
    constexpr double kMargin = 1 + 1e-9;
    int size[2] = {static_cast<int>(std::ceil(unscaled.XSize() * scale * kMargin)),
                   static_cast<int>(std::ceil(unscaled.YSize() * scale * kMargin))};
    for (int i = 0; i < 2; ++i) {
        if (origin[i] % 2 != 0) --origin[i], ++size[i];
        if (size[i] < kMinScaledSide) return ULMSyncEvent(kULMErrCantSubsample);
    }
    const ULMImageRange large(size[0], size[1], origin[0], origin[1]);

    ReleasablePointer<ULMContext> enlarged(ULMCopyContextForRender(inContext));
    if (enlarged == nullptr) return ULMSyncEvent(kULMErrAlloc);
    int viewOrigin[2] = {vx, vy}, viewSize[2] = {vw, vh};
    ULMStatus status = MatchPassConvention(enlarged, viewOrigin, viewSize, unscaled, large);
    if (status == kULMOK) status = enlarged->SetImageOutputBuffer(ULMContext::kImageBuffer0);
    if (status == kULMOK) status = enlarged->SetLastBlendMode(kULMBlendNone);
    if (status == kULMOK) status = enlarged->SetRenderArea(ULMContext::kVolume);
    if (status != kULMOK) return ULMSyncEvent(status);
    ReleasablePointer<ULMImageBuffer> temporary(
        MakeTemporary(inBoard, size[0], size[1], sums, BackgroundOf(inContext, ioColor0), origin[0], origin[1]));
    if (temporary == nullptr) return ULMSyncEvent(kULMErrAlloc);

    const ULMSyncEvent rendered = inRender(enlarged, temporary);
    if (ULMFailed(rendered.Status())) return rendered;
    // The whole enlarged rectangle is read, off the box too: the fill
    // stands there for what the render left alone.
    temporary->SetOutputLimits(large);
    if (sums && inOutMPRScale != 1.0) {
        status = ScaleSums(temporary, large, inOutMPRScale);
        if (status != kULMOK) return ULMSyncEvent(status);
        inOutMPRScale = 1.0;
    }
    const ULMSyncEvent shrunk = Resample3DImage(inContext, ioColor0, ioColor1, enlarged, unscaled, temporary, sums);
    if (ULMFailed(shrunk.Status())) return shrunk;
    // The shrink runs after an enlarged render that failed on its board all
    // the same: the call answers for both.
    const ULMSyncEvent both[2] = {rendered, shrunk};
    return CombineMultipleEvents(2, both);
}

namespace {

[[maybe_unused]] const bool gRegistered = (ULMRegisterRenderAndResize(DoStartRenderAndResize), true);

}  // namespace

}  // namespace ulm3
