// The registry objects and connections of the simulated platform.
#include "sim_registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tulx7/driver_requests.h"

namespace tulx7sim {

namespace {

constexpr devreg::Object kRegistryPort = 1;

devreg::Result Fail(devreg::Result result, int error) {
    errno = error;
    return result;
}

}  // namespace

devreg::Result SimRegistry::GetPort(devreg::Object* port) const {
    if (port == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
    if (m_portUnavailable) return Fail(devreg::kErrorUnavailable, EAGAIN);
    *port = kRegistryPort;
    return devreg::kSuccess;
}

devreg::Result SimRegistry::MatchServices(devreg::Object port, const char* className, int boards,
                                          devreg::Object* iterator) {
    if (className == nullptr || iterator == nullptr || port != kRegistryPort)
        return Fail(devreg::kErrorBadArgument, EINVAL);
    if (m_portUnavailable) return Fail(devreg::kErrorUnavailable, EAGAIN);
    if (m_driverAbsent) return Fail(devreg::kErrorNotFound, ENOENT);
    RegistryObject object;
    object.isIterator = true;
    if (std::strcmp(className, TULX7_DR_SERVICE_CLASS) == 0)
        for (int b = 0; b < boards; ++b) object.services.push_back(b);
    const devreg::Object id = m_nextObject++;
    m_objects[id] = object;
    *iterator = id;
    return devreg::kSuccess;
}

devreg::Object SimRegistry::Next(devreg::Object iterator) {
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

devreg::Result SimRegistry::Release(devreg::Object object) {
    if (object == kRegistryPort) return devreg::kSuccess;
    if (m_objects.erase(object) == 0) return Fail(devreg::kErrorNotFound, ENOENT);
    return devreg::kSuccess;
}

devreg::Result SimRegistry::OpenService(devreg::Object service, int boards,
                                        devreg::Connection* connection) {
    if (connection == nullptr) return Fail(devreg::kErrorBadArgument, EINVAL);
    const auto found = m_objects.find(service);
    if (found == m_objects.end() || found->second.isIterator)
        return Fail(devreg::kErrorNotFound, ENOENT);
    const int board = found->second.board;
    if (board < 0 || board >= boards || m_serviceOpenFails[board])
        return Fail(devreg::kErrorUnavailable, ENODEV);
    const devreg::Connection id = m_nextConnection++;
    if (m_nextConnection == 0) m_nextConnection = 1;
    m_connections[id] = board;
    *connection = id;
    return devreg::kSuccess;
}

int SimRegistry::BoardOf(devreg::Connection connection) const {
    const auto found = m_connections.find(connection);
    return found == m_connections.end() ? -1 : found->second;
}

void SimRegistry::SetServiceOpenFailure(int board, bool fails) {
    if (board >= 0 && board < kMaxBoards) m_serviceOpenFails[board] = fails;
}

void SimRegistry::Clear() {
    m_objects.clear();
    m_connections.clear();
    m_portUnavailable = false;
    m_driverAbsent = false;
    std::fill(std::begin(m_serviceOpenFails), std::end(m_serviceOpenFails), false);
}

}  // namespace tulx7sim
