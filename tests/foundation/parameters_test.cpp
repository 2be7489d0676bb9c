#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/control.h"
#include "support/control_snapshot.h"
#include "ulm3.h"

using namespace ulm3;

namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr uint64_t kMiB = 1u << 20;

// Two opened boards with the settings an open writes, minor versions 2 and 5.
class ParametersTest : public ::testing::Test {
protected:
    void SetUp() override { OpenBoards(2); }

    static void OpenBoards(unsigned count) {
        gULMControl.m_KWBBoardCount = count;
        for (unsigned b = 0; b < count; ++b) {
            gULMControl.m_board[b] = {uint64_t{256} << 20, 1, int(2 + 3 * b), 512, 1, 4};
        }
    }

    test_support::ControlSnapshot m_snapshot;
};

struct SetCase {
    const char* name;
    uint64_t value;
    uint64_t expected;
};

TEST_F(ParametersTest, SetClampsAndReadsBackByName) {
    const SetCase cases[] = {
        {"MultiboardOverlap", 3, 2}, {"MultiboardOverlap", 100000, 16384}, {"MultiboardOverlap", 65, 64},
        {"MultiboardOverlap", uint64_t(-7), 2}, {"MipmapMaxLevel", 40, 32}, {"MipmapMaxLevel", uint64_t(-1), 0},
        {"MipmapShrinkFactor", 100, 99}, {"MipmapNumberLevels", 1, 2},
        {"MipmapNumberLevels", 0x100000005, 5},  // integer rows look at the low 32 bits only
        {"MipmapMinVolumeSize", 0, 1}, {"MipmapMinDimension", 5, 12}, {"MultiboardForceNumberOfVolumes", 9, 8},
        {"MultiboardRenderMode", 0, 1}, {"MultiboardMinVolumeSize", 20000, 16384},
        {"Multiboard2ForceRender", uint64_t(-3), uint64_t(-3)},
        // Beyond 2047 MiB the size in bytes no longer fits 32 bits; large
        // requests still mean the largest size.
        {"MaxUpdateSizeFile", 16, 16 * kMiB}, {"MaxUpdateSizeFile", 0, 1 * kMiB},
        {"MaxUpdateSizeFile", 1000, 128 * kMiB},
        {"MaxUpdateSizeMemory", 2048, 128 * kMiB}, {"MaxUpdateSizeSource", 4096, 128 * kMiB},
        {"MaxUpdateSizeSource", uint64_t(-4096), 1 * kMiB},
        {"LightMode", 5, 2}, {"SpaceLeapingMode", 7, 1}, {"UpdateMethodMemory", 9, 5},
        {"UpdateMethodFile", uint64_t(-2), 0},
        {"RenderToVolumeZSlices", 200000000, 100000000},
        {"RenderArea", 1, 1}, {"RenderArea", 2, 0} /* ignored: keeps the default */,
        {"SpecularColorOpacityWeighting", 3, 2}, {"SpecularColorOpacityWeighting", 0, 0},
        {"ResizeImage", uint64_t{1} << 40, 1} /* flags look at all 64 bits */, {"MipmapMultiboard", 0, 0},
        {"MaxLockSize", 1024, 1024}, {"MaxLockSize", uint64_t(-1), 0xFFFFFFFF},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(int64_t(c.value)));
        test_support::ControlSnapshot fresh;
        ULMSetParameter(c.name, c.value);
        EXPECT_EQ(ULMGetParameter(c.name), c.expected);
    }
    ULMSetParameter("MaxLockSize", 512);
    EXPECT_EQ(gULMControl.m_KWBMaxLock[2], 512u);
    // The maximum lowers the minimum, and the minimum is clamped to it.
    ULMSetParameter("MipmapMaxLevel", 10);
    ULMSetParameter("MipmapMinLevel", 5);
    ULMSetParameter("MipmapMaxLevel", 3);
    EXPECT_EQ(ULMGetParameter("MipmapMinLevel"), 3u);
    ULMSetParameter("MipmapMinLevel", 7);
    EXPECT_EQ(ULMGetParameter("MipmapMinLevel"), 3u);
}

