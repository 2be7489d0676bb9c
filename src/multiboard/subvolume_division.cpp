// The cut of a volume into bricks.
#include "multiboard/subvolume_division.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ulm3 {

namespace {

// The gap the chip's 1/256-voxel positions leave between neighbouring boxes.
constexpr double kSeam = 1.0 / 256.0;

int Origin(const ULMVolumeRange& r, int a) { return r.m_origin[a]; }
int Size(const ULMVolumeRange& r, int a) { return r.m_size[a]; }

}  // namespace

ULMSubVolumeDivision::ULMSubVolumeDivision(const ULMVolumeRange& inBase, const ULMVolumeRange& inFull,
                                           int inOverlapParameter, int inCount, int inBoards)
    : m_base(inBase), m_boards(std::max(inBoards, 1)), m_numSubVolumes(std::clamp(inCount, 1, kMultiboardMaxBricks)) {
    ComputeOverlap(inBase, inFull, inOverlapParameter, m_overlapVoxels);
    DivideVolume(inFull.IsEmpty() ? inBase : inFull);
}

void ULMSubVolumeDivision::ComputeOverlap(const ULMVolumeRange& inBase, const ULMVolumeRange& inFull,
                                          int inOverlapParameter, int (&outOverlap)[3]) {
    for (int a = 0; a < 3; ++a) {
        const int64_t size = std::max(Size(inBase, a), 0);
        const int64_t full = Size(inFull, a);
        const int64_t quarter = size / 4;
        // A full range without voxels on the axis scales nothing.
        const int64_t scaled = full > 0 ? size * inOverlapParameter / full : quarter;
        outOverlap[a] = static_cast<int>(std::max<int64_t>(0, std::min(quarter, scaled)));
    }
}

int ULMSubVolumeDivision::CutAxis(int inSize, int inCount, int (&outOrigin)[kMultiboardMaxBricks],
                                  int (&outSize)[kMultiboardMaxBricks]) {
    int rest = std::max(inSize, 0);
    int k = std::clamp(inCount, 1, kMultiboardMaxBricks);
    int j = 0;
    while (rest > 0 && k > 0) {
        const int length = rest / k;
        int origin = rest - length;
        if (origin > 0 && origin % 2 != 0) --origin;
        outOrigin[j] = origin;
        outSize[j] = rest - origin;
        rest = origin;
        --k;
        ++j;
    }
    return j;
}

void ULMSubVolumeDivision::DivideVolume(const ULMVolumeRange& inLayout) {
    const int size[3] = {Size(m_base, 0), Size(m_base, 1), Size(m_base, 2)};
    // Working sizes and weights per axis: Z weighs nothing and is never cut,
    // since the chip's slices run along it in every view alike. They are
    // the outermost volume's, so that a coarser level is cut along the same
    // axes into as many pieces as the volume it is a level of, and each of
    // its bricks covers what the same brick of the finer level covers.
    const int layout[3] = {Size(inLayout, 0), Size(inLayout, 1), Size(inLayout, 2)};
    double work[3] = {double(layout[0]), double(layout[1]), double(layout[2])};
    double weight[3] = {double(layout[0]), 2.0 * layout[1], 0.0};
    const int a = layout[0] <= 2 * int64_t{layout[1]} ? 1 : 0;
    const int b = 1 - a;
    const auto cut = [&](int inAxis, int inPieces) {
        m_subVolumDiv[inAxis] *= inPieces;
        work[inAxis] = static_cast<unsigned>(std::ceil(work[inAxis] / inPieces));
        weight[inAxis] = static_cast<unsigned>(std::ceil(weight[inAxis] / inPieces));
    };
    const auto heavier = [&] { return weight[a] > weight[b] ? a : b; };
    switch (m_numSubVolumes) {
        case 2:
        case 3:
        case 5:
        case 7:
            cut(a, m_numSubVolumes);
            break;
        case 4:
            cut(a, 2);
            cut(heavier(), 2);
            break;
        case 6:
            cut(a, 3);
            cut(heavier(), 2);
            break;
        case 8:
            cut(a, 2);
            cut(heavier(), 2);
            cut(weight[0] <= weight[1] ? 1 : 0, 2);
            break;
        default:
            break;
    }
    for (int axis = 0; axis < 3; ++axis)
        if (m_subVolumDiv[axis] == 1) m_overlapVoxels[axis] = 0;

    int pieceOrigin[3][kMultiboardMaxBricks] = {};
    int pieceSize[3][kMultiboardMaxBricks] = {};
    int pieces[3];
    for (int axis = 0; axis < 3; ++axis)
        pieces[axis] = CutAxis(size[axis], m_subVolumDiv[axis], pieceOrigin[axis], pieceSize[axis]);
    int range[6] = {};
    int number = 0;
    if (pieces[0] > 0 && pieces[1] > 0 && pieces[2] > 0)
        FillSubVolRange(pieceSize, pieceOrigin, range, pieces, number, 0);
    m_made = number;
}

