// Board buffers seen as host memory: emulated copies and driver mappings,
// with and without write-back.
#include <gtest/gtest.h>

#include <cstring>

#include "board/board_buffer_fixture.h"
#include "board/kwb_mapping.h"
#include "foundation/control.h"
#include "tulx7/driver_requests.h"

using namespace ulm3;
using ulm3::test_support::BoardBufferTest;

namespace {

class Mappings : public BoardBufferTest {
protected:
    using BoardBufferTest::BoardBufferTest;
    void TearDown() override {
        EXPECT_EQ(KWBLiveMappingCount(), 0u);
        BoardBufferTest::TearDown();
    }

    // A 2-D buffer of 100 x 30 16-bit elements holding known values.
    KWBBuffer* Filled(std::vector<uint8_t>& data) {
        KWBBuffer* b = Make(0, 100, 30, 0, 16);
        data = Random(100 * 30 * 2, 97);
        EXPECT_EQ(Board(0)->LoadBuffer(b, data.data(), KWBRange(0, 0, 99, 29), 0, 0, -1), kULMOK);
        return b;
    }

    // Everything the buffer of Filled() holds now.
    std::vector<uint8_t> Contents(const KWBBuffer* b) {
        std::vector<uint8_t> back(100 * 30 * 2);
        EXPECT_EQ(Board(0)->UnloadBuffer(b, back.data(), KWBRange(0, 0, 99, 29), 0, 0, -1), kULMOK);
        return back;
    }

    // Checks that mapped memory pitched by `row` shows the buffer's box of
    // 16-bit elements starting at (u0, v0) with extents eu x ev.
    static void ExpectShows(const void* mapped, uint32_t row, const std::vector<uint8_t>& data,
                            int u0, int v0, int eu, int ev) {
        const auto* m = static_cast<const uint8_t*>(mapped);
        for (int v = 0; v < ev; ++v)
            ASSERT_EQ(std::memcmp(m + static_cast<size_t>(v) * row * 2,
                                  &data[(static_cast<size_t>(v0 + v) * 100 + u0) * 2], eu * 2), 0)
                << "row " << v;
    }
};

TEST_F(Mappings, AnEmulatedMappingIsAPowerOfTwoPitchedCopy) {
    std::vector<uint8_t> data;
    KWBBuffer* b = Filled(data);
    void* host = nullptr;
    uint32_t u = 0, v = 0;
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(Board(0)->MapBuffer(b, host, KWBRange(0, 0, 99, 29), kULMAccessReadShared, u, v), kULMOK);
    EXPECT_EQ(u, 128u);
    EXPECT_EQ(v, 32u);
    EXPECT_EQ(Board(0)->GetMapType(), KWBBoard::eSimulatedMap);
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_MAP).empty());
    ASSERT_EQ(Requests(TULX7_DR_BUFFER_UNLOAD).size(), 1u);
    ExpectShows(host, u, data, 0, 0, 100, 30);
    // The padding of the copy is zero, never stale memory.
    EXPECT_EQ(static_cast<uint8_t*>(host)[(128 * 31 + 127) * 2], 0);

    // Read only: nothing goes back to the board.
    static_cast<uint8_t*>(host)[0] ^= 0xFF;
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(Board(0)->UnmapBuffer(b, host), kULMOK);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(Contents(b), data);
}

