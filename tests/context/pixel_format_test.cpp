// A full channel written through a pixel format's descriptors lands in
// memory where the format's name puts that channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/field_conversions.h"
#include "ulm3/pixel_format.h"

namespace ulm3::testing {
namespace {

// The unit of memory channel k of a format occupies, all ones, as a host
// reference: byte k, nibble k from the top of the 16-bit pixel, or the top
// 12 bits of 16-bit lane k.
std::string ExpectedMemory(size_t channels, size_t k, int bits) {
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
            std::string memory(pixelBits / 8, '\0');
            if (pixelBits == 16) {
                const uint16_t w = static_cast<uint16_t>(word);
                std::memcpy(memory.data(), &w, 2);
            } else if (pixelBits == 32) {
                const uint32_t w = static_cast<uint32_t>(word);
                std::memcpy(memory.data(), &w, 4);
            } else {
                std::memcpy(memory.data(), &word, 8);
            }
            EXPECT_EQ(memory, ExpectedMemory(order.size(), k, bits)) << "channel " << order[k];
        }
        if (order == "LA") {
            EXPECT_EQ(fields[1], ULMFieldDescriptor());
        }
    }
    EXPECT_EQ(ULMGetPixelFormatInfo(static_cast<ULMPixelFormat>(14), nullptr), 0);
}

}  // namespace
}  // namespace ulm3::testing
