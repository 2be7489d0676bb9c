#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/message_log.h"
#include "log_capture.h"

using namespace ulm3;
using namespace ulm3::testing_support;

namespace {

// Calls through a plain pointer so that empty and null formats are exercised
// without the compiler's format checks objecting to them.
void (*const Emit)(const char*, ...) = ULMOutputMessage;

bool DirectoryIsEmpty(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") empty = false;
    }
    closedir(dir);
    return empty;
}

}  // namespace

TEST(MessageLogFile, FirstMessageCarriesDateAndTimeThenPlainText) {
    LogToFile log;
    ulmOutputMessage("unseen\n");  // the raw writer writes nothing before a sink is chosen
    Emit("");                       // an empty format writes only the due stamps
    EXPECT_EQ(log.Contents(), kFirstStamps);
    ULMOutputMessage("hello %d %s\n", 42, "world");
    Emit(nullptr);
    ulmOutputMessage("raw\n");
    ulmOutputMessage(nullptr);
    ULMOutputMessage("%s%s", std::string(2600, 'x').c_str(), "tail");  // cut to 1999 characters
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) + "hello 42 world\nraw\n" + std::string(1999, 'x'));
}

TEST(MessageLogFile, TimeStampCountsFromLastStampNotLastMessage) {
    LogToFile log;
    ULMOutputMessage("a\n");             // 09:05:03, stamped
    SetFakeNow(2024, 3, 7, 9, 8, 23);    // +200 s
    ULMOutputMessage("b\n");
    SetFakeNow(2024, 3, 7, 9, 10, 3);    // +300 s from the stamp: not more than the period
    ULMOutputMessage("c\n");
    SetFakeNow(2024, 3, 7, 9, 10, 4);    // +301 s
    ULMOutputMessage("d\n");
    SetFakeNow(2024, 3, 7, 9, 14, 0);    // only 236 s after the new stamp
    ULMOutputMessage("e\n");
    SetFakeNow(2024, 3, 7, 10, 0, 0);    // a null format still writes the due stamp
    Emit(nullptr);
    EXPECT_EQ(log.Contents(), std::string(kFirstStamps) + "a\nb\nc\nTIME 09:10:04\nd\ne\nTIME 10:00:00\n");
}

TEST(MessageLogFile, DateChangeAndExplicitCloseWriteDateThenTime) {
    LogToFile log;
    SetFakeNow(2023, 12, 31, 23, 59, 58);
    ULMOutputMessage("late\n");
    SetFakeNow(2024, 1, 1, 0, 0, 1);  // earlier on the clock, but a new day
    ULMOutputMessage("early\n");
    EXPECT_EQ(log.Contents(), "\n**** DATE 2023-12-31 ****\n\nTIME 23:59:58\nlate\n"
                              "\n**** DATE 2024-01-01 ****\n\nTIME 00:00:01\nearly\n");
    // After an explicit close the file starts afresh, with both stamps.
    ULMCloseMessageFile();
    SetFakeNow(2024, 1, 1, 0, 0, 5);
    ULMOutputMessage("after\n");
    EXPECT_EQ(log.Contents(), "\n**** DATE 2024-01-01 ****\n\nTIME 00:00:05\nafter\n");
}

TEST(MessageLogFile, MessagesAfterTheExitCloseAreAppended) {
    LogToFile log;
    // An exit handler registered before the log opens runs after the log's
    // own close, as a static destructor would.
    EXPECT_EXIT(
        {
            atexit([] { ULMOutputMessage("after exit close\n"); });
            ULMOutputMessage("before exit\n");
            exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string text = log.Contents();
    EXPECT_EQ(text.rfind(std::string(kFirstStamps) + "before exit\n", 0), 0u) << text;
    EXPECT_NE(text.find("after exit close\n"), std::string::npos) << text;
}

TEST(MessageLogFile, ConcurrentFirstMessagesOpenTheFileOnce) {
    LogToFile log;
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([i] { ULMOutputMessage("thread %d\n", i); });
    for (std::thread& t : threads) t.join();
    const std::string text = log.Contents();
    EXPECT_EQ(text.rfind(kFirstStamps, 0), 0u) << text;
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_NE(text.find("thread " + std::to_string(i) + "\n"), std::string::npos) << text;
    }
    EXPECT_EQ(text.size(), std::string(kFirstStamps).size() + kThreads * std::string("thread 0\n").size());
}

TEST(MessageLogSink, StderrDebuggerUnsetAndUnopenableFilesWriteToStandardError) {
    LogToFile log;
    const std::string missing = UniqueTempPath("missing_dir") + "/log.txt";
    for (const char* value : {"stderr", "STDERR", "debugger", "DEBUGGER", (const char*)nullptr, missing.c_str()}) {
        SCOPED_TRACE(value != nullptr ? value : "unset");
        log.Redirect(value);
        ::testing::internal::CaptureStderr();
        ULMOutputMessage("to stderr\n");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kFirstStamps) + "to stderr\n");
    }
    EXPECT_EQ(log.Contents(), "");
}

TEST(MessageLogSink, NoneWritesNothingAnywhere) {
    const std::string dir = UniqueTempPath("none_dir");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string errors = UniqueTempPath("none_stderr");
    // The child changes its directory and standard error; the parent keeps both.
    EXPECT_EXIT(
        {
            const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || dup2(fd, 2) < 0 || chdir(dir.c_str()) != 0) _exit(2);
            for (const char* value : {"none", "NONE"}) {
                setenv("ULMMessageOutput", value, 1);
                ULMCloseMessageFile();
                ULMOutputMessage("silent %d\n", 1);
                Emit("");
                ulmOutputMessage("raw\n");
            }
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(DirectoryIsEmpty(dir));
    EXPECT_EQ(ReadWholeFile(errors), "");
    rmdir(dir.c_str());
    std::remove(errors.c_str());
}
