// The perspective post-blend: the board's image passes over an on-board copy
// of the frame, or the host blender for extremes of wide pixels.
#include "perspective/post_blend.h"

#include <algorithm>
#include <new>

#include "buffers/image_buffer_internal.h"
#include "foundation/context_readers.h"
#include "foundation/sync_event.h"
#include "resample/image_resample_3d.h"

namespace ulm3 {

namespace {

bool HoldsInput(const ULMImageBuffer* inImage) {
    return inImage != nullptr && !inImage->GetInputLimits().IsEmpty();
}

// The frame holds colours already weighted by their opacity.
ULMBlendMode WeightedMode(ULMBlendMode inMode) {
    if (inMode == kULMBlendFTB) return kULMBlendFTBPreWeighted;
    if (inMode == kULMBlendBTF) return kULMBlendBTFPreWeighted;
    return inMode;
}

// The context's two blend modes as they were, whatever a pass did.
class RestoreBlendModes {
public:
    explicit RestoreBlendModes(ULMContext* ioContext)
        : m_context(ioContext), m_mode(ioContext->GetBlendMode()), m_last(ioContext->GetLastBlendMode()) {}
    ~RestoreBlendModes() {
        m_context->SetBlendMode(m_mode);
        m_context->SetLastBlendMode(m_last);
    }
    RestoreBlendModes(const RestoreBlendModes&) = delete;
    RestoreBlendModes& operator=(const RestoreBlendModes&) = delete;

private:
    ULMContext* m_context;
    ULMBlendMode m_mode;
    ULMBlendMode m_last;
};

// The pass's event joined with the upload's, which reads the caller's frame:
// a pass refused at submission must not let the frame go while it is read.
ULMSyncEvent WithUpload(const ULMSyncEvent& inUpload, const ULMSyncEvent& inPass) {
    const ULMSyncEvent both[2] = {inUpload, inPass};
    return CombineMultipleEvents(2, both);
}

}  // namespace

ULMPostBlend::~ULMPostBlend() {
    if (m_image != nullptr) m_image->Release();
}

bool ULMPostBlend::Refuses(const ULMContext* inContext, const ULMImageBuffer* inImage0) {
    return inContext->GetBlendMode() == kULMBlendSumAndCount && HoldsInput(inImage0);
}

ULMSyncEvent ULMPostBlend::Blend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                                 ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1) {
    if (GetOutputImageBuffer(inContext, inImage0, inImage1) == nullptr) return ULMSyncEvent(kULMOK);
    if (Refuses(inContext, inImage0)) return ULMSyncEvent(kULMErrUnimplemented);
    if (HostPathTakes(inContext, inImage0, inImage1, inElementSize))
        return HostBlend(inFrame, inWriteport, inElementSize, inContext, inImage0, inImage1);
    return BoardBlend(inFrame, inWriteport, inElementSize, inContext, inImage0, inImage1);
}

bool ULMPostBlend::MakeImage(const ULMImageRange& inArea, int inElementSize, ULMLocation inLocation) {
    const unsigned width = static_cast<unsigned>(inArea.XSize());
    const unsigned height = static_cast<unsigned>(inArea.YSize());
    if (m_image != nullptr && m_image->GetWidth() >= width && m_image->GetHeight() >= height &&
        static_cast<int>(m_image->GetPixelSize()) == inElementSize && m_image->GetLocation() == inLocation)
        return true;
    const unsigned newWidth = m_image != nullptr ? std::max(m_image->GetWidth(), width) : width;
    const unsigned newHeight = m_image != nullptr ? std::max(m_image->GetHeight(), height) : height;
    if (m_image != nullptr) m_image->Release();
    const unsigned bits = static_cast<unsigned>(inElementSize);
    // The narrow passes read the copy as a volume; the wide ones only as a colour.
    m_image = inElementSize > 32 ? ULMImageBufferInternal::CreateSimple(inLocation, newWidth, newHeight, bits, 0, nullptr)
                                 : ULMImageBufferInternal::Create3D(inLocation, newWidth, newHeight, bits, 0, nullptr, 0);
    return m_image != nullptr;
}

