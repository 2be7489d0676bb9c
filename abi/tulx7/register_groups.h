// The groups of render registers that the library's register programmes
// write, each in one command block. Addresses are listed in the order of the
// host copy of the render registers, which writes both halves of every pair
// of neighbouring 32-bit registers one after the other, lower address first,
// as the command encoder requires.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tulx7/register_map.h"

namespace ulm3 {

// Every render register, in the order of the host copy.
inline constexpr std::array<uint16_t, 131> kULMAllRenderRegisterAddrs = {
    NKW7_VolumeArrayBase_Addr, NKW7_VolumeArraySize_Addr, NKW7_VolumeArrayDimensions_Addr,
    NKW7_VolumeArrayOffsetModulus_Addr, NKW7_VolumeRangeMin_Addr, NKW7_VolumeRangeMax_Addr,
    NKW7_Depth0ArrayBase_Addr, NKW7_Depth0ArraySize_Addr, NKW7_Depth0ArrayDimensions_Addr,
    NKW7_Depth0ArrayOffsetModulus_Addr, NKW7_Depth0InitRangeMin_Addr, NKW7_Depth0InitRangeMax_Addr,
    NKW7_Depth1ArrayBase_Addr, NKW7_Depth1ArraySize_Addr, NKW7_Depth1ArrayDimensions_Addr,
    NKW7_Depth1ArrayOffsetModulus_Addr, NKW7_Depth1InitRangeMin_Addr, NKW7_Depth1InitRangeMax_Addr,
    NKW7_Image0ArrayBase_Addr, NKW7_Image0ArraySize_Addr, NKW7_Image0ArrayDimensions_Addr,
    NKW7_Image0ArrayOffsetModulus_Addr, NKW7_Image0InitRangeMin_Addr, NKW7_Image0InitRangeMax_Addr,
    NKW7_Image1ArrayBase_Addr, NKW7_Image1ArraySize_Addr, NKW7_Image1ArrayDimensions_Addr,
    NKW7_Image1ArrayOffsetModulus_Addr, NKW7_Image1InitRangeMin_Addr, NKW7_Image1InitRangeMax_Addr,
    NKW7_ViewFrustumRangeMin_Addr, NKW7_ViewFrustumRangeMax_Addr, NKW7_Transform_Addr,
    NKW7_LookupTableFormat0_Addr, NKW7_LookupTableFormat1_Addr, NKW7_LookupTableFormat2_Addr,
    NKW7_LookupTableFormat3_Addr, NKW7_Image0FieldSel_Addr, NKW7_Image1FieldSel_Addr,
    NKW7_CutPlane0_dCut_dXs_Addr, NKW7_CutPlane0_dCut_dYs_Addr, NKW7_CutPlane0_dCut_dZs_Addr,
    NKW7_CutPlane0_dCut_dZv_Addr, NKW7_CutPlane0_min_Addr, NKW7_CutPlane0_max_Addr,
    NKW7_CutPlane1_dCut_dXs_Addr, NKW7_CutPlane1_dCut_dYs_Addr, NKW7_CutPlane1_dCut_dZs_Addr,
    NKW7_CutPlane1_dCut_dZv_Addr, NKW7_CutPlane1_min_Addr, NKW7_CutPlane1_max_Addr,
    NKW7_CutPlane2_dCut_dXs_Addr, NKW7_CutPlane2_dCut_dYs_Addr, NKW7_CutPlane2_dCut_dZs_Addr,
    NKW7_CutPlane2_dCut_dZv_Addr, NKW7_CutPlane2_min_Addr, NKW7_CutPlane2_max_Addr,
    NKW7_CutPlane3_dCut_dXs_Addr, NKW7_CutPlane3_dCut_dYs_Addr, NKW7_CutPlane3_dCut_dZs_Addr,
    NKW7_CutPlane3_dCut_dZv_Addr, NKW7_CutPlane3_min_Addr, NKW7_CutPlane3_max_Addr,
    NKW7_CutPlaneControl_Addr, NKW7_CropControl_Addr,
    NKW7_CropRangeXmin_Addr, NKW7_CropRangeXmax_Addr, NKW7_CropRangeYmin_Addr,
    NKW7_CropRangeYmax_Addr, NKW7_CropRangeZmin_Addr, NKW7_CropRangeZmax_Addr,
    NKW7_TrimRangeXmin_Addr, NKW7_TrimRangeXmax_Addr, NKW7_TrimRangeYmin_Addr,
    NKW7_TrimRangeYmax_Addr, NKW7_TrimRangeZmin_Addr, NKW7_TrimRangeZmax_Addr,
    NKW7_OriginXv8_Addr, NKW7_OriginYv8_Addr, NKW7_OriginZv8_Addr,
    NKW7_dXv8_dXs_Addr, NKW7_dYv8_dYs_Addr, NKW7_dZv8_dZs_Addr, NKW7_dXv8_dZs_Addr,
    NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr, NKW7_dXv8_dZv_Addr, NKW7_dYv8_dXs_Addr,
    NKW7_dXv8_dYs_Addr, NKW7_OriginDepth_Addr, NKW7_dD_dXs_Addr, NKW7_dD_dYs_Addr,
    NKW7_dD_dZs_Addr, NKW7_dD_dZv_Addr,
    NKW7_VoxelFormat_Addr, NKW7_VoxelBorder_Addr,
    NKW7_ddXv8_dXs_dZs_Addr, NKW7_ddXv8_dYs_dZs_Addr, NKW7_ddYv8_dXs_dZs_Addr,
    NKW7_ddYv8_dYs_dZs_Addr, NKW7_ddXv8_dXs_dZv_Addr, NKW7_ddXv8_dYs_dZv_Addr,
    NKW7_ddYv8_dXs_dZv_Addr, NKW7_ddYv8_dYs_dZv_Addr,
    NKW7_Alu0_Addr, NKW7_Alu1_Addr, NKW7_Alu2_Addr,
    NKW7_GradientCorrection0_Addr, NKW7_GradientCorrection1_Addr, NKW7_GradientCorrection2_Addr,
    NKW7_GradientMagnitudeRange_Addr, NKW7_EyeVector_Addr, NKW7_SpecularColor_Addr,
    NKW7_LightingCoefficient_Addr, NKW7_GradientMagnitudeModulation_Addr,
    NKW7_SampleAlphaRange_Addr, NKW7_AccumAlphaRange_Addr, NKW7_DepthInitValue0_Addr,
    NKW7_DepthInitValue1_Addr,
    NKW7_ImageAccumValue_Addr, NKW7_ImageLastValue_Addr,
    NKW7_ErtThreshold_Addr, NKW7_EmptyThreshold_Addr, NKW7_Section_Addr, NKW7_SequencerDebug_Addr,
    NKW7_AddressOperand_Addr,
    NKW7_InterpolateControl_Addr, NKW7_GradientControl_Addr, NKW7_DepthControl_Addr,
    NKW7_ImageControl_Addr, NKW7_RenderOperation_Addr,
};

namespace register_groups_detail {

// The six registers of the volume array; the driver sets them for a render
// from its buffer record, but passes that feed an image to the chip as volume
// data write them themselves.
inline constexpr std::array<uint16_t, 6> kVolumeArray = {
    NKW7_VolumeArrayBase_Addr,          NKW7_VolumeArraySize_Addr, NKW7_VolumeArrayDimensions_Addr,
    NKW7_VolumeArrayOffsetModulus_Addr, NKW7_VolumeRangeMin_Addr,  NKW7_VolumeRangeMax_Addr,
};

// Registers the driver sets from a render's buffer record (all five arrays),
// and the address operand, which no programme writes.
constexpr bool IsDriverSet(uint16_t addr) {
    return (addr >= NKW7_VolumeArrayBase_Addr && addr <= NKW7_Image1InitRangeMax_Addr) ||
           addr == NKW7_AddressOperand_Addr;
}

// Registers a resampling pass leaves alone: clipping by cut planes and crop
// ranges, depth, alpha ranges, thresholds, gradient range and specular colour.
constexpr bool IsRenderOnly(uint16_t addr) {
    return (addr >= NKW7_CutPlane0_dCut_dXs_Addr && addr <= NKW7_CutPlane3_max_Addr) ||
           (addr >= NKW7_CropRangeXmin_Addr && addr <= NKW7_CropRangeZmax_Addr) ||
           (addr >= NKW7_OriginDepth_Addr && addr <= NKW7_dD_dZv_Addr) ||
           (addr >= NKW7_SampleAlphaRange_Addr && addr <= NKW7_DepthInitValue1_Addr) ||
           addr == NKW7_ErtThreshold_Addr || addr == NKW7_EmptyThreshold_Addr ||
           addr == NKW7_GradientMagnitudeRange_Addr || addr == NKW7_SpecularColor_Addr;
}

template <size_t N, typename Keep>
constexpr std::array<uint16_t, N> Select(Keep keep) {
    std::array<uint16_t, N> out{};
    size_t n = 0;
    for (uint16_t addr : kULMAllRenderRegisterAddrs) {
        if (keep(addr)) out[n++] = addr;
    }
    // A wrong count stops the build: N must equal the number of kept registers.
    if (n != N) throw "register group size";
    return out;
}

}  // namespace register_groups_detail

// Full render: every render register but the driver-set arrays and the
// address operand.
inline constexpr std::array<uint16_t, 100> kULMRenderRegisterGroup =
    register_groups_detail::Select<100>(
        [](uint16_t addr) { return !register_groups_detail::IsDriverSet(addr); });

// Resampling pass: the render group without the registers only a render uses.
inline constexpr std::array<uint16_t, 57> kULMPassRegisterGroup =
    register_groups_detail::Select<57>([](uint16_t addr) {
        return !register_groups_detail::IsDriverSet(addr) &&
               !register_groups_detail::IsRenderOnly(addr);
    });

// Pass that feeds an image to the chip as volume data: the pass group plus the
// volume array registers.
inline constexpr std::array<uint16_t, 63> kULMPassVolumeRegisterGroup =
    register_groups_detail::Select<63>([](uint16_t addr) {
        for (uint16_t volume : register_groups_detail::kVolumeArray) {
            if (addr == volume) return true;
        }
        return !register_groups_detail::IsDriverSet(addr) &&
               !register_groups_detail::IsRenderOnly(addr);
    });

}  // namespace ulm3
