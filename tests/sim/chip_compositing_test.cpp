// Compositing and output: the blend modes over existing pixels, the final
// combination with Last, the order along a ray, and what the chip may
// write where.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

using Colour = std::array<double, 4>;

constexpr uint32_t kRgba8 = 0x16141210;  // 8-bit red, green, blue, alpha from bit 0

uint64_t Pack(const Colour& c, uint64_t high = 0) {
    uint64_t word = high << 32;
    for (int k = 0; k < 4; ++k) word |= static_cast<uint64_t>(std::lround(c[k] * 255)) << (8 * k);
    return word;
}
Colour Unpack(uint64_t word) {
    Colour c;
    for (int k = 0; k < 4; ++k) c[k] = static_cast<double>(word >> (8 * k) & 0xFF) / 255;
    return c;
}

// The blend modes in double, acc the pixel's colour and in the new one.
Colour ReferenceBlend(uint32_t mode, Colour acc, const Colour& in) {
    const double alpha = in[3], remaining = 1 - acc[3];
    switch (mode) {
        case NKW7_Code(NKW7_BlendMode::Replace): return in;
        case NKW7_Code(NKW7_BlendMode::BackToFront):
            for (int k = 0; k < 3; ++k) acc[k] = alpha * in[k] + (1 - alpha) * acc[k];
            acc[3] = alpha + (1 - alpha) * acc[3];
            return acc;
        case NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted):
            for (int k = 0; k < 3; ++k) acc[k] = in[k] + (1 - alpha) * acc[k];
            acc[3] = alpha + (1 - alpha) * acc[3];
            return acc;
        case NKW7_Code(NKW7_BlendMode::FrontToBack):
            for (int k = 0; k < 3; ++k) acc[k] += remaining * in[k] * alpha;
            acc[3] += remaining * alpha;
            return acc;
        case NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted):
            for (int k = 0; k < 3; ++k) acc[k] += remaining * in[k];
            acc[3] += remaining * alpha;
            return acc;
        case NKW7_Code(NKW7_BlendMode::SumAndCount): {
            auto q12 = [](double v) { return std::floor(std::clamp(v, 0.0, 1.0) * 4095 + 0.5); };
            acc[0] = std::min(4095.0, q12(acc[0]) + q12(alpha)) / 4095;
            acc[1] = std::min(4095.0, q12(acc[1]) + 1) / 4095;
            return acc;
        }
        case NKW7_Code(NKW7_BlendMode::EmptyBits): for (int k = 0; k < 4; ++k) if (in[k] > 0) acc[k] = 1; return acc;
        default: break;
    }
    const uint32_t minimum = NKW7_Code(NKW7_BlendMode::MinRed), maximum = NKW7_Code(NKW7_BlendMode::MaxRed);
    if (mode >= minimum && mode < maximum && in[mode - minimum] < acc[mode - minimum]) return in;
    if (mode >= maximum && mode < NKW7_BlendModeCount && in[mode - maximum] > acc[mode - maximum]) return in;
    return acc;
}

void ExpectColour(uint64_t word, const Colour& expected) {
    const Colour actual = Unpack(word);
    // Encoding saturates at the field's range.
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(actual[k], std::clamp(expected[k], 0.0, 1.0), 1.0 / 255) << "channel " << k;
}

