// Sends the message log to a fresh file with a settable clock for the length
// of one test, and puts the process's sink, clock and environment back after.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "foundation/message_log.h"

namespace ulm3::testing_support {

// The "local time" the log reads while a LogToFile is alive.
inline std::tm& FakeNow() {
    static std::tm now{};
    return now;
}

inline void SetFakeNow(int year, int month, int day, int hour, int minute, int second) {
    std::tm& now = FakeNow();
    now = std::tm{};
    now.tm_year = year - 1900;
    now.tm_mon = month - 1;
    now.tm_mday = day;
    now.tm_hour = hour;
    now.tm_min = minute;
    now.tm_sec = second;
}

inline void ReadFakeNow(std::tm& now) { now = FakeNow(); }

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string UniqueTempPath(const char* stem) {
    static int counter = 0;
    return ::testing::TempDir() + "ulm3_" + stem + "_" + std::to_string(getpid()) + "_" +
           std::to_string(++counter);
}

// Restores ULMMessageOutput as it was, whatever the test sets it to.
class ScopedMessageOutputVariable {
public:
    ScopedMessageOutputVariable() {
        if (const char* value = getenv(kName)) m_saved = value;
    }
    ~ScopedMessageOutputVariable() {
        if (m_saved) {
            setenv(kName, m_saved->c_str(), 1);
        } else {
            unsetenv(kName);
        }
    }
    void Set(const std::string& value) { setenv(kName, value.c_str(), 1); }
    ScopedMessageOutputVariable(const ScopedMessageOutputVariable&) = delete;
    ScopedMessageOutputVariable& operator=(const ScopedMessageOutputVariable&) = delete;

private:
    static constexpr const char* kName = "ULMMessageOutput";
    std::optional<std::string> m_saved;
};

class LogToFile {
public:
    LogToFile() : m_path(UniqueTempPath("log")) {
        SetFakeNow(2024, 3, 7, 9, 5, 3);
        m_previousSource = ULMSetLocalTimeSource(ReadFakeNow);
        m_variable.Set(m_path);
        ULMCloseMessageFile();
    }
    ~LogToFile() {
        ULMCloseMessageFile();
        ULMSetLocalTimeSource(m_previousSource);
        std::remove(m_path.c_str());
    }
    LogToFile(const LogToFile&) = delete;
    LogToFile& operator=(const LogToFile&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Contents() const { return ReadWholeFile(m_path); }
    // Points the sink somewhere else; the next message chooses again.
    void Redirect(const std::string& value) {
        m_variable.Set(value);
        ULMCloseMessageFile();
    }

private:
    std::string m_path;
    ScopedMessageOutputVariable m_variable;
    ULMLocalTimeSource m_previousSource = nullptr;
};

// The stamps that open a fresh log at the default fake time.
inline constexpr const char* kFirstStamps = "\n**** DATE 2024-03-07 ****\n\nTIME 09:05:03\n";

}  // namespace ulm3::testing_support
