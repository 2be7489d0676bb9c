// Front-to-back order of bricks laid out on a grid of pieces.
#include "multiboard/brick_blend_order.h"

namespace ulm3 {

namespace {

// Appends the bricks of a block of the grid, each axis walked from
// inStart by inStep for inCount pieces, Z outermost and X innermost.
struct OrderBuilder {
    const int (&pieces)[3];
    int (&order)[kMultiboardMaxBricks];
    int (&position)[kMultiboardMaxBricks];
    int next = 0;

    void Block(const int (&inStart)[3], const int (&inStep)[3], const int (&inCount)[3]) {
        for (int k = 0, z = inStart[2]; k < inCount[2]; ++k, z += inStep[2])
            for (int j = 0, y = inStart[1]; j < inCount[1]; ++j, y += inStep[1])
                for (int i = 0, x = inStart[0]; i < inCount[0]; ++i, x += inStep[0]) {
                    const int brick = y + (z * pieces[0] + x) * pieces[1];
                    if (next >= kMultiboardMaxBricks || brick < 0 || brick >= kMultiboardMaxBricks) return;
                    order[next] = brick;
                    position[brick] = next++;
                }
    }
};

}  // namespace

void GenerateBrickBlendOrder(const ULMSubVolumeDivision& inDivision, bool inPerspective, const double (&inVector)[3],
                             int (&outBlendIndex)[kMultiboardMaxBricks],
                             int (&outSoftwBlendIndex)[kMultiboardMaxBricks]) {
    const int(&pieces)[3] = inDivision.Pieces();
    OrderBuilder builder{pieces, outBlendIndex, outSoftwBlendIndex};
    if (!inPerspective) {
        int start[3], step[3];
        for (int a = 0; a < 3; ++a) {
            const bool backwards = inVector[a] < 0.0;
            start[a] = backwards ? pieces[a] - 1 : 0;
            step[a] = backwards ? -1 : 1;
        }
        builder.Block(start, step, pieces);
        return;
    }
    // The eye's cell per axis: the first piece whose render share starts at
    // or beyond the eye, walking the pieces of that axis alone.
    int eyeCell[3];
    for (int a = 0; a < 3; ++a) {
        eyeCell[a] = pieces[a];
        for (int p = 0; p < pieces[a]; ++p) {
            const int along[3] = {a == 0 ? p : 0, a == 1 ? p : 0, a == 2 ? p : 0};
            const int brick = along[1] + (along[2] * pieces[0] + along[0]) * pieces[1];
            double corner[3];
            inDivision.CalculateSubVolumeTrim(brick, corner);
            if (corner[a] >= inVector[a]) {
                eyeCell[a] = p;
                break;
            }
        }
    }
    // The eight octants around the eye's cell, nearest first; on a minus
    // side the pieces below the eye going down, on a plus side the rest
    // going up.
    static constexpr int kOctants[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                           {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    for (const auto& octant : kOctants) {
        int start[3], step[3], count[3];
        for (int a = 0; a < 3; ++a) {
            const bool plus = octant[a] != 0;
            start[a] = plus ? eyeCell[a] : eyeCell[a] - 1;
            step[a] = plus ? 1 : -1;
            count[a] = plus ? pieces[a] - eyeCell[a] : eyeCell[a];
        }
        builder.Block(start, step, count);
    }
}

}  // namespace ulm3
