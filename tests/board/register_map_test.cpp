#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "board/register_info.h"
#include "tulx7/register_groups.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

int CountRegisters(bool (*pred)(const NKW7_RegisterEntry&)) {
    return static_cast<int>(std::count_if(NKW7_Registers.begin(), NKW7_Registers.end(), pred));
}

TEST(RegisterMapTable, CountsByWidthAndFlag) {
    EXPECT_EQ(NKW7_Registers.size(), 266u);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.width == 32; }), 146);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.width == 64; }), 120);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.IsWriteable(); }), 244);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.IsReadable(); }), 70);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.IsSyncable(); }), 26);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) { return r.flags == 0; }), 6);
    EXPECT_EQ(CountRegisters([](const NKW7_RegisterEntry& r) {
                  return (r.flags & (NKW7_Flags_Storeable | NKW7_Flags_Incrementable)) != 0;
              }),
              0);
    EXPECT_EQ(NKW7_Fields.size(), 790u);
}

TEST(RegisterMapTable, EveryEntryIsWellFormed) {
    int previous = -1;
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
        SCOPED_TRACE(reg.name);
        EXPECT_GT(static_cast<int>(reg.addr), previous) << "addresses rise";
        previous = reg.addr;
        EXPECT_LE(static_cast<int>(reg.addr), NKW7_Max_Addr);
        EXPECT_EQ(reg.addr % (reg.width / 8), 0) << "aligned to its width";
        EXPECT_EQ(NKW7_FindRegister(reg.addr), &reg);
        if (reg.width == 64) {
            EXPECT_EQ(NKW7_FindRegister(reg.addr + 4u), nullptr) << "no overlap";
        }

        // The register's reset value is the sum of its fields' reset values.
        uint64_t fromFields = 0;
        for (const NKW7_FieldEntry& field : NKW7_FieldsOf(reg)) {
            SCOPED_TRACE(field.name);
            EXPECT_EQ(field.registerAddr, reg.addr);
            EXPECT_LE(field.loBit, field.hiBit);
            EXPECT_LT(field.hiBit, reg.width);
            EXPECT_EQ(NKW7_ExtractField(field.init, 0, field.Size()), field.init) << "fits its width";
            fromFields |= field.init << field.loBit;
        }
        EXPECT_EQ(fromFields, reg.init);
    }
}

TEST(RegisterMapTable, LookupsOutsideTheMapFindNothing) {
    EXPECT_EQ(NKW7_FindRegister(NKW7_PciConfig5_Addr), nullptr);
    EXPECT_EQ(NKW7_PciConfig5_Addr, 0x014);
    EXPECT_EQ(NKW7_FindRegister(0x9B8), nullptr);
    EXPECT_EQ(NKW7_FindRegister(0xFFFFFFFC), nullptr);
    EXPECT_EQ(NKW7_FindRegister(0x212), nullptr) << "unaligned inside Scratch0";
    EXPECT_EQ(NKW7_FindRegister(0x1F4), nullptr) << "upper half of a 64-bit register";
    EXPECT_EQ(NKW7_RegisterWidth(0x1F4), 0);
    EXPECT_EQ(NKW7_RegisterFlags(0x9B4), 0);
}

