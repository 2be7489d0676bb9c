// The mipmap volume's levels: their ranges, the mipmap setters and the copy
// of the wrapper's state into a level, whose voxel centres land where level
// 0's do.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "context/classifier_internal.h"
#include "mipmap_fixture.h"
#include "support/resample_reference.h"

namespace ulm3::testing {
namespace {

using MipmapLevelsTest = MipmapTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

TEST_F(MipmapLevelsTest, RoundsHalfUpToEvenNumbers) {
    const struct {
        double value;
        int even;
    } cases[] = {{3, 4}, {5, 6}, {2.4, 2}, {4, 4}, {2.9, 2}, {0.9, 0}};
    for (const auto& c : cases) EXPECT_EQ(RoundToNearestEvenInteger(c.value), c.even) << c.value;
}

// Level l's range from level l - 1's at factor 0.5: the minimum dimension
// stops an axis, and an axis already at or under it keeps its size.
TEST_F(MipmapLevelsTest, LevelsShrinkDownToTheMinimumDimension) {
    const struct {
        ULMVolumeRange whole;
        std::vector<ULMVolumeRange> levels;  // levels 1, 2, ...
    } cases[] = {
        {{256, 256, 100, 0, 0, 0}, {{128, 128, 50, 0, 0, 0}, {64, 64, 25, 0, 0, 0}, {32, 32, 12, 0, 0, 0},
                                    {16, 16, 12, 0, 0, 0}}},
        // 13 becomes 12, its origin scaled by 12/13 (36.9) before it is made
        // even; 12 and 5 stay, their origins halved and made even.
        {{300, 13, 12, 0, 40, 10}, {{150, 12, 12, 0, 36, 6}}},
        {{300, 5, 12, 4, 14, 22}, {{150, 5, 12, 2, 8, 12}}},
    };
    for (const auto& c : cases) {
        Held<ULMVolume> v(ULMVolume::Create(8, c.whole, 1, &kByte, nullptr));
        ULMMipmapVolume* mipmap = Mipmap(v);
        ASSERT_NE(mipmap, nullptr);
        for (size_t l = 1; l <= c.levels.size(); ++l) {
            mipmap->ComputeLevelRange(int(l), int(l) - 1, 0.5, 0.5, 0.5);
            EXPECT_EQ(mipmap->GetLevelInfo(int(l)).range, c.levels[l - 1]) << "level " << l;
        }
    }
}

// Every refusal changes nothing, serials included; a value already stored
// changes nothing either. Generation parameters make the levels stale (level
// 0's volume serial), properties copied into the levels the state serial.
TEST_F(MipmapLevelsTest, SettersRefuseBadValuesAndAdvanceOnlyTheirSerialOnAChange) {
    Held<ULMVolume> v(ULMVolume::Create(8, ULMVolumeRange(256, 64, 64, 0, 0, 0), 1, &kByte, nullptr));
    ULMMipmapVolume* m = Mipmap(v);
    ASSERT_NE(m, nullptr);
    int minLevel = -1, maxLevel = -1;
    m->GetMipmapRange(minLevel, maxLevel);
    EXPECT_TRUE(minLevel == 0 && maxLevel == 0) << "only level 0 renders until a range is set";
    EXPECT_EQ(m->GetNumberMipmapLevels(), 33);
    const auto leap = [&](int mode, double red, double alpha) {
        return v->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(mode), red, 0, 0, alpha);
    };
    const ULMFieldDescriptor f4(0, 4, kULMUnsignedFraction);
    const ULMMatrix singular = ULMMatrix::Scale(1, 0, 1);
    enum Serial { kNone, kState, kVolume };
    const struct {
        std::function<ULMStatus()> set;
        ULMStatus status;
        Serial advances;
    } steps[] = {
        {[&] { return v->SetMipmapShrinkFactors(0.49, 1, 1); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapShrinkFactors(0.5, 1.01, 1); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapShrinkFactors(0.5, 0.5, 0.5); }, kULMOK, kNone},
        {[&] { return v->SetMipmapShrinkFactors(0.75, 0.5, 0.5); }, kULMOK, kVolume},
        {[&] { return v->SetMipmapMinDimension(11); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapMinDimension(12); }, kULMOK, kNone},
        {[&] { return v->SetMipmapMinDimension(20); }, kULMOK, kVolume},
        {[&] { return v->SetMipmapInterpolationMode(ULMFieldNumber(4), kULMTrilinear); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapInterpolationMode(kULMField1, ULMInterpolationMode(2)); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapInterpolationMode(kULMField1, kULMTrilinear); }, kULMOK, kNone},
        {[&] { return v->SetMipmapInterpolationMode(kULMField1, kULMNearestNeighbor); }, kULMOK, kVolume},
        {[&] { return v->SetMipmapRange(-1, 0); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapRange(3, 2); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapRange(0, 33); }, kULMErrArgument, kNone},
        {[&] { return v->SetMipmapRange(1, 32); }, kULMOK, kNone},
        {[&] { return v->SetMipmapAutoGenerate(0); }, kULMOK, kNone},
        {[&] { return v->SetFieldDescriptor(ULMFieldNumber(4), f4); }, kULMErrArgument, kNone},
        {[&] { return v->SetFieldDescriptor(kULMField0, f4); }, kULMOK, kState},
        {[&] { return v->SetFieldDescriptor(kULMField0, f4); }, kULMOK, kNone},
        {[&] { return v->SetFieldDescriptor(kULMField1, {8, 8, kULMUnsignedFraction}); }, kULMErrFormat, kNone},
        {[&] { return v->SetCorrectionMatrix(singular); }, kULMErrArgument, kNone},
        {[&] { return v->SetCorrectionMatrix(ULMMatrix::Translate(std::nan(""), 0, 0)); }, kULMErrArgument, kNone},
        {[&] { return v->SetCorrectionMatrix(ULMMatrix::Scale(2, 2, 2)); }, kULMOK, kState},
        {[&] { return v->SetModelMatrix(ULMMatrix::Scale(2, 2, 2)); }, kULMOK, kNone},
        {[&] { return v->SetActiveSubVolume({16, 16, 16, 250, 0, 0}); }, kULMErrArgument, kNone},
        {[&] { return v->SetActiveSubVolumeSize(0, 4, 4); }, kULMErrArgument, kNone},
        {[&] { return v->SetActiveSubVolumeSize(16, 16, 65); }, kULMErrArgument, kNone},
        {[&] { return v->SetActiveSubVolumeSize(16, 16, 16); }, kULMOK, kState},
        {[&] { return v->SetActiveSubVolumeOrigin(16, 0, 0); }, kULMErrArgument, kNone},
        {[&] { return v->SetActiveSubVolumeOrigin(4, 4, 4); }, kULMOK, kState},
        // The reset reaches the levels like any other change, without staling them.
        {[&] { return v->SetActiveSubVolumeSize(0, 0, 0); }, kULMOK, kState},
        {[&] { return v->SetActiveSubVolumeSize(0, 0, 0); }, kULMOK, kNone},
        {[&] { return v->SetBorderValue(7); }, kULMOK, kState},
        {[&] { return v->SetBorderValue(7); }, kULMOK, kNone},
        {[&] { return v->SetExtendMode(ULMVolume::ExtendMode(2)); }, kULMErrArgument, kNone},
        {[&] { return v->SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::ExtendMode(-1),
                                        ULMVolume::kExtendWithEdge); }, kULMErrArgument, kNone},
        {[&] { return v->SetExtendMode(ULMVolume::kExtendWithEdge); }, kULMOK, kState},
        {[&] { return leap(2, -1, -1); }, kULMErrArgument, kNone},
        {[&] { return leap(1, 1.5, 0); }, kULMErrArgument, kNone},
        {[&] { return leap(1, 0, std::nan("")); }, kULMErrArgument, kNone},
        {[&] { return leap(1, 0.25, 0.5); }, kULMOK, kState},
        {[&] { return leap(1, 0.25, 0.5); }, kULMOK, kNone},
        {[&] { return v->SetTarget(ULMTarget(3)); }, kULMErrArgument, kNone},
        {[&] { return v->SetTarget(kULMBuffer); }, kULMOK, kNone},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const uint64_t state = m->GetStateSerial(), volume = m->GetLevelInfo(0).volumeSerial;
        EXPECT_EQ(steps[i].set(), steps[i].status) << "step " << i;
        EXPECT_EQ(m->GetStateSerial() != state, steps[i].advances == kState) << "step " << i;
        EXPECT_EQ(m->GetLevelInfo(0).volumeSerial != volume, steps[i].advances == kVolume) << "step " << i;
    }
    double x = 0, y = 0, z = 0;
    v->GetMipmapShrinkFactors(x, y, z);
    EXPECT_TRUE(x == 0.75 && y == 0.5 && z == 0.5);
    EXPECT_EQ(v->GetMipmapMinDimension(), 20);
    EXPECT_EQ(v->GetMipmapInterpolationMode(kULMField1), kULMNearestNeighbor);
    EXPECT_EQ(v->GetMipmapInterpolationMode(ULMFieldNumber(7)), kULMNearestNeighbor);
    EXPECT_EQ(v->GetMipmapAutoGenerate(), 0);
    v->GetMipmapRange(minLevel, maxLevel);
    EXPECT_TRUE(minLevel == 1 && maxLevel == 32);
    EXPECT_EQ(v->GetFieldDescriptor(kULMField0), f4);
    EXPECT_EQ(v->GetFieldDescriptor(ULMFieldNumber(4)), ULMFieldDescriptor());
    EXPECT_EQ(v->GetModelMatrix(), ULMMatrix::Scale(2, 2, 2));
    EXPECT_EQ(v->GetActiveSubVolume(), ULMVolumeRange());
    EXPECT_EQ(v->GetBorderValue(), 7u);
    EXPECT_EQ(v->GetExtendModeY(), ULMVolume::kExtendWithEdge);
    EXPECT_EQ(v->GetTarget(), kULMBuffer);
}

