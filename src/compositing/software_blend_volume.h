// The host compositor: partial images rendered on several boards (or a
// finished frame and the image it lands on) combined on the host in any
// blend mode and any pixel layout, the way the chip combines samples.
#pragma once

#include "foundation/shareable.h"
#include "ulm3/blend_mode.h"
#include "ulm3/fields.h"
#include "ulm3/image_buffer.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"

namespace ulm3 {

// Host buffers and their layout, as StartBlend reads and writes them:
// - The frame is m_maxImageRange, in image coordinates; a frame-sized buffer
//   holds it in rows of m_maxImageRange's width.
// - blendIndex[s] is the blend position of sub-volume s (position 0 is the
//   nearest) and transferBuffers[s] its partial image, in the transfer
//   layout: the sub-volume at position 0 has a frame-sized buffer, the others
//   hold their output range packed. A sub-volume with an empty range adds
//   nothing.
// - The accumulation buffer is frame-sized in image 0's layout and holds
//   image 0's content; only pixels inside image 0's input limits are read
//   from it (the others start from image 0's border, or transparent black
//   without image 0), so it may be null when image 0 has no input.
// - Layers combine nearest first onto that start, except in the back-to-front
//   modes 2 and 3, which take the farthest first: image 0's content lies in
//   front in front-to-back modes and behind in back-to-front ones.
// - The result, in image 0's layout (the transfer layout without image 0),
//   replaces position 0's buffer when ResultInFirstTransferBuffer(), else the
//   accumulation buffer. Bits outside the fields of a pixel that started
//   from image 0 are kept.
// m_LastBlendMode would combine the result with image 1's content, which no
// caller hands over: it is kept for the callers and not applied.
class ULMSoftwareBlendVolume {
public:
    static constexpr int kMaxSubvolumes = 8;

    ULMSoftwareBlendVolume() = default;
    ULMSoftwareBlendVolume(const ULMSoftwareBlendVolume&) = delete;
    ULMSoftwareBlendVolume& operator=(const ULMSoftwareBlendVolume&) = delete;

    // Bits per pixel; StartBlend checks them against the field layouts.
    void SetVoxelSizeImage0(int inBits) { m_image0.bits = inBits; }
    void SetVoxelSizeImage1(int inBits) { m_image1.bits = inBits; }
    void SetVoxelSizeTransferBuffer(int inBits) { m_transfer.bits = inBits; }
    void SetVoxelSizeOutputBuffer(int inBits) { m_outputBits = inBits; }
    void SetNumOfSubvolumes(int inCount) { m_numSubvolumes = inCount; }
    // Four descriptors each: red, green, blue, alpha.
    void SetFieldDescriptorsImage0(const ULMFieldDescriptor* inFields) { m_image0.Set(inFields); }
    void SetFieldDescriptorsImage1(const ULMFieldDescriptor* inFields) { m_image1.Set(inFields); }
    void SetFieldDescriptorsTransferBuffers(const ULMFieldDescriptor* inFields) {
        m_transfer.Set(inFields);
    }
    int GetVoxelSizeOutputBuffer() const { return m_outputBits; }

    // Keeps transfer sub-buffer inIndex when it already lives on that board
    // at that size in the transfer layout, else replaces it. 1004 for an
    // index outside 0..7, an empty size or a location that is not a board.
    ULMStatus UpdateSubBuffers(ULMLocation inLocation, int inWidth, int inHeight, int inIndex);

    // Composites as the comment above the class says. Refused with 1004,
    // before anything is written: a null transfer list, index list or range
    // list, a null transfer buffer, a sub-volume count outside 1..8, an
    // index list that is not a permutation, a range outside m_maxImageRange,
    // an unknown blend mode, a pixel size the layouts do not fit (or image
    // 0's size differing from color0's), and a null accumulation buffer that
    // would be read or written.
    ULMStatus StartBlend(ULMImageBuffer* color0, ULMImageBuffer* color1, int* blendIndex,
                         ULMImageRange* outputRanges, char* accumBuffer, char** transferBuffers);
    // What the blend reads of image 0 besides its content. A blend run
    // after image 0's content was unloaded takes it from then, so that the
    // border and input limits it applies are those that unload went by.
    struct Image0State {
        unsigned pixelSize = 0;
        ULMImageRange inputLimits;
        double border[4] = {0, 0, 0, 0};
    };
    static Image0State StateOf(const ULMImageBuffer* color0);
    // The same blend with image 0 as inImage0 describes (null: no image 0).
    ULMStatus StartBlend(const Image0State* inImage0, int* blendIndex, ULMImageRange* outputRanges,
                         char* accumBuffer, char** transferBuffers);

    // Where StartBlend leaves its result, so that callers upload from the
    // right buffer: true when the transfer layout is 32-bit with four
    // byte-aligned 8-bit fields and the result's pixel is no wider.
    bool ResultInFirstTransferBuffer(const ULMImageBuffer* color0) const;

    // The layout test the callers apply to image 0 and to the transfer
    // layout: four fields of a format a board takes, 8 bits each, each on a
    // byte boundary.
    static bool IsEightBitRGBA(const ULMFieldDescriptor* inFields);
    // The two transfer layouts: four 8-bit channels from bit 0 in 32-bit
    // pixels, and four 12-bit channels from bit 0 in 64-bit pixels.
    static const ULMFieldDescriptor kTransferFields8[4];
    static const ULMFieldDescriptor kTransferFields12[4];

    ULMImageRange m_maxImageRange;
    ULMBlendMode m_blendMode = kULMBlendFTB;
    ULMBlendMode m_LastBlendMode = kULMBlendNone;
    ReleasablePointer<ULMImageBuffer> m_subbuffer[kMaxSubvolumes];

private:
    bool ResultInFirstTransferBuffer(int inResultBits) const;

    struct Layout {
        int bits = 0;
        ULMFieldDescriptor fields[4];
        void Set(const ULMFieldDescriptor* inFields);
        bool Fits() const;
    };

    Layout m_image0;
    Layout m_image1;
    Layout m_transfer;
    int m_outputBits = 0;
    int m_numSubvolumes = 1;
};

}  // namespace ulm3