TEST(RegisterMapConstants, SpotAddressesWidthsFlagsAndFormats) {
    EXPECT_EQ(NKW7_Max_Addr, 0x9B4);
    EXPECT_EQ(NKW7_Size_Array, 622);
    EXPECT_EQ(NKW7_Scratch7_Addr, 0x248);
    EXPECT_EQ(NKW7_Scratch7_Flags, NKW7_Flags_Readable | NKW7_Flags_Writeable | NKW7_Flags_Syncable);
    EXPECT_EQ(NKW7_RenderOperation_Addr, 0x9B0);
    EXPECT_EQ(NKW7_AddressOperand_Addr, 0x990);
    EXPECT_EQ(NKW7_AddressOperand_Size, 64);
    EXPECT_EQ(NKW7_ViewFrustumRangeMin_Addr, 0x6B0);
    EXPECT_EQ(NKW7_DmaInSubBase_Flags, NKW7_Flags_Readable);
    EXPECT_EQ(NKW7_HwStatus_Flags, NKW7_Flags_Readable | NKW7_Flags_Syncable);
    EXPECT_EQ(NKW7_OutboundArrayBase_Flags, NKW7_Flags_Writeable);
    EXPECT_EQ(NKW7_PciConfig8_Flags, 0);
    EXPECT_EQ(NKW7_QueueStatus_Addr, 0x290);

    // Two names at one address.
    EXPECT_EQ(NKW7_PciConfig4_Addr, 0x010);
    EXPECT_EQ(NKW7_MemoryBase_Addr, 0x010);
    EXPECT_EQ(NKW7_RegBase_Addr, 0x018);
    EXPECT_EQ(NKW7_PciConfig6_Addr, 0x018);
    EXPECT_STREQ(NKW7_FindRegister(0x010)->alias, "PciConfig4");
    EXPECT_STREQ(NKW7_FindRegister(0x018)->alias, "RegBase");
    EXPECT_EQ(NKW7_FindRegister(0x020)->alias, nullptr);

    // Register-level formats.
    EXPECT_EQ(NKW7_CutPlane3_max_Format, NKW7_FORMAT::Signed);
    EXPECT_EQ(NKW7_TrimRangeZmax_Format, NKW7_FORMAT::S_23_8);
    EXPECT_EQ(NKW7_ddYv8_dYs_dZv_Format, NKW7_FORMAT::S_23_40);
    EXPECT_EQ(NKW7_dD_dZv_Format, NKW7_FORMAT::S_31_32);
    EXPECT_EQ(NKW7_Depth0ArrayBase_Format, NKW7_FORMAT::Unsigned);
    EXPECT_EQ(NKW7_Image1ArrayBase_Format, NKW7_FORMAT::DoNotInterpret);
    EXPECT_FALSE(NKW7_FindRegister(NKW7_DmaInBase_Addr)->hasFormat);
    EXPECT_FALSE(NKW7_FindRegister(NKW7_Scratch0_Addr)->hasFormat);
    EXPECT_TRUE(NKW7_FindRegister(NKW7_DmaInProducer_Addr)->hasFormat);

    // The command header is not a register; the encoder tests check its fields
    // through the words it makes.
    EXPECT_EQ(NKW7_CommandHeader_Addr, -1);
    EXPECT_EQ(NKW7_CommandHeader_Size, 64);
    EXPECT_EQ(NKW7_CommandHeader_mask_Size, 44);

    EXPECT_EQ(NKW7_QueueControl_Init, 0x3Fu);
    EXPECT_EQ(NKW7_Reset_Init, 0xFF000000u);
    EXPECT_EQ(NKW7_InterruptMask_Init, 0u);
}