ULMSyncEvent ULMPostBlend::BoardBlend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                                      ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1) {
    ULMImageBuffer* output = GetOutputImageBuffer(inContext, inImage0, inImage1);
    const ULMBlendMode lastMode = inContext->GetLastBlendMode();
    const bool blend0 = HoldsInput(inImage0);
    const bool blend1 = HoldsInput(inImage1) && lastMode != kULMBlendNone;
    const ULMBlendMode weighted = WeightedMode(inContext->GetBlendMode());

    // The copy starts on even coordinates.
    const int x0 = inWriteport.XOrigin();
    const int y0 = inWriteport.YOrigin();
    const ULMImageRange area(inWriteport.XSize() + (x0 & 1), inWriteport.YSize() + (y0 & 1), x0 & ~1, y0 & ~1);
    if (!MakeImage(area, inElementSize, output->GetLocation())) return ULMSyncEvent(kULMErrAlloc);
    const ULMFieldDescriptor* fields =
        inElementSize > 32 ? ULMSoftwareBlendVolume::kTransferFields12 : ULMSoftwareBlendVolume::kTransferFields8;
    for (int i = 0; i < 4; ++i) m_image->SetFieldDescriptor(static_cast<ULMChannel>(i), fields[i]);
    m_image->SetOffset(area.XOrigin(), area.YOrigin());
    const ULMSyncEvent upload = m_image->StartUpdate(inFrame, inWriteport, 0);
    if (ULMFailed(upload.Status())) return upload;
    // A pass without a source reads a colour image only inside its input limits.
    m_image->SetInputLimits(inWriteport);

    RestoreBlendModes restore(inContext);
    const auto pass = [&](ULMImageBuffer* color0, ULMImageBuffer* color1, const ULMImageBuffer* source) {
        return ULMResample3DImage(inContext, color0, color1, inWriteport, source, inWriteport);
    };
    if (inElementSize <= 32) {
        inContext->SetBlendMode(blend0 ? weighted : kULMBlendReplace);
        if (!blend1) inContext->SetLastBlendMode(kULMBlendNone);
        return WithUpload(upload, pass(inImage0, inImage1, m_image));
    }
    if (inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0) {
        // As a render composites them: the frame over image 0's content
        // first, the last mode with image 1 then; the copy holds each step.
        if (blend0 && blend1) {
            inContext->SetImageOutputBuffer(ULMContext::kImageBuffer1);
            inContext->SetLastBlendMode(weighted);
            const ULMSyncEvent over = pass(inImage0, m_image, nullptr);
            inContext->SetImageOutputBuffer(ULMContext::kImageBuffer0);
            inContext->SetLastBlendMode(lastMode);
            if (ULMFailed(over.Status())) return WithUpload(upload, over);
        }
        if (blend1) {
            const ULMSyncEvent behind = pass(m_image, inImage1, nullptr);
            if (ULMFailed(behind.Status())) return WithUpload(upload, behind);
        }
        inContext->SetLastBlendMode(blend0 && !blend1 ? weighted : kULMBlendReplace);
        return WithUpload(upload, pass(inImage0, m_image, nullptr));
    }
    if (blend0) {
        inContext->SetLastBlendMode(weighted);
        const ULMSyncEvent over = pass(inImage0, m_image, nullptr);
        if (ULMFailed(over.Status())) return WithUpload(upload, over);
    }
    // Without image 1's content the frame stands alone: replace would keep image 1.
    inContext->SetLastBlendMode(blend1 ? lastMode : kULMBlendNone);
    return WithUpload(upload, pass(m_image, inImage1, nullptr));
}

bool ULMPostBlend::HostPathTakes(const ULMContext* inContext, const ULMImageBuffer* inImage0,
                                 const ULMImageBuffer*, int inElementSize) {
    const ULMBlendMode mode = inContext->GetBlendMode();
    const bool extreme = mode >= kULMBlendMinRed && mode <= kULMBlendMaxAlpha;
    return inImage0 != nullptr && !inImage0->GetInputLimits().IsEmpty() &&
           inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0 && inElementSize > 32 && extreme;
}

ULMSyncEvent ULMPostBlend::HostBlend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                                     const ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1) {
    ULMFieldDescriptor image0[4], image1[4];
    for (int i = 0; i < 4; ++i) {
        image0[i] = inImage0->GetFieldDescriptor(static_cast<ULMChannel>(i));
        if (inImage1 != nullptr) image1[i] = inImage1->GetFieldDescriptor(static_cast<ULMChannel>(i));
    }
    // The accumulation holds image 0's content in image 0's own layout.
    const int accumBits = static_cast<int>(inImage0->GetPixelSize());
    const int64_t bytes = int64_t{inWriteport.XSize()} * inWriteport.YSize() * accumBits / 8;
    if (bytes > m_accumBufferSize) {
        m_accumBuffer.reset(new (std::nothrow) uint64_t[static_cast<size_t>((bytes + 7) / 8)]);
        m_accumBufferSize = m_accumBuffer != nullptr ? bytes : 0;
        if (m_accumBuffer == nullptr) return ULMSyncEvent(kULMErrAlloc);
    }

    ULMSoftwareBlendVolume& blend = m_softwBlendVolume;
    blend.m_blendMode = inContext->GetBlendMode();
    blend.m_LastBlendMode = inContext->GetLastBlendMode();
    blend.SetVoxelSizeImage0(accumBits);
    blend.SetVoxelSizeImage1(inImage1 != nullptr ? static_cast<int>(inImage1->GetPixelSize()) : 0);
    // The frame is described in its own layout, whatever image 0's is.
    blend.SetVoxelSizeTransferBuffer(64);
    blend.SetVoxelSizeOutputBuffer(inElementSize);
    blend.SetNumOfSubvolumes(1);
    blend.SetFieldDescriptorsImage0(image0);
    blend.SetFieldDescriptorsImage1(image1);
    blend.SetFieldDescriptorsTransferBuffers(ULMSoftwareBlendVolume::kTransferFields12);
    blend.m_maxImageRange = inWriteport;

    char* accum = reinterpret_cast<char*>(m_accumBuffer.get());
    const ULMStatus unloaded =
        inImage0->StartUnload(accum, inWriteport, static_cast<unsigned>(inWriteport.XSize())).Wait(-1);
    if (ULMFailed(unloaded)) return ULMSyncEvent(unloaded);
    int index[1] = {0};
    ULMImageRange ranges[1] = {inWriteport};
    char* transfer[1] = {reinterpret_cast<char*>(inFrame)};
    const ULMStatus blended = blend.StartBlend(inImage0, inImage1, index, ranges, accum, transfer);
    if (ULMFailed(blended)) return ULMSyncEvent(blended);
    const char* result = blend.ResultInFirstTransferBuffer(inImage0) ? transfer[0] : accum;
    return inImage0->StartUpdate(result, inWriteport, static_cast<unsigned>(inWriteport.XSize()));
}

}  // namespace ulm3
