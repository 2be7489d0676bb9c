// The driver's logs, each capped so that a long run cannot exhaust memory.
#include "sim_driver_log.h"

#include <cstdarg>

namespace tulx7sim {

namespace {

constexpr size_t kDriverLogLimit = 10000;
constexpr size_t kRequestLogLimit = 200000;

}  // namespace

SimDriverLog::~SimDriverLog() { CopyTo(""); }

void SimDriverLog::CopyTo(const std::string& path) {
    if (m_file != nullptr && m_file != stderr) std::fclose(m_file);
    m_file = nullptr;
    if (path == "stderr")
        m_file = stderr;
    else if (!path.empty())
        m_file = std::fopen(path.c_str(), "a");
}

void SimDriverLog::Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (m_messages.size() < kDriverLogLimit) m_messages.emplace_back(line);
    if (m_file != nullptr) {
        std::fprintf(m_file, "tulx7sim: %s\n", line);
        std::fflush(m_file);
    }
}

void SimDriverLog::Record(RequestLogEntry entry) {
    if (m_requests.size() < kRequestLogLimit) m_requests.push_back(std::move(entry));
}

void SimDriverLog::Clear() {
    m_messages.clear();
    m_requests.clear();
}

}  // namespace tulx7sim
