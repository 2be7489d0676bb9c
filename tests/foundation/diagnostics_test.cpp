// Status names, the log lines of the trace reporters, timers and assertions,
// and where a reported fault goes.
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

TEST(Status, PredicatesAndNames) {
    for (int s : {-5, 0, 5, 1000}) EXPECT_TRUE(ULMSucceeded(ULMStatus(s)) && !ULMFailed(ULMStatus(s))) << s;
    for (int s : {1001, 1032}) EXPECT_TRUE(ULMFailed(ULMStatus(s)) && !ULMSucceeded(ULMStatus(s))) << s;
    for (int x : {1, -7, 1 << 30}) EXPECT_EQ(ULMIsTrue(x), 1) << x;
    EXPECT_EQ(ULMIsTrue(0), 0);

    const char* const outcomes[] = {"OK", "MultiPass", "Timeout", "MustReload", "InProgress", "AlreadyComplete"};
    const char* const errors[] = {
        "Alloc",         "Volume",    "Math",       "Argument",        "Unimplemented", "TooMany",
        "TooLarge",      "Duplicate", "NoHardware", "ReadOnly",        "Access",        "Aborted",
        "BasePlaneAllocation", "BasePlaneTooLarge", "Hardware", "Internal", "IDRollover", "Version",
        "MaxAngleDeviation", "Format", "CantResize", "CantSubsample", "Classifier", "Transform",
        "Permission",    "VoxFile",   "Read",       "Write",           "Buffer",        "EmptyRender",
        "CutplaneOverflow", "TooSmall"};
    std::set<std::string> seen;
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(UlmGetStatusString(ULMStatus(i)), outcomes[i]) << i;
    for (int i = 0; i < 32; ++i) EXPECT_STREQ(UlmGetStatusString(ULMStatus(1001 + i)), errors[i]) << 1001 + i;
    seen.insert(std::begin(outcomes), std::end(outcomes));
    seen.insert(std::begin(errors), std::end(errors));
    EXPECT_EQ(seen.size(), 38u);
    EXPECT_STREQ(UlmGetStatusString(kULMErrVolumeInvalid), "Volume");
    for (int value : {6, 999, 1000, 1033, -1, -5, 2147483647, -2147483647 - 1})
        EXPECT_STREQ(UlmGetStatusString(static_cast<ULMStatus>(value)), "Unknown") << value;
}

TEST(GetPartialName, TakesTheTextAfterTheLastSeparatorOfAnyKind) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b\\c:d]name.cpp", "name.cpp"}, {"vol]x:y\\z/last.cpp", "last.cpp"}, {"plain.cpp", "plain.cpp"},
        {"dir/", ""}, {"", ""}, {nullptr, "unknown"}};
    for (const auto& [path, name] : cases) EXPECT_STREQ(GetPartialName(path), name) << (path ? path : "null");
}

TEST(TraceReporters, WriteTheirExactLines) {
    LogToFile log;
    UlmTraceReturnError(kULMErrArgument, "src/a/b.cpp", 12, nullptr);
    UlmTraceReturnError(kULMTimeout, "b.cpp", 13, "Wait");
    UlmTraceReportMessage("no board", "dir\\c.cpp", 14, nullptr);
    UlmTraceReportMessage("no board", "c.cpp", 15, "Open");
    UlmTraceReportStatus(kULMErrAlloc, "d.cpp", 16, nullptr);
    UlmTraceReportStatus(kULMErrAlloc, "d.cpp", 17, "Grow");
    UlmTraceReportMessageStatus("load", kULMErrRead, "vol:e.cpp", 18, nullptr);
    UlmTraceReportMessageStatus("load", kULMErrRead, "e.cpp", 19, "Load");
    UlmTraceThrowError(kULMErrMath, "f.cpp", 20, nullptr);
    UlmTraceThrowError(static_cast<ULMStatus>(77), "f.cpp", 21, "Invert");
    UlmTraceReturnEvent(ULMSyncEvent(kULMErrArgument), "/src/volume/volume.cpp", 22, nullptr);
    UlmTraceReturnEvent(KWBSyncEvent(1, KWBSyncEvent::kRenderQueue, 9), "board.cpp", 23, "Render");
    // Null file and message are named safely.
    UlmTraceReportMessage(nullptr, nullptr, 1, nullptr);
    UlmTraceReportStatus(kULMOK, nullptr, 2, nullptr);
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) +
                                  "$RET$ Argument (1004) from file b.cpp line 12\n"
                                  "$RET$ Timeout (2) from file b.cpp line 13 function Wait\n"
                                  "$ERR$ no board from file c.cpp line 14\n"
                                  "$ERR$ no board from file c.cpp line 15 function Open\n"
                                  "$ERR$ Alloc (1001) from file d.cpp line 16\n"
                                  "$ERR$ Alloc (1001) from file d.cpp line 17 function Grow\n"
                                  "$ERR$ load -- Read (1027) from file e.cpp line 18\n"
                                  "$ERR$ load -- Read (1027) from file e.cpp line 19 function Load\n"
                                  "$THROW$ Math (1003) from file f.cpp line 20\n"
                                  "$THROW$ Unknown (77) from file f.cpp line 21 function Invert\n"
                                  "$RET$ event status Argument (1004) from file volume.cpp line 22\n"
                                  "$RET$ event status InProgress (4) from file board.cpp line 23 function Render\n"
                                  "$ERR$  from file unknown line 1\n"
                                  "$ERR$ OK (0) from file unknown line 2\n");
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

