// Work that writes a board buffer is ordered after the queued work that
// reads it, and the other way round, whichever queue or board each runs on:
// boards are paused so that the earlier work is still queued when the later
// is submitted, and what each render saw tells the order they ran in.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/kwb_buffer.h"
#include "board/kwb_command_buffer.h"
#include "board/kwb_render_submission.h"
#include "board_buffer_fixture.h"
#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"

namespace ulm3 {
namespace {

constexpr uint32_t kPassRender = uint32_t{1} << NKW7_RenderOperation_opcode_LoBit |
                                 uint32_t{15} << NKW7_RenderOperation_incrOnDone_LoBit;
constexpr uint32_t kElements = 64;
constexpr uint8_t kOld = 0x11, kNew = 0x77;

// A pass: every render copies the volume's bytes into image 0, and notes
// the first and last byte of the volume and the first of image 0 as it
// found them.
class SeeingChip : public tulx7sim::ChipModel {
public:
    struct Seen {
        uint8_t volumeFirst = 0, volumeLast = 0, imageFirst = 0;
    };
    int32_t Render(const tulx7sim::RenderJob& job, const tulx7sim::RegisterFile&, tulx7sim::ChipDiagnostics&,
                   std::string&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Seen seen;
        if (job.volume.bound) {
            seen.volumeFirst = job.volume.data[0];
            seen.volumeLast = job.volume.data[kElements - 1];
        }
        if (job.image0.bound) {
            seen.imageFirst = job.image0.data[0];
            if (job.volume.bound) std::memcpy(job.image0.data, job.volume.data, kElements);
        }
        m_seen.push_back(seen);
        return TULX7_DR_STATUS_SUCCESS;
    }
    std::vector<Seen> SeenSoFar() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
};

// Boards 0 and 1 are peers, 2 has none; the three queues of each board run
// side by side, so that only the events in the records order them.
class BufferWorkOrderTest : public test_support::BoardBufferTest {
protected:
    BufferWorkOrderTest()
        : BoardBufferTest(ulm3::testing::Settings([](auto& c) {
              c.boards = 3;
              c.mode = tulx7sim::QueueMode::kThreeQueues;
          })) {}
    void SetUp() override {
        BoardBufferTest::SetUp();
        tulx7sim::SetRenderEngine(std::make_shared<tulx7sim::CommandBlockEngine>(m_chip));
    }

    // A one-axis buffer of kElements bytes on inBoard, every byte inValue.
    KWBBuffer* Filled(int inBoard, uint8_t inValue) {
        KWBBuffer* b = Make(inBoard, kElements, 0, 0, 8);
        if (b == nullptr) return nullptr;
        const std::vector<uint8_t> bytes(Storage(b).size(), inValue);
        EXPECT_TRUE(tulx7sim::WriteBufferMemory(b->GetDriverID(), 0, bytes.data(), bytes.size()));
        return b;
    }

