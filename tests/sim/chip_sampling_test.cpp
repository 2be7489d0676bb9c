// What the chip reads at a sample: voxel fields, their addressing (offset,
// wrap, border, edge, storage bounds) and interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

// A pass over a row of `width` pixels from a volume row of the same width.
class RowPassTest : public ChipTest {
protected:
    void Bind(HostArray& volume, HostArray& image) {
        m_job.volume = volume.Bind();
        m_job.image0 = image.Bind();
        Trims(-(1 << 30), 1 << 30, -(1 << 30), 1 << 30, 0, 0);
    }
};

TEST_F(RowPassTest, FieldsOfEverySizeAndPositionCopyExactly) {
    // Field i of every code sits at a position that keeps the four apart;
    // signed fields lose only their most negative value, which reads as
    // the negation of the most positive.
    std::mt19937_64 random(7);
    for (uint32_t control : {0u, 1u, 3u}) {
        for (uint32_t size = 0; size < 4; ++size) {
            const int bits = 4 * static_cast<int>(size + 1);
            for (uint32_t start = 0; start < 16; ++start) {
                if (start % 4 + size + 1 > 4) continue;  // field i would reach into field i + 1
                SCOPED_TRACE(testing::Message() << control << " " << size << " " << start);
                HostArray volume(2, 16, 1, 1, 8, 1), image(2, 16, 1, 1, 8, 2);
                Bind(volume, image);
                Frustum(0, 0, 0, 15, 0, 0);
                uint32_t format = 0;
                for (uint32_t i = 0; i < 4; ++i)
                    format |= (control << 6 | size << 4 | (start + 4 * i) % 16) << (8 * i);
                Set(NKW7_VoxelFormat_Addr, format);
                Set(NKW7_Image0FieldSel_Addr, format);
                Set(NKW7_InterpolateControl_Addr, 0);
                for (int x = 0; x < 16; ++x) volume.Set(x, 0, 0, random());
                const uint64_t mostNegative = uint64_t{1} << (bits - 1);
                volume.Set(0, 0, 0, mostNegative << (4 * start));
                RenderOk();
                for (int x = 0; x < 16; ++x) {
                    for (uint32_t i = 0; i < 4; ++i) {
                        const int shift = static_cast<int>(4 * ((start + 4 * i) % 16));
                        const uint64_t mask = (uint64_t{1} << bits) - 1;
                        uint64_t in = (volume.Get(x) >> shift) & mask;
                        if (control == 1 && in == mostNegative) in = mostNegative + 1;
                        if ((format >> (8 * i) & 0xFF) == 0x0F) in = 0;  // the code that names no field
                        ASSERT_EQ((image.Get(x) >> shift) & mask, in) << "pixel " << x << " field " << i;
                    }
                }
            }
        }
    }
}

TEST_F(RowPassTest, NoFieldReadsZeroAndIsNeverWrittenWhileCodeZeroIsAField) {
    HostArray volume(2, 2, 1, 1, 1, 1), image(2, 2, 1, 1, 1, 2);
    Bind(volume, image);
    Frustum(0, 0, 0, 1, 0, 0);
    volume.Set(0, 0, 0, 0xB7);
    volume.Set(1, 0, 0, 0x3C);
    image.Set(0, 0, 0, 0x55);
    image.Set(1, 0, 0, 0x55);
    // Red is the 4-bit field at bit 0 (code 0x00), which goes to bits 7..4;
    // bits 3..0 have no field and keep the initial element's bits.
    Set(NKW7_VoxelFormat_Addr, 0x0F0F0F00);
    Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F01);
    Set(NKW7_InterpolateControl_Addr, 0);
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace, NKW7_BlendMode::None, true);
    RenderOk();
    EXPECT_EQ(image.Get(0), 0x75u);
    EXPECT_EQ(image.Get(1), 0xC5u);
}

