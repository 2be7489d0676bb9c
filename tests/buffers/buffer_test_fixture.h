// The library opened on a fresh simulated platform, and the board memory
// behind an on-board image or depth buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "board/kwb_buffer.h"
#include "foundation/shareable.h"
#include "support/sim_library_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3/library.h"

namespace ulm3::test_support {

template <class T>
using Held = ReleasablePointer<T>;

class BufferTest : public SimLibraryTest {
protected:
    using SimLibraryTest::SimLibraryTest;
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
        tulx7sim::ClearRequestLog();
    }

    static tulx7sim::BufferInfo Info(const KWBBuffer* buffer) {
        tulx7sim::BufferInfo info;
        EXPECT_TRUE(tulx7sim::GetBufferInfo(buffer->GetDriverID(), info));
        return info;
    }

    // Storage element (u, v, w), through the back door.
    template <typename T>
    static T Element(const KWBBuffer* buffer, int u, int v, int w = 0) {
        T value{};
        EXPECT_TRUE(tulx7sim::ReadBufferMemory(buffer->GetDriverID(), Offset<T>(buffer, u, v, w),
                                               &value, sizeof(T)));
        return value;
    }
    template <typename T>
    static void SetElement(const KWBBuffer* buffer, int u, int v, int w, T value) {
        EXPECT_TRUE(tulx7sim::WriteBufferMemory(buffer->GetDriverID(), Offset<T>(buffer, u, v, w),
                                                &value, sizeof(T)));
    }

    // What new board memory holds.
    template <typename T>
    static T Fill() {
        T value;
        std::memset(&value, 0xA5, sizeof(T));
        return value;
    }

    template <typename T>
    static std::vector<T> Random(size_t count, uint32_t seed) {
        std::mt19937_64 rng(seed);
        std::vector<T> data(count);
        for (T& v : data) v = static_cast<T>(rng());
        return data;
    }

    static size_t CountRequests(uint32_t code) {
        size_t n = 0;
        for (const auto& entry : tulx7sim::RequestLog()) n += entry.code == code;
        return n;
    }

private:
    template <typename T>
    static uint64_t Offset(const KWBBuffer* buffer, int u, int v, int w) {
        const tulx7sim::BufferInfo info = Info(buffer);
        return ((static_cast<uint64_t>(w) * info.storageSize[1] + v) * info.storageSize[0] + u) *
               sizeof(T);
    }
};

}  // namespace ulm3::test_support
