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

TEST_F(DriverAccessTest, OpensEachPresentBoardAndNothingElse) {
    DriverSession board0(0);
    DriverSession board1(1);
    EXPECT_EQ(board0.OpenStatus(), kTulx7OpenSuccess);
    EXPECT_EQ(board1.OpenStatus(), kTulx7OpenSuccess);
    EXPECT_FALSE(board0.Handle().IsClosed());
    EXPECT_NE(board0.Handle().connection, board1.Handle().connection);

    // Index 3 with two boards registered: no service, nothing left open.
    DriverSession board3(3);
    EXPECT_EQ(board3.OpenStatus(), kTulx7OpenNoService);
    EXPECT_TRUE(board3.Handle().IsClosed());
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.openConnections, 2);
    EXPECT_EQ(stats.openClients, 2);
    // Iterators and the services passed over on the way are all given back.
    EXPECT_EQ(stats.liveRegistryObjects, 0);
}

TEST_F(DriverAccessTest, DeviceNamesWithoutABoardIndexOpenNothing) {
    Tulx7_dr_handle handle{7, 7};
    int status = -1;
    for (const char* name : {"/dev/tulx", "/dev/other00", "", "/dev/tulx-1"}) {
        tulx7_dr_open(name, &handle, &status);
        EXPECT_EQ(status, kTulx7OpenNoService) << name;
        EXPECT_TRUE(handle.IsClosed()) << name;
    }
    tulx7_dr_open(nullptr, &handle, &status);
    EXPECT_EQ(status, kTulx7OpenNoService);
    EXPECT_EQ(tulx7sim::GetStats().liveRegistryObjects, 0);

    tulx7sim::SimConfig config;
    config.boards = 0;
    tulx7sim::ResetPlatform(config);
    EXPECT_EQ(DriverSession(0).OpenStatus(), kTulx7OpenNoService) << "no boards";
}

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
}

TEST_F(DriverAccessTest, AFailedTransportLeavesStatusFourUnlessTheDriverSetOne) {
    DriverSession session(0);
    tulx7sim::InjectTransportFailure(TULX7_DR_GET_CONFIGURATION, 1);
    Tulx7_dr_configuration configuration;
    EXPECT_EQ(session.Send(TULX7_DR_GET_CONFIGURATION, configuration),
              TULX7_DR_STATUS_DEVICE_MISC_ERROR);
    EXPECT_EQ(configuration.memory_size, 0) << "the driver never saw the record";
    EXPECT_NE(tulx7_dr_get_os_error(), 0);

    tulx7sim::InjectTransportFailure(TULX7_DR_GET_CONFIGURATION, 1);
    Tulx7_dr_configuration preset;
    preset.status = TULX7_DR_STATUS_INVALID_ID;
    EXPECT_EQ(session.Send(TULX7_DR_GET_CONFIGURATION, preset), TULX7_DR_STATUS_INVALID_ID);

    // A closed handle reaches no driver either.
    Tulx7_dr_configuration unreachable;
    tulx7_dr_ioctl(Tulx7_dr_handle{}, TULX7_DR_GET_CONFIGURATION, &unreachable);
    EXPECT_EQ(unreachable.status, TULX7_DR_STATUS_DEVICE_MISC_ERROR);
    tulx7_dr_ioctl(session.Handle(), TULX7_DR_GET_CONFIGURATION, nullptr);

    const auto log = tulx7sim::RequestLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].reachedDriver);
    EXPECT_FALSE(log[1].reachedDriver);
}

TEST_F(DriverAccessTest, UnknownRequestCodesAreNotImplemented) {
    DriverSession session(0);
    Tulx7_dr_abort record;
    EXPECT_EQ(session.Send(0xC0045699u, record), TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
}

TEST_F(DriverAccessTest, CloseEndsClientAndConnectionAndClearsErrno) {
    DriverSession session(0);
    errno = EINVAL;
    tulx7_dr_close(session.Handle());
    EXPECT_EQ(tulx7_dr_get_os_error(), 0);
    tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.openClients, 0);
    EXPECT_EQ(stats.openConnections, 0);
    EXPECT_EQ(stats.workerThreads, 0) << "workers stop with the last client";

    // A handle whose client was refused, or one never opened, closes quietly.
    tulx7_dr_close(Tulx7_dr_handle{0, 5});
    tulx7_dr_close(session.Handle());
    stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.openClients, 0);
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

TEST_F(DriverAccessTest, SeveralClientsMayShareABoard) {
    DriverSession first(0);
    DriverSession second(0);
    ASSERT_EQ(second.OpenStatus(), kTulx7OpenSuccess);
    const uint32_t firstClient = first.Handle().clientId;
    EXPECT_NE(firstClient, second.Handle().clientId);
    first.Close();
    Tulx7_dr_configuration configuration;
    EXPECT_EQ(second.Send(TULX7_DR_GET_CONFIGURATION, configuration), TULX7_DR_STATUS_SUCCESS);
    // A closed client's id is not usable on another connection.
    Tulx7_dr_configuration stale;
    tulx7_dr_ioctl(Tulx7_dr_handle{second.Handle().connection, firstClient},
                   TULX7_DR_GET_CONFIGURATION, &stale);
    EXPECT_EQ(stale.status, TULX7_DR_STATUS_DEVICE_MISC_ERROR);
}

}  // namespace
}  // namespace ulm3
