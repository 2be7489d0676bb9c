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

}  // namespace
}  // namespace ulm3
