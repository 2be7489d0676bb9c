// Driver statuses: their names, their translation into ULMStatus, and how a
// driver's answer reaches the library's caller.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "board/driver_status.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

TEST(DriverStatusTranslation, EveryDriverStatusHasItsLibraryMeaning) {
    const std::set<int> alloc = {2, 3, 9, 10, 11, 12, 18, 19, 21, 22, 31, 32, 33, 34, 36, 39};
    const std::set<int> internal = {5, 13, 14, 15, 16, 20, 27, 35};
    const std::set<int> argument = {7, 23, 25, 28, 29, 30};
    const std::set<int> unimplemented = {17, 37, 38};
    for (int s = 0; s < TULX7_DR_STATUS_COUNT; ++s) {
        ULMStatus expected = kULMErrInternal;
        if (s == 0) expected = kULMOK;
        else if (s == 1) expected = kULMErrNoHardware;
        else if (s == 4 || s == 6) expected = kULMErrHardware;
        else if (s == 8 || s == 24) expected = kULMErrAccess;
        else if (s == 26) expected = kULMErrVersion;
        else if (s == 40) expected = kULMAlreadyComplete;
        else if (alloc.count(s)) expected = kULMErrAlloc;
        else if (argument.count(s)) expected = kULMErrArgument;
        else if (unimplemented.count(s)) expected = kULMErrUnimplemented;
        else ASSERT_TRUE(internal.count(s)) << s;
        EXPECT_EQ(TranslateDriverStatus(s), expected) << s;
    }
    for (int unknown : {41, 255, -1, 1000000})
        EXPECT_EQ(TranslateDriverStatus(unknown), kULMErrInternal) << unknown;
}

TEST(DriverStatusNames, FortyOneDistinctNamesThatFitTheirField) {
    std::set<std::string> names;
    for (int s = 0; s < TULX7_DR_STATUS_COUNT; ++s) {
        const char* name = DriverStatusName(s);
        EXPECT_LT(std::strlen(name), 64u);
        EXPECT_EQ(std::string(name).rfind("TULX7_DR_STATUS_", 0), 0u) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 41u);
    EXPECT_STREQ(DriverStatusName(0), "TULX7_DR_STATUS_SUCCESS");
    EXPECT_STREQ(DriverStatusName(37), "TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED");
    EXPECT_STREQ(DriverStatusName(40), "TULX7_DR_STATUS_ALREADY_COMPLETE");
    EXPECT_STREQ(DriverStatusName(41), "");
    EXPECT_STREQ(DriverStatusName(-3), "");
}

class DriverRequestTest : public testing::SimPlatformTest {};

TEST_F(DriverRequestTest, InjectedFaultsReachTheCallerAsTheirLibraryStatus) {
    testing::DriverSession session(0);
    int32_t last = -1;
    Tulx7_dr_configuration configuration;
    EXPECT_EQ(SendDriverRequest(session.Handle(), TULX7_DR_GET_CONFIGURATION, configuration, last), kULMOK);
    EXPECT_EQ(last, 0);

    // Refused at submission: nothing allocated.
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 2, TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
    EXPECT_NE(session.Allocate(1, 16), TULX7_DR_NO_BUFFER) << "only the second one fails";
    Tulx7_dr_buffer_attach allocate;
    allocate.buffer_descriptor.element_size = 0;
    allocate.buffer_descriptor.buffer_size = {16, 0, 0};
    EXPECT_EQ(SendDriverRequest(session.Handle(), TULX7_DR_BUFFER_ALLOCATE, allocate, last),
              kULMErrAlloc);
    EXPECT_EQ(last, TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 1);

    // Accepted, then failed by the board: the wait says so.
    const uint32_t buffer = session.Allocate(1, 16);
    uint8_t host[16] = {};
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    uint32_t event = 0;
    ASSERT_EQ(session.Start(true, testing::TransferRecord(buffer, testing::Box(0, 15), host, 1, 16),
                            &event),
              TULX7_DR_STATUS_SUCCESS);
    Tulx7_dr_sync sync;
    sync.selection = TULX7_DR_WAIT_ALL;
    sync.timeout = -1;
    sync.event_count = 1;
    sync.event_list[0].event_id = event;
    EXPECT_EQ(SendDriverRequest(session.Handle(), TULX7_DR_SYNC, sync, last), kULMErrHardware);
    EXPECT_EQ(last, TULX7_DR_STATUS_HW_ERROR);
    EXPECT_EQ(sync.wait_status, 1);
    EXPECT_EQ(sync.event_list[0].event_occurred, 1);
    // The failure sticks to the event: a later wait reports it again.
    EXPECT_EQ(session.Wait({event}), TULX7_DR_STATUS_HW_ERROR);
    // No data moved.
    EXPECT_EQ(testing::StorageBytes(buffer)[0], 0xA5);

    // Never reached the driver.
    tulx7sim::InjectTransportFailure(TULX7_DR_GET_CONFIGURATION, 1);
    EXPECT_EQ(SendDriverRequest(session.Handle(), TULX7_DR_GET_CONFIGURATION, configuration, last),
              kULMErrHardware);
    EXPECT_EQ(last, TULX7_DR_STATUS_DEVICE_MISC_ERROR);
}

}  // namespace
}  // namespace ulm3
