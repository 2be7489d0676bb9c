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
    // The stages of Shade after classification and the gradient, for a
    // sample whose classified colour and gradient (volume axes) are known.
    void Light(const Rgba& colour, const float (&gradient)[3], Sample& sample) {
        (this->*m_light)(colour, gradient, nullptr, 0, sample);
    }
    // The classified colour at a position in volume space (1/256 voxel).
    Rgba Classify(const int64_t (&position)[3]);
    // The one field of a routed setup over one-byte voxels whose table gives
    // the colour (-1: none), its value of each byte and the routed colour of
    // each table entry.
    int TabledField() const { return m_tabledField; }
    const int32_t* TabledValues() const { return m_tabledValue; }
    const Rgba* RoutedColours() const { return m_routedColour; }
    // Whether a sample's lighting reads its gradient's magnitude.
    static bool ReadsMagnitude(const Setup& setup);
    // The float gradient at a voxel, its neighbours read as the fetch stage
    // reads them (edge or border words outside the volume's range).
    void VoxelGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]);
    // The gradient VoxelGradient gives a voxel one step past the volume's
    // range along axis k alone (`above` it or below), where the range is
    // storage, from that of the edge voxel beside it (`edge`, of byte
    // `edgeByte`): its neighbours read as the edge voxel's (edges extended)
    // or as the border word.
    Float4 GradientPastEdge(int k, bool above, const Float4& edge, uint8_t edgeByte) const;
    // One field of the voxel word at integer coordinates as a fraction of
    // full scale, the word read as the fetch stage reads it.
    float FieldFraction(int field, int64_t u, int64_t v, int64_t w) {
        return static_cast<float>(m_setup.voxelFields.code[field].Read(Voxel(u, v, w))) / static_cast<float>(kFull);
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
    using LightFunction = void (Shader::*)(const Rgba&, const float (&)[3], const float*, int, Sample&);
    // Whether a programme can select a configuration: the setup turns the
    // gradients on for every stage that reads them (magnitude, diffuse,
    // specular). Any other is left to the general kernel, which reads the
    // setup's switches and so lights any setup right.
    static constexpr bool Selectable(uint32_t lit) {
        return lit == kLitGeneral || (lit & kLitGradient) != 0 ||
               (lit & (kLitMagnitude | kLitDiffuse | kLitSpecular)) == 0;
    }
    static constexpr uint32_t KernelOf(uint32_t lit) { return Selectable(lit) ? lit : kLitGeneral; }
    static uint32_t LitOf(const Setup& setup);
    static ShadeFunction ShadeFor(const Setup& setup);
    static LightFunction LightFor(const Setup& setup);
    template <uint32_t Lit>
    void ShadeAs(const int64_t (&position)[3], const float* soft, int softCount, Sample& sample);
    template <uint32_t Lit>
    void LightAs(const Rgba& colour, const float (&gradient)[3], const float* soft, int softCount, Sample& sample);

    // Alpha and the lighting coefficients of one sample.
    struct Coefficients {
        float alpha, emissive, diffuse, specular;
    };
    // The corrected, quantised gradient, its squared magnitude and the
    // outward normal.
    void Normal(const float (&gradient)[3], int32_t (&g9)[3], float (&normal)[3], Sample& sample) const;
    // Magnitude modulation and hi-pass of alpha and the coefficients.
    void Modulate(uint32_t magnitude2, Coefficients& k);
    // The emissive and diffuse colour and the specular light; whether the
    // specular term is on.
    template <bool Diffuse, bool Specular>
    bool Reflect(const Rgba& c, const Coefficients& k, const float (&normal)[3], const Sample& sample,
                 float (&diff)[3], float (&spec)[3]);

    // The voxel word at integer coordinates: edge-clamped or border outside
    // VolumeRange, border outside storage.
    uint64_t Voxel(int64_t u, int64_t v, int64_t w) {
        const DirectBox& box = m_setup.voxels;
        if (box.Contains(u, v, w)) return ChipArray::ReadAt(box.At(u, v, w), box.bytes);
        return VoxelOutside(u, v, w);
    }
    uint64_t VoxelOutside(int64_t u, int64_t v, int64_t w);
    // The colour of the one tabled field straight from storage; false when
    // a neighbour is not in storage.
    bool ClassifyTabled(const int64_t (&position)[3], Rgba& colour);
    // The tabled field's values of the eight voxels around a position
    // (base and weights f), lerped along u in pairs, where the volume's
    // range is its storage: outside it the border's or the edge voxel's.
    void QuietTabledValues(const int64_t (&base)[3], const int64_t (&f)[3], int32_t (&alongU)[4]) const;
    // The eight voxel words around a position (base and weights f).
    void TrilinearWords(const int64_t (&base)[3], const int64_t (&f)[3], uint64_t (&words)[8]);
    static int32_t TrilinearValue(const FieldCode& code, const uint64_t (&words)[8], const int64_t (&f)[3]);
    // A field classified before interpolation: each neighbour looked up.
    Rgba LookedFirst(int i, const uint64_t (&words)[8], const int64_t (&f)[3]);
    void Gradient(const int64_t (&position)[3], float (&g)[3]);
    struct GradientEntry;
    // The cached gradient of a one-byte voxel whose neighbours all lie in
    // storage, and its computation into a cache entry.
    [[gnu::always_inline]] inline void ByteGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]);
    void ByteGradientInto(GradientEntry& entry, uint64_t key, int64_t u, int64_t v, int64_t w);
    // Gradient component a's fraction of the one-byte voxel at n, read as
    // the fetch stage reads it, when that takes no general read: n in
    // storage, or outside a volume whose range is its storage. False
    // otherwise.
    [[gnu::always_inline]] inline bool QuietFraction(int a, const int64_t (&n)[3], float& fraction) const;
    // The cache slot of a voxel: by the low bits of its coordinates along
    // the two axes a slice spans and the parity of the one it steps along,
    // so that the voxels of a tile's two planes do not evict each other
    // whichever volume axis the view looks down.
    size_t GradientSlot(int64_t u, int64_t v, int64_t w) const {
        const int64_t p[3] = {u, v, w};
        const int* axis = m_setup.select;
        return static_cast<size_t>((p[axis[0]] & 63) | (p[axis[1]] & 63) << 6 | (p[axis[2]] & 1) << 12);
    }
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
    LightFunction m_light = nullptr;
    // Blends and quotients in float lanes; the reference computes them one
    // by one, as the lanes must match.
    bool m_lanes = true;
    std::vector<GradientEntry> m_gradients;  // by GradientSlot
    // The gradient fields' fractions of each one-byte voxel, when the
    // voxels are one byte.
    bool m_byteVoxels = false;
    float m_byteFraction[3][256] = {};
    float m_borderFraction[3] = {};  // and of the border word
    // The one tabled field of a routed setup over one-byte voxels (-1:
    // none), its value of each byte and the routed colour of each entry.
    int m_tabledField = -1;
    int32_t m_tabledValue[256] = {};
    int32_t m_borderTabledValue = 0;  // and of the border word
    Rgba m_routedColour[256];
};

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