TEST(AssertionDeathTest, LogsTheExactLineThenAborts) {
    LogToFile log;
    EXPECT_EXIT(UlmAssert("count > 0", "src/foundation/x.cpp", 321, nullptr), ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) + "ULM_ASSERT ( count > 0 ) failed: Line 321 in File x.cpp\n");
    EXPECT_EXIT(UlmAssert("p", "a:b]c.cpp", 7, "Resize"), ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(log.Contents(),
              std::string(kFirstStamps) + "ULM_ASSERT ( p ) failed: Line 7 in File c.cpp function Resize\n");

    // The macro passes the expression's text and fires only when it is false.
    log.Redirect("stderr");
    int evaluations = 0;
    ULM_ASSERT(++evaluations == 1);
    EXPECT_EQ(evaluations, 1);
    EXPECT_DEATH(ULM_ASSERT(1 + 1 == 3),
                 "ULM_ASSERT \\( 1 \\+ 1 == 3 \\) failed: Line [0-9]+ in File diagnostics_test\\.cpp\n");
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

TEST_F(ErrorHandlerTest, SetOnlyWhileOpenAndReturnThePreviousHandler) {
    RecordingHandler first, second;
    gULMControl.m_initialized = false;
    gULMControl.m_errorHandler = nullptr;
    EXPECT_EQ(ULMSetErrorHandler(&first), nullptr);
    EXPECT_EQ(gULMControl.m_errorHandler, nullptr);

    gULMControl.m_initialized = true;
    gULMControl.m_errorHandler = &gULMControl.m_baseErrorHandler;
    EXPECT_EQ(ULMSetErrorHandler(&first), &gULMControl.m_baseErrorHandler);
    EXPECT_EQ(ULMSetErrorHandler(&second), &first);
    EXPECT_EQ(ULMSetErrorHandler(nullptr), &second);
    EXPECT_EQ(gULMControl.m_errorHandler, nullptr);
}

TEST_F(ErrorHandlerTest, FaultsGoToTheHandlerOrWithoutOneToTheLog) {
    LogToFile log;
    RecordingHandler handler;
    gULMControl.m_errorHandler = &handler;
    ULMReportFault(kULMErrMath, "matrix.cpp", 88);
    EXPECT_EQ(handler.calls, "1003 matrix.cpp:88\n");
    EXPECT_EQ(log.Contents(), "");

    // With no handler the fault is logged and the caller goes on.
    gULMControl.m_errorHandler = nullptr;
    ULMReportFault(kULMErrMath, "vector.cpp", 41);
    ULM_REPORT_FAULT(kULMErrArgument);
    const std::string text = log.Contents();
    const std::string expected = std::string(kFirstStamps) +
                                 "ULMErrorHandler: Error 1003 at line 41 in file vector.cpp\n"
                                 "ULMErrorHandler: Error 1004 at line ";
    EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
    EXPECT_NE(text.find("diagnostics_test.cpp\n"), std::string::npos) << text;
}

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
