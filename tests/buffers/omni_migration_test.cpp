// Location-independent buffers moving between host memory, boards, bands
// and the second multiboard scheme: what each mode carries, how pixels
// travel, refusals, failures that keep the old storage, and moves still
// running on paused boards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "omni_test_fixture.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

using test_support::Held;
using test_support::OmniBoardsTest;
using test_support::OmniTest;

// Copies between boards: straight to a peer, or out through host memory
// when source and target share a board.
size_t Copies() {
    size_t n = 0;
    for (const auto& entry : tulx7sim::RequestLog())
        n += entry.code == TULX7_DR_BUFFER_BOARD2BOARD || entry.code == TULX7_DR_BUFFER_UNLOAD;
    return n;
}

constexpr auto kLow = ULMDepthBuffer::kDepth24Low;

// A 16 x 16 image and depth buffer holding the same words, with one mode.
struct Pair {
    Pair(ULMLocation location, ULMMigrationMode mode, const std::vector<uint32_t>& words)
        : image(static_cast<ULMOmniImageBuffer*>(
              ULMImageBuffer::Create(location, 16, 16, 32, 0, nullptr))),
          depth(static_cast<ULMOmniDepthBuffer*>(ULMDepthBuffer::Create(location, 16, 16))) {
        const ULMImageRange whole(16, 16, 0, 0);
        EXPECT_EQ(image->Update(words.data(), whole, 0), kULMOK);
        EXPECT_EQ(depth->Update(words.data(), whole, 0, kLow), kULMOK);
        EXPECT_EQ(image->SetMigrationMode(mode), kULMOK);
        EXPECT_EQ(depth->SetMigrationMode(mode), kULMOK);
    }
    Held<ULMOmniImageBuffer> image;
    Held<ULMOmniDepthBuffer> depth;
};

// A full copy carries every pixel along a path through every location and
// back, for images and for depth.
TEST_P(OmniBoardsTest, FullCopiesCarryEveryPixelEverywhere) {
    const ULMLocation path[] = {kULMBoard1,          kULMMultiBoardMode1, kULMBoard0,
                                kULMMultiBoardMode2, kULMSystem,          kULMMultiBoardMode1,
                                LastBoard(),         kULMMultiBoardMode2, kULMMultiBoardMode1,
                                kULMSystem};
    Held<ULMOmniImageBuffer> image(Image(kULMSystem, 36, 100, 64));
    Held<ULMOmniDepthBuffer> depth(Depth(kULMSystem, 36, 100));
    ASSERT_NE(image.GetPointer(), nullptr);
    ASSERT_NE(depth.GetPointer(), nullptr);
    const std::vector<uint64_t> pixels = Random<uint64_t>(36 * 100, 21);
    const std::vector<uint32_t> words = Random<uint32_t>(36 * 100, 22);
    ASSERT_EQ(image->Update(pixels.data(), ULMImageRange(36, 100, 0, 0), 0), kULMOK);
    ASSERT_EQ(depth->Update(words.data(), ULMImageRange(36, 100, 0, 0), 0, kLow), kULMOK);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    for (ULMLocation to : path) {
        ASSERT_EQ(image->Migrate(to), kULMOK) << to;
        ASSERT_EQ(depth->Migrate(to), kULMOK) << to;
        EXPECT_EQ(image->GetLocation(), to);
        EXPECT_EQ(depth->GetLocation(), to);
        EXPECT_EQ(Pixels<uint64_t>(image), pixels) << to;
        EXPECT_EQ(Words(depth), words) << to;
    }
}

TEST_F(OmniTest, RefusalsComeBeforeAnythingMoves) {
    Held<ULMOmniImageBuffer> image(Image(kULMBoard0, 16, 16));
    Held<ULMOmniDepthBuffer> depth(Depth(kULMBoard0, 16, 16));
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(image->StartMigrate(kULMBoard0).Status(), kULMOK) << "here already, under None";
    EXPECT_EQ(image->Migrate(kULMAnyBoard), kULMErrArgument);
    EXPECT_EQ(image->Migrate(kULMBoard3), kULMErrArgument);
    EXPECT_EQ(image->Migrate(kULMSystem), kULMErrUnimplemented);
    EXPECT_EQ(depth->Migrate(kULMSystem), kULMErrUnimplemented);
    EXPECT_EQ(image->SetMigrationMode(static_cast<ULMMigrationMode>(-1)), kULMErrArgument);

    // Host memory holds no wrapped image; bands have offsets of their own.
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(image->SetWrap(16, 16), kULMOK);
    EXPECT_EQ(image->Migrate(kULMSystem), kULMErrUnimplemented);
    EXPECT_EQ(image->Migrate(kULMMultiBoardMode1), kULMErrUnimplemented);
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationNoCopy), kULMOK);
    ASSERT_EQ(depth->SetOffset(2, 0), kULMOK);
    EXPECT_EQ(depth->Migrate(kULMMultiBoardMode1), kULMErrUnimplemented);

    // A mapping handed out would point into storage the move gives back.
    ASSERT_EQ(image->SetOffset(0, 0), kULMOK);
    void* mapped = nullptr;
    unsigned width = 0;
    ASSERT_EQ(image->Map(mapped, ULMImageRange(4, 4, 0, 0), width), kULMOK);
    EXPECT_EQ(image->Migrate(kULMBoard1), kULMErrBuffer);
    ASSERT_EQ(image->Unmap(mapped), kULMOK);

    EXPECT_EQ(image->GetLocation(), kULMBoard0);
    EXPECT_EQ(depth->GetLocation(), kULMBoard0);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_ALLOCATE), 0u);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), 0u);
}

