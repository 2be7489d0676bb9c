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

// Whatever offset came before, a wrapped image moved under FullCopy keeps
// every pixel it reaches: 37 x 19 pixels sit in 48 x 32 stored ones, all of
// which a modulus of 64 reaches.
TEST_F(OmniTest, FullCopiesOfWrappedImagesKeepEveryReachablePixel) {
    const ULMImageRange reach(48, 32, 0, 0);
    const std::vector<uint32_t> words = Random<uint32_t>(48 * 32, 23);
    Held<ULMImageBuffer> image(Image(kULMBoard0, 37, 19));
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ASSERT_EQ(image->SetOffset(6, 4), kULMOK);
    ASSERT_EQ(image->SetWrap(64, 64), kULMOK);
    ASSERT_EQ(image->Update(words.data(), reach, 0), kULMOK);
    ASSERT_EQ(image->Migrate(kULMBoard1), kULMOK);
    std::vector<uint32_t> back(words.size());
    ASSERT_EQ(image->Unload(back.data(), reach, 0), kULMOK);
    EXPECT_EQ(back, words);
}

// Reads may overlap: two threads unload one image on a board and one in
// host memory.
TEST_F(OmniTest, SeveralThreadsReadOneBuffer) {
    const std::vector<uint32_t> pixels = Random<uint32_t>(64 * 64, 31);
    const Held<ULMOmniImageBuffer> images[2] = {Held<ULMOmniImageBuffer>(Image(kULMBoard0, 64, 64)),
                                                Held<ULMOmniImageBuffer>(Image(kULMSystem, 64, 64))};
    for (const auto& image : images) ASSERT_EQ(image->Update(pixels.data(), Whole(image), 0), kULMOK);
    const auto read = [&] {
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Pixels<uint32_t>(images[i % 2]), pixels);
    };
    std::thread first(read), second(read);
    first.join();
    second.join();
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
