// Placeholder bodies so that the tree links; the full implementation replaces them.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"

namespace ulm3 {

void ULMOutputMessage(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
}
void ULMErrorHandler::ErrorNotify(int status, const char* file, int line) {
    ULMOutputMessage("ULMErrorHandler: Error %d at line %d in file %s\n", status, line, file);
    exit(status % 256);
}
void ULMReportFault(int status, const char* file, int line) {
    if (gULMControl.m_errorHandler) gULMControl.m_errorHandler->ErrorNotify(status, file, line);
}
void UlmAssert(const char* expression, const char* file, unsigned int line, const char*) {
    ULMOutputMessage("ULM_ASSERT ( %s ) failed: Line %u in File %s\n", expression, line, file);
    abort();
}

}  // namespace ulm3