    // One counted render on inBoard reading inVolume and writing inImage.
    ULMSyncEvent Render(int inBoard, KWBBuffer* inVolume, KWBBuffer* inImage) {
        std::unique_ptr<KWBCommandBuffer> commands(Board(inBoard)->CreateCommandBuffer(1000));
        uint32_t id = 0, size = 0;
        EXPECT_EQ(commands->StartBlock(id), kULMOK);
        EXPECT_EQ(commands->WriteRegister32(NKW7_Scratch7_Addr, 0), kULMOK);
        EXPECT_EQ(commands->WriteRegister32(NKW7_RenderOperation_Addr, kPassRender), kULMOK);
        EXPECT_EQ(commands->Sync(NKW7_Scratch7_Addr, 5, 0, false), kULMOK);
        EXPECT_EQ(commands->FinishBlock(size), kULMOK);
        return Board(inBoard)->StartRender(ULMSyncEvent(kULMErrArgument), commands.get(), id, size, nullptr, 0, 0,
                                           inVolume, inImage, nullptr, nullptr, nullptr, kKWBWritesImage0, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
    }

    std::shared_ptr<SeeingChip> m_chip = std::make_shared<SeeingChip>();
    const std::vector<uint8_t> m_newBytes = std::vector<uint8_t>(kElements, kNew);
    const std::vector<uint8_t> m_zeros = std::vector<uint8_t>(kElements, 0);
    const KWBRange m_all = KWBRange(0, static_cast<int16_t>(kElements - 1));
};

enum class Road { kOwnLoad, kPeerCopy, kHostCopy, kPass };

const char* Name(Road inRoad) {
    switch (inRoad) {
        case Road::kOwnLoad: return "a load on the volume's board";
        case Road::kPeerCopy: return "a copy from the peer board";
        case Road::kHostCopy: return "a copy through the host from a board without a peer";
        case Road::kPass: return "a pass on the volume's board";
    }
    return "";
}

class BufferWriteOrderTest : public BufferWorkOrderTest {
protected:
    // Queues the write of kNew over the whole of inBuffer (on board 1).
    ULMSyncEvent Write(Road inRoad, KWBBuffer* inBuffer) {
        switch (inRoad) {
            case Road::kOwnLoad: return Board(1)->StartLoadBuffer(inBuffer, m_newBytes.data(), m_all, 0, 0, -1);
            case Road::kPeerCopy: return Board(0)->StartCopyBuffer(Filled(0, kNew), inBuffer, m_all, m_all);
            case Road::kHostCopy: return Board(2)->StartCopyBuffer(Filled(2, kNew), inBuffer, m_all, m_all);
            case Road::kPass: return Render(1, Filled(1, kNew), inBuffer);
        }
        return ULMSyncEvent(kULMErrArgument);
    }
    // A newer load on board 1, into a buffer the write does not touch.
    // Its host memory lives as long as the test: the load may run after
    // the call that queued it.
    void LoadNewer(KWBBuffer* inBuffer) {
        EXPECT_EQ(Board(1)->StartLoadBuffer(inBuffer, m_zeros.data(), m_all, 0, 0, -1).Status(), kULMInProgress);
    }
    SeeingChip::Seen LastSeen() {
        const std::vector<SeeingChip::Seen> seen = m_chip->SeenSoFar();
        EXPECT_FALSE(seen.empty());
        return seen.empty() ? SeeingChip::Seen{} : seen.back();
    }
};

// The write is queued first, on a paused board, and a newer load reaches
// the render's board before the render: the render must still wait for the
// write, into its volume or into the image it writes over. (A copy through
// the host settles before the render is queued: it is not paused here.)
TEST_F(BufferWriteOrderTest, ARenderWaitsForEveryWriteQueuedBeforeItOnAnyBoard) {
    struct Row {
        Road road;
        int pausedBoard;
        bool intoImage;
    };
    const Row rows[] = {
        {Road::kOwnLoad, 1, false},  {Road::kPeerCopy, 0, false}, {Road::kPeerCopy, 0, true},
        {Road::kHostCopy, -1, false}, {Road::kPass, 1, false},     {Road::kPass, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(Name(row.road)) + (row.intoImage ? ", into the image" : ", into the volume"));
        KWBBuffer* volume = Filled(1, kOld);
        KWBBuffer* image = Filled(1, kOld);
        ASSERT_NE(volume, nullptr);
        ASSERT_NE(image, nullptr);
        if (row.pausedBoard >= 0) tulx7sim::PauseBoard(row.pausedBoard);
        const ULMSyncEvent written = Write(row.road, row.intoImage ? image : volume);
        ASSERT_FALSE(ULMFailed(written.Status()));
        if (!row.intoImage) LoadNewer(image);
        if (row.intoImage) LoadNewer(volume);
        const ULMSyncEvent rendered = Render(1, volume, image);
        if (row.pausedBoard >= 0) tulx7sim::ResumeBoard(row.pausedBoard);
        ASSERT_EQ(rendered.Wait(-1), kULMOK);
        ASSERT_EQ(written.Wait(-1), kULMOK);
        const SeeingChip::Seen seen = LastSeen();
        if (row.intoImage) {
            EXPECT_EQ(seen.imageFirst, kNew) << "the render ran before the write into its image";
        } else {
            EXPECT_EQ(seen.volumeFirst, kNew);
            EXPECT_EQ(seen.volumeLast, kNew);
        }
    }
}

// The render is queued first, on its paused board; the write into its
// volume comes after, by every road: the render must find only the old
// voxels, and the volume must hold the new ones once both are over.
TEST_F(BufferWriteOrderTest, AWriteWaitsForEveryRenderQueuedBeforeItOnAnyBoard) {
    for (const Road road : {Road::kOwnLoad, Road::kPeerCopy, Road::kHostCopy, Road::kPass}) {
        SCOPED_TRACE(Name(road));
        KWBBuffer* volume = Filled(1, kOld);
        KWBBuffer* image = Filled(1, kOld);
        ASSERT_NE(volume, nullptr);
        ASSERT_NE(image, nullptr);
        tulx7sim::PauseBoard(1);
        const ULMSyncEvent rendered = Render(1, volume, image);
        const ULMSyncEvent written = Write(road, volume);
        ASSERT_FALSE(ULMFailed(written.Status()));
        tulx7sim::ResumeBoard(1);
        ASSERT_EQ(rendered.Wait(-1), kULMOK);
        ASSERT_EQ(written.Wait(-1), kULMOK);
        const std::vector<SeeingChip::Seen> seen = m_chip->SeenSoFar();
        const SeeingChip::Seen& first = seen[seen.size() - (road == Road::kPass ? 2 : 1)];
        EXPECT_EQ(first.volumeFirst, kOld);
        EXPECT_EQ(first.volumeLast, kOld);
        const std::vector<uint8_t> after = Storage(volume);
        EXPECT_EQ(after[0], kNew);
        EXPECT_EQ(after[kElements - 1], kNew);
    }
}

// Two descriptors of one buffer, the one that made it and one attached to
// it (as a volume attached to another's buffer holds): work through either
// follows work queued through the other, the earlier work queued on a
// paused board.
TEST_F(BufferWriteOrderTest, WorkThroughOneDescriptorFollowsWorkThroughTheOther) {
    for (const bool renderFirst : {false, true}) {
        SCOPED_TRACE(renderFirst ? "a render, then a copy into the buffer" : "a copy into the buffer, then a render");
        KWBBuffer* made = Filled(1, kOld);
        KWBBuffer* image = Filled(1, kOld);
        ASSERT_NE(made, nullptr);
        ASSERT_NE(image, nullptr);
        ULMStatus status = kULMErrInternal;
        KWBBuffer* attached = Board(1)->AttachBuffer(made->GetID(), status);
        ASSERT_EQ(status, kULMOK);
        ASSERT_NE(attached, nullptr);
        KWBBuffer* source = Filled(0, kNew);
        ULMSyncEvent rendered(kULMOK), written(kULMOK);
        if (renderFirst) {
            tulx7sim::PauseBoard(1);
            rendered = Render(1, made, image);
            written = Board(0)->StartCopyBuffer(source, attached, m_all, m_all);
            tulx7sim::ResumeBoard(1);
        } else {
            tulx7sim::PauseBoard(0);
            written = Board(0)->StartCopyBuffer(source, made, m_all, m_all);
            rendered = Render(1, attached, image);
            tulx7sim::ResumeBoard(0);
        }
        EXPECT_EQ(rendered.Wait(-1), kULMOK);
        EXPECT_EQ(written.Wait(-1), kULMOK);
        const SeeingChip::Seen seen = LastSeen();
        const uint8_t expected = renderFirst ? kOld : kNew;
        EXPECT_EQ(seen.volumeFirst, expected);
        EXPECT_EQ(seen.volumeLast, expected);
        EXPECT_EQ(Board(1)->ReleaseBuffer(attached, false), kULMOK);
    }
}

}  // namespace
}  // namespace ulm3
