// Loads, unloads, board-to-board copies and mappings: data moves byte-exact
// through every addressing form, and bad requests are refused with their
// status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "driver_records.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using namespace testing;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return data;
}

// Loads the record's host memory, then unloads into memory poisoned with
// 0xEE: the storage must then hold `storage`, the unloaded memory `host`.
void ExpectRoundTrip(DriverSession& session, Tulx7_dr_buffer_load record,
                     const std::vector<uint8_t>& storage, const std::vector<uint8_t>& host) {
    ASSERT_EQ(Transfer(session, true, record), TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(StorageBytes(record.buffer_id), storage);
    std::vector<uint8_t> back(host.size(), 0xEE);
    record.host_buffer_address = reinterpret_cast<uintptr_t>(back.data());
    ASSERT_EQ(Transfer(session, false, record), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(back, host);
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

// A field at each byte position of 2-, 4- and 8-byte elements, in boxes of
// whole rows and of rows cut short, from packed and from pitched host rows,
// loaded and unloaded with each instruction set: only the field's bytes
// change, and only they come back.
TEST_F(DriverTransferTest, FieldsMoveAloneOnEveryInstructionSet) {
    struct Layout {
        int32_t first, pitch;
    };
    for (const auto set : {tulx7sim::ChipInstructionSet::kScalar, tulx7sim::ChipInstructionSet::kAvx2}) {
        tulx7sim::SetChipInstructionSet(set);
        for (int32_t element : {2, 4, 8})
            for (int32_t bytes = 1; bytes < element; bytes *= 2)
                for (int32_t position = 0; position + bytes <= element; ++position)
                    for (const Layout layout : {Layout{0, 0}, Layout{1, 0}, Layout{0, 5}}) {
                        SCOPED_TRACE(::testing::Message()
                                     << tulx7sim::ChipInstructionSetName() << " " << bytes << " of " << element
                                     << " at " << position << " from " << layout.first << " pitch " << layout.pitch);
                        const uint32_t id = m_session->Allocate(element, 37, 3);
                        std::vector<uint8_t> storage = Pattern(StorageBytes(id).size(), 7);
                        ASSERT_TRUE(tulx7sim::WriteBufferMemory(id, 0, storage.data(), storage.size()));
                        // From the first storage column to the last, or one in from each.
                        const auto columns = static_cast<int32_t>(StorageOffset(id, 0, 1) / size_t(element));
                        const int32_t width = columns - 2 * layout.first, row = width + layout.pitch;
                        const std::vector<uint8_t> field = Pattern(size_t(row) * 3 * size_t(bytes), 91);
                        std::vector<uint8_t> moved(field.size(), 0xEE);
                        for (int32_t v = 0; v < 3; ++v)
                            for (int32_t u = 0; u < width; ++u) {
                                const size_t at = (size_t(v) * size_t(row) + size_t(u)) * size_t(bytes);
                                std::memcpy(&storage[StorageOffset(id, layout.first + u, v) + size_t(position)],
                                            &field[at], size_t(bytes));
                                std::memcpy(&moved[at], &field[at], size_t(bytes));
                            }
                        const auto box = Box(layout.first, layout.first + width - 1, 0, 2);
                        auto record = TransferRecord(id, box, field.data(), bytes, row, 3);
                        record.element_alignment = position;
                        ExpectRoundTrip(*m_session, record, storage, moved);
                        EXPECT_EQ(m_session->Detach(id), TULX7_DR_STATUS_SUCCESS);
                    }
    }
    tulx7sim::SetChipInstructionSet(tulx7sim::ChipInstructionSet::kDefault);
}

// Whole elements and fields of every width the driver takes, in 3-D boxes
// that cover the storage, whole rows, or rows cut short at each side of a
// vector's width, from packed and from pitched host memory with the box
// set in from the host's corner, on each instruction set: the storage
// after a load and the host after an unload match a move made element by
// element, and nothing outside the box or the field changes.
TEST_F(DriverTransferTest, BoxesMoveAsElementByElementOnEveryInstructionSet) {
    struct Geometry {
        int32_t minU, width, minV, rows, minW, planes;  // width/rows/planes 0: to the storage's end
        int32_t rowPad, slicePad, hostU, hostV, hostW;
    };
    const Geometry geometries[] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},     // the whole storage
        {0, 0, 1, 0, 1, 2, 0, 0, 0, 0, 0},     // whole rows of two planes
        {0, 0, 0, 0, 0, 0, 3, 1, 0, 0, 0},     // the whole storage into pitched rows
        {0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0},     // whole planes into pitched slices
        {3, 9, 2, 1, 0, 0, 2, 1, 1, 0, 0},     // one row of each plane
        {3, 1, 1, 2, 1, 2, 4, 1, 2, 1, 1},     // a column
        {3, 7, 0, 3, 0, 2, 4, 1, 2, 1, 0},
        {1, 31, 1, 2, 1, 2, 0, 1, 0, 1, 1},
        {6, 20, 0, 3, 1, 2, 2, 0, 1, 1, 0},
        {2, 32, 1, 2, 0, 3, 4, 0, 1, 0, 0},
        {5, 33, 0, 2, 1, 2, 3, 2, 0, 0, 1},
        {4, 65, 1, 3, 0, 2, 1, 0, 3, 0, 0},
        {7, 130, 0, 4, 0, 3, 2, 1, 1, 1, 1},
    };
    // Sizes the board allocates as they stand, so that whole rows and
    // planes of the box lie end to end in storage.
    constexpr int32_t kColumns = 144, kRows = 8, kPlanes = 8;
    for (const auto set : {tulx7sim::ChipInstructionSet::kScalar, tulx7sim::ChipInstructionSet::kAvx2}) {
        tulx7sim::SetChipInstructionSet(set);
        for (int32_t element : {1, 2, 4, 8})
            for (int32_t bytes = 1; bytes <= element; bytes *= 2)
                for (int32_t position = 0; position + bytes <= element; ++position)
                    for (const Geometry& g : geometries) {
                        SCOPED_TRACE(::testing::Message()
                                     << tulx7sim::ChipInstructionSetName() << " " << bytes << " of " << element
                                     << " at " << position << " from " << g.minU << " width " << g.width);
                        // Buffers of 8-byte elements have two axes at most.
                        const bool flat = element == 8;
                        const uint32_t id = m_session->Allocate(element, kColumns, kRows, flat ? 0 : kPlanes);
                        const int32_t width = g.width != 0 ? g.width : kColumns - g.minU;
                        const int32_t rows = g.rows != 0 ? g.rows : kRows - g.minV;
                        const int32_t minW = flat ? 0 : g.minW;
                        const int32_t planes = flat ? 1 : g.planes != 0 ? g.planes : kPlanes - g.minW;
                        const int32_t row = g.hostU + width + g.rowPad, slice = g.hostV + rows + g.slicePad;
                        const int32_t slices = g.hostW + planes;
                        std::vector<uint8_t> storage = Pattern(StorageBytes(id).size(), 7);
                        ASSERT_EQ(storage.size(), size_t(kColumns) * kRows * (flat ? 1 : kPlanes) * size_t(element));
                        ASSERT_TRUE(tulx7sim::WriteBufferMemory(id, 0, storage.data(), storage.size()));
                        const std::vector<uint8_t> host =
                            Pattern(size_t(row) * size_t(slice) * size_t(slices) * size_t(bytes), 91);
                        std::vector<uint8_t> unloaded(host.size(), 0xEE);
                        for (int32_t w = 0; w < planes; ++w)
                            for (int32_t v = 0; v < rows; ++v)
                                for (int32_t u = 0; u < width; ++u) {
                                    const size_t at = ((size_t(g.hostW + w) * size_t(slice) + size_t(g.hostV + v)) *
                                                           size_t(row) + size_t(g.hostU + u)) * size_t(bytes);
                                    const size_t to = StorageOffset(id, g.minU + u, g.minV + v, minW + w);
                                    std::memcpy(&storage[to + size_t(position)], &host[at], size_t(bytes));
                                    std::memcpy(&unloaded[at], &host[at], size_t(bytes));
                                }
                        const auto box =
                            Box(g.minU, g.minU + width - 1, g.minV, g.minV + rows - 1, minW, minW + planes - 1);
                        auto record = TransferRecord(id, box, host.data(), bytes, row, slice, slices);
                        record.host_subbuffer_min = {g.hostU, g.hostV, g.hostW};
                        record.element_alignment = position;
                        ExpectRoundTrip(*m_session, record, storage, unloaded);
                        EXPECT_EQ(m_session->Detach(id), TULX7_DR_STATUS_SUCCESS);
                    }
    }
    tulx7sim::SetChipInstructionSet(tulx7sim::ChipInstructionSet::kDefault);
}

}  // namespace
}  // namespace ulm3
