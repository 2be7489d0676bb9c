// The board compositor: partial images gathered as the slices of a stack in
// board memory and composited by rendering that stack as a volume.
#pragma once

#include "buffers/image_buffer_internal.h"
#include "foundation/shareable.h"
#include "ulm3/context.h"
#include "ulm3/fields.h"
#include "ulm3/image_buffer.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"
#include "volume/volume_internal.h"

namespace ulm3 {

// Slot i lives on board (i mod boards) and holds one plane the size of the
// clip range, except slot m_bufferNumber: the stack, with room for every
// sub-volume's partial image (the count rounded up to a multiple of four
// planes). Plane 0 of the stack is the nearest layer. Any setter whose value
// changes drops the slots; the next Resize makes them again.
class ULMBlendVolume {
public:
    static constexpr int kMaxSubvolumes = 8;

    ULMBlendVolume() = default;
    ~ULMBlendVolume();
    ULMBlendVolume(const ULMBlendVolume&) = delete;
    ULMBlendVolume& operator=(const ULMBlendVolume&) = delete;

    void SetBufferNumber(int inNumber);
    // Bits per pixel of every slot: 8, 16 or 32, checked by Resize.
    void SetVoxelSize(int inBits);
    // 1..8, checked by Resize.
    void SetNumOfSubvolumes(int inCount);
    // Four descriptors: red, green, blue, alpha. Null: 1004.
    ULMStatus SetFieldDescriptors(const ULMFieldDescriptor* inFields);
    // Makes the slots over inClip when anything changed. 1004 for a voxel
    // size other than 8, 16 or 32, a sub-volume count outside 1..8, a buffer
    // number outside the slots or an empty clip; a board that cannot hold a
    // slot gives that failure. Either way no slot is left.
    ULMStatus Resize(const ULMImageRange& inClip);

    // Borrowed; null for a slot that does not exist.
    ULMImageBufferInternal* GetBuffer(int inSlot) const;
    // A plain volume over the slot's board memory, made on first use and
    // kept with the slot (borrowed); null for a slot that does not exist.
    ULMVolumeInternal* GetVolume(int inSlot);

    // Composites the stack's planes 0 to n - 1 front to back into the image
    // the context selects, at the clip range's place, with the context's
    // blend mode: each plane's pixels are taken as they stand (red, green,
    // blue, alpha), one sample per plane; nothing outside the clip range is
    // written. A blend volume not yet sized gives a 1004 event; the
    // sum-and-count mode, which partial images need added on the host, 1005.
    ULMSyncEvent Render(ULMContext* inContext, ULMImageBuffer* image0, ULMImageBuffer* image1);

private:
    void Invalidate();

    int m_bufferNumber = 0;
    int m_voxelSize = 32;
    int m_numSubvolumes = 1;
    ULMFieldDescriptor m_fields[4];
    ULMImageRange m_clip;
    bool m_sized = false;
    ReleasablePointer<ULMImageBufferInternal> m_slot[kMaxSubvolumes];
    ReleasablePointer<ULMVolumeInternal> m_volume[kMaxSubvolumes];
    // The stack's first n planes as a volume, for Render.
    ReleasablePointer<ULMVolumeInternal> m_layers;
};

}  // namespace ulm3
