#include <sys/time.h>

#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"
#include "log_capture.h"

using namespace ulm3;
using namespace ulm3::testing_support;

TEST(GetPartialName, TakesTheTextAfterTheLastSeparatorOfAnyKind) {
    EXPECT_STREQ(GetPartialName("a/b\\c:d]name.cpp"), "name.cpp");
    EXPECT_STREQ(GetPartialName("vol]x:y\\z/last.cpp"), "last.cpp");
    EXPECT_STREQ(GetPartialName("src/foundation/locks.cpp"), "locks.cpp");
    EXPECT_STREQ(GetPartialName("plain.cpp"), "plain.cpp");
    EXPECT_STREQ(GetPartialName("dir/"), "");
    EXPECT_STREQ(GetPartialName(""), "");
    EXPECT_STREQ(GetPartialName(nullptr), "unknown");
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
                                  "$THROW$ Unknown (77) from file f.cpp line 21 function Invert\n");
}

TEST(TraceReporters, NullFileAndMessageAreNamedSafely) {
    LogToFile log;
    UlmTraceReportMessage(nullptr, nullptr, 1, nullptr);
    UlmTraceReportStatus(kULMOK, nullptr, 2, nullptr);
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) +
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

using AssertionDeathTest = ::testing::Test;

TEST_F(AssertionDeathTest, LogsTheExactLineThenAborts) {
    LogToFile log;
    EXPECT_EXIT(UlmAssert("count > 0", "src/foundation/x.cpp", 321, nullptr),
                ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(log.Contents(),
              std::string(kFirstStamps) + "ULM_ASSERT ( count > 0 ) failed: Line 321 in File x.cpp\n");
}

TEST_F(AssertionDeathTest, NamesTheFunctionWhenGiven) {
    LogToFile log;
    EXPECT_EXIT(UlmAssert("p", "a:b]c.cpp", 7, "Resize"), ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(log.Contents(),
              std::string(kFirstStamps) + "ULM_ASSERT ( p ) failed: Line 7 in File c.cpp function Resize\n");
}

TEST_F(AssertionDeathTest, MacroPassesTheExpressionTextAndOnlyFiresWhenFalse) {
    LogToFile log;
    log.Redirect("stderr");
    int evaluations = 0;
    ULM_ASSERT(++evaluations == 1);
    EXPECT_EQ(evaluations, 1);
    EXPECT_DEATH(ULM_ASSERT(1 + 1 == 3), "ULM_ASSERT \\( 1 \\+ 1 == 3 \\) failed: Line [0-9]+ in File "
                                         "diagnostics_test\\.cpp\n");
}

namespace {

// Saves the handler state of the control record and puts it back.
class ErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedInitialized = gULMControl.m_initialized;
        m_savedHandler = gULMControl.m_errorHandler;
    }
    void TearDown() override {
        gULMControl.m_initialized = m_savedInitialized;
        gULMControl.m_errorHandler = m_savedHandler;
    }

private:
    bool m_savedInitialized = false;
    ULMErrorHandler* m_savedHandler = nullptr;
};

class RecordingHandler : public ULMErrorHandler {
public:
    void ErrorNotify(int status, const char* file, int line) override {
        ++calls;
        lastStatus = status;
        lastFile = file;
        lastLine = line;
    }
    int calls = 0;
    int lastStatus = 0;
    std::string lastFile;
    int lastLine = 0;
};

}  // namespace

TEST_F(ErrorHandlerTest, SetWhileClosedChangesNothing) {
    RecordingHandler handler;
    gULMControl.m_initialized = false;
    gULMControl.m_errorHandler = nullptr;
    EXPECT_EQ(ULMSetErrorHandler(&handler), nullptr);
    EXPECT_EQ(gULMControl.m_errorHandler, nullptr);
}

TEST_F(ErrorHandlerTest, SetWhileOpenReturnsThePreviousHandler) {
    RecordingHandler first;
    RecordingHandler second;
    gULMControl.m_initialized = true;
    gULMControl.m_errorHandler = &gULMControl.m_baseErrorHandler;
    EXPECT_EQ(ULMSetErrorHandler(&first), &gULMControl.m_baseErrorHandler);
    EXPECT_EQ(ULMSetErrorHandler(&second), &first);
    EXPECT_EQ(ULMSetErrorHandler(nullptr), &second);
    EXPECT_EQ(gULMControl.m_errorHandler, nullptr);
}

TEST_F(ErrorHandlerTest, FaultGoesToTheInstalledHandlerAndIsNotLogged) {
    LogToFile log;
    RecordingHandler handler;
    gULMControl.m_errorHandler = &handler;
    ULMReportFault(kULMErrMath, "matrix.cpp", 88);
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.lastStatus, kULMErrMath);
    EXPECT_EQ(handler.lastFile, "matrix.cpp");
    EXPECT_EQ(handler.lastLine, 88);
    EXPECT_EQ(log.Contents(), "");
}

TEST_F(ErrorHandlerTest, FaultWithoutHandlerIsLoggedAndTheCallerGoesOn) {
    LogToFile log;
    gULMControl.m_errorHandler = nullptr;
    ULMReportFault(kULMErrMath, "vector.cpp", 41);
    ULM_REPORT_FAULT(kULMErrArgument);
    const std::string text = log.Contents();
    EXPECT_EQ(text.rfind(std::string(kFirstStamps) +
                             "ULMErrorHandler: Error 1003 at line 41 in file vector.cpp\n"
                             "ULMErrorHandler: Error 1004 at line ",
                         0),
              0u)
        << text;
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
}

TEST_F(ErrorHandlerTest, BuiltInHandlerIsReachedThroughAReportWhenInstalled) {
    LogToFile log;
    log.Redirect("stderr");
    gULMControl.m_errorHandler = &gULMControl.m_baseErrorHandler;
    EXPECT_EXIT(ULMReportFault(kULMErrHardware, "board.cpp", 3), ::testing::ExitedWithCode(1015 % 256),
                "ULMErrorHandler: Error 1015 at line 3 in file board\\.cpp\n");
}
