// Assertions, trace reporters, timers and fault reports.
#include "foundation/diagnostics.h"

#include <cstdlib>

#include "foundation/control.h"
#include "foundation/message_log.h"

namespace ulm3 {

namespace {

// The " function NAME" tail of assertion and trace lines; empty without a name.
struct FunctionSuffix {
    explicit FunctionSuffix(const char* functionName)
        : label(functionName != nullptr ? " function " : ""),
          name(functionName != nullptr ? functionName : "") {}
    const char* label;
    const char* name;
};

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

void TraceStatus(const char* kind, ULMStatus status, const char* file, int line,
                 const char* functionName) {
    const FunctionSuffix suffix(functionName);
    ULMOutputMessage("%s %s (%d) from file %s line %d%s%s\n", kind, UlmGetStatusString(status),
                     static_cast<int>(status), GetPartialName(file), line, suffix.label,
                     suffix.name);
}

}  // namespace

const char* GetPartialName(const char* path) {
    if (path == nullptr) return "unknown";
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':' || *p == ']') name = p + 1;
    }
    return name;
}

void UlmAssert(const char* expression, const char* file, unsigned int line,
               const char* functionName) {
    const FunctionSuffix suffix(functionName);
    ULMOutputMessage("ULM_ASSERT ( %s ) failed: Line %d in File %s%s%s\n", TextOrEmpty(expression),
                     static_cast<int>(line), GetPartialName(file), suffix.label, suffix.name);
    abort();
}

void ULMReportFault(int status, const char* file, int line) {
    ULMErrorHandler* handler = gULMControl.m_errorHandler;
    if (handler != nullptr) {
        handler->ErrorNotify(status, file, line);
    } else {
        ULMLogFault(status, file, line);
    }
}

void UlmTraceReturnError(ULMStatus status, const char* file, int line, const char* functionName) {
    TraceStatus("$RET$", status, file, line, functionName);
}

void UlmTraceReturnEvent(const ULMSyncEvent& event, const char* file, int line,
                         const char* functionName) {
    TraceStatus("$RET$ event status", event.Status(), file, line, functionName);
}

void UlmTraceReportStatus(ULMStatus status, const char* file, int line, const char* functionName) {
    TraceStatus("$ERR$", status, file, line, functionName);
}

void UlmTraceThrowError(ULMStatus status, const char* file, int line, const char* functionName) {
    TraceStatus("$THROW$", status, file, line, functionName);
}

void UlmTraceReportMessage(const char* message, const char* file, int line,
                           const char* functionName) {
    const FunctionSuffix suffix(functionName);
    ULMOutputMessage("$ERR$ %s from file %s line %d%s%s\n", TextOrEmpty(message),
                     GetPartialName(file), line, suffix.label, suffix.name);
}

void UlmTraceReportMessageStatus(const char* message, ULMStatus status, const char* file, int line,
                                 const char* functionName) {
    const FunctionSuffix suffix(functionName);
    ULMOutputMessage("$ERR$ %s -- %s (%d) from file %s line %d%s%s\n", TextOrEmpty(message),
                     UlmGetStatusString(status), static_cast<int>(status), GetPartialName(file),
                     line, suffix.label, suffix.name);
}

double TimerSecondsBetween(const timeval& first, const timeval& second) {
    return static_cast<double>(second.tv_sec - first.tv_sec) +
           static_cast<double>(second.tv_usec - first.tv_usec) * 1e-6;
}

void TimerOutputTime(const timeval& first, const timeval& second, const char* where) {
    ULMOutputMessage("TIMER: %8.3f for %s\n", TimerSecondsBetween(first, second),
                     TextOrEmpty(where));
}

void TimerOutputSpeed(const timeval& first, const timeval& second, const char* where,
                      const char* units, double mult) {
    const double seconds = TimerSecondsBetween(first, second);
    const double figure = seconds != 0.0 ? mult / seconds : 0.0;
    ULMOutputMessage("TIMER: %8.3f %s for %s\n", figure, units != nullptr ? units : "per second",
                     TextOrEmpty(where));
}

}  // namespace ulm3
