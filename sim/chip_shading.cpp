// The per-sample shading stages, from voxel fetch to the shaded colour.
#include "chip_shading.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <utility>

#include "chip_gradient_slab.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace tulx7sim::chip {

namespace {

// a + (b - a) * (f / 256) in float32; a weight of 0 leaves a (its
// neighbour is never read).
float LerpFloat(float a, float b, int64_t f) {
    return f == 0 ? a : a + (b - a) * (static_cast<float>(f) / 256.0f);
}

Float4 Channels(const Rgba& c) { return Float4{c.c[0], c.c[1], c.c[2], c.c[3]}; }

Rgba LerpRgba(const Rgba& a, const Rgba& b, int64_t f) {
    Rgba out;
    for (int k = 0; k < 4; ++k) out.c[k] = LerpFloat(a.c[k], b.c[k], f);
    return out;
}

// g * 511 rounded half away from zero, clamped to 9 bits. Inline rather
// than a library rounding call: the difference from the truncation is
// exact, so the tie test is too.
int32_t Quantise9(float g) {
    // Exact: a float times 511 fits a double's mantissa, as does the
    // difference from its truncation.
    const double scaled = static_cast<double>(g) * 511.0;
    // NaN and values beyond 64 bits, as the library rounding gave them.
    if (!(std::fabs(scaled) < 0x1p63)) return -511;
    if (scaled >= 511.0) return 511;
    if (scaled <= -511.0) return -511;
    const auto truncated = static_cast<int32_t>(scaled);
    const double rest = scaled - truncated;
    return truncated + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0);
}

// a, b and c over d, each correctly rounded: with `lanes`, one lane-wise
// division where the CPU has one, the same bits as scalar divisions.
[[gnu::always_inline]] inline void Quotients(float a, float b, float c, float d, bool lanes, float (&q)[3]) {
#if defined(__SSE2__)
    if (lanes) {
        alignas(16) float quotient[4];
        _mm_store_ps(quotient, _mm_div_ps(_mm_set_ps(1.0f, c, b, a), _mm_set1_ps(d)));
        for (int k = 0; k < 3; ++k) q[k] = quotient[k];
        return;
    }
#endif
    q[0] = a / d;
    q[1] = b / d;
    q[2] = c / d;
}

// The entries of a reflectance map: six faces of 8 x 8 cells.
constexpr size_t kMapEntries = 6 * 64;

// The key of a voxel in the gradient cache: its coordinates, which a
// direct box keeps within 2^20 of 0, and a bit no empty slot has.
uint64_t GradientKey(int64_t u, int64_t v, int64_t w) {
    constexpr int64_t kBias = int64_t{1} << 20;
    return uint64_t{1} << 63 | static_cast<uint64_t>(u + kBias) | static_cast<uint64_t>(v + kBias) << 21 |
           static_cast<uint64_t>(w + kBias) << 42;
}

}  // namespace

Shader::Shader(const Setup& setup, ChipDiagnostics& counts)
    : m_setup(setup), m_counts(counts), m_shade(ShadeFor(setup)), m_light(LightFor(setup)),
      m_lanes(setup.gradientCache) {
    m_byteVoxels = setup.gradient && setup.gradientCache && setup.voxels.valid && setup.voxels.bytes == 1;
    if (m_byteVoxels) m_gradients.resize(size_t{1} << 13);
    // One unsigned field of one-byte voxels, interpolated and looked up
    // in a 256-entry table, routed to the channels: the classified colour
    // is a function of the table index.
    int needed = -1, neededCount = 0;
    for (int i = 0; i < 4; ++i)
        if (setup.fieldNeeded[i]) {
            needed = i;
            ++neededCount;
        }
    m_tabledField = setup.routed && neededCount == 1 && needed != 3 && setup.trilinear[needed] &&
                    !setup.classifyFirst[needed] && !setup.bypass[needed] &&
                    !setup.voxelFields.code[needed].isSigned && setup.voxels.valid && setup.voxels.bytes == 1
                        ? needed
                        : -1;
    if (m_tabledField >= 0) m_borderTabledValue = setup.voxelFields.code[needed].Read(setup.voxelBorder);
    for (uint32_t e = 0; e < 256 && m_tabledField >= 0; ++e) {
        m_tabledValue[e] = setup.voxelFields.code[needed].Read(e);
        Rgba looked[4];
        looked[needed] = setup.table[needed].entries[e];
        for (int c = 0; c < 4; ++c)
            m_routedColour[e].c[c] = setup.route[c] < 0 ? setup.constant[c] : looked[setup.route[c]].c[c];
    }
    if (m_byteVoxels) ByteFractions(setup, m_byteFraction);
    for (int a = 0; a < 3 && m_byteVoxels; ++a)
        if (setup.gradientField[a] >= 0)
            m_borderFraction[a] = static_cast<float>(setup.voxelFields.code[setup.gradientField[a]].Read(setup.voxelBorder)) /
                                  static_cast<float>(kFull);
}

