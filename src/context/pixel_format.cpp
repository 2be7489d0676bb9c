// The table of base-plane pixel formats, laid out for the host's byte order
// once at load.
#include "ulm3/pixel_format.h"

#include <array>
#include <bit>
#include <cstddef>

namespace ulm3 {

namespace {

struct ULMPixelFormatInfo {
    int m_pixelBits = 0;
    ULMFieldDescriptor m_fields[4];  // red, green, blue, alpha
};

// How the channels named in a format sit in the pixel word.
enum class Layout {
    kBytes,    // one byte per channel, the first-named at the lowest address
    kNibbles,  // one nibble per channel, the first-named in the top bits
    kLanes,    // one 16-bit lane per channel in address order, 12 bits at its top
};

// Channel index of a letter of the format's name; luminance is red.
constexpr int ChannelOf(char c) {
    switch (c) {
        case 'R':
        case 'L': return 0;
        case 'G': return 1;
        case 'B': return 2;
        default: return 3;
    }
}

ULMPixelFormatInfo Describe(const char* inOrder, int inChannels, Layout inLayout) {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    const int unitBits = inLayout == Layout::kBytes ? 8 : inLayout == Layout::kNibbles ? 4 : 16;
    ULMPixelFormatInfo info;
    info.m_pixelBits = unitBits * inChannels;
    for (int k = 0; k < inChannels; ++k) {
        // Nibbles are numbered from the top of the word whatever the byte
        // order; bytes and lanes follow the addresses.
        const bool fromTop = inLayout == Layout::kNibbles || !kLittle;
        const int unit = fromTop ? inChannels - 1 - k : k;
        const int offset = inLayout == Layout::kLanes ? 4 : 0;
        const int size = inLayout == Layout::kBytes ? 8 : inLayout == Layout::kNibbles ? 4 : 12;
        info.m_fields[ChannelOf(inOrder[k])] =
            ULMFieldDescriptor(unit * unitBits + offset, size, kULMUnsignedFraction);
    }
    return info;
}

const std::array<ULMPixelFormatInfo, 14> sPixelFormatTable = {
    Describe("RGBA", 4, Layout::kBytes),   Describe("BGRA", 4, Layout::kBytes),
    Describe("ARGB", 4, Layout::kBytes),   Describe("ABGR", 4, Layout::kBytes),
    Describe("RGBA", 4, Layout::kNibbles), Describe("BGRA", 4, Layout::kNibbles),
    Describe("ARGB", 4, Layout::kNibbles), Describe("ABGR", 4, Layout::kNibbles),
    Describe("RGBA", 4, Layout::kLanes),   Describe("BGRA", 4, Layout::kLanes),
    Describe("ARGB", 4, Layout::kLanes),   Describe("ABGR", 4, Layout::kLanes),
    Describe("LA", 2, Layout::kBytes),     Describe("LA", 2, Layout::kLanes),
};

}  // namespace

int ULMGetPixelFormatInfo(ULMPixelFormat inFormat, ULMFieldDescriptor outFields[4]) {
    if (inFormat < kULMPixelFormatRGBA8 || inFormat > kULMPixelFormatLA12 || outFields == nullptr) return 0;
    const ULMPixelFormatInfo& info = sPixelFormatTable[static_cast<std::size_t>(inFormat)];
    for (int i = 0; i < 4; ++i) outFields[i] = info.m_fields[i];
    return info.m_pixelBits;
}

}  // namespace ulm3
