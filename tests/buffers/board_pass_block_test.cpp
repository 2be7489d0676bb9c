// The command blocks of the board passes as the chip reads them, and the
// messages a pass prints when its register writes fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "board/command_block_decoder.h"
#include "board/memory_command_buffer.h"
#include "buffers/board_pass_block.h"
#include "buffers/image_convert_3d.h"
#include "buffers/image_resample_pass.h"
#include "foundation/log_capture.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

constexpr int64_t kOne = int64_t{1} << 40;

// A command buffer that opens blocks but has room for only `room` words of
// commands in them.
class ShortCommandBuffer : public test::MemoryCommandBuffer {
public:
    explicit ShortCommandBuffer(size_t room) : MemoryCommandBuffer(1000), m_room(room) {}

protected:
    ULMStatus CheckForFreeSpace(int words) override {
        if (Written().size() + static_cast<size_t>(words) > m_room) return kULMErrAlloc;
        return MemoryCommandBuffer::CheckForFreeSpace(words);
    }
    ULMStatus WaitForFreeSpace(int words) override { return MemoryCommandBuffer::CheckForFreeSpace(words); }

private:
    size_t m_room;
};

// The block a programme makes, decoded; the memory buffer is owned by the
// pass block, so the words are copied out before it goes.
test::DecodedBlock Encode(const std::vector<ULMPassRegister>& programme, std::vector<uint64_t>& words) {
    auto* memory = new test::MemoryCommandBuffer(1000);
    ULMBoardPassBlock block(memory, "%s %s %d\n");
    EXPECT_EQ(block.Open(), kULMOK);
    block.Write(programme);
    block.Close();
    words = memory->Words(block.BlockID(), block.BlockSize());
    return test::DecodeBlock(words);
}

uint64_t Xy(uint64_t x, uint64_t y) { return x | y << 16; }

TEST(BoardPassBlock, ResampleBlockOfA40By20SourceHalvedInto20By10) {
    std::vector<uint64_t> words;
    const test::DecodedBlock block = Encode(
        ResampleProgramme(ULMImageRange(40, 20, 2, 6), ULMImageRange(20, 10, 4, 2), 0x16141210, 0x0F3A2A1A,
                          0xFF00FF00),
        words);
    ASSERT_TRUE(block.errors.empty()) << block.errors.front();
    EXPECT_EQ(block.registers.size(), 58u) << "Scratch7 and the 57 registers of the programme";
    ASSERT_GE(words.size(), 3u);
    EXPECT_EQ(block.commands.front().header & 0xFFF, static_cast<uint64_t>(NKW7_Scratch7_Addr));
    EXPECT_EQ(block.commands.front().data.front() & 0xFFFFFFFF, 0u);
    EXPECT_EQ(words.back(), 0x3000000000005248u) << "Sync(Scratch7, >, 0) closes the block";
    EXPECT_EQ(words[words.size() - 2] & 0xFFFFFFFF, 0x1F550000u) << "the render starts last";

    auto reg = [&](uint32_t address) { return block.registers.at(address); };
    // Two source pixels per destination pixel; the first destination pixel
    // (4, 2) samples between source pixels: 2 + 0.5 - 4 * 2 and 6 + 0.5 - 2 * 2.
    EXPECT_EQ(reg(NKW7_dXv8_dXs_Addr), static_cast<uint64_t>(2 * kOne));
    EXPECT_EQ(reg(NKW7_dYv8_dYs_Addr), static_cast<uint64_t>(2 * kOne));
    EXPECT_EQ(reg(NKW7_dZv8_dZs_Addr), static_cast<uint64_t>(kOne));
    EXPECT_EQ(reg(NKW7_OriginXv8_Addr), static_cast<uint64_t>(-11 * kOne / 2));
    EXPECT_EQ(reg(NKW7_OriginYv8_Addr), static_cast<uint64_t>(5 * kOne / 2));
    EXPECT_EQ(reg(NKW7_OriginZv8_Addr), 0u);
    EXPECT_EQ(reg(NKW7_ViewFrustumRangeMin_Addr), Xy(4, 2));
    EXPECT_EQ(reg(NKW7_ViewFrustumRangeMax_Addr), Xy(23, 11));
    EXPECT_EQ(reg(NKW7_TrimRangeXmin_Addr), 2u * 256 - 128);
    EXPECT_EQ(reg(NKW7_TrimRangeXmax_Addr), 41u * 256 + 128);
    EXPECT_EQ(reg(NKW7_TrimRangeYmin_Addr), 6u * 256 - 128);
    EXPECT_EQ(reg(NKW7_TrimRangeYmax_Addr), 25u * 256 + 128);
    EXPECT_EQ(reg(NKW7_Section_Addr), 0x303u);
    EXPECT_EQ(reg(NKW7_VoxelFormat_Addr), 0x16141210u);
    EXPECT_EQ(reg(NKW7_Image0FieldSel_Addr), 0x0F3A2A1Au);
    EXPECT_EQ(reg(NKW7_VoxelBorder_Addr), 0xFF00FF00u);
    EXPECT_EQ(reg(NKW7_ImageControl_Addr), 0x10040000u);
    EXPECT_EQ(reg(NKW7_Alu2_Addr), 0x05050303u);
}

