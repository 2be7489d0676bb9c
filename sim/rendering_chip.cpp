// The simulated boards' rendering chip. A render decodes the registers once
// into a flat setup, then walks the frustum pixel by pixel: each pixel
// starts from its initial Accum and Last, composites its live samples in
// ray order and writes its final value, so pixels are independent and the
// bytes do not depend on the order they are visited in.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

#include "chip_arithmetic.h"
#include "chip_array.h"
#include "tulx7/driver_requests.h"
#include "tulx7/register_map.h"
#include "tulx7sim/config.h"
#include "tulx7sim/rendering_chip.h"

namespace tulx7sim {

namespace {

using chip::ChipArray;
using chip::FieldCode;
using chip::Rgba;
using Wide = __int128;

std::mutex gDiagnosticsMutex;
std::array<ChipDiagnostics, kMaxBoards> gDiagnostics;

uint32_t Reg32(const RegisterFile& registers, uint32_t address) {
    uint32_t value = 0;
    registers.Read32(address, value);
    return value;
}
uint64_t Reg64(const RegisterFile& registers, uint32_t address) {
    uint64_t value = 0;
    registers.Read64(address, value);
    return value;
}
int64_t Signed64(const RegisterFile& registers, uint32_t address) {
    return static_cast<int64_t>(Reg64(registers, address));
}
int32_t Signed32(const RegisterFile& registers, uint32_t address) {
    return static_cast<int32_t>(Reg32(registers, address));
}
uint32_t Bits(uint64_t word, int lowBit, int size) {
    return static_cast<uint32_t>(NKW7_ExtractField(word, lowBit, size));
}
#define CHIP_FIELD(word, reg, field) Bits(word, NKW7_##reg##_##field##_LoBit, NKW7_##reg##_##field##_Size)

// (a * b) >> 40 with an arithmetic shift, exact for any 128-bit a whose
// top 40 bits are sign (far beyond a 16-bit grid times a 64-bit step).
Wide MulShift40(Wide a, int64_t b) {
    const Wide high = a >> 40;
    const Wide low = a & ((Wide{1} << 40) - 1);
    return high * b + ((low * b) >> 40);
}

// Four 12-bit fractions at 15..4, 31..20, 47..36 and 63..52.
Rgba ColourValue(uint64_t word) {
    Rgba colour;
    for (int k = 0; k < 4; ++k)
        colour.c[k] = static_cast<float>((word >> (16 * k + 4)) & 0xFFF) / 4095.0f;
    return colour;
}

struct Fields {
    FieldCode code[4];
    explicit Fields(uint32_t word = 0x0F0F0F0F) {
        for (int k = 0; k < 4; ++k) code[k] = FieldCode::Decode(word >> (8 * k));
    }
};

// The positions of one sample slice zs: Zv is constant on it, Xv and Yv
// affine in (xs, ys). Raw values are S23.40 counts of 1/256 voxel.
struct Slice {
    bool live = false;
    int64_t z256 = 0;
    Wide x0 = 0, xx = 0, xy = 0;
    Wide y0 = 0, yx = 0, yy = 0;
};

// The registers of a render, decoded once.
struct Setup {
    ChipArray volume, image[2];
    std::vector<uint8_t> snapshot;  // the volume's bytes when the render also writes them

    uint32_t frustumMin[3] = {}, frustumMax[3] = {};
    int select[3] = {};  // volume axis of Xv, Yv, Zv
    bool negate[3] = {};
    int32_t trimMin[3] = {}, trimMax[3] = {};
    std::vector<Slice> slices;  // frustum z order

    Fields voxelFields;
    uint64_t voxelBorder = 0;
    bool trilinear[4] = {};
    bool extend[3] = {};  // u, v, w
    bool anyNearest = false, anyTrilinear = false;

    bool bypass[4] = {};
    std::vector<Rgba> table[4];
    size_t tableValid[4] = {};
    uint32_t alu[3] = {};
    float emissive = 1.0f;
    bool opacityWeight = false;

