// On-board image and depth buffers moving between boards: what each mode
// carries, the order of refusals, 3-D images, and failed moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/driver_requests.h"
#include "buffer_test_fixture.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::BufferTestOn;
using test_support::Held;

// An image of 40 x 30 at offset (6, 4) on board 0, filled with known words.
class ImageMigrationTest : public BufferTest {
protected:
    void SetUp() override {
        BufferTest::SetUp();
        Reload();
    }
    void TearDown() override {
        m_image.Assign(nullptr);
        BufferTest::TearDown();
    }

    // A fresh image in place of the current one.
    void Reload() {
        m_image.Assign(ULMImageBufferInternal::CreateSimple(kULMBoard0, 40, 30, 32, 0, nullptr));
        ASSERT_NE(m_image.GetPointer(), nullptr);
        ASSERT_EQ(m_image->SetOffset(6, 4), kULMOK);
        ASSERT_EQ(m_image->Update(m_pixels.data(), Whole(), 0), kULMOK);
        tulx7sim::ClearRequestLog();
    }

    static ULMImageRange Whole() { return ULMImageRange(40, 30, 6, 4); }

    // Each pixel of the window is its own copy, or still board fill.
    void ExpectCarried(const ULMImageRange& carried) {
        std::vector<uint32_t> out(40 * 30, 0);
        ASSERT_EQ(m_image->Unload(out.data(), Whole(), 0), kULMOK);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool in = Contains(carried, ULMImageRange(1, 1, x + 6, y + 4)) &&
                                !carried.IsEmpty();
                ASSERT_EQ(out[y * 40 + x], in ? m_pixels[y * 40 + x] : Fill<uint32_t>())
                    << x << "," << y;
            }
    }

    Held<ULMImageBufferInternal> m_image;
    const std::vector<uint32_t> m_pixels = Random<uint32_t>(40 * 30, 3);
};

TEST_F(ImageMigrationTest, RefusalsComeInTheirOrder) {
    KWBBuffer* before = m_image->GetBuffer();
    // The current board is done under every mode, None included.
    EXPECT_EQ(m_image->StartMigrate(kULMBoard0).Status(), kULMOK);
    EXPECT_EQ(m_image->Migrate(kULMBoard1), kULMErrBuffer);
    EXPECT_EQ(m_image->Migrate(kULMSystem), kULMErrBuffer);
    EXPECT_EQ(m_image->SetMigrationMode(static_cast<ULMMigrationMode>(4)), kULMErrArgument);
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    for (ULMLocation refused : {kULMSystem, kULMAnyBoard, kULMBoard2, kULMMultiBoardMode1,
                                kULMNoBufferAttached})
        EXPECT_EQ(m_image->StartMigrate(refused).Status(), kULMErrArgument) << refused;
    EXPECT_EQ(m_image->GetLocation(), kULMBoard0);
    EXPECT_EQ(m_image->GetBuffer(), before);
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u);
}

TEST_F(ImageMigrationTest, EachModeCarriesItsRectangle) {
    const ULMImageRange limits(10, 5, 12, 8);
    struct Case {
        ULMMigrationMode mode;
        ULMImageRange inputLimits;
        ULMImageRange carried;
    } cases[] = {
        {kULMMigrationNoCopy, limits, ULMImageRange()},
        {kULMMigrationCopyInput, ULMImageRange(), ULMImageRange()},
        {kULMMigrationCopyInput, limits, limits},
        {kULMMigrationFullCopy, limits, Whole()},
    };
    for (const Case& c : cases) {
        Reload();
        ASSERT_EQ(m_image->SetMigrationMode(c.mode), kULMOK);
        ASSERT_EQ(m_image->SetInputLimits(c.inputLimits), kULMOK);
        const uint32_t oldId = m_image->GetBuffer()->GetDriverID();
        ASSERT_EQ(m_image->Migrate(kULMBoard1), kULMOK) << c.mode;
        EXPECT_EQ(m_image->GetLocation(), kULMBoard1);
        EXPECT_EQ(Info(m_image->GetBuffer()).board, 1);
        EXPECT_FALSE(Live(oldId)) << "the old buffer was kept";
        EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), c.carried.IsEmpty() ? 0u : 1u);
        // Addressing, limits and the valid range come along.
        EXPECT_EQ(m_image->GetAddressParameterX(), 6);
        EXPECT_EQ(m_image->GetBuffer()->m_offset_V, 4);
        EXPECT_EQ(m_image->GetBuffer()->GetRange(),
                  c.inputLimits.IsEmpty() ? KWBRange() : KWBRange(12, 8, 21, 12));
        ExpectCarried(c.carried);
    }
}

