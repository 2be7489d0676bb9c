// The message sink: chosen on first use, stamped with the date and time.
#include "foundation/message_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/locks.h"

namespace ulm3 {

namespace {

enum MessageOutput {
    notInitialized = 0,
    toBitBucket = 1,
    toStderr = 2,
    toFile = 3,
    toDebugger = 4,
    toMessages = 5,
};

constexpr size_t kMessageBufferSize = 2000;
constexpr long kTimeStampPeriod = 300;
constexpr long kNoTimeOfDay = -1000;

struct CalendarDate {
    int year;  // years since 1900, as in struct tm
    int month;
    int day;
};

void LocalTimeNow(std::tm& now) {
    const std::time_t t = std::time(nullptr);
    if (localtime_r(&t, &now) == nullptr) now = std::tm{};
}

// Every piece of sink state is touched only under this lock, so two threads
// sending the first message cannot both open (and truncate) the file.
constinit ULMMutex sMessageLock;
MessageOutput sMessageOutput = notInitialized;
FILE* sMessageFile = nullptr;
ULMLocalTimeSource sLocalTimeSource = LocalTimeNow;
// Set once the process-exit close has run: a message written after that (from
// a static destructor or a later exit handler) must add to the log, not wipe it.
bool sAppendOnReopen = false;
// The exit close is registered with the first file opened; it closes whichever
// file is open at exit, so a log closed and reopened by the application does
// not add a registration each time.
bool sExitCloseRegistered = false;

CalendarDate sLastTimeOutput = {-1, 0, 0};
long sLastTimeOfDay = kNoTimeOfDay;

void CloseMessageFileLocked() {
    if (sMessageFile != nullptr && sMessageFile != stderr) fclose(sMessageFile);
    sMessageFile = nullptr;
    sMessageOutput = notInitialized;
}

void CloseMessageFileAtExit() {
    ULMScopedLock lock(sMessageLock);
    CloseMessageFileLocked();
    sAppendOnReopen = true;
}

void WriteLocked(const char* text) {
    switch (sMessageOutput) {
        case toStderr:
        case toFile:
        case toDebugger:
            if (sMessageFile != nullptr) {
                fputs(text, sMessageFile);
                fflush(sMessageFile);
            }
            break;
        default:
            break;
    }
}

bool Matches(const char* value, const char* upper, const char* lower) {
    return strcmp(value, upper) == 0 || strcmp(value, lower) == 0;
}

void ChooseSinkLocked() {
    sLastTimeOutput.year = -1;
    sLastTimeOfDay = kNoTimeOfDay;
    const char* value = getenv("ULMMessageOutput");
    if (value == nullptr || Matches(value, "STDERR", "stderr")) {
        sMessageOutput = toStderr;
    } else if (Matches(value, "DEBUGGER", "debugger")) {
        sMessageOutput = toDebugger;
    } else if (Matches(value, "NONE", "none")) {
        sMessageOutput = toBitBucket;
    } else {
        sMessageFile = fopen(value, sAppendOnReopen ? "a" : "w");
        if (sMessageFile != nullptr) {
            sMessageOutput = toFile;
            if (!sExitCloseRegistered) sExitCloseRegistered = atexit(CloseMessageFileAtExit) == 0;
        } else {
            sMessageOutput = toStderr;
        }
    }
    if (sMessageOutput == toStderr || sMessageOutput == toDebugger) sMessageFile = stderr;
}

void WriteDueStampsLocked() {
    std::tm now{};
    sLocalTimeSource(now);
    if (now.tm_year != sLastTimeOutput.year || now.tm_mon != sLastTimeOutput.month ||
        now.tm_mday != sLastTimeOutput.day) {
        sLastTimeOutput = {now.tm_year, now.tm_mon, now.tm_mday};
        char line[64];
        snprintf(line, sizeof line, "\n**** DATE %04d-%02d-%02d ****\n\n", now.tm_year + 1900,
                 now.tm_mon + 1, now.tm_mday);
        WriteLocked(line);
        sLastTimeOfDay = kNoTimeOfDay;
    }
    const long secondsOfDay = now.tm_hour * 3600L + now.tm_min * 60L + now.tm_sec;
    if (sLastTimeOfDay + kTimeStampPeriod < secondsOfDay) {
        sLastTimeOfDay = secondsOfDay;
        char line[32];
        snprintf(line, sizeof line, "TIME %02d:%02d:%02d\n", now.tm_hour, now.tm_min, now.tm_sec);
        WriteLocked(line);
    }
}

}  // namespace

void ULMOutputMessage(const char* format, ...) {
    ULMScopedLock lock(sMessageLock);
    if (sMessageOutput == notInitialized) ChooseSinkLocked();
    if (sMessageOutput == toBitBucket) return;
    WriteDueStampsLocked();
    if (format == nullptr || format[0] == '\0') return;

    // A longer message is cut to what fits; the terminator always stays.
    char buffer[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) return;
    WriteLocked(buffer);
}

void ulmOutputMessage(const char* text) {
    if (text == nullptr) return;
    ULMScopedLock lock(sMessageLock);
    WriteLocked(text);
}

void ULMCloseMessageFile() {
    ULMScopedLock lock(sMessageLock);
    CloseMessageFileLocked();
}

ULMLocalTimeSource ULMSetLocalTimeSource(ULMLocalTimeSource source) {
    ULMScopedLock lock(sMessageLock);
    const ULMLocalTimeSource previous = sLocalTimeSource;
    sLocalTimeSource = source != nullptr ? source : LocalTimeNow;
    return previous;
}

}  // namespace ulm3