TEST(RegisterMapConstants, SpotFields) {
    EXPECT_EQ(NKW7_RenderOperation_opcode_HiBit, 31);
    EXPECT_EQ(NKW7_RenderOperation_opcode_LoBit, 28);
    EXPECT_EQ(NKW7_RenderOperation_incrOnDone_LoBit, 24);
    EXPECT_EQ(NKW7_RenderOperation_select_LoBit, 20);
    EXPECT_EQ(NKW7_RenderOperation_select_Size, 4);
    EXPECT_EQ(NKW7_RenderOperation_regAddr_Size, 12);
    EXPECT_EQ(NKW7_RenderOperation_select_lut0, 0u);
    EXPECT_EQ(NKW7_RenderOperation_select_specular, 4u);
    EXPECT_EQ(NKW7_RenderOperation_select_diffuse, 5u);
    EXPECT_EQ(NKW7_RenderOperation_select_gradientMag, 6u);
    EXPECT_EQ(NKW7_RenderOperation_select_alphaCorrection, 7u);

    EXPECT_EQ(NKW7_GradientCorrection0_g12_HiBit, 31);
    EXPECT_EQ(NKW7_GradientCorrection0_g12_LoBit, 19);
    EXPECT_EQ(NKW7_GradientCorrection0_g12_Format, NKW7_FORMAT::SM_0_12RF);
    EXPECT_EQ(NKW7_EyeVector_w_HiBit, 63);
    EXPECT_EQ(NKW7_EyeVector_w_Format, NKW7_FORMAT::SM_0_9RF);
    EXPECT_EQ(NKW7_GradientMagnitudeRange_max_Format, NKW7_FORMAT::U_2_9RF9RF);
    EXPECT_EQ(NKW7_DepthInitValue1_d_Size, 24);
    EXPECT_EQ(NKW7_DepthInitValue1_d_Format, NKW7_FORMAT::U_0_24);
    EXPECT_EQ(NKW7_SpecularColor_blue_LoBit, 36);
    EXPECT_EQ(NKW7_SpecularColor_blue_Format, NKW7_FORMAT::URF);
    EXPECT_EQ(NKW7_LookupTableFormat2_green_Format, NKW7_FORMAT::Field_Descriptor);
    EXPECT_EQ(NKW7_VolumeArrayOffsetModulus_w_Format, NKW7_FORMAT::Signed);
    EXPECT_EQ(NKW7_ImageControl_write_LoBit, 28);
    EXPECT_EQ(NKW7_ImageControl_write_Size, 2);
    EXPECT_EQ(NKW7_MemAcParam_casLatency_HiBit, 33);
    EXPECT_EQ(NKW7_VoxelFormat_high_LoBit, 32);

    EXPECT_EQ(NKW7_QueueControl_haltDmaIn_Init, 1u);
    EXPECT_EQ(NKW7_QueueControl_strict_Init, 0u);
    EXPECT_EQ(NKW7_Reset_miSoft_LoBit, 24);
    EXPECT_EQ(NKW7_Reset_miSoft_Init, 1u);
    // Fields carry their register's access flags.
    EXPECT_EQ(NKW7_Reset_busLogic_Flags, NKW7_Reset_Flags);
    EXPECT_EQ(NKW7_PciConfig4_address_Flags, NKW7_MemoryBase_Flags);

    const NKW7_RegisterEntry* eye = NKW7_FindRegister(NKW7_EyeVector_Addr);
    ASSERT_NE(eye, nullptr);
    std::set<std::string> names;
    for (const NKW7_FieldEntry& field : NKW7_FieldsOf(*eye)) names.insert(field.name);
    EXPECT_EQ(names, (std::set<std::string>{"w", "v", "high", "u", "specFrontFacingOnly", "low",
                                            "bypassRefVec"}));
}