uint64_t Shader::VoxelOutside(int64_t u, int64_t v, int64_t w) {
    const ChipArray& volume = m_setup.volume;
    int64_t p[3] = {u, v, w};
    for (int a = 0; a < 3; ++a) {
        const int32_t low = volume.RangeMin(a), high = volume.RangeMax(a);
        if (p[a] >= low && p[a] <= high) continue;
        if (!m_setup.extend[a] || low > high) return m_setup.voxelBorder;
        p[a] = p[a] < low ? low : high;
    }
    const int64_t offset = volume.Locate(p);
    if (offset < 0) {
        ++m_counts.readsOutsideStorage;
        return m_setup.voxelBorder;
    }
    return volume.Read(offset);
}

Rgba Shader::Classify(const int64_t (&position)[3]) {
    const Setup& s = m_setup;
    Rgba tabled;
    if (m_tabledField >= 0 && ClassifyTabled(position, tabled)) return tabled;
    int32_t value[4] = {};
    Rgba looked[4];
    if (s.anyNearest) {
        const uint64_t word = Voxel((position[0] + 128) >> 8, (position[1] + 128) >> 8,
                                    (position[2] + 128) >> 8);
        for (int i = 0; i < 4; ++i)
            if (!s.trilinear[i] && (!s.routed || s.fieldNeeded[i])) value[i] = s.voxelFields.code[i].Read(word);
    }
    if (s.anyTrilinear) {
        int64_t base[3], f[3];
        for (int a = 0; a < 3; ++a) {
            base[a] = position[a] >> 8;
            f[a] = position[a] & 255;
        }
        uint64_t words[8] = {};
        TrilinearWords(base, f, words);
        for (int i = 0; i < 4; ++i) {
            if (!s.trilinear[i] || (s.routed && !s.fieldNeeded[i])) continue;
            if (s.classifyFirst[i])
                looked[i] = LookedFirst(i, words, f);
            else
                value[i] = TrilinearValue(s.voxelFields.code[i], words, f);
        }
    }
    if (s.routed) {
        // Fields the ALUs drop are not looked up when that cannot count.
        Rgba out;
        for (int i = 0; i < 4; ++i)
            if (s.fieldNeeded[i]) looked[i] = Look(i, value[i]);
        for (int c = 0; c < 4; ++c) out.c[c] = s.route[c] < 0 ? s.constant[c] : looked[s.route[c]].c[c];
        return out;
    }
    for (int i = 0; i < 4; ++i)
        if (!s.classifyFirst[i]) looked[i] = Look(i, value[i]);
    const Rgba alu0 = Alu(s.alu[0], looked[0], looked[1]);
    const Rgba alu1 = Alu(s.alu[1], looked[2], looked[3]);
    return Alu(s.alu[2], alu0, alu1);
}

bool Shader::ClassifyTabled(const int64_t (&position)[3], Rgba& colour) {
    const Setup& s = m_setup;
    const int64_t base[3] = {position[0] >> 8, position[1] >> 8, position[2] >> 8};
    const DirectBox& box = s.voxels;
    const int64_t f[3] = {position[0] & 255, position[1] & 255, position[2] & 255};
    int32_t alongU[4];
    if (!box.Contains(base[0], base[1], base[2]) || !box.Contains(base[0] + 1, base[1] + 1, base[2] + 1)) {
        // Where the volume's range is its storage no read counts: the
        // neighbours outside are the border or the edge voxels.
        if (!s.quietReads) return false;
        QuietTabledValues(base, f, alongU);
    } else {
        // Straight from storage nothing is counted, the nearest reads of
        // unneeded fields included.
        const uint8_t* at = box.At(base[0], base[1], base[2]);
        const int64_t* stride = box.stride;
        for (int vw = 0; vw < 4; ++vw) {
            const uint8_t* row = at + (vw & 1) * stride[1] + (vw >> 1) * stride[2];
            alongU[vw] = Lerp(m_tabledValue[row[0]], m_tabledValue[row[stride[0]]], f[0]);
        }
    }
    const int32_t value = Lerp(Lerp(alongU[0], alongU[1], f[1]), Lerp(alongU[2], alongU[3], f[1]), f[2]);
    const auto index = static_cast<size_t>(value >> 8);
    if (index >= s.table[m_tabledField].valid) ++m_counts.unboundTableReads;
    colour = m_routedColour[index];
    return true;
}

