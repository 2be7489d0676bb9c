// ulm3_render's own arithmetic, on the boards' simulation: the window's
// table, the box the frame holds and the perspective camera's framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "examples/noisy_scalp_head.h"
#include "foundation/shareable.h"
#include "render/view_framing.h"
#include "render/voxel_window.h"
#include "shapes/test_shapes.h"
#include "support/sim_library_fixture.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

class RenderArithmetic : public test_support::SimLibraryTest {
protected:
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
    }
};

// Grey and opacity are exactly 0 in the entry a voxel at the window's low
// end reads and below, exactly 1 (and the asked opacity) in the one a voxel
// at its high end reads and above, and rise in between: tables of 256 and
// 4096 entries over fields of 8, 12 and 16 bits, windows over the whole
// range, inside it, and within a few entries. The entry a value is read
// through is the chip's: the value widened to 16 bits by its scale, then
// its top 8 or 12 bits.
TEST_F(RenderArithmetic, TheWindowsTableReachesExactlyZeroAndOneAtItsEnds) {
    const struct {
        int bits;
        unsigned entries;
        unsigned lo, hi;  // voxel values
    } cases[] = {{8, 256, 0, 255},         {8, 256, 40, 200},        {8, 256, 7, 8},
                 {12, 4096, 0, 4095},      {12, 4096, 300, 3001},    {16, 4096, 0, 65535},
                 {16, 4096, 1000, 60001},  {16, 4096, 16003, 16019}, {16, 4096, 16003, 16060}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits, " << c.entries << " entries, " << c.lo << ".." << c.hi);
        const int indexBits = c.entries == 256 ? 8 : 12;
        const auto entryOf = [&](unsigned v) {
            const auto wide = std::llround(v * 65535.0 / double((1u << c.bits) - 1));
            return unsigned(wide >> (16 - indexBits));
        };
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(c.entries));
        const double opacity = 0.75;
        ASSERT_EQ(ulm3_render::FillTable({c.lo, c.hi}, c.bits, opacity, *table), kULMOK);
        double last = -1;
        for (unsigned e = 0; e < c.entries; ++e) {
            ULMRGBAFloat entry;
            ASSERT_EQ(table->GetEntry(e, entry), kULMOK);
            ASSERT_TRUE(entry.m_red == entry.m_green && entry.m_green == entry.m_blue) << e;
            if (e <= entryOf(c.lo)) {
                ASSERT_EQ(entry.m_red, 0.0f) << e;
                ASSERT_EQ(entry.m_alpha, 0.0f) << e;
            } else if (e >= entryOf(c.hi)) {
                ASSERT_EQ(entry.m_red, 1.0f) << e;
                ASSERT_NEAR(entry.m_alpha, opacity, 1 / 4095.0) << e;
            } else {
                ASSERT_GT(entry.m_red, last) << e;
                ASSERT_LT(entry.m_red, 1.0f) << e;
                ASSERT_NEAR(entry.m_alpha, entry.m_red * opacity, 1 / 4095.0) << e;
            }
            last = entry.m_red;
        }
    }
}

