// The board's command interpreter on its own: words made by hand run on a
// register file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tulx7/driver_requests.h"
#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"

namespace tulx7sim {
namespace {

using ::testing::HasSubstr;
using Words = std::vector<uint64_t>;

constexpr uint64_t kLoadReg = uint64_t{NKW7_CommandHeader_cmd_loadReg} << 60;
constexpr uint64_t kSync = uint64_t{NKW7_CommandHeader_cmd_sync} << 60;

// A loadReg header for one register at `address`.
constexpr uint64_t LoadHeader(uint32_t address, uint64_t mask = 1) { return kLoadReg | mask << 12 | address; }
constexpr uint64_t SyncWord(uint32_t address, uint32_t test, uint32_t value) {
    return kSync | uint64_t{value} << 16 | uint64_t{test} << 12 | address;
}
// A RenderOperation value: opcode and completion code.
constexpr uint32_t RenderOp(uint32_t opcode, uint32_t incrOnDone) {
    return opcode << NKW7_RenderOperation_opcode_LoBit | incrOnDone << NKW7_RenderOperation_incrOnDone_LoBit;
}

// Remembers, for each render, the register values it was started with.
class RecordingChip : public ChipModel {
public:
    int32_t Render(const RenderJob&, const RegisterFile& registers, std::string& diagnostic) override {
        uint32_t control = 0;
        registers.Read32(NKW7_ImageControl_Addr, control);
        imageControlAtRender.push_back(control);
        if (refuse) {
            diagnostic = "transform is not a permutation";
            return TULX7_DR_STATUS_HW_ERROR;
        }
        return TULX7_DR_STATUS_SUCCESS;
    }
    std::vector<uint32_t> imageControlAtRender;
    bool refuse = false;
};

class CommandExecutorTest : public ::testing::Test {
protected:
    CommandExecutorTest() { ResetChipRegisters(m_registers); }

    int32_t Run(const Words& words) {
        CommandExecutor executor(m_registers, m_chip, m_job);
        m_diagnostic.clear();
        const int32_t status = executor.Run(words, "render", m_diagnostic);
        m_renders = executor.RendersRun();
        m_reserved = executor.ReservedCompletionCodes();
        return status;
    }
    uint32_t Get32(uint32_t address) const {
        uint32_t value = 0;
        m_registers.Read32(address, value);
        return value;
    }
    uint64_t Get64(uint32_t address) const {
        uint64_t value = 0;
        m_registers.Read64(address, value);
        return value;
    }

    RegisterFile m_registers;
    RecordingChip m_chip;
    RenderJob m_job;
    std::string m_diagnostic;
    int m_renders = 0;
    int m_reserved = 0;
};

// ---------------------------------------------------------------------------
// Power-on state, renders, their completion codes and the closing sync of
// the board passes.

TEST_F(CommandExecutorTest, ChipSeesTheRegistersWrittenBeforeTheRenderWord) {
    // ImageControl shares a data word with DepthControl; RenderOperation comes
    // in the same loadReg, after it; the last ImageControl write follows.
    const Words words = {LoadHeader(NKW7_DepthControl_Addr, 0b11), uint64_t{0xC0DE} << 32 | 7,
                         RenderOp(1, 0), LoadHeader(NKW7_DepthControl_Addr), uint64_t{0xBEEF} << 32};
    ASSERT_EQ(Run(words), TULX7_DR_STATUS_SUCCESS) << m_diagnostic;
    EXPECT_THAT(m_chip.imageControlAtRender, ::testing::ElementsAre(0xC0DEu));
    EXPECT_EQ(Get32(NKW7_ImageControl_Addr), 0xBEEFu);
}

// ---------------------------------------------------------------------------
// Words the chip refuses. Each case is preceded by a good write of Scratch0
// and followed by one of Scratch1: the first stays, the second never runs.

struct BadBlock {
    const char* name;
    Words words;
    size_t badWord;  // index within `words`
    const char* reason;
};

TEST_F(CommandExecutorTest, ABlockEndingInsideARegisterLoadFails) {
    EXPECT_EQ(Run({LoadHeader(NKW7_Scratch0_Addr, 0b111), 1, 2}), TULX7_DR_STATUS_HW_ERROR);
    EXPECT_THAT(m_diagnostic, HasSubstr("word 2: register load cut short before register 0x220"));
    EXPECT_EQ(Get32(NKW7_Scratch1_Addr), 2u);
}

TEST_F(CommandExecutorTest, PlainNoOpsAndPassingSyncsAreAccepted) {
    m_registers.Write32(NKW7_Scratch4_Addr, 5);
    const Words words = {0,
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_less, 6),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_lessOrEqual, 5),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_equal, 5),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_greaterOrEqual, 5),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_greater, 4),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_notEqual, 0xFFFFFFFF),
                         SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_succeed, 0) | uint64_t{1} << 55};
    EXPECT_EQ(Run(words), TULX7_DR_STATUS_SUCCESS) << m_diagnostic;
    // The comparison is unsigned.
    m_registers.Write32(NKW7_Scratch4_Addr, 0x80000000u);
    EXPECT_EQ(Run({SyncWord(NKW7_Scratch4_Addr, NKW7_CommandHeader_test_greater, 1)}), TULX7_DR_STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------
// The engine's order of blocks.

}  // namespace
}  // namespace tulx7sim
