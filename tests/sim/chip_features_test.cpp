// The chip's optional stages against analytic results: gradients and their
// output, lighting, crop and cut planes, depth, early termination, filters,
// sum and count, classify-first interpolation and alpha correction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

constexpr uint32_t kRgba16 = 0x3C383430, kSignedRgba16 = 0x7C787470;

// An n x n x n volume of 8-bit voxels whose value is every channel of its
// sample (bypassed, routed by the ALUs), nearest; an n x n image of 16-bit
// RGBA; slice zs of the frustum at Zv = zs.
class FeatureTest : public ChipTest {
protected:
    void Volume(int n, const std::function<int(int, int, int)>& value, uint32_t slices = 0) {
        m_volume = std::make_unique<HostArray>(3, n, n, n, 1, 1);
        for (int w = 0; w < n; ++w)
            for (int v = 0; v < n; ++v)
                for (int u = 0; u < n; ++u) m_volume->Set(u, v, w, static_cast<uint64_t>(value(u, v, w)));
        m_image = std::make_unique<HostArray>(2, n, n, 1, 8, 2);
        m_job.volume = m_volume->Bind();
        m_job.image0 = m_image->Bind();
        Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
        Set(NKW7_Image0FieldSel_Addr, kRgba16);
        Set(NKW7_Alu0_Addr, 0x03030303);
        Set(NKW7_Alu2_Addr, 0x03030303);
        Set(NKW7_InterpolateControl_Addr, 0);
        Frustum(0, 0, 0, static_cast<uint32_t>(n - 1), static_cast<uint32_t>(n - 1), slices);
        Trims(-(1 << 30), 1 << 30, -(1 << 30), 1 << 30, -(1 << 30), 1 << 30);
    }
    double Channel(int x, int y, int k, bool isSigned = false) const {
        const auto raw = static_cast<uint16_t>(m_image->Get(x, y) >> (16 * k));
        return isSigned ? static_cast<int16_t>(raw) / 32767.0 : raw / 65535.0;
    }
    uint64_t Samples() {
        ClearChipDiagnostics();
        RenderOk();
        return Diagnostics().samples;
    }

    std::unique_ptr<HostArray> m_volume, m_image;
};

double Unit(int value) { return value * 257 / 65535.0; }
int Ramp(int u, int, int) { return 16 * u + 8; }

TEST_F(FeatureTest, ARampHasAnExactCorrectableGradientWrittenAsSignedComponents) {
    Volume(8, Ramp);
    Set(NKW7_OriginZv8_Addr, 3 * kOne);
    Set(NKW7_Image0FieldSel_Addr, kSignedRgba16);
    // Central differences of field 0 on every axis, gradient and magnitude out.
    Set(NKW7_GradientControl_Addr, 0xC0000200);
    for (const double g11 : {1.0, 0.5}) {
        SCOPED_TRACE(g11);
        const auto magnitude = static_cast<uint32_t>(std::lround(g11 * 4095));
        Set(NKW7_GradientCorrection0_Addr, magnitude << 3);
        Set(NKW7_GradientCorrection1_Addr, 4095u << 19);
        Set(NKW7_GradientCorrection2_Addr, 4095u << 19);
        Set(NKW7_GradientControl_Addr, 0xC0400200);
        RenderOk();
        const double g = (Unit(Ramp(2, 0, 0)) - Unit(Ramp(0, 0, 0))) / 2 * (magnitude / 4095.0);
        const double g9 = std::round(g * 511);
        for (int x = 1; x < 7; ++x) {
            EXPECT_NEAR(Channel(x, 4, 0, true), g9 / 511, 0.5 / 32767) << x;
            EXPECT_EQ(Channel(x, 4, 1, true), 0.0);
            EXPECT_NEAR(Channel(x, 4, 3, true), g9 / 511, 0.5 / 32767);
        }
    }
}