void Shader::QuietTabledValues(const int64_t (&base)[3], const int64_t (&f)[3], int32_t (&alongU)[4]) const {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    // Per axis, where each of the two voxels reads: itself, the edge voxel
    // (edges extended) or, for any axis that does not extend, the border.
    int64_t at[3][2];
    bool border[3][2];
    for (int k = 0; k < 3; ++k)
        for (int d = 0; d < 2; ++d) {
            const int64_t p = base[k] + d;
            const bool in = p >= box.low[k] && p <= box.high[k];
            border[k][d] = !in && !s.extend[k];
            at[k][d] = in ? p : p < box.low[k] ? box.low[k] : box.high[k];
        }
    for (int vw = 0; vw < 4; ++vw) {
        const int dv = vw & 1, dw = vw >> 1;
        int32_t value[2];
        for (int du = 0; du < 2; ++du)
            value[du] = border[0][du] || border[1][dv] || border[2][dw]
                            ? m_borderTabledValue
                            : m_tabledValue[*box.At(at[0][du], at[1][dv], at[2][dw])];
        alongU[vw] = Lerp(value[0], value[1], f[0]);
    }
}

void Shader::TrilinearWords(const int64_t (&base)[3], const int64_t (&f)[3], uint64_t (&words)[8]) {
    // Neighbours of weight 0 are never read, except straight from storage,
    // where reading one changes nothing.
    const DirectBox& box = m_setup.voxels;
    if (box.Contains(base[0], base[1], base[2]) && box.Contains(base[0] + 1, base[1] + 1, base[2] + 1)) {
        const uint8_t* at = box.At(base[0], base[1], base[2]);
        int64_t corner[8];
        box.Corners(corner);
        auto read = [&](auto bytes) __attribute__((always_inline)) {
#pragma GCC unroll 8
            for (int c = 0; c < 8; ++c) words[c] = ChipArray::ReadAt(at + corner[c], decltype(bytes)::value);
        };
        switch (box.bytes) {
            case 1: read(std::integral_constant<int, 1>{}); break;
            case 2: read(std::integral_constant<int, 2>{}); break;
            case 4: read(std::integral_constant<int, 4>{}); break;
            default: read(std::integral_constant<int, 8>{}); break;
        }
        return;
    }
    for (int c = 0; c < 8; ++c) {
        const int du = c & 1, dv = (c >> 1) & 1, dw = (c >> 2) & 1;
        if ((du && f[0] == 0) || (dv && f[1] == 0) || (dw && f[2] == 0)) continue;
        words[c] = Voxel(base[0] + du, base[1] + dv, base[2] + dw);
    }
}

int32_t Shader::TrilinearValue(const FieldCode& code, const uint64_t (&words)[8], const int64_t (&f)[3]) {
    int32_t alongU[4];
    for (int vw = 0; vw < 4; ++vw) {
        const int32_t a = code.Read(words[2 * vw]);
        alongU[vw] = f[0] == 0 ? a : Lerp(a, code.Read(words[2 * vw + 1]), f[0]);
    }
    const int32_t w0 = Lerp(alongU[0], alongU[1], f[1]);
    const int32_t w1 = Lerp(alongU[2], alongU[3], f[1]);
    return Lerp(w0, w1, f[2]);
}

Rgba Shader::LookedFirst(int i, const uint64_t (&words)[8], const int64_t (&f)[3]) {
    // Each neighbour looked up, then the channels interpolated.
    const FieldCode& code = m_setup.voxelFields.code[i];
    Rgba alongU[4];
    for (int vw = 0; vw < 4; ++vw) {
        if ((vw & 1 && f[1] == 0) || (vw & 2 && f[2] == 0)) continue;
        const Rgba a = Look(i, code.Read(words[2 * vw]));
        alongU[vw] = f[0] == 0 ? a : LerpRgba(a, Look(i, code.Read(words[2 * vw + 1])), f[0]);
    }
    return LerpRgba(LerpRgba(alongU[0], alongU[1], f[1]), LerpRgba(alongU[2], alongU[3], f[1]), f[2]);
}

