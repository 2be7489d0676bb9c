// Assertions, trace reporters, timers and fault reports.
#pragma once

#include <sys/time.h>

#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// The file part of a path (after the last '/', '\\', ':' or ']'); "unknown"
// for a null path.
const char* GetPartialName(const char* path);

[[noreturn]] void UlmAssert(const char* expression, const char* file, unsigned int line,
                            const char* functionName);

#define ULM_ASSERT(expr) \
    ((expr) ? (void)0 : ::ulm3::UlmAssert(#expr, __FILE__, __LINE__, nullptr))

// Reports a fault the caller cannot return (arithmetic faults, failures while
// closing boards) to the current error handler. With no handler installed the
// fault is logged with the built-in handler's text and the caller goes on.
void ULMReportFault(int status, const char* file, int line);

#define ULM_REPORT_FAULT(status) ::ulm3::ULMReportFault((status), __FILE__, __LINE__)

// Logs the built-in error handler's line for a fault, without ending the
// process.
void ULMLogFault(int status, const char* file, int line);

// Trace reporters: one log line each naming the status or message, the file
// and line, and the function when one is given (null leaves it out).
void UlmTraceReturnError(ULMStatus status, const char* file, int line, const char* functionName);
// Names the event's Status(): a finished event's status, or InProgress.
void UlmTraceReturnEvent(const ULMSyncEvent& event, const char* file, int line,
                         const char* functionName);
void UlmTraceReportMessage(const char* message, const char* file, int line,
                           const char* functionName);
void UlmTraceReportStatus(ULMStatus status, const char* file, int line, const char* functionName);
void UlmTraceReportMessageStatus(const char* message, ULMStatus status, const char* file, int line,
                                 const char* functionName);
void UlmTraceThrowError(ULMStatus status, const char* file, int line, const char* functionName);

double TimerSecondsBetween(const timeval& first, const timeval& second);
void TimerOutputTime(const timeval& first, const timeval& second, const char* where);
// Logs mult / seconds (0 when no time passed) in the given units; null units
// read "per second".
void TimerOutputSpeed(const timeval& first, const timeval& second, const char* where,
                      const char* units, double mult);

}  // namespace ulm3
