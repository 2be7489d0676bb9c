// The process-wide message log.
#pragma once

#include <ctime>

namespace ulm3 {

// printf-style; the destination is chosen on the first message from the
// environment variable ULMMessageOutput (stderr, debugger, none, or a file).
void ULMOutputMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Raw writer: writes the text to the chosen stream and flushes.
void ulmOutputMessage(const char* text);
void ULMCloseMessageFile();

// Where the date and time stamps take "now" from. Replaceable so that the
// stamp rules can be exercised without waiting for the wall clock; null puts
// the local time of day back. Returns the source it replaces.
using ULMLocalTimeSource = void (*)(std::tm& now);
ULMLocalTimeSource ULMSetLocalTimeSource(ULMLocalTimeSource source);

}  // namespace ulm3