TEST_F(OmniTest, ImagesMoveBetweenBoardAndBandsByBoardCopies) {
    Held<ULMOmniImageBuffer> image(Image(kULMBoard1, 20, 30));
    const std::vector<uint32_t> pixels = Random<uint32_t>(20 * 30, 23);
    ASSERT_EQ(image->Update(pixels.data(), ULMImageRange(20, 30, 0, 0), 0), kULMOK);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(image->Migrate(kULMMultiBoardMode1), kULMOK);
    EXPECT_EQ(Copies(), 2u) << "one copy per band";
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_LOAD), 1u) << "only the copy within board 1 bounces";
    EXPECT_EQ(image->GetNumberBuffers(), 2);

    // Back to one board: each band is copied by its own board, and the move
    // completes only when both copies have.
    tulx7sim::ClearRequestLog();
    tulx7sim::PauseBoard(1);
    const ULMSyncEvent moved = image->StartMigrate(kULMBoard0);
    EXPECT_EQ(moved.Wait(30), kULMTimeout) << "band 1 waits on its paused board";
    tulx7sim::ResumeBoard(1);
    ASSERT_EQ(moved.Wait(-1), kULMOK);
    EXPECT_EQ(Copies(), 2u);
    EXPECT_EQ(image->GetLocation(), kULMBoard0);
    EXPECT_EQ(Pixels<uint32_t>(image), pixels);

    // One image under the second scheme stays where it is.
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(image->Migrate(kULMMultiBoardMode2), kULMOK);
    EXPECT_EQ(image->GetLocation(), kULMMultiBoardMode2);
    EXPECT_EQ(image->GetImageBuffer()->GetLocation(), kULMBoard0);
    EXPECT_EQ(tulx7sim::RequestLog().size(), 0u);
    EXPECT_EQ(Pixels<uint32_t>(image), pixels);
}

TEST_F(OmniTest, CopyInputCarriesOnlyTheInputLimits) {
    struct Case {
        ULMImageRange limits;
        size_t copies;
    } cases[] = {{ULMImageRange(8, 6, 2, 4), 1u}, {ULMImageRange(), 0u}};
    for (const Case& c : cases) {
        Held<ULMOmniImageBuffer> image(Image(kULMBoard1, 20, 30));
        const std::vector<uint32_t> pixels = Random<uint32_t>(20 * 30, 24);
        ASSERT_EQ(image->Update(pixels.data(), ULMImageRange(20, 30, 0, 0), 0), kULMOK);
        ASSERT_EQ(image->SetInputLimits(c.limits), kULMOK);
        ASSERT_EQ(image->SetMigrationMode(kULMMigrationCopyInput), kULMOK);
        tulx7sim::ClearRequestLog();
        ASSERT_EQ(image->Migrate(kULMMultiBoardMode1), kULMOK);
        EXPECT_EQ(Copies(), c.copies) << "the lower band gets none";
        const std::vector<uint32_t> out = Pixels<uint32_t>(image);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool carried = Contains(c.limits, ULMImageRange(1, 1, x, y)) &&
                                     !c.limits.IsEmpty();
                ASSERT_EQ(out[y * 20 + x], carried ? pixels[y * 20 + x] : Fill<uint32_t>())
                    << x << "," << y;
            }
    }
}

TEST_F(OmniTest, NoCopyMovesRemakeStorageAndKeepItWhenTheyFail) {
    const std::vector<uint32_t> pixels = Random<uint32_t>(16 * 16, 25);
    Pair pair(kULMBoard0, kULMMigrationNoCopy, pixels);
    ULMOmniImageBuffer* image = pair.image;
    ULMOmniDepthBuffer* depth = pair.depth;

    const int buffers = tulx7sim::GetStats().liveBuffers;
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 1, 6);
    EXPECT_TRUE(ULMFailed(image->Migrate(kULMBoard1)));
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 2, 6);
    EXPECT_TRUE(ULMFailed(depth->Migrate(kULMMultiBoardMode1))) << "the second band fails";
    EXPECT_EQ(image->GetLocation(), kULMBoard0);
    EXPECT_EQ(depth->GetLocation(), kULMBoard0);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
    EXPECT_EQ(Pixels<uint32_t>(image), pixels);
    EXPECT_EQ(Words(depth), pixels);

    ASSERT_EQ(image->Migrate(kULMMultiBoardMode1), kULMOK);
    EXPECT_EQ(Pixels<uint32_t>(image), std::vector<uint32_t>(16 * 16, Fill<uint32_t>()));
    ASSERT_EQ(image->Migrate(kULMSystem), kULMOK);
    EXPECT_EQ(image->GetNumberBuffers(), 0);
}

