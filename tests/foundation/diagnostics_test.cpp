// File names in messages, the timers, and the built-in handler of a
// reported fault.
#include <sys/time.h>

#include <csignal>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "board/kwb_sync_event.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"
#include "log_capture.h"
#include "support/control_snapshot.h"

using namespace ulm3;
using namespace ulm3::testing_support;

TEST(GetPartialName, TakesTheTextAfterTheLastSeparatorOfAnyKind) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b\\c:d]name.cpp", "name.cpp"}, {"vol]x:y\\z/last.cpp", "last.cpp"}, {"plain.cpp", "plain.cpp"},
        {"dir/", ""}, {"", ""}, {nullptr, "unknown"}};
    for (const auto& [path, name] : cases) EXPECT_STREQ(GetPartialName(path), name) << (path ? path : "null");
}

TEST(Timers, ReportTimeAndSpeed) {
    EXPECT_DOUBLE_EQ(TimerSecondsBetween({7, 250000}, {6, 750000}), -0.5);
    LogToFile log;
    const timeval start{10, 900000};
    const timeval end{12, 100000};
    TimerOutputTime(start, end, "load");
    TimerOutputSpeed(start, end, "copy", "MB/s", 600.0);
    TimerOutputSpeed(start, end, "render", nullptr, 3.0);
    TimerOutputSpeed(start, start, "idle", "frames/s", 5.0);
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) +
                                  "TIMER:    1.200 for load\n"
                                  "TIMER:  500.000 MB/s for copy\n"
                                  "TIMER:    2.500 per second for render\n"
                                  "TIMER:    0.000 frames/s for idle\n");
}

namespace {

// The handler state of the control record is put back after each test.
class ErrorHandlerTest : public ::testing::Test {
    test_support::ControlSnapshot m_snapshot;
};

class RecordingHandler : public ULMErrorHandler {
public:
    void ErrorNotify(int status, const char* file, int line) override {
        calls += std::to_string(status) + " " + file + ":" + std::to_string(line) + "\n";
    }
    std::string calls;
};

}  // namespace

TEST_F(ErrorHandlerTest, BuiltInHandlerLogsThenExitsWithStatusModulo256) {
    LogToFile log;
    log.Redirect("stderr");
    ULMErrorHandler builtIn;
    EXPECT_EXIT(builtIn.ErrorNotify(kULMErrMath, "m.cpp", 9), ::testing::ExitedWithCode(235),
                "ULMErrorHandler: Error 1003 at line 9 in file m\\.cpp\n");
    EXPECT_EXIT(builtIn.ErrorNotify(kULMErrArgument, "v.cpp", 10), ::testing::ExitedWithCode(236),
                "ULMErrorHandler: Error 1004 at line 10 in file v\\.cpp\n");
    // Reached through a report when it is installed.
    gULMControl.m_errorHandler = &gULMControl.m_baseErrorHandler;
    EXPECT_EXIT(ULMReportFault(kULMErrHardware, "board.cpp", 3), ::testing::ExitedWithCode(1015 % 256),
                "ULMErrorHandler: Error 1015 at line 3 in file board\\.cpp\n");
}
