// The render kernels: the walk over the frustum, each element from its
// initial Accum and Last through its live samples in ray order to the
// encoded writes. Elements are independent, so the bytes do not depend on
// the order they are visited in.
#pragma once

#include <cstdint>

#include "chip_setup.h"
#include "chip_shading.h"

namespace tulx7sim::chip {

class Renderer {
public:
    Renderer(const Setup& setup, ChipDiagnostics& counts)
        : m_setup(setup), m_counts(counts), m_shader(setup, counts) {}

    void Run();

private:
    struct Start {
        Rgba colour;
        uint64_t raw = 0;
    };

    // Initial Accum (slot 0) or Last (slot 1) of an element.
    Start Initial(int slot, bool enabled, const Rgba& value, const int64_t (&p)[3]);
    void Pixel(uint32_t xs, uint32_t ys, uint32_t zs);
    void Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour);
    void Composite(const Slice& slice, uint32_t xs, uint32_t ys, Rgba& accum);

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
    Shader m_shader;
};

}  // namespace tulx7sim::chip
