// The host warp of base planes into the frame: its fill rule, its filter
// against a host reference, depth without empty neighbours, and reads that
// stay inside exactly sized planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "geometry/post_warp.h"

using namespace ulm3;

namespace {

// Canvas pixel (x, y) -> base plane ((a x + b) / w, (c y + d) / w) with
// w = 1 + e x + f y.
ULMMatrix Projective(double a, double b, double c, double d, double e, double f) {
    return ULMMatrix(a, 0, 0, b, 0, c, 0, d, 0, 0, 1, 0, e, f, 0, 1);
}

TEST(ULMPostWarp, PolygonsSharingEdgesWriteEachCoveredPixelOnceAndKeepAConstantPlane) {
    constexpr int kW = 64, kH = 48, kBase = 128;
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    const ULMMatrix m = Projective(1.1, 2.2, 1.1, 2.2, 0.002, 0.001);
    for (int round = 0; round < 8; ++round) {
        const int bits = round % 2 ? 64 : 32;
        const uint64_t value = bits == 64 ? 0xFEDCBA987654ull : 0x01020304u;
        std::vector<uint64_t> base64(kBase * kBase, value);
        std::vector<uint32_t> base32(kBase * kBase, uint32_t(value));
        const void* base = bits == 64 ? static_cast<const void*>(base64.data()) : base32.data();
        // A jittered 4 x 3 grid over [x0, x1] x [y0, y1]; outer corners stay
        // on the rectangle.
        const double x0 = 3.3 + round * 0.1, x1 = 57.7, y0 = 2.6, y1 = 41.2 - round * 0.1;
        ULMVector2D grid[5][4];
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; j <= 3; ++j) {
                const double gx = x0 + (x1 - x0) * i / 4, gy = y0 + (y1 - y0) * j / 3;
                const bool inner = i > 0 && i < 4 && j > 0 && j < 3;
                grid[i][j] = ULMVector2D(gx + (inner ? 10 * jitter(rng) : 0),
                                         gy + (inner ? 10 * jitter(rng) : 0));
            }
        std::vector<int> writes(kW * kH, 0);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j) {
                ULMVector2D quad[4] = {grid[i][j], grid[i + 1][j], grid[i + 1][j + 1], grid[i][j + 1]};
                if ((i + j) % 2) std::swap(quad[1], quad[3]);  // both windings
                std::vector<uint64_t> canvas(kW * kH, 0);
                ULMPostWarp warp;
                warp.WarpBasePlane(base, nullptr, nullptr, kBase, kBase, canvas.data(), nullptr,
                                   nullptr, kW, kH, bits, nullptr, quad, 4, m);
                const auto* c32 = reinterpret_cast<const uint32_t*>(canvas.data());
                for (int p = 0; p < kW * kH; ++p) {
                    const uint64_t got = bits == 64 ? canvas[p] : c32[p];
                    if (got == 0) continue;
                    ++writes[p];
                    EXPECT_EQ(got, value);
                }
            }
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool covered = x >= std::ceil(x0) && x < std::ceil(x1) && y >= std::ceil(y0) &&
                                     y < std::ceil(y1);
                ASSERT_EQ(writes[y * kW + x], covered ? 1 : 0) << round << ": " << x << ", " << y;
            }
    }
}