TEST_F(ImageMigrationTest, WrappedImageMovesWithItsModuli) {
    ASSERT_EQ(m_image->SetWrap(64, 32), kULMOK);
    ASSERT_EQ(m_image->SetInputLimits(ULMImageRange(4, 4, 60, 30)), kULMOK);
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    std::vector<uint32_t> before(40 * 30), after(40 * 30);
    ASSERT_EQ(m_image->Unload(before.data(), ULMImageRange(40, 30, 0, 0), 0), kULMOK);
    ASSERT_EQ(m_image->Migrate(kULMBoard1), kULMOK);
    EXPECT_TRUE(m_image->GetBuffer()->IsWrapped());
    EXPECT_EQ(m_image->GetBuffer()->GetRange(), KWBRange()) << "wrapped buffers keep no valid range";
    ASSERT_EQ(m_image->Unload(after.data(), ULMImageRange(40, 30, 0, 0), 0), kULMOK);
    EXPECT_EQ(after, before);
}

TEST_F(ImageMigrationTest, MoveWithoutABufferOnTheTargetFails) {
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationNoCopy), kULMOK);
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 1, 3);
    EXPECT_TRUE(ULMFailed(m_image->Migrate(kULMBoard1)));
    EXPECT_EQ(m_image->GetLocation(), kULMBoard0);
    ExpectCarried(Whole());
}

// A 3-D image keeps its planes when it moves, with a copy or without.
TEST_F(BufferTest, ThreeDimensionalImageMigratesAsThreeDimensional) {
    for (ULMMigrationMode mode : {kULMMigrationFullCopy, kULMMigrationNoCopy}) {
        Held<ULMImageBufferInternal> image(
            ULMImageBufferInternal::Create3D(kULMBoard0, 16, 16, 16, 0, nullptr, 3));
        ASSERT_NE(image.GetPointer(), nullptr);
        for (int w = 0; w < 3; ++w)
            SetElement<uint16_t>(image->GetBuffer(), 5, 7, w, static_cast<uint16_t>(0x100 + w));
        ASSERT_EQ(image->SetMigrationMode(mode), kULMOK);
        ASSERT_EQ(image->Migrate(kULMBoard1), kULMOK) << mode;
        EXPECT_TRUE(image->Is3D());
        const tulx7sim::BufferInfo info = Info(image->GetBuffer());
        EXPECT_EQ(info.board, 1);
        EXPECT_EQ(info.dimension, 2);
        EXPECT_EQ(info.reportedSize[2], 3);
        for (int w = 0; w < 3; ++w)
            EXPECT_EQ(Element<uint16_t>(image->GetBuffer(), 5, 7, w),
                      mode == kULMMigrationFullCopy ? 0x100 + w : Fill<uint16_t>())
                << w;
    }
}

// Boards without a direct path copy through host memory.
class NoPeerMigrationTest : public BufferTestOn {
protected:
    static tulx7sim::SimConfig NoPeers() {
        tulx7sim::SimConfig config;
        config.minor = 2;
        return config;
    }
    NoPeerMigrationTest() : BufferTestOn(NoPeers()) {}
};