// For fields of view from narrow to wide and turns that show one face or
// three, the perspective camera keeps every corner of the box in front of
// the eye, between its near and far planes, and inside the frame with the
// stated margin to spare, the corner nearest the frame's edge on the margin:
// through a correction matrix that stretches the voxels too.
TEST_F(RenderArithmetic, ThePerspectiveCameraFramesTheBoxWithTheMarginForEveryFieldOfView) {
    uint8_t voxels[4 * 4 * 4] = {};
    ReleasablePointer<ULMVolume> volume(ULMVolume::Create(1u, voxels, 4, 4, 4, ULMVolume::kSliced));
    const ULMVolumeRange boxes[] = {{40, 24, 12, 0, 0, 0}, {10, 30, 20, 5, -3, 7}};
    const ULMMatrix corrections[] = {ULMMatrix::Identity(), ULMMatrix::Scale(1, 1.5, 3)};
    const double limit = 1 - 2 * ulm3_render::kFrameMargin;
    for (const ULMVolumeRange& box : boxes)
        for (const ULMMatrix& correction : corrections)
            for (const auto& [turnX, turnY] : {std::pair{0.0, 0.0}, std::pair{30.0, 40.0}, std::pair{-20.0, 75.0}})
                for (const double fieldOfView : {5.0, 20.0, 45.0, 90.0, 120.0}) {
                    SCOPED_TRACE(::testing::Message() << "turn " << turnX << "," << turnY << ", field of view "
                                                      << fieldOfView);
                    ASSERT_EQ(volume->SetCorrectionMatrix(correction), kULMOK);
                    ULMMatrix model, projection;
                    ulm3_render::FrameVolumePerspective(*volume, box, turnX, turnY, fieldOfView, model, projection);
                    ASSERT_TRUE(IsPerspectiveMatrix(projection));
                    double widest = 0;
                    for (int corner = 0; corner < 8; ++corner) {
                        const double p[3] = {
                            box.XOrigin() - 0.5 + (corner & 1 ? box.XSize() : 0),
                            box.YOrigin() - 0.5 + (corner & 2 ? box.YSize() : 0),
                            box.ZOrigin() - 0.5 + (corner & 4 ? box.ZSize() : 0)};
                        const ULMVector4D eye = model * correction * ULMVector4D(p[0], p[1], p[2], 1);
                        ASSERT_LT(eye[2], 0) << "corner " << corner << " behind the eye";
                        const ULMVector4D clip = projection * eye;
                        const double ndc[3] = {clip[0] / clip[3], clip[1] / clip[3], clip[2] / clip[3]};
                        ASSERT_LE(std::fabs(ndc[2]), 1.0) << "corner " << corner << " clipped";
                        for (int a = 0; a < 2; ++a) {
                            ASSERT_LE(std::fabs(ndc[a]), limit + 1e-9) << "corner " << corner << " axis " << a;
                            widest = std::max(widest, std::fabs(ndc[a]));
                        }
                    }
                    // And no farther than that: the corner nearest the frame's edge lies on the margin.
                    EXPECT_NEAR(widest, limit, 1e-9);
                }
}

// The same data in other units gets the same window in those units: a noisy
// head's 8-bit values scaled into 16-bit voxels, by factors whose multiples
// fall between the histogram's steps (its highest value is not 255) and by
// one that fills the 16 bits. The background's noise, counted in steps finer
// than the values' spacing, must not seem to end at the first empty step.
TEST_F(RenderArithmetic, DataScaledIntoWiderUnitsGetsItsWindowScaled) {
    const testing::NoisyScalpHead head{{64, 60, 40}, 2.0, 7};
    std::vector<uint8_t> voxels = head.Voxels();
    ASSERT_LT(*std::max_element(voxels.begin(), voxels.end()), 255);
    ReleasablePointer<ULMVolume> narrow(
        ULMVolume::Create(1u, voxels.data(), head.size[0], head.size[1], head.size[2], ULMVolume::kSliced));
    ulm3_render::FieldHistogram histogram;
    ASSERT_EQ(ulm3_render::CountField0(*narrow, histogram), kULMOK);
    const ulm3_render::VoxelWindow want = ulm3_render::ChooseWindow(histogram);
    const unsigned wantTop = ulm3_render::NoiseTop(histogram, want);
    ASSERT_GT(want.lo, 0u);
    const ULMFieldDescriptor field16[1] = {{0, 16, kULMUnsignedFraction}};
    for (const unsigned factor : {16u, 3u, 257u}) {
        SCOPED_TRACE(::testing::Message() << "times " << factor);
        std::vector<uint16_t> wide(voxels.begin(), voxels.end());
        for (uint16_t& v : wide) v = static_cast<uint16_t>(v * factor);
        ReleasablePointer<ULMVolume> volume(
            ULMVolume::Create(16, head.size[0], head.size[1], head.size[2], 1, field16, wide.data()));
        ASSERT_NE(volume.GetPointer(), nullptr);
        ASSERT_EQ(ulm3_render::CountField0(*volume, histogram), kULMOK);
        const ulm3_render::VoxelWindow got = ulm3_render::ChooseWindow(histogram);
        EXPECT_EQ(got.lo, want.lo * factor);
        EXPECT_EQ(got.hi, want.hi * factor);
        EXPECT_EQ(ulm3_render::NoiseTop(histogram, got), wantTop * factor);
    }
}

