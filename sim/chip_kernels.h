// The render kernels: the walk over the frustum, each element from its
// initial Accum, Last and depths through its live samples in ray order to
// the encoded writes. Elements are independent, so the bytes do not depend
// on the order they are visited in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chip_lit_rows.h"
#include "chip_setup.h"
#include "chip_shading.h"
#include "chip_vector_rows.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

// The state of one element's ray between its samples.
struct Ray {
    Rgba accum;
    uint64_t accumRaw = 0, lastRaw = 0;  // the initial elements' words
    Rgba last;
    uint32_t depthReference[2] = {};     // initial dFirst and dLast
    uint32_t depth[2] = {};
    uint32_t firstZs = 0, lastZs = 0;
    bool firstSet = false, lastSet = false;
    bool done = false;                   // terminated early
};

// The rows of an image's tile. A tile of the shaded rows takes twice as
// many: its gradient slab computes the voxels along the tile's edges that
// the next tile computes again, and the taller tile has fewer of those per
// sample.
inline constexpr uint32_t kTileRows = 16;
inline constexpr uint32_t kLitTileRows = 32;

// The frustum cut into tiles: 32 pixels by `rows`, or 16^3 elements of a
// volume output.
struct TileGrid {
    uint32_t size[3] = {1, 1, 1};
    uint32_t count[3] = {0, 0, 0};
    size_t Count() const { return size_t{count[0]} * count[1] * count[2]; }
};
TileGrid Tiles(const Setup& setup, uint32_t rows);

// Whether tiles may run side by side and in any order with the bytes of
// the element walk: no element written can be another element's storage,
// and no buffer is both read per element and written through another slot.
bool TilesAreIndependent(const Setup& setup);

class Kernel {
public:
    Kernel(const Setup& setup, ChipDiagnostics& counts);

    // Every element of the frustum, one after another, each with its
    // positions in closed form.
    void RunElements();

    // One tile, slice by slice: every ray of the tile takes its sample of a
    // slice before any takes the next, positions stepping exactly along
    // the rows.
    void RunTile(const TileGrid& grid, size_t tile);

