// The include rules between the layers, read from the source tree: the
// foundation includes nothing above it, the board layer nothing above
// itself, the library no header of the simulated platform beyond the
// driver contract, and the platform nothing of the library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The tree this test was built from: two folders above this file.
const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

// Every quoted include of every source file under `folder`, as
// "file: include".
std::vector<std::string> QuotedIncludes(const fs::path& folder) {
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        std::ifstream in(entry.path());
        std::string line;
        std::smatch match;
        while (std::getline(in, line)) {
            if (std::regex_search(line, match, include))
                found.push_back(fs::relative(entry.path(), kRoot).string() + ": " + match[1].str());
        }
    }
    return found;
}

std::vector<std::string> Breaking(const fs::path& folder, const std::regex& allowed) {
    std::vector<std::string> breaking;
    for (const std::string& use : QuotedIncludes(folder)) {
        const std::string target = use.substr(use.find(": ") + 2);
        if (!std::regex_match(target, allowed)) breaking.push_back(use);
    }
    return breaking;
}

TEST(Layering, EachLayerIncludesOnlyWhatLiesBelowIt) {
    ASSERT_TRUE(fs::exists(kRoot / "src" / "foundation")) << kRoot;
    const struct {
        const char* folder;
        const char* allowed;  // includes other than the folder's own files
    } rules[] = {
        {"src/foundation", R"((foundation|ulm3)/.*|tulx7/(chip_codes|register_map)\.h)"},
        {"src/board", R"((foundation|board|ulm3|tulx7)/.*)"},
        {"src", R"((?!tulx7sim/).*/.*)"},
        {"sim", R"((tulx7|tulx7sim)/.*|[^/]+)"},
    };
    for (const auto& rule : rules) {
        EXPECT_EQ(Breaking(rule.folder, std::regex(rule.allowed)), std::vector<std::string>{})
            << rule.folder;
    }
}

}  // namespace
