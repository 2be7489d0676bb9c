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
    using BufferTest::BufferTest;
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

// Boards without a direct path copy through host memory; a copy that fails
// there leaves the image where it was.
class NoPeerMigrationTest : public MigrationTest {
protected:
    NoPeerMigrationTest() : MigrationTest(ulm3::testing::Settings([](auto& c) { c.minor = 2; })) {}
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

// The copy through host memory is loaded by a host step still to run when
// the move returns: an offset given to the image before anyone waits is the
// image's from then on, and the copy lands where the move was started for.
TEST_F(NoPeerMigrationTest, AnOffsetSetBeforeTheWaitDoesNotMoveTheCopy) {
    Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard1, 40, 30, 32, 0, nullptr));
    ASSERT_NE(image.GetPointer(), nullptr);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(image->Update(m_pixels.data(), ULMImageRange(40, 30, 0, 0), 0), kULMOK);
    const ULMSyncEvent moved = image->StartMigrate(kULMBoard0);
    ASSERT_FALSE(ULMFailed(moved.Status()));
    ASSERT_EQ(image->SetOffset(6, 4), kULMOK);
    ASSERT_EQ(moved.Wait(-1), kULMOK);
    std::vector<uint32_t> out(40 * 30, 0);
    ASSERT_EQ(image->Unload(out.data(), kWhole, 0), kULMOK);
    EXPECT_EQ(out, m_pixels);
}

}  // namespace
}  // namespace ulm3
