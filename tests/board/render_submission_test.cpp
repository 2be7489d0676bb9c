// Render submission through the library onto the simulated board: what the
// driver receives, what the board executes, the order of renders and
// transfers, and what happens to the command blocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "board/kwb_buffer.h"
#include "board/kwb_render_submission.h"
#include "board/tulx_command_buffer.h"
#include "board_buffer_fixture.h"
#include "foundation/control.h"
#include "foundation/log_capture.h"
#include "register_programme.h"
#include "tulx7sim/command_executor.h"

namespace ulm3 {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr uint32_t kPassRender = uint32_t{1} << NKW7_RenderOperation_opcode_LoBit |
                                 uint32_t{15} << NKW7_RenderOperation_incrOnDone_LoBit;

uint32_t DriverId(const ULMSyncEvent& event) { return KWBSyncEvent(event).GetDriverEventID(); }

// Records every render the board runs, and marks its image 0 with the
// number of renders so far.
class RecordingChip : public tulx7sim::ChipModel {
public:
    int32_t Render(const tulx7sim::RenderJob& job, const tulx7sim::RegisterFile&, tulx7sim::ChipDiagnostics&,
                   std::string&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(job);
        m_volumeFirstBytes.push_back(job.volume.bound ? job.volume.data[0] : 0);
        if (job.image0.bound) job.image0.data[0] = static_cast<uint8_t>(m_jobs.size());
        return TULX7_DR_STATUS_SUCCESS;
    }
    std::vector<tulx7sim::RenderJob> Jobs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_jobs;
    }
    std::vector<uint8_t> VolumeFirstBytes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_volumeFirstBytes;
    }

private:
    std::mutex m_mutex;
    std::vector<tulx7sim::RenderJob> m_jobs;
    std::vector<uint8_t> m_volumeFirstBytes;
};

// A command buffer whose raw words a test may write, as a faulty encoder would.
class RawCommandBuffer : public TulxCommandBuffer {
public:
    RawCommandBuffer() : TulxCommandBuffer(nullptr, 1000) {}
    using TulxCommandBuffer::WriteNextWord;
};

class RenderSubmissionTest : public test_support::BoardBufferTest {
protected:
    using BoardBufferTest::BoardBufferTest;
    void SetUp() override {
        BoardBufferTest::SetUp();
        tulx7sim::SetRenderEngine(std::make_shared<tulx7sim::CommandBlockEngine>(m_chip));
    }

    // The blocks of the board passes: Scratch7 cleared, `writes`, one
    // counted render, the closing sync.
    static void PassBlock(KWBCommandBuffer& commands, uint32_t& id, uint32_t& size,
                          const std::vector<test_support::RegisterWrite>& writes = {}) {
        ASSERT_EQ(commands.StartBlock(id), kULMOK);
        ASSERT_EQ(commands.WriteRegister32(NKW7_Scratch7_Addr, 0), kULMOK);
        test_support::EncodeWrites(commands, writes);
        ASSERT_EQ(commands.WriteRegister32(NKW7_RenderOperation_Addr, kPassRender), kULMOK);
        ASSERT_EQ(commands.Sync(NKW7_Scratch7_Addr, 5, 0, false), kULMOK);
        ASSERT_EQ(commands.FinishBlock(size), kULMOK);
    }

