// The device registry as the simulated platform answers it, and the entry of
// every driver request.
#include <cerrno>
#include <cstring>

#include "sim_driver.h"

namespace tulx7sim {

namespace {

constexpr devreg::Object kRegistryPort = 1;
constexpr size_t kRequestLogLimit = 200000;

devreg::Result Fail(devreg::Result result, int error) {
    errno = error;
    return result;
}

}  // namespace

devreg::Result SimDriver::GetRegistryPort(devreg::Object* port) {
    if (port == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
    Lock lock(m_mutex);
    if (m_portUnavailable) return Fail(devreg::kErrorUnavailable, EAGAIN);
    *port = kRegistryPort;
    return devreg::kSuccess;
}

devreg::Result SimDriver::GetMatchingServices(devreg::Object port, const char* className,
                                              devreg::Object* iterator) {
    if (className == nullptr || iterator == nullptr || port != kRegistryPort)
        return Fail(devreg::kErrorBadArgument, EINVAL);
    Lock lock(m_mutex);
    if (m_portUnavailable) return Fail(devreg::kErrorUnavailable, EAGAIN);
    if (m_driverAbsent) return Fail(devreg::kErrorNotFound, ENOENT);
    RegistryObject object;
    object.isIterator = true;
    if (std::strcmp(className, TULX7_DR_SERVICE_CLASS) == 0)
        for (int b = 0; b < static_cast<int>(m_boards.size()); ++b) object.services.push_back(b);
    const devreg::Object id = m_nextObject++;
    m_objects[id] = object;
    *iterator = id;
    return devreg::kSuccess;
}

devreg::Object SimDriver::IteratorNext(devreg::Object iterator) {
    Lock lock(m_mutex);
    const auto found = m_objects.find(iterator);
    if (found == m_objects.end() || !found->second.isIterator) return 0;
    RegistryObject& it = found->second;
    if (it.next >= it.services.size()) return 0;
    RegistryObject service;
    service.board = it.services[it.next++];
    const devreg::Object id = m_nextObject++;
    m_objects[id] = service;
    return id;
}

devreg::Result SimDriver::ReleaseObject(devreg::Object object) {
    Lock lock(m_mutex);
    if (object == kRegistryPort) return devreg::kSuccess;
    if (m_objects.erase(object) == 0) return Fail(devreg::kErrorNotFound, ENOENT);
    return devreg::kSuccess;
}

devreg::Result SimDriver::OpenService(devreg::Object service, devreg::Connection* connection) {
    if (connection == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
    Lock lock(m_mutex);
    const auto found = m_objects.find(service);
    if (found == m_objects.end() || found->second.isIterator)
        return Fail(devreg::kErrorNotFound, ENOENT);
    const int board = found->second.board;
    if (board < 0 || board >= static_cast<int>(m_boards.size()) || m_serviceOpenFails[board])
        return Fail(devreg::kErrorUnavailable, ENODEV);
    const devreg::Connection id = m_nextConnection++;
    if (m_nextConnection == 0) m_nextConnection = 1;
    m_connections[id] = board;
    *connection = id;
    return devreg::kSuccess;
}

devreg::Result SimDriver::CloseService(devreg::Connection connection) {
    Lock lock(m_mutex);
    if (m_connections.find(connection) == m_connections.end())
        return Fail(devreg::kErrorNotFound, ENOENT);
    // Clients the program left open go with their connection.
    std::vector<uint32_t> orphans;
    for (const auto& [id, state] : m_clients)
        if (state->client.connection == connection) orphans.push_back(id);
    for (uint32_t id : orphans) CloseClient(lock, id);
    m_connections.erase(connection);
    return devreg::kSuccess;
}

devreg::Result SimDriver::CallMethod(devreg::Connection connection, uint32_t selector,
                                     const uint64_t* input, uint32_t inputCount,
                                     uint64_t* output, uint32_t outputCount) {
    Lock lock(m_mutex);
    if (m_connections.find(connection) == m_connections.end())
        return Fail(devreg::kErrorNotFound, ENXIO);
    switch (selector) {
        case TULX7_DR_SELECTOR_OPEN_CLIENT: {
            if (inputCount != 0 || outputCount != 1 || output == nullptr)
                return Fail(devreg::kErrorBadArgument, EINVAL);
            const devreg::Result result = OpenClient(lock, connection, output);
            return result == devreg::kSuccess ? result : Fail(result, EACCES);
        }
        case TULX7_DR_SELECTOR_CLOSE_CLIENT: {
            if (inputCount != 1 || input == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
            const auto found = m_clients.find(static_cast<uint32_t>(input[0]));
            if (input[0] > UINT32_MAX || found == m_clients.end() ||
                found->second->client.connection != connection)
                return Fail(devreg::kErrorNotFound, ENOENT);
            CloseClient(lock, static_cast<uint32_t>(input[0]));
            return devreg::kSuccess;
        }
        case TULX7_DR_SELECTOR_REQUEST:
            if (inputCount != 3 || input == nullptr || input[0] > UINT32_MAX || input[1] > UINT32_MAX)
                return Fail(devreg::kErrorBadArgument, EINVAL);
            return Request(lock, connection, static_cast<uint32_t>(input[0]),
                           static_cast<uint32_t>(input[1]), input[2]);
        default:
            return Fail(devreg::kErrorUnsupported, ENOTSUP);
    }
}

devreg::Result SimDriver::Request(Lock& lock, devreg::Connection connection, uint32_t clientId,
                                  uint32_t code, uint64_t address) {
    const auto found = m_clients.find(clientId);
    if (found == m_clients.end() || found->second->client.connection != connection ||
        found->second->closing)
        return Fail(devreg::kErrorNotFound, ENOENT);
    if (address == 0) return Fail(devreg::kErrorBadArgument, EFAULT);
    ClientState& state = *found->second;

    RequestLogEntry entry;
    entry.code = code;
    entry.board = state.client.board;
    entry.client = clientId;
    auto record = [&] {
        if (m_requestLog.size() < kRequestLogLimit) m_requestLog.push_back(std::move(entry));
    };
    if (FireInjection(m_transportFailures, code, nullptr)) {
        entry.reachedDriver = false;
        record();
        return Fail(devreg::kErrorUnavailable, EIO);
    }

    void* data = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
    int32_t status = TULX7_DR_STATUS_SUCCESS;
    if (!FireInjection(m_submitFailures, code, &status)) {
        ++state.activeRequests;
        status = Dispatch(lock, state.client, code, data, entry);
        --state.activeRequests;
        m_changed.notify_all();
    }
    *static_cast<int32_t*>(data) = status;
    entry.status = status;
    record();
    return devreg::kSuccess;
}

int32_t SimDriver::Dispatch(Lock& lock, SimClient& client, uint32_t code, void* record,
                            RequestLogEntry& entry) {
    switch (code) {
        case TULX7_DR_GET_CONFIGURATION:
            return GetConfiguration(client, *static_cast<Tulx7_dr_configuration*>(record));
        case TULX7_DR_GET_BOARD_PEERS:
            return GetBoardPeers(*static_cast<Tulx7_dr_board_peers*>(record));
        case TULX7_DR_BUFFER_ALLOCATE:
            return AllocateBuffer(client, *static_cast<Tulx7_dr_buffer_attach*>(record), entry);
        case TULX7_DR_BUFFER_ATTACH:
            return AttachBuffer(client, *static_cast<Tulx7_dr_buffer_attach*>(record), entry);
        case TULX7_DR_BUFFER_SET_PERMISSION:
            return SetBufferPermission(lock, client, *static_cast<Tulx7_dr_buffer_attach*>(record),
                                       entry);
        case TULX7_DR_BUFFER_DETACH:
            return DetachBuffer(client, *static_cast<Tulx7_dr_buffer_detach*>(record), entry);
        case TULX7_DR_HOST_BUFFER_ALLOC:
            return AllocateHostBuffer(client, *static_cast<Tulx7_dr_host_buffer_alloc*>(record),
                                      entry);
        case TULX7_DR_HOST_BUFFER_FREE:
            return FreeHostBuffer(client, *static_cast<Tulx7_dr_host_buffer_free*>(record), entry);
        case TULX7_DR_BUFFER_LOAD:
            return Transfer(client, *static_cast<Tulx7_dr_buffer_load*>(record), true, entry);
        case TULX7_DR_BUFFER_UNLOAD:
            return Transfer(client, *static_cast<Tulx7_dr_buffer_load*>(record), false, entry);
        case TULX7_DR_BUFFER_BOARD2BOARD:
            return BoardToBoard(client, *static_cast<Tulx7_dr_buffer_board2board*>(record), entry);
        case TULX7_DR_RENDER:
            return Render(client, *static_cast<Tulx7_dr_render*>(record), entry);
        case TULX7_DR_SYNC:
            return Sync(lock, *static_cast<Tulx7_dr_sync*>(record), entry);
        case TULX7_DR_ABORT:
            return Abort(*static_cast<Tulx7_dr_abort*>(record), entry);
        case TULX7_DR_BUFFER_MAP:
            return MapBuffer(lock, client, *static_cast<Tulx7_dr_buffer_map*>(record), entry);
        case TULX7_DR_BUFFER_UNMAP:
            return UnmapBuffer(lock, client, *static_cast<Tulx7_dr_buffer_unmap*>(record), entry);
        case TULX7_DR_DEBUG_CQUEUE_DUMP:
            return DumpQueue(client, *static_cast<Tulx7_dr_debug_data*>(record));
        default:
            return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    }
}

}  // namespace tulx7sim

// The registry's entry points.
namespace devreg {

using tulx7sim::SimDriver;

Result GetRegistryPort(Object* port) { return SimDriver::Instance().GetRegistryPort(port); }

Result GetMatchingServices(Object port, const char* className, Object* iterator) {
    return SimDriver::Instance().GetMatchingServices(port, className, iterator);
}

Object IteratorNext(Object iterator) { return SimDriver::Instance().IteratorNext(iterator); }

Result ReleaseObject(Object object) { return SimDriver::Instance().ReleaseObject(object); }

Result OpenService(Object service, Connection* connection) {
    return SimDriver::Instance().OpenService(service, connection);
}

Result CloseService(Connection connection) {
    return SimDriver::Instance().CloseService(connection);
}

Result CallMethod(Connection connection, uint32_t selector, const uint64_t* input,
                  uint32_t inputCount, uint64_t* output, uint32_t outputCount) {
    return SimDriver::Instance().CallMethod(connection, selector, input, inputCount, output,
                                            outputCount);
}

}  // namespace devreg
