// The render kernels: the walk over the frustum, each element from its
// initial Accum, Last and depths through its live samples in ray order to
// the encoded writes. Elements are independent, so the bytes do not depend
// on the order they are visited in.
#pragma once

#include <cstdint>

#include "chip_setup.h"
#include "chip_shading.h"

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

class Kernel {
public:
    Kernel(const Setup& setup, ChipDiagnostics& counts)
        : m_setup(setup), m_counts(counts), m_shader(setup, counts) {}

    // Every element of the frustum, one after another, each with its
    // positions in closed form.
    void RunElements();

    // The element's ray before its first sample, and its writes after the
    // last.
    void Begin(uint32_t xs, uint32_t ys, uint32_t zs, Ray& ray);
    void Finish(uint32_t xs, uint32_t ys, uint32_t zs, const Ray& ray);
    // One sample of slice `slice` at raw positions (xRaw, yRaw).
    void Step(const Slice& slice, Wide xRaw, Wide yRaw, uint32_t xs, uint32_t ys, Ray& ray);

private:
    void Element(uint32_t xs, uint32_t ys, uint32_t zs);
    bool Passes(const SampleTests& tests, const Sample& sample, const Rgba& accum) const;
    bool DepthPasses(uint32_t d, const Ray& ray) const;
    bool Cropped(const int64_t (&permuted)[3]) const;
    bool Writable(uint32_t maskBit);
    void Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour);
    void StoreDepth(int slot, const int64_t (&p)[3], uint32_t depth);

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
    Shader m_shader;
};

}  // namespace tulx7sim::chip