// Existing pixels (image 0, 64-bit elements whose high half no field
// covers) and a one-voxel volume holding the new colour.
class CompositingTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        m_volume.Set(0, 0, 0, Pack(m_in));
        m_job.volume = m_volume.Bind();
        m_job.image0 = m_image0.Bind();
        m_job.image1 = m_image1.Bind();
        Set(NKW7_VoxelFormat_Addr, kRgba8);
        Set(NKW7_Image0FieldSel_Addr, kRgba8);
        Set(NKW7_Image1FieldSel_Addr, kRgba8);
        Set(NKW7_InterpolateControl_Addr, 0);
        Trims(-128, 128, -128, 128, -128, 128);
        Frustum(0, 0, 0, 0, 0, 0);
        m_image0.Set(0, 0, 0, Pack(m_acc, 0xAAAAAAAA));
        m_image1.Set(0, 0, 0, Pack(m_last, 0xBBBBBBBB));
    }

    const Colour m_acc{0.2, 0.4, 0.6, 0.5}, m_in{0.8, 0.2, 0.4, 0.25}, m_last{0.1, 0.9, 0.3, 0.6};
    HostArray m_volume{3, 1, 1, 1, 4, 1};
    HostArray m_image0{2, 1, 1, 1, 8, 2};
    HostArray m_image1{2, 1, 1, 1, 8, 3};
};

TEST_F(CompositingTest, EveryBlendModeCompositesTheSample) {
    for (uint32_t mode = 0; mode < 17; ++mode) {
        SCOPED_TRACE(mode);
        ClearChipDiagnostics();
        m_image0.Set(0, 0, 0, Pack(m_acc, 0xAAAAAAAA));
        ImageControl(NKW7_ImageWrite::Image0, static_cast<NKW7_BlendMode>(mode), NKW7_BlendMode::None, true);
        RenderOk();
        ExpectColour(m_image0.Get(0), ReferenceBlend(mode, Unpack(Pack(m_acc)), Unpack(Pack(m_in))));
        // Bits outside the fields keep the initial element's.
        EXPECT_EQ(m_image0.Get(0) >> 32, 0xAAAAAAAAu);
        EXPECT_EQ(Diagnostics().reservedCodes, mode >= NKW7_BlendModeCount ? 1u : 0u);
    }
}

TEST_F(CompositingTest, LastModeCombinesAccumWithLastIntoImage1) {
    m_job.volume = BoundArray{};  // no samples: R comes from the initial values alone
    for (uint32_t mode = 0; mode < 20; ++mode) {
        SCOPED_TRACE(mode);
        m_image1.Set(0, 0, 0, Pack(m_last, 0xBBBBBBBB));
        ImageControl(NKW7_ImageWrite::Image1, NKW7_BlendMode::Replace, static_cast<NKW7_BlendMode>(mode), true, true);
        RenderOk();
        using Mode = NKW7_BlendMode;
        const bool combines = (mode >= NKW7_Code(Mode::Replace) && mode <= NKW7_Code(Mode::FrontToBackPreWeighted)) ||
                              (mode >= NKW7_Code(Mode::EmptyBits) && mode <= NKW7_Code(Mode::MaxAlpha));
        ExpectColour(m_image1.Get(0), combines ? ReferenceBlend(mode, Unpack(Pack(m_acc)), Unpack(Pack(m_last))) : m_acc);
        // Image 1 starts from Last's word once a last mode is set.
        EXPECT_EQ(m_image1.Get(0) >> 32, mode == NKW7_Code(NKW7_BlendMode::None) ? 0xAAAAAAAAu : 0xBBBBBBBBu);
    }
}

TEST_F(CompositingTest, PixelsWithoutAnInitialElementStartFromTheRegisterColour) {
    m_job.volume = BoundArray{};
    Set(NKW7_ImageAccumValue_Addr, uint64_t{4095} << 4 | uint64_t{0} << 20 | uint64_t{2048} << 36 |
                                       uint64_t{4095} << 52);
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);  // no initAccum
    RenderOk();
    EXPECT_EQ(m_image0.Get(0), 0xFF80'00FFu);  // bits outside the fields become 0
}

