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
inline std::tm sFakeNow{};

inline void SetFakeNow(int year, int month, int day, int hour, int minute, int second) {
    sFakeNow = std::tm{};
    sFakeNow.tm_year = year - 1900;
    sFakeNow.tm_mon = month - 1;
    sFakeNow.tm_mday = day;
    sFakeNow.tm_hour = hour;
    sFakeNow.tm_min = minute;
    sFakeNow.tm_sec = second;
}

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

class LogToFile {
public:
    LogToFile() : m_path(UniqueTempPath("log")) {
        if (const char* value = getenv(kVariable)) m_savedVariable = value;
        SetFakeNow(2024, 3, 7, 9, 5, 3);
        m_previousSource = ULMSetLocalTimeSource([](std::tm& now) { now = sFakeNow; });
        Redirect(m_path.c_str());
    }
    ~LogToFile() {
        if (m_savedVariable) {
            setenv(kVariable, m_savedVariable->c_str(), 1);
        } else {
            unsetenv(kVariable);
        }
        ULMCloseMessageFile();
        ULMSetLocalTimeSource(m_previousSource);
        std::remove(m_path.c_str());
    }
    LogToFile(const LogToFile&) = delete;
    LogToFile& operator=(const LogToFile&) = delete;

    std::string Contents() const { return ReadWholeFile(m_path); }
    // Points the sink elsewhere (null unsets the variable); the next message
    // chooses again.
    void Redirect(const char* value) {
        if (value != nullptr) {
            setenv(kVariable, value, 1);
        } else {
            unsetenv(kVariable);
        }
        ULMCloseMessageFile();
    }

private:
    static constexpr const char* kVariable = "ULMMessageOutput";
    std::string m_path;
    std::optional<std::string> m_savedVariable;
    ULMLocalTimeSource m_previousSource = nullptr;
};

// The stamps that open a fresh log at the default fake time.
inline constexpr const char* kFirstStamps = "\n**** DATE 2024-03-07 ****\n\nTIME 09:05:03\n";

}  // namespace ulm3::testing_support