    bool initAccum = false, initLast = false;
    Rgba accumValue, lastValue;
    Fields imageFields[2];
    uint32_t write = 0;
    bool volumeOutput = false;  // dimensions 1
    uint32_t blendAccum = 0, blendLast = 0;
    uint32_t writeMask = 0;
};

class RenderingChip final : public ChipModel {
public:
    int32_t Render(const RenderJob& job, const RegisterFile& registers,
                   std::string& diagnostic) override;
};

// Everything a render counts, and the pixel loop.
class Renderer {
public:
    Renderer(const Setup& setup, ChipDiagnostics& counts) : m_setup(setup), m_counts(counts) {}

    void Run() {
        const Setup& s = m_setup;
        for (int a = 0; a < 3; ++a)
            if (s.frustumMin[a] > s.frustumMax[a]) return;
        if (s.volumeOutput) {
            for (uint32_t zs = s.frustumMin[2]; zs <= s.frustumMax[2]; ++zs)
                for (uint32_t ys = s.frustumMin[1]; ys <= s.frustumMax[1]; ++ys)
                    for (uint32_t xs = s.frustumMin[0]; xs <= s.frustumMax[0]; ++xs)
                        Pixel(xs, ys, zs);
            return;
        }
        for (uint32_t ys = s.frustumMin[1]; ys <= s.frustumMax[1]; ++ys)
            for (uint32_t xs = s.frustumMin[0]; xs <= s.frustumMax[0]; ++xs) Pixel(xs, ys, 0);
    }

private:
    struct Start {
        Rgba colour;
        uint64_t raw = 0;
    };

    // Initial Accum (slot 0) or Last (slot 1) of an element.
    Start Initial(int slot, bool enabled, const Rgba& value, const int64_t (&p)[3]) {
        const ChipArray& image = m_setup.image[slot];
        Start start{value, 0};
        if (!enabled || !image.Bound() || !image.InRange(p)) return start;
        const int64_t offset = image.Locate(p);
        if (offset < 0) {
            ++m_counts.readsOutsideStorage;
            return start;
        }
        start.raw = image.Read(offset);
        for (int k = 0; k < 4; ++k)
            start.colour.c[k] = static_cast<float>(m_setup.imageFields[slot].code[k].Read(start.raw)) /
                                static_cast<float>(chip::kFull);
        return start;
    }

    void Pixel(uint32_t xs, uint32_t ys, uint32_t zs) {
        const Setup& s = m_setup;
        const int64_t element[3] = {xs, ys, zs};
        const Start accumStart = Initial(0, s.initAccum, s.accumValue, element);
        const Start lastStart = Initial(1, s.initLast, s.lastValue, element);
        Rgba accum = accumStart.colour;
        if (s.volume.Bound()) {
            const size_t count = s.slices.size();
            if (s.volumeOutput) {
                Composite(s.slices[zs - s.frustumMin[2]], xs, ys, accum);
            } else if (s.blendAccum == 2 || s.blendAccum == 3) {
                for (size_t i = count; i-- > 0;) Composite(s.slices[i], xs, ys, accum);
            } else {
                for (size_t i = 0; i < count; ++i) Composite(s.slices[i], xs, ys, accum);
            }
        }
        Rgba result = accum;
        if (s.blendLast >= 1 && s.blendLast <= 5) chip::Blend(s.blendLast, result, lastStart.colour);
        else if (s.blendLast >= 7 && s.blendLast <= 15) chip::Blend(s.blendLast, result, lastStart.colour);
        for (int slot = 0; slot < 2; ++slot) {
            if ((s.write & (1u << slot)) == 0) continue;
            const uint64_t background = slot == 1 && s.blendLast != 0 ? lastStart.raw : accumStart.raw;
            Store(slot, element, background, result);
        }
    }

    void Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour) {
        if ((m_setup.writeMask & (1u << slot)) == 0) {
            ++m_counts.writesOutsideMask;
            return;
        }
        const ChipArray& image = m_setup.image[slot];
        const int64_t offset = image.Locate(p);
        if (offset < 0) {
            ++m_counts.droppedWrites;
            return;
        }
        const int bits = image.ElementBits();
        uint64_t word = bits >= 64 ? background : background & ((uint64_t{1} << bits) - 1);
        for (int k = 0; k < 4; ++k)
            m_setup.imageFields[slot].code[k].Write(static_cast<double>(colour.c[k]), word, bits);
        image.Write(offset, word);
    }

