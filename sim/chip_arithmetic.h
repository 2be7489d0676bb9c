// The chip's per-sample arithmetic: field codes, the integer channel values
// of the fetch stage, the ALU operators and the blend functions. Integers up
// to the lookup stage, float32 after it, each in one fixed order (the sim
// is built without contraction into fused multiply-adds), so results do not
// depend on how the pixels are visited.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "tulx7/chip_codes.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

// Channel values before the lookup stage: unsigned 0..65535, signed
// -65535..65535.
inline constexpr int32_t kFull = 65535;

// One byte field code, as the register map's field codes spell it; the
// no-field code reads 0 and is never written.
struct FieldCode {
    bool present = false;
    bool isSigned = false;
    uint8_t shift = 0;
    uint8_t bits = 4;

    static FieldCode Decode(uint32_t code) {
        FieldCode field;
        code &= NKW7_FieldCodeMask;
        if (code == NKW7_NoFieldCode) return field;
        field.present = true;
        // The bitfield and the integer read as unsigned fractions too.
        field.isSigned = NKW7_FieldCodeControl(code) == NKW7_Code(NKW7_FieldControl::SignedFraction);
        field.bits = static_cast<uint8_t>(NKW7_FieldCodeSizeBits(code));
        field.shift = static_cast<uint8_t>(NKW7_FieldCodeShift(code));
        return field;
    }

    uint64_t Mask() const { return (uint64_t{1} << bits) - 1; }

    // The raw bits; bits beyond bit 63 read 0.
    uint64_t Raw(uint64_t word) const { return (word >> shift) & Mask(); }

    // The channel value of the field in `word`, rounded half up. The
    // divisors are spelled out per width so that none is a run-time divide.
    int32_t Read(uint64_t word) const {
        if (!present) return 0;
        const uint64_t raw = Raw(word);
        if (!isSigned) {
            switch (bits) {
                case 4: return static_cast<int32_t>(raw * 4369);  // 65535 / 15: bit replication
                case 8: return static_cast<int32_t>(raw * 257);
                case 12: return static_cast<int32_t>((2 * raw * kFull + 4095) / 8190);
                default: return static_cast<int32_t>(raw);
            }
        }
        int64_t s = static_cast<int64_t>(raw);
        if (raw >> (bits - 1)) s -= int64_t{1} << bits;
        const int64_t twice = 2 * (s < 0 ? -s : s) * kFull;
        // The quotient is never a tie, so rounding the magnitude half up is
        // rounding to nearest.
        int64_t magnitude = 0;
        switch (bits) {
            case 4: magnitude = (twice + 7) / 14; break;
            case 8: magnitude = (twice + 127) / 254; break;
            case 12: magnitude = (twice + 2047) / 4094; break;
            default: magnitude = (twice + 32767) / 65534; break;
        }
        magnitude = std::min<int64_t>(magnitude, kFull);
        return static_cast<int32_t>(s < 0 ? -magnitude : magnitude);
    }

    // Replaces the field in `word` by `v` (a fraction), saturating; NaN
    // stores 0. Bits at or beyond `widthBits` are left alone.
    void Write(double v, uint64_t& word, int widthBits) const {
        if (!present) return;
        int64_t stored = 0;
        if (!isSigned) {
            const double top = static_cast<double>(Mask());
            const double k = std::floor(v * top + 0.5);
            stored = std::isnan(k) ? 0 : static_cast<int64_t>(std::clamp(k, 0.0, top));
        } else {
            const double m = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
            const double k = std::floor(v * m + 0.5);
            stored = std::isnan(k) ? 0 : static_cast<int64_t>(std::clamp(k, -m, m));
        }
        uint64_t mask = Mask() << shift;
        if (widthBits < 64) mask &= (uint64_t{1} << widthBits) - 1;
        word = (word & ~mask) | ((static_cast<uint64_t>(stored) << shift) & mask);
    }
};

