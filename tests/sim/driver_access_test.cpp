// Opening, using and closing a board's driver connection through the device
// registry.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "board/driver_access.h"
#include "driver_records.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using testing::DriverSession;

class DriverAccessTest : public testing::SimPlatformTest {};

TEST_F(DriverAccessTest, EachOpenStepReportsItsOwnStatus) {
    struct Case {
        const char* what;
        void (*arrange)();
        int status;
    };
    const Case cases[] = {
        {"registry port", [] { tulx7sim::SetRegistryPortUnavailable(true); }, kTulx7OpenNoRegistry},
        {"driver absent", [] { tulx7sim::SetDriverPresent(false); }, kTulx7OpenNoDriver},
        {"service open", [] { tulx7sim::SetServiceOpenFailure(0, true); }, kTulx7OpenNoDriver},
        {"client refused", [] { tulx7sim::SetClientOpenRefused(0, true); }, kTulx7OpenRefused},
    };
    for (const Case& c : cases) {
        tulx7sim::ResetPlatform(tulx7sim::SimConfig{});
        c.arrange();
        DriverSession session(0);
        EXPECT_EQ(session.OpenStatus(), c.status) << c.what;
        EXPECT_TRUE(session.Handle().IsClosed()) << c.what;
        const tulx7sim::Stats stats = tulx7sim::GetStats();
        EXPECT_EQ(stats.openConnections, 0) << c.what;
        EXPECT_EQ(stats.liveRegistryObjects, 0) << c.what;
        // Board 1 is refused only where the whole registry is.
        DriverSession other(1);
        EXPECT_EQ(other.OpenStatus() == kTulx7OpenSuccess,
                  c.status == kTulx7OpenRefused || std::string(c.what) == "service open")
            << c.what;
    }
    // A refused client leaves the system's reason behind.
    tulx7sim::ResetPlatform(tulx7sim::SimConfig{});
    tulx7sim::SetClientOpenRefused(0, true);
    errno = 0;
    DriverSession refused(0);
    EXPECT_EQ(tulx7_dr_get_os_error(), EACCES);
}

TEST_F(DriverAccessTest, UnknownRequestCodesAreNotImplemented) {
    DriverSession session(0);
    Tulx7_dr_abort record;
    EXPECT_EQ(session.Send(0xC0045699u, record), TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
}

TEST_F(DriverAccessTest, AClientClosedWithResourcesHasThemFreedAndCounted) {
    DriverSession session(0);
    const uint32_t buffer = session.Allocate(4, 64, 64);
    ASSERT_NE(buffer, TULX7_DR_NO_BUFFER);
    testing::HostBuffer(session, 10000);
    Tulx7_dr_buffer_map map;
    map.buffer_id = buffer;
    map.access_share = TULX7_DR_MAP_READ;
    map.addr = testing::Box(0, 3, 0, 3);
    map.host_element_size = 3;
    ASSERT_EQ(session.Send(TULX7_DR_BUFFER_MAP, map), TULX7_DR_STATUS_SUCCESS);
    session.Close();

    const tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.leakedBuffers, 1);
    EXPECT_EQ(stats.leakedHostBuffers, 1);
    EXPECT_EQ(stats.leakedMappings, 1);
    EXPECT_EQ(stats.liveBuffers, 0);
    EXPECT_EQ(stats.liveHostBuffers, 0);
    EXPECT_EQ(stats.liveMappings, 0);
    EXPECT_EQ(stats.boardBytesAllocated[0], 0u);
    EXPECT_FALSE(tulx7sim::DriverLog().empty());
}

}  // namespace
}  // namespace ulm3
