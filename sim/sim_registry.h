// The device registry's side of the platform: the objects it hands out
// (iterators over the boards' services, the services themselves), the
// connections opened to services, and the knobs that make each step fail.
// Failing calls set errno. Not locked itself: the driver's mutex guards it.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "tulx7/device_registry.h"
#include "tulx7sim/config.h"

namespace tulx7sim {

class SimRegistry {
public:
    devreg::Result GetPort(devreg::Object* port) const;
    // An iterator over the services of `className`: one per board for the
    // driver's class, none for any other.
    devreg::Result MatchServices(devreg::Object port, const char* className, int boards,
                                 devreg::Object* iterator);
    devreg::Object Next(devreg::Object iterator);
    devreg::Result Release(devreg::Object object);
    devreg::Result OpenService(devreg::Object service, int boards, devreg::Connection* connection);

    // The board of an open connection, -1 for none.
    int BoardOf(devreg::Connection connection) const;
    void Forget(devreg::Connection connection) { m_connections.erase(connection); }

    void SetPortUnavailable(bool unavailable) { m_portUnavailable = unavailable; }
    void SetDriverPresent(bool present) { m_driverAbsent = !present; }
    void SetServiceOpenFailure(int board, bool fails);

    // Drops every object, connection and knob; ids are not reused.
    void Clear();

    int Connections() const { return static_cast<int>(m_connections.size()); }
    int Objects() const { return static_cast<int>(m_objects.size()); }

private:
    struct RegistryObject {
        bool isIterator = false;
        int board = -1;             // a service's board
        std::vector<int> services;  // an iterator's boards, in order
        size_t next = 0;
    };

    std::map<devreg::Object, RegistryObject> m_objects;
    std::map<devreg::Connection, int> m_connections;  // connection -> board
    devreg::Object m_nextObject = 0x100;
    devreg::Connection m_nextConnection = 1;
    bool m_portUnavailable = false;
    bool m_driverAbsent = false;
    bool m_serviceOpenFails[kMaxBoards] = {};
};

}  // namespace tulx7sim
