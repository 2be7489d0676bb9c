// Board configuration, peers, board buffers and driver host buffers as the
// driver answers them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "driver_records.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using namespace testing;

class DriverBufferTest : public testing::SimPlatformTest {};

TEST_F(DriverBufferTest, ConfigurationCountsFreeMemoryInBytes) {
    tulx7sim::SimConfig config;
    config.memoryMB = 64;
    config.pciRev = 2;
    config.micro = 7;
    tulx7sim::ResetPlatform(config);
    DriverSession session(0);
    Tulx7_dr_configuration answer;
    ASSERT_EQ(session.Send(TULX7_DR_GET_CONFIGURATION, answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.memory_size, 64);
    EXPECT_EQ(answer.major_number, 0);
    EXPECT_EQ(answer.minor_number, 3);
    EXPECT_EQ(answer.micro_number, 7);
    EXPECT_EQ(answer.pci_rev, 2);
    EXPECT_EQ(answer.free_memory, 64 << 20);
    EXPECT_EQ(answer.locked_memory, 0);

    // 100 x 30 bytes occupy 128 x 32 on the board.
    ASSERT_NE(session.Allocate(1, 100, 30), TULX7_DR_NO_BUFFER);
    ASSERT_EQ(session.Send(TULX7_DR_GET_CONFIGURATION, answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.free_memory, (64 << 20) - 128 * 32);
}

TEST_F(DriverBufferTest, PeersFollowTheDriverVersion) {
    tulx7sim::SimConfig config;
    config.boards = 3;
    tulx7sim::ResetPlatform(config);
    {
        DriverSession session(2);
        Tulx7_dr_board_peers peers;
        ASSERT_EQ(session.Send(TULX7_DR_GET_BOARD_PEERS, peers), TULX7_DR_STATUS_SUCCESS);
        EXPECT_EQ(peers.peer[0], 1);
        EXPECT_EQ(peers.peer[1], 0);
        EXPECT_EQ(peers.peer[2], -1) << "its pair is not installed";
        EXPECT_EQ(peers.peer[7], -1);
        EXPECT_EQ(peers.enabled[0], 1);
        EXPECT_EQ(peers.enabled[2], 0);
    }
    for (int minor : {1, 2}) {
        config.minor = minor;
        tulx7sim::ResetPlatform(config);
        DriverSession session(0);
        Tulx7_dr_board_peers peers;
        EXPECT_EQ(session.Send(TULX7_DR_GET_BOARD_PEERS, peers),
                  TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
    }
}

TEST_F(DriverBufferTest, AllocationRefusesWhatTheBoardCannotHold) {
    DriverSession session(0);
    struct Case {
        int32_t dimension, elementBytes, u, v, w, status;
    };
    const Case cases[] = {
        {0, 3, 16, 0, 0, TULX7_DR_STATUS_ARG_BAD},       // 24-bit elements
        {0, 16, 16, 0, 0, TULX7_DR_STATUS_ARG_BAD},      // 128-bit elements
        {3, 1, 16, 16, 16, TULX7_DR_STATUS_ARG_BAD},     // four axes
        {-1, 1, 16, 0, 0, TULX7_DR_STATUS_ARG_BAD},
        {0, 1, 0, 0, 0, TULX7_DR_STATUS_ARG_BAD},        // empty
        {1, 1, 16, 0, 0, TULX7_DR_STATUS_ARG_BAD},       // an empty present axis
        {0, 1, 16, 4, 0, TULX7_DR_STATUS_ARG_BAD},       // a size on an absent axis
        {0, 1, 32769, 0, 0, TULX7_DR_STATUS_ARG_BAD},    // past the coordinate range
        {0, 1, -5, 0, 0, TULX7_DR_STATUS_ARG_BAD},
        {2, 8, 8, 8, 8, TULX7_DR_STATUS_ARG_BAD},        // no 64-bit volumes
        {2, 4, 1024, 1024, 1024, TULX7_DR_STATUS_OUT_OF_HW_MEMORY},
    };
    for (const Case& c : cases) {
        Tulx7_dr_buffer_attach record;
        record.buffer_descriptor.dimension = c.dimension;
        record.buffer_descriptor.element_size = c.elementBytes - 1;
        record.buffer_descriptor.buffer_size = {c.u, c.v, c.w};
        EXPECT_EQ(session.Send(TULX7_DR_BUFFER_ALLOCATE, record), c.status)
            << c.dimension << " " << c.elementBytes << " " << c.u;
        EXPECT_EQ(record.buffer_id, 0u) << "outputs untouched";
    }
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.liveBuffers, 0);
    EXPECT_EQ(stats.boardBytesAllocated[0], 0u);
    // The largest legal axis still fits.
    EXPECT_NE(session.Allocate(1, 32768), TULX7_DR_NO_BUFFER);
}

TEST_F(DriverBufferTest, BuffersAreAllocatedInTilesAndPoisoned) {
    DriverSession session(1);
    struct Case {
        int32_t elementBytes, u, v, w;
        int32_t storage[3];
    };
    const Case cases[] = {
        {1, 5, 0, 0, {8, 1, 1}},        {8, 4, 0, 0, {4, 1, 1}},
        {2, 100, 30, 0, {128, 32, 1}},  {4, 100, 30, 0, {112, 32, 1}},
        {8, 100, 30, 0, {112, 32, 1}},  {1, 9, 5, 3, {16, 8, 8}},
        {2, 9, 5, 3, {16, 8, 4}},       {4, 9, 5, 3, {16, 8, 4}},
    };
    for (const Case& c : cases) {
        const uint32_t id = session.Allocate(c.elementBytes, c.u, c.v, c.w);
        ASSERT_NE(id, TULX7_DR_NO_BUFFER);
        EXPECT_EQ(id >> 28, 1u) << "ids name their board";
        tulx7sim::BufferInfo info;
        ASSERT_TRUE(tulx7sim::GetBufferInfo(id, info));
        EXPECT_EQ(info.storageSize[0], c.storage[0]) << c.elementBytes << " " << c.u;
        EXPECT_EQ(info.storageSize[1], c.storage[1]) << c.elementBytes << " " << c.v;
        EXPECT_EQ(info.storageSize[2], c.storage[2]) << c.elementBytes << " " << c.w;
        EXPECT_EQ(info.reportedSize[0], c.u);
        EXPECT_EQ(info.reportedSize[1], c.v);
        const std::vector<uint8_t> bytes = testing::StorageBytes(id);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xA5), static_cast<long>(bytes.size()));
    }
}