TEST(RegisterMapExtract, FieldsComeOutOfTheirBits) {
    EXPECT_EQ(NKW7_ExtractField(0x3000000000075248, 60, 4), 3u);
    EXPECT_EQ(NKW7_ExtractField(0x3000000000075248, 16, 32), 7u);
    EXPECT_EQ(NKW7_ExtractField(0xFFFFFFFFFFFFFFFF, 0, 64), 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(NKW7_ExtractField(0x8000000000000000, 63, 1), 1u);
    EXPECT_EQ(NKW7_ExtractField(0x8000000000000000, 64, 1), 0u);
}

// ----------------------------------------------------------------------------

TEST(RegisterInfo, AgreesWithTheTableAtEveryAddress) {
    for (uint32_t addr = 0; addr <= static_cast<uint32_t>(NKW7_Max_Addr) + 8; ++addr) {
        SCOPED_TRACE(addr);
        const uint8_t flags = NKW7_RegisterFlags(addr);
        EXPECT_EQ(sRegisterInfo.IsWriteable(addr), (flags & NKW7_Flags_Writeable) != 0);
        EXPECT_EQ(sRegisterInfo.IsSyncable(addr), (flags & NKW7_Flags_Syncable) != 0);
        EXPECT_EQ(sRegisterInfo.IsReadable(addr), (flags & NKW7_Flags_Readable) != 0);
        EXPECT_FALSE(sRegisterInfo.IsStoreable(addr));
        EXPECT_FALSE(sRegisterInfo.IsIncrementable(addr));
        EXPECT_STREQ(sRegisterInfo.GetName(addr), "");
        if ((addr & 3) == 0 && addr <= static_cast<uint32_t>(NKW7_Max_Addr)) {
            EXPECT_EQ(static_cast<int>(sRegisterInfo.GetSize(addr)), NKW7_RegisterWidth(addr));
        }
    }
}

TEST(RegisterInfoDeathTest, GetSizeRefusesBadAddresses) {
    EXPECT_DEATH(sRegisterInfo.GetSize(0x9B8), "addr <= NKW7_Max_Addr");
    EXPECT_DEATH(sRegisterInfo.GetSize(0x212), "\\(addr & 0x3\\) == 0");
}

// ----------------------------------------------------------------------------

template <size_t N>
std::set<uint16_t> AsSet(const std::array<uint16_t, N>& group) {
    return std::set<uint16_t>(group.begin(), group.end());
}

TEST(RegisterGroups, SizesAndMembers) {
    EXPECT_EQ(AsSet(kULMAllRenderRegisterAddrs).size(), 131u) << "no register twice";
    EXPECT_EQ(AsSet(kULMRenderRegisterGroup).size(), 100u);
    EXPECT_EQ(AsSet(kULMPassRegisterGroup).size(), 57u);
    EXPECT_EQ(AsSet(kULMPassVolumeRegisterGroup).size(), 63u);

    const std::set<uint16_t> render = AsSet(kULMRenderRegisterGroup);
    EXPECT_EQ(render.count(NKW7_AddressOperand_Addr), 0u);
    EXPECT_EQ(render.count(NKW7_VolumeArrayBase_Addr), 0u);
    EXPECT_EQ(render.count(NKW7_Image1InitRangeMax_Addr), 0u);
    EXPECT_EQ(render.count(NKW7_RenderOperation_Addr), 1u);
    EXPECT_EQ(render.count(NKW7_CutPlane2_min_Addr), 1u);

    const std::set<uint16_t> pass = AsSet(kULMPassRegisterGroup);
    for (uint16_t addr : pass) EXPECT_EQ(render.count(addr), 1u) << addr;
    for (int addr : {NKW7_CutPlane0_dCut_dXs_Addr, NKW7_CropRangeZmax_Addr, NKW7_OriginDepth_Addr,
                     NKW7_dD_dZv_Addr, NKW7_DepthInitValue1_Addr, NKW7_SampleAlphaRange_Addr,
                     NKW7_AccumAlphaRange_Addr, NKW7_ErtThreshold_Addr, NKW7_EmptyThreshold_Addr,
                     NKW7_GradientMagnitudeRange_Addr, NKW7_SpecularColor_Addr})
        EXPECT_EQ(pass.count(static_cast<uint16_t>(addr)), 0u) << addr;
    for (int addr : {NKW7_CutPlaneControl_Addr, NKW7_CropControl_Addr, NKW7_TrimRangeXmin_Addr,
                     NKW7_LightingCoefficient_Addr, NKW7_Section_Addr, NKW7_EyeVector_Addr})
        EXPECT_EQ(pass.count(static_cast<uint16_t>(addr)), 1u) << addr;

    std::set<uint16_t> passVolume = pass;
    for (int addr : {NKW7_VolumeArrayBase_Addr, NKW7_VolumeArraySize_Addr, NKW7_VolumeArrayDimensions_Addr,
                     NKW7_VolumeArrayOffsetModulus_Addr, NKW7_VolumeRangeMin_Addr, NKW7_VolumeRangeMax_Addr})
        passVolume.insert(static_cast<uint16_t>(addr));
    EXPECT_EQ(AsSet(kULMPassVolumeRegisterGroup), passVolume);
}

// The encoder takes a group in its listed order only if each 32-bit register
// whose upper neighbour is writeable comes right before that neighbour.
template <size_t N>
void ExpectPairsAdjacent(const std::array<uint16_t, N>& group) {
    for (size_t i = 0; i < N; ++i) {
        const uint32_t addr = group[i];
        SCOPED_TRACE(addr);
        EXPECT_TRUE(sRegisterInfo.IsWriteable(addr));
        if (NKW7_RegisterWidth(addr) != 32) continue;
        if ((addr & 7) == 0 && sRegisterInfo.IsWriteable(addr + 4)) {
            ASSERT_LT(i + 1, N);
            EXPECT_EQ(group[i + 1], addr + 4);
        }
        if ((addr & 7) == 4) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(group[i - 1] + 4u, addr);
        }
    }
}

TEST(RegisterGroups, PairsOfHalvesAreAdjacentAndLowerFirst) {
    ExpectPairsAdjacent(kULMAllRenderRegisterAddrs);
    ExpectPairsAdjacent(kULMRenderRegisterGroup);
    ExpectPairsAdjacent(kULMPassRegisterGroup);
    ExpectPairsAdjacent(kULMPassVolumeRegisterGroup);
}

}  // namespace
}  // namespace ulm3