Rgba Shader::Alu(uint32_t word, const Rgba& a, const Rgba& b) {
    Rgba out;
    bool reserved = false;  // counted once per render from the registers
    for (int k = 0; k < 4; ++k) {
        // Routing, as every pass uses, without the operator call.
        const uint32_t op = (word >> (8 * k)) & 0xFF;
        constexpr uint32_t kA = NKW7_Code(NKW7_AluOp::A), kB = NKW7_Code(NKW7_AluOp::B);
        constexpr uint32_t kZero = NKW7_Code(NKW7_AluOp::Zero);
        out.c[k] = op == kA      ? a.c[k]
                   : op == kB    ? b.c[k]
                   : op == kZero ? 0.0f
                                 : AluOperate(op, a.c[k], b.c[k], reserved);
    }
    return out;
}

void Shader::VoxelGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]) {
    const Setup& s = m_setup;
    // Neighbours read straight from storage count nothing, so a gradient
    // made only of them is kept for the samples around it.
    const DirectBox& box = s.voxels;
    GradientEntry* entry = nullptr;
    const bool direct = box.Contains(u - 1, v - 1, w - 1) && box.Contains(u + 1, v + 1, w + 1);
    // Where no read can count, one at the volume's edge or a step outside
    // it (border or edge words), which the samples at the edge read, is
    // kept too.
    const bool edge = !direct && s.quietReads && box.valid && u >= box.low[0] - 1 && u <= box.high[0] + 1 &&
                      v >= box.low[1] - 1 && v <= box.high[1] + 1 && w >= box.low[2] - 1 && w <= box.high[2] + 1;
    if (s.gradientCache && (direct || edge)) {
        if (m_gradients.empty()) m_gradients.resize(size_t{1} << 13);
        entry = &m_gradients[GradientSlot(u, v, w)];
        const uint64_t key = GradientKey(u, v, w);
        if (entry->key == key) {
            for (int a = 0; a < 3; ++a) g[a] = entry->g[a];
            return;
        }
        if (m_byteVoxels && direct) {
            ByteGradientInto(*entry, key, u, v, w);
            for (int a = 0; a < 3; ++a) g[a] = entry->g[a];
            return;
        }
    }
    auto fraction = [&](int a, const int64_t (&n)[3]) {
        float quiet;
        return m_byteVoxels && QuietFraction(a, n, quiet) ? quiet : FieldFraction(s.gradientField[a], n[0], n[1], n[2]);
    };
    for (int a = 0; a < 3; ++a) {
        g[a] = 0.0f;
        if (s.zeroGradient || s.gradientField[a] < 0) continue;
        int64_t ahead[3] = {u, v, w}, behind[3] = {u, v, w};
        ++ahead[a];
        if (!s.forward) --behind[a];
        const float f1 = fraction(a, ahead), f0 = fraction(a, behind);
        g[a] = s.forward ? f1 - f0 : (f1 - f0) / 2.0f;
    }
    if (entry != nullptr) *entry = GradientEntry{GradientKey(u, v, w), {g[0], g[1], g[2]}};
}

Float4 Shader::GradientPastEdge(int k, bool above, const Float4& edge, uint8_t edgeByte) const {
    const Setup& s = m_setup;
    // Across the axis it is past, a component reads two neighbours past it
    // too: the edge voxel's (edges extended) or both the border word, whose
    // difference is +0.
    Float4 g = {};
    for (int a = 0; a < 3; ++a)
        if (a != k && s.extend[k]) g[a] = edge[a];
    // Along it, both neighbours are the edge voxel when edges extend (+0
    // again); otherwise one is the edge voxel and the other the border, or,
    // above with forward differences, both the border.
    if (s.extend[k] || s.zeroGradient || s.gradientField[k] < 0) return g;
    const float inside = m_byteFraction[k][edgeByte], border = m_borderFraction[k];
    if (above)
        g[k] = s.forward ? 0.0f : (border - inside) / 2.0f;
    else
        g[k] = s.forward ? inside - border : (inside - border) / 2.0f;
    return g;
}

