// The host copy of the render registers: clearing, access by address, and
// the groups written into a command block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

#include "board/ulm_all_render_registers.h"
#include "command_block_decoder.h"
#include "memory_command_buffer.h"
#include "tulx7/register_groups.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

// A value for each register that tells registers apart and fills its width.
uint64_t Pattern(uint16_t addr) {
    const uint64_t low = 0x80000000u | (uint64_t{addr} << 12) | addr;
    return NKW7_RegisterWidth(addr) == 64 ? (~low << 32) | low : low;
}

TEST(AllRenderRegisters, AddressesReachTheirOwnFieldsAndClearAllKeepsOnlyTheAddressOperand) {
    ULMAllRenderRegisters regs;
    for (uint16_t addr : kULMAllRenderRegisterAddrs) {
        uint64_t value = 1;
        ASSERT_TRUE(regs.Get(addr, value));
        EXPECT_EQ(value, 0u) << std::hex << addr << " is not 0 after construction";
        ASSERT_TRUE(regs.Set(addr, Pattern(addr)));
    }
    for (uint16_t addr : kULMAllRenderRegisterAddrs) {
        uint64_t value = 0;
        ASSERT_TRUE(regs.Get(addr, value));
        EXPECT_EQ(value, Pattern(addr)) << std::hex << addr;
    }
    EXPECT_EQ(regs.m_VolumeArrayDimensions, Pattern(NKW7_VolumeArrayDimensions_Addr));
    EXPECT_EQ(regs.m_OriginZv8, Pattern(NKW7_OriginZv8_Addr));
    EXPECT_EQ(regs.m_Image1FieldSel, Pattern(NKW7_Image1FieldSel_Addr));
    EXPECT_EQ(regs.m_RenderOperation, Pattern(NKW7_RenderOperation_Addr));

    regs.ClearAll();
    for (uint16_t addr : kULMAllRenderRegisterAddrs) {
        uint64_t value = 0;
        ASSERT_TRUE(regs.Get(addr, value));
        EXPECT_EQ(value, addr == NKW7_AddressOperand_Addr ? Pattern(addr) : 0u) << std::hex << addr;
    }
}

TEST(AllRenderRegisters, RefusesOtherRegistersAndValuesWiderThanTheRegister) {
    ULMAllRenderRegisters regs;
    uint64_t value = 7;
    EXPECT_FALSE(regs.Get(NKW7_Scratch7_Addr, value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(regs.Set(NKW7_Scratch7_Addr, 1));
    EXPECT_FALSE(regs.Set(NKW7_Transform_Addr + 2, 1));
    EXPECT_FALSE(regs.Set(NKW7_Transform_Addr, uint64_t{1} << 32));
    EXPECT_EQ(regs.m_Transform, 0u);
    EXPECT_TRUE(regs.Set(NKW7_VoxelBorder_Addr, ~uint64_t{0}));
    EXPECT_EQ(regs.m_VoxelBorder, ~uint64_t{0});
}

// Each group, written from the copy, loads exactly its registers with the
// copy's values: the pairs of 32-bit registers travel together and nothing
// is lost or misplaced.
TEST(AllRenderRegisters, GroupsWrittenIntoABlockLoadTheCopysValues) {
    ULMAllRenderRegisters regs;
    for (uint16_t addr : kULMAllRenderRegisterAddrs) ASSERT_TRUE(regs.Set(addr, Pattern(addr)));
    const std::span<const uint16_t> groups[] = {kULMRenderRegisterGroup, kULMPassRegisterGroup,
                                                kULMPassVolumeRegisterGroup};
    for (const std::span<const uint16_t> group : groups) {
        SCOPED_TRACE(group.size());
        test::MemoryCommandBuffer buffer(1000);
        uint32_t id = 0, size = 0;
        ASSERT_EQ(buffer.StartBlock(id), kULMOK);
        ASSERT_EQ(regs.WriteRegisters(buffer, group), kULMOK);
        ASSERT_EQ(buffer.FinishBlock(size), kULMOK);

        const test::DecodedBlock block = test::DecodeBlock(buffer.Words(id, size));
        EXPECT_THAT(block.errors, ::testing::IsEmpty());
        std::map<uint32_t, uint64_t> expected;
        for (uint16_t addr : group) expected[addr] = Pattern(addr);
        EXPECT_EQ(block.registers, expected);
    }
}

TEST(AllRenderRegisters, WritingStopsAtTheFirstFailure) {
    ULMAllRenderRegisters regs;
    regs.m_Transform = 0x240;
    test::MemoryCommandBuffer buffer(200);
    uint32_t id = 0, size = 0;
    ASSERT_EQ(buffer.StartBlock(id), kULMOK);
    const uint16_t group[] = {NKW7_Transform_Addr, NKW7_Scratch7_Addr, NKW7_ImageControl_Addr};
    EXPECT_EQ(regs.WriteRegisters(buffer, group), kULMErrArgument);
    ASSERT_EQ(buffer.FinishBlock(size), kULMOK);
    const test::DecodedBlock block = test::DecodeBlock(buffer.Words(id, size));
    EXPECT_EQ(block.registers, (std::map<uint32_t, uint64_t>{{NKW7_Transform_Addr, 0x240}}));
}

}  // namespace
}  // namespace ulm3
