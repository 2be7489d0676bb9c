// The driver's requests about queued work: render submission, waits, aborts
// and queue dumps. Run with the driver's lock held.
#pragma once

#include <cstdint>

#include "sim_scheduler.h"
#include "sim_state.h"
#include "tulx7/driver_requests.h"

namespace tulx7sim {

class SimEventRequests {
public:
    SimEventRequests(SimState& state, SimScheduler& scheduler)
        : m_state(state), m_scheduler(scheduler) {}

    int32_t Render(SimClient& client, Tulx7_dr_render& r, RequestLogEntry& entry);
    // Lets go of the lock while it waits.
    int32_t Sync(SimLock& lock, Tulx7_dr_sync& r, RequestLogEntry& entry);
    int32_t Abort(Tulx7_dr_abort& r, RequestLogEntry& entry);
    int32_t DumpQueue(SimClient& client, Tulx7_dr_debug_data& r);

private:
    SimState& m_state;
    SimScheduler& m_scheduler;
};

}  // namespace tulx7sim
