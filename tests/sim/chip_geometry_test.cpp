// Where the chip samples: the transform between sample grid and volume,
// the position terms of the ray grid, and the trims.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

using ::testing::HasSubstr;

// Voxels that hold their own coordinates, (u + 4) | (v + 4) << 4 | (w + 4) << 8,
// for u, v, w in -4..3 (storage at offset -4), read nearest into a 3-D image
// through the same three 4-bit fields.
class CoordinateVolumeTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        for (int w = 0; w < 8; ++w)
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) m_volume.Set(u, v, w, uint64_t(u) | uint64_t(v) << 4 | uint64_t(w) << 8);
        for (int a = 0; a < 3; ++a) m_volume.bound.offsetModulus[a] = -4;
        m_volume.SetRange(-4, -4, -4, 3, 3, 3);
        m_job.volume = m_volume.Bind();
        m_job.image0 = m_image.Bind();
        Set(NKW7_VoxelFormat_Addr, 0x0F020100);
        Set(NKW7_Image0FieldSel_Addr, 0x0F020100);
        Set(NKW7_InterpolateControl_Addr, 0);
        ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace, NKW7_BlendMode::None, false, false, true);
        Trims(-(1 << 30), 1 << 30, -(1 << 30), 1 << 30, -(1 << 30), 1 << 30);
    }

    // The coordinates the image holds at element (x, y, z).
    void Coordinates(int x, int y, int z, int (&uvw)[3]) const {
        const uint64_t word = m_image.Get(x, y, z);
        for (int a = 0; a < 3; ++a) uvw[a] = static_cast<int>((word >> (4 * a)) & 0xF) - 4;
    }

    HostArray m_volume{3, 8, 8, 8, 2, 1};
    HostArray m_image{3, 4, 4, 4, 2, 2};
};

TEST_F(CoordinateVolumeTest, EveryTransformPermutesAndMirrorsTheAxes) {
    Frustum(0, 0, 0, 3, 3, 3);
    const int permutations[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& select : permutations) {
        for (uint32_t negations = 0; negations < 8; ++negations) {
            const uint32_t transform = uint32_t(select[0]) << 4 | uint32_t(select[1]) << 6 |
                                       uint32_t(select[2]) << 8 | negations;
            SCOPED_TRACE(transform);
            Set(NKW7_Transform_Addr, transform);
            RenderOk();
            for (int z = 0; z < 4; ++z)
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x) {
                        const int sample[3] = {x, y, z};
                        int expected[3], actual[3];
                        // A mirrored axis takes voxel i to -i - 1.
                        for (int a = 0; a < 3; ++a)
                            expected[select[a]] = (negations >> a & 1) ? -sample[a] - 1 : sample[a];
                        Coordinates(x, y, z, actual);
                        ASSERT_EQ(actual[0], expected[0]) << x << "," << y << "," << z;
                        ASSERT_EQ(actual[1], expected[1]) << x << "," << y << "," << z;
                        ASSERT_EQ(actual[2], expected[2]) << x << "," << y << "," << z;
                    }
        }
    }
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(CoordinateVolumeTest, TransformsThatAreNoPermutationFailTheRender) {
    Frustum(0, 0, 0, 3, 3, 3);
    for (uint32_t transform : {0x000u, 0x250u, 0x2A0u, 0x3E4u}) {
        Set(NKW7_Transform_Addr, transform);
        EXPECT_EQ(Render(), TULX7_DR_STATUS_HW_ERROR) << transform;
        EXPECT_THAT(m_diagnostic, HasSubstr("permutation"));
    }
}