TEST_F(Mappings, FieldsMapOnTheirOwn) {
    KWBBuffer* b = Make(0, 16, 0, 0, 32);
    std::vector<uint8_t> data = Random(16 * 4, 101);
    ASSERT_EQ(Board(0)->LoadBuffer(b, data.data(), KWBRange(0, 15), 0, 0, -1), kULMOK);
    void* host = nullptr;
    uint32_t u = 0, v = 0;
    ASSERT_EQ(Board(0)->MapBufferField(b, host, 8, 16, KWBRange(0, 15), kULMAccessWriteExclusive, u, v),
              kULMOK);
    EXPECT_EQ(u, 16u);
    EXPECT_EQ(v, 1u);
    auto* m = static_cast<uint8_t*>(host);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(m[i], data[i * 4 + 2]);
        m[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(Board(0)->UnmapBuffer(b, host), kULMOK);
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(Board(0)->UnloadBuffer(b, back.data(), KWBRange(0, 15), 0, 0, -1), kULMOK);
    for (int i = 0; i < 16; ++i) data[i * 4 + 2] = static_cast<uint8_t>(i);
    EXPECT_EQ(back, data);
}

TEST_F(Mappings, BadRequestsAreRefused) {
    KWBBuffer* b = Make(0, 64, 0, 0, 16);
    KWBBuffer* other = Make(0, 64, 0, 0, 16);
    void* host = nullptr;
    uint32_t u = 7, v = 7;
    const KWBRange box(0, 15);
    tulx7sim::ClearRequestLog();
    for (ULMAccessType access : {kULMAccessNoControl, kULMAccessWrite, static_cast<ULMAccessType>(7)})
        EXPECT_EQ(Board(0)->MapBuffer(b, host, box, access, u, v), kULMErrArgument) << access;
    EXPECT_EQ(Board(0)->MapBuffer(nullptr, host, box, kULMAccessReadShared, u, v), kULMErrArgument);
    EXPECT_EQ(Board(0)->MapBuffer(b, host, KWBRange(0, 64), kULMAccessReadShared, u, v), kULMErrArgument);
    EXPECT_EQ(Board(0)->MapBufferField(b, host, 0, 0, box, kULMAccessReadShared, u, v), kULMErrArgument);
    EXPECT_EQ(Board(0)->MapBufferField(b, host, 8, 12, box, kULMAccessReadShared, u, v), kULMErrArgument);
    EXPECT_EQ(Board(0)->MapBufferField(b, host, 16, 8, box, kULMAccessReadShared, u, v), kULMErrArgument);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    EXPECT_EQ(host, nullptr);
    EXPECT_EQ(u, 7u);

    ASSERT_EQ(Board(0)->MapBuffer(b, host, box, kULMAccessWriteShared, u, v), kULMOK);
    int notMapped = 0;
    EXPECT_EQ(Board(0)->UnmapBuffer(b, &notMapped), kULMErrArgument);
    EXPECT_EQ(Board(0)->UnmapBuffer(other, host), kULMErrArgument);  // another buffer's mapping
    EXPECT_EQ(Board(0)->UnmapBuffer(b, nullptr), kULMErrArgument);
    EXPECT_EQ(Board(0)->UnmapBuffer(nullptr, host), kULMErrArgument);
    EXPECT_EQ(KWBLiveMappingCount(), 1u);
    EXPECT_EQ(Board(0)->UnmapBuffer(b, host), kULMOK);
    EXPECT_EQ(Board(0)->UnmapBuffer(b, host), kULMErrArgument);  // already gone
}

TEST_F(Mappings, EachUnmapGoesTheWayItsMappingWasMade) {
    std::vector<uint8_t> data;
    KWBBuffer* b = Filled(data);
    uint32_t u = 0, v = 0;
    void* byDriver = nullptr;
    void* emulated = nullptr;
    gULMControl.m_simulateMap = false;
    ASSERT_EQ(Board(0)->MapBuffer(b, byDriver, KWBRange(0, 0, 15, 3), kULMAccessWriteShared, u, v), kULMOK);
    gULMControl.m_simulateMap = true;
    ASSERT_EQ(Board(0)->MapBuffer(b, emulated, KWBRange(40, 10, 55, 13), kULMAccessWriteShared, u, v),
              kULMOK);
    EXPECT_EQ(Board(0)->GetMapType(), KWBBoard::eSimulatedMap);  // the last one made

    static_cast<uint16_t*>(byDriver)[0] = 0x1111;
    static_cast<uint16_t*>(emulated)[0] = 0x2222;
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(Board(0)->UnmapBuffer(b, byDriver), kULMOK);
    EXPECT_EQ(Requests(TULX7_DR_BUFFER_UNMAP).size(), 1u);
    EXPECT_TRUE(Requests(TULX7_DR_BUFFER_LOAD).empty());
    EXPECT_EQ(tulx7sim::GetStats().liveMappings, 0);

    gULMControl.m_simulateMap = false;  // the parameter does not decide an unmap either
    ASSERT_EQ(Board(0)->UnmapBuffer(b, emulated), kULMOK);
    EXPECT_EQ(Requests(TULX7_DR_BUFFER_UNMAP).size(), 1u);
    EXPECT_EQ(Requests(TULX7_DR_BUFFER_LOAD).size(), 1u);

    const std::vector<uint8_t> back = Contents(b);
    EXPECT_EQ(back[0] | back[1] << 8, 0x1111);
    EXPECT_EQ(back[(10 * 100 + 40) * 2] | back[(10 * 100 + 40) * 2 + 1] << 8, 0x2222);
}

}  // namespace