TEST_F(RowPassTest, InterpolationMatchesAHostReferenceAtOne256thPositions) {
    // 8-bit voxels on a 6 x 5 plane, sampled with a step of 37/256 voxel
    // from a non-integer origin: bilinear within one 8-bit step of a double
    // reference, nearest exact.
    HostArray volume(2, 6, 5, 1, 1, 1), image(2, 30, 20, 1, 1, 2);
    Bind(volume, image);
    std::mt19937 random(11);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) volume.Set(x, y, 0, random() & 0xFF);
    Frustum(0, 0, 0, 29, 19, 0);
    Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
    Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F10);
    Set(NKW7_OriginXv8_Addr, 3 * (kOne / 256));
    Set(NKW7_OriginYv8_Addr, 77 * (kOne / 256));
    Set(NKW7_dXv8_dXs_Addr, 37 * (kOne / 256));
    Set(NKW7_dYv8_dYs_Addr, 45 * (kOne / 256));
    Set(NKW7_VoxelBorder_Addr, 0);
    auto voxel = [&](int u, int v) -> double {
        return (u < 0 || v < 0 || u > 5 || v > 4) ? 0.0 : static_cast<double>(volume.Get(u, v));
    };
    for (uint32_t mode : {0u, 1u}) {
        Set(NKW7_InterpolateControl_Addr, mode);
        RenderOk();
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x) {
                const int pu = 3 + 37 * x, pv = 77 + 45 * y;  // in 1/256 voxel
                double expected = 0;
                if (mode == 0) {
                    expected = voxel((pu + 128) >> 8, (pv + 128) >> 8);
                } else {
                    const int u = pu >> 8, v = pv >> 8;
                    const double fu = (pu & 255) / 256.0, fv = (pv & 255) / 256.0;
                    const double top = voxel(u, v) + (voxel(u + 1, v) - voxel(u, v)) * fu;
                    const double bottom = voxel(u, v + 1) + (voxel(u + 1, v + 1) - voxel(u, v + 1)) * fu;
                    expected = top + (bottom - top) * fv;
                }
                const double actual = static_cast<double>(image.Get(x, y));
                if (mode == 0)
                    ASSERT_EQ(actual, expected) << x << "," << y;
                else
                    ASSERT_NEAR(actual, expected, 1.0) << x << "," << y;
            }
    }
    // Weight-0 neighbours beyond the one-plane storage are never read.
    EXPECT_EQ(Diagnostics().readsOutsideStorage, 0u);
}

// Voxels 10, 20, 30, 40 on u (and 50, 60, 70, 80 on the next row), with the
// volume range 1..2 on u and 0..0 on v.
class AddressingTest : public RowPassTest {
protected:
    void SetUp() override {
        RowPassTest::SetUp();
        for (int u = 0; u < 4; ++u) {
            m_volume.Set(u, 0, 0, 10 * (u + 1));
            m_volume.Set(u, 1, 0, 10 * (u + 5));
        }
        Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
        Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F10);
        Set(NKW7_VoxelBorder_Addr, 0xEE);
        Frustum(0, 0, 0, 3, 1, 0);
    }
    std::vector<int> Pixels() const {
        std::vector<int> pixels;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) pixels.push_back(static_cast<int>(m_image.Get(x, y)));
        return pixels;
    }

    HostArray m_volume{2, 4, 2, 1, 1, 1};
    HostArray m_image{2, 4, 2, 1, 1, 2};
};

TEST_F(AddressingTest, OutsideTheRangeReadsTheBorderOrTheEdgePerAxis) {
    m_volume.SetRange(1, 0, 0, 2, 0, 0);
    Bind(m_volume, m_image);
    Set(NKW7_InterpolateControl_Addr, 0);
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{0xEE, 20, 30, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    Set(NKW7_InterpolateControl_Addr, 0x00100000);  // edge on u only
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{20, 20, 30, 30, 0xEE, 0xEE, 0xEE, 0xEE}));
    Set(NKW7_InterpolateControl_Addr, 0x01100000);  // edge on u and v
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{20, 20, 30, 30, 20, 20, 30, 30}));
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(AddressingTest, OffsetAndWrapAddressingLocateStorage) {
    // Coordinates -2..1 on u at offset -2: the range below 0 is real data.
    m_volume.bound.offsetModulus[0] = -2;
    m_volume.SetRange(-2, 0, 0, 1, 1, 0);
    Bind(m_volume, m_image);
    Set(NKW7_InterpolateControl_Addr, 0);
    Set(NKW7_OriginXv8_Addr, -2 * kOne);
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80}));

    // Wrapped with modulus 4: coordinates 5..8 are storage 1, 2, 3, 0.
    m_volume.bound.wrap = true;
    m_volume.bound.offsetModulus[0] = 3;
    m_volume.bound.offsetModulus[1] = 1;
    m_volume.SetRange(5, 0, 0, 8, 1, 0);
    Bind(m_volume, m_image);
    Set(NKW7_OriginXv8_Addr, 5 * kOne);
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{20, 30, 40, 10, 60, 70, 80, 50}));
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(AddressingTest, RangeBeyondStorageReadsTheBorderAndIsCounted) {
    m_volume.SetRange(0, 0, 0, 5, 1, 0);
    Bind(m_volume, m_image);
    Set(NKW7_InterpolateControl_Addr, 0);
    Set(NKW7_OriginXv8_Addr, 2 * kOne);
    RenderOk();
    EXPECT_EQ(Pixels(), (std::vector<int>{30, 40, 0xEE, 0xEE, 70, 80, 0xEE, 0xEE}));
    EXPECT_EQ(Diagnostics().readsOutsideStorage, 4u);
}

}  // namespace
}  // namespace tulx7sim::test
