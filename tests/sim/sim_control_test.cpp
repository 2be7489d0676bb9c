// The platform's test controls: resets, configuration, faults, logs,
// counters and the back door to board memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/render_engine.h"
#include "tulx7sim/test_api.h"

namespace tulx7sim {
namespace {

using ulm3::testing::Box;
using ulm3::testing::DriverSession;
using ulm3::testing::TransferRecord;

class SimControlTest : public ulm3::testing::SimPlatformTest {};

TEST_F(SimControlTest, ResetClosesWhatIsOpenAndNeverReusesIds) {
    auto session = std::make_unique<DriverSession>(0);
    const uint32_t buffer = session->Allocate(1, 64);
    std::vector<uint8_t> host(64);
    PauseBoard(0);
    uint32_t event = 0;
    ASSERT_EQ(session->Start(true, TransferRecord(buffer, Box(0, 63), host.data(), 1, 64), &event),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_FALSE(WaitForIdle(20));

    // The paused board is resumed, the queued load finished, the buffer freed.
    ResetPlatform(SimConfig{});
    Stats stats = GetStats();
    EXPECT_EQ(stats.openClients, 0);
    EXPECT_EQ(stats.openConnections, 0);
    EXPECT_EQ(stats.liveBuffers, 0);
    EXPECT_EQ(stats.pendingJobs, 0);
    EXPECT_EQ(stats.leakedBuffers, 0) << "counters start again";
    EXPECT_TRUE(RequestLog().empty());
    session.reset();  // its handle is stale now; closing it does nothing

    DriverSession fresh(0);
    const uint32_t again = fresh.Allocate(1, 64);
    EXPECT_GT(again, buffer);
    uint32_t later = 0;
    ASSERT_EQ(fresh.Start(true, TransferRecord(again, Box(0, 63), host.data(), 1, 64), &later),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_GT(later, event);
    EXPECT_EQ(fresh.Wait({event, later}), TULX7_DR_STATUS_SUCCESS) << "old ids read as done";
}

TEST_F(SimControlTest, ConfigurationChangesOnlyWhileNoClientIsOpen) {
    SimConfig config;
    config.boards = 8;
    config.mode = QueueMode::kThreeQueues;
    {
        DriverSession session(0);
        EXPECT_FALSE(Configure(config));
        EXPECT_EQ(CurrentConfig().boards, 2);
        EXPECT_EQ(GetStats().workerThreads, 2);
    }
    EXPECT_TRUE(Configure(config));
    EXPECT_EQ(CurrentConfig().boards, 8);
    DriverSession board7(7);
    EXPECT_EQ(board7.OpenStatus(), ulm3::kTulx7OpenSuccess);
    EXPECT_EQ(GetStats().workerThreads, 24);
    Tulx7_dr_board_peers peers;
    ASSERT_EQ(board7.Send(TULX7_DR_GET_BOARD_PEERS, peers), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(peers.peer[7], 6);
}

TEST_F(SimControlTest, ConfiguredSizesFillAndVersionsReachTheRequests) {
    SimConfig config;
    config.fillByte = 0x3C;
    config.reportRoundedSizes = true;
    config.major = 1;
    ResetPlatform(config);
    DriverSession session(0);
    Tulx7_dr_buffer_attach allocate;
    allocate.buffer_descriptor = {1, 0, {100, 30, 0}};
    ASSERT_EQ(session.Send(TULX7_DR_BUFFER_ALLOCATE, allocate), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(allocate.buffer_descriptor.buffer_size.width, 128);
    EXPECT_EQ(allocate.buffer_descriptor.buffer_size.height, 32);
    EXPECT_EQ(ulm3::testing::StorageBytes(allocate.buffer_id)[100], 0x3C);
    Tulx7_dr_configuration answer;
    ASSERT_EQ(session.Send(TULX7_DR_GET_CONFIGURATION, answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.major_number, 1);
}

TEST_F(SimControlTest, InjectionsHitTheNthRequestOfTheirCodeOnly) {
    DriverSession session(0);
    InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 3, TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS);
    InjectTransportFailure(TULX7_DR_BUFFER_DETACH, 1);
    std::vector<int32_t> statuses;
    for (int i = 0; i < 4; ++i) {
        int32_t status = 0;
        session.Allocate(1, 16, 0, 0, &status);
        statuses.push_back(status);
    }
    EXPECT_EQ(statuses, (std::vector<int32_t>{0, 0, TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS, 0}));
    EXPECT_EQ(GetStats().liveBuffers, 3);

    const auto log = RequestLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].status, TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS);
    EXPECT_EQ(log[3].code, TULX7_DR_BUFFER_ALLOCATE);
    EXPECT_EQ(log[3].board, 0);
    EXPECT_EQ(log[3].client, session.Handle().clientId);
    EXPECT_EQ(session.Detach(log[0].bufferId), TULX7_DR_STATUS_DEVICE_MISC_ERROR);
    EXPECT_EQ(session.Detach(log[0].bufferId), TULX7_DR_STATUS_SUCCESS);
    ClearRequestLog();
    EXPECT_TRUE(RequestLog().empty());
}

TEST_F(SimControlTest, TheRequestLogDescribesTransfers) {
    DriverSession session(1);
    const uint32_t buffer = session.Allocate(4, 32, 8);
    std::vector<uint8_t> host(32 * 8 * 2);
    auto record = TransferRecord(buffer, Box(2, 9, 1, 4), host.data(), 2, 32, 8);
    record.element_alignment = 2;
    uint32_t event = 0;
    ASSERT_EQ(session.Start(false, record, &event), TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(session.Wait({event}), TULX7_DR_STATUS_SUCCESS);
    const auto log = RequestLog();
    ASSERT_EQ(log.size(), 3u);
    const RequestLogEntry& unload = log[1];
    EXPECT_EQ(unload.code, TULX7_DR_BUFFER_UNLOAD);
    EXPECT_EQ(unload.board, 1);
    EXPECT_EQ(unload.bufferId, buffer);
    EXPECT_EQ(unload.events, std::vector<uint32_t>{event});
    EXPECT_EQ(unload.hostBytes, 8u * 4 * 2);
    EXPECT_EQ(unload.hostAddress, reinterpret_cast<uintptr_t>(host.data()));
    EXPECT_EQ(unload.boxMin[0], 2);
    EXPECT_EQ(unload.boxMax[1], 4);
    EXPECT_EQ(log[2].code, TULX7_DR_SYNC);
    EXPECT_EQ(log[2].dependencies, std::vector<uint32_t>{event});
    EXPECT_EQ(GetStats().bytesMoved, 64u);
}

TEST_F(SimControlTest, TheBackDoorStaysInsideTheStorage) {
    DriverSession session(0);
    const uint32_t buffer = session.Allocate(2, 8);  // 16 bytes
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_TRUE(WriteBufferMemory(buffer, 12, bytes, 4));
    EXPECT_FALSE(WriteBufferMemory(buffer, 13, bytes, 4));
    EXPECT_FALSE(WriteBufferMemory(buffer, UINT64_MAX, bytes, 1));
    uint8_t read[4] = {};
    EXPECT_TRUE(ReadBufferMemory(buffer, 12, read, 4));
    EXPECT_EQ(read[3], 4);
    EXPECT_FALSE(ReadBufferMemory(buffer + 1, 0, read, 1));
    EXPECT_FALSE(ReadBufferMemory(buffer, 0, nullptr, 1));
    BufferInfo info;
    EXPECT_FALSE(GetBufferInfo(0xFFFFFFFF, info));
    // Controls naming boards that do not exist do nothing.
    PauseBoard(9);
    ResumeBoard(-1);
    SetClientOpenRefused(12, true);
    EXPECT_TRUE(WaitForIdle(0));
}

TEST_F(SimControlTest, LatencyDelaysEveryJob) {
    SimConfig config;
    config.latencyMicroseconds = 500000;
    ResetPlatform(config);
    DriverSession session(0);
    const uint32_t buffer = session.Allocate(1, 16);
    std::vector<uint8_t> host(16);
    uint32_t event = 0;
    ASSERT_EQ(session.Start(true, TransferRecord(buffer, Box(0, 15), host.data(), 1, 16), &event),
              TULX7_DR_STATUS_SUCCESS);
    Tulx7_dr_sync answer;
    EXPECT_EQ(session.Wait({event}, 0, TULX7_DR_WAIT_ALL, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.wait_status, 0);
    EXPECT_EQ(session.Wait({event}), TULX7_DR_STATUS_SUCCESS);
}

TEST_F(SimControlTest, TheDriverLogCanBeCopiedToAFile) {
    const std::string path = ::testing::TempDir() + "tulx7sim_log_test.txt";
    std::remove(path.c_str());
    SimConfig config;
    config.logPath = path;
    ResetPlatform(config);
    {
        DriverSession session(0);
        session.Allocate(1, 16);
    }
    ASSERT_EQ(DriverLog().size(), 1u);
    std::ifstream file(path);
    std::string line;
    ASSERT_TRUE(std::getline(file, line));
    EXPECT_NE(line.find(DriverLog()[0]), std::string::npos);
    std::remove(path.c_str());
}

TEST_F(SimControlTest, ANullEngineRestoresTheOneThatOnlyCompletes) {
    class Failing : public RenderEngine {
    public:
        int32_t Execute(const RenderJob&, RegisterFile&, std::string&) override { return 6; }
    };
    SetRenderEngine(std::make_shared<Failing>());
    SetRenderEngine(nullptr);
    DriverSession session(0);
    Tulx7_dr_all_buffers_data buffers;
    buffers.volume.buffer_id = TULX7_DR_NO_BUFFER;
    buffers.image0.buffer_id = session.Allocate(4, 4, 4);
    for (auto* entry : {&buffers.image1, &buffers.depth0, &buffers.depth1})
        entry->buffer_id = TULX7_DR_NO_BUFFER;
    for (auto* table : {&buffers.classification_0, &buffers.classification_1,
                        &buffers.classification_2, &buffers.classification_3,
                        &buffers.specular_reflectance, &buffers.diffuse_reflectance,
                        &buffers.gradient_magnitude, &buffers.alpha_correction})
        table->buffer_id = TULX7_DR_NO_BUFFER;
    const uint64_t word = 0;
    Tulx7_dr_render render;
    render.pBufferData = reinterpret_cast<uintptr_t>(&buffers);
    render.p_render_load_cmds = reinterpret_cast<uintptr_t>(&word);
    render.render_count = 1;
    ASSERT_EQ(session.Send(TULX7_DR_RENDER, render), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(session.Wait({render.ret_render_event_id}), TULX7_DR_STATUS_SUCCESS);
}

TEST(SimRegisterFile, AccessesMustBeAlignedAndInside) {
    RegisterFile registers;
    uint32_t low = 1;
    uint64_t wide = 1;
    EXPECT_TRUE(registers.Write64(0x9B0, 0x1122334455667788ull));
    EXPECT_TRUE(registers.Read32(0x9B4, low));
    EXPECT_EQ(low, 0x11223344u);
    EXPECT_FALSE(registers.Write32(0x9B2, 5));
    EXPECT_FALSE(registers.Read64(0x9B4, wide));
    EXPECT_EQ(wide, 0u);
    EXPECT_FALSE(registers.Write64(RegisterFile::kBytes, 1));
    EXPECT_FALSE(registers.Read32(0xFFFFFFFC, low));
    registers.Clear();
    EXPECT_TRUE(registers.Read64(0x9B0, wide));
    EXPECT_EQ(wide, 0u);
}

}  // namespace
}  // namespace tulx7sim
