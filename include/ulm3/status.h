// Status codes, the error-handler interface.
#pragma once

#include <cstdint>

namespace ulm3 {

// Values 0..5 are outcomes that are not errors; everything above 1000 is an
// error. Stored as a signed 32-bit number.
enum ULMStatus : int32_t {
    kULMOK = 0,
    kULMMultiPass = 1,
    kULMTimeout = 2,
    kULMMustReload = 3,
    kULMInProgress = 4,
    kULMAlreadyComplete = 5,

    kULMErrAlloc = 1001,
    kULMErrVolume = 1002,
    kULMErrVolumeInvalid = 1002,
    kULMErrMath = 1003,
    kULMErrArgument = 1004,
    kULMErrUnimplemented = 1005,
    kULMErrTooMany = 1006,
    kULMErrTooLarge = 1007,
    kULMErrDuplicate = 1008,
    kULMErrNoHardware = 1009,
    kULMErrReadOnly = 1010,
    kULMErrAccess = 1011,
    kULMErrAborted = 1012,
    kULMErrBasePlaneAllocation = 1013,
    kULMErrBasePlaneTooLarge = 1014,
    kULMErrHardware = 1015,
    kULMErrInternal = 1016,
    kULMErrIDRollover = 1017,
    kULMErrVersion = 1018,
    kULMErrMaxAngleDeviation = 1019,
    kULMErrFormat = 1020,
    kULMErrCantResize = 1021,
    kULMErrCantSubsample = 1022,
    kULMErrClassifier = 1023,
    kULMErrTransform = 1024,
    kULMErrPermission = 1025,
    kULMErrVoxFile = 1026,
    kULMErrRead = 1027,
    kULMErrWrite = 1028,
    kULMErrBuffer = 1029,
    kULMErrEmptyRender = 1030,
    kULMErrCutplaneOverflow = 1031,
    kULMErrTooSmall = 1032,
};

inline bool ULMFailed(ULMStatus s) { return static_cast<int32_t>(s) > 1000; }
inline bool ULMSucceeded(ULMStatus s) { return static_cast<int32_t>(s) < 1001; }
inline int ULMIsTrue(int x) { return x != 0 ? 1 : 0; }

// Short name of a status ("OK", "Argument", ...); "Unknown" for a value
// without a name. The text is static.
const char* UlmGetStatusString(ULMStatus s);

// Receives the faults the library cannot return as a status (arithmetic
// faults of the geometry types, failures while closing boards). The built-in
// handler logs the fault and ends the process with exit(status % 256);
// applications that want to go on install their own.
class ULMErrorHandler {
public:
    virtual ~ULMErrorHandler() = default;
    virtual void ErrorNotify(int status, const char* file, int line);
};

// Installs a handler while the library is open and returns the previous one;
// while the library is closed it changes nothing and returns null.
ULMErrorHandler* ULMSetErrorHandler(ULMErrorHandler* handler);

}  // namespace ulm3