TEST(BoardPassBlock, ResampleStepsKeepSeventeenFractionBits) {
    struct Case {
        ULMImageRange source, destination;
        uint64_t spacingX, originX, section;
    } cases[] = {
        {{20, 4, 0, 0}, {20, 4, 0, 0}, uint64_t{1} << 40, 0, 0x505},
        {{30, 4, 0, 0}, {20, 4, 0, 0}, uint64_t{3} << 39, uint64_t{1} << 38, 0x504},
        // 3/7 = 56173.71 / 2^17: kept as 56173; the origin (s - 1) / 2 =
        // -37449.5 / 2^17 goes down to -37450.
        {{3, 4, 0, 0}, {7, 4, 0, 0}, uint64_t{56173} << 23,
         static_cast<uint64_t>(int64_t{-37450} * (int64_t{1} << 23)), 0x505},
    };
    for (const Case& c : cases) {
        std::vector<uint64_t> words;
        const test::DecodedBlock block = Encode(ResampleProgramme(c.source, c.destination, 0, 0, 0), words);
        EXPECT_EQ(block.registers.at(NKW7_dXv8_dXs_Addr), c.spacingX) << c.source.XSize();
        EXPECT_EQ(block.registers.at(NKW7_OriginXv8_Addr), c.originX) << c.source.XSize();
        EXPECT_EQ(block.registers.at(NKW7_Section_Addr), c.section) << c.source.XSize();
    }
}

TEST(BoardPassBlockDeathTest, OnePassNeverStepsMoreThanTwoSourcePixels) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ResampleProgramme(ULMImageRange(5, 1, 0, 0), ULMImageRange(2, 1, 0, 0), 0, 0, 0),
                 "spacing <= 2\\.0");
}

TEST(BoardPassBlock, ConversionBlockCopiesTheWindowFromImage0IntoImage1) {
    std::vector<uint64_t> words;
    const test::DecodedBlock block = Encode(ConvertTo3DProgramme(0x0F0F1A2A, KWBRange(6, 4, 0, 25, 13, 0)), words);
    ASSERT_TRUE(block.errors.empty()) << block.errors.front();
    EXPECT_EQ(block.registers.size(), 64u);
    EXPECT_EQ(words.back(), 0x3000000000005248u);
    auto reg = [&](uint32_t address) { return block.registers.at(address); };
    EXPECT_EQ(reg(NKW7_ViewFrustumRangeMin_Addr), Xy(6, 4));
    EXPECT_EQ(reg(NKW7_ViewFrustumRangeMax_Addr), Xy(25, 13));
    EXPECT_EQ(reg(NKW7_Image0FieldSel_Addr), 0x0F0F1A2Au);
    EXPECT_EQ(reg(NKW7_Image1FieldSel_Addr), 0x0F0F1A2Au);
    EXPECT_EQ(reg(NKW7_VolumeArraySize_Addr), 0x0000000700070007u);
    EXPECT_EQ(reg(NKW7_VolumeArrayDimensions_Addr), 0x20u);
    EXPECT_EQ(reg(NKW7_ImageControl_Addr), 0x60000000u);
    EXPECT_EQ(reg(NKW7_dYv8_dYs_Addr), static_cast<uint64_t>(kOne));
    EXPECT_EQ(reg(NKW7_Section_Addr), 0x303u);
}