// Values spread evenly over their range, as a ramp's, have no background:
// the window starts at 0 and reaches near the highest value, where the
// background's noise would otherwise take in every value and leave nothing
// above the window. A ramp of 256 values, 8-bit; one of 64 values that are
// multiples of 65, 16-bit; and one of 64 values in 8 bits, whose gaps end
// the noise at 0 as before.
TEST_F(RenderArithmetic, ValuesSpreadEvenlyGetAWindowFromZero) {
    const struct {
        int width;
        int bits;
        unsigned highest;
    } cases[] = {{256, 8, 255}, {64, 16, 4095}, {64, 8, 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " values, " << c.bits << " bits");
        std::vector<uint16_t> values;
        for (int z = 0; z < 4; ++z)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < c.width; ++x) values.push_back(static_cast<uint16_t>(std::lround(
                                                       double(x) * c.highest / (c.width - 1))));
        std::vector<uint8_t> bytes(values.begin(), values.end());
        const ULMFieldDescriptor field16[1] = {{0, 16, kULMUnsignedFraction}};
        ReleasablePointer<ULMVolume> volume(
            c.bits == 8 ? ULMVolume::Create(1u, bytes.data(), c.width, 3, 4, ULMVolume::kSliced)
                        : ULMVolume::Create(16, c.width, 3, 4, 1, field16, values.data()));
        ASSERT_NE(volume.GetPointer(), nullptr);
        ulm3_render::FieldHistogram histogram;
        ASSERT_EQ(ulm3_render::CountField0(*volume, histogram), kULMOK);
        const ulm3_render::VoxelWindow window = ulm3_render::ChooseWindow(histogram);
        EXPECT_EQ(window.lo, 0u);
        EXPECT_GE(window.hi, c.highest * 98 / 100);
        EXPECT_LE(window.hi, c.highest);
        EXPECT_EQ(ulm3_render::NoiseTop(histogram, window), 0u);
    }
}

