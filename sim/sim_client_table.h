// The driver's clients and what they hold besides buffer attachments: the
// driver host buffers and the mappings handed out, with their ids (never
// reused) and the knobs that refuse clients or cut host-buffer grants short.
// Not locked itself: the driver's mutex guards it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "sim_resources.h"
#include "tulx7sim/config.h"

namespace tulx7sim {

struct SimClientState {
    SimClient client;
    int activeRequests = 0;  // requests of the client inside the driver
    bool closing = false;
};

class SimClientTable {
public:
    // Null for an id that names no client.
    SimClientState* Find(uint32_t id);
    SimClientState& Add(devreg::Connection connection, int board);
    void Erase(uint32_t id) { m_clients.erase(id); }
    bool Empty() const { return m_clients.empty(); }
    int Count() const { return static_cast<int>(m_clients.size()); }
    uint32_t FirstId() const { return m_clients.begin()->first; }
    std::vector<uint32_t> IdsOf(devreg::Connection connection) const;

    void SetOpenRefused(int board, bool refused);
    bool OpenRefused(int board) const { return m_openRefused[board]; }

    // Driver host buffers: at most the grant limit per grant and 1 GiB live
    // in all. A grant answers the driver status and the block.
    int32_t GrantHostBuffer(SimClient& client, uint64_t asked, std::shared_ptr<HostBlock>& out);
    std::shared_ptr<HostBlock> HostBuffer(int32_t id) const;
    bool HostBufferFreed(int32_t id) const { return m_freedHostBuffers.count(id) != 0; }
    // Forgets the block (queued jobs keep its memory until they end).
    void FreeHostBuffer(SimClient& client, int32_t id);
    void SetHostGrantLimit(uint64_t bytes) { m_hostGrantLimit = bytes; }
    int HostBufferCount() const { return static_cast<int>(m_hostBuffers.size()); }

    // Mappings; Add gives the mapping its id.
    void AddMapping(SimClient& client, const std::shared_ptr<Mapping>& mapping);
    Mapping* FindMapping(uint32_t id) const;
    void ReleaseMapping(uint32_t id);
    int MappingCount() const { return static_cast<int>(m_mappings.size()); }

    // Drops host buffers, mappings and knobs once every client has closed.
    void ClearHoldings();

private:
    std::map<uint32_t, std::unique_ptr<SimClientState>> m_clients;
    uint32_t m_nextClientId = 1;
    bool m_openRefused[kMaxBoards] = {};

    std::map<int32_t, std::shared_ptr<HostBlock>> m_hostBuffers;
    std::set<int32_t> m_freedHostBuffers;
    int32_t m_nextHostBufferId = 1;
    uint64_t m_hostGrantLimit = UINT64_MAX;
    uint64_t m_hostBytesLive = 0;

    std::map<uint32_t, std::shared_ptr<Mapping>> m_mappings;
    uint32_t m_nextMapId = 1;
};

}  // namespace tulx7sim
