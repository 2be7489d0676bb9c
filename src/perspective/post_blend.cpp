// The host road of the perspective post-blend.
#include "perspective/post_blend.h"

#include <new>

#include "foundation/context_readers.h"

namespace ulm3 {

bool ULMPostBlend::HostPathTakes(const ULMContext* inContext, const ULMImageBuffer* inImage0,
                                 const ULMImageBuffer*, int inElementSize) {
    const ULMBlendMode mode = inContext->GetBlendMode();
    const bool extreme = mode >= kULMBlendMinRed && mode <= kULMBlendMaxAlpha;
    return inImage0 != nullptr && !inImage0->GetInputLimits().IsEmpty() &&
           inContext->GetImageOutputBuffer() == ULMContext::kImageBuffer0 && inElementSize > 32 && extreme;
}

ULMSyncEvent ULMPostBlend::Blend(uint64_t* inFrame, const ULMImageRange& inWriteport, int inElementSize,
                                 const ULMContext* inContext, ULMImageBuffer* inImage0, ULMImageBuffer* inImage1) {
    if (!HostPathTakes(inContext, inImage0, inImage1, inElementSize)) return ULMSyncEvent(kULMErrUnimplemented);
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
