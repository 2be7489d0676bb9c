// Failures of handles whose table slots moved on to newer handles.
#pragma once

#include <cstdint>

#include "ulm3/status.h"

namespace ulm3 {

// A combined event's or a deferred step's slot is taken again once the work
// of the handle that held it is over; that handle then has nothing left to
// wait for, but a copy of it may still be waited on or polled. Its failure
// (an abort that dropped some of its work among them) is remembered here, so
// that such a copy answers the failure and never a success with work
// missing. The newest kULMRememberedFailures are kept; older handles answer
// kULMOK, as every handle that succeeded does.
inline constexpr int kULMRememberedFailures = 4096;

// Records the failure of the handle word inWord; a success is not recorded.
void ULMRememberFailure(uint64_t inWord, ULMStatus inStatus);
// The failure recorded for inWord, or kULMOK.
ULMStatus ULMRememberedOutcome(uint64_t inWord);

}  // namespace ulm3
