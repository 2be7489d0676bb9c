// The layer order at the link level, read from the library's own object
// files: no object of a folder may need a symbol that only a folder above
// it defines. The include rules (layering_test.cpp) cannot see a call to a
// function whose declaration a lower folder finds in a public header, or a
// virtual member whose body lives higher up; the symbol tables can.
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The library's folders, bottom to top (as layering_test.cpp has them).
const std::vector<std::string> kOrder = {"foundation", "board",       "buffers",  "geometry",
                                         "volume",     "context",     "render",   "compositing",
                                         "resample",   "perspective", "multiboard"};

int LevelOf(const std::string& inFolder) {
    const auto it = std::find(kOrder.begin(), kOrder.end(), inFolder);
    return it == kOrder.end() ? -1 : static_cast<int>(it - kOrder.begin());
}

// One object file's symbols as nm lists them: what it defines for other
// objects to use, and what it needs from them.
struct ObjectSymbols {
    std::string name;
    int level = -1;
    std::vector<std::string> defined;
    std::vector<std::string> undefined;
};

// One line of `nm -P`: "name type [value size]". Local symbols (lower-case
// t, d, b, r) serve their own object only; weak and common ones count as
// definitions.
void AddSymbol(const std::string& inLine, ObjectSymbols& ioObject) {
    std::istringstream in(inLine);
    std::string name, type;
    if (!(in >> name >> type) || type.size() != 1) return;
    const char t = type[0];
    if (t == 'U') ioObject.undefined.push_back(name);
    else if (std::string("TDBRGSCWVuiwv").find(t) != std::string::npos) ioObject.defined.push_back(name);
}

std::string Demangled(const std::string& inName) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(inName.c_str(), nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && text != nullptr ? std::string(text.get()) : inName;
}

// What the link checks find.
struct LinkGraph {
    // "object (folder): symbol, defined in folder" for each need of a
    // symbol that no folder at or below the object's defines.
    std::vector<std::string> upward;
    // Needs met by a folder below the needing object's: the evidence that
    // the tables were read at all.
    int downward = 0;
};

// The undefined-behaviour sanitizer checks the dynamic type of every object
// a virtual call goes through, and so names the type information of
// interfaces whose key functions live above the caller; those are no calls.
#ifdef ULM3_VPTR_CHECKS
constexpr bool kTypeChecksNameTypes = true;
#else
constexpr bool kTypeChecksNameTypes = false;
#endif

bool IsTypeInformation(const std::string& inSymbol) {
    return inSymbol.starts_with("_ZTI") || inSymbol.starts_with("_ZTS");
}

LinkGraph Analyse(const std::vector<ObjectSymbols>& inObjects, bool inIgnoreTypeInformation = false) {
    std::map<std::string, int> lowest;  // symbol -> lowest folder defining it
    for (const ObjectSymbols& object : inObjects)
        for (const std::string& symbol : object.defined) {
            auto [it, added] = lowest.try_emplace(symbol, object.level);
            if (!added) it->second = std::min(it->second, object.level);
        }
    LinkGraph graph;
    for (const ObjectSymbols& object : inObjects)
        for (const std::string& symbol : object.undefined) {
            const auto found = lowest.find(symbol);
            // The platform's registry, the C++ runtime and the system.
            if (found == lowest.end() || (inIgnoreTypeInformation && IsTypeInformation(symbol))) continue;
            if (found->second < object.level) ++graph.downward;
            if (found->second <= object.level) continue;
            graph.upward.push_back(object.name + " (" + kOrder[object.level] + "): " + Demangled(symbol) +
                                   ", defined in " + kOrder[found->second]);
        }
    std::sort(graph.upward.begin(), graph.upward.end());
    return graph;
}