TEST_F(FeatureTest, ASphereLitThroughADiffuseMapFollowsNDotL) {
    const double centre = 7.5, light[3] = {0.48, 0.6, 0.64};
    auto density = [&](int u, int v, int w) {
        const double r = std::hypot(u - centre, v - centre, w - centre);
        return static_cast<int>(std::clamp(255 - 20 * r, 0.0, 255.0));
    };
    Volume(16, density);
    Set(NKW7_OriginZv8_Addr, 8 * kOne);
    Set(NKW7_Alu2_Addr, 0x0F0F0F0F);               // white and opaque
    Set(NKW7_LightingCoefficient_Addr, 0x00FF0000);  // diffuse only
    const std::vector<uint64_t> map = MakeReflectanceMap(
        [&](const double (&d)[3]) { return d[0] * light[0] + d[1] * light[1] + d[2] * light[2]; });
    BoundTable& table = m_job.tables[5];
    table = BoundTable{true, 9, 0, 384, reinterpret_cast<const uint8_t*>(map.data()), map.size() * 8};
    RenderOk();
    EXPECT_EQ(Diagnostics().Total(), 0u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const double r = std::hypot(x - centre, y - centre, 8 - centre);
            if (r < 2 || r > 6) continue;  // away from the centre and the clamped rim
            const double n[3] = {(x - centre) / r, (y - centre) / r, (8 - centre) / r};
            EXPECT_NEAR(Channel(x, y, 0), std::max(0.0, n[0] * light[0] + n[1] * light[1] + n[2] * light[2]), 0.08)
                << x << "," << y;
        }
}

TEST_F(FeatureTest, CropGroupsAndCutPlanesKeepTheAnalyticSamples) {
    Volume(16, Ramp);
    Set(NKW7_CropRangeXmin_Addr, 4 * 256);
    Set(NKW7_CropRangeXmax_Addr, 7 * 256 + 255);
    Set(NKW7_CropRangeYmin_Addr, 4 * 256);
    Set(NKW7_CropRangeYmax_Addr, 7 * 256 + 255);
    // Group 0 bounds X, group 1 Y; 4 columns or rows of 16 each.
    const std::pair<uint32_t, uint64_t> crops[] = {
        {0x1, 64}, {0x9, 192}, {0x21, 16}, {0x1021, 112}, {0x3021, 144}, {0x3, 16}, {0x0, 256}, {0x2000, 256}};
    for (const auto& [control, expected] : crops) {
        Set(NKW7_CropControl_Addr, control);
        EXPECT_EQ(Samples(), expected) << std::hex << control;
    }
    Set(NKW7_CropControl_Addr, 0);
    // Plane 2: c = xs, kept inside [4, 7] with visibility 1, outside it with 0.
    Set(NKW7_CutPlane2_dCut_dXs_Addr, 65536);
    Set(NKW7_CutPlane2_min_Addr, 4 << 16);
    Set(NKW7_CutPlane2_max_Addr, 7 << 16);
    Set(NKW7_CutPlaneControl_Addr, 0x05000000);
    EXPECT_EQ(Samples(), 64u);
    Set(NKW7_CutPlaneControl_Addr, 0x04000000);
    EXPECT_EQ(Samples(), 192u);
    // Soft: alpha rises over one unit inside the edge, c = xs / 4.
    Set(NKW7_CutPlane2_dCut_dXs_Addr, 16384);
    Set(NKW7_CutPlane2_min_Addr, 0);
    Set(NKW7_CutPlane2_max_Addr, 1 << 30);
    Set(NKW7_CutPlaneControl_Addr, 0x07000000);
    EXPECT_EQ(Samples(), 256u);
    for (int x = 0; x < 8; ++x)
        EXPECT_NEAR(Channel(x, 0, 3), Unit(Ramp(x, 0, 0)) * std::min(1.0, x / 4.0), 1e-4) << x;
}

