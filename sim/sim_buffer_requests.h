// The driver's requests about a board and its memory: configuration, peers,
// board buffers and driver host buffers. Run with the driver's lock held.
#pragma once

#include <cstdint>

#include "sim_state.h"
#include "tulx7/driver_requests.h"

namespace tulx7sim {

class SimBufferRequests {
public:
    explicit SimBufferRequests(SimState& state) : m_state(state) {}

    int32_t GetConfiguration(SimClient& client, Tulx7_dr_configuration& r);
    int32_t GetBoardPeers(Tulx7_dr_board_peers& r);
    int32_t AllocateBuffer(SimClient& client, Tulx7_dr_buffer_attach& r, RequestLogEntry& entry);
    int32_t AttachBuffer(SimClient& client, Tulx7_dr_buffer_attach& r, RequestLogEntry& entry);
    // A resize waits (the lock let go meanwhile) for the buffer's queued work.
    int32_t SetBufferPermission(SimLock& lock, SimClient& client, Tulx7_dr_buffer_attach& r,
                                RequestLogEntry& entry);
    int32_t DetachBuffer(SimClient& client, Tulx7_dr_buffer_detach& r, RequestLogEntry& entry);
    int32_t AllocateHostBuffer(SimClient& client, Tulx7_dr_host_buffer_alloc& r,
                               RequestLogEntry& entry);
    int32_t FreeHostBuffer(SimClient& client, Tulx7_dr_host_buffer_free& r,
                           RequestLogEntry& entry);

private:
    SimState& m_state;
};

}  // namespace tulx7sim