TEST_F(CompositingTest, BackToFrontModesVisitTheRayFromItsFarEnd) {
    // Slice 0 is opaque red, slice 1 opaque green.
    HostArray volume(3, 1, 1, 2, 4, 1);
    volume.Set(0, 0, 0, Pack({1, 0, 0, 1}));
    volume.Set(0, 0, 1, Pack({0, 1, 0, 1}));
    m_job.volume = volume.Bind();
    Frustum(0, 0, 0, 0, 0, 1);
    Trims(-128, 128, -128, 128, -128, 384);
    const std::pair<uint32_t, Colour> cases[] = {
        {1, {0, 1, 0, 1}}, {2, {1, 0, 0, 1}}, {3, {1, 0, 0, 1}}, {4, {1, 0, 0, 1}}, {5, {1, 0, 0, 1}}};
    for (const auto& [mode, expected] : cases) {
        SCOPED_TRACE(mode);
        ImageControl(NKW7_ImageWrite::Image0, static_cast<NKW7_BlendMode>(mode));
        RenderOk();
        ExpectColour(m_image0.Get(0), expected);
    }
}

// A 4 x 2 frustum over 2 x 2 images.
class OutputTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        std::fill(m_image0.data.begin(), m_image0.data.end(), 0x5C);
        std::fill(m_image1.data.begin(), m_image1.data.end(), 0x5C);
        m_job.image0 = m_image0.Bind();
        m_job.image1 = m_image1.Bind();
        Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F10);
        Set(NKW7_Image1FieldSel_Addr, 0x0F0F0F10);
        Set(NKW7_ImageAccumValue_Addr, uint64_t{4095} << 4);
        Frustum(0, 0, 0, 3, 1, 0);
    }
    HostArray m_image0{2, 2, 2, 1, 1, 2};
    HostArray m_image1{2, 2, 2, 1, 1, 3};
};

