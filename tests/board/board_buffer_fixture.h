// Boards opened on a fresh simulated platform, buffers made through the
// library, and looks at board memory through the platform's back door.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "support/sim_library_fixture.h"
#include "tulx7sim/test_api.h"

namespace ulm3::test_support {

inline constexpr uint8_t kBoardPoison = 0xA5;  // what new board memory reads as
inline constexpr uint8_t kHostPoison = 0x5C;   // what host memory is filled with

class BoardBufferTest : public SimLibraryTest {
protected:
    using SimLibraryTest::SimLibraryTest;
    void SetUp() override {
        SimLibraryTest::SetUp();
        for (int b = 0; b < tulx7sim::CurrentConfig().boards; ++b) {
            ULMStatus status = kULMErrInternal;
            m_boards[b] = KWBBoard::Open(b, status, false);
            ASSERT_EQ(status, kULMOK);
        }
        tulx7sim::ClearRequestLog();
    }

    void TearDown() override {
        for (auto& [board, buffer] : m_buffers) board->ReleaseBuffer(buffer, false);
        m_buffers.clear();
        EXPECT_EQ(tulx7sim::GetStats().hostBuffersFreedInUse, 0);
        SimLibraryTest::TearDown();
    }

    KWBBoard* Board(int b) const { return m_boards[b]; }

    // A buffer released by the fixture; fails the test when it cannot be made.
    KWBBuffer* Make(int board, uint32_t u, uint32_t v, uint32_t w, uint32_t bits) {
        ULMStatus status = kULMErrInternal;
        KWBBuffer* buffer = m_boards[board]->CreateBuffer(u, v, w, bits, status);
        EXPECT_EQ(status, kULMOK);
        if (buffer != nullptr) m_buffers.push_back({m_boards[board], buffer});
        return buffer;
    }

    // Forgets a buffer the test released itself.
    void Forget(KWBBuffer* buffer) {
        m_buffers.erase(std::remove_if(m_buffers.begin(), m_buffers.end(),
                                       [buffer](const auto& e) { return e.second == buffer; }),
                        m_buffers.end());
    }

    static tulx7sim::BufferInfo Info(const KWBBuffer* buffer) {
        tulx7sim::BufferInfo info;
        EXPECT_TRUE(tulx7sim::GetBufferInfo(buffer->GetDriverID(), info));
        return info;
    }

    // The whole storage of a buffer.
    static std::vector<uint8_t> Storage(const KWBBuffer* buffer) {
        const tulx7sim::BufferInfo info = Info(buffer);
        std::vector<uint8_t> bytes(static_cast<size_t>(info.storageSize[0]) * info.storageSize[1] *
                                   info.storageSize[2] * info.elementBytes);
        EXPECT_TRUE(tulx7sim::ReadBufferMemory(buffer->GetDriverID(), 0, bytes.data(), bytes.size()));
        return bytes;
    }

    // Byte offset of storage element (qu, qv, qw).
    static size_t StorageIndex(const tulx7sim::BufferInfo& info, int qu, int qv = 0, int qw = 0) {
        return ((static_cast<size_t>(qw) * info.storageSize[1] + qv) * info.storageSize[0] + qu) *
               info.elementBytes;
    }

    static std::vector<uint8_t> Random(size_t bytes, uint32_t seed) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> data(bytes);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        return data;
    }

    static std::vector<uint8_t> Poisoned(size_t bytes) { return std::vector<uint8_t>(bytes, kHostPoison); }

    // Requests of one code in the log.
    static std::vector<tulx7sim::RequestLogEntry> Requests(uint32_t code) {
        std::vector<tulx7sim::RequestLogEntry> found;
        for (const auto& entry : tulx7sim::RequestLog())
            if (entry.code == code) found.push_back(entry);
        return found;
    }

private:
    KWBBoard* m_boards[KWBBoard::kMaxBoards] = {};
    std::vector<std::pair<KWBBoard*, KWBBuffer*>> m_buffers;
};

}  // namespace ulm3::test_support
