#include "board/driver_status.h"

#include "tulx7/driver_requests.h"

namespace ulm3 {

ULMStatus TranslateDriverStatus(int32_t driverStatus) {
    switch (driverStatus) {
        case TULX7_DR_STATUS_SUCCESS:
            return kULMOK;
        case TULX7_DR_STATUS_DEVICE_ACCESS_DENIED:
            return kULMErrNoHardware;
        case TULX7_DR_STATUS_DEVICE_OPEN_MAX:
        case TULX7_DR_STATUS_DEVICE_SYSTEM_OPEN_MAX:
        case TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES:
        case TULX7_DR_STATUS_OUT_OF_HW_MEMORY:
        case TULX7_DR_STATUS_OUT_OF_KERNEL_MEMORY:
        case TULX7_DR_STATUS_OUT_OF_BUFFER_DATA_STRUCTURES:
        case TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS:
        case TULX7_DR_STATUS_MALLOC_FAILED:
        case TULX7_DR_STATUS_OUT_OF_MAP_DATA_STRUCTURES:
        case TULX7_DR_STATUS_KERNEL_MAP_MAX:
        case TULX7_DR_STATUS_OUT_OF_MAP_PORTS:
        case TULX7_DR_STATUS_OUT_OF_BUS_ADDRESS_SPACE:
        case TULX7_DR_STATUS_HWMEM_MAP_MAX:
        case TULX7_DR_STATUS_COMPACT_DISABLED:
        case TULX7_DR_STATUS_COMMAND_QUEUE_FULL:
        case TULX7_DR_STATUS_PORTAL_BUSY:
            return kULMErrAlloc;
        case TULX7_DR_STATUS_DEVICE_MISC_ERROR:
        case TULX7_DR_STATUS_HW_ERROR:
            return kULMErrHardware;
        case TULX7_DR_STATUS_INVALID_ID:
        case TULX7_DR_STATUS_NOT_MAPPED:
        case TULX7_DR_STATUS_KERNEL_BUFFER_ALREADY_FREED:
        case TULX7_DR_STATUS_ARG_BAD:
        case TULX7_DR_STATUS_HOST_RANGE_BAD:
        case TULX7_DR_STATUS_HW_RANGE_BAD:
            return kULMErrArgument;
        case TULX7_DR_STATUS_NOT_OWNER:
        case TULX7_DR_STATUS_PERMISSION_BAD:
            return kULMErrAccess;
        case TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED:
        case TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED:
        case TULX7_DR_STATUS_HW_NOT_SUPPORTED:
            return kULMErrUnimplemented;
        case TULX7_DR_STATUS_VERSION_MISMATCH:
            return kULMErrVersion;
        case TULX7_DR_STATUS_ALREADY_COMPLETE:
            return kULMAlreadyComplete;
        case TULX7_DR_STATUS_ABORTED:
            return kULMErrAborted;
        default:
            // MISC_ERROR, DATA_COPY_FAILED, PHYSIO_FAILED, MAP_FAILED, SIGNAL,
            // INCORRECT_ADDRESS_SPACE, SIM_SERVER_NOT_INITED, NOT_POWER_OF_2
            // and anything the driver does not define.
            return kULMErrInternal;
    }
}

const char* DriverStatusName(int32_t driverStatus) {
    if (driverStatus < 0 || driverStatus >= TULX7_DR_STATUS_COUNT) return "";
    return tulx7_dr_status_strings[driverStatus];
}

}  // namespace ulm3