// A clipped tile may repeat a corner, or add one on an edge, beside its top corner: it fills what the plain
// rectangle fills, in either winding.
TEST(ULMPostWarp, RepeatedAndInlineCornersFillWhatThePlainPolygonFills) {
    constexpr int kW = 40, kH = 30, kBase = 64;
    const std::vector<uint32_t> base(kBase * kBase, 0x11223344u);
    const ULMMatrix m = Projective(1.0, 0.5, 1.0, 0.5, 0.0, 0.0);
    const auto fill = [&](std::vector<ULMVector2D> corners, bool reversed) {
        if (reversed) std::reverse(corners.begin(), corners.end());
        std::vector<uint32_t> canvas(kW * kH, 0);
        ULMPostWarp warp;
        warp.WarpBasePlane(base.data(), nullptr, nullptr, kBase, kBase, canvas.data(), nullptr, nullptr, kW, kH, 32,
                           nullptr, corners.data(), int(corners.size()), m);
        return canvas;
    };
    const ULMVector2D a(35.5, -0.5), b(35.5, 25.5), c(-0.5, 25.5), d(-0.5, -0.5), top(17.5, -0.5);
    const std::vector<ULMVector2D> variants[] = {
        {a, a, b, c, d, d}, {a, b, c, d, d}, {a, a, b, c, d}, {d, a, a, b, c}, {a, b, c, d, top}, {top, a, b, c, d}};
    for (const bool reversed : {false, true}) {
        const std::vector<uint32_t> plain = fill({a, b, c, d}, reversed);
        ASSERT_EQ(std::count(plain.begin(), plain.end(), 0x11223344u), 36 * 26);
        for (const auto& v : variants) EXPECT_EQ(fill(v, reversed), plain) << &v - variants << " " << reversed;
    }
}

// Neighbouring mini-frustums compute the edge they share each on its own: an edge through pixel centres, seen a
// rounding error apart from either side, still gives each of those pixels to exactly one of them.
TEST(ULMPostWarp, AnEdgeSharedARoundingErrorApartWritesItsPixelsOnce) {
    constexpr int kW = 24, kH = 20, kBase = 32;
    const std::vector<uint32_t> base(kBase * kBase, 0x01010101u);
    const ULMMatrix m = Projective(1.0, 0.5, 1.0, 0.5, 0.0, 0.0);
    for (const double apart : {-3e-13, 2.5e-13}) {
        // A left and a right half meeting on x = 10, and a top and bottom half meeting on y = 8.
        const double e = 10 + apart, f = 10 - apart, g = 8 + apart, h = 8 - apart;
        const ULMVector2D halves[4][4] = {{{-0.5, -0.5}, {e, -0.5}, {e, 19.5}, {-0.5, 19.5}},
                                          {{f, -0.5}, {23.5, -0.5}, {23.5, 19.5}, {f, 19.5}},
                                          {{-0.5, -0.5}, {23.5, -0.5}, {23.5, g}, {-0.5, g}},
                                          {{-0.5, h}, {23.5, h}, {23.5, 19.5}, {-0.5, 19.5}}};
        for (int pair = 0; pair < 2; ++pair) {
            std::vector<int> writes(kW * kH, 0);
            for (int k = 2 * pair; k < 2 * pair + 2; ++k) {
                std::vector<uint32_t> canvas(kW * kH, 0);
                ULMPostWarp warp;
                warp.WarpBasePlane(base.data(), nullptr, nullptr, kBase, kBase, canvas.data(), nullptr, nullptr, kW, kH,
                                   32, nullptr, halves[k], 4, m);
                for (int p = 0; p < kW * kH; ++p) writes[p] += canvas[p] != 0;
            }
            EXPECT_EQ(std::count(writes.begin(), writes.end(), 1), kW * kH) << apart << " " << pair;
        }
    }
}