bool Shader::QuietFraction(int a, const int64_t (&n)[3], float& fraction) const {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    // A one-byte neighbour in storage gives the same fraction from a table.
    if (box.Contains(n[0], n[1], n[2])) {
        fraction = m_byteFraction[a][*box.At(n[0], n[1], n[2])];
        return true;
    }
    // Where the volume's range is its storage, a neighbour outside it is
    // the border word or, along axes that extend, the edge voxel, and no
    // read counts.
    if (!s.quietReads) return false;
    int64_t p[3] = {n[0], n[1], n[2]};
    for (int k = 0; k < 3; ++k) {
        if (p[k] >= box.low[k] && p[k] <= box.high[k]) continue;
        if (!s.extend[k]) {
            fraction = m_borderFraction[a];
            return true;
        }
        p[k] = p[k] < box.low[k] ? box.low[k] : box.high[k];
    }
    fraction = m_byteFraction[a][*box.At(p[0], p[1], p[2])];
    return true;
}

void Shader::ByteGradientInto(GradientEntry& entry, uint64_t key, int64_t u, int64_t v, int64_t w) {
    // Straight from storage: the same fractions, from a table.
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    const uint8_t* at = box.At(u, v, w);
    entry.key = key;
    for (int a = 0; a < 3; ++a) {
        entry.g[a] = 0.0f;
        if (s.zeroGradient || s.gradientField[a] < 0) continue;
        const float f1 = m_byteFraction[a][at[box.stride[a]]];
        const float f0 = m_byteFraction[a][s.forward ? at[0] : at[-box.stride[a]]];
        entry.g[a] = s.forward ? f1 - f0 : (f1 - f0) / 2.0f;
    }
}

void Shader::ByteGradient(int64_t u, int64_t v, int64_t w, float (&g)[3]) {
    GradientEntry& entry = m_gradients[GradientSlot(u, v, w)];
    const uint64_t key = GradientKey(u, v, w);
    if (entry.key != key) ByteGradientInto(entry, key, u, v, w);
    for (int a = 0; a < 3; ++a) g[a] = entry.g[a];
}

void Shader::Gradient(const int64_t (&position)[3], float (&g)[3]) {
    if (!m_setup.interpolateGradient) {
        VoxelGradient((position[0] + 128) >> 8, (position[1] + 128) >> 8, (position[2] + 128) >> 8, g);
        return;
    }
    int64_t base[3], f[3];
    for (int a = 0; a < 3; ++a) {
        base[a] = position[a] >> 8;
        f[a] = position[a] & 255;
    }
    // The three components in lanes, the fourth idle.
    Float4 corner[8] = {};
    const DirectBox& box = m_setup.voxels;
    // With every corner's neighbours in storage, each corner takes the
    // cached one-byte path without testing its own neighbours again.
    const bool direct = m_byteVoxels && box.Contains(base[0] - 1, base[1] - 1, base[2] - 1) &&
                        box.Contains(base[0] + 2, base[1] + 2, base[2] + 2);
    for (int c = 0; c < 8; ++c) {
        const int du = c & 1, dv = (c >> 1) & 1, dw = (c >> 2) & 1;
        if ((du && f[0] == 0) || (dv && f[1] == 0) || (dw && f[2] == 0)) continue;
        float one[3];
        if (direct)
            ByteGradient(base[0] + du, base[1] + dv, base[2] + dw, one);
        else
            VoxelGradient(base[0] + du, base[1] + dv, base[2] + dw, one);
        corner[c] = Float4{one[0], one[1], one[2], 0.0f};
    }
    if (!m_lanes) {
        for (int a = 0; a < 3; ++a) {
            auto at = [&](int c) { return corner[c][a]; };
            const float v0 = LerpFloat(LerpFloat(at(0), at(1), f[0]), LerpFloat(at(2), at(3), f[0]), f[1]);
            const float v1 = LerpFloat(LerpFloat(at(4), at(5), f[0]), LerpFloat(at(6), at(7), f[0]), f[1]);
            g[a] = LerpFloat(v0, v1, f[2]);
        }
        return;
    }
    const Float4 lerped = LerpCorners(corner, f);
    for (int a = 0; a < 3; ++a) g[a] = lerped[a];
}

float Shader::Fraction(const Table& table, size_t entry) {
    if (entry >= table.valid) ++m_counts.unboundTableReads;
    return table.entries[entry].c[0];
}