// A level's voxel centres and box lie where the resample pass that made it
// read level 0, in object space, whatever the volume's origin; and the
// state copy reaches every level, so that a render still succeeds after the
// wrapper's matrix changed (the plain volume keeps its space-leaping
// parameters, which the copy sets last).
TEST_F(MipmapLevelsTest, EveryLevelTakesTheWrappersStateAndFillsLevel0sBox) {
    const ULMVolumeRange whole(41, 30, 26, 6, 4, 2);
    std::vector<uint8_t> voxels(size_t(41) * 30 * 26, 90);
    gULMControl.m_mipmapMinVolumeSize = 16;
    Held<ULMVolume> v(ULMVolume::Create(8, whole, 1, &kByte, voxels.data()));
    ULMMipmapVolume* m = Mipmap(v);
    ASSERT_NE(m, nullptr);
    const ULMMatrix model = ULMMatrix::Translate(3, -2, 7) * ULMMatrix::Rotate(20, ULMVector3D(1, 2, 3)) *
                            ULMMatrix::Scale(1.5, 1, 2);
    ASSERT_EQ(v->SetCorrectionMatrix(model), kULMOK);
    ASSERT_EQ(v->SetBorderValue(3), kULMOK);
    ASSERT_EQ(v->SetSpaceLeapingParameters(ULMVolume::kSpaceLeapingOn, 0.1, 0.1, 0.1, 0.1), kULMOK);
    ASSERT_EQ(v->SetMipmapRange(2, 2), kULMOK);
    Held<ULMContext> context(ULMContext::Create());
    context->SetCamera(FittingCamera(200, 200, 400, 64, 64));
    Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 64, 64, 32, 4, kMipmapRGBA));
    EXPECT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    for (int l = 0; l <= 2; ++l) {
        ASSERT_NE(v->GetMipmapLevel(l), nullptr) << "handed out up to date, level " << l;
        const ULMMipmapVolume::LevelInfo info = m->GetLevelInfo(l);
        EXPECT_EQ(info.stateSerial, m->GetStateSerial()) << l;
        EXPECT_EQ(info.volume->GetBorderValue(), 3u) << l;
        ULMVolume::SpaceLeapingMode mode;
        double t[4];
        info.volume->GetSpaceLeapingParameters(mode, t[0], t[1], t[2], t[3]);
        EXPECT_EQ(mode, ULMVolume::kSpaceLeapingOn) << l;
        const ULMVolumeRange& r = info.range;
        const ULMMatrix level = info.volume->GetCorrectionMatrix();
        for (int a = 0; a < 3; ++a) {
            // Centre on centre, as the pass samples: level voxel i of the
            // level's range reads level-0 position origin + (i + 0.5) n / m - 0.5.
            for (const double i : {-0.5, 0.0, 1.0, r.m_size[a] - 1.0, r.m_size[a] - 0.5}) {
                ULMVector4D atLevel(0, 0, 0, 1), atLevel0(0, 0, 0, 1);
                for (int b = 0; b < 3; ++b) {
                    const double index = b == a ? i : 0.0;
                    atLevel[b] = r.m_origin[b] + index;
                    atLevel0[b] = whole.m_origin[b] + (index + 0.5) * whole.m_size[b] / r.m_size[b] - 0.5;
                }
                const ULMVector4D want = model * atLevel0, got = level * atLevel;
                for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << "level " << l << " axis " << a;
            }
        }
    }
}

}  // namespace
}  // namespace ulm3::testing
