// A full channel written through a pixel format's descriptors lands in
// memory where the format's name puts that channel.
#include "ulm3/pixel_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/field_conversions.h"

namespace ulm3::testing {
namespace {

// The pixel word as this host stores it.
std::string InMemory(uint64_t word, int pixelBits) {
    const uint16_t word16 = static_cast<uint16_t>(word);
    const uint32_t word32 = static_cast<uint32_t>(word);
    const void* bytes = &word;
    if (pixelBits == 16) bytes = &word16;
    if (pixelBits == 32) bytes = &word32;
    return std::string(static_cast<const char*>(bytes), pixelBits / 8);
}

// The unit of memory the k-th named channel occupies, all ones: byte k, nibble k from the top of the 16-bit pixel,
// or the top 12 bits of 16-bit lane k.
std::string Expected(size_t channels, size_t k, int bits) {
    std::string memory(bits == 4 ? 2 : channels * (bits == 8 ? 1 : 2), '\0');
    if (bits == 8) memory[k] = '\xFF';
    const uint16_t unit = bits == 4 ? uint16_t(0xF000 >> (4 * k)) : uint16_t(0xFFF0);
    if (bits != 8) std::memcpy(&memory[bits == 4 ? 0 : 2 * k], &unit, 2);
    return memory;
}

TEST(PixelFormats, EachChannelLandsWhereTheNameSaysOnThisHost) {
    const char* orders[] = {"RGBA", "BGRA", "ARGB", "ABGR", "LA"};
    const int widths[] = {8, 4, 12};
    for (int format = kULMPixelFormatRGBA8; format <= kULMPixelFormatLA12; ++format) {
        const std::string order = orders[format < 12 ? format % 4 : 4];
        const int bits = format < 12 ? widths[format / 4] : format == kULMPixelFormatLA8 ? 8 : 12;
        SCOPED_TRACE(order + std::to_string(bits));
        ULMFieldDescriptor fields[4];
        const int pixelBits = ULMGetPixelFormatInfo(static_cast<ULMPixelFormat>(format), fields);
        for (size_t k = 0; k < order.size(); ++k) {
            const int channel = order[k] == 'L' ? 0 : static_cast<int>(std::string("RGBA").find(order[k]));
            const uint64_t word = ConvertDoubleToField(1.0, fields[channel], pixelBits);
            EXPECT_EQ(InMemory(word, pixelBits), Expected(order.size(), k, bits)) << "channel " << order[k];
        }
        EXPECT_TRUE(order != "LA" || fields[1] == ULMFieldDescriptor());  // luminance only in red
    }
    EXPECT_EQ(ULMGetPixelFormatInfo(static_cast<ULMPixelFormat>(14), nullptr), 0);
}

}  // namespace
}  // namespace ulm3::testing