    // Submits one pass block from a command buffer deleted right after.
    ULMSyncEvent Pass(KWBBuffer* volume, KWBBuffer* image0, uint32_t writeTo = 1,
                      KWBBuffer* image1 = nullptr) {
        std::unique_ptr<KWBCommandBuffer> commands(Board(0)->CreateCommandBuffer(20000));
        uint32_t id = 0, size = 0;
        PassBlock(*commands, id, size);
        return Board(0)->StartRender(ULMSyncEvent(kULMErrArgument), commands.get(), id, size, nullptr,
                                     0, 0, volume, image0, image1, nullptr, nullptr, writeTo,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    // Submits one block that writes image 0 and nothing else.
    ULMSyncEvent Submit(KWBCommandBuffer& commands, uint32_t id, uint32_t size, KWBBuffer* image,
                        const ULMSyncEvent& after = ULMSyncEvent()) {
        return Board(0)->StartRender(after, &commands, id, size, nullptr, 0, 0, nullptr, image, nullptr,
                                     nullptr, nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    static void PauseBoard() { tulx7sim::PauseBoard(0); }
    static void ResumeBoard() { tulx7sim::ResumeBoard(0); }

    static uint64_t Register(uint32_t address) {
        uint64_t value = 0;
        EXPECT_TRUE(tulx7sim::ReadBoardRegister(0, address, value)) << std::hex << address;
        return value;
    }

    std::shared_ptr<RecordingChip> m_chip = std::make_shared<RecordingChip>();
};

// ---------------------------------------------------------------------------
// What the board executes.

TEST_F(RenderSubmissionTest, RandomRegisterWritesReachTheBoardsRegisterFile) {
    KWBBuffer* image = Make(0, 64, 32, 0, 32);
    std::map<uint32_t, uint64_t> expected = test_support::ExpectedRegisters({});
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937_64 random(seed);
        const auto writes = test_support::RandomRegisterWrites(random, static_cast<int>(1 + seed * 997 % 3000));
        std::unique_ptr<KWBCommandBuffer> commands(Board(0)->CreateCommandBuffer(40000));
        uint32_t id = 0, size = 0;
        PassBlock(*commands, id, size, writes);
        // The command buffer is deleted before the board even starts.
        PauseBoard();
        const ULMSyncEvent done = Submit(*commands, id, size, image, Board(0)->GetLastRenderEvent());
        commands.reset();
        ResumeBoard();
        ASSERT_EQ(done.Wait(-1), kULMOK);

        std::map<uint32_t, bool> written;
        for (const auto& write : writes) {
            expected[write.address] = write.value;
            written[write.address] = true;
        }
        // The pass cleared Scratch7 first; the render counted one on top of
        // whatever the programme wrote there last.
        expected[NKW7_Scratch7_Addr] =
            ((written[NKW7_Scratch7_Addr] ? expected[NKW7_Scratch7_Addr] : 0) + 1) & 0xFFFFFFFFu;
        expected[NKW7_RenderOperation_Addr] = kPassRender;
        for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
            // Unwritten array registers hold what the driver set from the record.
            const bool arrays = reg.addr >= NKW7_VolumeArrayBase_Addr && reg.addr <= NKW7_Image1InitRangeMax_Addr;
            if (arrays && !written[reg.addr]) continue;
            ASSERT_EQ(Register(reg.addr), expected[reg.addr]) << std::hex << "register 0x" << reg.addr;
        }
    }
}

// ---------------------------------------------------------------------------
// What the driver receives.

TEST_F(RenderSubmissionTest, RecordCarriesTheEventsBuffersTablesAndWriteMask) {
    KWBBuffer* volume = Make(0, 16, 0, 0, 8);
    KWBBuffer* image = Make(0, 16, 0, 0, 8);
    KWBBuffer* depth = Make(0, 16, 16, 0, 32);
    KWBBuffer* lut0 = Make(0, 256, 0, 0, 64);
    KWBBuffer* lut3 = Make(0, 4096, 0, 0, 64);
    KWBBuffer* diffuse = Make(0, 384, 0, 0, 64);
    KWBBuffer* specular = Make(0, 768, 0, 0, 32);
    std::vector<uint8_t> host(8 * 4096, 0x11);
    KWBBuffer* luts[4] = {lut0, nullptr, nullptr, lut3};

    PauseBoard();
    const ULMSyncEvent volumeLoad = Board(0)->StartLoadBuffer(volume, host.data(), KWBRange(0, 15), 0, 0, -1);
    const ULMSyncEvent lut3Load = Board(0)->StartLoadBuffer(lut3, host.data(), KWBRange(0, 4095), 0, 0, -1);
    Board(0)->StartLoadBuffer(lut0, host.data(), KWBRange(0, 255), 0, 0, -1);
    const ULMSyncEvent lut0Load = Board(0)->StartLoadBuffer(lut0, host.data(), KWBRange(0, 255), 0, 0, -1);
    const ULMSyncEvent depthUnload = Board(0)->StartUnloadBuffer(depth, host.data(), KWBRange(0, 0, 15, 15), 0, 0, -1);
    const ULMSyncEvent imageLoad = Board(0)->StartLoadBuffer(image, host.data(), KWBRange(0, 15), 0, 0, -1);
    const ULMSyncEvent earlier = Pass(nullptr, image);
    tulx7sim::ClearRequestLog();

    std::unique_ptr<KWBCommandBuffer> commands(Board(0)->CreateCommandBuffer(1000));
    uint32_t id = 0, size = 0;
    PassBlock(*commands, id, size);
    const ULMSyncEvent done =
        Board(0)->StartRender(earlier, commands.get(), id, size, nullptr, 0, 0, volume, image, nullptr,
                              depth, nullptr, 1 | 4, luts, diffuse, specular, nullptr, nullptr);
    EXPECT_EQ(Board(0)->GetLastRenderEvent(), done);
    ResumeBoard();
    ASSERT_EQ(done.Wait(-1), kULMOK);

    const auto renders = Requests(TULX7_DR_RENDER);
    ASSERT_EQ(renders.size(), 1u);
    // Table, load, unload and previous-render events, each the newest of its kind.
    EXPECT_THAT(renders[0].dependencies,
                ElementsAre(DriverId(lut0Load), DriverId(imageLoad), DriverId(depthUnload), DriverId(earlier)));
    EXPECT_GT(DriverId(lut0Load), DriverId(lut3Load));
    EXPECT_GT(DriverId(imageLoad), DriverId(volumeLoad));

    const tulx7sim::RenderJob job = m_chip->Jobs().back();
    EXPECT_EQ(job.writeMask, 5u);
    EXPECT_EQ(job.volume.bufferId, volume->GetDriverID());
    EXPECT_EQ(job.image0.bufferId, image->GetDriverID());
    EXPECT_FALSE(job.image1.bound);
    EXPECT_EQ(job.depth0.bufferId, depth->GetDriverID());
    const uint32_t tableIds[8] = {lut0->GetDriverID(), TULX7_DR_NO_BUFFER, TULX7_DR_NO_BUFFER,
                                  lut3->GetDriverID(), specular->GetDriverID(), diffuse->GetDriverID(),
                                  TULX7_DR_NO_BUFFER, TULX7_DR_NO_BUFFER};
    const uint16_t entries[8] = {256, 0, 0, 4096, 384, 384, 0, 0};
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(job.tables[t].bufferId, tableIds[t]) << "table slot " << t;
        EXPECT_EQ(job.tables[t].validEntries, entries[t]) << "table slot " << t;
    }
    EXPECT_EQ(job.tables[0].sequenceNo, 2u);  // lut 0 was loaded twice
    EXPECT_EQ(job.tables[3].sequenceNo, 1u);

    // Every buffer remembers the render; only the written ones as output.
    EXPECT_EQ(depth->GetRenderEvent(false), done);
    EXPECT_EQ(volume->GetRenderEvent(true), done);
    EXPECT_EQ(volume->GetRenderEvent(false), ULMSyncEvent(kULMOK));
    EXPECT_EQ(lut3->GetRenderEvent(true), done);
    EXPECT_EQ(specular->GetRenderEvent(false), ULMSyncEvent(kULMOK));
}

// ---------------------------------------------------------------------------
// The command blocks.

TEST_F(RenderSubmissionTest, CommandBuffersAreMadeForTheBoardWithinTheirLimits) {
    std::unique_ptr<KWBCommandBuffer> large(Board(0)->CreateCommandBuffer(100000));
    auto* tulx = dynamic_cast<TulxCommandBuffer*>(large.get());
    ASSERT_NE(tulx, nullptr);
    EXPECT_EQ(tulx->GetBufferSize(), 40000u);
    EXPECT_EQ(tulx->GetBoard(), Board(0));
}

// ---------------------------------------------------------------------------
// Order on the board, with the three queues running side by side so that
// only the events in the records order them.

class RenderOrderTest : public RenderSubmissionTest {
protected:
    RenderOrderTest()
        : RenderSubmissionTest(ulm3::testing::Settings([](auto& c) {
              c.boards = 2;
              c.mode = tulx7sim::QueueMode::kThreeQueues;
          })) {}
};

TEST_F(RenderOrderTest, RendersAndTransfersRunInSubmissionOrderAndAfterTheirEvents) {
    KWBBuffer* volume = Make(0, 16, 0, 0, 8);
    KWBBuffer* image = Make(0, 16, 0, 0, 8);
    const std::vector<uint8_t> first(16, 0x0A), second(16, 0x0B);
    std::vector<uint8_t> out(16, 0);
    PauseBoard();
    Board(0)->StartLoadBuffer(volume, first.data(), KWBRange(0, 15), 0, 0, -1);
    Pass(volume, image);
    Board(0)->StartLoadBuffer(volume, second.data(), KWBRange(0, 15), 0, 0, -1);
    Pass(volume, image);
    const ULMSyncEvent unloaded = Board(0)->StartUnloadBuffer(image, out.data(), KWBRange(0, 15), 0, 0, -1);
    ResumeBoard();
    ASSERT_EQ(unloaded.Wait(-1), kULMOK);
    EXPECT_THAT(m_chip->VolumeFirstBytes(), ElementsAre(0x0A, 0x0B));
    EXPECT_EQ(out[0], 2) << "the unload saw the second render's mark";
}

}  // namespace
}  // namespace ulm3
