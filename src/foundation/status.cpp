// Short names of the status codes.
#include "ulm3/status.h"

namespace ulm3 {

namespace {

struct StatusName {
    ULMStatus status;
    const char* name;
};

// One row per status value; the alias kULMErrVolumeInvalid shares the
// "Volume" row.
constexpr StatusName sULMStatusToString[] = {
    {kULMOK, "OK"},
    {kULMMultiPass, "MultiPass"},
    {kULMTimeout, "Timeout"},
    {kULMMustReload, "MustReload"},
    {kULMInProgress, "InProgress"},
    {kULMAlreadyComplete, "AlreadyComplete"},
    {kULMErrAlloc, "Alloc"},
    {kULMErrVolume, "Volume"},
    {kULMErrMath, "Math"},
    {kULMErrArgument, "Argument"},
    {kULMErrUnimplemented, "Unimplemented"},
    {kULMErrTooMany, "TooMany"},
    {kULMErrTooLarge, "TooLarge"},
    {kULMErrDuplicate, "Duplicate"},
    {kULMErrNoHardware, "NoHardware"},
    {kULMErrReadOnly, "ReadOnly"},
    {kULMErrAccess, "Access"},
    {kULMErrAborted, "Aborted"},
    {kULMErrBasePlaneAllocation, "BasePlaneAllocation"},
    {kULMErrBasePlaneTooLarge, "BasePlaneTooLarge"},
    {kULMErrHardware, "Hardware"},
    {kULMErrInternal, "Internal"},
    {kULMErrIDRollover, "IDRollover"},
    {kULMErrVersion, "Version"},
    {kULMErrMaxAngleDeviation, "MaxAngleDeviation"},
    {kULMErrFormat, "Format"},
    {kULMErrCantResize, "CantResize"},
    {kULMErrCantSubsample, "CantSubsample"},
    {kULMErrClassifier, "Classifier"},
    {kULMErrTransform, "Transform"},
    {kULMErrPermission, "Permission"},
    {kULMErrVoxFile, "VoxFile"},
    {kULMErrRead, "Read"},
    {kULMErrWrite, "Write"},
    {kULMErrBuffer, "Buffer"},
    {kULMErrEmptyRender, "EmptyRender"},
    {kULMErrCutplaneOverflow, "CutplaneOverflow"},
    {kULMErrTooSmall, "TooSmall"},
};

static_assert(sizeof(sULMStatusToString) / sizeof(sULMStatusToString[0]) == 38);

}  // namespace

const char* UlmGetStatusString(ULMStatus s) {
    for (const StatusName& row : sULMStatusToString) {
        if (row.status == s) return row.name;
    }
    return "Unknown";
}

}  // namespace ulm3