// Heads whose air noise touches the scalp, of several sizes and noise
// levels: above the window's lower end the noise joins the head into one
// region that spans the volume's whole width, and the frame holds the head
// instead, within a few voxels of its box above a tissue level (30, above
// all the noise). The box grows past the head only where the noise joined
// it; clean data and the data box of TheDataBoxHoldsEveryPart... are framed
// as before.
TEST_F(RenderArithmetic, NoiseThatTouchesAHeadDoesNotWidenItsFrame) {
    const testing::NoisyScalpHead heads[] = {
        {{128, 128, 84}, 2.0, 1}, {{96, 80, 64}, 4.0, 2}, {{72, 110, 50}, 1.2, 3}, {{160, 96, 72}, 3.0, 4}};
    for (const testing::NoisyScalpHead& head : heads) {
        SCOPED_TRACE(::testing::Message() << head.size[0] << " x " << head.size[1] << " x " << head.size[2]
                                          << ", noise of scale " << head.sigma);
        std::vector<uint8_t> voxels = head.Voxels();
        const ULMVolumeRange tissue = head.BoxAbove(voxels, 30);
        ReleasablePointer<ULMVolume> volume(
            ULMVolume::Create(1u, voxels.data(), head.size[0], head.size[1], head.size[2], ULMVolume::kSliced));
        ulm3_render::FieldHistogram histogram;
        ASSERT_EQ(ulm3_render::CountField0(*volume, histogram), kULMOK);
        const ulm3_render::VoxelWindow window = ulm3_render::ChooseWindow(histogram);
        ULMVolumeRange joined, box;
        ASSERT_EQ(ulm3_render::DataBox(*volume, histogram, window.lo, joined), kULMOK);
        // The trap is there: above the window's lower end the noise reaches both sides.
        ASSERT_EQ(joined.XSize(), head.size[0]) << "window " << window.lo;
        const unsigned top = ulm3_render::NoiseTop(histogram, window);
        EXPECT_GT(top, window.lo);
        ASSERT_EQ(ulm3_render::FrameBox(*volume, histogram, window.lo, top, box), kULMOK);
        const int lo[3] = {box.XOrigin(), box.YOrigin(), box.ZOrigin()};
        const int size[3] = {box.XSize(), box.YSize(), box.ZSize()};
        const int headLo[3] = {tissue.XOrigin(), tissue.YOrigin(), tissue.ZOrigin()};
        const int headSize[3] = {tissue.XSize(), tissue.YSize(), tissue.ZSize()};
        for (int a = 0; a < 3; ++a) {
            SCOPED_TRACE(::testing::Message() << "axis " << a << ", window " << window.lo << ", noise top " << top);
            EXPECT_LE(lo[a], headLo[a]);
            EXPECT_GE(lo[a], headLo[a] - ulm3_render::kEdgeVoxels - 1);
            EXPECT_GE(lo[a] + size[a], headLo[a] + headSize[a]);
            EXPECT_LE(lo[a] + size[a], headLo[a] + headSize[a] + ulm3_render::kEdgeVoxels + 1);
        }
    }
}

