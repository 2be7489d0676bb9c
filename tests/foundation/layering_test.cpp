// The include rules between the layers, read from the source tree: each
// folder of the library includes only itself, the folders below it and the
// public headers; the board layer alone reaches the driver contract (the
// folders above it read only the chip's register map there); the public
// headers, the contract and the simulated platform keep to themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The tree this test was built from: two folders above this file.
const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

// The library's folders, bottom to top.
const std::vector<std::string> kOrder = {"foundation", "board",       "buffers",  "geometry",
                                         "volume",     "context",     "render",   "compositing",
                                         "resample",   "perspective", "multiboard"};

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

// What a folder of the library may include: itself, the folders below it,
// the public headers, and of the driver contract all (the board layer) or
// the chip's register map and codes (every other folder).
std::string AllowedFor(size_t inLevel) {
    std::string folders = "ulm3";
    for (size_t i = 0; i <= inLevel; ++i) folders += "|" + kOrder[i];
    std::string allowed = "(" + folders + ")/.*";
    if (kOrder[inLevel] == "board") allowed += "|tulx7/.*";
    else allowed += "|tulx7/(register_map|register_groups|chip_codes)\\.h";
    return allowed;
}

TEST(Layering, EachFolderOfTheLibraryIncludesOnlyWhatLiesBelowIt) {
    ASSERT_TRUE(fs::exists(kRoot / "src" / "foundation")) << kRoot;
    for (size_t level = 0; level < kOrder.size(); ++level) {
        const fs::path folder = fs::path("src") / kOrder[level];
        ASSERT_TRUE(fs::is_directory(kRoot / folder)) << folder;
        EXPECT_EQ(Breaking(folder, std::regex(AllowedFor(level))), std::vector<std::string>{}) << folder;
    }
    // The geometry serves the engine and the perspective driver alike, so it
    // leans on the foundation alone.
    EXPECT_EQ(Breaking("src/geometry", std::regex("(ulm3|foundation|geometry)/.*")), std::vector<std::string>{});
    // A folder outside the order would escape every rule above.
    for (const auto& entry : fs::directory_iterator(kRoot / "src")) {
        if (!entry.is_directory()) continue;
        const std::string name = entry.path().filename().string();
        EXPECT_NE(std::find(kOrder.begin(), kOrder.end(), name), kOrder.end()) << "src/" << name;
    }
}

TEST(Layering, TheBuildListsTheLibraryFoldersInTheirOrder) {
    std::ifstream in(kRoot / "src" / "CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, std::regex(R"(set\(ULM3_SUBSYSTEMS([^)]*)\))")));
    std::vector<std::string> listed;
    const std::string names = match[1].str();
    const std::regex word(R"([a-z]+)");
    for (auto it = std::sregex_iterator(names.begin(), names.end(), word); it != std::sregex_iterator(); ++it)
        listed.push_back(it->str());
    EXPECT_EQ(listed, kOrder);
}

TEST(Layering, ThePublicHeadersTheContractAndThePlatformKeepToThemselves) {
    const struct {
        const char* folder;
        const char* allowed;
    } rules[] = {
        {"include", R"(ulm3/.*)"},
        {"abi", R"(tulx7/.*)"},
        // The platform's own headers sit beside its sources or under
        // include/tulx7sim.
        {"sim", R"((tulx7|tulx7sim)/.*|[^/]+)"},
    };
    for (const auto& rule : rules) {
        EXPECT_EQ(Breaking(rule.folder, std::regex(rule.allowed)), std::vector<std::string>{}) << rule.folder;
    }
}

}  // namespace
