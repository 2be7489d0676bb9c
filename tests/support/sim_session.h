// Tests that talk to the simulated platform: a fresh platform per test, and
// a client of one board opened through the library's driver access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "board/driver_access.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3::testing {

// The platform's defaults as `change` leaves them.
template <typename Change>
tulx7sim::SimConfig Settings(Change change) {
    tulx7sim::SimConfig config;
    change(config);
    return config;
}

// Builds the platform from the fixture's settings before each test and
// tears it down after, so that knobs, logs and counters never leak between
// tests. A fixture that needs another platform passes its settings up, e.g.
// `SlowWait() : Wait(Settings([](auto& c) { c.latencyMicroseconds = 3000; })) {}`.
class SimPlatformTest : public ::testing::Test {
protected:
    explicit SimPlatformTest(const tulx7sim::SimConfig& settings = {}) : m_settings(settings) {}
    void SetUp() override { tulx7sim::ResetPlatform(m_settings); }
    void TearDown() override { tulx7sim::ResetPlatform(tulx7sim::SimConfig{}); }

    const tulx7sim::SimConfig m_settings;
};

// A board box: inclusive bounds per axis, offset 0 and no wrap.
Tulx7_dr_array_addressing Box(int32_t minU, int32_t maxU, int32_t minV = 0, int32_t maxV = 0,
                              int32_t minW = 0, int32_t maxW = 0);
Tulx7_dr_array_addressing Offset(Tulx7_dr_array_addressing box, int32_t u, int32_t v = 0,
                                 int32_t w = 0);
Tulx7_dr_array_addressing Wrap(Tulx7_dr_array_addressing box, int32_t moduloU,
                               int32_t moduloV = 0, int32_t moduloW = 0);

// A transfer record of whole host elements of `hostElementBytes` between
// `host` (rows of `row` elements, `slice` rows per slice, `slices` slices)
// and a box of a buffer, waiting for nothing.
Tulx7_dr_buffer_load TransferRecord(uint32_t buffer, const Tulx7_dr_array_addressing& box,
                                    const void* host, int32_t hostElementBytes, int32_t row,
                                    int32_t slice = 1, int32_t slices = 1);

class DriverSession {
public:
    explicit DriverSession(int board);
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    int OpenStatus() const { return m_openStatus; }
    const Tulx7_dr_handle& Handle() const { return m_handle; }
    void Close();

    template <typename Record>
    int32_t Send(uint32_t code, Record& record) {
        tulx7_dr_ioctl(m_handle, code, &record);
        return record.status;
    }

    // A buffer of 1, 2 or 3 axes (v and w 0 for absent ones); NO_BUFFER on
    // failure with the driver's answer in *status.
    uint32_t Allocate(int32_t elementBytes, int32_t u, int32_t v = 0, int32_t w = 0,
                      int32_t* status = nullptr);
    int32_t Detach(uint32_t buffer);
    // Starts a transfer and returns its status; the event id goes to *event.
    int32_t Start(bool load, Tulx7_dr_buffer_load record, uint32_t* event = nullptr);
    int32_t Wait(std::initializer_list<uint32_t> events, int32_t timeoutMs = -1,
                 int32_t selection = TULX7_DR_WAIT_ALL, Tulx7_dr_sync* answer = nullptr);

private:
    int m_openStatus = -1;
    Tulx7_dr_handle m_handle;
};

// The whole storage of a buffer, read through the platform's back door.
std::vector<uint8_t> StorageBytes(uint32_t buffer);
// Byte offset of element (u, v, w) in a buffer's storage.
uint64_t StorageOffset(uint32_t buffer, int32_t u, int32_t v = 0, int32_t w = 0);

}  // namespace ulm3::testing
