// ulm3_render's own arithmetic, on the boards' simulation: the window's
// table and the perspective camera's framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

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
