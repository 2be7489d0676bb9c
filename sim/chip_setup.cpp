// Register decoding: one pass over the register file into the flat Setup.
#include "chip_setup.h"

#include <algorithm>
#include <cstring>

#include "driver_requests.h"
#include "register_map.h"

namespace tulx7sim::chip {

namespace {

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

}  // namespace

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

}  // namespace tulx7sim::chip