TEST_F(CoordinateVolumeTest, ShearSlopeAndPerSliceTermsMoveTheSamples) {
    // Xv = 1 + zs + xs (1 + zs / 2) + 2 ys; Yv = ys + (Zv - Zv0); Zv = zs.
    Frustum(0, 0, 0, 3, 2, 1);
    m_volume.SetRange(-4, -4, -4, 3, 3, 3);
    Set(NKW7_OriginXv8_Addr, kOne - 5 * kOne);  // shifted by -5 so that every sample stays in -4..3
    Set(NKW7_dXv8_dYs_Addr, 2 * kOne);
    Set(NKW7_dXv8_dZs_Addr, kOne);
    Set(NKW7_ddXv8_dXs_dZs_Addr, kOne / 2);
    Set(NKW7_OriginYv8_Addr, -4 * kOne);
    Set(NKW7_dYv8_dZv_Addr, kOne);
    Set(NKW7_OriginZv8_Addr, -4 * kOne);
    RenderOk();
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const double xv = -4 + z + x * (1 + z / 2.0) + 2 * y;
                const double yv = -4 + y + z;
                int expected[3] = {static_cast<int>(std::floor(xv + 0.5)), static_cast<int>(yv), z - 4};
                int actual[3];
                Coordinates(x, y, z, actual);
                // Past the volume's range the border word (0) reads as -4.
                for (int a = 0; a < 3; ++a)
                    if (expected[a] > 3) expected[0] = expected[1] = expected[2] = -4;
                EXPECT_EQ(actual[0], expected[0]) << x << "," << y << "," << z;
                EXPECT_EQ(actual[1], expected[1]) << x << "," << y << "," << z;
                EXPECT_EQ(actual[2], expected[2]) << x << "," << y << "," << z;
            }
}

// One constant voxel (also the border), sampled along a row of pixels
// 1/256 voxel apart, so that sample xs lies at X = (origin + xs) / 256.
class TrimTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        m_volume.Set(0, 0, 0, 16);
        m_job.volume = m_volume.Bind();
        m_job.image0 = m_image.Bind();
        Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
        Set(NKW7_VoxelBorder_Addr, 16);
        Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F10);
        Set(NKW7_InterpolateControl_Addr, 0);
        Frustum(0, 0, 0, 39, 0, 0);
    }
    std::vector<int> Row() const {
        std::vector<int> row;
        for (int x = 0; x < 40; ++x) row.push_back(static_cast<int>(m_image.Get(x)));
        return row;
    }

    HostArray m_volume{2, 1, 1, 1, 1, 1};
    HostArray m_image{2, 40, 1, 1, 1, 2};
};

TEST_F(TrimTest, TrimsIncludeBothBoundsAtOne256thOfAVoxel) {
    Set(NKW7_dXv8_dXs_Addr, kOne / 256);
    Set(NKW7_OriginXv8_Addr, -8 * (kOne / 256));
    for (const auto& [low, high] : {std::pair{5, 9}, std::pair{-3, -1}, std::pair{-8, -8}}) {
        Trims(low, high, 0, 0, 0, 0);
        RenderOk();
        const std::vector<int> row = Row();
        for (int x = 0; x < 40; ++x) EXPECT_EQ(row[x], (x - 8 >= low && x - 8 <= high) ? 16 : 0) << x;
    }
    // A Z trim that excludes the only slice leaves every pixel unsampled.
    Trims(-1000, 1000, 0, 0, 1, 1);
    RenderOk();
    EXPECT_EQ(Row(), std::vector<int>(40, 0));
}

TEST_F(TrimTest, ComplementaryTrimsSampleEveryPositionExactlyOnce) {
    // Samples 3/7 voxel apart from 0.1; each adds 16 (BTF, alpha 0) to the
    // pixel's existing content.
    Set(NKW7_OriginXv8_Addr, static_cast<int64_t>(std::llround(0.1 * kOne)));
    Set(NKW7_dXv8_dXs_Addr, static_cast<int64_t>(std::llround(3.0 / 7 * kOne)));
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::BackToFrontPreWeighted, NKW7_BlendMode::None, true);
    const int split = static_cast<int>(5.3 * 256);
    Trims(-100000, split - 1, 0, 0, 0, 0);
    RenderOk();
    std::vector<int> expected(40, 0);
    for (int x = 0; x <= 12; ++x) expected[x] = 16;  // 0.1 + 12 * 3/7 < 5.3 < 0.1 + 13 * 3/7
    EXPECT_EQ(Row(), expected);
    Trims(split, 100000, 0, 0, 0, 0);
    RenderOk();
    EXPECT_EQ(Row(), std::vector<int>(40, 16));
}

}  // namespace
}  // namespace tulx7sim::test
