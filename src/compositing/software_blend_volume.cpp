// Host compositing of partial images: layers decoded through their field
// descriptors, combined with the chip's blend functions in double, and
// encoded the way the chip writes an element.
#include "compositing/software_blend_volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "buffers/image_buffer_internal.h"
#include "foundation/field_conversions.h"

namespace ulm3 {

namespace {

struct Colour {
    double c[4] = {0, 0, 0, 0};
};

uint64_t LowMask(int bits) {
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

uint64_t ReadPixel(const char* base, size_t index, int bits) {
    uint64_t word = 0;
    std::memcpy(&word, base + index * static_cast<size_t>(bits / 8), static_cast<size_t>(bits / 8));
    return word;
}

void WritePixel(char* base, size_t index, int bits, uint64_t word) {
    std::memcpy(base + index * static_cast<size_t>(bits / 8), &word, static_cast<size_t>(bits / 8));
}

Colour Decode(uint64_t word, const ULMFieldDescriptor* fields) {
    Colour out;
    for (int k = 0; k < 4; ++k) out.c[k] = ULMDecodeElementField(word, fields[k]);
    return out;
}

uint64_t Encode(const Colour& colour, const ULMFieldDescriptor* fields, uint64_t background) {
    for (int k = 0; k < 4; ++k) background = ULMStoreElementField(background, colour.c[k], fields[k]);
    return background;
}

// The chip's blend functions, acc the composited colour and in the layer.
void Blend(ULMBlendMode mode, Colour& acc, const Colour& in) {
    double* a = acc.c;
    const double* s = in.c;
    switch (mode) {
        case kULMBlendNone:
            return;
        case kULMBlendReplace:
            acc = in;
            return;
        case kULMBlendBTF:
        case kULMBlendBTFPreWeighted: {
            const double keep = 1.0 - s[3];
            for (int k = 0; k < 3; ++k)
                a[k] = (mode == kULMBlendBTF ? s[3] * s[k] : s[k]) + keep * a[k];
            a[3] = s[3] + keep * a[3];
            return;
        }
        case kULMBlendFTB:
        case kULMBlendFTBPreWeighted: {
            const double open = 1.0 - a[3];
            for (int k = 0; k < 3; ++k) a[k] += open * (mode == kULMBlendFTB ? s[k] * s[3] : s[k]);
            a[3] += open * s[3];
            return;
        }
        case kULMBlendSumAndCount:
            // Partial images carry sums in red and counts in green: both add,
            // in the chip's 12-bit integers.
            for (int k = 0; k < 2; ++k) {
                const int sum = ULMConvertFloatTo12(a[k]) + ULMConvertFloatTo12(s[k]);
                a[k] = std::min(4095, sum) / 4095.0;
            }
            return;
        case kULMBlendEmptyBits:
            for (int k = 0; k < 4; ++k)
                if (s[k] > 0.0) a[k] = 1.0;
            return;
        default: {
            const bool minimum = mode <= kULMBlendMinAlpha;
            const int key = minimum ? mode - kULMBlendMinRed : mode - kULMBlendMaxRed;
            if (minimum ? s[key] < a[key] : s[key] > a[key]) acc = in;
            return;
        }
    }
}

bool Inside(const ULMImageRange& r, int64_t x, int64_t y) {
    return !r.IsEmpty() && x >= r.XOrigin() && y >= r.YOrigin() && x - r.XOrigin() < r.XSize() &&
           y - r.YOrigin() < r.YSize();
}

}  // namespace

const ULMFieldDescriptor ULMSoftwareBlendVolume::kTransferFields8[4] = {
    {0, 8, kULMUnsignedFraction},
    {8, 8, kULMUnsignedFraction},
    {16, 8, kULMUnsignedFraction},
    {24, 8, kULMUnsignedFraction}};
const ULMFieldDescriptor ULMSoftwareBlendVolume::kTransferFields12[4] = {
    {0, 12, kULMUnsignedFraction},
    {12, 12, kULMUnsignedFraction},
    {24, 12, kULMUnsignedFraction},
    {36, 12, kULMUnsignedFraction}};

bool ULMSoftwareBlendVolume::IsEightBitRGBA(const ULMFieldDescriptor* inFields) {
    return std::all_of(inFields, inFields + 4, [](const ULMFieldDescriptor& fd) {
        return IsValidFieldFormat(fd.m_format) && fd.m_size == 8 && fd.m_position % 8 == 0;
    });
}

void ULMSoftwareBlendVolume::Layout::Set(const ULMFieldDescriptor* inFields) {
    for (int k = 0; k < 4; ++k) fields[k] = inFields ? inFields[k] : ULMFieldDescriptor();
}

bool ULMSoftwareBlendVolume::Layout::Fits() const {
    if (bits != 8 && bits != 16 && bits != 32 && bits != 64) return false;
    return std::all_of(fields, fields + 4, [this](const ULMFieldDescriptor& fd) {
        return IsValidFieldDescriptor(fd, bits, 16);
    });
}

ULMStatus ULMSoftwareBlendVolume::UpdateSubBuffers(ULMLocation inLocation, int inWidth,
                                                   int inHeight, int inIndex) {
    if (inIndex < 0 || inIndex >= kMaxSubvolumes || inWidth <= 0 || inHeight <= 0 ||
        inLocation < kULMBoard0 || inLocation > kULMBoard7 || !ValidLocation(inLocation))
        return kULMErrArgument;
    ULMImageBuffer* held = m_subbuffer[inIndex];
    if (held && held->GetLocation() == inLocation && held->GetWidth() == unsigned(inWidth) &&
        held->GetHeight() == unsigned(inHeight) &&
        held->GetPixelSize() == unsigned(m_transfer.bits)) {
        bool same = true;
        for (int k = 0; k < 4; ++k)
            same = same && held->GetFieldDescriptor(ULMChannel(k)) == m_transfer.fields[k];
        if (same) return kULMOK;
    }
    m_subbuffer[inIndex].Assign(nullptr);
    ULMImageBufferInternal* made =
        ULMImageBufferInternal::CreateSimple(inLocation, unsigned(inWidth), unsigned(inHeight),
                                             unsigned(m_transfer.bits), 4, m_transfer.fields);
    if (!made) return kULMErrAlloc;
    m_subbuffer[inIndex].Assign(made);
    return kULMOK;
}

bool ULMSoftwareBlendVolume::ResultInFirstTransferBuffer(const ULMImageBuffer* color0) const {
    return ResultInFirstTransferBuffer(color0 ? m_image0.bits : m_transfer.bits);
}

bool ULMSoftwareBlendVolume::ResultInFirstTransferBuffer(int inResultBits) const {
    return m_transfer.bits == 32 && IsEightBitRGBA(m_transfer.fields) && inResultBits <= 32;
}

ULMSoftwareBlendVolume::Image0State ULMSoftwareBlendVolume::StateOf(const ULMImageBuffer* color0) {
    Image0State state;
    state.pixelSize = color0->GetPixelSize();
    state.inputLimits = color0->GetInputLimits();
    color0->GetBorderValue(state.border[0], state.border[1], state.border[2], state.border[3]);
    return state;
}

ULMStatus ULMSoftwareBlendVolume::StartBlend(ULMImageBuffer* color0, ULMImageBuffer*,
                                             int* blendIndex, ULMImageRange* outputRanges,
                                             char* accumBuffer, char** transferBuffers) {
    if (color0 == nullptr) return StartBlend(nullptr, blendIndex, outputRanges, accumBuffer, transferBuffers);
    const Image0State image0 = StateOf(color0);
    return StartBlend(&image0, blendIndex, outputRanges, accumBuffer, transferBuffers);
}

ULMStatus ULMSoftwareBlendVolume::StartBlend(const Image0State* image0, int* blendIndex,
                                             ULMImageRange* outputRanges, char* accumBuffer,
                                             char** transferBuffers) {
    const int n = m_numSubvolumes;
    if (!blendIndex || !outputRanges || !transferBuffers || n < 1 || n > kMaxSubvolumes ||
        !ULMValidBlendMode(m_blendMode) || !ULMValidBlendMode(m_LastBlendMode) ||
        !m_transfer.Fits())
        return kULMErrArgument;
    if (image0 && (!m_image0.Fits() || image0->pixelSize != unsigned(m_image0.bits)))
        return kULMErrArgument;

    const ULMImageRange& frame = m_maxImageRange;
    int bySubvolume[kMaxSubvolumes];  // position -> sub-volume
    std::fill(bySubvolume, bySubvolume + kMaxSubvolumes, -1);
    for (int s = 0; s < n; ++s) {
        const int p = blendIndex[s];
        if (p < 0 || p >= n || bySubvolume[p] >= 0 || !transferBuffers[s]) return kULMErrArgument;
        bySubvolume[p] = s;
        if (!outputRanges[s].IsEmpty() && !Contains(frame, outputRanges[s])) return kULMErrArgument;
    }

    const Layout& result = image0 ? m_image0 : m_transfer;
    const bool intoFirst = ResultInFirstTransferBuffer(image0 ? m_image0.bits : m_transfer.bits);
    const ULMImageRange input =
        image0 ? Intersect(image0->inputLimits, frame) : ULMImageRange();
    const bool readsAccum = image0 && !input.IsEmpty();
    if (!accumBuffer && (readsAccum || !intoFirst)) return kULMErrArgument;
    if (frame.IsEmpty()) return kULMOK;

    Colour border;
    if (image0) std::copy(image0->border, image0->border + 4, border.c);

    int order[kMaxSubvolumes];
    const bool backToFront = m_blendMode == kULMBlendBTF || m_blendMode == kULMBlendBTFPreWeighted;
    for (int i = 0; i < n; ++i) order[i] = backToFront ? n - 1 - i : i;

    const int first = bySubvolume[0];
    char* out = intoFirst ? transferBuffers[first] : accumBuffer;
    // Row by row, every pixel read before its result is written: the result
    // may replace a buffer it reads, in pixels no wider than the buffer's.
    // Coordinates are 64-bit, as a range may end beyond the int range.
    size_t at = 0;
    for (int64_t dy = 0; dy < frame.YSize(); ++dy) {
        for (int64_t dx = 0; dx < frame.XSize(); ++dx, ++at) {
            const int64_t x = frame.XOrigin() + dx, y = frame.YOrigin() + dy;
            Colour acc = border;
            uint64_t background = 0;
            if (readsAccum && Inside(input, x, y)) {
                background = ReadPixel(accumBuffer, at, m_image0.bits);
                acc = Decode(background, m_image0.fields);
            }
            for (int i = 0; i < n; ++i) {
                const int p = order[i];
                const int s = bySubvolume[p];
                const ULMImageRange& r = outputRanges[s];
                if (!Inside(r, x, y)) continue;
                const size_t index =
                    p == 0 ? at
                           : static_cast<size_t>((y - r.YOrigin()) * r.XSize() + (x - r.XOrigin()));
                Blend(m_blendMode, acc,
                      Decode(ReadPixel(transferBuffers[s], index, m_transfer.bits),
                             m_transfer.fields));
            }
            WritePixel(out, at, result.bits,
                       Encode(acc, result.fields, background & LowMask(result.bits)));
        }
    }
    return kULMOK;
}

}  // namespace ulm3