TEST_F(ParametersTest, BoardDigitsReadOnlyRowsAndUnknownNames) {
    const auto hang = [] { return std::vector<int>{gULMControl.m_board[0].m_renderHangMaxZSlices,
                                                   gULMControl.m_board[1].m_renderHangMaxZSlices,
                                                   gULMControl.m_board[2].m_renderHangMaxZSlices}; };
    ULMSetParameter("RenderHangMaxZSlices", uint64_t(-5));  // every open board
    EXPECT_EQ(hang(), std::vector<int>({0, 0, 0}));
    ULMSetParameter("RenderHangMaxZSlices1", 7);
    ULMSetParameter("RenderHangMaxZSlices9", 9);
    ULMSetParameter("RenderHangMaxZSlices2", 9);
    EXPECT_EQ(hang(), std::vector<int>({0, 7, 0}));
    ULMSetParameter("MaxZSupersample0xyz", 20);  // what follows the digit is not looked at
    EXPECT_EQ(ULMGetParameter("MaxZSupersample0"), 16u);
    EXPECT_EQ(ULMGetParameter("MaxZSupersample1"), 4u);
    EXPECT_EQ(ULMGetParameter("MaxZSupersample"), 16u);  // board 0
    EXPECT_EQ(ULMGetParameter("MaxZSupersample2"), kAllOnes);
    EXPECT_EQ(gULMControl.GetParameter(eMinZSupersample, 2), 0u);
    gULMControl.SetParameter(eMinZSupersample, 3, 2);
    EXPECT_EQ(gULMControl.m_board[2].m_minZSupersample, 0);

    EXPECT_EQ(ULMGetParameter("BoardMinorVersion1"), 5u);
    ULMSetParameter("BoardVersion", 9);
    ULMSetParameter("PerspectiveEnabled", 0);
    ULMSetParameter("FixedZSupersampleFactor", 4);
    ULMSetParameter("Epsilon", 1);
    ULMSetParameter(nullptr, 1);
    EXPECT_EQ(ULMGetParameter("BoardVersion"), 2u);
    EXPECT_EQ(ULMGetParameter("PerspectiveEnabled"), 1u);
    EXPECT_EQ(ULMGetParameter("FixedZSupersampleFactor"), 0u);
    EXPECT_EQ(ULMGetEpsilon(), 1e-10);
    for (const char* name : {"NoSuchParameter", "mipmapmaxlevel", "Epsilon", "ForceEpsilon", "DebugFileName", ""})
        EXPECT_EQ(ULMGetParameter(name), kAllOnes) << name;
    EXPECT_EQ(ULMGetParameter(nullptr), kAllOnes);
}

TEST_F(ParametersTest, MultiboardEnableIsDerivedOnlyWhenItsRowsChange) {
    ULMSetParameter("MultiboardEnable", 1);
    EXPECT_EQ(ULMGetParameter("MultiboardRenderEnable"), 1u);
    ULMSetParameter("MultiboardRenderEnable", 0);
    OpenBoards(1);
    ULMSetParameter("MultiboardEnable", 1);
    EXPECT_EQ(ULMGetParameter("MultiboardRenderEnable"), 0u);
    ULMSetParameter("MultiboardForceNumberOfVolumes", 2);
    EXPECT_EQ(ULMGetParameter("MultiboardRenderEnable"), 1u);

    // Switched on before the boards are open: opening does not re-derive,
    // an unchanged set does not either, Multiboard2ForceRender always does.
    ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
    ULMSetParameter("MultiboardEnable", 0);
    OpenBoards(0);
    ULMSetParameter("MultiboardEnable", 1);
    OpenBoards(2);
    ULMSetParameter("MultiboardEnable", 1);
    ULMSetParameter("MultiboardOverlap", 32);
    EXPECT_EQ(ULMGetParameter("MultiboardRenderEnable"), 0u);
    ULMSetParameter("Multiboard2ForceRender", 0);
    EXPECT_EQ(ULMGetParameter("MultiboardRenderEnable"), 1u);
}

