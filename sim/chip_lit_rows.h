// Shaded rows: the samples of a tile's slice that read their voxels and
// voxel gradients straight from storage, a row at a time, positions stepped
// in 64 bits and gradients taken from a slab computed once per tile; a
// sample at the volume's edge takes what the slab holds and the rest as the
// element walk does, and one of a slice without a slab goes through the
// kernel's Step, as every sample of the element walk does.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chip_gradient_slab.h"
#include "chip_setup.h"
#include "chip_shading.h"
#include "chip_vector_lit_rows.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

class Kernel;
struct Ray;

class LitRows {
public:
    LitRows(const Setup& setup, Shader& shader, ChipDiagnostics& counts);

    // Whether a setup's samples may go a row at a time: lit from the
    // gradients of one-byte voxels, with no test of a sample on its own
    // besides the trims (no crop, cut planes, depth or filters), and not
    // the reference.
    static bool Suits(const Setup& setup);

    // A tile of width x height rays from (x0, y0): what the slab must hold
    // of each plane its slices read.
    void BeginTile(uint32_t x0, uint32_t y0, uint32_t width, uint32_t height);

    // The tile's samples of a live slice, its rays (row by row) from
    // `rays`. Whether a ray is left to go on.
    bool Run(Kernel& kernel, const Slice& slice, Ray* rays);

private:
    // The slice's plane along the volume axis it steps (the lower of the
    // two its samples read), with a mirrored axis taken into account.
    int64_t Depth(const Slice& slice) const {
        return m_setup.negate[2] ? -slice.z256 - 256 : slice.z256;
    }
    // Whether the slab holds both planes a slice whose lower plane is w
    // reads: within its range, or, where no read can count, a slice on the
    // range's last plane, whose samples give the plane past it weight 0.
    bool SlabPlanes(const Slice& slice, int64_t w) const;
    // What the tile's samples read on the lower plane of the slices whose
    // lower plane is w, computed once per tile when first asked for.
    const PlaneFootprint& Group(int64_t w);
    // Cuts planes w and w + 1 of the slab to what the slices reading them
    // read, unless that is done.
    void CutPlanes(int64_t w);
    // Whether the sample at raw positions (x, y) passes its trims and its
    // voxels and gradients all come from the slab.
    bool Inside(uint64_t x, uint64_t y) const;
    // The parts of a row from raw positions (xRaw, yRaw), as bounds: samples
    // that fail the trims, pass them, are inside (none unless `slab`), pass
    // them, fail them. A row whose ends do not fit in 64 bits is all one
    // part that passes the trims, and false.
    bool Parts(const Slice& slice, Wide xRaw, Wide yRaw, bool slab, uint32_t (&bounds)[4]) const;
    bool Row(Kernel& kernel, const Slice& slice, uint32_t row, Ray* ray, bool slab);
    // `count` interior samples from raw positions (x, y): eight at a time
    // where the instruction set and the setup allow, else one by one.
    void Shade(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count);
    bool ShadeLanes(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count);
    // The rows of a tile whose four corners are inside, as one placement.
    bool ShadeTile(const Slice& slice, const TileCorners& corners, Ray* rays, bool& anyLeft);
    // Points the corners of a placement on storage's last plane (slice
    // plane `depth`, in 1/256 voxel) along the slice axis at that plane;
    // false when the lanes would read past storage's end there.
    bool OnLastPlane(int64_t depth, LitRow& row) const;
    bool RunLanes(LitRow& row, Ray* ray, uint32_t width);
    // `count` samples one by one, each classified as the fetch stage reads
    // its voxels; their gradients from the slab, or, `Sides`, those the
    // slab does not hold (past the volume's edge) as the element walk
    // computes them.
    template <bool Sides>
    void ShadeEach(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count);
    // Whether the setup's shaded rows may run eight rays at a time, and
    // what their rows share.
    bool LanesSuit() const;
    void FillLanes();
    void SlabGradient(int64_t a, int64_t b, const int64_t (&f)[3], float (&g)[3]) const;
    // The gradient of a sample at `position` (volume axes, 1/256 voxel; f its
    // fractions) of a slice whose planes the slab holds.
    void SideGradient(const int64_t (&position)[3], const int64_t (&f)[3], float (&g)[3]);

    const Setup& m_setup;
    Shader& m_shader;
    ChipDiagnostics& m_counts;
    GradientSlab m_slab;
    PlaneRect m_bounds;  // what the slab may hold along the axes of Xv and Yv
    TileRect m_tile;
    bool m_planned = false;  // the slab holds the tile's planes
    bool m_turned = false;   // the tiles' footprints are worth cutting
    // The tile's slices that read the slab, by their lower plane, from
    // plane m_first on; their footprints by lower plane and whether each
    // plane of the slab is cut.
    struct SliceRead {
        int64_t w;
        size_t slice;  // its index in the setup
    };
    std::vector<SliceRead> m_reads;
    std::vector<char> m_slabSlices;  // per slice of the setup: in m_reads
    std::vector<TileCorners> m_corners;  // per live slice of the setup
    int64_t m_first = 0;
    std::vector<PlaneFootprint> m_groups;
    std::vector<char> m_grouped, m_cut;
    bool m_lanes = false;    // the rows run on AVX2
    bool m_clearUnlit = false;  // a clear sample's light shows nothing, its reads uncounted
    LitRow m_row;            // what the vector rows share
    struct GiveMemo {
        void operator()(LightMemo* memo) const { LightMemo::Give(memo); }
    };
    std::unique_ptr<LightMemo, GiveMemo> m_memo;  // the lanes' lit gradients, where kept
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
