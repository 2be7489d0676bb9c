// The platform's settings come from the environment of whoever runs the
// program: every value is checked before use.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tulx7sim/config.h"

namespace tulx7sim {
namespace {

ConfigParseResult Parse(const std::map<std::string, std::string>& environment) {
    return ParseConfig([&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    });
}

TEST(SimConfigParse, WellFormedValuesAreTaken) {
    const ConfigParseResult result = Parse({{"TULX7SIM_BOARDS", "8"},
                                            {"TULX7SIM_MEMORY_MB", " 64 "},
                                            {"TULX7SIM_MINOR", "1"},
                                            {"TULX7SIM_MAJOR", "2"},
                                            {"TULX7SIM_PCI_REV", "0x10"},
                                            {"TULX7SIM_FILL", "0"},
                                            {"TULX7SIM_LATENCY_US", "250"},
                                            {"TULX7SIM_MAP", "0"},
                                            {"TULX7SIM_ROUNDED_SIZES", "1"},
                                            {"TULX7SIM_MODE", "queues"},
                                            {"TULX7SIM_PEERS", "3,-1,-1,0"},
                                            {"TULX7SIM_LOG", "stderr"}});
    EXPECT_TRUE(result.warnings.empty());
    const SimConfig& c = result.config;
    EXPECT_EQ(c.boards, 8);
    EXPECT_EQ(c.memoryMB, 64);
    EXPECT_EQ(c.minor, 1);
    EXPECT_EQ(c.major, 2);
    EXPECT_EQ(c.pciRev, 16);
    EXPECT_EQ(c.fillByte, 0);
    EXPECT_EQ(c.latencyMicroseconds, 250);
    EXPECT_FALSE(c.mapImplemented);
    EXPECT_TRUE(c.reportRoundedSizes);
    EXPECT_EQ(c.mode, QueueMode::kThreeQueues);
    EXPECT_EQ(c.peers, (std::array<int, 8>{3, -1, -1, 0, -1, -1, -1, -1}));
    EXPECT_EQ(c.logPath, "stderr");
    EXPECT_EQ(Parse({{"TULX7SIM_PEERS", "none"}}).config.peers[0], -1);
    EXPECT_EQ(Parse({{"TULX7SIM_BOARDS", "0"}}).config.boards, 0);
    EXPECT_EQ(Parse({{"TULX7SIM_MEMORY_MB", "2047"}}).config.memoryMB, 2047);
}

TEST(SimConfigParse, MalformedValuesKeepTheDefaultAndSayWhy) {
    const std::pair<const char*, const char*> bad[] = {
        {"TULX7SIM_BOARDS", "9"},
        {"TULX7SIM_BOARDS", "-1"},
        {"TULX7SIM_BOARDS", "2boards"},
        {"TULX7SIM_BOARDS", ""},
        {"TULX7SIM_BOARDS", "   "},
        {"TULX7SIM_BOARDS", "1 2"},
        {"TULX7SIM_BOARDS", "99999999999999999999999"},
        {"TULX7SIM_MEMORY_MB", "0"},
        {"TULX7SIM_MEMORY_MB", "2048"},
        {"TULX7SIM_MEMORY_MB", "0x"},
        {"TULX7SIM_MEMORY_MB", "1e3"},
        {"TULX7SIM_FILL", "256"},
        {"TULX7SIM_MAP", "yes"},
        {"TULX7SIM_LATENCY_US", "1000001"},
        {"TULX7SIM_MODE", "parallel"},
        {"TULX7SIM_PEERS", "1,0,1,0,1,0,1,0,1"},
        {"TULX7SIM_PEERS", "0"},
        {"TULX7SIM_PEERS", "1,,0"},
        {"TULX7SIM_PEERS", "8"},
        {"TULX7SIM_PEERS", "-2"},
        {"TULX7SIM_LOG", "  "},
    };
    for (const auto& [name, value] : bad) {
        const ConfigParseResult result = Parse({{name, value}});
        ASSERT_EQ(result.warnings.size(), 1u) << name << "=" << value;
        EXPECT_NE(result.warnings[0].find(name), std::string::npos) << result.warnings[0];
        const SimConfig defaults;
        EXPECT_EQ(result.config.boards, defaults.boards);
        EXPECT_EQ(result.config.memoryMB, defaults.memoryMB);
        EXPECT_EQ(result.config.fillByte, defaults.fillByte);
        EXPECT_EQ(result.config.peers, defaults.peers);
        EXPECT_EQ(result.config.mode, defaults.mode);
        EXPECT_EQ(result.config.mapImplemented, defaults.mapImplemented);
    }
    const std::string huge(10000, '1');
    EXPECT_EQ(Parse({{"TULX7SIM_LOG", huge}}).warnings.size(), 1u);
    EXPECT_TRUE(Parse({{"TULX7SIM_LOG", huge}}).config.logPath.empty());
}

}  // namespace
}  // namespace tulx7sim