std::vector<ObjectSymbols> ReadLibraryObjects(const fs::path& inList, const std::string& inNm) {
    std::vector<ObjectSymbols> objects;
    std::ifstream list(inList);
    std::string path;
    while (std::getline(list, path)) {
        if (path.empty()) continue;
        ObjectSymbols object;
        object.name = fs::path(path).filename().string();
        object.level = LevelOf(fs::path(path).parent_path().filename().string());
        EXPECT_GE(object.level, 0) << path << " lies in no folder of the library";
        if (object.level < 0) continue;
        const std::string command = "\"" + inNm + "\" -P \"" + path + "\"";
        std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), &pclose);
        EXPECT_NE(pipe, nullptr) << command;
        if (pipe == nullptr) continue;
        std::string line;
        for (int c = fgetc(pipe.get()); c != EOF; c = fgetc(pipe.get())) {
            if (c != '\n') {
                line.push_back(static_cast<char>(c));
                continue;
            }
            AddSymbol(line, object);
            line.clear();
        }
        objects.push_back(std::move(object));
    }
    return objects;
}

// Symbols of a few made-up objects, from nm's own lines.
ObjectSymbols Object(const std::string& inFolder, std::initializer_list<const char*> inLines) {
    ObjectSymbols object;
    object.name = inFolder + ".o";
    object.level = LevelOf(inFolder);
    for (const char* line : inLines) AddSymbol(line, object);
    return object;
}

TEST(LinkLayering, TheAnalysisFindsANeedOfASymbolOnlyAFolderAboveDefines) {
    const struct {
        const char* what;
        std::vector<ObjectSymbols> objects;
        size_t upward;
        int downward;
        bool typeChecks = false;
    } cases[] = {
        {"a call up", {Object("volume", {"_Z1fv U"}), Object("resample", {"_Z1fv T 0 4"})}, 1, 0},
        {"a call down", {Object("render", {"_Z1fv U"}), Object("board", {"_Z1fv T 0 4"})}, 0, 1},
        {"a call within", {Object("render", {"_Z1fv U", "_Z1fv T 10 4"})}, 0, 0},
        {"a vtable above", {Object("volume", {"_ZTVN4ulm31XE U"}), Object("render", {"_ZTVN4ulm31XE V 0 8"})}, 1, 0},
        {"an inline copy below as well",
         {Object("geometry", {"_Z1gv U"}), Object("board", {"_Z1gv W 0 4"}), Object("context", {"_Z1gv W 0 4"})},
         0,
         1},
        {"a local of the same name above", {Object("board", {"_Z1hv U"}), Object("render", {"_Z1hv t 0 4"})}, 0, 0},
        {"the runtime", {Object("foundation", {"malloc U", "_ZSt9terminatev U"})}, 0, 0},
        {"a type above", {Object("geometry", {"_ZTIN4ulm31XE U"}), Object("context", {"_ZTIN4ulm31XE V 0 8"})}, 1, 0},
        {"a type above, named by type checks",
         {Object("geometry", {"_ZTIN4ulm31XE U"}), Object("context", {"_ZTIN4ulm31XE V 0 8"})},
         0,
         0,
         true},
        {"a call above, among type checks",
         {Object("geometry", {"_Z1fv U"}), Object("context", {"_Z1fv T 0 4"})},
         1,
         0,
         true},
    };
    for (const auto& c : cases) {
        const LinkGraph graph = Analyse(c.objects, c.typeChecks);
        EXPECT_EQ(graph.upward.size(), c.upward) << c.what;
        EXPECT_EQ(graph.downward, c.downward) << c.what;
    }
}

TEST(LinkLayering, NoObjectOfTheLibraryNeedsASymbolDefinedInAFolderAboveIt) {
    const std::vector<ObjectSymbols> objects = ReadLibraryObjects(ULM3_OBJECT_LIST, ULM3_NM);
    std::set<int> levels;
    for (const ObjectSymbols& object : objects) levels.insert(object.level);
    // Every folder was read: a list that lost one would pass whatever it
    // holds.
    EXPECT_EQ(levels.size(), kOrder.size());
    const LinkGraph graph = Analyse(objects, kTypeChecksNameTypes);
    // Each folder above the foundation calls into the folders below it, so
    // a run that read no symbols would show it here.
    EXPECT_GT(graph.downward, static_cast<int>(kOrder.size()));
    EXPECT_EQ(graph.upward, std::vector<std::string>{});
}

}  // namespace
