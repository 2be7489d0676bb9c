// The cut of a volume into bricks: the pieces tile the volume, the loaded
// ranges hold the overlap, and the render boxes partition every position
// the chip can sample, checked at its 1/256-voxel resolution.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "multiboard/subvolume_division.h"

namespace ulm3 {
namespace {

struct Shape {
    int size[3];
    int origin[3];
};

const Shape kShapes[] = {
    {{256, 256, 256}, {0, 0, 0}}, {{512, 64, 64}, {0, 0, 0}}, {{100, 37, 9}, {0, 0, 0}},
    {{33, 301, 17}, {0, 0, 0}},   {{64, 64, 3}, {6, -10, 4}}, {{257, 129, 20}, {0, 0, 0}},
};

ULMVolumeRange RangeOf(const Shape& s) {
    return ULMVolumeRange(s.size[0], s.size[1], s.size[2], s.origin[0], s.origin[1], s.origin[2]);
}

int64_t Voxels(const ULMVolumeRange& r) { return r.IsEmpty() ? 0 : int64_t{r.XSize()} * r.YSize() * r.ZSize(); }

// Counts 1 to 8 over every shape and 1 to 3 boards: owned ranges tile the
// volume, their low ends even from the volume's corner, Z never cut; each
// loaded range is the owned range grown by the overlap, even at its low end
// where the volume allows, and clipped to the volume; bricks lie on their
// number's board in turn.
TEST(SubVolumeDivisionTest, PiecesTileTheVolumeAndLoadRangesHoldTheOverlap) {
    for (const Shape& shape : kShapes) {
        const ULMVolumeRange whole = RangeOf(shape);
        for (int count = 1; count <= 8; ++count) {
            for (int boards = 1; boards <= 3; ++boards) {
                const ULMSubVolumeDivision d(whole, whole, 64, count, boards);
                SCOPED_TRACE(::testing::Message() << shape.size[0] << "x" << shape.size[1] << "x" << shape.size[2]
                                                  << " in " << count << " on " << boards);
                ASSERT_EQ(d.BricksMade(), count);
                EXPECT_EQ(d.Pieces()[0] * d.Pieces()[1] * d.Pieces()[2], count);
                EXPECT_EQ(d.Pieces()[2], 1);
                int64_t owned = 0;
                for (int i = 0; i < count; ++i) {
                    const ULMBrickRanges& b = d.Brick(i);
                    owned += Voxels(b.m_unloadRange);
                    EXPECT_TRUE(whole.Contains(b.m_unloadRange));
                    EXPECT_EQ(b.m_unloadRange.ZOrigin(), whole.ZOrigin());
                    EXPECT_EQ(b.m_unloadRange.ZSize(), whole.ZSize());
                    for (int a = 0; a < 2; ++a) EXPECT_EQ((b.m_unloadRange.m_origin[a] - whole.m_origin[a]) % 2, 0);
                    for (int j = 0; j < i; ++j)
                        EXPECT_TRUE(ULMVolumeRange::Intersect(b.m_unloadRange, d.Brick(j).m_unloadRange).IsEmpty());
                    ULMVolumeRange grown = b.m_unloadRange;
                    for (int a = 0; a < 3; ++a) {
                        const int ov = d.Overlap()[a];
                        if (d.Pieces()[a] == 1) {
                            EXPECT_EQ(ov, 0);
                        }
                        grown.m_origin[a] -= ov;
                        grown.m_size[a] += 2 * ov;
                        const int lo = b.m_loadRange.m_origin[a];
                        EXPECT_TRUE(lo == whole.m_origin[a] || lo % 2 == 0) << a;
                        EXPECT_LE(lo, std::max(grown.m_origin[a], whole.m_origin[a]));
                        EXPECT_GE(lo, grown.m_origin[a] - 1);
                    }
                    EXPECT_EQ(ULMVolumeRange::Intersect(grown, whole),
                              ULMVolumeRange::Intersect(grown, b.m_loadRange));
                    EXPECT_TRUE(whole.Contains(b.m_loadRange));
                    EXPECT_EQ(b.m_location, ULMLocation(i % boards));
                }
                EXPECT_EQ(owned, Voxels(whole));
            }
        }
    }
}

// The worked examples: a 256 cube in four bricks with the default overlap; a
// long 512 x 64 x 64 volume cut along X; 100 voxels in three from the high
// end; and a quarter overlap of 25 whose grown origin is made even.
TEST(SubVolumeDivisionTest, WorkedExamples) {
    const ULMVolumeRange cube(256, 256, 256, 0, 0, 0);
    const ULMSubVolumeDivision four(cube, cube, 64, 4, 2);
    EXPECT_EQ(four.Pieces()[0], 2);
    EXPECT_EQ(four.Pieces()[1], 2);
    EXPECT_EQ(four.Overlap()[0], 64);
    EXPECT_EQ(four.Overlap()[1], 64);
    EXPECT_EQ(four.Overlap()[2], 0);
    EXPECT_EQ(four.Brick(0).m_unloadRange, ULMVolumeRange(128, 128, 256, 0, 0, 0));
    EXPECT_EQ(four.Brick(0).m_loadRange, ULMVolumeRange(192, 192, 256, 0, 0, 0));
    EXPECT_EQ(four.Brick(0).m_trimRange.minX, -0.5);
    EXPECT_EQ(four.Brick(0).m_trimRange.maxX, 128 - 1.0 / 256);
    EXPECT_EQ(four.Brick(3).m_unloadRange, ULMVolumeRange(128, 128, 256, 128, 128, 0));
    EXPECT_EQ(four.Brick(3).m_loadRange, ULMVolumeRange(192, 192, 256, 64, 64, 0));
    EXPECT_EQ(four.Brick(3).m_trimRange.maxY, 255.5);

    const ULMVolumeRange longX(512, 64, 64, 0, 0, 0);
    const ULMVolumeRange full(1024, 64, 64, 0, 0, 0);  // a level of half the full volume's size
    const ULMSubVolumeDivision two(longX, full, 64, 2, 2);
    EXPECT_EQ(two.Pieces()[0], 2);
    EXPECT_EQ(two.Brick(0).m_unloadRange, ULMVolumeRange(256, 64, 64, 0, 0, 0));
    EXPECT_EQ(two.Brick(1).m_unloadRange, ULMVolumeRange(256, 64, 64, 256, 0, 0));
    EXPECT_EQ(two.Overlap()[0], 32);
    EXPECT_EQ(two.Overlap()[1], 0);

    int origin[8], size[8];
    ASSERT_EQ(ULMSubVolumeDivision::CutAxis(100, 3, origin, size), 3);
    EXPECT_EQ(origin[0], 66);
    EXPECT_EQ(size[0], 34);
    EXPECT_EQ(origin[1], 32);
    EXPECT_EQ(origin[2], 0);
    ASSERT_EQ(ULMSubVolumeDivision::CutAxis(255, 2, origin, size), 2);
    EXPECT_EQ(origin[0], 128);
    EXPECT_EQ(size[0], 127);

    const ULMSubVolumeDivision three(ULMVolumeRange(8, 100, 8, 0, 0, 0), ULMVolumeRange(8, 100, 8, 0, 0, 0), 64, 3, 3);
    EXPECT_EQ(three.Overlap()[1], 25);
    EXPECT_EQ(three.Brick(2).m_unloadRange.YOrigin(), 66);
    EXPECT_EQ(three.Brick(2).m_loadRange.YOrigin(), 40);
    EXPECT_EQ(three.Brick(2).m_loadRange.YSize(), 60);

    // Eight bricks never form a cube of 2 x 2 x 2.
    const ULMSubVolumeDivision eight(cube, cube, 64, 8, 2);
    EXPECT_EQ(eight.Pieces()[2], 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(eight.Brick(i).m_location, ULMLocation(i % 2));
}

// One brick keeps the volume whole: no overlap, every range the volume's,
// the box from half a voxel before the first centre to half after the last.
TEST(SubVolumeDivisionTest, OneBrickIsTheWholeVolume) {
    const ULMVolumeRange whole(40, 30, 20, 2, 4, 6);
    const ULMSubVolumeDivision one(whole, whole, 64, 1, 4);
    EXPECT_EQ(one.Brick(0).m_loadRange, whole);
    EXPECT_EQ(one.Brick(0).m_unloadRange, whole);
    EXPECT_EQ(one.Brick(0).m_trimRange, TrimRange(1.5, 41.5, 3.5, 33.5, 5.5, 25.5));
    EXPECT_EQ(one.Brick(0).m_location, kULMBoard0);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(one.Overlap()[a], 0);
}

// Every position the chip can sample, in 1/256 voxel, within three steps of
// each seam and of the volume's faces: inside exactly one brick's box when
// it lies in the one-board box [origin - 0.5, end - 0.5], in none outside.
// Seams on X and Y are crossed together, so corners of four bricks count.
TEST(SubVolumeDivisionTest, RenderBoxesPartitionTheSamplePositions) {
    for (const Shape& shape : kShapes) {
        const ULMVolumeRange whole = RangeOf(shape);
        for (int count = 1; count <= 8; ++count) {
            const ULMSubVolumeDivision d(whole, whole, 64, count, 2);
            std::set<int> near[3];  // positions in 1/256 voxel
            for (int a = 0; a < 3; ++a) {
                std::vector<int> edges = {256 * whole.m_origin[a] - 128,
                                          256 * (whole.m_origin[a] + whole.m_size[a]) - 128};
                for (int i = 0; i < count; ++i) edges.push_back(256 * d.Brick(i).m_unloadRange.m_origin[a]);
                for (int e : edges)
                    for (int step = -3; step <= 3; ++step) near[a].insert(e + step);
            }
            for (int x : near[0]) {
                for (int y : near[1]) {
                    for (int z : near[2]) {
                        const int p[3] = {x, y, z};
                        bool inWhole = true;
                        for (int a = 0; a < 3; ++a)
                            inWhole = inWhole && p[a] >= 256 * whole.m_origin[a] - 128 &&
                                      p[a] <= 256 * (whole.m_origin[a] + whole.m_size[a]) - 128;
                        int holders = 0;
                        for (int i = 0; i < count; ++i) {
                            const TrimRange& t = d.Brick(i).m_trimRange;
                            bool inside = true;
                            for (int a = 0; a < 3; ++a)  // the chip's live test: min <= P256 <= max
                                inside = inside && std::lround(t.Min(a) * 256) <= p[a] &&
                                         p[a] <= std::lround(t.Max(a) * 256);
                            holders += inside;
                        }
                        ASSERT_EQ(holders, inWhole ? 1 : 0) << count << " bricks at " << x << ", " << y << ", " << z;
                    }
                }
            }
        }
    }
}

// The share of the context's trim box each brick renders, and none for a
// brick the box misses; the corner the blend order looks for the eye at.
TEST(SubVolumeDivisionTest, TrimIntersectionAndRenderCorner) {
    const ULMVolumeRange cube(256, 256, 64, 0, 0, 0);
    const ULMSubVolumeDivision two(cube, cube, 64, 2, 2);  // cut along Y at 128
    const TrimRange box(10, 20, 100, 200, 0, 30);
    EXPECT_EQ(two.IntersectTrim(box, 0), TrimRange(10, 20, 100, 128 - 1.0 / 256, 0, 30));
    EXPECT_EQ(two.IntersectTrim(box, 1), TrimRange(10, 20, 128, 200, 0, 30));
    const TrimRange low(0, 255, 0, 50, 0, 63);
    EXPECT_TRUE(two.TrimMeets(low, 0));
    EXPECT_FALSE(two.TrimMeets(low, 1));
    EXPECT_EQ(two.IntersectTrim(low, 1), TrimRange());
    double corner[3];
    two.CalculateSubVolumeTrim(0, corner);
    EXPECT_EQ(corner[1], -0.5);
    two.CalculateSubVolumeTrim(1, corner);
    EXPECT_EQ(corner[1], 128.0);
    EXPECT_EQ(corner[0], -0.5);
    // A brick whose loaded range reaches the volume's face still starts
    // where it owns: 180 in five has owned origins 36 apart and overlap 45.
    const ULMVolumeRange tall(200, 180, 40, 0, 0, 0);
    const ULMSubVolumeDivision five(tall, tall, 64, 5, 2);
    ASSERT_EQ(five.Brick(1).m_loadRange.YOrigin(), 0);
    five.CalculateSubVolumeTrim(1, corner);
    EXPECT_EQ(corner[1], 36.0);
}

}  // namespace
}  // namespace ulm3
