// The location-independent image buffer: creation in every location, the
// same pixel script giving the same pixels wherever the image lives, band
// transfers joined into one event, and resampling off the boards.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffers/image_buffer_internal.h"
#include "foundation/shareable.h"
#include "omni_test_fixture.h"

namespace ulm3 {
namespace {

using test_support::Held;
using test_support::OmniBoardsTest;
using test_support::OmniTest;

TEST_F(OmniTest, FactoriesRefuseBadArgumentsAndBuildEveryLocation) {
    const ULMFieldDescriptor red(0, 8, kULMUnsignedInteger);
    const ULMFieldDescriptor wide(0, 20, kULMUnsignedInteger);
    const ULMFieldDescriptor five[5] = {red, red, red, red, red};
    struct Refused {
        ULMLocation location;
        unsigned width, height, bits;
        int fields;
        const ULMFieldDescriptor* array;
    } refused[] = {
        {kULMAnyBoard, 8, 8, 32, 0, nullptr},   {kULMBoard2, 8, 8, 32, 0, nullptr},
        {kULMNoBufferAttached, 8, 8, 32, 0, nullptr},
        {kULMSystem, 0, 8, 32, 0, nullptr},     {kULMSystem, 8, 0, 32, 0, nullptr},
        {kULMSystem, 8, 8, 8, 0, nullptr},      {kULMSystem, 8, 8, 24, 0, nullptr},
        {kULMSystem, 8, 8, 32, 5, five},        {kULMSystem, 8, 8, 32, 1, nullptr},
        {kULMSystem, 8, 8, 64, 1, &wide},       {kULMSystem, 8, 8, 32, -1, nullptr},
        {kULMSystem, 1073764994, 2147437309, 64, 0, nullptr},  // bytes wrap in 64 bits
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(ULMImageBuffer::Create(r.location, r.width, r.height, r.bits, r.fields, r.array),
                  nullptr)
            << r.location << " " << r.width << "x" << r.height << " " << r.bits << " " << r.fields;
    }
    for (ULMLocation location : {kULMAnyBoard, kULMBoard2})
        EXPECT_EQ(ULMDepthBuffer::Create(location, 8, 8), nullptr) << location;
    EXPECT_EQ(ULMDepthBuffer::Create(kULMSystem, 0, 8), nullptr);
    EXPECT_EQ(ULMDepthBuffer::Create(kULMSystem, 8, 0), nullptr);

    struct Made {
        ULMLocation location;
        int parts;
    } made[] = {{kULMSystem, 0}, {kULMBoard0, 1}, {kULMBoard1, 1},
                {kULMMultiBoardMode1, 2}, {kULMMultiBoardMode2, 1}};
    for (const Made& m : made) {
        Held<ULMImageBuffer> image(ULMImageBuffer::Create(m.location, 20, 10, 16, 1, &red));
        ASSERT_NE(image.GetPointer(), nullptr) << m.location;
        EXPECT_TRUE(IsObjectType(image, kObjectTypeULMOmniImageBuffer));
        EXPECT_EQ(image->GetLocation(), m.location);
        EXPECT_EQ(static_cast<ULMOmniImageBuffer*>(image.GetPointer())->GetNumberBuffers(), m.parts);
        EXPECT_EQ(image->GetFieldDescriptor(kULMChannelRed), red);
        EXPECT_EQ(image->GetFieldDescriptor(kULMChannelAlpha), ULMFieldDescriptor());
        EXPECT_EQ(image->GetMigrationMode(), kULMMigrationNone);

        Held<ULMDepthBuffer> depth(ULMDepthBuffer::Create(m.location, 20, 10));
        ASSERT_NE(depth.GetPointer(), nullptr) << m.location;
        EXPECT_TRUE(IsObjectType(depth, kObjectTypeULMOmniDepthBuffer));
        EXPECT_EQ(depth->GetLocation(), m.location);
        // Under the second scheme each board holds a depth copy.
        EXPECT_EQ(static_cast<ULMOmniDepthBuffer*>(depth.GetPointer())->GetNumberBuffers(),
                  m.location == kULMMultiBoardMode2 ? 2 : m.parts);
    }
    Held<ULMImageBuffer> noFields(ULMImageBuffer::Create(kULMSystem, 4, 4, 64, 0, nullptr));
    EXPECT_NE(noFields.GetPointer(), nullptr);
    const uint64_t pixel = 0;
    EXPECT_EQ(noFields->Update(&pixel, ULMImageRange(1, 1, 0, 0), 0x80000000u), kULMErrArgument);
    // Board coordinates are 16-bit: a board image is at most 32768 wide.
    EXPECT_EQ(ULMImageBuffer::Create(kULMBoard0, 32769, 2, 16, 0, nullptr), nullptr);
}

TEST_F(OmniTest, WithoutBoardsTheMultiboardLocationsAreRefused) {
    CloseEverything();
    UsePlatform(test_support::SimBoards(0));
    ASSERT_NE(ULMOpen(), kULMOK);
    for (ULMLocation location : {kULMMultiBoardMode1, kULMMultiBoardMode2}) {
        EXPECT_EQ(ULMImageBuffer::Create(location, 8, 8, 32, 0, nullptr), nullptr) << location;
        EXPECT_EQ(ULMDepthBuffer::Create(location, 8, 8), nullptr) << location;
    }
}

// The same updates, field updates, clears and unloads at every location
// leave the same pixels as a plain host model.
TEST_P(OmniBoardsTest, OnePixelScriptGivesOneResultEverywhere) {
    constexpr int kW = 40, kH = 100;
    const ULMFieldDescriptor green(8, 16, kULMUnsignedInteger);
    const std::vector<uint32_t> start = Random<uint32_t>(kW * kH, 11);
    // Field values in rows of 30 for a 24 x 90 rectangle: wider host rows.
    const ULMImageRange fieldRange(24, 90, 5, 3);
    const std::vector<uint16_t> field = Random<uint16_t>(30 * 90, 12);
    const ULMImageRange cleared(7, 60, 30, 20);

    std::vector<uint32_t> model = start;
    for (int y = 0; y < fieldRange.YSize(); ++y)
        for (int x = 0; x < fieldRange.XSize(); ++x) {
            uint32_t& p = model[(y + 3) * kW + x + 5];
            p = (p & ~0x00FFFF00u) | (uint32_t{field[y * 30 + x]} << 8);
        }
    for (int y = 20; y < 80; ++y)
        for (int x = 30; x < 37; ++x) model[y * kW + x] = 0xC0FFEE11u;

    for (ULMLocation location : {kULMSystem, kULMBoard0, LastBoard(), kULMMultiBoardMode1,
                                 kULMMultiBoardMode2}) {
        Held<ULMOmniImageBuffer> image(Image(location, kW, kH));
        ASSERT_NE(image.GetPointer(), nullptr) << location;
        const ULMImageRange whole(kW, kH, 0, 0);
        ASSERT_EQ(image->Update(start.data(), whole, 0), kULMOK) << location;
        ASSERT_EQ(image->UpdateField(field.data(), green, fieldRange, 30), kULMOK) << location;
        ASSERT_EQ(image->Clear(cleared, 0xFFFFFFFFC0FFEE11ull), kULMOK) << location;
        EXPECT_EQ(Pixels<uint32_t>(image), model) << location;

        std::vector<uint16_t> back(30 * 90, 0);
        ASSERT_EQ(image->UnloadField(back.data(), green, fieldRange, 30), kULMOK);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 24; ++x)
                ASSERT_EQ(back[y * 30 + x], (model[(y + 3) * kW + x + 5] >> 8) & 0xFFFF)
                    << location << " " << x << "," << y;

        // Empty transfers and clears do nothing, wherever the image is.
        EXPECT_EQ(image->Clear(ULMImageRange(0, 5, 2, 2), 0), kULMOK) << location;
        EXPECT_EQ(image->StartUnload(back.data(), ULMImageRange(0, 0, 0, 0), 0).Status(), kULMOK);
        EXPECT_EQ(image->StartUpdate(back.data(), ULMImageRange(0, 5, 2, 2), 0).Status(),
                  kULMErrArgument);
        // Host rows shorter than the range would overlap; no host data at all
        // is refused too.
        EXPECT_EQ(image->Update(start.data(), ULMImageRange(10, 2, 0, 0), 9), kULMErrArgument);
        EXPECT_EQ(image->Unload(nullptr, ULMImageRange(10, 2, 0, 0), 0), kULMErrArgument);
        EXPECT_EQ(image->UpdateField(field.data(), ULMFieldDescriptor(4, 12, kULMUnsignedInteger),
                                     fieldRange, 0),
                  kULMErrArgument)
            << "not a DMA field";
        EXPECT_EQ(Pixels<uint32_t>(image), model) << location;
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, OmniBoardsTest, ::testing::Values(2, 8));

TEST_F(OmniTest, EveryBandTransferIsJoinedIntoTheReturnedEvent) {
    Held<ULMOmniImageBuffer> image(Image(kULMMultiBoardMode1, 16, 64));
    ASSERT_NE(image.GetPointer(), nullptr);
    const std::vector<uint32_t> in = Random<uint32_t>(16 * 64, 5);
    tulx7sim::PauseBoard(1);
    const ULMSyncEvent update = image->StartUpdate(in.data(), ULMImageRange(16, 64, 0, 0), 0);
    EXPECT_EQ(update.Wait(30), kULMTimeout) << "band 1's board is paused";
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(update.Wait(-1), kULMOK);
    EXPECT_EQ(Pixels<uint32_t>(image), in);
}

// Off the boards the image first moves to the destination's board with what
// its mode carries; where it may not move, it stays and a temporary copy
// serves.
TEST_F(OmniTest, ResampleOffTheBoardsMovesTheSourceOrCopiesIt) {
    const ULMFieldDescriptor red(0, 8, kULMUnsignedFraction);
    Held<ULMImageBuffer> destination(ULMImageBuffer::Create(kULMBoard1, 8, 8, 32, 1, &red));
    std::vector<uint32_t> firstResult;
    const std::vector<uint32_t> pixels = Random<uint32_t>(16 * 16, 13);
    const ULMImageRange limits(4, 4, 2, 2);
    struct Case {
        ULMLocation from;
        ULMMigrationMode mode;
        ULMLocation after;
    } cases[] = {
        {kULMSystem, kULMMigrationNone, kULMSystem},
        {kULMMultiBoardMode1, kULMMigrationNone, kULMMultiBoardMode1},
        {kULMSystem, kULMMigrationCopyInput, kULMBoard1},
        {kULMMultiBoardMode1, kULMMigrationFullCopy, kULMBoard1},
    };
    for (const Case& c : cases) {
        Held<ULMImageBuffer> source(ULMImageBuffer::Create(c.from, 16, 16, 32, 1, &red));
        ASSERT_EQ(source->Update(pixels.data(), ULMImageRange(16, 16, 0, 0), 0), kULMOK);
        ASSERT_EQ(source->SetBorderValue(1, 0.5, 0, 1), kULMOK);
        ASSERT_EQ(source->SetInputLimits(limits), kULMOK);
        ASSERT_EQ(source->SetMigrationMode(c.mode), kULMOK);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        source->Resample(destination, ULMImageRange(8, 8, 0, 0), ULMImageRange(7, 9, 1, 3));
        // Moved or copied, the source gives one result, border included.
        if (firstResult.empty()) firstResult = Pixels<uint32_t>(destination);
        EXPECT_EQ(Pixels<uint32_t>(destination), firstResult) << c.from << " " << c.mode;
        EXPECT_EQ(source->GetLocation(), c.after) << c.from << " " << c.mode;
        EXPECT_EQ(source->GetMigrationMode(), c.mode);
        EXPECT_EQ(source->GetInputLimits(), limits);
        if (c.after == c.from) {
            EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers) << "the temporary copy is gone";
            EXPECT_EQ(Pixels<uint32_t>(source), pixels);
        } else if (c.mode == kULMMigrationFullCopy) {
            EXPECT_EQ(Pixels<uint32_t>(source), pixels) << "every pixel came along";
        }
    }
}

}  // namespace
}  // namespace ulm3