TEST(ULMPostWarp, FiltersEveryChannelBilinearlyAtTheProjectivePosition) {
    constexpr int kBase = 32, kW = 40;
    std::mt19937 rng(21);
    std::vector<uint32_t> base(kBase * kBase);
    for (uint32_t& p : base) p = rng();
    const ULMMatrix m = Projective(0.7, 0.3, 0.6, 1.1, 0.003, 0.002);
    std::vector<uint32_t> canvas(kW * kW, 0);
    const ULMVector2D square[4] = {{0.5, 0.5}, {39.5, 0.5}, {39.5, 39.5}, {0.5, 39.5}};
    ULMPostWarp warp;
    warp.WarpBasePlane(base.data(), nullptr, nullptr, kBase, kBase, canvas.data(), nullptr, nullptr,
                       kW, kW, 32, nullptr, square, 4, m);
    int checked = 0;
    for (int y = 1; y < kW; ++y)
        for (int x = 1; x < kW; ++x) {
            const double w = 1 + 0.003 * x + 0.002 * y;
            const double u = (0.7 * x + 0.3) / w, v = (0.6 * y + 1.1) / w;
            const int ix = int(u), iy = int(v);
            const double fx = u - ix, fy = v - iy;
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int px, int py) { return double((base[py * kBase + px] >> (8 * c)) & 255); };
                const double want = (1 - fx) * (1 - fy) * at(ix, iy) + fx * (1 - fy) * at(ix + 1, iy) +
                                    (1 - fx) * fy * at(ix, iy + 1) + fx * fy * at(ix + 1, iy + 1);
                EXPECT_NEAR(double((canvas[y * kW + x] >> (8 * c)) & 255), want, 2.0) << x << ", " << y;
            }
            ++checked;
        }
    EXPECT_EQ(checked, 39 * 39);
}

TEST(ULMPostWarp, DepthTakesOnlyRenderedNeighboursAndNeverWritesNothingRendered) {
    constexpr int kW = 16, kH = 4;
    std::vector<uint32_t> depth0(kW * kH), depth1(kW * kH, 0);
    for (int p = 0; p < kW * kH; ++p) depth0[p] = (p % kW) < 8 ? 0xAB005000u : 0xCD000000u;
    std::vector<uint32_t> canvas0(kW * kH, 77), canvas1(kW * kH, 77);
    const ULMVector2D rect[4] = {{0, 0}, {14, 0}, {14, 3}, {0, 3}};
    ULMPostWarp warp;
    // Half a pixel to the right: every sample mixes two columns equally.
    warp.WarpBasePlane(nullptr, depth0.data(), depth1.data(), kW, kH, nullptr, canvas0.data(),
                       canvas1.data(), kW, kH, 32, nullptr, rect, 4, Projective(1, 0.5, 1, 0, 0, 0));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 14; ++x) {
            // Column 7 mixes a rendered and an empty column: the rendered one.
            EXPECT_EQ(canvas0[y * kW + x], x <= 7 ? 0x5000u : 77u) << x;
            EXPECT_EQ(canvas1[y * kW + x], 77u);
        }
}

TEST(ULMPostWarp, NeighboursPastTheLastRowAndColumnReadTheEdge) {
    constexpr int kBase = 10, kW = 20;
    // Exactly sized planes: a read past the end is a sanitizer error.
    std::vector<uint32_t> base(kBase * kBase), depth(kBase * kBase);
    for (int p = 0; p < kBase * kBase; ++p) {
        base[p] = uint32_t(20 * (p % kBase) + 1) * 0x01010101u;
        depth[p] = uint32_t(1000 * (p % kBase) + 1000);
    }
    std::vector<uint32_t> canvas(kW * kW, 0), canvasDepth(kW * kW, 0);
    const ULMVector2D square[4] = {{0, 0}, {kW, 0}, {kW, kW}, {0, kW}};
    ULMPostWarp warp;
    // Positions 0.3 .. 9.8 in both directions.
    warp.WarpBasePlane(base.data(), depth.data(), nullptr, kBase, kBase, canvas.data(),
                       canvasDepth.data(), nullptr, kW, kW, 32, nullptr, square, 4,
                       Projective(0.5, 0.3, 0.5, 0.3, 0, 0));
    for (int y = 0; y < kW; ++y) {
        EXPECT_EQ(canvas[y * kW + kW - 1], 181u * 0x01010101u) << y;
        EXPECT_EQ(canvasDepth[y * kW + kW - 1], 10000u) << y;
    }
    for (int x = 0; x < kW; ++x) EXPECT_EQ(canvas[(kW - 1) * kW + x], canvas[x]) << x;
}

}  // namespace