TEST_F(OmniTest, AFailedBoardCopyOrUpdateKeepsThePixels) {
    Held<ULMOmniImageBuffer> image(Image(kULMBoard0, 16, 16));
    const std::vector<uint32_t> pixels = Random<uint32_t>(16 * 16, 26);
    ASSERT_EQ(image->Update(pixels.data(), ULMImageRange(16, 16, 0, 0), 0), kULMOK);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    // The direct copy fails, and so does its fallback through host memory.
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_BOARD2BOARD, 1, 6);
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_UNLOAD, 1, 6);
    EXPECT_TRUE(ULMFailed(image->Migrate(kULMBoard1)));
    EXPECT_EQ(image->GetLocation(), kULMBoard0);
    EXPECT_EQ(Pixels<uint32_t>(image), pixels);

    // An update from host memory that fails leaves the pixels there.
    ASSERT_EQ(image->Migrate(kULMSystem), kULMOK);
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_LOAD, 1, 6);
    EXPECT_TRUE(ULMFailed(image->Migrate(kULMBoard1)));
    EXPECT_EQ(image->GetLocation(), kULMSystem);
    EXPECT_EQ(image->GetNumberBuffers(), 0);
    EXPECT_EQ(Pixels<uint32_t>(image), pixels);
}

// The unload into host memory may still run when the buffer already counts
// as being there: host-memory access waits for it.
TEST_F(OmniTest, HostAccessWaitsForTheUnloadStillRunning) {
    const std::vector<uint32_t> pixels = Random<uint32_t>(16 * 16, 27);
    Pair pair(kULMBoard1, kULMMigrationFullCopy, pixels);
    ULMOmniImageBuffer* image = pair.image;
    ULMOmniDepthBuffer* depth = pair.depth;

    tulx7sim::PauseBoard(1);
    const ULMSyncEvent imageMoved = image->StartMigrate(kULMSystem);
    const ULMSyncEvent depthMoved = depth->StartMigrate(kULMSystem);
    EXPECT_EQ(image->GetLocation(), kULMSystem);
    EXPECT_EQ(imageMoved.Wait(0), kULMTimeout);
    std::atomic<bool> done{false};
    std::vector<uint32_t> imageOut(16 * 16, 0), depthOut(16 * 16, 0);
    std::thread reader([&] {
        EXPECT_EQ(image->Unload(imageOut.data(), ULMImageRange(16, 16, 0, 0), 0), kULMOK);
        EXPECT_EQ(depth->Unload(depthOut.data(), ULMImageRange(16, 16, 0, 0), 0, kLow), kULMOK);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done) << "the read went ahead of the unload";
    tulx7sim::ResumeBoard(1);
    reader.join();
    EXPECT_EQ(imageOut, pixels);
    EXPECT_EQ(depthOut, pixels);
    EXPECT_EQ(depthMoved.Wait(-1), kULMOK);
}

TEST_F(OmniTest, DepthCopiesUnderTheSecondSchemeAreKeptOrRemade) {
    UseBoards(4);
    Held<ULMOmniDepthBuffer> depth(Depth(kULMBoard2, 12, 12));
    const std::vector<uint32_t> words = Random<uint32_t>(12 * 12, 28);
    ASSERT_EQ(depth->Update(words.data(), ULMImageRange(12, 12, 0, 0), 0, kLow), kULMOK);
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(depth->Migrate(kULMMultiBoardMode2), kULMOK);
    ASSERT_EQ(depth->GetNumberBuffers(), 4);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(Element<uint32_t>(depth->GetSubDepthBuffer(b)->GetBuffer(), 7, 5), words[5 * 12 + 7]);

    // Back to a board that has a copy: that copy is kept, nothing moves.
    KWBBuffer* onBoard3 = depth->GetSubDepthBuffer(3)->GetBuffer();
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(depth->Migrate(kULMBoard3), kULMOK);
    EXPECT_EQ(Copies() + CountRequests(TULX7_DR_BUFFER_LOAD) + CountRequests(TULX7_DR_BUFFER_ALLOCATE),
              0u);
    EXPECT_EQ(depth->GetNumberBuffers(), 1);
    EXPECT_EQ(depth->GetDepthBuffer()->GetBuffer(), onBoard3);
    EXPECT_EQ(Words(depth), words);
    // A single board to board 0 is a board copy.
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(depth->Migrate(kULMBoard1), kULMOK);
    ASSERT_EQ(depth->Migrate(kULMBoard0), kULMOK);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_BOARD2BOARD), 1u);
    EXPECT_EQ(CountRequests(TULX7_DR_BUFFER_LOAD), 1u) << "board 3 to 1 goes through host memory";
    EXPECT_EQ(Words(depth), words);
}

}  // namespace
}  // namespace ulm3
