// TULX7SIM_* settings. They come from whoever starts the program, so every
// value is checked: a malformed or out-of-range setting keeps the default and
// says why.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tulx7sim/config.h"

namespace tulx7sim {

namespace {

constexpr size_t kMaxValueLength = 4096;

std::string_view Trim(std::string_view text) {
    const char* spaces = " \t\r\n";
    const size_t first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(spaces);
    return text.substr(first, last - first + 1);
}

// A whole decimal (or 0x hexadecimal) integer and nothing else.
bool ParseInteger(std::string_view text, long long& value) {
    text = Trim(text);
    if (text.empty() || text.size() > 32) return false;
    const std::string copy(text);
    const bool hex = copy.size() > 2 && copy[0] == '0' && (copy[1] == 'x' || copy[1] == 'X');
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(copy.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end == copy.c_str() + copy.size();
}

class Reader {
public:
    Reader(const std::function<const char*(const char*)>& lookup, ConfigParseResult& result)
        : m_lookup(lookup), m_result(result) {}

    // The raw value, or null when unset; overlong values are refused.
    const char* Raw(const char* name) {
        const char* value = m_lookup ? m_lookup(name) : nullptr;
        if (value == nullptr) return nullptr;
        if (std::string_view(value).size() > kMaxValueLength) {
            Warn(name, "...", "is longer than 4096 characters");
            return nullptr;
        }
        return value;
    }

    void Integer(const char* name, int& field, long long lowest, long long highest) {
        const char* value = Raw(name);
        if (value == nullptr) return;
        long long parsed = 0;
        if (ParseInteger(value, parsed) && parsed >= lowest && parsed <= highest) {
            field = static_cast<int>(parsed);
            return;
        }
        Warn(name, value,
             ("is not a whole number from " + std::to_string(lowest) + " to " +
              std::to_string(highest))
                 .c_str());
    }

    void Flag(const char* name, bool& field) {
        int value = field ? 1 : 0;
        Integer(name, value, 0, 1);
        field = value != 0;
    }

    void Warn(const char* name, const char* value, const char* why) {
        std::string text = std::string(name) + ": '" + value + "' " + why + "; default kept";
        m_result.warnings.push_back(std::move(text));
    }

private:
    const std::function<const char*(const char*)>& m_lookup;
    ConfigParseResult& m_result;
};

// "none", or up to eight comma-separated board indices (-1 for none), one
// per board in order; boards not listed have no peer.
bool ParsePeers(std::string_view text, std::array<int, kMaxBoards>& peers) {
    text = Trim(text);
    std::array<int, kMaxBoards> parsed;
    parsed.fill(-1);
    if (text == "none") {
        peers = parsed;
        return true;
    }
    size_t board = 0;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        long long value = 0;
        if (board >= kMaxBoards || !ParseInteger(item, value) || value < -1 ||
            value >= kMaxBoards || value == static_cast<long long>(board))
            return false;
        parsed[board++] = static_cast<int>(value);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    peers = parsed;
    return true;
}

}  // namespace

ConfigParseResult ParseConfig(const std::function<const char*(const char*)>& lookup) {
    ConfigParseResult result;
    SimConfig& config = result.config;
    Reader reader(lookup, result);
    reader.Integer("TULX7SIM_BOARDS", config.boards, 0, kMaxBoards);
    reader.Integer("TULX7SIM_MEMORY_MB", config.memoryMB, 1, kMaxMemoryMB);
    reader.Integer("TULX7SIM_MAJOR", config.major, 0, 255);
    reader.Integer("TULX7SIM_MINOR", config.minor, 0, 255);
    reader.Integer("TULX7SIM_MICRO", config.micro, 0, 65535);
    reader.Integer("TULX7SIM_PCI_REV", config.pciRev, 0, 255);
    reader.Integer("TULX7SIM_OS_VERSION", config.osVersion, 0, 0x7FFFFFFF);
    reader.Integer("TULX7SIM_LATENCY_US", config.latencyMicroseconds, 0, 1000000);
    reader.Integer("TULX7SIM_FILL", config.fillByte, 0, 255);
    reader.Flag("TULX7SIM_MAP", config.mapImplemented);
    reader.Flag("TULX7SIM_ROUNDED_SIZES", config.reportRoundedSizes);

    if (const char* peers = reader.Raw("TULX7SIM_PEERS")) {
        if (!ParsePeers(peers, config.peers))
            reader.Warn("TULX7SIM_PEERS", peers,
                        "is not 'none' or a list of up to 8 board indices from -1 to 7, none "
                        "naming its own board");
    }
    if (const char* mode = reader.Raw("TULX7SIM_MODE")) {
        const std::string_view value = Trim(mode);
        if (value == "serial")
            config.mode = QueueMode::kSerial;
        else if (value == "queues")
            config.mode = QueueMode::kThreeQueues;
        else
            reader.Warn("TULX7SIM_MODE", mode, "is not 'serial' or 'queues'");
    }
    if (const char* log = reader.Raw("TULX7SIM_LOG")) {
        const std::string_view value = Trim(log);
        if (value.empty())
            reader.Warn("TULX7SIM_LOG", log, "is empty");
        else
            config.logPath = std::string(value);
    }
    return result;
}

ConfigParseResult ConfigFromEnvironment() {
    return ParseConfig([](const char* name) -> const char* { return std::getenv(name); });
}

}  // namespace tulx7sim
