// Driver statuses as the library sees them: their names, their meaning as a
// ULMStatus, and the one way every board operation passes a request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "board/driver_access.h"
#include "ulm3/status.h"

namespace ulm3 {

// The ULMStatus a driver status stands for; statuses the driver does not
// define are internal errors.
ULMStatus TranslateDriverStatus(int32_t driverStatus);

// "TULX7_DR_STATUS_..." of a driver status, "" for one the driver does not
// define. The text is static.
const char* DriverStatusName(int32_t driverStatus);

// Sends one request record and keeps the driver's answer in lastStatus
// before anything looks at it, so a board can always tell the raw status of
// its last request. Returns the answer translated.
template <typename Record>
ULMStatus SendDriverRequest(const Tulx7_dr_handle& handle, uint32_t code, Record& record,
                            int32_t& lastStatus) {
    static_assert(std::is_standard_layout_v<Record> && offsetof(Record, status) == 0,
                  "a driver record begins with its status");
    tulx7_dr_ioctl(handle, code, &record);
    lastStatus = record.status;
    return TranslateDriverStatus(record.status);
}

}  // namespace ulm3