    // The element's ray before its first sample, and its writes after the
    // last.
    void Begin(uint32_t xs, uint32_t ys, uint32_t zs, Ray& ray);
    void Finish(uint32_t xs, uint32_t ys, uint32_t zs, const Ray& ray);
    // One sample of slice `slice` at raw positions (xRaw, yRaw).
    void Step(const Slice& slice, Wide xRaw, Wide yRaw, uint32_t xs, uint32_t ys, Ray& ray);
    // Step for a plain setup, with its voxels read as `Bytes`-byte words.
    template <int Bytes>
    void PlainStep(const Slice& slice, Wide xRaw, Wide yRaw, uint32_t xs, uint32_t ys, Ray& ray);

private:
    void Element(uint32_t xs, uint32_t ys, uint32_t zs);
    template <int Bytes>
    void Slices(uint32_t x0, uint32_t y0, uint32_t width, uint32_t height);
    // The tile's samples of one slice, through Step, or plain rows; whether
    // a ray is left to go on.
    bool StepRows(const Slice& slice, const TileRect& tile);
    template <int Bytes>
    bool PlainRows(const Slice& slice, const TileRect& tile);
    // The accumulators of the tile's `count` rays moved to m_accums for its
    // plain slices, and back.
    void HoldAccums(size_t count);
    void ReturnAccums(size_t count);
    template <int Bytes>
    bool PlainRowOf(const Slice& slice, const TileRect& tile, uint32_t row, bool interiorTile);
    // Whether the vector rows can take voxels of `bytes` (never 8): the
    // kernels for the others are not compiled.
    static constexpr bool VectorVoxels(int bytes) { return bytes != 8; }
    // The rows of a tile that leaves the volume, placed once: each row's
    // interior samples eight rays at a time, the others checked; false
    // leaves them to the rows one by one.
    template <int Bytes>
    bool EdgeRows(const Slice& slice, const TileRect& tile, const TileCorners& corners, bool& anyLeft);
    // An interior tile's rows eight rays at a time, placed once; false
    // leaves them to the rows one by one.
    bool VectorRows(const Slice& slice, const TileRect& tile, const TileCorners& corners, bool& anyLeft);
    // Whether a plain sample at raw positions (xRaw, yRaw) of `slice` passes
    // its trims and reads all eight neighbours straight from storage.
    bool Interior(const Slice& slice, Wide xRaw, Wide yRaw) const;
    // The parts of a row of `width` from raw positions (x, y) whose ends
    // fit in 64 bits, as bounds: samples that fail the trims, pass them,
    // are interior, pass them, fail them. Positions are affine along the
    // row and the tests convex, so each part is consecutive.
    void RowParts(const Slice& slice, uint64_t x, uint64_t y, uint32_t width, uint32_t (&bounds)[6]) const;
    // The parts of a row from raw positions (xRaw, yRaw), bounded as
    // RowParts gives them, sample by sample; the interior part unchecked, or
    // left to the vector rows unless `withInterior`. Whether a ray goes on.
    template <int Bytes>
    bool RowByParts(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, const uint32_t (&bounds)[6],
                    bool withInterior);
    // The same at a position's floors in 1/256 voxel.
    bool Interior(const Slice& slice, int64_t x256, int64_t y256) const;
    // A row of `width` plain samples whose positions fit in 64 bits at
    // both ends, and so everywhere between: they step in 64 bits, wrapping
    // sums being exact there. Unless `checked`, both ends are interior, and
    // so is every sample between them, and none is tested. Returns whether
    // a ray of the row is left to go on.
    template <int Bytes>
    bool PlainRow(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, uint32_t width, bool checked);
    // An interior tabled row eight rays at a time, when the instruction set
    // and the row allow; false leaves the row to the scalar kernel.
    bool VectorRow(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, uint32_t width, bool& anyLeft);
    // The tabled rows of a placed row or tile; whether a ray is left.
    bool RunTabled(const Slice& slice, TabledRow& row, RayAccums ray, uint32_t width);
    // A slice's plane along the volume axis it steps, in 1/256 voxel, its
    // mirror taken into account.
    int64_t Depth(const Slice& slice) const { return m_setup.negate[2] ? -slice.z256 - 256 : slice.z256; }
    template <int Bytes, uint32_t Mode, bool Checked, bool Tabled>
    bool PlainRow(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, uint32_t width);
    // The routed, emissive colour of a plain sample whose eight neighbours
    // lie at `at` plus `corner`, with weights f along u, v, w; `Tabled`
    // takes it from the emitted colours of the one field's table.
    template <int Bytes, bool Tabled>
    [[gnu::always_inline]] inline Rgba PlainColour(const uint8_t* at, const int64_t (&corner)[8],
                                                   const int64_t (&f)[3]);
    // The routed, emissive colour of the looked-up fields.
    Rgba Emitted(const Rgba (&looked)[4]) const;
    // A routed colour's emissive light, opacity-weighted when the setup asks.
    Rgba Emissive(Rgba colour) const;
    // The value of voxel field i in the word `word`, from a table for
    // one-byte voxels.
    template <int Bytes>
    int32_t FieldValue(int i, uint64_t word) const {
        if constexpr (Bytes == 1)
            return m_byteValue[i][word];
        else
            return m_setup.voxelFields.code[i].Read(word);
    }
    bool Passes(const SampleTests& tests, const Sample& sample, const Rgba& accum) const;
    bool DepthPasses(uint32_t d, const Ray& ray) const;
    bool Cropped(const int64_t (&permuted)[3]) const;
    // The storage offset a write of element p goes to, or -1 when it is
    // outside the write mask or storage (counted).
    int64_t Target(const ChipArray& array, uint32_t maskBit, const int64_t (&p)[3]);
    void Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour);
    void StoreDepth(int slot, const int64_t (&p)[3], uint32_t depth);

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
    Shader m_shader;
    std::unique_ptr<LitRows> m_lit;  // the shaded rows, when the setup suits them
    std::vector<Ray> m_rays;  // a tile's
    // A plain tile's accumulators while its slices run (those of m_rays
    // meanwhile stale), and the storage behind them.
    RayAccums m_accums;
    std::vector<float> m_accumStore;
    // The needed fields of a plain setup, and their values from one-byte
    // voxels.
    int m_fieldCount = 0;
    int m_field[4] = {};
    int32_t m_byteValue[4][256] = {};
    bool m_tabled = false;
    Rgba m_emittedTable[256];
    bool m_vector = false;  // the tabled rows run on AVX2
    const Slice* m_next = nullptr;  // the slice after the one running, in ray order
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