void ULMSubVolumeDivision::FillSubVolRange(const int (&inSize)[3][kMultiboardMaxBricks],
                                           const int (&inOrigin)[3][kMultiboardMaxBricks], int (&ioRange)[6],
                                           const int (&inPieces)[3], int& ioNumber, int inAxis) {
    // Pieces are stored highest first; bricks are numbered from the low end.
    for (int p = inPieces[inAxis] - 1; p >= 0; --p) {
        ioRange[inAxis] = inSize[inAxis][p];
        ioRange[3 + inAxis] = Origin(m_base, inAxis) + inOrigin[inAxis][p];
        if (inAxis < 2) {
            FillSubVolRange(inSize, inOrigin, ioRange, inPieces, ioNumber, inAxis + 1);
            continue;
        }
        if (ioNumber >= kMultiboardMaxBricks) return;
        ULMBrickRanges& brick = m_brick[ioNumber];
        const ULMVolumeRange owned(ioRange[0], ioRange[1], ioRange[2], ioRange[3], ioRange[4], ioRange[5]);
        double trim[6];
        ULMVolumeRange load = owned;
        for (int a = 0; a < 3; ++a) {
            const int origin = Origin(owned, a), end = origin + Size(owned, a);
            const int wholeEnd = Origin(m_base, a) + Size(m_base, a);
            trim[2 * a] = origin == Origin(m_base, a) ? origin - 0.5 : origin;
            trim[2 * a + 1] = end < wholeEnd ? end - kSeam : end - 0.5;
            load.m_origin[a] = origin - m_overlapVoxels[a];
            load.m_size[a] = Size(owned, a) + 2 * m_overlapVoxels[a];
            if (load.m_origin[a] % 2 != 0) --load.m_origin[a], ++load.m_size[a];
        }
        load.Intersect(m_base);
        brick.m_unloadRange = owned;
        brick.m_loadRange = load;
        brick.m_trimRange = TrimRange(trim[0], trim[1], trim[2], trim[3], trim[4], trim[5]);
        brick.m_location = static_cast<ULMLocation>(kULMBoard0 + ioNumber % m_boards);
        ++ioNumber;
    }
}

// Where the brick's render box begins. Taken from the loaded range less the
// overlap, the corner would be wrong wherever that range was clipped at the
// volume's low face or moved to an even voxel, and an eye there would be
// placed in the wrong brick.
void ULMSubVolumeDivision::CalculateSubVolumeTrim(int i, double (&outTrimMin)[3]) const {
    for (int a = 0; a < 3; ++a) outTrimMin[a] = m_brick[i].m_trimRange.Min(a);
}

bool ULMSubVolumeDivision::TrimMeets(const TrimRange& inTrimRange, int i) const {
    const TrimRange& t = m_brick[i].m_trimRange;
    for (int a = 0; a < 3; ++a)
        if (!(inTrimRange.Min(a) <= t.Max(a) && t.Min(a) <= inTrimRange.Max(a))) return false;
    return true;
}

TrimRange ULMSubVolumeDivision::IntersectTrim(const TrimRange& inTrimRange, int i) const {
    const TrimRange& t = m_brick[i].m_trimRange;
    if (!TrimMeets(inTrimRange, i)) return TrimRange();
    return TrimRange(std::max(t.minX, inTrimRange.minX), std::min(t.maxX, inTrimRange.maxX),
                     std::max(t.minY, inTrimRange.minY), std::min(t.maxY, inTrimRange.maxY),
                     std::max(t.minZ, inTrimRange.minZ), std::min(t.maxZ, inTrimRange.maxZ));
}

}  // namespace ulm3
