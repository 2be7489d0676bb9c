// Loads, unloads, board-to-board copies and mappings: data moves byte-exact
// through every addressing form, and bad requests are refused with their
// status.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "driver_records.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using namespace testing;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return data;
}

class DriverTransferTest : public testing::SimPlatformTest {
protected:
    void SetUp() override {
        SimPlatformTest::SetUp();
        m_session = std::make_unique<DriverSession>(0);
    }
    void TearDown() override {
        m_session.reset();
        SimPlatformTest::TearDown();
    }
    std::unique_ptr<DriverSession> m_session;
};

TEST_F(DriverTransferTest, PitchedHostWindowsRoundTripThroughAnOffsetBox) {
    // 16-bit elements; the host holds rows of 120 elements, 40 rows a slice,
    // and the box's first element sits at host (3, 2).
    const uint32_t id = m_session->Allocate(2, 100, 30);
    const int32_t row = 120;
    const int32_t slice = 40;
    std::vector<uint8_t> host = Pattern(row * slice * 2, 1);
    // Board coordinates 14..53 x 7..26 with offset (4, 2) land on storage
    // 10..49 x 5..24.
    auto record = TransferRecord(id, Offset(Box(14, 53, 7, 26), 4, 2), host.data(), 2, row, slice);
    record.host_subbuffer_min = {3, 2, 0};
    ASSERT_EQ(Transfer(*m_session, true, record), TULX7_DR_STATUS_SUCCESS);
    ExpectStorage(id, 128, 32, 10, 49, 5, 24, 2,
                  [&](int u, int v) { return &host[((v - 5 + 2) * row + (u - 10 + 3)) * 2]; });

    // And back into a different pitch.
    std::vector<uint8_t> back(64 * 25 * 2, 0);
    auto unload = TransferRecord(id, Offset(Box(14, 53, 7, 26), 4, 2), back.data(), 2, 64, 25);
    unload.host_subbuffer_min = {0, 5, 0};
    ASSERT_EQ(Transfer(*m_session, false, unload), TULX7_DR_STATUS_SUCCESS);
    for (int v = 0; v < 20; ++v)
        ASSERT_EQ(std::memcmp(&back[(v + 5) * 64 * 2], &host[((v + 2) * row + 3) * 2], 40 * 2), 0) << v;
}