// A reflectance map at a direction: the face of the dominant component,
// the other two components over its magnitude, bilinear over the face's 8 x
// 8 cells.
void Shader::Map(const Table& map, const float (&d)[3], float (&out)[3]) {
    // The first of the largest magnitudes, chosen without branches: the
    // dominant axis of a noisy normal is not predictable.
    const float magnitude[3] = {std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])};
    int axis = magnitude[1] > magnitude[0] ? 1 : 0;
    float dominant = magnitude[1] > magnitude[0] ? magnitude[1] : magnitude[0];
    axis = magnitude[2] > dominant ? 2 : axis;
    dominant = magnitude[2] > dominant ? magnitude[2] : dominant;
    if (!(dominant > 0.0f)) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    const size_t face = static_cast<size_t>(2 * axis + (d[axis] < 0.0f ? 1 : 0));
    const int other[2] = {axis == 0 ? 1 : 0, axis == 2 ? 1 : 2};
    float quotient[3];
    Quotients(d[other[0]], d[other[1]], 0.0f, dominant, m_lanes, quotient);
    int low[2], high[2];
    float weight[2];
    for (int k = 0; k < 2; ++k) {
        // std::clamp's order of tests, as minimum and maximum instructions.
        const float cell = std::min(std::max((quotient[k] + 1.0f) * 4.0f - 0.5f, 0.0f), 7.0f);
        low[k] = static_cast<int>(cell);  // truncation is the floor of a cell in [0, 7]
        high[k] = std::min(low[k] + 1, 7);
        weight[k] = cell - static_cast<float>(low[k]);
    }
    const Rgba* entries = map.entries.data() + face * 64;
    const size_t at[4] = {static_cast<size_t>(low[1] * 8 + low[0]), static_cast<size_t>(low[1] * 8 + high[0]),
                          static_cast<size_t>(high[1] * 8 + low[0]), static_cast<size_t>(high[1] * 8 + high[0])};
    // A whole map (the usual case) has nothing to count.
    if (map.valid < kMapEntries)
        for (const size_t e : at)
            if (face * 64 + e >= map.valid) ++m_counts.unboundTableReads;
    if (!m_lanes) {
        for (int c = 0; c < 3; ++c) {
            auto channel = [&](int k) { return entries[at[k]].c[c]; };
            const float top = channel(0) + (channel(1) - channel(0)) * weight[0];
            const float bottom = channel(2) + (channel(3) - channel(2)) * weight[0];
            out[c] = top + (bottom - top) * weight[1];
        }
        return;
    }
    // The four channels of a row of cells in lanes, alpha unused.
    const Float4 w0 = Broadcast(weight[0]);
    const Float4 s0t0 = Channels(entries[at[0]]), s1t0 = Channels(entries[at[1]]);
    const Float4 s0t1 = Channels(entries[at[2]]), s1t1 = Channels(entries[at[3]]);
    const Float4 top = s0t0 + (s1t0 - s0t0) * w0;
    const Float4 bottom = s0t1 + (s1t1 - s0t1) * w0;
    const Float4 blended = top + (bottom - top) * Broadcast(weight[1]);
    for (int c = 0; c < 3; ++c) out[c] = blended[c];
}

// Indexed by every configuration, so that choosing costs no more than a
// load; only those a programme can select have a kernel of their own.
Shader::ShadeFunction Shader::ShadeFor(const Setup& s) {
    static constexpr auto kTable = []<uint32_t... L>(std::integer_sequence<uint32_t, L...>) {
        return std::array<ShadeFunction, sizeof...(L)>{&Shader::ShadeAs<KernelOf(L)>...};
    }(std::make_integer_sequence<uint32_t, kLitGeneral + 1>{});
    // Kernels of their own: with gradients, each of the eight choices of
    // the stages that read them, without, none of them; each weighted by
    // opacity or not; and the general one.
    static_assert([] {
        uint32_t own = 0;
        for (uint32_t lit = 0; lit <= kLitGeneral; ++lit) own += KernelOf(lit) == lit ? 1 : 0;
        return own;
    }() == 2 * (8 + 1) + 1);
    return kTable[LitOf(s)];
}

