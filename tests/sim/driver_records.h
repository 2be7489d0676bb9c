// Driver records the simulator tests build again and again, and a look at a
// 2-D buffer's storage against what a box of it should hold.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "support/sim_session.h"
#include "tulx7/driver_requests.h"

namespace ulm3::testing {

inline constexpr uint8_t kSimPoison = 0xA5;  // what new board memory reads as

inline Tulx7_dr_host_buffer_alloc HostBuffer(DriverSession& session, uint64_t size) {
    Tulx7_dr_host_buffer_alloc alloc;
    alloc.user_size = size;
    EXPECT_EQ(session.Send(TULX7_DR_HOST_BUFFER_ALLOC, alloc), TULX7_DR_STATUS_SUCCESS);
    return alloc;
}

inline int32_t FreeHostBuffer(DriverSession& session, uint32_t id, uint64_t address, uint64_t size) {
    Tulx7_dr_host_buffer_free record;
    record.host_buffer_id = id;
    record.user_address = address;
    record.user_size = size;
    return session.Send(TULX7_DR_HOST_BUFFER_FREE, record);
}

inline int32_t Unmap(DriverSession& session, const Tulx7_dr_buffer_map& map, uint64_t size) {
    Tulx7_dr_buffer_unmap unmap;
    unmap.map_id = map.map_id;
    unmap.user_address = map.user_address;
    unmap.user_size = size;
    return session.Send(TULX7_DR_BUFFER_UNMAP, unmap);
}

// Starts a transfer and waits for it.
inline int32_t Transfer(DriverSession& session, bool load, const Tulx7_dr_buffer_load& record) {
    uint32_t event = 0;
    const int32_t status = session.Start(load, record, &event);
    return status != TULX7_DR_STATUS_SUCCESS ? status : session.Wait({event});
}

// Checks the storage elements (u, v), u < columns and v < rows, of a 2-D
// buffer: inside [u0, u1] x [v0, v1] the first `bytes` bytes equal those at
// expected(u, v); every element outside is poison through and through.
inline void ExpectStorage(uint32_t buffer, int columns, int rows, int u0, int u1, int v0, int v1,
                          size_t bytes, const std::function<const void*(int, int)>& expected) {
    const std::vector<uint8_t> storage = StorageBytes(buffer);
    const std::vector<uint8_t> poison(bytes, kSimPoison);
    for (int v = 0; v < rows; ++v)
        for (int u = 0; u < columns; ++u) {
            const bool inside = u >= u0 && u <= u1 && v >= v0 && v <= v1;
            ASSERT_EQ(std::memcmp(storage.data() + StorageOffset(buffer, u, v),
                                  inside ? expected(u, v) : poison.data(), bytes), 0)
                << (inside ? "inside " : "outside ") << u << "," << v;
        }
}

}  // namespace ulm3::testing
