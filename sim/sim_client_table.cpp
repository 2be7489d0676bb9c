// Clients, driver host buffers and mappings.
#include "sim_client_table.h"

#include <algorithm>

namespace tulx7sim {

namespace {

constexpr uint64_t kHostBufferQuota = uint64_t{1} << 30;
constexpr uint64_t kPageBytes = 4096;

}  // namespace

SimClientState* SimClientTable::Find(uint32_t id) {
    const auto found = m_clients.find(id);
    return found == m_clients.end() ? nullptr : found->second.get();
}

SimClientState& SimClientTable::Add(devreg::Connection connection, int board) {
    auto state = std::make_unique<SimClientState>();
    state->client.id = m_nextClientId++;
    if (m_nextClientId == 0) m_nextClientId = 1;
    state->client.connection = connection;
    state->client.board = board;
    SimClientState& added = *state;
    m_clients[added.client.id] = std::move(state);
    return added;
}

std::vector<uint32_t> SimClientTable::IdsOf(devreg::Connection connection) const {
    std::vector<uint32_t> ids;
    for (const auto& [id, state] : m_clients)
        if (state->client.connection == connection) ids.push_back(id);
    return ids;
}

void SimClientTable::SetOpenRefused(int board, bool refused) {
    if (board >= 0 && board < kMaxBoards) m_openRefused[board] = refused;
}

int32_t SimClientTable::GrantHostBuffer(SimClient& client, uint64_t asked,
                                        std::shared_ptr<HostBlock>& out) {
    if (asked == 0) return TULX7_DR_STATUS_ARG_BAD;
    if (asked > kHostBufferQuota) return TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES;
    const uint64_t rounded = (asked + kPageBytes - 1) / kPageBytes * kPageBytes;
    const uint64_t granted = std::min(rounded, m_hostGrantLimit);
    if (granted == 0 || m_hostBytesLive + granted > kHostBufferQuota ||
        m_nextHostBufferId == INT32_MAX)
        return TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES;
    std::shared_ptr<HostBlock> block = MakeWithMemory<HostBlock>(granted);
    if (!block) return TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES;
    block->id = m_nextHostBufferId++;
    block->client = client.id;
    block->asked = asked;
    m_hostBuffers[block->id] = block;
    m_hostBytesLive += granted;
    client.hostBuffers.insert(block->id);
    out = std::move(block);
    return TULX7_DR_STATUS_SUCCESS;
}

std::shared_ptr<HostBlock> SimClientTable::HostBuffer(int32_t id) const {
    const auto found = m_hostBuffers.find(id);
    return found == m_hostBuffers.end() ? nullptr : found->second;
}

void SimClientTable::FreeHostBuffer(SimClient& client, int32_t id) {
    client.hostBuffers.erase(id);
    const auto found = m_hostBuffers.find(id);
    if (found == m_hostBuffers.end()) return;
    m_hostBytesLive -= found->second->memory.Bytes();
    m_hostBuffers.erase(found);
    m_freedHostBuffers.insert(id);
}

void SimClientTable::AddMapping(SimClient& client, const std::shared_ptr<Mapping>& mapping) {
    mapping->id = m_nextMapId++;
    mapping->client = client.id;
    client.mappings.insert(mapping->id);
    m_mappings[mapping->id] = mapping;
}

Mapping* SimClientTable::FindMapping(uint32_t id) const {
    const auto found = m_mappings.find(id);
    return found == m_mappings.end() ? nullptr : found->second.get();
}

void SimClientTable::ReleaseMapping(uint32_t id) {
    const auto found = m_mappings.find(id);
    if (found == m_mappings.end()) return;
    if (SimClientState* state = Find(found->second->client)) state->client.mappings.erase(id);
    m_mappings.erase(found);
}

void SimClientTable::ClearHoldings() {
    m_hostBuffers.clear();
    m_hostBytesLive = 0;
    m_mappings.clear();
    m_hostGrantLimit = UINT64_MAX;
    std::fill(std::begin(m_openRefused), std::end(m_openRefused), false);
}

}  // namespace tulx7sim
