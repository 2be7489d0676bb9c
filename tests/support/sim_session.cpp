#include "support/sim_session.h"

#include <cstdio>

namespace ulm3::testing {

Tulx7_dr_array_addressing Box(int32_t minU, int32_t maxU, int32_t minV, int32_t maxV,
                              int32_t minW, int32_t maxW) {
    Tulx7_dr_array_addressing box;
    box.subbuffer_min = {minU, minV, minW};
    box.subbuffer_max = {maxU, maxV, maxW};
    return box;
}

Tulx7_dr_array_addressing Offset(Tulx7_dr_array_addressing box, int32_t u, int32_t v, int32_t w) {
    box.offset_modulus = {u, v, w};
    box.wrap = 0;
    return box;
}

Tulx7_dr_array_addressing Wrap(Tulx7_dr_array_addressing box, int32_t moduloU, int32_t moduloV,
                               int32_t moduloW) {
    box.offset_modulus = {moduloU - 1, moduloV - 1, moduloW - 1};
    box.wrap = 1;
    return box;
}

Tulx7_dr_buffer_load TransferRecord(uint32_t buffer, const Tulx7_dr_array_addressing& box,
                                    const void* host, int32_t hostElementBytes, int32_t row,
                                    int32_t slice, int32_t slices) {
    Tulx7_dr_buffer_load record;
    record.render_event_id = TULX7_DR_NO_EVENT;
    record.previous_load_event_id = TULX7_DR_NO_EVENT;
    record.buffer_id = buffer;
    record.addr = box;
    record.host_buffer_id = TULX7_DR_PLAIN_HOST_MEMORY;
    record.host_buffer_address = reinterpret_cast<uintptr_t>(host);
    record.host_descriptor.dimension = 2;
    record.host_descriptor.element_size = hostElementBytes - 1;
    record.host_descriptor.buffer_size = {row, slice, slices};
    return record;
}

DriverSession::DriverSession(int board) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%02d", kTulx7DeviceNamePrefix, board);
    tulx7_dr_open(name, &m_handle, &m_openStatus);
}

DriverSession::~DriverSession() { Close(); }

void DriverSession::Close() {
    if (!m_handle.IsClosed()) tulx7_dr_close(m_handle);
    m_handle = Tulx7_dr_handle{};
}

uint32_t DriverSession::Allocate(int32_t elementBytes, int32_t u, int32_t v, int32_t w,
                                 int32_t* status) {
    Tulx7_dr_buffer_attach record;
    record.buffer_descriptor.dimension = v == 0 ? 0 : w == 0 ? 1 : 2;
    record.buffer_descriptor.element_size = elementBytes - 1;
    record.buffer_descriptor.buffer_size = {u, v, w};
    const int32_t answer = Send(TULX7_DR_BUFFER_ALLOCATE, record);
    if (status != nullptr) *status = answer;
    return answer == TULX7_DR_STATUS_SUCCESS ? record.buffer_id : TULX7_DR_NO_BUFFER;
}

int32_t DriverSession::Detach(uint32_t buffer) {
    Tulx7_dr_buffer_detach record;
    record.buffer_id = buffer;
    return Send(TULX7_DR_BUFFER_DETACH, record);
}

int32_t DriverSession::Start(bool load, Tulx7_dr_buffer_load record, uint32_t* event) {
    const int32_t status = Send(load ? TULX7_DR_BUFFER_LOAD : TULX7_DR_BUFFER_UNLOAD, record);
    if (event != nullptr) *event = record.ret_load_event_id;
    return status;
}

int32_t DriverSession::Wait(std::initializer_list<uint32_t> events, int32_t timeoutMs,
                            int32_t selection, Tulx7_dr_sync* answer) {
    Tulx7_dr_sync record;
    record.selection = selection;
    record.timeout = timeoutMs;
    record.event_count = static_cast<int32_t>(events.size());
    int i = 0;
    for (uint32_t id : events) {
        if (i < TULX7_DR_MAX_SYNC_EVENTS) record.event_list[i].event_id = id;
        ++i;
    }
    const int32_t status = Send(TULX7_DR_SYNC, record);
    if (answer != nullptr) *answer = record;
    return status;
}

std::vector<uint8_t> StorageBytes(uint32_t buffer) {
    tulx7sim::BufferInfo info;
    if (!tulx7sim::GetBufferInfo(buffer, info)) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(info.storageSize[0]) * info.storageSize[1] *
                               info.storageSize[2] * info.elementBytes);
    if (!tulx7sim::ReadBufferMemory(buffer, 0, bytes.data(), bytes.size())) return {};
    return bytes;
}

uint64_t StorageOffset(uint32_t buffer, int32_t u, int32_t v, int32_t w) {
    tulx7sim::BufferInfo info;
    if (!tulx7sim::GetBufferInfo(buffer, info)) return UINT64_MAX;
    return ((static_cast<uint64_t>(w) * info.storageSize[1] + v) * info.storageSize[0] + u) *
           info.elementBytes;
}

}  // namespace ulm3::testing
