// The process-wide message log.
#pragma once

namespace ulm3 {

// printf-style; the destination is chosen on the first message from the
// environment variable ULMMessageOutput (stderr, debugger, none, or a file).
void ULMOutputMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Raw writer: writes the text to the chosen stream and flushes.
void ulmOutputMessage(const char* text);
void ULMCloseMessageFile();

}  // namespace ulm3