Shader::LightFunction Shader::LightFor(const Setup& s) {
    static constexpr auto kTable = []<uint32_t... L>(std::integer_sequence<uint32_t, L...>) {
        return std::array<LightFunction, sizeof...(L)>{&Shader::LightAs<KernelOf(L)>...};
    }(std::make_integer_sequence<uint32_t, kLitGeneral + 1>{});
    return kTable[LitOf(s)];
}

bool Shader::ReadsMagnitude(const Setup& s) {
    return s.modulate[0] || s.modulate[1] || s.modulate[2] || s.modulate[3] || s.hiPassDiffuse || s.hiPassSpecular;
}

uint32_t Shader::LitOf(const Setup& s) {
    // The reference reads every switch per sample, as the specialised
    // kernels are checked against it.
    if (!s.gradientCache) return kLitGeneral;
    return (s.gradient ? kLitGradient : 0u) | (ReadsMagnitude(s) ? kLitMagnitude : 0u) |
           (s.diffuse != 0.0f ? kLitDiffuse : 0u) | (s.specular != 0.0f ? kLitSpecular : 0u) |
           (s.opacityWeight ? kLitWeighted : 0u);
}

template <uint32_t Lit>
void Shader::ShadeAs(const int64_t (&position)[3], const float* soft, int softCount, Sample& sample) {
    const Rgba c = Classify(position);
    float g[3] = {};
    if (Lit == kLitGeneral ? m_setup.gradient : (Lit & kLitGradient) != 0) Gradient(position, g);
    LightAs<Lit>(c, g, soft, softCount, sample);
}

void Shader::Normal(const float (&gradient)[3], int32_t (&g9)[3], float (&normal)[3], Sample& sample) const {
    const Setup& s = m_setup;
    float g[3] = {gradient[0], gradient[1], gradient[2]};
    if (s.correct)
        for (int a = 0; a < 3; ++a)
            g[a] = s.correction[a][0] * gradient[0] + s.correction[a][1] * gradient[1] +
                   s.correction[a][2] * gradient[2];
    for (int a = 0; a < 3; ++a) g9[a] = Quantise9(g[a]);
    sample.magnitude2 = static_cast<uint32_t>(g9[0] * g9[0] + g9[1] * g9[1] + g9[2] * g9[2]);
    sample.hasNormal = sample.magnitude2 != 0;
    if (!sample.hasNormal) return;
    const float length = std::sqrt(static_cast<float>(sample.magnitude2));
    Quotients(-static_cast<float>(g9[0]), -static_cast<float>(g9[1]), -static_cast<float>(g9[2]), length, m_lanes,
              normal);
    sample.facing = normal[0] * s.eye[0] + normal[1] * s.eye[1] + normal[2] * s.eye[2];
}

void Shader::Modulate(uint32_t m2, Coefficients& k) {
    const Setup& s = m_setup;
    const bool modulating = s.modulate[0] || s.modulate[1] || s.modulate[2] || s.modulate[3];
    if (!modulating && !s.hiPassDiffuse && !s.hiPassSpecular) return;
    // The magnitude's table index, which only modulation and hi-pass read.
    const uint32_t m12 = std::min<uint32_t>(
        4095, s.squaredIndex ? static_cast<uint32_t>(uint64_t{m2} * 4095 / (511 * 511))
                             : static_cast<uint32_t>(std::floor(std::sqrt(static_cast<double>(m2)) * 4095.0 / 511.0)));
    const int64_t index = std::clamp<int64_t>((int64_t{m12} - s.base) >> s.grain, 0, 63);
    if (modulating) {
        const float factor = m2 < s.magnitudeMin   ? (s.lowerDefault ? 1.0f : 0.0f)
                             : m2 > s.magnitudeMax ? (s.upperDefault ? 1.0f : 0.0f)
                                                   : Fraction(s.magnitudeTable, static_cast<size_t>(index));
        if (s.modulate[0]) k.alpha = k.alpha * factor;
        if (s.modulate[1]) k.emissive = k.emissive * factor;
        if (s.modulate[2]) k.diffuse = k.diffuse * factor;
        if (s.modulate[3]) k.specular = k.specular * factor;
    }
    if (s.hiPassDiffuse && index < s.hiPassStart) k.diffuse = 0.0f;
    if (s.hiPassSpecular && index < s.hiPassStart) k.specular = 0.0f;
}