TEST_F(OutputTest, WritesStayInsideTheMaskTheSelectedImagesAndTheirStorage) {
    ImageControl(NKW7_ImageWrite::Both, NKW7_BlendMode::Replace);
    m_job.writeMask = 1;
    RenderOk();
    EXPECT_EQ(m_image0.data, std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(m_image1.data, std::vector<uint8_t>(4, 0x5C));
    // Half of the frustum lies past the storage: 4 writes dropped; image 1
    // is not in the mask: 8 writes refused.
    EXPECT_EQ(Diagnostics().droppedWrites, 4u);
    EXPECT_EQ(Diagnostics().writesOutsideMask, 8u);

    ClearChipDiagnostics();
    m_job.writeMask = 3;
    m_job.image1 = BoundArray{};  // an unbound slot takes no write
    ImageControl(NKW7_ImageWrite::Image1, NKW7_BlendMode::Replace);
    RenderOk();
    EXPECT_EQ(Diagnostics().droppedWrites, 8u);

    ClearChipDiagnostics();
    std::fill(m_image0.data.begin(), m_image0.data.end(), 0x5C);
    ImageControl(NKW7_ImageWrite::None, NKW7_BlendMode::Replace);
    RenderOk();
    EXPECT_EQ(m_image0.data, std::vector<uint8_t>(4, 0x5C));
    // Nor does a frustum that is empty on one axis.
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
    Frustum(1, 0, 0, 0, 1, 0);
    RenderOk();
    EXPECT_EQ(m_image0.data, std::vector<uint8_t>(4, 0x5C));
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(OutputTest, ElementSizesTheChipCannotAddressFailTheRender) {
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
    Set(NKW7_Image0ArrayDimensions_Addr, 0x12);  // three bytes
    EXPECT_EQ(Render(), TULX7_DR_STATUS_HW_ERROR);
    EXPECT_NE(m_diagnostic.find("image 0"), std::string::npos) << m_diagnostic;
    EXPECT_EQ(m_image0.data, std::vector<uint8_t>(4, 0x5C));

    m_writes.erase(NKW7_Image0ArrayDimensions_Addr);
    HostArray depth(2, 2, 2, 1, 4, 4);
    m_job.depth1 = depth.Bind();
    Set(NKW7_Depth1ArrayDimensions_Addr, 0x15);
    EXPECT_EQ(Render(), TULX7_DR_STATUS_HW_ERROR);
    EXPECT_NE(m_diagnostic.find("depth 1"), std::string::npos) << m_diagnostic;
    // The same register on an unbound slot is only a stored value.
    m_job.depth1 = BoundArray{};
    RenderOk();
}

TEST_F(ChipTest, TheConversionProgrammeCopiesEveryBitIntoAWrappedBuffer) {
    // The old image holds a 6 x 5 window at (3, 2) of 32-bit pixels with 8-bit
    // red, green and blue and an undescribed top byte; the new buffer is a
    // 8 x 8 wrapped one, read back through the same moduli.
    HostArray oldImage(2, 12, 8, 1, 4, 1), newImage(2, 8, 8, 1, 4, 2);
    std::mt19937 random(5);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) oldImage.Set(x, y, 0, random());
    std::fill(newImage.data.begin(), newImage.data.end(), 0xA5);
    oldImage.SetRange(3, 2, 0, 8, 6, 0);
    newImage.bound.wrap = true;
    newImage.bound.offsetModulus[0] = 7;
    newImage.bound.offsetModulus[1] = 7;
    m_job.image0 = oldImage.Bind();
    m_job.image1 = newImage.Bind();
    m_job.writeMask = 2;
    // The conversion's own words: a dummy 8^3 volume that is never bound,
    // zero fields, tables and ALUs, initAccum and a write into image 1.
    Set(NKW7_VolumeArraySize_Addr, 0x0000000700070007);
    Set(NKW7_VolumeArrayDimensions_Addr, 0x20);
    Set(NKW7_VolumeRangeMax_Addr, 0x0000000700070007);
    Frustum(3, 2, 0, 8, 6, 0);
    Set(NKW7_Image0FieldSel_Addr, 0x0F141210);
    Set(NKW7_Image1FieldSel_Addr, 0x0F141210);
    Set(NKW7_VoxelFormat_Addr, 0);
    for (uint32_t a = NKW7_LookupTableFormat0_Addr; a <= NKW7_Alu2_Addr; a += 4) Set(a, 0);
    Set(NKW7_Section_Addr, 0x303);
    Set(NKW7_ImageControl_Addr, 0x60000000);
    RenderOk();
    // Coordinate (x, y) of the window lives at storage (x & 7, y & 7);
    // storage columns 1 and 2 and rows 0, 1 and 7 are not in it.
    for (int y = 2; y <= 6; ++y)
        for (int x = 3; x <= 8; ++x)
            ASSERT_EQ(newImage.Get(x & 7, y & 7), oldImage.Get(x, y)) << x << "," << y;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (x == 1 || x == 2 || y < 2 || y == 7) {
                ASSERT_EQ(newImage.Get(x, y), 0xA5A5A5A5u) << x << "," << y;
            }
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(ChipTest, AResampleIntoItsOwnSourceReadsTheSourceAsItWas) {
    // Shifting a row by half a voxel mixes neighbours; in place, a pixel
    // must not see its left neighbour's new value.
    HostArray source(2, 8, 1, 1, 1, 1), target(2, 8, 1, 1, 1, 2);
    for (int x = 0; x < 8; ++x) source.Set(x, 0, 0, static_cast<uint64_t>(x * 30));
    target.data = source.data;
    Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
    Set(NKW7_Image0FieldSel_Addr, 0x0F0F0F10);
    Set(NKW7_OriginXv8_Addr, kOne / 2);
    Frustum(0, 0, 0, 7, 0, 0);
    Trims(-(1 << 20), 1 << 20, 0, 0, 0, 0);
    m_job.volume = source.Bind();
    m_job.image0 = target.Bind();
    RenderOk();
    const std::vector<uint8_t> outOfPlace = target.data;

    m_job.image0 = source.Bind();
    m_job.image0.bufferId = m_job.volume.bufferId;
    RenderOk();
    EXPECT_EQ(source.data, outOfPlace);
    EXPECT_EQ(outOfPlace[0], 15);
    EXPECT_EQ(outOfPlace[7], 105);  // 210 mixed with the border (0)
}

}  // namespace
}  // namespace tulx7sim::test
