#include "board/driver_access.h"

#include <cerrno>
#include <cstdio>

#include "tulx7/device_registry.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {

namespace {

// The board index carried by a device name, or -1 when there is none.
int BoardIndexFromDeviceName(const char* deviceName) {
    if (deviceName == nullptr) return -1;
    int index = -1;
    if (std::sscanf(deviceName, "/dev/tulx%02d", &index) != 1) return -1;
    return index;
}

}  // namespace

void tulx7_dr_open(const char* device_name, Tulx7_dr_handle* dr_handle, int* status) {
    int ignoredStatus = 0;
    if (status == nullptr) status = &ignoredStatus;
    Tulx7_dr_handle ignoredHandle;
    if (dr_handle == nullptr) dr_handle = &ignoredHandle;
    // A caller that reads the handle after a failed open must see it closed.
    *dr_handle = Tulx7_dr_handle{};

    const int index = BoardIndexFromDeviceName(device_name);

    devreg::Object port = 0;
    if (devreg::GetRegistryPort(&port) != devreg::kSuccess) {
        *status = kTulx7OpenNoRegistry;
        return;
    }
    devreg::Object iterator = 0;
    if (devreg::GetMatchingServices(port, TULX7_DR_SERVICE_CLASS, &iterator) !=
        devreg::kSuccess) {
        *status = kTulx7OpenNoDriver;
        return;
    }

    // Services come in board order; the board's own is the (index+1)-th.
    // Those passed over on the way are given back at once.
    devreg::Object service = 0;
    if (index >= 0) {
        for (int i = 0; i <= index; ++i) {
            const devreg::Object next = devreg::IteratorNext(iterator);
            if (service != 0) devreg::ReleaseObject(service);
            service = next;
            if (next == 0) break;
        }
    }
    devreg::ReleaseObject(iterator);
    if (service == 0) {
        *status = kTulx7OpenNoService;
        return;
    }

    devreg::Connection connection = 0;
    const devreg::Result opened = devreg::OpenService(service, &connection);
    devreg::ReleaseObject(service);
    if (opened != devreg::kSuccess) {
        *status = kTulx7OpenNoDriver;
        return;
    }

    uint64_t clientId = 0;
    if (devreg::CallMethod(connection, TULX7_DR_SELECTOR_OPEN_CLIENT, nullptr, 0, &clientId, 1) !=
        devreg::kSuccess) {
        devreg::CloseService(connection);
        *status = kTulx7OpenRefused;
        return;
    }
    dr_handle->connection = connection;
    dr_handle->clientId = static_cast<uint32_t>(clientId);
    *status = kTulx7OpenSuccess;
}

void tulx7_dr_ioctl(Tulx7_dr_handle dr_handle, uint32_t command, void* data) {
    const uint64_t input[3] = {dr_handle.clientId, command,
                               static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data))};
    const devreg::Result result =
        devreg::CallMethod(dr_handle.connection, TULX7_DR_SELECTOR_REQUEST, input, 3, nullptr, 0);
    if (result != devreg::kSuccess && data != nullptr) {
        // Every record begins with the driver status; one the driver wrote
        // before the call failed says more than the generic error would.
        int32_t* recordStatus = static_cast<int32_t*>(data);
        if (*recordStatus == 0) *recordStatus = TULX7_DR_STATUS_DEVICE_MISC_ERROR;
    }
}

void tulx7_dr_close(Tulx7_dr_handle dr_handle) {
    errno = 0;
    const uint64_t input[1] = {dr_handle.clientId};
    devreg::CallMethod(dr_handle.connection, TULX7_DR_SELECTOR_CLOSE_CLIENT, input, 1, nullptr, 0);
    devreg::CloseService(dr_handle.connection);
}

int tulx7_dr_get_os_error() { return errno; }

}  // namespace ulm3
