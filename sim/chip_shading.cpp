// The per-sample shading stages, from voxel fetch to the shaded colour.
#include "chip_shading.h"

namespace tulx7sim::chip {

uint64_t Shader::Voxel(int64_t u, int64_t v, int64_t w) {
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

int32_t Shader::Lerp(int32_t a, int32_t b, int64_t f) {
    return a + static_cast<int32_t>(((int64_t{b} - a) * f + 128) >> 8);
}

Rgba Shader::Classify(const int64_t (&position)[3]) {
    const Setup& s = m_setup;
    int32_t value[4] = {};
    if (s.anyNearest) {
        const uint64_t word = Voxel((position[0] + 128) >> 8, (position[1] + 128) >> 8,
                                    (position[2] + 128) >> 8);
        for (int i = 0; i < 4; ++i)
            if (!s.trilinear[i]) value[i] = s.voxelFields.code[i].Read(word);
    }
    if (s.anyTrilinear) {
        int64_t base[3], f[3];
        for (int a = 0; a < 3; ++a) {
            base[a] = position[a] >> 8;
            f[a] = position[a] & 255;
        }
        // Neighbours of weight 0 are never read.
        uint64_t words[8] = {};
        for (int corner = 0; corner < 8; ++corner) {
            const int du = corner & 1, dv = (corner >> 1) & 1, dw = (corner >> 2) & 1;
            if ((du && f[0] == 0) || (dv && f[1] == 0) || (dw && f[2] == 0)) continue;
            words[corner] = Voxel(base[0] + du, base[1] + dv, base[2] + dw);
        }
        for (int i = 0; i < 4; ++i) {
            if (!s.trilinear[i]) continue;
            const FieldCode& code = s.voxelFields.code[i];
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

    Rgba looked[4];
    for (int i = 0; i < 4; ++i) {
        if (s.bypass[i]) {
            const float x = static_cast<float>(value[i]) / static_cast<float>(chip::kFull);
            looked[i] = Rgba{{x, x, x, x}};
            continue;
        }
        uint32_t index = static_cast<uint32_t>(
            s.voxelFields.code[i].isSigned ? (value[i] + 65536) >> 1 : value[i]);
        index >>= i == 3 ? 4 : 8;
        if (index >= s.tableValid[i]) ++m_counts.unboundTableReads;
        looked[i] = s.table[i][index];
    }
    const Rgba alu0 = Alu(s.alu[0], looked[0], looked[1]);
    const Rgba alu1 = Alu(s.alu[1], looked[2], looked[3]);
    Rgba sample = Alu(s.alu[2], alu0, alu1);
    for (int k = 0; k < 3; ++k) {
        sample.c[k] = sample.c[k] * s.emissive;
        if (s.opacityWeight) sample.c[k] = sample.c[k] * sample.c[3];
    }
    return sample;
}

Rgba Shader::Alu(uint32_t word, const Rgba& a, const Rgba& b) {
    Rgba out;
    bool reserved = false;  // counted once per render from the registers
    for (int k = 0; k < 4; ++k) {
        // Routing, as every pass uses, without the operator call.
        const uint32_t op = (word >> (8 * k)) & 0xFF;
        out.c[k] = op == 3 ? a.c[k] : op == 5 ? b.c[k] : op == 0 ? 0.0f
                                             : chip::AluOperate(op, a.c[k], b.c[k], reserved);
    }
    return out;
}

}  // namespace tulx7sim::chip
