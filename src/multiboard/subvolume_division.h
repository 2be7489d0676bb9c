// How a volume is cut into bricks for rendering on several boards: the
// overlap of neighbours, the pieces per axis, each brick's owned and loaded
// voxels, the fractional box it renders and its board. Pure arithmetic on
// ranges, fixed once when the bricked volume is made.
#pragma once

#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/status.h"

namespace ulm3 {

// Most bricks one volume is cut into.
inline constexpr int kMultiboardMaxBricks = 8;

// A box in voxel coordinates of the whole volume: min and max per axis.
struct TrimRange {
    double minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;

    TrimRange() = default;
    TrimRange(double inMinX, double inMaxX, double inMinY, double inMaxY, double inMinZ, double inMaxZ)
        : minX(inMinX), maxX(inMaxX), minY(inMinY), maxY(inMaxY), minZ(inMinZ), maxZ(inMaxZ) {}
    double Min(int inAxis) const { return inAxis == 0 ? minX : inAxis == 1 ? minY : minZ; }
    double Max(int inAxis) const { return inAxis == 0 ? maxX : inAxis == 1 ? maxY : maxZ; }
    bool operator==(const TrimRange&) const = default;
};

// One brick of the division.
struct ULMBrickRanges {
    // Voxels on the brick's board: the owned range grown by the overlap,
    // its low ends made even, clipped to the volume.
    ULMVolumeRange m_loadRange;
    // Voxels the brick owns; the owned ranges tile the volume.
    ULMVolumeRange m_unloadRange;
    // What the brick renders: neighbours' boxes meet 1/256 voxel apart, so
    // every sample position the chip can take lies in exactly one.
    TrimRange m_trimRange;
    ULMLocation m_location = kULMNoBufferAttached;
};

class ULMSubVolumeDivision {
public:
    // Cuts inBase into inCount bricks (1..8) over inBoards boards. inFull
    // is the range of the outermost volume (the application's, of which
    // inBase may be a coarser level) and inOverlapParameter the configured
    // overlap in its voxels.
    ULMSubVolumeDivision(const ULMVolumeRange& inBase, const ULMVolumeRange& inFull, int inOverlapParameter,
                         int inCount, int inBoards);

    // Per axis the smaller of a quarter of the base's size and the
    // configured overlap scaled from the full volume to the base.
    static void ComputeOverlap(const ULMVolumeRange& inBase, const ULMVolumeRange& inFull,
                               int inOverlapParameter, int (&outOverlap)[3]);
    // The pieces of one axis of size inSize, from the high end down, each
    // low end even: origins and sizes, highest piece first; the number of
    // pieces made (fewer than inCount on an axis much shorter than it).
    static int CutAxis(int inSize, int inCount, int (&outOrigin)[kMultiboardMaxBricks],
                       int (&outSize)[kMultiboardMaxBricks]);

    // Lower corner of brick i's render box per axis: where the blend order
    // looks for the eye.
    void CalculateSubVolumeTrim(int i, double (&outTrimMin)[3]) const;
    // The part of inTrimRange (the context's trim box) that brick i renders;
    // all zero when they do not meet.
    TrimRange IntersectTrim(const TrimRange& inTrimRange, int i) const;
    // Whether brick i renders anything of inTrimRange: the all-zero box
    // IntersectTrim gives otherwise is a real box around voxel 0, which the
    // brick must not render.
    bool TrimMeets(const TrimRange& inTrimRange, int i) const;

    int NumberOfBricks() const { return m_numSubVolumes; }
    // Bricks actually laid out: fewer than asked when an axis is too short,
    // and then some are empty.
    int BricksMade() const { return m_made; }
    const int (&Pieces() const)[3] { return m_subVolumDiv; }
    const int (&Overlap() const)[3] { return m_overlapVoxels; }
    const ULMBrickRanges& Brick(int i) const { return m_brick[i]; }
    const ULMVolumeRange& Base() const { return m_base; }

private:
    // Chooses the axes and pieces from inLayout's sizes and cuts the base.
    void DivideVolume(const ULMVolumeRange& inLayout);
    // Walks the pieces of axis inAxis, X outermost, filling one brick per
    // leaf in ascending piece order.
    void FillSubVolRange(const int (&inSize)[3][kMultiboardMaxBricks], const int (&inOrigin)[3][kMultiboardMaxBricks],
                         int (&ioRange)[6], const int (&inPieces)[3], int& ioNumber, int inAxis);

    ULMVolumeRange m_base;
    int m_boards = 1;
    int m_overlapVoxels[3] = {0, 0, 0};
    int m_numSubVolumes = 1;
    int m_subVolumDiv[3] = {1, 1, 1};
    int m_made = 0;
    ULMBrickRanges m_brick[kMultiboardMaxBricks];
};

}  // namespace ulm3
