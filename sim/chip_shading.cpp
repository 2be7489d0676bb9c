// The per-sample shading stages, from voxel fetch to the shaded colour.
#include "chip_shading.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace tulx7sim::chip {

namespace {

// a + (b - a) * (f / 256) in float32; a weight of 0 leaves a (its
// neighbour is never read).
float LerpFloat(float a, float b, int64_t f) {
    return f == 0 ? a : a + (b - a) * (static_cast<float>(f) / 256.0f);
}

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

// The key of a voxel in the gradient cache: its coordinates, which a
// direct box keeps within 2^20 of 0, and a bit no empty slot has.
uint64_t GradientKey(int64_t u, int64_t v, int64_t w) {
    constexpr int64_t kBias = int64_t{1} << 20;
    return uint64_t{1} << 63 | static_cast<uint64_t>(u + kBias) | static_cast<uint64_t>(v + kBias) << 21 |
           static_cast<uint64_t>(w + kBias) << 42;
}

}  // namespace

Shader::Shader(const Setup& setup, ChipDiagnostics& counts) : m_setup(setup), m_counts(counts) {
    m_byteVoxels = setup.gradient && setup.gradientCache && setup.voxels.valid && setup.voxels.bytes == 1;
    if (m_byteVoxels) m_gradients.resize(size_t{1} << 13);
    for (int a = 0; a < 3 && m_byteVoxels; ++a) {
        if (setup.gradientField[a] < 0) continue;
        const FieldCode& code = setup.voxelFields.code[setup.gradientField[a]];
        for (uint32_t b = 0; b < 256; ++b)
            m_byteFraction[a][b] = static_cast<float>(code.Read(b)) / static_cast<float>(kFull);
    }
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
        // Neighbours of weight 0 are never read, except straight from
        // storage, where reading one changes nothing.
        uint64_t words[8] = {};
        const DirectBox& box = s.voxels;
        if (box.Contains(base[0], base[1], base[2]) && box.Contains(base[0] + 1, base[1] + 1, base[2] + 1)) {
            const uint8_t* at = box.At(base[0], base[1], base[2]);
            const int64_t* stride = box.stride;
            auto read = [&](auto bytes) __attribute__((always_inline)) {
#pragma GCC unroll 8
                for (int corner = 0; corner < 8; ++corner)
                    words[corner] = ChipArray::ReadAt(at + (corner & 1) * stride[0] + ((corner >> 1) & 1) * stride[1] +
                                                          (corner >> 2) * stride[2],
                                                      decltype(bytes)::value);
            };
            switch (box.bytes) {
                case 1: read(std::integral_constant<int, 1>{}); break;
                case 2: read(std::integral_constant<int, 2>{}); break;
                case 4: read(std::integral_constant<int, 4>{}); break;
                default: read(std::integral_constant<int, 8>{}); break;
            }
        } else {
            for (int corner = 0; corner < 8; ++corner) {
                const int du = corner & 1, dv = (corner >> 1) & 1, dw = (corner >> 2) & 1;
                if ((du && f[0] == 0) || (dv && f[1] == 0) || (dw && f[2] == 0)) continue;
                words[corner] = Voxel(base[0] + du, base[1] + dv, base[2] + dw);
            }
        }
        for (int i = 0; i < 4; ++i) {
            if (!s.trilinear[i] || (s.routed && !s.fieldNeeded[i])) continue;
            const FieldCode& code = s.voxelFields.code[i];
            if (s.classifyFirst[i]) {
                // Each neighbour looked up, then the channels interpolated.
                Rgba alongU[4];
                for (int vw = 0; vw < 4; ++vw) {
                    if ((vw & 1 && f[1] == 0) || (vw & 2 && f[2] == 0)) continue;
                    const Rgba a = Look(i, code.Read(words[2 * vw]));
                    alongU[vw] = f[0] == 0 ? a : LerpRgba(a, Look(i, code.Read(words[2 * vw + 1])), f[0]);
                }
                looked[i] = LerpRgba(LerpRgba(alongU[0], alongU[1], f[1]), LerpRgba(alongU[2], alongU[3], f[1]),
                                     f[2]);
                continue;
            }
            int32_t alongU[4];
            for (int vw = 0; vw < 4; ++vw) {
                const int32_t a = code.Read(words[2 * vw]);
                alongU[vw] = f[0] == 0 ? a : Lerp(a, code.Read(words[2 * vw + 1]), f[0]);
            }
            const int32_t w0 = Lerp(alongU[0], alongU[1], f[1]);
            const int32_t w1 = Lerp(alongU[2], alongU[3], f[1]);
            value[i] = Lerp(w0, w1, f[2]);
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
    if (s.gradientCache && box.Contains(u - 1, v - 1, w - 1) && box.Contains(u + 1, v + 1, w + 1)) {
        if (m_gradients.empty()) m_gradients.resize(size_t{1} << 13);
        entry = &m_gradients[static_cast<size_t>((u & 63) | (v & 63) << 6 | (w & 1) << 12)];
        const uint64_t key = GradientKey(u, v, w);
        if (entry->key == key) {
            for (int a = 0; a < 3; ++a) g[a] = entry->g[a];
            return;
        }
        if (m_byteVoxels) {
            ByteGradientInto(*entry, key, u, v, w);
            for (int a = 0; a < 3; ++a) g[a] = entry->g[a];
            return;
        }
    }
    for (int a = 0; a < 3; ++a) {
        g[a] = 0.0f;
        if (s.zeroGradient || s.gradientField[a] < 0) continue;
        const FieldCode& code = s.voxelFields.code[s.gradientField[a]];
        int64_t ahead[3] = {u, v, w}, behind[3] = {u, v, w};
        ++ahead[a];
        if (!s.forward) --behind[a];
        const float f1 = static_cast<float>(code.Read(Voxel(ahead[0], ahead[1], ahead[2]))) / static_cast<float>(kFull);
        const float f0 = static_cast<float>(code.Read(Voxel(behind[0], behind[1], behind[2]))) / static_cast<float>(kFull);
        g[a] = s.forward ? f1 - f0 : (f1 - f0) / 2.0f;
    }
    if (entry != nullptr) *entry = GradientEntry{GradientKey(u, v, w), {g[0], g[1], g[2]}};
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
    GradientEntry& entry = m_gradients[static_cast<size_t>((u & 63) | (v & 63) << 6 | (w & 1) << 12)];
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
    float corner[8][3] = {};
    const DirectBox& box = m_setup.voxels;
    // With every corner's neighbours in storage, each corner takes the
    // cached one-byte path without testing its own neighbours again.
    const bool direct = m_byteVoxels && box.Contains(base[0] - 1, base[1] - 1, base[2] - 1) &&
                        box.Contains(base[0] + 2, base[1] + 2, base[2] + 2);
    for (int c = 0; c < 8; ++c) {
        const int du = c & 1, dv = (c >> 1) & 1, dw = (c >> 2) & 1;
        if ((du && f[0] == 0) || (dv && f[1] == 0) || (dw && f[2] == 0)) continue;
        if (direct)
            ByteGradient(base[0] + du, base[1] + dv, base[2] + dw, corner[c]);
        else
            VoxelGradient(base[0] + du, base[1] + dv, base[2] + dw, corner[c]);
    }
    for (int a = 0; a < 3; ++a) {
        const float v0 = LerpFloat(LerpFloat(corner[0][a], corner[1][a], f[0]), LerpFloat(corner[2][a], corner[3][a], f[0]), f[1]);
        const float v1 = LerpFloat(LerpFloat(corner[4][a], corner[5][a], f[0]), LerpFloat(corner[6][a], corner[7][a], f[0]), f[1]);
        g[a] = LerpFloat(v0, v1, f[2]);
    }
}

float Shader::Fraction(const Table& table, size_t entry) {
    if (entry >= table.valid) ++m_counts.unboundTableReads;
    return table.entries[entry].c[0];
}

// A reflectance map at a direction: the face of the dominant component,
// the other two components over its magnitude, bilinear over the face's 8 x
// 8 cells.
Rgba Shader::Map(const Table& map, const float (&d)[3]) {
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(d[a]) > std::fabs(d[axis])) axis = a;
    const float dominant = std::fabs(d[axis]);
    if (!(dominant > 0.0f)) return Rgba{};
    const size_t face = static_cast<size_t>(2 * axis + (d[axis] < 0.0f ? 1 : 0));
    float cell[2];
    int low[2], high[2];
    float weight[2];
    for (int k = 0, a = 0; a < 3; ++a) {
        if (a == axis) continue;
        cell[k] = std::clamp((d[a] / dominant + 1.0f) * 4.0f - 0.5f, 0.0f, 7.0f);
        low[k] = static_cast<int>(cell[k]);  // truncation is the floor of a cell in [0, 7]
        high[k] = std::min(low[k] + 1, 7);
        weight[k] = cell[k] - static_cast<float>(low[k]);
        ++k;
    }
    auto entry = [&](int s, int t) {
        const size_t e = face * 64 + static_cast<size_t>(t) * 8 + static_cast<size_t>(s);
        if (e >= map.valid) ++m_counts.unboundTableReads;
        return map.entries[e];
    };
    Rgba out;
    const Rgba s0t0 = entry(low[0], low[1]), s1t0 = entry(high[0], low[1]);
    const Rgba s0t1 = entry(low[0], high[1]), s1t1 = entry(high[0], high[1]);
    for (int c = 0; c < 3; ++c) {
        const float top = s0t0.c[c] + (s1t0.c[c] - s0t0.c[c]) * weight[0];
        const float bottom = s0t1.c[c] + (s1t1.c[c] - s0t1.c[c]) * weight[0];
        out.c[c] = top + (bottom - top) * weight[1];
    }
    return out;
}