TEST_F(ParametersTest, EpsilonAndGradientRamp) {
    EXPECT_EQ(ULMSetEpsilon(-1.0), kULMErrArgument);
    EXPECT_EQ(ULMSetEpsilon(std::nan("")), kULMErrArgument);
    EXPECT_EQ(ULMGetEpsilon(), 1e-10);
    EXPECT_EQ(ULMSetEpsilon(0.0), kULMOK);
    EXPECT_EQ(ULMGetEpsilon(), 0.0);
    gULMControl.SetParameterDouble(eForceEpsilon, -1.0);
    EXPECT_FALSE(gULMControl.m_ForceEpsilon);
    gULMControl.SetParameterDouble(eForceEpsilon, 1e-6);
    gULMControl.SetParameterDouble(eEpsilon, 1e-4);
    EXPECT_EQ(ULMSetEpsilon(1e-3), kULMOK);
    EXPECT_EQ(ULMGetEpsilon(), 1e-6);
    // The ends of the ramp are exact, not sums of rounded steps.
    EXPECT_EQ(gULMControl.m_defaultGradientTable[0], 0.0);
    EXPECT_DOUBLE_EQ(gULMControl.m_defaultGradientTable[3], 3.0 / 7.0);
    EXPECT_EQ(gULMControl.m_defaultGradientTable[7], 1.0);
}

