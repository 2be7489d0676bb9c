// The host copy of every render register. The render paths fill it field by
// field from the chip's field constants and then write a group of it into a
// command block.
#pragma once

#include <cstdint>
#include <span>

#include "tulx7/register_map.h"
#include "ulm3/status.h"

namespace ulm3 {

class KWBCommandBuffer;

// X(register, width in bits), in the order of the copy's fields.
#define ULM_ALL_RENDER_REGISTERS(X)                                                           \
    X(VolumeArrayBase, 64) X(VolumeArraySize, 64) X(VolumeArrayDimensions, 32)                \
    X(VolumeArrayOffsetModulus, 64) X(VolumeRangeMin, 64) X(VolumeRangeMax, 64)               \
    X(Depth0ArrayBase, 64) X(Depth0ArraySize, 64) X(Depth0ArrayDimensions, 32)                \
    X(Depth0ArrayOffsetModulus, 64) X(Depth0InitRangeMin, 64) X(Depth0InitRangeMax, 64)       \
    X(Depth1ArrayBase, 64) X(Depth1ArraySize, 64) X(Depth1ArrayDimensions, 32)                \
    X(Depth1ArrayOffsetModulus, 64) X(Depth1InitRangeMin, 64) X(Depth1InitRangeMax, 64)       \
    X(Image0ArrayBase, 64) X(Image0ArraySize, 64) X(Image0ArrayDimensions, 32)                \
    X(Image0ArrayOffsetModulus, 64) X(Image0InitRangeMin, 64) X(Image0InitRangeMax, 64)       \
    X(Image1ArrayBase, 64) X(Image1ArraySize, 64) X(Image1ArrayDimensions, 32)                \
    X(Image1ArrayOffsetModulus, 64) X(Image1InitRangeMin, 64) X(Image1InitRangeMax, 64)       \
    X(ViewFrustumRangeMin, 64) X(ViewFrustumRangeMax, 64) X(Transform, 32)                    \
    X(LookupTableFormat0, 32) X(LookupTableFormat1, 32) X(LookupTableFormat2, 32)             \
    X(LookupTableFormat3, 32) X(Image0FieldSel, 32) X(Image1FieldSel, 32)                     \
    X(CutPlane0_dCut_dXs, 32) X(CutPlane0_dCut_dYs, 32) X(CutPlane0_dCut_dZs, 32)             \
    X(CutPlane0_dCut_dZv, 32) X(CutPlane0_min, 32) X(CutPlane0_max, 32)                       \
    X(CutPlane1_dCut_dXs, 32) X(CutPlane1_dCut_dYs, 32) X(CutPlane1_dCut_dZs, 32)             \
    X(CutPlane1_dCut_dZv, 32) X(CutPlane1_min, 32) X(CutPlane1_max, 32)                       \
    X(CutPlane2_dCut_dXs, 32) X(CutPlane2_dCut_dYs, 32) X(CutPlane2_dCut_dZs, 32)             \
    X(CutPlane2_dCut_dZv, 32) X(CutPlane2_min, 32) X(CutPlane2_max, 32)                       \
    X(CutPlane3_dCut_dXs, 32) X(CutPlane3_dCut_dYs, 32) X(CutPlane3_dCut_dZs, 32)             \
    X(CutPlane3_dCut_dZv, 32) X(CutPlane3_min, 32) X(CutPlane3_max, 32)                       \
    X(CutPlaneControl, 32) X(CropControl, 32)                                                 \
    X(CropRangeXmin, 32) X(CropRangeXmax, 32) X(CropRangeYmin, 32)                            \
    X(CropRangeYmax, 32) X(CropRangeZmin, 32) X(CropRangeZmax, 32)                            \
    X(TrimRangeXmin, 32) X(TrimRangeXmax, 32) X(TrimRangeYmin, 32)                            \
    X(TrimRangeYmax, 32) X(TrimRangeZmin, 32) X(TrimRangeZmax, 32)                            \
    X(OriginXv8, 64) X(OriginYv8, 64) X(OriginZv8, 64)                                        \
    X(dXv8_dXs, 64) X(dYv8_dYs, 64) X(dZv8_dZs, 64) X(dXv8_dZs, 64) X(dYv8_dZs, 64)           \
    X(dYv8_dZv, 64) X(dXv8_dZv, 64) X(dYv8_dXs, 64) X(dXv8_dYs, 64)                           \
    X(OriginDepth, 64) X(dD_dXs, 64) X(dD_dYs, 64) X(dD_dZs, 64) X(dD_dZv, 64)                \
    X(VoxelFormat, 64) X(VoxelBorder, 64)                                                     \
    X(ddXv8_dXs_dZs, 64) X(ddXv8_dYs_dZs, 64) X(ddYv8_dXs_dZs, 64) X(ddYv8_dYs_dZs, 64)       \
    X(ddXv8_dXs_dZv, 64) X(ddXv8_dYs_dZv, 64) X(ddYv8_dXs_dZv, 64) X(ddYv8_dYs_dZv, 64)       \
    X(Alu0, 32) X(Alu1, 32) X(Alu2, 32)                                                       \
    X(GradientCorrection0, 32) X(GradientCorrection1, 32) X(GradientCorrection2, 32)          \
    X(GradientMagnitudeRange, 64) X(EyeVector, 64) X(SpecularColor, 64)                       \
    X(LightingCoefficient, 32) X(GradientMagnitudeModulation, 32)                             \
    X(SampleAlphaRange, 32) X(AccumAlphaRange, 32)                                            \
    X(DepthInitValue0, 32) X(DepthInitValue1, 32)                                             \
    X(ImageAccumValue, 64) X(ImageLastValue, 64)                                              \
    X(ErtThreshold, 32) X(EmptyThreshold, 32) X(Section, 32) X(SequencerDebug, 32)            \
    X(AddressOperand, 64)                                                                     \
    X(InterpolateControl, 32) X(GradientControl, 32) X(DepthControl, 32)                      \
    X(ImageControl, 32) X(RenderOperation, 32)

class ULMAllRenderRegisters {
public:
    // Everything 0, the address operand included.
    ULMAllRenderRegisters() { ClearAll(); }

    // Every register but the address operand back to 0; no register
    // programme writes the address operand, so it keeps what it holds.
    void ClearAll();

    // The held value of the render register at addr, widened to 64 bits;
    // false (and 0) for an address that is not a render register.
    bool Get(uint32_t addr, uint64_t& outValue) const;
    // Stores value into the render register at addr; a 32-bit register
    // refuses a value with bits above 31. False, and nothing stored, for an
    // address that is not a render register or a value that does not fit.
    bool Set(uint32_t addr, uint64_t value);

    // Writes the registers of `group` (addresses in the order of this copy,
    // such as the render and pass groups) into the open block of `buffer`.
    // Both halves of each pair of neighbouring 32-bit registers must appear in
    // the group one after the other, lower address first, so that they share
    // a data word. Stops at the first write that fails and returns its
    // status; an address that is not a render register gives kULMErrArgument.
    ULMStatus WriteRegisters(KWBCommandBuffer& buffer, std::span<const uint16_t> group) const;

#define ULM_DECLARE_RENDER_REGISTER(name, bits) uint##bits##_t m_##name = 0;
    ULM_ALL_RENDER_REGISTERS(ULM_DECLARE_RENDER_REGISTER)
#undef ULM_DECLARE_RENDER_REGISTER
};

}  // namespace ulm3
