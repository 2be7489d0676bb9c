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
        {"MultiboardOverlap", 3, 2}, {"MultiboardOverlap", 65, 64}, {"MipmapMaxLevel", uint64_t(-1), 0},
        {"MipmapNumberLevels", 0x100000005, 5},  // integer rows look at the low 32 bits only
        {"MipmapMinVolumeSize", 0, 1},
        // Beyond 2047 MiB the size in bytes no longer fits 32 bits; large
        // requests still mean the largest size.
        {"MaxUpdateSizeFile", 16, 16 * kMiB}, {"MaxUpdateSizeMemory", 2048, 128 * kMiB},
        {"MaxUpdateSizeSource", uint64_t(-4096), 1 * kMiB},
        {"RenderArea", 2, 0} /* ignored: keeps the default */,
        {"ResizeImage", uint64_t{1} << 40, 1} /* flags look at all 64 bits */,
        {"PerspectiveSynchronousBlend", 0, 0}, {"PerspectiveSynchronousBlend", 6, 1},
        {"MaxLockSize", uint64_t(-1), 0xFFFFFFFF},
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

}  // namespace