TEST_F(DriverBufferTest, IdsAreNeverReusedAndDetachNeedsAnAttachment) {
    DriverSession session(0);
    const uint32_t first = session.Allocate(4, 64);
    EXPECT_EQ(session.Detach(first), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(session.Detach(first), TULX7_DR_STATUS_INVALID_ID);
    const uint32_t second = session.Allocate(4, 64);
    EXPECT_NE(second, first);
    Tulx7_dr_buffer_attach attach;
    attach.buffer_id = first;
    EXPECT_EQ(session.Send(TULX7_DR_BUFFER_ATTACH, attach), TULX7_DR_STATUS_INVALID_ID);

    // Another board's buffer is unknown here.
    DriverSession other(1);
    const uint32_t foreign = other.Allocate(4, 64);
    attach.buffer_id = foreign;
    EXPECT_EQ(session.Send(TULX7_DR_BUFFER_ATTACH, attach), TULX7_DR_STATUS_INVALID_ID);
    EXPECT_EQ(session.Detach(foreign), TULX7_DR_STATUS_INVALID_ID);
}

TEST_F(DriverBufferTest, AttachmentsAreCountedAndSharingDecidesWhoMayAttach) {
    DriverSession owner(0);
    DriverSession stranger(0);
    const uint32_t id = owner.Allocate(2, 40, 20);

    Tulx7_dr_buffer_attach attach;
    attach.buffer_id = id;
    attach.permission_share = 15;
    ASSERT_EQ(owner.Send(TULX7_DR_BUFFER_ATTACH, attach), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(attach.permission_share, 15);
    EXPECT_EQ(attach.buffer_descriptor.dimension, 1);
    EXPECT_EQ(attach.buffer_descriptor.element_size, 1);
    EXPECT_EQ(attach.buffer_descriptor.buffer_size.width, 40);
    EXPECT_EQ(attach.buffer_descriptor.buffer_size.height, 20);
    EXPECT_EQ(attach.buffer_descriptor.buffer_size.depth, 0);

    Tulx7_dr_buffer_attach refused;
    refused.buffer_id = id;
    EXPECT_EQ(stranger.Send(TULX7_DR_BUFFER_ATTACH, refused), TULX7_DR_STATUS_NOT_OWNER);

    // The owner shares it for reading.
    Tulx7_dr_buffer_attach share;
    share.buffer_id = id;
    share.permission_share = TULX7_DR_PERMISSION_READ | TULX7_DR_PERMISSION_ALWAYS;
    share.buffer_descriptor = attach.buffer_descriptor;
    ASSERT_EQ(owner.Send(TULX7_DR_BUFFER_SET_PERMISSION, share), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(share.permission_share, TULX7_DR_PERMISSION_READ | TULX7_DR_PERMISSION_ALWAYS);
    Tulx7_dr_buffer_attach shared;
    shared.buffer_id = id;
    ASSERT_EQ(stranger.Send(TULX7_DR_BUFFER_ATTACH, shared), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(shared.permission_share, TULX7_DR_PERMISSION_READ | TULX7_DR_PERMISSION_ALWAYS);

    // Without the resize bit a stranger may change nothing.
    Tulx7_dr_buffer_attach resize = attach;
    resize.buffer_descriptor.buffer_size.width = 80;
    EXPECT_EQ(stranger.Send(TULX7_DR_BUFFER_SET_PERMISSION, resize), TULX7_DR_STATUS_PERMISSION_BAD);

    tulx7sim::BufferInfo info;
    ASSERT_TRUE(tulx7sim::GetBufferInfo(id, info));
    EXPECT_EQ(info.attachments, 3);
    // Every attachment must go before the buffer does.
    EXPECT_EQ(owner.Detach(id), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(owner.Detach(id), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(owner.Detach(id), TULX7_DR_STATUS_INVALID_ID);
    EXPECT_TRUE(tulx7sim::GetBufferInfo(id, info));
    EXPECT_EQ(stranger.Detach(id), TULX7_DR_STATUS_SUCCESS);
    EXPECT_FALSE(tulx7sim::GetBufferInfo(id, info));
    EXPECT_EQ(tulx7sim::GetStats().boardBytesAllocated[0], 0u);
}

TEST_F(DriverBufferTest, ResizeKeepsTheOverlapAndPoisonsTheRest) {
    DriverSession session(0);
    const uint32_t id = session.Allocate(4, 16, 16);
    std::vector<uint32_t> pattern(16 * 16);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint32_t>(i * 7 + 1);
    ASSERT_TRUE(tulx7sim::WriteBufferMemory(id, 0, pattern.data(), pattern.size() * 4));

    Tulx7_dr_buffer_attach resize;
    resize.buffer_id = id;
    resize.permission_share = TULX7_DR_PERMISSION_ALWAYS;
    resize.buffer_descriptor.dimension = 1;
    resize.buffer_descriptor.element_size = 3;
    resize.buffer_descriptor.buffer_size = {40, 8, 0};
    ASSERT_EQ(session.Send(TULX7_DR_BUFFER_SET_PERMISSION, resize), TULX7_DR_STATUS_SUCCESS);
    tulx7sim::BufferInfo info;
    ASSERT_TRUE(tulx7sim::GetBufferInfo(id, info));
    EXPECT_EQ(info.reportedSize[0], 40);
    EXPECT_EQ(info.storageSize[0], 48);
    ExpectStorage(id, 48, 8, 0, 15, 0, 7, 4, [&](int u, int v) { return &pattern[v * 16 + u]; });
    EXPECT_EQ(tulx7sim::GetStats().boardBytesAllocated[0], 48u * 16 * 4);

    const auto resized = [&](int32_t dimension, int32_t elementSize, Tulx7_dr_buffer_size size) {
        Tulx7_dr_buffer_attach bad = resize;
        bad.buffer_descriptor = {dimension, elementSize, size};
        return session.Send(TULX7_DR_BUFFER_SET_PERMISSION, bad);
    };
    EXPECT_EQ(resized(2, 3, {40, 8, 8}), TULX7_DR_STATUS_ARG_BAD) << "another number of axes";
    EXPECT_EQ(resized(1, 1, {40, 8, 0}), TULX7_DR_STATUS_ARG_BAD) << "another element size";
    EXPECT_EQ(resized(1, 3, {32768, 32768, 0}), TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
    ASSERT_TRUE(tulx7sim::GetBufferInfo(id, info));
    EXPECT_EQ(info.reportedSize[0], 40) << "a refused resize changes nothing";
}

TEST_F(DriverBufferTest, HostBuffersArePagesOwnedByTheirClient) {
    DriverSession session(0);
    DriverSession other(0);
    const Tulx7_dr_host_buffer_alloc alloc = HostBuffer(session, 5000);
    EXPECT_EQ(alloc.user_size, 8192u);
    EXPECT_EQ(alloc.user_address % 4096, 0u);
    EXPECT_NE(alloc.host_buffer_id, TULX7_DR_PLAIN_HOST_MEMORY);

    const uint32_t id = alloc.host_buffer_id;
    EXPECT_EQ(FreeHostBuffer(session, id, alloc.user_address + 16, 5000), TULX7_DR_STATUS_INVALID_ID);
    EXPECT_EQ(FreeHostBuffer(session, id, alloc.user_address, 6000), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(FreeHostBuffer(other, id, alloc.user_address, 5000), TULX7_DR_STATUS_INVALID_ID) << "not theirs";
    // Either the size asked for or the size granted frees it, once.
    EXPECT_EQ(FreeHostBuffer(session, id, alloc.user_address, 5000), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(FreeHostBuffer(session, id, alloc.user_address, 8192), TULX7_DR_STATUS_KERNEL_BUFFER_ALREADY_FREED);
    EXPECT_NE(HostBuffer(session, 4096).host_buffer_id, id);

    Tulx7_dr_host_buffer_alloc refused;
    EXPECT_EQ(session.Send(TULX7_DR_HOST_BUFFER_ALLOC, refused), TULX7_DR_STATUS_ARG_BAD) << "empty";
    refused.user_size = uint64_t{1} << 40;
    EXPECT_EQ(session.Send(TULX7_DR_HOST_BUFFER_ALLOC, refused), TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES);

    // Grants can fall short, down to nothing.
    tulx7sim::SetHostBufferGrantLimit(4096);
    EXPECT_EQ(HostBuffer(session, 20000).user_size, 4096u);
    tulx7sim::SetHostBufferGrantLimit(0);
    refused.user_size = 100;
    EXPECT_EQ(session.Send(TULX7_DR_HOST_BUFFER_ALLOC, refused), TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES);
}

}  // namespace
}  // namespace ulm3