template <bool Diffuse, bool Specular>
bool Shader::Reflect(const Rgba& c, const Coefficients& k, const float (&normal)[3], const Sample& sample,
                     float (&diff)[3], float (&spec)[3]) {
    // A map is read only when its coefficient is non-zero.
    const Setup& s = m_setup;
    for (int i = 0; i < 3; ++i) diff[i] = c.c[i] * k.emissive;
    if (Diffuse && k.diffuse != 0.0f && sample.hasNormal) {
        float d[3];
        Map(s.diffuseMap, normal, d);
        for (int i = 0; i < 3; ++i) diff[i] = diff[i] + c.c[i] * k.diffuse * d[i];
    }
    const bool specular = Specular && k.specular != 0.0f;
    if (specular && sample.hasNormal && !(s.specularFrontOnly && sample.facing <= 0.0f)) {
        float direction[3];
        for (int a = 0; a < 3; ++a)
            direction[a] = s.bypassReflection ? normal[a] : 2.0f * sample.facing * normal[a] - s.eye[a];
        float m[3];
        Map(s.specularMap, direction, m);
        for (int i = 0; i < 3; ++i) spec[i] = k.specular * m[i] * s.specularColour.c[i];
    }
    return specular;
}

template <uint32_t Lit>
void Shader::LightAs(const Rgba& c, const float (&g)[3], const float* soft, int softCount, Sample& sample) {
    const Setup& s = m_setup;
    // A stage the configuration leaves out is compiled out; the general
    // kernel asks the setup.
    constexpr bool kGeneral = Lit == kLitGeneral;
    const bool gradient = kGeneral ? s.gradient : (Lit & kLitGradient) != 0;
    constexpr bool kMagnitude = kGeneral || (Lit & kLitMagnitude) != 0;
    // Without their register coefficient the diffuse and specular terms
    // stay zero whatever modulation does.
    constexpr bool kDiffuse = kGeneral || (Lit & kLitDiffuse) != 0;
    constexpr bool kSpecular = kGeneral || (Lit & kLitSpecular) != 0;
    const bool weighted = kGeneral ? s.opacityWeight : (Lit & kLitWeighted) != 0;
    Coefficients k{c.c[3], s.emissive, s.diffuse, s.specular};
    float normal[3] = {};
    int32_t g9[3] = {};
    if (gradient) {
        Normal(g, g9, normal, sample);
        if (kMagnitude) Modulate(sample.magnitude2, k);
    }
    float diff[3], spec[3] = {};
    const bool specular = Reflect<kDiffuse, kSpecular>(c, k, normal, sample, diff, spec);

    // Alpha correction, soft cut planes, opacity weighting.
    float alpha = k.alpha;
    float colourScale = 1.0f;
    if (s.alphaCorrection) {
        const float a = std::clamp(alpha, 0.0f, 1.0f);
        const float x = a * 55.0f;
        const size_t e = std::min<size_t>(static_cast<size_t>(x), 54);
        const float a0 = Fraction(s.alphaTable, e), a1 = Fraction(s.alphaTable, e + 1);
        alpha = a0 + (a1 - a0) * (x - static_cast<float>(e));
        // A colour the blend takes as weighted by its alpha scales as that
        // alpha does; an alpha of 0 takes the first knot's slope, the
        // limit of the ratio there.
        if (s.correctColour) {
            const float first = Fraction(s.alphaTable, 1) - Fraction(s.alphaTable, 0);
            colourScale = a > 0.0f ? alpha / a : first * 55.0f;
        }
    }
    for (int i = 0; i < softCount; ++i) alpha = alpha * soft[i];
    for (int i = 0; i < 3; ++i) {
        if (weighted)
            sample.colour.c[i] = specular ? diff[i] * alpha + (s.opacityWeightSpecular ? spec[i] * alpha : spec[i])
                                          : diff[i] * alpha;
        else if (s.correctColour)
            sample.colour.c[i] = specular ? diff[i] * colourScale + spec[i] : diff[i] * colourScale;
        else
            sample.colour.c[i] = specular ? diff[i] + spec[i] : diff[i];
    }
    sample.colour.c[3] = alpha;
    if (s.outputGradient)
        for (int a = 0; a < 3; ++a) sample.colour.c[a] = static_cast<float>(g9[a]) / 511.0f;
    if (s.outputMagnitude)
        sample.colour.c[3] = std::min(1.0f, std::sqrt(static_cast<float>(sample.magnitude2)) / 511.0f);
}

}  // namespace tulx7sim::chip
