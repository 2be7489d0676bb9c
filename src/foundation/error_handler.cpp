// The built-in error handler and the choice of the current one.
#include <cstdlib>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"

namespace ulm3 {

void ULMLogFault(int status, const char* file, int line) {
    ULMOutputMessage("ULMErrorHandler: Error %d at line %d in file %s\n", status, line,
                     file != nullptr ? file : "unknown");
}

void ULMErrorHandler::ErrorNotify(int status, const char* file, int line) {
    ULMLogFault(status, file, line);
    exit(status % 256);
}

ULMErrorHandler* ULMSetErrorHandler(ULMErrorHandler* handler) {
    if (!gULMControl.m_initialized) return nullptr;
    ULMErrorHandler* previous = gULMControl.m_errorHandler;
    gULMControl.m_errorHandler = handler;
    return previous;
}

}  // namespace ulm3
