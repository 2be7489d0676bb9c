// The part of a plane the shaded rows' gradient slab computes for a tile:
// every voxel a sample of the tile reads on any slice that reads the plane
// (itself and its neighbours up along both axes) must be in it, and a
// turned tile must not pay for its whole bounding rectangle.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "tulx7sim/rendering_chip.h"

namespace tulx7sim::test {
namespace {

constexpr int64_t kVoxel = int64_t{256} << 32;  // one voxel in raw units

struct Lattice {
    std::vector<SlabSlice> slices;
    uint32_t columns, rows;
    bool mirror[2];
    int64_t low[2], high[2];
};

// What the samples read of each voxel row within the bounds, counted on
// the host sample by sample: the least and greatest voxel along the row.
std::map<int64_t, std::pair<int64_t, int64_t>> Reads(const Lattice& t) {
    std::map<int64_t, std::pair<int64_t, int64_t>> rows;
    for (const SlabSlice& slice : t.slices)
        for (uint32_t j = 0; j < t.rows; ++j)
            for (uint32_t i = 0; i < t.columns; ++i) {
                int64_t voxel[2];
                for (int a = 0; a < 2; ++a) {
                    const __int128 raw = __int128{slice.origin[a]} + __int128{i} * slice.step[0][a] +
                                         __int128{j} * slice.step[1][a];
                    const auto p = static_cast<int64_t>(raw >> 32);
                    const int64_t q = t.mirror[a] ? -p - 256 : p;
                    voxel[a] = q >> 8;
                }
                for (int64_t b = voxel[1]; b <= voxel[1] + 1; ++b)
                    for (int64_t a = voxel[0]; a <= voxel[0] + 1; ++a) {
                        if (a < t.low[0] || a > t.high[0] || b < t.low[1] || b > t.high[1]) continue;
                        auto [at, fresh] = rows.try_emplace(b, a, a);
                        at->second.first = std::min(at->second.first, a);
                        at->second.second = std::max(at->second.second, a);
                    }
            }
    return rows;
}

SlabPlane Footprint(const Lattice& t) {
    return SlabFootprint(t.slices, t.columns, t.rows, t.mirror, t.low, t.high);
}

TEST(SlabFootprintTest, HoldsEveryVoxelTheTilesSamplesReadAndLittleMore) {
    std::mt19937_64 random(41);
    auto pick = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    for (int trial = 0; trial < 8000; ++trial) {
        SCOPED_TRACE(trial);
        Lattice t{};
        // Half the lattices sit on whole 1/256ths, where no position is
        // rounded down; the others on any raw position.
        const bool whole = trial % 2 == 0;
        auto raw = [&](int64_t reach) {
            const int64_t value = pick(-reach, reach);
            return whole ? value & ~int64_t{0xFFFFFFFF} : value;
        };
        // One slice in every other lattice, where a sample's rounding
        // shows at the footprint's edge; else two or three, apart as those
        // reading one plane are when the view looks along it at a slant.
        t.slices.resize(trial % 4 < 2 ? size_t{1} : static_cast<size_t>(pick(2, 3)));
        for (int a = 0; a < 2; ++a) {
            // Steps of up to a voxel and a half, so that samples spread
            // about as a shaded tile's do.
            const int64_t step[2] = {raw(3 * kVoxel / 2), raw(3 * kVoxel / 2)};
            const int64_t origin = raw(12 * kVoxel);
            for (SlabSlice& slice : t.slices) {
                slice.origin[a] = origin + raw(2 * kVoxel);
                slice.step[0][a] = step[0];
                slice.step[1][a] = step[1];
            }
            t.mirror[a] = pick(0, 1) == 1;
            t.low[a] = pick(-40, 0);
            t.high[a] = pick(0, 40);
        }
        t.columns = static_cast<uint32_t>(pick(1, 40));
        t.rows = static_cast<uint32_t>(pick(1, 20));
        const auto reads = Reads(t);
        const SlabPlane plane = Footprint(t);
        for (const auto& [b, span] : reads) {
            SCOPED_TRACE(testing::Message() << "row " << b);
            ASSERT_GE(b, plane.firstRow);
            ASSERT_LT(b - plane.firstRow, static_cast<int64_t>(plane.runs.size()));
            const SlabRun& run = plane.runs[static_cast<size_t>(b - plane.firstRow)];
            EXPECT_LE(run.low, span.first);
            EXPECT_GE(run.high, span.second);
            // The quadrilateral of the corners reaches at most a step and
            // a half past its samples, and the rows' slack a little more.
            EXPECT_GE(run.low, span.first - 3);
            EXPECT_LE(run.high, span.second + 3);
        }
    }
}

TEST(SlabFootprintTest, ASampleRoundedDownOffAShallowEdgeFindsItsVoxels) {
    // Three samples along a row that climbs a fifth of a 1/256th a step:
    // the middle one's position rounds down onto the line between voxel
    // rows 1 and 2 while the line through the corners' rounded positions
    // meets it only at the last sample, two voxels further along.
    constexpr int64_t kUnit = int64_t{1} << 32;  // 1/256 voxel
    Lattice t{{SlabSlice{{0, 255 * kUnit + kUnit * 9 / 10}, {{300 * kUnit, kUnit / 5}, {0, kUnit}}}},
              3,
              1,
              {false, false},
              {-10, -10},
              {10, 10}};
    const auto reads = Reads(t);
    ASSERT_EQ(reads.count(2), 1u);
    ASSERT_EQ(reads.at(2).first, 1);
    const SlabPlane plane = Footprint(t);
    ASSERT_GE(2, plane.firstRow);
    ASSERT_LT(2 - plane.firstRow, static_cast<int64_t>(plane.runs.size()));
    EXPECT_LE(plane.runs[static_cast<size_t>(2 - plane.firstRow)].low, 1);
}

TEST(SlabFootprintTest, ATurnedTileTakesAboutItsAreaNotItsBoundingRectangle) {
    // 32 x 16 samples a voxel apart, turned by 45 degrees: the rectangle
    // around them holds about twice the voxels they cover.
    const int64_t half = kVoxel * 7071 / 10000;
    Lattice t{{SlabSlice{{100 * kVoxel + 12345, 100 * kVoxel + 678}, {{half, half}, {-half, half}}}},
              32,
              16,
              {false, false},
              {-1000, -1000},
              {1000, 1000}};
    const SlabPlane plane = Footprint(t);
    int64_t held = 0, low = INT64_MAX, high = INT64_MIN;
    for (const SlabRun& run : plane.runs) {
        if (run.low > run.high) continue;
        held += run.high - run.low + 1;
        low = std::min(low, run.low);
        high = std::max(high, run.high);
    }
    int64_t read = 0;
    for (const auto& [b, span] : Reads(t)) read += span.second - span.first + 1;
    const int64_t rectangle = (high - low + 1) * static_cast<int64_t>(plane.runs.size());
    EXPECT_GE(held, read);
    EXPECT_LT(held * 10, rectangle * 7);
    EXPECT_LT(held * 10, read * 13);
}

TEST(SlabFootprintTest, NothingWhenTheTileMissesTheBounds) {
    Lattice t{{SlabSlice{{-50 * kVoxel, 3 * kVoxel}, {{kVoxel, 0}, {0, kVoxel}}}}, 8, 8, {false, false}, {0, 0}, {20, 20}};
    const SlabPlane plane = Footprint(t);
    for (const SlabRun& run : plane.runs) EXPECT_GT(run.low, run.high);
    ASSERT_TRUE(Reads(t).empty());
}

}  // namespace
}  // namespace tulx7sim::test