struct Rgba {
    float c[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

inline float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Four float32 lanes, each computed as the scalar code computes it (the
// sim is built without contraction, so nothing fuses).
using Float4 = float __attribute__((vector_size(16)));

inline Float4 Broadcast(float v) { return Float4{v, v, v, v}; }

// a + (b - a) * (f / 256) per lane; a weight of 0 leaves a (its neighbour
// is never read).
inline Float4 LerpFloat4(Float4 a, Float4 b, int64_t f) {
    return f == 0 ? a : a + (b - a) * Broadcast(static_cast<float>(f) / 256.0f);
}

// The trilinear blend of eight corners (corner c one up along axis k when
// bit k of c is set) with weights f along each axis, along u, then v, then w.
inline Float4 LerpCorners(const Float4 (&corner)[8], const int64_t (&f)[3]) {
    const Float4 v0 = LerpFloat4(LerpFloat4(corner[0], corner[1], f[0]), LerpFloat4(corner[2], corner[3], f[0]), f[1]);
    const Float4 v1 = LerpFloat4(LerpFloat4(corner[4], corner[5], f[0]), LerpFloat4(corner[6], corner[7], f[0]), f[1]);
    return LerpFloat4(v0, v1, f[2]);
}

inline uint32_t Quantise16(float v) {
    return static_cast<uint32_t>(std::floor(static_cast<double>(Clamp01(v)) * kFull + 0.5));
}

// One ALU operator on one channel. Codes of 64 and above are reserved and
// give 0 (`reserved` set).
inline float AluOperate(uint32_t op, float a, float b, bool& reserved) {
    if (op == NKW7_Code(NKW7_AluOp::Zero)) return 0.0f;
    if (op == NKW7_Code(NKW7_AluOp::One)) return 1.0f;
    if (op == NKW7_Code(NKW7_AluOp::A)) return a;
    if (op == NKW7_Code(NKW7_AluOp::B)) return b;
    if (op < NKW7_Code(NKW7_AluOp::APlusB)) {
        const uint32_t qa = Quantise16(a), qb = Quantise16(b);
        uint32_t r = 0;
        if (op & 8) r |= ~qa & ~qb;
        if (op & 4) r |= ~qa & qb;
        if (op & 2) r |= qa & ~qb;
        if (op & 1) r |= qa & qb;
        return static_cast<float>(r & 0xFFFF) / static_cast<float>(kFull);
    }
    const float na = 1.0f - a, nb = 1.0f - b;
    if (op < NKW7_Code(NKW7_AluOp::AMinB)) {
        switch (op) {
            case NKW7_Code(NKW7_AluOp::APlusB): return Clamp01(a + b);
            case NKW7_Code(NKW7_AluOp::APlusNotB): return Clamp01(a + nb);
            case NKW7_Code(NKW7_AluOp::NotAPlusB): return Clamp01(na + b);
            case NKW7_Code(NKW7_AluOp::NotAPlusNotB): return Clamp01(na + nb);
            case NKW7_Code(NKW7_AluOp::NotAMinusB): return Clamp01(na - b);
            case NKW7_Code(NKW7_AluOp::BMinusA): return Clamp01(b - a);
            case NKW7_Code(NKW7_AluOp::AMinusB): return Clamp01(a - b);
            default: return Clamp01(a + b - 1.0f);
        }
    }
    if (op < NKW7_Code(NKW7_AluOp::ProductFirst)) {
        switch (op) {
            case NKW7_Code(NKW7_AluOp::AMinB): return Clamp01(std::min(a, b));
            case NKW7_Code(NKW7_AluOp::AMinNotB): return Clamp01(std::min(a, nb));
            case NKW7_Code(NKW7_AluOp::NotAMinB): return Clamp01(std::min(na, b));
            case NKW7_Code(NKW7_AluOp::NotAMinNotB): return Clamp01(std::min(na, nb));
            case NKW7_Code(NKW7_AluOp::NotAMaxNotB): return Clamp01(std::max(na, nb));
            case NKW7_Code(NKW7_AluOp::NotAMaxB): return Clamp01(std::max(na, b));
            case NKW7_Code(NKW7_AluOp::AMaxNotB): return Clamp01(std::max(a, nb));
            default: return Clamp01(std::max(a, b));
        }
    }
    if (op < NKW7_Code(NKW7_AluOp::ReservedFirst)) {
        const uint32_t k = ((op - NKW7_Code(NKW7_AluOp::ProductFirst)) >> 2) & 3;
        // The low two bits complement the operands as the sums' codes do.
        const float x = (op & 2) != 0 ? na : a;
        const float y = (op & 1) != 0 ? nb : b;
        const float product = x * y;
        const float scaled = product * static_cast<float>(1u << k);
        return Clamp01(op < NKW7_Code(NKW7_AluOp::OneMinusProductFirst) ? scaled : 1.0f - scaled);
    }
    reserved = true;
    return 0.0f;
}

inline uint32_t Quantise12(float v) {
    const double k = std::floor(static_cast<double>(v) * 4095.0 + 0.5);
    return !(k >= 0.0) ? 0u : static_cast<uint32_t>(std::min(k, 4095.0));
}

// Whether a blend mode composites the samples back to front.
constexpr bool BlendsBackToFront(uint32_t mode) {
    return mode == NKW7_Code(NKW7_BlendMode::BackToFront) || mode == NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted);
}

// Whether a last mode combines Last into the result: all but None, the
// sum-and-count and the reserved codes.
constexpr bool LastModeCombines(uint32_t mode) {
    return mode != NKW7_Code(NKW7_BlendMode::None) && mode != NKW7_Code(NKW7_BlendMode::SumAndCount) &&
           mode < NKW7_BlendModeCount;
}

// The compositing operators. The reserved modes leave `acc` alone; the
// caller reports them.
[[gnu::always_inline]] inline void Blend(uint32_t mode, Rgba& acc, const Rgba& in) {
    const float alpha = in.c[3];
    switch (mode) {
        case NKW7_Code(NKW7_BlendMode::Replace):
            acc = in;
            return;
        case NKW7_Code(NKW7_BlendMode::BackToFront):
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) acc.c[k] = alpha * in.c[k] + (1.0f - alpha) * acc.c[k];
            acc.c[3] = alpha + (1.0f - alpha) * acc.c[3];
            return;
        case NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted):
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) acc.c[k] = in.c[k] + (1.0f - alpha) * acc.c[k];
            acc.c[3] = alpha + (1.0f - alpha) * acc.c[3];
            return;
        case NKW7_Code(NKW7_BlendMode::FrontToBack): {
            const float remaining = 1.0f - acc.c[3];
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) acc.c[k] = acc.c[k] + remaining * in.c[k] * alpha;
            acc.c[3] = acc.c[3] + remaining * alpha;
            return;
        }
        case NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted): {
            const float remaining = 1.0f - acc.c[3];
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) acc.c[k] = acc.c[k] + remaining * in.c[k];
            acc.c[3] = acc.c[3] + remaining * alpha;
            return;
        }
        case NKW7_Code(NKW7_BlendMode::SumAndCount):
            // Sum and count: exact 12-bit sums of alpha in red and of the
            // samples in green.
            acc.c[0] = static_cast<float>(std::min(4095u, Quantise12(acc.c[0]) + Quantise12(alpha))) / 4095.0f;
            acc.c[1] = static_cast<float>(std::min(4095u, Quantise12(acc.c[1]) + 1)) / 4095.0f;
            return;
        case NKW7_Code(NKW7_BlendMode::EmptyBits):
            for (int k = 0; k < 4; ++k)
                if (in.c[k] > 0.0f) acc.c[k] = 1.0f;
            return;
        default:
            break;
    }
    constexpr uint32_t kMin = NKW7_Code(NKW7_BlendMode::MinRed), kMax = NKW7_Code(NKW7_BlendMode::MaxRed);
    if (mode >= kMin && mode <= NKW7_Code(NKW7_BlendMode::MinAlpha)) {
        if (in.c[mode - kMin] < acc.c[mode - kMin]) acc = in;
    } else if (mode >= kMax && mode <= NKW7_Code(NKW7_BlendMode::MaxAlpha)) {
        if (in.c[mode - kMax] > acc.c[mode - kMax]) acc = in;
    }
}

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
