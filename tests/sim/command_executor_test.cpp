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
    int32_t Render(const RenderJob&, const RegisterFile& registers, ChipDiagnostics&,
                   std::string& diagnostic) override {
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
        m_reserved = executor.Counts().reservedCodes;
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
    uint64_t m_reserved = 0;
};

// ---------------------------------------------------------------------------
// Power-on state, renders, their completion codes and the closing sync of
// the board passes.

TEST_F(CommandExecutorTest, ResetGivesThePowerOnValuesOfTheMap) {
    m_registers.Write32(NKW7_Scratch3_Addr, 99);
    m_registers.Write32(NKW7_QueueControl_Addr, 0);
    m_registers.Write64(NKW7_OriginXv8_Addr, ~uint64_t{0});
    ResetChipRegisters(m_registers);
    EXPECT_EQ(Get32(NKW7_QueueControl_Addr), 0x3Fu);
    EXPECT_EQ(Get32(NKW7_Reset_Addr), 0xFF000000u);
    EXPECT_EQ(Get32(NKW7_Scratch3_Addr), 0u);
    EXPECT_EQ(Get64(NKW7_OriginXv8_Addr), 0u);
}

TEST_F(CommandExecutorTest, ClosingSyncOnScratch7PassesOnlyAfterACountedRender) {
    const Words counted = {LoadHeader(NKW7_Scratch7_Addr), 0,
                           LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 15),
                           SyncWord(NKW7_Scratch7_Addr, NKW7_CommandHeader_test_greater, 0)};
    EXPECT_EQ(Run(counted), TULX7_DR_STATUS_SUCCESS) << m_diagnostic;
    EXPECT_EQ(Get32(NKW7_Scratch7_Addr), 1u);
    EXPECT_EQ(m_renders, 1);

    // A second run clears Scratch7 again first, so it cannot pass on the
    // first run's count.
    const Words uncounted = {LoadHeader(NKW7_Scratch7_Addr), 0,
                             LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 0),
                             SyncWord(NKW7_Scratch7_Addr, NKW7_CommandHeader_test_greater, 0)};
    EXPECT_EQ(Run(uncounted), TULX7_DR_STATUS_HW_ERROR);
    EXPECT_THAT(m_diagnostic, HasSubstr("word 4"));
    EXPECT_THAT(m_diagnostic, HasSubstr("sync failed"));
}

TEST_F(CommandExecutorTest, CompletionCodesCountIntoTheirScratchRegister) {
    for (uint32_t code = 8; code <= 15; ++code) {
        SCOPED_TRACE(code);
        ResetChipRegisters(m_registers);
        ASSERT_EQ(Run({LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, code),
                       LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, code)}),
                  TULX7_DR_STATUS_SUCCESS);
        for (uint32_t k = 0; k < 8; ++k)
            EXPECT_EQ(Get32(NKW7_Scratch0_Addr + 8 * k), k == code - 8 ? 2u : 0u) << "Scratch" << k;
        EXPECT_EQ(Get32(NKW7_RenderOperation_Addr), RenderOp(1, code));
    }
    // Codes 1..7 are reserved: the render runs, nothing is counted.
    ResetChipRegisters(m_registers);
    ASSERT_EQ(Run({LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 3)}), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(m_renders, 1);
    EXPECT_EQ(m_reserved, 1u);
    for (uint32_t k = 0; k < 8; ++k) EXPECT_EQ(Get32(NKW7_Scratch0_Addr + 8 * k), 0u);
}

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

TEST_F(CommandExecutorTest, EngineRunsTheStateBlockFirstAndSkipsTheRenderBlockAfterAFailure) {
    auto chip = std::make_shared<RecordingChip>();
    CommandBlockEngine engine(chip);
    engine.ResetRegisters(0, m_registers);
    EXPECT_EQ(Get32(NKW7_QueueControl_Addr), 0x3Fu);

    // The render block tests what the state block wrote.
    m_job.stateWords = {LoadHeader(NKW7_Scratch5_Addr), 42};
    m_job.renderWords = {SyncWord(NKW7_Scratch5_Addr, NKW7_CommandHeader_test_equal, 42),
                         LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 0)};
    std::string diagnostic;
    EXPECT_EQ(engine.Execute(m_job, m_registers, diagnostic), TULX7_DR_STATUS_SUCCESS) << diagnostic;
    EXPECT_EQ(chip->imageControlAtRender.size(), 1u);

    m_job.stateWords = {uint64_t{9} << 60};
    m_job.renderWords = {LoadHeader(NKW7_Scratch6_Addr), 1};
    EXPECT_EQ(engine.Execute(m_job, m_registers, diagnostic), TULX7_DR_STATUS_HW_ERROR);
    EXPECT_THAT(diagnostic, HasSubstr("state block word 0"));
    EXPECT_EQ(Get32(NKW7_Scratch6_Addr), 0u);
}

// A job's counts reach its board's sums and the log line of the job: a
// reserved completion code is counted there, a no-op with operands is not.
TEST_F(CommandExecutorTest, EngineCountsAJobsDiagnosticsOnItsBoardAndDescribesThem) {
    ClearChipDiagnostics();
    CommandBlockEngine engine(std::make_shared<RecordingChip>());
    m_job.board = 1;
    m_job.renderWords = {uint64_t{0xABC}, LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 2),
                         LoadHeader(NKW7_RenderOperation_Addr), RenderOp(1, 7)};
    std::string diagnostic;
    ASSERT_EQ(engine.Execute(m_job, m_registers, diagnostic), TULX7_DR_STATUS_SUCCESS) << diagnostic;
    EXPECT_EQ(diagnostic, "chip diagnostics: reserved codes 2");
    EXPECT_EQ(GetChipDiagnostics(1).reservedCodes, 2u);
    EXPECT_EQ(GetChipDiagnostics(0).Total(), 0u);
    ClearChipDiagnostics();
}

}  // namespace
}  // namespace tulx7sim
