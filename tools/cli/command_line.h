// The options of the command-line programs, read from a table: a bad one is
// refused in one line that names it and says what it may be, with a pointer
// to --help, instead of the whole usage.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ulm3cli {

// A decimal whole number from inMin to inMax with nothing after it.
bool ParseWhole(const char* inText, long inMin, long inMax, long& out);
// A finite number with nothing after it.
bool ParseReal(const char* inText, double& out);

struct Option {
    const char* name;      // as typed: "--size"
    int values;            // how many arguments follow it
    const char* accepted;  // what they may be, for the line that refuses them
    // Takes the values; false refuses them.
    std::function<bool(char* const* inValues)> take;
};

enum class ReadResult { kRead, kHelp, kRefused };

// Reads argv[1..]: each option of the table with its values, every argument
// that does not start with "--" into outOperands. --help and -h stop the
// reading (kHelp); the first argument that cannot be taken is refused in one
// line on stderr (kRefused).
ReadResult ReadOptions(const char* inProgram, int argc, char** argv, const std::vector<Option>& inOptions,
                       std::vector<const char*>& outOperands);

// "PROGRAM: WHAT: WHY (PROGRAM --help lists the options)" on stderr; 2, the
// exit status of a command line that cannot be run.
int Refuse(const char* inProgram, const std::string& inWhat, const std::string& inWhy);

// A whole command line that takes inOperands operands (inOperandWords names
// them, "IN.vox OUT.png"). The exit status when the program should stop: 2
// after the usage on stderr for no arguments or one line for a bad one, 0
// after the usage on stdout for --help; nothing when it can run.
std::optional<int> ReadCommandLine(const char* inProgram, const char* inUsage, int argc, char** argv,
                                   const std::vector<Option>& inOptions, size_t inOperands,
                                   const char* inOperandWords, std::vector<const char*>& outOperands);

}  // namespace ulm3cli
