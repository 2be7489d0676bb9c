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

}  // namespace

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
