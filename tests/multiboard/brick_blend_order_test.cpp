// The order bricks composite in: the named views of the layouts that matter,
// and for many views of every layout, each brick ahead of every neighbour
// that lies behind it.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "multiboard/brick_blend_order.h"

namespace ulm3 {
namespace {

using Order = std::vector<int>;

Order OrderOf(const ULMSubVolumeDivision& inDivision, bool inPerspective, const std::array<double, 3>& inVector) {
    int order[kMultiboardMaxBricks], position[kMultiboardMaxBricks];
    const double v[3] = {inVector[0], inVector[1], inVector[2]};
    GenerateBrickBlendOrder(inDivision, inPerspective, v, order, position);
    for (int p = 0; p < inDivision.NumberOfBricks(); ++p) EXPECT_EQ(position[order[p]], p);  // the inverse
    return Order(order, order + inDivision.NumberOfBricks());
}

struct Case {
    const char* name;
    std::array<int, 3> size;
    int bricks;
    bool perspective;
    std::array<double, 3> vector;  // view direction, or the eye
    Order expected;
};

// Layouts: 512 x 64 x 64 in two is cut along X; a 256 cube in eight is
// 2 x 4 pieces in X and Y (brick x * 4 + y); 64 x 300 x 32 in three is cut
// along Y at 100 and 200.
TEST(BrickBlendOrderTest, NamedViews) {
    const Case cases[] = {
        {"+X over two", {512, 64, 64}, 2, false, {1, 0.1, 0.2}, {0, 1}},
        {"-X over two", {512, 64, 64}, 2, false, {-1, 0.1, 0.2}, {1, 0}},
        {"2x4 from -X", {256, 256, 256}, 8, false, {-1, 0, 0}, {4, 0, 5, 1, 6, 2, 7, 3}},
        {"2x4 from -X, -Y", {256, 256, 256}, 8, false, {-1, -0.5, 0}, {7, 3, 6, 2, 5, 1, 4, 0}},
        {"eye inside brick 1 of 3", {64, 300, 32}, 3, true, {30, 150, 16}, {1, 0, 2}},
        {"eye before brick 0 of 3", {64, 300, 32}, 3, true, {30, -40, 16}, {0, 1, 2}},
        {"eye beyond brick 2 of 3", {64, 300, 32}, 3, true, {30, 320, 80}, {2, 1, 0}},
        {"eye in the middle of 2x2", {256, 256, 64}, 4, true, {100, 200, 32}, {1, 0, 3, 2}},
    };
    for (const Case& c : cases) {
        const ULMVolumeRange range(c.size[0], c.size[1], c.size[2], 0, 0, 0);
        const ULMSubVolumeDivision division(range, range, 64, c.bricks, 2);
        EXPECT_EQ(OrderOf(division, c.perspective, c.vector), c.expected) << c.name;
    }
}

// Brick b's piece along each axis, from its owned range.
std::array<int, 3> Piece(const ULMSubVolumeDivision& inDivision, int b) {
    std::array<int, 3> piece{};
    for (int a = 0; a < 3; ++a)
        for (int o = 0; o < inDivision.NumberOfBricks(); ++o)
            piece[a] += inDivision.Brick(o).m_unloadRange.m_origin[a] < inDivision.Brick(b).m_unloadRange.m_origin[a] &&
                        inDivision.Brick(o).m_unloadRange.m_origin[(a + 1) % 3] ==
                            inDivision.Brick(b).m_unloadRange.m_origin[(a + 1) % 3] &&
                        inDivision.Brick(o).m_unloadRange.m_origin[(a + 2) % 3] ==
                            inDivision.Brick(b).m_unloadRange.m_origin[(a + 2) % 3];
    return piece;
}

// For random directions and eyes over every layout of 1 to 8 bricks: of two
// bricks side by side along an axis, the one the view reaches first (the
// one on the eye's side, or against the direction) is composited first.
TEST(BrickBlendOrderTest, NeighboursComeFrontToBack) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int bricks = 1; bricks <= 8; ++bricks) {
        const ULMVolumeRange range(200, 180, 40, 0, 0, 0);
        const ULMSubVolumeDivision division(range, range, 64, bricks, 3);
        for (int trial = 0; trial < 40; ++trial) {
            const bool perspective = trial % 2 == 1;
            const std::array<double, 3> v = perspective
                                                ? std::array<double, 3>{100 + 150 * unit(random), 90 + 140 * unit(random),
                                                                        20 + 60 * unit(random)}
                                                : std::array<double, 3>{unit(random), unit(random), unit(random)};
            const Order order = OrderOf(division, perspective, v);
            std::vector<int> at(static_cast<size_t>(bricks), 0);
            for (int p = 0; p < bricks; ++p) at[size_t(order[size_t(p)])] = p;
            for (int i = 0; i < bricks; ++i) {
                for (int j = 0; j < bricks; ++j) {
                    const std::array<int, 3> pi = Piece(division, i), pj = Piece(division, j);
                    for (int a = 0; a < 3; ++a) {
                        const bool neighbours = pj[a] == pi[a] + 1 && pj[(a + 1) % 3] == pi[(a + 1) % 3] &&
                                                pj[(a + 2) % 3] == pi[(a + 2) % 3];
                        if (!neighbours) continue;
                        // The face between them, and which side the view comes from.
                        const double face = division.Brick(j).m_unloadRange.m_origin[a];
                        const bool iFirst = perspective ? v[size_t(a)] < face : v[size_t(a)] >= 0;
                        if (perspective && std::abs(v[size_t(a)] - face) < 2) continue;  // on the face itself
                        EXPECT_EQ(at[size_t(i)] < at[size_t(j)], iFirst)
                            << bricks << " bricks, trial " << trial << ": " << i << " and " << j;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace ulm3
