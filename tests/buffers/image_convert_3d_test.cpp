// Conversion of an on-board image into a one-plane 3-D image on the
// simulated chip: every bit of every pixel survives, whatever the fields
// describe and however the image is addressed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "buffers/buffer_range_rule.h"
#include "pass_test_support.h"

namespace ulm3 {
namespace {

using test_support::Held;
using test_support::kRGBA8Fields;
using ConvertTo3DTest = test_support::PassTest;

TEST_F(ConvertTo3DTest, KeepsEveryBitUnderEachAddressingAndFieldLayout) {
    const ULMFieldDescriptor twelveAndFour[2] = {{0, 12, kULMUnsignedFraction},
                                                 {12, 4, kULMUnsignedInteger}};
    struct Case {
        const char* name;
        unsigned width, height, bits;
        const ULMFieldDescriptor* fields;
        int fieldCount;
        ULMAddressMode mode;
        int px, py;
    } cases[] = {
        {"rgba8 offset 0", 20, 10, 32, kRGBA8Fields, 4, kULMOffsetAddress, 0, 0},
        {"two of four bytes described, offset", 20, 10, 32, kRGBA8Fields, 2, kULMOffsetAddress, 6, 4},
        {"no field at all, wrap", 32, 32, 32, nullptr, 0, kULMWrapAddress, 32, 32},
        {"16-bit 12+4, offset", 33, 7, 16, twelveAndFour, 2, kULMOffsetAddress, 2, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Held<ULMImageBufferInternal> image(MakeImage(kULMBoard0, c.width, c.height, c.bits, c.fields,
                                                     c.fieldCount));
        ASSERT_NE(image.GetPointer(), nullptr);
        ASSERT_EQ(image->SetAddressParameters(c.mode, c.px, c.py), kULMOK);
        const bool wrap = c.mode == kULMWrapAddress;
        const ULMImageRange whole(static_cast<int>(c.width), static_cast<int>(c.height),
                                  wrap ? 0 : c.px, wrap ? 0 : c.py);
        const ULMImageRange limits(5, 3, whole.XOrigin() + 1, whole.YOrigin() + 2);
        ASSERT_EQ(image->SetInputLimits(limits), kULMOK);
        std::vector<uint8_t> pixels(static_cast<size_t>(c.width) * c.height * c.bits / 8);
        std::vector<uint64_t> random = Random<uint64_t>(pixels.size() / 8 + 1, c.width * 31 + c.bits);
        std::memcpy(pixels.data(), random.data(), pixels.size());
        ASSERT_EQ(image->Update(pixels.data(), whole, 0), kULMOK);

        ASSERT_FALSE(ULMFailed(image->ConvertTo3D()));
        EXPECT_TRUE(image->Is3D());
        const tulx7sim::BufferInfo info = Info(image->GetBuffer());
        EXPECT_EQ(info.dimension, 2);
        EXPECT_EQ(info.reportedSize[0], static_cast<int32_t>(c.width));
        EXPECT_EQ(info.reportedSize[1], static_cast<int32_t>(c.height));
        EXPECT_EQ(info.reportedSize[2], 1);

        std::vector<uint8_t> back(pixels.size());
        ASSERT_EQ(image->Unload(back.data(), whole, 0), kULMOK);
        EXPECT_EQ(back, pixels);
        // Nothing about the image itself changed, and the new buffer carries
        // its input limits as its valid range.
        EXPECT_EQ(image->GetWidth(), c.width);
        EXPECT_EQ(image->GetAddressMode(), c.mode);
        EXPECT_EQ(image->GetAddressParameterX(), c.px);
        EXPECT_EQ(image->GetFieldDescriptor(kULMChannelRed), c.fieldCount > 0 ? c.fields[0] : ULMFieldDescriptor());
        EXPECT_EQ(image->GetBuffer()->GetRange(), ValidRangeOf(limits));

        const size_t renders = Renders();
        EXPECT_EQ(image->ConvertTo3D(), kULMOK) << "a 3-D image converts again";
        EXPECT_EQ(Renders(), renders);
    }
}

TEST_F(ConvertTo3DTest, RefusesWhatItCannotCopyAndLeavesTheImageAsItWas) {
    Held<ULMImageBufferInternal> wide(MakeImage(kULMBoard0, 8, 8, 64, nullptr, 0));
    Held<ULMImageBufferInternal> below(MakeImage(kULMBoard0, 8, 8));
    ASSERT_EQ(below->SetOffset(-2, 0), kULMOK);
    Held<ULMImageBufferInternal> beyond(MakeImage(kULMBoard0, 8, 8));
    ASSERT_EQ(beyond->SetOffset(32762, 0), kULMOK);
    Held<ULMImageBufferInternal> mapped(MakeImage(kULMBoard0, 8, 8));
    void* view = nullptr;
    unsigned row = 0;
    ASSERT_EQ(mapped->Map(view, ULMImageRange(8, 8, 0, 0), row), kULMOK);
    struct Case {
        ULMImageBufferInternal* image;
        ULMStatus expected;
    } cases[] = {{wide, kULMErrUnimplemented},
                 {below, kULMErrArgument},
                 {beyond, kULMErrArgument},
                 {mapped, kULMErrBuffer}};
    for (const Case& c : cases) {
        KWBBuffer* before = c.image->GetBuffer();
        const int buffers = tulx7sim::GetStats().liveBuffers;
        EXPECT_EQ(c.image->ConvertTo3D(), c.expected);
        EXPECT_FALSE(c.image->Is3D());
        EXPECT_EQ(c.image->GetBuffer(), before);
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
    }
    EXPECT_EQ(Renders(), 0u);
    ASSERT_EQ(mapped->Unmap(view), kULMOK);
    EXPECT_FALSE(ULMFailed(mapped->ConvertTo3D())) << "converts once the mapping is gone";
}

}  // namespace
}  // namespace ulm3