TEST(BoardPassBlock, CoordinatesOutsideSixteenBitsAreWrittenAsAllOnes) {
    EXPECT_EQ(ULMPassCoordinates(5, 7, 0), 0x0000000000070005u);
    EXPECT_EQ(ULMPassCoordinates(-1, 0xFFFF, 0x10000), 0x0000FFFFFFFFFFFFu);
    EXPECT_EQ(ULMPassCoordinate(INT64_MIN), 0xFFFFu);
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& word) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(word) != std::string::npos) lines.push_back(line + "\n");
    return lines;
}

TEST(BoardPassBlock, EveryFailedWriteIsReportedByNameAndTheProgrammeGoesOn) {
    struct Case {
        std::vector<ULMPassRegister> programme;
        const char* format;
        size_t writes;
        const char* first;
        const char* last;
    } cases[] = {
        {ResampleProgramme(ULMImageRange(8, 8, 0, 0), ULMImageRange(4, 4, 0, 0), 0, 0, 0), kResampleWriteFailure, 57,
         "DoStartResample: WriteRegister ViewFrustumRangeMin failed: Alloc (1001)\n",
         "DoStartResample: WriteRegister RenderOperation failed: Alloc (1001)\n"},
        {ConvertTo3DProgramme(0, KWBRange(0, 0, 0, 7, 7, 0)), kConvertTo3DWriteFailure, 63,
         "ConvertTo3D WriteRegister VolumeArrayBase failed: Alloc (1001)\n",
         "ConvertTo3D WriteRegister RenderOperation failed: Alloc (1001)\n"},
    };
    for (const Case& c : cases) {
        testing_support::LogToFile log;
        // Room for the Scratch7 reset only.
        ULMBoardPassBlock block(new ShortCommandBuffer(2), c.format);
        ASSERT_EQ(block.Open(), kULMOK);
        block.Write(c.programme);
        const std::vector<std::string> lines = LinesWith(log.Contents(), "WriteRegister");
        ASSERT_EQ(lines.size(), c.writes);
        EXPECT_EQ(lines.front(), c.first);
        EXPECT_EQ(lines.back(), c.last);
    }

    testing_support::LogToFile log;
    std::vector<uint64_t> words;
    Encode(ResampleProgramme(ULMImageRange(8, 8, 0, 0), ULMImageRange(4, 4, 0, 0), 0, 0, 0), words);
    EXPECT_TRUE(LinesWith(log.Contents(), "WriteRegister").empty());
}

TEST(BoardPassBlock, ABlockThatCannotOpenSaysSo) {
    ULMBoardPassBlock noBuffer(nullptr, kResampleWriteFailure);
    EXPECT_EQ(noBuffer.Open(), kULMErrAlloc);
    ULMBoardPassBlock tooSmall(new test::MemoryCommandBuffer(KWBCommandBuffer::kBlockStartWords - 1),
                               kResampleWriteFailure);
    EXPECT_EQ(tooSmall.Open(), kULMErrAlloc);
    // A reset that does not fit closes the block and gives its words back.
    auto* full = new ShortCommandBuffer(0);
    ULMBoardPassBlock noRoom(full, kResampleWriteFailure);
    EXPECT_EQ(noRoom.Open(), kULMErrAlloc);
    uint32_t id = 0;
    EXPECT_EQ(full->StartBlock(id), kULMOK) << "the failed block was left open";
}

}  // namespace
}  // namespace ulm3
