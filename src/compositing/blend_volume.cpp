// The board compositor's slots and the render of its stack.
#include "compositing/blend_volume.h"

#include <algorithm>

#include "board/kwb_buffer.h"
#include "board/kwb_sync_event.h"
#include "buffers/image_buffer_internal.h"
#include "context/render_context.h"
#include "foundation/control.h"
#include "ulm3/camera.h"
#include "ulm3/classifier.h"
#include "ulm3/matrix.h"
#include "volume/volume_board_copy.h"
#include "volume/volume_internal.h"

namespace ulm3 {

ULMBlendVolume::~ULMBlendVolume() { Invalidate(); }

void ULMBlendVolume::Invalidate() {
    // Volumes first: they hold attachments to the slots' board buffers.
    m_layers.Assign(nullptr);
    for (int i = 0; i < kMaxSubvolumes; ++i) m_volume[i].Assign(nullptr), m_slot[i].Assign(nullptr);
    m_sized = false;
}

void ULMBlendVolume::SetBufferNumber(int inNumber) {
    if (inNumber != m_bufferNumber) m_bufferNumber = inNumber, Invalidate();
}

void ULMBlendVolume::SetVoxelSize(int inBits) {
    if (inBits != m_voxelSize) m_voxelSize = inBits, Invalidate();
}

void ULMBlendVolume::SetNumOfSubvolumes(int inCount) {
    if (inCount != m_numSubvolumes) m_numSubvolumes = inCount, Invalidate();
}

ULMStatus ULMBlendVolume::SetFieldDescriptors(const ULMFieldDescriptor* inFields) {
    if (inFields == nullptr) return kULMErrArgument;
    if (!std::equal(inFields, inFields + 4, m_fields)) {
        std::copy(inFields, inFields + 4, m_fields);
        Invalidate();
    }
    return kULMOK;
}

ULMStatus ULMBlendVolume::Resize(const ULMImageRange& inClip) {
    if (m_sized && inClip == m_clip) return kULMOK;
    Invalidate();
    const int n = m_numSubvolumes;
    const bool sizeOK = m_voxelSize == 8 || m_voxelSize == 16 || m_voxelSize == 32;
    if (!sizeOK || n < 1 || n > kMaxSubvolumes || m_bufferNumber < 0 || m_bufferNumber >= n ||
        inClip.IsEmpty())
        return kULMErrArgument;
    const int boards = static_cast<int>(gULMControl.m_KWBBoardCount);
    if (boards < 1) return kULMErrArgument;
    const auto w = static_cast<unsigned>(inClip.XSize()), h = static_cast<unsigned>(inClip.YSize());
    for (int i = 0; i < n; ++i) {
        const int planes = i == m_bufferNumber ? ((n - 1) | 3) + 1 : 1;
        m_slot[i].Assign(ULMImageBufferInternal::Create3D(static_cast<ULMLocation>(kULMBoard0 + i % boards),
                                                          w, h, static_cast<unsigned>(m_voxelSize), 4,
                                                          m_fields, planes));
        if (m_slot[i] == nullptr) {
            Invalidate();
            return kULMErrAlloc;
        }
    }
    m_clip = inClip;
    m_sized = true;
    return kULMOK;
}

ULMImageBufferInternal* ULMBlendVolume::GetBuffer(int inSlot) const {
    return inSlot >= 0 && inSlot < kMaxSubvolumes ? m_slot[inSlot].GetPointer() : nullptr;
}

namespace {

// A plain volume of inPlanes slices over the slot's board buffer.
ULMVolumeInternal* VolumeOver(ULMImageBufferInternal* inSlot, int inVoxelSize, int inPlanes,
                              const ULMFieldDescriptor* inFields) {
    const ULMVolumeRange range(static_cast<int>(inSlot->GetWidth()), static_cast<int>(inSlot->GetHeight()),
                               inPlanes, 0, 0, 0);
    ULMVolumeInternal* volume = ULMVolumeInternal::CreateSimpleVolume(inVoxelSize, range, 4, inFields, nullptr);
    if (volume != nullptr && volume->AdoptBuffer(inSlot->GetBuffer()->GetID()) != kULMOK) {
        volume->Release();
        volume = nullptr;
    }
    return volume;
}

}  // namespace

ULMVolumeInternal* ULMBlendVolume::GetVolume(int inSlot) {
    ULMImageBufferInternal* slot = GetBuffer(inSlot);
    if (slot == nullptr) return nullptr;
    if (m_volume[inSlot] == nullptr) {
        const int planes = inSlot == m_bufferNumber ? ((m_numSubvolumes - 1) | 3) + 1 : 1;
        m_volume[inSlot].Assign(VolumeOver(slot, m_voxelSize, planes, m_fields));
    }
    return m_volume[inSlot];
}

ULMSyncEvent ULMBlendVolume::Render(ULMContext* inContext, ULMImageBuffer* image0, ULMImageBuffer* image1) {
    ULMImageBufferInternal* stack = GetBuffer(m_bufferNumber);
    if (inContext == nullptr || stack == nullptr) return ULMSyncEvent(kULMErrArgument);
    ReleasablePointer<ULMContext> context(ULMCopyContextForRender(inContext));
    if (context == nullptr) return ULMSyncEvent(kULMErrAlloc);
    // The chip sums its samples' alpha and counts them; partial sum-and-count
    // images need their sums and counts added, which only the host does.
    if (context->GetBlendMode() == kULMBlendSumAndCount || context->GetLastBlendMode() == kULMBlendSumAndCount)
        return ULMSyncEvent(kULMErrUnimplemented);
    const int n = m_numSubvolumes;
    if (m_layers == nullptr) m_layers.Assign(VolumeOver(stack, m_voxelSize, n, m_fields));
    if (m_layers == nullptr) return ULMSyncEvent(kULMErrVolume);

    // Voxel (x, y, z) lands on pixel (x + clip x, y + clip y), seen along z
    // with plane 0 nearest: the z axis is turned towards the viewer. The
    // viewport reaches one pixel past the clip on every side so that the
    // footprint's rounding at the viewport edge cannot drop the clip's edge
    // pixels; rendering only the volume's area keeps the margin unwritten,
    // since the chip writes every pixel of its frustum. The viewport's edges
    // are the centres of its outer pixels, voxels -1 and w: an edge-to-edge
    // fit would stretch the voxels by (w + 2) / (w + 1) and, from a few
    // hundred pixels on, move the last column past the volume's box.
    const double w = m_clip.XSize(), h = m_clip.YSize();
    ULMCamera& camera = context->GetCamera();
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-1.0, w, -1.0, h, -1.0, n));
    camera.SetViewMatrix(ULMMatrix());
    camera.SetModelMatrix(ULMMatrix::Scale(1, 1, -1));
    camera.SetViewport(m_clip.XOrigin() - 1, m_clip.YOrigin() - 1, m_clip.XSize() + 2, m_clip.YSize() + 2);
    ULMClassifier classifier = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    for (ULMFieldNumber f : {kULMField0, kULMField1, kULMField2, kULMField3})
        classifier.SetInterpolationMode(f, kULMNearestNeighbor);
    ULMStatus status = context->SetClassifier(classifier);
    if (status == kULMOK) status = context->SetSamplingLimits(1, 1, 1, 1);
    if (status == kULMOK) status = context->SetRenderArea(ULMContext::kVolume);
    if (status != kULMOK) return ULMSyncEvent(status);
    // The layers read the stack's memory through a buffer of their own: it
    // takes on what was queued into the stack, and the stack what the
    // composite reads, so that the next frame's writes into the stack wait
    // for it. Only the loads and copies: a render into the stack's first
    // plane runs on the composite's own queue, ahead of it, and as the newer
    // event it would stand in for copies still queued on another board.
    KWBBuffer* stackBuffer = stack->GetBuffer();
    KWBBuffer* layersBuffer = m_layers->BoardCopy().Buffer();
    if (stackBuffer == nullptr || layersBuffer == nullptr) return ULMSyncEvent(kULMErrVolume);
    layersBuffer->SetLoadEvent(stackBuffer->GetLoadEvent());
    const ULMSyncEvent composited = m_layers->StartRender(context, image0, nullptr, image1, nullptr);
    const ULMSyncEvent read = layersBuffer->GetRenderEvent(true);
    if (KWBSyncEvent(read).IsHardwareSync()) stackBuffer->SetRenderEvent(read, false);
    return composited;
}

}  // namespace ulm3
