// Assertions, trace reporters, timers and fault reports.
#pragma once

#include <sys/time.h>

#include "ulm3/status.h"

namespace ulm3 {

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

double TimerSecondsBetween(const timeval& first, const timeval& second);
void TimerOutputTime(const timeval& first, const timeval& second, const char* where);
void TimerOutputSpeed(const timeval& first, const timeval& second, const char* where,
                      const char* units, double mult);

}  // namespace ulm3