    void Composite(const Slice& slice, uint32_t xs, uint32_t ys, Rgba& accum) {
        if (!slice.live) return;
        const Setup& s = m_setup;
        const Wide xRaw = slice.x0 + Wide{xs} * slice.xx + Wide{ys} * slice.xy;
        const Wide yRaw = slice.y0 + Wide{xs} * slice.yx + Wide{ys} * slice.yy;
        const Wide x256 = xRaw >> 32, y256 = yRaw >> 32;
        if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1])
            return;
        const int64_t permuted[3] = {static_cast<int64_t>(x256), static_cast<int64_t>(y256), slice.z256};
        int64_t position[3];
        for (int a = 0; a < 3; ++a)
            position[s.select[a]] = s.negate[a] ? -permuted[a] - 256 : permuted[a];
        chip::Blend(s.blendAccum, accum, Classify(position));
    }

    // The voxel word at integer coordinates: edge-clamped or border outside
    // VolumeRange, border outside storage.
    uint64_t Voxel(int64_t u, int64_t v, int64_t w) {
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

    static int32_t Lerp(int32_t a, int32_t b, int64_t f) {
        return a + static_cast<int32_t>(((int64_t{b} - a) * f + 128) >> 8);
    }

    Rgba Classify(const int64_t (&position)[3]) {
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

    static Rgba Alu(uint32_t word, const Rgba& a, const Rgba& b) {
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

    const Setup& m_setup;
    ChipDiagnostics& m_counts;
};

// Fills the table of lookup `i` from its buffer: entry e is the e-th
// little-endian word, its channels decoded by the table's field codes.
void ExpandTable(Setup& setup, int i, const BoundTable& bound, uint32_t format) {
    const size_t entries = i == 3 ? 4096 : 256;
    setup.table[i].assign(entries, Rgba{});
    if (!bound.bound || bound.data == nullptr) return;
    const Fields fields(format);
    const size_t valid = std::min<size_t>({entries, bound.validEntries, bound.byteCount / 8});
    for (size_t e = 0; e < valid; ++e) {
        uint64_t word = 0;
        std::memcpy(&word, bound.data + 8 * e, 8);
        for (int k = 0; k < 4; ++k)
            setup.table[i][e].c[k] = static_cast<float>(fields.code[k].Read(word)) /
                                     static_cast<float>(chip::kFull);
    }
    setup.tableValid[i] = valid;
}

// Reads the registers. Returns an empty string, or why the chip cannot
// render them.
std::string Decode(const RenderJob& job, const RegisterFile& r, Setup& s, ChipDiagnostics& counts) {
    static constexpr chip::ArrayRegisterAddresses kVolume = {
        NKW7_VolumeArraySize_Addr, NKW7_VolumeArrayOffsetModulus_Addr,
        NKW7_VolumeArrayDimensions_Addr, NKW7_VolumeRangeMin_Addr, NKW7_VolumeRangeMax_Addr};
    static constexpr chip::ArrayRegisterAddresses kImages[2] = {
        {NKW7_Image0ArraySize_Addr, NKW7_Image0ArrayOffsetModulus_Addr,
         NKW7_Image0ArrayDimensions_Addr, NKW7_Image0InitRangeMin_Addr, NKW7_Image0InitRangeMax_Addr},
        {NKW7_Image1ArraySize_Addr, NKW7_Image1ArrayOffsetModulus_Addr,
         NKW7_Image1ArrayDimensions_Addr, NKW7_Image1InitRangeMin_Addr, NKW7_Image1InitRangeMax_Addr}};
    if (!s.volume.Load(r, kVolume, job.volume)) return "volume element size is not 1, 2, 4 or 8 bytes";
    for (int slot = 0; slot < 2; ++slot)
        if (!s.image[slot].Load(r, kImages[slot], slot == 0 ? job.image0 : job.image1))
            return slot == 0 ? "image 0 element size is not 1, 2, 4 or 8 bytes"
                             : "image 1 element size is not 1, 2, 4 or 8 bytes";
    // Depth buffers take no part in this chip's renders, but a bound one
    // must still be a layout the chip can address.
    static constexpr chip::ArrayRegisterAddresses kDepths[2] = {
        {NKW7_Depth0ArraySize_Addr, NKW7_Depth0ArrayOffsetModulus_Addr,
         NKW7_Depth0ArrayDimensions_Addr, NKW7_Depth0InitRangeMin_Addr, NKW7_Depth0InitRangeMax_Addr},
        {NKW7_Depth1ArraySize_Addr, NKW7_Depth1ArrayOffsetModulus_Addr,
         NKW7_Depth1ArrayDimensions_Addr, NKW7_Depth1InitRangeMin_Addr, NKW7_Depth1InitRangeMax_Addr}};
    for (int slot = 0; slot < 2; ++slot) {
        ChipArray depth;
        if (!depth.Load(r, kDepths[slot], slot == 0 ? job.depth0 : job.depth1))
            return slot == 0 ? "depth 0 element size is not 1, 2, 4 or 8 bytes"
                             : "depth 1 element size is not 1, 2, 4 or 8 bytes";
    }

    const uint32_t transform = Reg32(r, NKW7_Transform_Addr);
    const uint32_t selects[3] = {CHIP_FIELD(transform, Transform, selectX),
                                 CHIP_FIELD(transform, Transform, selectY),
                                 CHIP_FIELD(transform, Transform, selectZ)};
    if ((1u << selects[0] | 1u << selects[1] | 1u << selects[2]) != 7u)
        return "transform selects are not a permutation of the three axes";
    for (int a = 0; a < 3; ++a) {
        s.select[a] = static_cast<int>(selects[a]);
        s.negate[a] = ((transform >> a) & 1) != 0;
    }

    const uint32_t imageControl = Reg32(r, NKW7_ImageControl_Addr);
    const uint32_t operation = Reg32(r, NKW7_RenderOperation_Addr);
    s.initAccum = CHIP_FIELD(imageControl, ImageControl, initAccum) != 0;
    s.initLast = CHIP_FIELD(imageControl, ImageControl, initLast) != 0;
    s.write = CHIP_FIELD(imageControl, ImageControl, write);
    s.volumeOutput = CHIP_FIELD(imageControl, ImageControl, dimensions) != 0;
    s.blendAccum = CHIP_FIELD(imageControl, ImageControl, blendAccum);
    s.blendLast = CHIP_FIELD(imageControl, ImageControl, blendLast);
    s.accumValue = ColourValue(Reg64(r, NKW7_ImageAccumValue_Addr));
    s.lastValue = ColourValue(Reg64(r, NKW7_ImageLastValue_Addr));
    s.imageFields[0] = Fields(Reg32(r, NKW7_Image0FieldSel_Addr));
    s.imageFields[1] = Fields(Reg32(r, NKW7_Image1FieldSel_Addr));
    s.writeMask = job.writeMask;

    const uint64_t frustumMin = Reg64(r, NKW7_ViewFrustumRangeMin_Addr);
    const uint64_t frustumMax = Reg64(r, NKW7_ViewFrustumRangeMax_Addr);
    for (int a = 0; a < 3; ++a) {
        s.frustumMin[a] = static_cast<uint32_t>((frustumMin >> (16 * a)) & 0xFFFF);
        s.frustumMax[a] = static_cast<uint32_t>((frustumMax >> (16 * a)) & 0xFFFF);
    }
    const uint32_t trimAddresses[3][2] = {{NKW7_TrimRangeXmin_Addr, NKW7_TrimRangeXmax_Addr},
                                          {NKW7_TrimRangeYmin_Addr, NKW7_TrimRangeYmax_Addr},
                                          {NKW7_TrimRangeZmin_Addr, NKW7_TrimRangeZmax_Addr}};
    for (int a = 0; a < 3; ++a) {
        s.trimMin[a] = Signed32(r, trimAddresses[a][0]);
        s.trimMax[a] = Signed32(r, trimAddresses[a][1]);
    }

    // Codes this chip reads as another, or leaves out.
    uint64_t reserved = 0, unmodelled = 0;
    const uint32_t interpolate = Reg32(r, NKW7_InterpolateControl_Addr);
    for (int i = 0; i < 4; ++i) {
        const uint32_t code = (interpolate >> (4 * i)) & 0xF;
        s.trilinear[i] = (code & 1) != 0 || code > 3;
        reserved += code > 3;
        unmodelled += code == 3;  // classify before interpolating
    }
    const uint32_t extendCodes[3] = {CHIP_FIELD(interpolate, InterpolateControl, voxelExtendX),
                                     CHIP_FIELD(interpolate, InterpolateControl, voxelExtendY),
                                     CHIP_FIELD(interpolate, InterpolateControl, voxelExtendZ)};
    for (int a = 0; a < 3; ++a) {
        s.extend[a] = extendCodes[a] == 1;
        reserved += extendCodes[a] > 1;
    }
    s.voxelFields = Fields(static_cast<uint32_t>(Reg64(r, NKW7_VoxelFormat_Addr)));
    s.voxelBorder = Reg64(r, NKW7_VoxelBorder_Addr);
    for (int i = 0; i < 4; ++i) {
        if (!s.voxelFields.code[i].present) continue;
        (s.trilinear[i] ? s.anyTrilinear : s.anyNearest) = true;
    }

    const uint32_t tableFormats[4] = {NKW7_LookupTableFormat0_Addr, NKW7_LookupTableFormat1_Addr,
                                      NKW7_LookupTableFormat2_Addr, NKW7_LookupTableFormat3_Addr};
    for (int i = 0; i < 4; ++i) {
        s.bypass[i] = ((operation >> (NKW7_RenderOperation_bypass0_LoBit + 2 * i)) & 3) != 0;
        if (!s.bypass[i]) ExpandTable(s, i, job.tables[static_cast<size_t>(i)], Reg32(r, tableFormats[i]));
    }
    const uint32_t aluAddresses[3] = {NKW7_Alu0_Addr, NKW7_Alu1_Addr, NKW7_Alu2_Addr};
    for (int k = 0; k < 3; ++k) {
        s.alu[k] = Reg32(r, aluAddresses[k]);
        for (int c = 0; c < 4; ++c) reserved += ((s.alu[k] >> (8 * c)) & 0xFF) >= 64;
    }

    const uint32_t lighting = Reg32(r, NKW7_LightingCoefficient_Addr);
    s.emissive = static_cast<float>(CHIP_FIELD(lighting, LightingCoefficient, kEmissive)) / 255.0f;
    s.opacityWeight = CHIP_FIELD(operation, RenderOperation, opacityWeight) != 0;
    unmodelled += CHIP_FIELD(lighting, LightingCoefficient, kDiffuse) != 0;
    unmodelled += CHIP_FIELD(lighting, LightingCoefficient, kSpecular) != 0;
    unmodelled += (Reg32(r, NKW7_GradientMagnitudeModulation_Addr) & 0x3F) != 0;  // modulate, hi-pass
    const uint32_t gradient = Reg32(r, NKW7_GradientControl_Addr);
    unmodelled += CHIP_FIELD(gradient, GradientControl, outputGrad) != 0;
    unmodelled += CHIP_FIELD(gradient, GradientControl, outputMag) != 0;
    unmodelled += (imageControl & 0x31F) != 0;  // filters, alpha correction, early termination
    unmodelled += CHIP_FIELD(operation, RenderOperation, spaceLeaping) != 0;
    unmodelled += (Reg32(r, NKW7_CropControl_Addr) & 0x777) != 0;
    unmodelled += (Reg32(r, NKW7_CutPlaneControl_Addr) & 0x44440000) != 0;
    const uint32_t depth = Reg32(r, NKW7_DepthControl_Addr);
    const uint32_t testFirst = CHIP_FIELD(depth, DepthControl, testFirst);
    const uint32_t testLast = CHIP_FIELD(depth, DepthControl, testLast);
    const bool depthTests = CHIP_FIELD(depth, DepthControl, action) != 0 &&
                            ((testFirst >= 1 && testFirst <= 6) || (testLast >= 1 && testLast <= 6));
    unmodelled += depthTests;
    unmodelled += (depth & 0x30) != 0;  // depth writes
    unmodelled += s.blendAccum == 6;
    reserved += s.blendAccum >= 16;
    reserved += s.blendLast >= 16;
    reserved += s.volume.ReservedDimension() + s.image[0].ReservedDimension() + s.image[1].ReservedDimension();
    counts.reservedCodes += reserved;
    counts.unmodelledFeatures += unmodelled;

    // Reads see the buffers as they were when the render started, even when
    // the volume is also an image the render writes.
    if (s.volume.Bound()) {
        for (int slot = 0; slot < 2; ++slot) {
            const BoundArray* image = s.image[slot].Source();
            const bool written = (s.write & (1u << slot)) != 0 && (s.writeMask & (1u << slot)) != 0;
            if (written && s.image[slot].Bound() && image->bufferId == job.volume.bufferId &&
                s.snapshot.empty()) {
                s.snapshot.assign(job.volume.data, job.volume.data + job.volume.byteCount);
                s.volume.ReadFrom(s.snapshot.data());
            }
        }
    }

    // Slice positions.
    if (s.volume.Bound() && s.frustumMin[2] <= s.frustumMax[2]) {
        const int64_t originX = Signed64(r, NKW7_OriginXv8_Addr), originY = Signed64(r, NKW7_OriginYv8_Addr);
        const int64_t originZ = Signed64(r, NKW7_OriginZv8_Addr);
        const int64_t dZ = Signed64(r, NKW7_dZv8_dZs_Addr);
        s.slices.resize(s.frustumMax[2] - s.frustumMin[2] + 1);
        for (uint32_t zs = s.frustumMin[2]; zs <= s.frustumMax[2]; ++zs) {
            Slice& slice = s.slices[zs - s.frustumMin[2]];
            const Wide deltaZ = Wide{zs} * dZ;
            const Wide z256 = (Wide{originZ} + deltaZ) >> 32;
            slice.live = z256 >= s.trimMin[2] && z256 <= s.trimMax[2];
            if (!slice.live) continue;
            slice.z256 = static_cast<int64_t>(z256);
            auto term = [&](uint32_t perZs, uint32_t perZv) {
                return Wide{zs} * Signed64(r, perZs) + MulShift40(deltaZ, Signed64(r, perZv));
            };
            slice.xx = Wide{Signed64(r, NKW7_dXv8_dXs_Addr)} + term(NKW7_ddXv8_dXs_dZs_Addr, NKW7_ddXv8_dXs_dZv_Addr);
            slice.xy = Wide{Signed64(r, NKW7_dXv8_dYs_Addr)} + term(NKW7_ddXv8_dYs_dZs_Addr, NKW7_ddXv8_dYs_dZv_Addr);
            slice.x0 = Wide{originX} + term(NKW7_dXv8_dZs_Addr, NKW7_dXv8_dZv_Addr);
            slice.yx = Wide{Signed64(r, NKW7_dYv8_dXs_Addr)} + term(NKW7_ddYv8_dXs_dZs_Addr, NKW7_ddYv8_dXs_dZv_Addr);
            slice.yy = Wide{Signed64(r, NKW7_dYv8_dYs_Addr)} + term(NKW7_ddYv8_dYs_dZs_Addr, NKW7_ddYv8_dYs_dZv_Addr);
            slice.y0 = Wide{originY} + term(NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr);
        }
    }
    return {};
}

int32_t RenderingChip::Render(const RenderJob& job, const RegisterFile& registers,
                              std::string& diagnostic) {
    ChipDiagnostics counts;
    Setup setup;
    diagnostic = Decode(job, registers, setup, counts);
    if (diagnostic.empty()) Renderer(setup, counts).Run();
    if (job.board >= 0 && job.board < kMaxBoards) {
        std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
        ChipDiagnostics& total = gDiagnostics[static_cast<size_t>(job.board)];
        total.droppedWrites += counts.droppedWrites;
        total.writesOutsideMask += counts.writesOutsideMask;
        total.readsOutsideStorage += counts.readsOutsideStorage;
        total.reservedCodes += counts.reservedCodes;
        total.unboundTableReads += counts.unboundTableReads;
        total.unmodelledFeatures += counts.unmodelledFeatures;
    }
    return diagnostic.empty() ? TULX7_DR_STATUS_SUCCESS : TULX7_DR_STATUS_HW_ERROR;
}

}  // namespace

std::shared_ptr<ChipModel> MakeRenderingChip() { return std::make_shared<RenderingChip>(); }

ChipDiagnostics GetChipDiagnostics(int board) {
    if (board < 0 || board >= kMaxBoards) return {};
    std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
    return gDiagnostics[static_cast<size_t>(board)];
}

void ClearChipDiagnostics() {
    std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
    gDiagnostics.fill(ChipDiagnostics{});
}

}  // namespace tulx7sim
