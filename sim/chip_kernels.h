// The render kernels: the walk over the frustum, each element from its
// initial Accum, Last and depths through its live samples in ray order to
// the encoded writes. Elements are independent, so the bytes do not depend
// on the order they are visited in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chip_setup.h"
#include "chip_shading.h"

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

// The frustum cut into tiles: 32 x 32 pixels, or 16^3 elements of a volume
// output.
struct TileGrid {
    uint32_t size[3] = {1, 1, 1};
    uint32_t count[3] = {0, 0, 0};
    size_t Count() const { return size_t{count[0]} * count[1] * count[2]; }
};
TileGrid Tiles(const Setup& setup);

// Whether tiles may run side by side and in any order with the bytes of
// the element walk: no element written can be another element's storage,
// and no buffer is both read per element and written through another slot.
bool TilesAreIndependent(const Setup& setup);

class Kernel {
public:
    Kernel(const Setup& setup, ChipDiagnostics& counts)
        : m_setup(setup), m_counts(counts), m_shader(setup, counts) {}

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
    std::vector<Ray> m_rays;  // a tile's
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
