// The shading stages of one sample: voxel fetch with border and edge
// addressing, interpolation, the lookup stage and its ALUs, gradients,
// magnitude modulation, reflectance-map lighting, alpha correction, soft
// cut planes and opacity weighting.
#pragma once

#include <cstdint>
#include <vector>

#include "chip_setup.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

// A shaded sample and what the filters and depth criteria ask of it.
struct Sample {
    Rgba colour;
    bool hasNormal = false;  // a gradient of non-zero magnitude
    float facing = 0.0f;     // N.E, towards the eye when positive
    uint32_t magnitude2 = 0; // |g|^2 in 1/511^2
};

class Shader {
public:
    Shader(const Setup& setup, ChipDiagnostics& counts);

    // The sample at a position in volume space (1/256 voxel); `soft` are
    // the weights of the soft cut planes, in plane order.
    void Shade(const int64_t (&position)[3], const float* soft, int softCount, Sample& sample) {
        (this->*m_shade)(position, soft, softCount, sample);
    }

    // The lookup stage of a field: bypassed, all four channels are the
    // value at full precision; otherwise its table's entry.
    Rgba Look(int i, int32_t value) {
        const Setup& s = m_setup;
        if (s.bypass[i]) {
            const float x = static_cast<float>(value) / static_cast<float>(kFull);
            return Rgba{{x, x, x, x}};
        }
        uint32_t index = static_cast<uint32_t>(s.voxelFields.code[i].isSigned ? (value + 65536) >> 1 : value);
        index >>= i == 3 ? 4 : 8;
        if (index >= s.table[i].valid) ++m_counts.unboundTableReads;
        return s.table[i].entries[index];
    }

    // The integer lerp of the fetch stage.
    static int32_t Lerp(int32_t a, int32_t b, int64_t f) {
        return a + static_cast<int32_t>(((int64_t{b} - a) * f + 128) >> 8);
    }

private:
    // The lighting configurations a programme can select, each a kernel of
    // its own: gradients, magnitude modulation or hi-pass, a diffuse and a
    // specular coefficient, opacity weighting; and the general kernel.
    static constexpr uint32_t kLitGradient = 1, kLitMagnitude = 2, kLitDiffuse = 4, kLitSpecular = 8,
                              kLitWeighted = 16, kLitGeneral = 32;
    using ShadeFunction = void (Shader::*)(const int64_t (&)[3], const float*, int, Sample&);
    static ShadeFunction ShadeFor(const Setup& setup);
    template <uint32_t Lit>
    void ShadeAs(const int64_t (&position)[3], const float* soft, int softCount, Sample& sample);

    // The voxel word at integer coordinates: edge-clamped or border outside
    // VolumeRange, border outside storage.
    uint64_t Voxel(int64_t u, int64_t v, int64_t w) {
        const DirectBox& box = m_setup.voxels;
        if (box.Contains(u, v, w)) return ChipArray::ReadAt(box.At(u, v, w), box.bytes);
        return VoxelOutside(u, v, w);
    }
    uint64_t VoxelOutside(int64_t u, int64_t v, int64_t w);
    // A sample's classified colour: the tabled field straight from storage
    // when it can be, else each field's value, nearest or trilinear (looked
    // up before interpolating when it classifies first), then the lookup
    // stage and its routing or ALUs.
    Rgba Classify(const int64_t (&position)[3]);
    [[gnu::always_inline]] inline bool ClassifyTabled(const int64_t (&position)[3], Rgba& out);
    [[gnu::always_inline]] inline void NearestValues(const int64_t (&position)[3], int32_t (&value)[4]);
    [[gnu::always_inline]] inline void CornerWords(const int64_t (&base)[3], const int64_t (&f)[3],
                                                   uint64_t (&words)[8]);
    [[gnu::always_inline]] inline void TrilinearValues(const int64_t (&position)[3], int32_t (&value)[4],
                                                       Rgba (&looked)[4]);
    [[gnu::always_inline]] inline Rgba LookAndCombine(const int32_t (&value)[4], Rgba (&looked)[4]);
    // The stages of a shaded sample after its classification: the normal
    // from the gradient, magnitude modulation and hi-pass of the alpha and
    // coefficients, the lit colour (whether it has a specular term), and
    // the corrected, softened alpha.
    struct Coefficients {
        float alpha, emissive, diffuse, specular;
    };
    [[gnu::always_inline]] inline void Normal(const int64_t (&position)[3], Sample& sample, float (&normal)[3],
                                              int32_t (&g9)[3]);
    [[gnu::always_inline]] inline void Modulate(uint32_t m2, Coefficients& k);
    template <bool Diffuse, bool Specular>
    [[gnu::always_inline]] inline bool Light(const Rgba& c, const float (&normal)[3], const Sample& sample,
                                             const Coefficients& k, float (&diff)[3], float (&spec)[3]);
    [[gnu::always_inline]] inline float CorrectedAlpha(float alpha, const float* soft, int softCount);
    // The float gradient at a voxel, and at a sample position.
    void VoxelGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]);
    void Gradient(const int64_t (&position)[3], float (&g)[3]);
    struct GradientEntry;
    // The cached gradient of a one-byte voxel whose neighbours all lie in
    // storage, and its computation into a cache entry.
    [[gnu::always_inline]] inline void ByteGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]);
    void ByteGradientInto(GradientEntry& entry, uint64_t key, int64_t u, int64_t v, int64_t w);
    // The map's colour at a direction (black at zero length).
    void Map(const Table& map, const float (&direction)[3], float (&out)[3]);
    float Fraction(const Table& table, size_t entry);
    static Rgba Alu(uint32_t word, const Rgba& a, const Rgba& b);

    struct GradientEntry {
        uint64_t key = 0;  // 0: empty
        float g[3] = {};
    };

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
    ShadeFunction m_shade = nullptr;
    // Blends and quotients in float lanes; the reference computes them one
    // by one, as the lanes must match.
    bool m_lanes = true;
    std::vector<GradientEntry> m_gradients;  // by the low bits of u, v, w
    // The gradient fields' fractions of each one-byte voxel, when the
    // voxels are one byte.
    bool m_byteVoxels = false;
    float m_byteFraction[3][256] = {};
    // The one tabled field of a routed setup over one-byte voxels (-1:
    // none), its value of each byte and the routed colour of each entry.
    int m_tabledField = -1;
    int32_t m_tabledValue[256] = {};
    Rgba m_routedColour[256];
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
