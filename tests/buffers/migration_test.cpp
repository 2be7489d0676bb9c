// On-board image and depth buffers moving between boards: what each mode
// carries, the order of refusals, 3-D images, and failed moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffer_test_fixture.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

using test_support::BufferTest;
using test_support::Held;

class MigrationTest : public BufferTest {
protected:
    // A 40 x 30 image of known words at offset (6, 4) on `board`.
    void Reload(ULMLocation board = kULMBoard0) {
        m_image.Assign(ULMImageBufferInternal::CreateSimple(board, 40, 30, 32, 0, nullptr));
        ASSERT_NE(m_image.GetPointer(), nullptr);
        ASSERT_EQ(m_image->SetOffset(6, 4), kULMOK);
        ASSERT_EQ(m_image->Update(m_pixels.data(), kWhole, 0), kULMOK);
        tulx7sim::ClearRequestLog();
    }
    void TearDown() override {
        m_image.Assign(nullptr);
        BufferTest::TearDown();
    }

    // Pixels inside `carried` are the image's own, the rest board fill.
    void ExpectCarried(const ULMImageRange& carried) {
        std::vector<uint32_t> out(40 * 30, 0);
        ASSERT_EQ(m_image->Unload(out.data(), kWhole, 0), kULMOK);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool in = !carried.IsEmpty() && Contains(carried, ULMImageRange(1, 1, x + 6, y + 4));
                ASSERT_EQ(out[y * 40 + x], in ? m_pixels[y * 40 + x] : Fill<uint32_t>()) << x << "," << y;
            }
    }

    static inline const ULMImageRange kWhole{40, 30, 6, 4};
    Held<ULMImageBufferInternal> m_image;
    const std::vector<uint32_t> m_pixels = Random<uint32_t>(40 * 30, 3);
};

TEST_F(MigrationTest, RefusalsComeInTheirOrder) {
    Reload();
    KWBBuffer* before = m_image->GetBuffer();
    EXPECT_EQ(m_image->StartMigrate(kULMBoard0).Status(), kULMOK) << "the current board, under None";
    EXPECT_EQ(m_image->Migrate(kULMBoard1), kULMErrBuffer);
    EXPECT_EQ(m_image->Migrate(kULMSystem), kULMErrBuffer);
    EXPECT_EQ(m_image->SetMigrationMode(static_cast<ULMMigrationMode>(4)), kULMErrArgument);
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    for (ULMLocation refused : {kULMSystem, kULMAnyBoard, kULMBoard2, kULMMultiBoardMode1})
        EXPECT_EQ(m_image->StartMigrate(refused).Status(), kULMErrArgument) << refused;
    EXPECT_EQ(m_image->GetLocation(), kULMBoard0);
    EXPECT_EQ(m_image->GetBuffer(), before);
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u);
}

TEST_F(MigrationTest, EachModeCarriesItsRectangle) {
    const ULMImageRange limits(10, 5, 12, 8);
    struct Case {
        ULMMigrationMode mode;
        ULMImageRange inputLimits, carried;
    } cases[] = {
        {kULMMigrationNoCopy, limits, ULMImageRange()},
        {kULMMigrationCopyInput, ULMImageRange(), ULMImageRange()},
        {kULMMigrationCopyInput, limits, limits},
        {kULMMigrationFullCopy, limits, kWhole},
    };
    for (const Case& c : cases) {
        Reload();
        ASSERT_EQ(m_image->SetMigrationMode(c.mode), kULMOK);
        ASSERT_EQ(m_image->SetInputLimits(c.inputLimits), kULMOK);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        ASSERT_EQ(m_image->Migrate(kULMBoard1), kULMOK) << c.mode;
        EXPECT_EQ(Info(m_image->GetBuffer()).board, 1);
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers) << "the old buffer was kept";
        EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), c.carried.IsEmpty() ? 0u : 1u);
        // Addressing and the valid range come along.
        EXPECT_EQ(m_image->GetBuffer()->m_offset_V, 4);
        EXPECT_EQ(m_image->GetBuffer()->GetRange(),
                  c.inputLimits.IsEmpty() ? KWBRange() : KWBRange(12, 8, 21, 12));
        ExpectCarried(c.carried);
    }
    // A wrapped image keeps its moduli and no valid range.
    Reload();
    ASSERT_EQ(m_image->SetWrap(64, 32), kULMOK);
    ASSERT_EQ(m_image->SetInputLimits(limits), kULMOK);
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(m_image->Migrate(kULMBoard1), kULMOK);
    EXPECT_TRUE(m_image->GetBuffer()->IsWrapped());
    EXPECT_EQ(m_image->GetBuffer()->GetRange(), KWBRange());
    ASSERT_EQ(m_image->SetOffset(6, 4), kULMOK);
    ExpectCarried(kWhole);
}

// A 3-D image keeps its planes when it moves, with a copy or without.
TEST_F(MigrationTest, ThreeDimensionalImageMigratesAsThreeDimensional) {
    for (ULMMigrationMode mode : {kULMMigrationFullCopy, kULMMigrationNoCopy}) {
        Held<ULMImageBufferInternal> image(
            ULMImageBufferInternal::Create3D(kULMBoard0, 16, 16, 16, 0, nullptr, 3));
        ASSERT_NE(image.GetPointer(), nullptr);
        for (int w = 0; w < 3; ++w)
            SetElement<uint16_t>(image->GetBuffer(), 5, 7, w, static_cast<uint16_t>(0x100 + w));
        ASSERT_EQ(image->SetMigrationMode(mode), kULMOK);
        ASSERT_EQ(image->Migrate(kULMBoard1), kULMOK) << mode;
        EXPECT_TRUE(image->Is3D());
        EXPECT_EQ(Info(image->GetBuffer()).reportedSize[2], 3);
        for (int w = 0; w < 3; ++w)
            EXPECT_EQ(Element<uint16_t>(image->GetBuffer(), 5, 7, w),
                      mode == kULMMigrationFullCopy ? 0x100 + w : Fill<uint16_t>());
    }
}

// Boards without a direct path copy through host memory; a copy that fails
// there leaves the image where it was.
class NoPeerMigrationTest : public MigrationTest {
protected:
    tulx7sim::SimConfig Config() const override {
        tulx7sim::SimConfig config;
        config.minor = 2;
        return config;
    }
};

TEST_F(NoPeerMigrationTest, CopiesBounceThroughHostMemoryOrFailWhole) {
    Reload(kULMBoard1);
    ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    KWBBuffer* before = m_image->GetBuffer();
    const int buffers = tulx7sim::GetStats().liveBuffers;
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_UNLOAD, 1, 6);
    EXPECT_TRUE(ULMFailed(m_image->Migrate(kULMBoard0)));
    EXPECT_EQ(m_image->GetLocation(), kULMBoard1);
    EXPECT_EQ(m_image->GetBuffer(), before);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers) << "the new buffer was kept";
    ExpectCarried(kWhole);

    ASSERT_EQ(m_image->Migrate(kULMBoard0), kULMOK);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), 0u);
    EXPECT_EQ(Info(m_image->GetBuffer()).board, 0);
    ExpectCarried(kWhole);
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
}

}  // namespace
}  // namespace ulm3
