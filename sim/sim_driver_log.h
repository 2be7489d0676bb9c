// What the driver records: its log of messages (kept, and copied to a file
// or stderr when configured) and the log of every request.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tulx7sim/test_api.h"

namespace tulx7sim {

class SimDriverLog {
public:
    SimDriverLog() = default;
    ~SimDriverLog();
    SimDriverLog(const SimDriverLog&) = delete;
    SimDriverLog& operator=(const SimDriverLog&) = delete;

    // Where messages are copied: "stderr", a file appended to, or nowhere.
    void CopyTo(const std::string& path);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Record(RequestLogEntry entry);
    void Clear();
    void ClearRequests() { m_requests.clear(); }

    const std::vector<std::string>& Messages() const { return m_messages; }
    const std::vector<RequestLogEntry>& Requests() const { return m_requests; }

private:
    std::vector<std::string> m_messages;
    std::vector<RequestLogEntry> m_requests;
    FILE* m_file = nullptr;
};

}  // namespace tulx7sim