// One and two wrapped axes, and fields, go through the simulator in the
// library's transfer tests; here all three axes wrap at once.
TEST_F(DriverTransferTest, WrappedBoxesFoldOntoTheirModulus) {
    // A 3-D volume wrapped by 8 on every axis, loaded across all three
    // boundaries, comes back the same through a box shifted by whole periods.
    const uint32_t volume = m_session->Allocate(4, 8, 8, 8);
    const std::vector<uint8_t> cube = Pattern(6 * 5 * 4 * 4, 9);
    std::vector<uint8_t> back(cube.size(), 0);
    uint32_t event = 0, unloaded = 0;
    ASSERT_EQ(m_session->Start(true, TransferRecord(volume, Wrap(Box(5, 10, 6, 10, 7, 10), 8, 8, 8), cube.data(),
                                                   4, 6, 5, 4), &event), TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(m_session->Start(false, TransferRecord(volume, Wrap(Box(13, 18, 14, 18, -1, 2), 8, 8, 8),
                                                    back.data(), 4, 6, 5, 4), &unloaded), TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(m_session->Wait({event, unloaded}), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(back, cube);
    uint32_t element = 0;
    std::memcpy(&element, StorageBytes(volume).data() + StorageOffset(volume, 0, 1, 2), 4);
    uint32_t expected = 0;
    std::memcpy(&expected, cube.data() + ((3 * 5 + 3) * 6 + 3) * 4, 4);
    EXPECT_EQ(element, expected) << "board (8,9,10) is storage (0,1,2)";
}

TEST_F(DriverTransferTest, BadTransfersAreRefusedWithTheirStatus) {
    const uint32_t id = m_session->Allocate(2, 64, 16);
    std::vector<uint8_t> host(64 * 16 * 2);
    DriverSession other(0);
    const Tulx7_dr_host_buffer_alloc foreign = HostBuffer(other, 4096);
    const Tulx7_dr_host_buffer_alloc own = HostBuffer(*m_session, 100);

    const auto good = TransferRecord(id, Box(0, 63, 0, 15), host.data(), 2, 64, 16);
    struct Case {
        const char* what;
        void (*spoil)(Tulx7_dr_buffer_load&);
        int32_t status;
    };
    const Case cases[] = {
        {"unknown buffer", [](auto& r) { r.buffer_id = 0x0000BEEF; }, TULX7_DR_STATUS_INVALID_ID},
        {"field past element", [](auto& r) { r.element_alignment = 1; }, TULX7_DR_STATUS_ARG_BAD},
        {"host element too wide", [](auto& r) { r.host_descriptor.element_size = 3; }, TULX7_DR_STATUS_ARG_BAD},
        {"negative alignment", [](auto& r) { r.element_alignment = -1; }, TULX7_DR_STATUS_ARG_BAD},
        {"box past storage", [](auto& r) { r.addr.subbuffer_max.x = 64; }, TULX7_DR_STATUS_HW_RANGE_BAD},
        {"negative box", [](auto& r) { r.addr.subbuffer_min.y = -1; }, TULX7_DR_STATUS_HW_RANGE_BAD},
        {"inverted box", [](auto& r) { r.addr.subbuffer_min.x = 9; r.addr.subbuffer_max.x = 8; },
         TULX7_DR_STATUS_HW_RANGE_BAD},
        {"third axis of a 2-D buffer", [](auto& r) { r.addr.subbuffer_max.z = 1; }, TULX7_DR_STATUS_HW_RANGE_BAD},
        {"offset leaves storage", [](auto& r) { r.addr.offset_modulus.x = 2; }, TULX7_DR_STATUS_HW_RANGE_BAD},
        {"wrap not a power of two", [](auto& r) { r.addr.wrap = 1; r.addr.offset_modulus = {47, 15, 0}; },
         TULX7_DR_STATUS_ARG_BAD},
        {"wrap flag not 0 or 1", [](auto& r) { r.addr.wrap = 2; }, TULX7_DR_STATUS_ARG_BAD},
        {"null host", [](auto& r) { r.host_buffer_address = 0; }, TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"host row shorter than the run", [](auto& r) { r.host_descriptor.buffer_size.width = 63; },
         TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"host window past the row", [](auto& r) { r.host_subbuffer_min.x = 1; }, TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"negative host window", [](auto& r) { r.host_subbuffer_min.z = -1; }, TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"no slices", [](auto& r) { r.host_descriptor.buffer_size.depth = 0; }, TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"absurd pitch",
         [](auto& r) {
             r.host_descriptor.buffer_size = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
             r.host_subbuffer_min = {0, 0x7FFFFF00, 0x7FFFFF00};
         },
         TULX7_DR_STATUS_HOST_RANGE_BAD},
        {"unknown dependency", [](auto& r) { r.render_event_id = 0x7FFFFFF0; }, TULX7_DR_STATUS_INVALID_ID},
        {"unknown host buffer", [](auto& r) { r.host_buffer_id = 999; }, TULX7_DR_STATUS_INVALID_ID},
    };
    for (const Case& c : cases) {
        auto record = good;
        c.spoil(record);
        EXPECT_EQ(m_session->Start(true, record), c.status) << c.what;
        EXPECT_EQ(m_session->Start(false, record), c.status) << c.what;
        EXPECT_EQ(record.ret_load_event_id, 0u) << c.what;
    }

    // More than one piece's worth of bytes.
    const uint32_t big = m_session->Allocate(1, 1024, 1024);
    std::vector<uint8_t> large(1024 * 1024);
    EXPECT_EQ(m_session->Start(true, TransferRecord(big, Box(0, 1023, 0, 955), large.data(), 1, 1024, 956)),
              TULX7_DR_STATUS_SUCCESS)
        << "0xEF000 bytes exactly";
    EXPECT_EQ(m_session->Start(true, TransferRecord(big, Box(0, 1023, 0, 956), large.data(), 1, 1024, 957)),
              TULX7_DR_STATUS_ARG_BAD);

    // Driver host buffers bound the host window, and belong to their client.
    auto inForeign = TransferRecord(id, Box(0, 15), reinterpret_cast<void*>(foreign.user_address), 2, 16);
    inForeign.host_buffer_id = foreign.host_buffer_id;
    EXPECT_EQ(m_session->Start(true, inForeign), TULX7_DR_STATUS_INVALID_ID);
    auto overrun = TransferRecord(id, Box(0, 63, 0, 15), reinterpret_cast<void*>(own.user_address + 2049), 2, 64, 16);
    overrun.host_buffer_id = own.host_buffer_id;
    EXPECT_EQ(m_session->Start(true, overrun), TULX7_DR_STATUS_HOST_RANGE_BAD);
    auto inside = TransferRecord(id, Box(0, 63, 0, 15), reinterpret_cast<void*>(own.user_address + 2048), 2, 64, 16);
    inside.host_buffer_id = own.host_buffer_id;
    EXPECT_EQ(m_session->Start(true, inside), TULX7_DR_STATUS_SUCCESS);
    EXPECT_TRUE(tulx7sim::WaitForIdle(5000));
}

TEST_F(DriverTransferTest, HostMemoryIsTouchedOnlyWhenTheJobRuns) {
    const uint32_t id = m_session->Allocate(1, 64);
    std::vector<uint8_t> source(64, 1);
    std::vector<uint8_t> target(64, 0);
    tulx7sim::PauseBoard(0);
    uint32_t load = 0;
    uint32_t unload = 0;
    ASSERT_EQ(m_session->Start(true, TransferRecord(id, Box(0, 63), source.data(), 1, 64), &load),
              TULX7_DR_STATUS_SUCCESS);
    auto back = TransferRecord(id, Box(0, 63), target.data(), 1, 64);
    back.previous_load_event_id = load;
    ASSERT_EQ(m_session->Start(false, back, &unload), TULX7_DR_STATUS_SUCCESS);
    // The load has not read its source yet, so this is what arrives.
    std::fill(source.begin(), source.end(), 7);
    Tulx7_dr_sync answer;
    EXPECT_EQ(m_session->Wait({load, unload}, 0, TULX7_DR_WAIT_ANY, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.wait_status, 0);
    EXPECT_EQ(target[0], 0);
    tulx7sim::ResumeBoard(0);
    ASSERT_EQ(m_session->Wait({unload}), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(target, std::vector<uint8_t>(64, 7));
}

TEST_F(DriverTransferTest, BuffersAndHostBuffersOutliveTheirReleaseWhileQueuedWorkUsesThem) {
    const uint32_t id = m_session->Allocate(1, 4096);
    const Tulx7_dr_host_buffer_alloc alloc = HostBuffer(*m_session, 4096);
    std::memset(reinterpret_cast<void*>(alloc.user_address), 0x3C, 4096);

    tulx7sim::PauseBoard(0);
    auto record = TransferRecord(id, Box(0, 4095), reinterpret_cast<void*>(alloc.user_address), 1, 4096);
    record.host_buffer_id = alloc.host_buffer_id;
    uint32_t event = 0;
    ASSERT_EQ(m_session->Start(true, record, &event), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(m_session->Detach(id), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(FreeHostBuffer(*m_session, alloc.host_buffer_id, alloc.user_address, alloc.user_size),
              TULX7_DR_STATUS_SUCCESS);

    tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.liveBuffers, 0) << "the id is gone at once";
    EXPECT_EQ(stats.hostBuffersFreedInUse, 1);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(m_session->Wait({event}), TULX7_DR_STATUS_SUCCESS);
    stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.bytesMoved, 4096u);
    EXPECT_EQ(stats.pendingJobs, 0);
}

TEST_F(DriverTransferTest, PeersCopyBoardToBoard) {
    DriverSession peer(1);
    const uint32_t source = m_session->Allocate(2, 32, 16);
    const uint32_t destination = peer.Allocate(2, 20, 20);
    const std::vector<uint8_t> data = Pattern(32 * 16 * 2, 5);
    uint32_t loaded = 0;
    ASSERT_EQ(m_session->Start(true, TransferRecord(source, Box(0, 31, 0, 15), data.data(), 2, 32, 16), &loaded),
              TULX7_DR_STATUS_SUCCESS);

    Tulx7_dr_buffer_board2board copy;
    copy.src_render_event_id = TULX7_DR_NO_EVENT;
    copy.src_load_event_id = loaded;
    copy.src_buffer_id = source;
    copy.src_addr = Box(4, 31, 2, 15);  // 28 x 14
    copy.dest_render_event_id = TULX7_DR_NO_EVENT;
    copy.dest_unload_event_id = TULX7_DR_NO_EVENT;
    copy.dest_buffer_id = destination;
    copy.dest_addr = Box(1, 10, 3, 19);  // 10 x 17: the copy is 10 x 14
    ASSERT_EQ(m_session->Send(TULX7_DR_BUFFER_BOARD2BOARD, copy), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(copy.dest_ret_load_event_id, copy.src_ret_unload_event_id + 1);
    EXPECT_EQ(peer.Wait({copy.dest_ret_load_event_id}), TULX7_DR_STATUS_SUCCESS);
    ExpectStorage(destination, 32, 32, 1, 10, 3, 16, 2,
                  [&](int u, int v) { return &data[((v - 3 + 2) * 32 + (u - 1 + 4)) * 2]; });

    auto refused = [&](Tulx7_dr_buffer_board2board record, DriverSession& on) {
        return on.Send(TULX7_DR_BUFFER_BOARD2BOARD, record);
    };
    Tulx7_dr_buffer_board2board wrongWay = copy;
    std::swap(wrongWay.src_buffer_id, wrongWay.dest_buffer_id);
    EXPECT_EQ(refused(wrongWay, *m_session), TULX7_DR_STATUS_ARG_BAD);
    Tulx7_dr_buffer_board2board sameBoard = copy;
    sameBoard.dest_buffer_id = source;
    EXPECT_EQ(refused(sameBoard, *m_session), TULX7_DR_STATUS_ARG_BAD);
    Tulx7_dr_buffer_board2board narrower = copy;
    narrower.dest_buffer_id = peer.Allocate(4, 20, 20);
    EXPECT_EQ(refused(narrower, *m_session), TULX7_DR_STATUS_ARG_BAD);
    Tulx7_dr_buffer_board2board gone = copy;
    gone.dest_buffer_id = destination + 1000;
    EXPECT_EQ(refused(gone, *m_session), TULX7_DR_STATUS_INVALID_ID);
    Tulx7_dr_buffer_board2board outside = copy;
    outside.src_addr.subbuffer_max.y = 16 * 2;
    EXPECT_EQ(refused(outside, *m_session), TULX7_DR_STATUS_HW_RANGE_BAD);

    tulx7sim::SimConfig config;
    config.minor = 2;
    tulx7sim::ResetPlatform(config);
    DriverSession noPeers(0);
    EXPECT_EQ(refused(copy, noPeers), TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
}

TEST_F(DriverTransferTest, MappingsAreShadowCopiesWrittenBackOnUnmap) {
    const uint32_t id = m_session->Allocate(4, 100, 30);  // storage 112 x 32
    std::vector<uint32_t> pattern(112 * 32);
    std::iota(pattern.begin(), pattern.end(), 1u);
    ASSERT_TRUE(tulx7sim::WriteBufferMemory(id, 0, pattern.data(), pattern.size() * 4));

    // The byte at position 1 of a box running past the storage: what lies
    // outside reads 0.
    Tulx7_dr_buffer_map map;
    map.buffer_id = id;
    map.access_share = TULX7_DR_MAP_READ | TULX7_DR_MAP_WRITE;
    map.addr = Box(96, 127, 16, 47);
    map.element_alignment = 1;
    ASSERT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, map), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(map.user_size, 32u * 32);
    EXPECT_EQ(map.user_address % 4096, 0u);
    uint8_t* shadow = reinterpret_cast<uint8_t*>(map.user_address);
    EXPECT_EQ(shadow[0], static_cast<uint8_t>((16 * 112 + 96 + 1) >> 8));
    EXPECT_EQ(shadow[16], 0) << "u 112 is past the storage";
    EXPECT_EQ(shadow[16 * 32], 0) << "v 32 is past the storage";

    std::memset(shadow, 0xEE, map.user_size);
    ASSERT_TRUE(tulx7sim::ReadBufferMemory(id, 0, pattern.data(), pattern.size() * 4));
    EXPECT_EQ(pattern[16 * 112 + 96] >> 8 & 0xFF, (16u * 112 + 96 + 1) >> 8 & 0xFF)
        << "not coherent until unmapped";

    EXPECT_EQ(Unmap(*m_session, map, map.user_size + 1), TULX7_DR_STATUS_NOT_MAPPED);
    DriverSession other(0);
    EXPECT_EQ(Unmap(other, map, map.user_size), TULX7_DR_STATUS_NOT_MAPPED);
    ASSERT_EQ(Unmap(*m_session, map, map.user_size), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(Unmap(*m_session, map, map.user_size), TULX7_DR_STATUS_NOT_MAPPED);

    ASSERT_TRUE(tulx7sim::ReadBufferMemory(id, 0, pattern.data(), pattern.size() * 4));
    for (int v = 0; v < 32; ++v)
        for (int u = 0; u < 112; ++u) {
            const uint32_t original = static_cast<uint32_t>(v * 112 + u + 1);
            const uint32_t expected =
                u >= 96 && v >= 16 ? (original & 0xFFFF00FFu) | 0x0000EE00u : original;
            ASSERT_EQ(pattern[v * 112 + u], expected) << u << "," << v;
        }

    // A read-only mapping never writes back.
    Tulx7_dr_buffer_map readOnly = map;
    readOnly.access_share = TULX7_DR_MAP_READ | TULX7_DR_MAP_SHARED;
    ASSERT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, readOnly), TULX7_DR_STATUS_SUCCESS);
    std::memset(reinterpret_cast<void*>(readOnly.user_address), 0x11, readOnly.user_size);
    ASSERT_EQ(Unmap(*m_session, readOnly, readOnly.user_size), TULX7_DR_STATUS_SUCCESS);
    std::vector<uint32_t> after(pattern.size());
    ASSERT_TRUE(tulx7sim::ReadBufferMemory(id, 0, after.data(), after.size() * 4));
    EXPECT_EQ(after, pattern);
}

TEST_F(DriverTransferTest, MappingRefusals) {
    const uint32_t id = m_session->Allocate(2, 16, 16);
    Tulx7_dr_buffer_map good;
    good.buffer_id = id;
    good.access_share = TULX7_DR_MAP_READ;
    good.addr = Box(0, 15, 0, 15);
    good.host_element_size = 1;
    for (int32_t access : {0, 4, 8, -1}) {
        Tulx7_dr_buffer_map record = good;
        record.access_share = access;
        EXPECT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, record), TULX7_DR_STATUS_ARG_BAD) << access;
    }
    Tulx7_dr_buffer_map field = good;
    field.element_alignment = 1;
    EXPECT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, field), TULX7_DR_STATUS_ARG_BAD);
    Tulx7_dr_buffer_map unknown = good;
    unknown.buffer_id = id + 77;
    EXPECT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, unknown), TULX7_DR_STATUS_INVALID_ID);
    Tulx7_dr_buffer_map huge = good;
    huge.addr = Box(0, 32767, 0, 32767);
    EXPECT_EQ(m_session->Send(TULX7_DR_BUFFER_MAP, huge), TULX7_DR_STATUS_MALLOC_FAILED);

    int mapped = 0;
    Tulx7_dr_buffer_map record = good;
    while (m_session->Send(TULX7_DR_BUFFER_MAP, record) == TULX7_DR_STATUS_SUCCESS && mapped < 100) {
        ++mapped;
        record = good;
    }
    EXPECT_EQ(mapped, 64);
    EXPECT_EQ(record.status, TULX7_DR_STATUS_OUT_OF_MAP_DATA_STRUCTURES);

    tulx7sim::SimConfig config;
    config.mapImplemented = false;
    tulx7sim::ResetPlatform(config);
    DriverSession session(0);
    Tulx7_dr_buffer_map disabled = good;
    disabled.buffer_id = session.Allocate(2, 16, 16);
    EXPECT_EQ(session.Send(TULX7_DR_BUFFER_MAP, disabled), TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
}

}  // namespace
}  // namespace ulm3