void Shader::Shade(const int64_t (&position)[3], const float* soft, int softCount, Sample& sample) {
    const Setup& s = m_setup;
    const Rgba c = Classify(position);
    float alpha = c.c[3];
    float kE = s.emissive, kD = s.diffuse, kS = s.specular;
    float normal[3] = {};
    int32_t g9[3] = {};
    if (s.gradient) {
        float g[3];
        Gradient(position, g);
        if (s.correct) {
            const float raw[3] = {g[0], g[1], g[2]};
            for (int a = 0; a < 3; ++a)
                g[a] = s.correction[a][0] * raw[0] + s.correction[a][1] * raw[1] + s.correction[a][2] * raw[2];
        }
        for (int a = 0; a < 3; ++a) g9[a] = Quantise9(g[a]);
        sample.magnitude2 = static_cast<uint32_t>(g9[0] * g9[0] + g9[1] * g9[1] + g9[2] * g9[2]);
        sample.hasNormal = sample.magnitude2 != 0;
        if (sample.hasNormal) {
            const float length = std::sqrt(static_cast<float>(sample.magnitude2));
            for (int a = 0; a < 3; ++a) normal[a] = -static_cast<float>(g9[a]) / length;
            sample.facing = normal[0] * s.eye[0] + normal[1] * s.eye[1] + normal[2] * s.eye[2];
        }

        // Magnitude modulation of alpha and the coefficients.
        const uint32_t m2 = sample.magnitude2;
        const bool modulating = s.modulate[0] || s.modulate[1] || s.modulate[2] || s.modulate[3];
        int64_t index = 0;  // the magnitude's table index, which only modulation and hi-pass read
        if (modulating || s.hiPassDiffuse || s.hiPassSpecular) {
            const uint32_t m12 = std::min<uint32_t>(
                4095, s.squaredIndex ? static_cast<uint32_t>(uint64_t{m2} * 4095 / (511 * 511))
                                     : static_cast<uint32_t>(std::floor(std::sqrt(static_cast<double>(m2)) * 4095.0 / 511.0)));
            index = std::clamp<int64_t>((int64_t{m12} - s.base) >> s.grain, 0, 63);
        }
        if (modulating) {
            const float factor = m2 < s.magnitudeMin   ? (s.lowerDefault ? 1.0f : 0.0f)
                                 : m2 > s.magnitudeMax ? (s.upperDefault ? 1.0f : 0.0f)
                                                       : Fraction(s.magnitudeTable, static_cast<size_t>(index));
            if (s.modulate[0]) alpha = alpha * factor;
            if (s.modulate[1]) kE = kE * factor;
            if (s.modulate[2]) kD = kD * factor;
            if (s.modulate[3]) kS = kS * factor;
        }
        if (s.hiPassDiffuse && index < s.hiPassStart) kD = 0.0f;
        if (s.hiPassSpecular && index < s.hiPassStart) kS = 0.0f;
    }

    // Lighting; a map is read only when its coefficient is non-zero.
    float diff[3], spec[3] = {};
    const bool specular = kS != 0.0f;
    for (int k = 0; k < 3; ++k) diff[k] = c.c[k] * kE;
    if (kD != 0.0f && sample.hasNormal) {
        const Rgba d = Map(s.diffuseMap, normal);
        for (int k = 0; k < 3; ++k) diff[k] = diff[k] + c.c[k] * kD * d.c[k];
    }
    if (specular && sample.hasNormal && !(s.specularFrontOnly && sample.facing <= 0.0f)) {
        float direction[3];
        for (int a = 0; a < 3; ++a)
            direction[a] = s.bypassReflection ? normal[a] : 2.0f * sample.facing * normal[a] - s.eye[a];
        const Rgba m = Map(s.specularMap, direction);
        for (int k = 0; k < 3; ++k) spec[k] = kS * m.c[k] * s.specularColour.c[k];
    }

    // Alpha correction, soft cut planes, opacity weighting.
    if (s.alphaCorrection) {
        const float x = std::clamp(alpha, 0.0f, 1.0f) * 55.0f;
        const size_t e = std::min<size_t>(static_cast<size_t>(x), 54);
        const float a0 = Fraction(s.alphaTable, e), a1 = Fraction(s.alphaTable, e + 1);
        alpha = a0 + (a1 - a0) * (x - static_cast<float>(e));
    }
    for (int k = 0; k < softCount; ++k) alpha = alpha * soft[k];
    for (int k = 0; k < 3; ++k) {
        if (s.opacityWeight)
            sample.colour.c[k] = specular ? diff[k] * alpha + (s.opacityWeightSpecular ? spec[k] * alpha : spec[k])
                                          : diff[k] * alpha;
        else
            sample.colour.c[k] = specular ? diff[k] + spec[k] : diff[k];
    }
    sample.colour.c[3] = alpha;
    if (s.outputGradient)
        for (int a = 0; a < 3; ++a) sample.colour.c[a] = static_cast<float>(g9[a]) / 511.0f;
    if (s.outputMagnitude)
        sample.colour.c[3] = std::min(1.0f, std::sqrt(static_cast<float>(sample.magnitude2)) / 511.0f);
}

}  // namespace tulx7sim::chip
