// The command blocks of the board passes as the chip reads them, and the
// messages a pass prints when its register writes fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "board/command_block_decoder.h"
#include "board/memory_command_buffer.h"
#include "board/board_pass_block.h"
#include "buffers/image_convert_3d.h"
#include "buffers/image_resample_pass.h"
#include "foundation/log_capture.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

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

TEST(BoardPassBlockDeathTest, OnePassNeverStepsMoreThanTwoSourcePixels) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ResampleProgramme(ULMImageRange(5, 1, 0, 0), ULMImageRange(2, 1, 0, 0), 0, 0, 0),
                 "spacing <= 2\\.0");
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

}  // namespace
}  // namespace ulm3
