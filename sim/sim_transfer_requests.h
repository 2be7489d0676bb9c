// The driver's requests that move data: loads and unloads between host
// memory and a board buffer, copies between peer boards, and mappings. Run
// with the driver's lock held.
#pragma once

#include <cstdint>

#include "sim_scheduler.h"
#include "sim_state.h"
#include "tulx7/driver_requests.h"

namespace tulx7sim {

class SimTransferRequests {
public:
    SimTransferRequests(SimState& state, SimScheduler& scheduler)
        : m_state(state), m_scheduler(scheduler) {}

    int32_t Transfer(SimClient& client, Tulx7_dr_buffer_load& r, bool load, RequestLogEntry& entry);
    int32_t BoardToBoard(SimClient& client, Tulx7_dr_buffer_board2board& r, RequestLogEntry& entry);
    // Both wait (the lock let go meanwhile) for the buffer's queued work.
    int32_t MapBuffer(SimLock& lock, SimClient& client, Tulx7_dr_buffer_map& r,
                      RequestLogEntry& entry);
    int32_t UnmapBuffer(SimLock& lock, SimClient& client, Tulx7_dr_buffer_unmap& r,
                        RequestLogEntry& entry);

private:
    SimState& m_state;
    SimScheduler& m_scheduler;
};

}  // namespace tulx7sim