// Rays that spread from slice to slice, X = xs (1 + zs / 4), Y likewise: a plane over the grid cuts where the
// grid index says, one over the position where the sample lies, hard and soft.
TEST_F(FeatureTest, PositionalCutPlanesFollowSpreadingRays) {
    Volume(16, Ramp, 7);
    Set(NKW7_ddXv8_dXs_dZs_Addr, kOne / 4);
    Set(NKW7_ddYv8_dYs_dZs_Addr, kOne / 4);
    // Plane 1: X + Y kept up to 8, with the plane's rates in dXs and dYs.
    Set(NKW7_CutPlane1_dCut_dXs_Addr, 65536);
    Set(NKW7_CutPlane1_dCut_dYs_Addr, 65536);
    Set(NKW7_CutPlane1_min_Addr, static_cast<uint32_t>(-(1 << 30)));
    Set(NKW7_CutPlane1_max_Addr, 8 << 16);
    uint64_t overGrid = 0, overPosition = 0;
    for (int zs = 0; zs < 8; ++zs)
        for (int ys = 0; ys < 16; ++ys)
            for (int xs = 0; xs < 16; ++xs) {
                overGrid += xs + ys <= 8;
                overPosition += (xs + ys) * (1 + zs / 4.0) <= 8;
            }
    const uint32_t enable = NKW7_FIELD(CutPlaneControl, enable1, 1) | NKW7_FIELD(CutPlaneControl, visibility1, 1);
    Set(NKW7_CutPlaneControl_Addr, enable);
    EXPECT_EQ(Samples(), overGrid);
    Set(NKW7_CutPlaneControl_Addr, enable | NKW7_FIELD(CutPlaneControl, positional1, 1));
    EXPECT_EQ(Samples(), overPosition);
    // Z's rate is dZs: Z kept from 3 on, whatever the grid's X and Y.
    Set(NKW7_CutPlane1_dCut_dXs_Addr, 0);
    Set(NKW7_CutPlane1_dCut_dYs_Addr, 0);
    Set(NKW7_CutPlane1_dCut_dZs_Addr, 65536);
    Set(NKW7_CutPlane1_min_Addr, 3 << 16);
    Set(NKW7_CutPlane1_max_Addr, 1 << 30);
    EXPECT_EQ(Samples(), 5u * 16 * 16);
    // Soft over the position: alpha rises over one voxel from X = 2 on, on slice 4, where X = 2 xs.
    Frustum(0, 0, 4, 15, 15, 4);
    Set(NKW7_CutPlane1_dCut_dXs_Addr, 65536);
    Set(NKW7_CutPlane1_dCut_dZs_Addr, 0);
    Set(NKW7_CutPlane1_min_Addr, 2 << 16);
    Set(NKW7_CutPlaneControl_Addr, enable | NKW7_FIELD(CutPlaneControl, positional1, 1) |
                                       NKW7_FIELD(CutPlaneControl, falloff1, 1));
    RenderOk();
    for (int x = 0; x < 8; ++x) {
        const double position = 2.0 * x, weight = std::clamp(position - 2.0, 0.0, 1.0);
        EXPECT_NEAR(Channel(x, 0, 3), Unit(Ramp(int(position), 0, 4)) * weight, 1e-4) << x;
    }
}

TEST_F(FeatureTest, DepthsOfACubesFacesAndTheSixTestsAgainstAStep) {
    auto cube = [](int u, int v, int w) { return u >= 2 && u <= 5 && v >= 2 && v <= 5 && w >= 2 && w <= 5 ? 255 : 0; };
    Volume(8, cube, 7);
    Set(NKW7_dZv8_dZs_Addr, kOne);
    Set(NKW7_dD_dZs_Addr, uint64_t{1} << 32);
    HostArray first(2, 8, 8, 1, 4, 4), last(2, 8, 8, 1, 4, 5);
    m_job.depth0 = first.Bind();
    m_job.depth1 = last.Bind();
    // Only opaque samples update either depth; both are written.
    Set(NKW7_SampleAlphaRange_Addr, 4095u << 20 | 1u << 4);
    Set(NKW7_DepthInitValue0_Addr, 100);
    Set(NKW7_DepthInitValue1_Addr, 200);
    Set(NKW7_DepthControl_Addr, 0x00080830);
    RenderOk();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 5;
            EXPECT_EQ(first.Get(x, y), inside ? 2u : 100u) << x << "," << y;
            EXPECT_EQ(last.Get(x, y), inside ? 5u : 200u) << x << "," << y;
        }
    // A step in depth 0 (3 left, 6 right) tested against every sample's zs.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) first.Set(x, y, 0, x < 4 ? 3 : 6);
    const std::function<bool(int, int)> tests[] = {
        std::less<int>(), std::less_equal<int>(), std::equal_to<int>(),
        std::greater_equal<int>(), std::greater<int>(), std::not_equal_to<int>()};
    for (uint32_t code = 1; code <= 6; ++code) {
        Set(NKW7_DepthControl_Addr, code << 29 | 7u << 26 | 1u << 24 | 1u << 6);
        uint64_t expected = 0;
        for (int x = 0; x < 8; ++x)
            for (int zs = 0; zs < 8; ++zs) expected += 8 * tests[code - 1](zs, x < 4 ? 3 : 6);
        EXPECT_EQ(Samples(), expected) << code;
    }
}

