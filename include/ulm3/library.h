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

}  // namespace ulm3
