// The voxel gradients a tile's shaded samples read, each computed once per
// tile: planes of voxels across the volume axis the slices step along, each
// over the rectangle the tile's samples reach on it, in a ring of two so
// that consecutive slices share the plane between them.
#pragma once

#include <cstdint>
#include <vector>

#include "chip_setup.h"
#include "chip_vector_slab.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

// The fraction each byte gives the field of gradient component a, for
// one-byte voxels (0 for a component without a field).
void ByteFractions(const Setup& setup, float (&fraction)[3][256]);

// An inclusive rectangle of voxel coordinates along the two volume axes a
// slice spans (the volume axes of Xv and Yv); empty when low > high.
struct PlaneRect {
    int64_t low[2] = {0, 0};
    int64_t high[2] = {-1, -1};

    bool Empty() const { return low[0] > high[0] || low[1] > high[1]; }
    int64_t Width() const { return Empty() ? 0 : high[0] - low[0] + 1; }
    int64_t Height() const { return Empty() ? 0 : high[1] - low[1] + 1; }
    void Add(const PlaneRect& other);
};

// The part of a plane a tile's samples read: within its bounding rectangle,
// for each row (along the volume axis of Yv, from rect.low[1]) the
// inclusive run of voxels along that of Xv; a row may be empty. A turned
// tile fills its rectangle only in part, and the slab computes only these.
struct PlaneFootprint {
    struct Run {
        int64_t low = 0, high = -1;
    };
    PlaneRect rect;
    std::vector<Run> rows;

    bool Empty() const { return rect.Empty(); }
    // Every row of the rectangle whole.
    void Fill(const PlaneRect& whole);
    // Both footprints' voxels (and what lies between, within a row).
    void Add(const PlaneFootprint& other);
    void Add(PlaneFootprint&& other);
};

// The voxels a tile's samples of a slice read on its lower plane (and the
// same of its upper one), given their corners and the slice axes' mirroring,
// within `bounds`: the bounding rectangle, and the footprint cut row by row.
PlaneRect TileRectOn(const TileCorners& corners, const bool (&negate)[3], const PlaneRect& bounds);
PlaneFootprint TileFootprint(const TileCorners& corners, const bool (&negate)[3], const PlaneRect& bounds);

class Shader;

class GradientSlab {
public:
    // The setup's voxels must be one byte and straight from storage; the
    // shader computes the gradients of edge voxels.
    GradientSlab(const Setup& setup, Shader& shader);

    // Per volume axis, the voxels the slab may hold: those whose gradient
    // reads only storage, or, where no read can count, every voxel of the
    // volume's range (those at its edge read border or edge words).
    int64_t Low(int axis) const { return m_low[axis]; }
    int64_t High(int axis) const { return m_high[axis]; }

    // A new tile: rects[k] bounds what the tile's samples read of plane
    // first + k. False, with nothing planned, when some plane's rectangle
    // exceeds `limit` voxels: too thin a spread of samples for a slab.
    bool Plan(int64_t first, const std::vector<PlaneRect>& rects, int64_t limit);
    // What plane w (planned, not yet computed) holds, within its rectangle;
    // a plane not cut holds its whole rectangle.
    void Cut(int64_t w, PlaneFootprint&& plane);
    // The rectangle planned for plane w.
    const PlaneRect& Rect(int64_t w) const { return m_planes[static_cast<size_t>(w - m_first)].rect; }

    // Makes planes w and w + 1 (both planned; inside Low..High, or w + 1
    // the plane past the last where no read can count) the
    // slab's lower and upper plane, computing what the ring lacks.
    void Ready(int64_t w);
    // The entry of voxel (a, b) of the lower plane, a along the volume axis
    // of Xv and b along that of Yv.
    const Float4* Entry(int64_t a, int64_t b) const {
        return m_lower + (b - m_lowerRect.low[1]) * m_stride + (a - m_lowerRect.low[0]);
    }
    // Entries from a voxel to its neighbours up along u, v and w: corner c
    // is one up along volume axis k when bit k of c is set.
    const int64_t (&Corners() const)[8] { return m_corner; }
    // Entries per step along the volume axis of Yv.
    int64_t Stride() const { return m_stride; }

private:
    void Compute(int slot, int64_t w, const PlaneFootprint& plane);
    // The entries of `count` voxels from p on along the volume axis of Xv,
    // all reading as `reads` says, or, not `known`, as the shader reads.
    void ComputeRun(const int64_t (&p)[3], const EntryReads& reads, bool known, Float4* row, int64_t count) const;
    // Where component k of the voxels at `at` along volume axis k reads its
    // neighbours: in storage, or, where no read can count, past the
    // volume's edge the edge voxel itself or the border word. False for
    // voxels outside storage, or reading outside it where a read may count.
    bool ReadsAlong(int k, int64_t at, ComponentReads& reads) const;
    // The same from those worked out for the edges and the voxels between.
    bool ReadsAt(int k, int64_t at, EntryReads& reads) const {
        const DirectBox& box = m_setup.voxels;
        if (at < box.low[k] || at > box.high[k]) return false;
        const int c = at == box.low[k] ? 0 : at == box.high[k] ? 2 : 1;
        reads.component[k] = m_reads[k][c];
        return m_known[k][c];
    }

    const Setup& m_setup;
    Shader& m_shader;
    int m_axis[3] = {};  // the volume axes of Xv, Yv and Zv
    int64_t m_low[3] = {}, m_high[3] = {};
    int64_t m_directLow[3] = {}, m_directHigh[3] = {};  // gradients from storage alone
    float m_fraction[3][256] = {};
    float m_border[3][256] = {};  // the fraction of the border word, for every byte
    FractionLanes m_lanes;
    ComponentReads m_reads[3][3];  // per axis, at its first voxel, one between and its last
    bool m_known[3][3] = {};
    bool m_useLanes = false;
    bool m_component[3] = {};  // which gradient components read voxels

    int64_t m_first = 0;
    std::vector<PlaneFootprint> m_planes;
    int64_t m_stride = 0, m_capacity = 0;  // entries per row and per slot
    std::vector<Float4> m_entries;         // two slots
    int64_t m_plane[2] = {};
    bool m_held[2] = {};
    const Float4* m_lower = nullptr;
    PlaneRect m_lowerRect;
    int64_t m_corner[8] = {};
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
