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

}  // namespace
}  // namespace ulm3