TEST_F(FeatureTest, EarlyTerminationStopsWithinItsThresholdAndSumAndCountIsExact) {
    Volume(4, [](int, int, int) { return 64; }, 3);
    Set(NKW7_dZv8_dZs_Addr, kOne);
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::FrontToBackPreWeighted);
    const uint64_t full = Samples();
    const double fullAlpha = Channel(1, 1, 3);
    Set(NKW7_ErtThreshold_Addr, 2048u << 20);
    Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | 1u << 9);
    const uint64_t cut = Samples();
    EXPECT_LT(cut, full);
    EXPECT_GE(Channel(1, 1, 3), 2048 / 4095.0 - 1e-4);
    EXPECT_LE(Channel(1, 1, 3), fullAlpha);

    // Sum and count: alpha summed in red, samples counted in green, exactly.
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::SumAndCount);
    Frustum(0, 0, 0, 3, 3, 2);
    Samples();
    const double q = std::floor(Unit(64) * 4095 + 0.5);
    EXPECT_EQ(Channel(1, 1, 0), std::round(std::min(4095.0, 3 * q) / 4095 * 65535) / 65535);
    EXPECT_EQ(Channel(1, 1, 1), std::round(3 / 4095.0 * 65535) / 65535);
    // Space leaping skips samples no more opaque than its threshold.
    Set(NKW7_RenderOperation_Addr, Get(NKW7_RenderOperation_Addr) | 1u << 14);
    Set(NKW7_EmptyThreshold_Addr, static_cast<uint32_t>(q) << 20);
    EXPECT_EQ(Samples(), 0u);
}

TEST_F(FeatureTest, FiltersKeepTheSamplesTheirDirectionAndAlphaTestsPass) {
    Volume(8, Ramp);
    Set(NKW7_GradientControl_Addr, 0x200);
    Set(NKW7_EyeVector_Addr, 0xFFC00000);  // towards -u, the ramp's outward normal: front-facing
    Frustum(1, 0, 0, 6, 7, 0);             // the border turns the gradient at the edges
    const std::pair<uint32_t, uint64_t> directions[] = {{0, 48}, {1, 0}, {2, 48}, {3, 0}};
    for (const auto& [bits, expected] : directions) {
        ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
        Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | bits);
        EXPECT_EQ(Samples(), expected) << bits;
    }
    // Sample alpha inside the 12-bit values of columns 2..4.
    auto q12 = [](int value) { return static_cast<uint32_t>(std::floor(Unit(value) * 4095 + 0.5)); };
    Set(NKW7_SampleAlphaRange_Addr, q12(Ramp(4, 0, 0)) << 20 | q12(Ramp(2, 0, 0)) << 4);
    ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
    Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | 1u << 3);
    EXPECT_EQ(Samples(), 24u);
}

TEST_F(FeatureTest, ClassifyFirstAndAlphaCorrectionMatchTheirTables) {
    // Table 0 squares its index; classify-first interpolates looked-up
    // values across a two-voxel row at every 1/256 position.
    Volume(2, [](int u, int, int) { return 80 + 100 * u; });
    std::vector<uint64_t> squares(256), identity(56);
    for (size_t e = 0; e < 256; ++e) squares[e] = (e * e * 4095 / 65025) * 0x0001000100010001u;
    for (size_t e = 0; e < 56; ++e) identity[e] = static_cast<uint64_t>(std::lround(e * 4095 / 55.0)) << 4;
    m_job.tables[0] = BoundTable{true, 9, 0, 256, reinterpret_cast<const uint8_t*>(squares.data()), 2048};
    m_job.tables[7] = BoundTable{true, 10, 0, 56, reinterpret_cast<const uint8_t*>(identity.data()), 448};
    Set(NKW7_LookupTableFormat0_Addr, 0x20202020);
    Set(NKW7_RenderOperation_Addr, 0x1F540000);  // table 0 looked up
    Set(NKW7_InterpolateControl_Addr, 3);
    Set(NKW7_dXv8_dXs_Addr, kOne / 256);
    m_image = std::make_unique<HostArray>(2, 256, 1, 1, 8, 2);
    m_job.image0 = m_image->Bind();
    Frustum(0, 0, 0, 255, 0, 0);
    auto look = [&](int value) { return static_cast<double>(squares[static_cast<size_t>(value * 257 >> 8)] & 0xFFF) / 4095; };
    for (const bool corrected : {false, true}) {
        ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::Replace);
        Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | uint64_t{corrected} << 8);
        RenderOk();
        EXPECT_EQ(Diagnostics().Total(), 0u);
        for (int x = 0; x < 256; ++x) {
            const double expected = look(80) + (look(180) - look(80)) * x / 256;
            EXPECT_NEAR(Channel(x, 0, 0), expected, 1e-4) << x;
            EXPECT_NEAR(Channel(x, 0, 3), expected, corrected ? 1.0 / 4095 : 1e-4) << x;
        }
    }
}

}  // namespace
}  // namespace tulx7sim::test
