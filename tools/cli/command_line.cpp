// Option reading of the command-line programs.
#include "cli/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ulm3cli {

bool ParseWhole(const char* inText, long inMin, long inMax, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(inText, &end, 10);
    return end != inText && *end == '\0' && errno == 0 && out >= inMin && out <= inMax;
}

bool ParseReal(const char* inText, double& out) {
    char* end = nullptr;
    out = std::strtod(inText, &end);
    return end != inText && *end == '\0' && std::isfinite(out);
}

int Refuse(const char* inProgram, const std::string& inWhat, const std::string& inWhy) {
    std::fprintf(stderr, "%s: %s: %s (%s --help lists the options)\n", inProgram, inWhat.c_str(), inWhy.c_str(),
                 inProgram);
    return 2;
}

ReadResult ReadOptions(const char* inProgram, int argc, char** argv, const std::vector<Option>& inOptions,
                       std::vector<const char*>& outOperands) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return ReadResult::kHelp;
        if (a.rfind("--", 0) != 0) {
            outOperands.push_back(argv[i]);
            continue;
        }
        const Option* option = nullptr;
        for (const Option& o : inOptions)
            if (a == o.name) option = &o;
        if (option == nullptr) {
            Refuse(inProgram, a, "no such option");
            return ReadResult::kRefused;
        }
        // The option and its values, as the user typed them.
        std::string typed = a;
        for (int k = 1; k <= option->values && i + k < argc; ++k) typed += std::string(" ") + argv[i + k];
        if (i + option->values >= argc) {
            const std::string count = option->values == 1 ? "a value" : std::to_string(option->values) + " values";
            Refuse(inProgram, typed, "needs " + count + ": " + option->accepted);
            return ReadResult::kRefused;
        }
        if (!option->take(argv + i + 1)) {
            Refuse(inProgram, typed, option->accepted);
            return ReadResult::kRefused;
        }
        i += option->values;
    }
    return ReadResult::kRead;
}

std::optional<int> ReadCommandLine(const char* inProgram, const char* inUsage, int argc, char** argv,
                                   const std::vector<Option>& inOptions, size_t inOperands,
                                   const char* inOperandWords, std::vector<const char*>& outOperands) {
    if (argc < 2) {
        std::fputs(inUsage, stderr);
        return 2;
    }
    const ReadResult read = ReadOptions(inProgram, argc, argv, inOptions, outOperands);
    if (read == ReadResult::kHelp) {
        std::fputs(inUsage, stdout);
        return 0;
    }
    if (read == ReadResult::kRefused) return 2;
    if (outOperands.size() == inOperands) return std::nullopt;
    std::string given;
    for (const char* operand : outOperands) given += std::string(given.empty() ? "" : " ") + operand;
    return Refuse(inProgram, given.empty() ? inOperandWords : given, std::string("expected ") + inOperandWords);
}

}  // namespace ulm3cli