// The environment belongs to the whole process: each case runs in a forked
// child that sets its variables, runs the pass and exits with its verdict;
// the child's failures come back through its standard error.
template <class Body>
void InChild(Body body) {
    EXPECT_EXIT(
        {
            ::testing::TestPartResultArray failures;
            {
                ::testing::ScopedFakeTestPartResultReporter reporter(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
                body();
            }
            for (int i = 0; i < failures.size(); ++i) {
                const ::testing::TestPartResult& r = failures.GetTestPartResult(i);
                std::fprintf(stderr, "%s:%d: %s\n", r.file_name(), r.line_number(), r.summary());
            }
            std::exit(failures.size() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ParametersTest, EnvironmentFlagsIntegersAndEpsilon) {
    InChild([] {
        // A flag is on for y, t or 1 in either case; set but empty counts
        // as not set.
        const std::pair<const char*, bool> flags[] = {
            {"yes", true}, {"Y", true},        {"true", true}, {"T", true},  {"1", true},
            {"no", false}, {"0", false}, {"false", false}, {"x", false}, {" y", false}};
        for (const auto& [text, on] : flags) {
            gULMControl.m_resizeImage = !on;
            setenv("ULMResizeImage", text, 1);
            gULMControl.ReadEnvironmentParameters();
            EXPECT_EQ(gULMControl.m_resizeImage, on) << text;
        }
        gULMControl.m_resizeImage = true;
        setenv("ULMResizeImage", "", 1);
        gULMControl.ReadEnvironmentParameters();
        EXPECT_TRUE(gULMControl.m_resizeImage);

        setenv("ULMMipmapMaxLevel", "3", 1);
        setenv("ULMMipmapMinLevel", "9", 1);
        setenv("ULMMultiboardEnable", "1", 1);
        setenv("ULMMaxLockSize", "100", 1);  // not read from the environment
        setenv("ULMRenderArea", "1", 1);     // nor this one
        setenv("ULMRenderHangMaxZSlices", "100", 1);
        setenv("ULMRenderHangMaxZSlices1", "7", 1);
        setenv("ULMMaxZSupersample2", "9", 1);  // no third board
        setenv("ULMMaxUpdateSizeMemory", "4096", 1);
        setenv("ULMMaxUpdateSizeFile", "-99999999999", 1);
        gULMControl.ReadEnvironmentParameters();
        EXPECT_EQ(gULMControl.m_mipmapMinLevel, 3);
        EXPECT_TRUE(gULMControl.m_multiboardRenderEnable);
        EXPECT_EQ(gULMControl.m_KWBMaxLock[0], 4096u);
        EXPECT_EQ(gULMControl.m_renderArea, 0);
        EXPECT_EQ(gULMControl.m_board[0].m_renderHangMaxZSlices, 100);
        EXPECT_EQ(gULMControl.m_board[1].m_renderHangMaxZSlices, 7);
        EXPECT_EQ(gULMControl.m_board[2].m_maxZSupersample, 0);
        EXPECT_EQ(gULMControl.m_MaxUpdateSizeMemory, int(128 * kMiB));
        EXPECT_EQ(gULMControl.m_MaxUpdateSizeFile, int(1 * kMiB));
        const std::pair<const char*, int> fixedZ[] = {{"4", 4},          {"0", 0},  {"40", 16},
                                                      {"-3", 1},         {" 12 apples", 12},
                                                      {"99999999999999999999", 16}};
        for (const auto& [text, factor] : fixedZ) {
            setenv("ULMFixedZSupersampleFactor", text, 1);
            gULMControl.ReadEnvironmentParameters();
            EXPECT_EQ(gULMControl.m_fixedZSupersampleFactor, factor) << text;
        }

        for (const char* bad : {"garbage", "-1", "0", "nan", "inf", "1e999"}) {
            setenv("ULMEpsilon", bad, 1);
            gULMControl.ReadEnvironmentParameters();
            EXPECT_EQ(gULMControl.m_epsilon, 1e-10) << bad;
        }
        setenv("ULMEpsilon", "1e-4", 1);
        gULMControl.ReadEnvironmentParameters();
        EXPECT_EQ(ULMGetEpsilon(), 1e-4);
        // The forced epsilon is read first, and wins.
        setenv("ULMForceEpsilon", "1e-6", 1);
        setenv("ULMEpsilon", "1e-3", 1);
        gULMControl.ReadEnvironmentParameters();
        EXPECT_TRUE(gULMControl.m_ForceEpsilon);
        EXPECT_EQ(ULMSetEpsilon(1e-3), kULMOK);
        EXPECT_EQ(ULMGetEpsilon(), 1e-6);
    });
}

// Whatever text the environment holds, every parameter stays inside its range.
TEST_F(ParametersTest, EnvironmentGarbageStaysInRange) {
    InChild([] {
        std::mt19937 random(20240611);
        const char* names[] = {"ULMMipmapMaxLevel", "ULMMipmapMinLevel", "ULMMipmapNumberLevels",
                               "ULMMultiboardOverlap", "ULMMaxZSupersample1", "ULMMaxUpdateSizeFile",
                               "ULMFixedXYSupersampleFactor", "ULMLightMode", "ULMUpdateMethodSource",
                               "ULMEpsilon"};
        const char alphabet[] = "0123456789+-eE. xX\t9";
        for (int round = 0; round < 300; ++round) {
            for (const char* name : names) {
                std::string text(random() % 24, ' ');
                for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
                setenv(name, text.c_str(), 1);
            }
            gULMControl.ReadEnvironmentParameters();
            const ULMControlInternal& c = gULMControl;
            ASSERT_TRUE(c.m_mipmapMaxLevel >= 0 && c.m_mipmapMaxLevel <= 32);
            ASSERT_TRUE(c.m_mipmapMinLevel >= 0 && c.m_mipmapMinLevel <= c.m_mipmapMaxLevel);
            ASSERT_TRUE(c.m_mipmapNumberLevels >= 2 && c.m_mipmapNumberLevels <= 65);
            ASSERT_TRUE(c.m_multiboardOverlap >= 2 && c.m_multiboardOverlap <= 16384 && c.m_multiboardOverlap % 2 == 0);
            ASSERT_TRUE(c.m_board[1].m_maxZSupersample >= 1 && c.m_board[1].m_maxZSupersample <= 16);
            ASSERT_TRUE(c.m_MaxUpdateSizeFile >= int(kMiB) && c.m_MaxUpdateSizeFile <= int(128 * kMiB));
            ASSERT_TRUE(c.m_fixedXYSupersampleFactor >= 0 && c.m_fixedXYSupersampleFactor <= 16);
            ASSERT_TRUE(c.m_lightMode >= 0 && c.m_lightMode <= 2);
            ASSERT_TRUE(c.m_UpdateMethodSource >= eMethodMin && c.m_UpdateMethodSource <= eMethodMax);
            ASSERT_TRUE(std::isfinite(c.m_epsilon) && c.m_epsilon > 0);
        }
    });
}

}  // namespace