// Data whose background is one value keeps its frame exactly: the data box
// above the window's lower end. A ball's soft rim raises the window's lower
// end and the noise's top above it, but lies within a voxel of the ball's
// voxels above that top; specks of noise beside a block stay left out.
TEST_F(RenderArithmetic, CleanDataKeepsTheFrameOfItsDataBox) {
    const auto shape = [](const char* inName) {
        return [inName](int x, int y, int z, const int (&n)[3]) {
            return static_cast<uint8_t>(std::lround(ulm3tools::ShapeValue(inName, x, y, z, n[0], n[1], n[2]) * 255));
        };
    };
    const struct {
        const char* name;
        int size[3];
        std::function<uint8_t(int, int, int, const int (&)[3])> value;
    } cases[] = {
        {"phantom", {64, 64, 48}, shape("phantom")},
        {"phantom, thin", {97, 61, 16}, shape("phantom")},
        {"sphere", {64, 64, 64}, shape("sphere")},
        {"sphere, small", {33, 50, 21}, shape("sphere")},
        {"ramp", {64, 20, 20}, shape("ramp")},
        {"a block in specks",
         {40, 36, 28},
         [](int x, int y, int z, const int (&)[3]) {
             const uint32_t hash = (uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(z) * 83492791u) % 997;
             const bool block = x >= 10 && x < 22 && y >= 8 && y < 20 && z >= 6 && z < 16;
             return uint8_t(block ? 120 : hash < 12 ? 1 + hash % 10 : 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> voxels;
        for (int z = 0; z < c.size[2]; ++z)
            for (int y = 0; y < c.size[1]; ++y)
                for (int x = 0; x < c.size[0]; ++x) voxels.push_back(c.value(x, y, z, c.size));
        ReleasablePointer<ULMVolume> volume(
            ULMVolume::Create(1u, voxels.data(), c.size[0], c.size[1], c.size[2], ULMVolume::kSliced));
        ulm3_render::FieldHistogram histogram;
        ASSERT_EQ(ulm3_render::CountField0(*volume, histogram), kULMOK);
        const ulm3_render::VoxelWindow window = ulm3_render::ChooseWindow(histogram);
        const unsigned top = ulm3_render::NoiseTop(histogram, window);
        ULMVolumeRange before, box;
        ASSERT_EQ(ulm3_render::DataBox(*volume, histogram, window.lo, before), kULMOK);
        ASSERT_EQ(ulm3_render::FrameBox(*volume, histogram, window.lo, top, box), kULMOK);
        ASSERT_GT(before.XSize(), 0);
        EXPECT_EQ(box, before) << "window " << window.lo << ", noise top " << top;
    }
}

// Clean data is framed as before, on every voxel above the level: the test
// shapes (the phantom's shells, a ball, a ramp whose every plane holds data),
// two blocks far apart and a small part beside a block. Only specks beside
// a far larger region are left out: a block in air with one voxel in a
// corner is framed on the block.
TEST_F(RenderArithmetic, TheDataBoxHoldsEveryPartOfCleanDataAndDropsLoneSpecks) {
    constexpr int kX = 40, kY = 36, kZ = 28;
    const auto shape = [](const char* inName) {
        return [inName](int x, int y, int z) {
            return static_cast<uint8_t>(std::lround(ulm3tools::ShapeValue(inName, x, y, z, kX, kY, kZ) * 255));
        };
    };
    const auto inBlock = [](int x, int y, int z, int x0, int y0, int z0) {
        return x >= x0 && x < x0 + 8 && y >= y0 && y < y0 + 6 && z >= z0 && z < z0 + 5;
    };
    const struct {
        const char* name;
        std::function<uint8_t(int, int, int)> value;
        unsigned level;
        bool asAbove;       // the box of every voxel above the level
        ULMVolumeRange box;  // else this one
    } cases[] = {
        {"phantom", shape("phantom"), 0, true, {}},
        {"phantom above its brain", shape("phantom"), 60, true, {}},
        {"sphere", shape("sphere"), 1, true, {}},
        {"ramp", shape("ramp"), 100, true, {}},
        {"two blocks apart",
         [&](int x, int y, int z) { return uint8_t(inBlock(x, y, z, 2, 3, 4) || inBlock(x, y, z, 30, 28, 20) ? 90 : 0); },
         0, true, {}},
        {"a small part beside a block",
         [&](int x, int y, int z) {
             return uint8_t(inBlock(x, y, z, 10, 10, 10) || (x >= 20 && x < 23 && y >= 12 && y < 15 && z >= 12 && z < 14)
                                ? 90
                                : 0);
         },
         0, true, {}},
        {"a block and a speck in a corner",
         [&](int x, int y, int z) {
             return uint8_t(inBlock(x, y, z, 10, 10, 10) ? 90 : x == kX - 1 && y == 0 && z == kZ - 1 ? 5 : 0);
         },
         0, false, {8, 6, 5, 10, 10, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> voxels;
        for (int z = 0; z < kZ; ++z)
            for (int y = 0; y < kY; ++y)
                for (int x = 0; x < kX; ++x) voxels.push_back(c.value(x, y, z));
        ReleasablePointer<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kX, kY, kZ, ULMVolume::kSliced));
        ulm3_render::FieldHistogram histogram;
        ASSERT_EQ(ulm3_render::CountField0(*volume, histogram), kULMOK);
        ULMVolumeRange box;
        ASSERT_EQ(ulm3_render::DataBox(*volume, histogram, c.level, box), kULMOK);
        const ULMVolumeRange want = c.asAbove ? ulm3_render::VoxelsAbove(histogram, c.level) : c.box;
        ASSERT_GT(want.XSize(), 0);
        EXPECT_EQ(box, want) << box.XSize() << " x " << box.YSize() << " x " << box.ZSize() << " from " << box.XOrigin()
                             << ", " << box.YOrigin() << ", " << box.ZOrigin();
    }
}

}  // namespace
}  // namespace ulm3
