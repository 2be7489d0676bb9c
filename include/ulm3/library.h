// The library as a whole: configuration parameters and the epsilon of the
// near-zero tests.
#pragma once

#include <cstdint>

#include "ulm3/status.h"

namespace ulm3 {

// Sets a configuration parameter by name. Per-board parameters set every
// opened board, or only board d when the name is followed by the digit d.
// Values outside a parameter's range are clamped (or ignored where the
// parameter takes only a few values); unknown names are ignored.
void ULMSetParameter(const char* name, uint64_t value);

// Reads a configuration parameter by name (per-board ones read board 0, or
// board d when the name is followed by the digit d); all ones for a name
// that is not a parameter.
uint64_t ULMGetParameter(const char* name);

// The tolerance of every near-zero test (default 1e-10). A negative value or
// NaN is refused with kULMErrArgument; while the environment has forced the
// epsilon the call succeeds and changes nothing.
ULMStatus ULMSetEpsilon(double epsilon);
double ULMGetEpsilon();

// The interface version of these headers.
inline constexpr int kULMInterfaceMajorVersion = 3;
inline constexpr int kULMInterfaceMinorVersion = 3;

// Opens the library for an application built against interface major.minor
// (major 3, minor at most 3, else kULMErrVersion): opens the boards and takes
// one hold on them. kULMErrNoHardware (or the first board's failure) when no
// board can be opened; the library then stays closed. An open while open
// succeeds and takes no further hold.
ULMStatus ULMOpenInternal(int major, int minor);

// Opens the library for the interface of these headers.
inline ULMStatus ULMOpen() {
    return ULMOpenInternal(kULMInterfaceMajorVersion, kULMInterfaceMinorVersion);
}

// Gives the application's hold back; the boards close once every context,
// volume, and image or depth buffer with pixels on a board is gone too, so
// that such a buffer released after this call still gives its memory back
// to an open board. Does nothing while the library is not open.
void ULMClose();

}  // namespace ulm3