TEST_F(NoPeerMigrationTest, FullCopyBouncesThroughHostMemory) {
    Held<ULMImageBufferInternal> image(
        ULMImageBufferInternal::CreateSimple(kULMBoard1, 20, 20, 64, 0, nullptr));
    const std::vector<uint64_t> in = Random<uint64_t>(20 * 20, 9);
    ASSERT_EQ(image->Update(in.data(), ULMImageRange(20, 20, 0, 0), 0), kULMOK);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(image->Migrate(kULMBoard0), kULMOK);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), 0u);
    std::vector<uint64_t> out(20 * 20);
    ASSERT_EQ(image->Unload(out.data(), ULMImageRange(20, 20, 0, 0), 0), kULMOK);
    EXPECT_EQ(out, in);
}

TEST_F(NoPeerMigrationTest, FailedCopyKeepsTheImageWhereItWas) {
    Held<ULMImageBufferInternal> image(
        ULMImageBufferInternal::CreateSimple(kULMBoard0, 20, 20, 32, 0, nullptr));
    const std::vector<uint32_t> in = Random<uint32_t>(20 * 20, 8);
    ASSERT_EQ(image->Update(in.data(), ULMImageRange(20, 20, 0, 0), 0), kULMOK);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    KWBBuffer* before = image->GetBuffer();
    const int buffers = tulx7sim::GetStats().liveBuffers;
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_UNLOAD, 1, 6);
    EXPECT_TRUE(ULMFailed(image->Migrate(kULMBoard1)));
    EXPECT_EQ(image->GetLocation(), kULMBoard0);
    EXPECT_EQ(image->GetBuffer(), before);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers) << "the new buffer was kept";
    std::vector<uint32_t> out(20 * 20);
    ASSERT_EQ(image->Unload(out.data(), ULMImageRange(20, 20, 0, 0), 0), kULMOK);
    EXPECT_EQ(out, in);
}

TEST_F(BufferTest, DepthMoveChecksTheTargetFirstAndKeepsItsLimits) {
    Held<ULMDepthBufferInternal> depth(ULMDepthBufferInternal::CreateSimple(kULMBoard0, 24, 24));
    ASSERT_NE(depth.GetPointer(), nullptr);
    for (ULMMigrationMode mode : {kULMMigrationNone, kULMMigrationFullCopy}) {
        ASSERT_EQ(depth->SetMigrationMode(mode), kULMOK);
        EXPECT_EQ(depth->StartMigrate(kULMSystem).Status(), kULMErrArgument) << mode;
        EXPECT_EQ(depth->StartMigrate(kULMBoard5).Status(), kULMErrArgument) << mode;
        EXPECT_EQ(depth->StartMigrate(kULMBoard0).Status(), kULMOK) << mode;
    }
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationNone), kULMOK);
    EXPECT_EQ(depth->Migrate(kULMBoard1), kULMErrBuffer);

    ASSERT_EQ(depth->SetOffset(2, 2), kULMOK);
    const std::vector<uint32_t> in = Random<uint32_t>(24 * 24, 4);
    ASSERT_EQ(depth->Update(in.data(), ULMImageRange(24, 24, 2, 2), 0, ULMDepthBuffer::kDepth24Low),
              kULMOK);
    ASSERT_EQ(depth->SetInputLimits(ULMImageRange(6, 6, 4, 4)), kULMOK);
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationCopyInput), kULMOK);
    ASSERT_EQ(depth->Migrate(kULMBoard1), kULMOK);
    EXPECT_EQ(depth->GetLocation(), kULMBoard1);
    // The moved buffer's valid range follows the input limits.
    EXPECT_EQ(depth->GetBuffer()->GetRange(), KWBRange(4, 4, 9, 9));
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 2, 2), in[2 * 24 + 2]);
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 8, 2), Fill<uint32_t>()) << "outside the limits";

    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationNoCopy), kULMOK);
    ASSERT_EQ(depth->Migrate(kULMBoard0), kULMOK);
    EXPECT_EQ(Element<uint32_t>(depth->GetBuffer(), 2, 2), Fill<uint32_t>());
}

}  // namespace
}  // namespace ulm3
