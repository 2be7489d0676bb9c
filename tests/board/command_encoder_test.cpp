#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "board/register_info.h"
#include "command_block_decoder.h"
#include "memory_command_buffer.h"
#include "tulx7/register_groups.h"
#include "tulx7/register_map.h"

namespace ulm3 {
namespace {

using test::DecodeBlock;
using test::DecodedBlock;
using test::MemoryCommandBuffer;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Words = std::vector<uint64_t>;

class CommandEncoder : public ::testing::Test {
protected:
    explicit CommandEncoder(uint32_t capacity = 400) : m_buffer(capacity) {}

    void Open() {
        ASSERT_EQ(m_buffer.StartBlock(m_id), kULMOK);
    }
    // Closes the block and returns its words.
    Words Finish() {
        uint32_t size = 0;
        EXPECT_EQ(m_buffer.FinishBlock(size), kULMOK);
        return m_buffer.Words(m_id, size);
    }
    // Closes and gives back the block, leaving the storage empty, opens a
    // new one at word 0 and returns the closed block's words.
    Words Restart() {
        const Words words = Finish();
        EXPECT_EQ(m_buffer.ReleaseBlock(m_id, static_cast<uint32_t>(words.size())), kULMOK);
        Open();
        EXPECT_EQ(m_id, 0u);
        return words;
    }
    // The last n words of a finished block.
    static Words Tail(const Words& words, size_t n) { return Words(words.end() - static_cast<long>(n), words.end()); }
    // Fills the open block with syncs until only `left` words remain free.
    void FillLeaving(uint32_t left) {
        while (m_buffer.FreeWords() > left) ASSERT_EQ(m_buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMOK);
    }

    MemoryCommandBuffer m_buffer;
    uint32_t m_id = 0;
};

// Words of each command kind, against words worked out by hand.

TEST_F(CommandEncoder, EachCommandKindMakesItsWords) {
    using Programme = void (*)(MemoryCommandBuffer&);
    struct Case {
        const char* what;
        Programme programme;
        Words words;
    };
    const Case cases[] = {
        {"rising registers share a header, going back opens another",
         [](auto& b) { b.WriteRegister64(0x560, 0x1111); b.WriteRegister64(0x568, 0x2222);
                       b.WriteRegister64(0x578, 0x3333); b.WriteRegister64(0x560, 0x4444); },
         {0x400000000000B560, 0x1111, 0x2222, 0x3333, 0x4000000000001560, 0x4444}},
        {"a header reaches 44 registers (0x808 is the last mask bit, 0x810 beyond)",
         [](auto& b) { b.WriteRegister64(0x6B0, 1); b.WriteRegister64(0x808, 2); b.WriteRegister64(0x810, 3); },
         {0x40800000000016B0, 1, 2, 0x4000000000001810, 3}},
        {"neighbouring halves travel in one word, lower address low",
         [](auto& b) { b.WriteRegister32(0x710, 0xA); b.WriteRegister32(0x714, 0xB); },
         {0x4000000000001710, 0x0000000B0000000A}},
        {"pairs join an open load",
         [](auto& b) { b.WriteRegister64(0x900, 1); b.WriteRegister64(0x908, 2);
                       for (uint32_t i = 0; i < 4; ++i) b.WriteRegister32(0x910 + 4 * i, 3 + i); },
         {0x400000000000F900, 1, 2, 0x0000000400000003, 0x0000000600000005}},
        {"a lone half is held until the next command",
         [](auto& b) { b.WriteRegister32(0x6C0, 0x240); b.Sync(NKW7_Scratch7_Addr, 5, 0, false); },
         {0x40000000000016C0, 0x240, 0x3000000000005248}},
        {"a lone half goes out before a DMA",
         [](auto& b) { b.WriteRegister32(0x6C0, 9); b.StartDMA(false, 1); b.EndDMA(); },
         {0x40000000000016C0, 9, 0x1000000000000001, 0, 0}},
        {"other commands close the open load",
         [](auto& b) { b.WriteRegister64(0x560, 1); b.Sync(NKW7_Scratch7_Addr, 3, 0, false);
                       b.WriteRegister64(0x568, 2); b.Noop(false, false, false); b.WriteRegister64(0x570, 3); },
         {0x4000000000001560, 1, 0x3000000000003248, 0x4000000000001568, 2, 0, 0x4000000000001570, 3}},
        {"skipped registers keep their mask bit clear",
         [](auto& b) { b.WriteRegister64(0x7B0, 1); b.WriteRegister64(0x7D8, 2); b.WriteRegister64(0x7D0, 3); },
         {0x40000000000217B0, 1, 2, 0x40000000000017D0, 3}},
        {"syncs",
         [](auto& b) { b.Sync(0x248, 5, 7, false); b.Sync(0x210, 3, 0xFFFFFFFF, true); b.Sync(0x1B0, 0, 0, false);
                       b.Sync(0x108, 7, 1, false); },
         {0x3000000000075248, 0x3080FFFFFFFF3210, 0x30000000000001B0, 0x3000000000017108}},
        {"no-ops",
         [](auto& b) { b.Noop(true, false, false); b.Noop(false, true, false); b.Noop(false, false, true);
                       b.Noop(false, false, false); },
         {0x0800000000000000, 0x0200000000000000, 0x0400000000000000, 0}},
        {"DMAs",
         [](auto& b) { b.StartDMA(true, 2); b.DMASegment(0x12345678, 0x100, 0x40); b.DMASegment(0xABCDEF000, 0x200, 0);
                       b.EndDMA(); b.StartDMA(false, 0xFFFF); b.EndDMA(); },
         {0x2000000000000002, 0x12345678, 0x0000004000000100, 0xABCDEF000, 0x200, 0, 0, 0x100000000000FFFF, 0, 0}},
        {"an empty block", [](auto&) {}, {}},
    };
    Open();  // a lone half is held back in case its neighbour follows
    ASSERT_EQ(m_buffer.WriteRegister32(0x6C0, 0x240), kULMOK);
    EXPECT_TRUE(m_buffer.Written().empty());
    EXPECT_THAT(Finish(), ElementsAre(0x40000000000016C0, 0x240));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open();
        c.programme(m_buffer);
        EXPECT_EQ(Finish(), c.words);
    }
    EXPECT_EQ(m_id, 59u) << "blocks follow each other";

    Open();  // a whole-word write of a pair loads both halves
    ASSERT_EQ(m_buffer.WriteRegister64(0x710, 0x0000000B0000000A), kULMOK);
    const DecodedBlock block = DecodeBlock(Finish());
    EXPECT_TRUE(block.errors.empty());
    EXPECT_EQ(block.registers, (std::map<uint32_t, uint64_t>{{0x710, 0xA}, {0x714, 0xB}}));
}

// ---------------------------------------------------------------------------
// Room in the storage.

class CommandEncoderSpace : public CommandEncoder {
protected:
    CommandEncoderSpace() : CommandEncoder(100) {}
};

TEST_F(CommandEncoderSpace, BlockNeedsNinetyFreeWordsToStart) {
    MemoryCommandBuffer small(89);
    uint32_t id = 0;
    EXPECT_EQ(small.StartBlock(id), kULMErrAlloc);
    MemoryCommandBuffer enough(90);
    EXPECT_EQ(enough.StartBlock(id), kULMOK);
}

TEST_F(CommandEncoderSpace, ExactCapacityThenRefusalWithNothingWritten) {
    Open();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(m_buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMOK) << i;
    const Words before = m_buffer.Written();
    EXPECT_EQ(m_buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMErrAlloc);
    EXPECT_EQ(m_buffer.Noop(false, false, false), kULMErrAlloc);
    EXPECT_EQ(m_buffer.WriteRegister64(0x560, 1), kULMErrAlloc);
    EXPECT_EQ(m_buffer.StartDMA(true, 1), kULMErrAlloc);
    EXPECT_EQ(m_buffer.Written(), before);
    EXPECT_EQ(Finish().size(), 100u);
}

TEST_F(CommandEncoderSpace, HeldHalfClaimsItsRoomWhenHeldAndSurvivesARefusedCommand) {
    Open();
    FillLeaving(1);
    EXPECT_EQ(m_buffer.WriteRegister32(0x6C0, 0x240), kULMErrAlloc) << "could never be written out";
    EXPECT_EQ(Restart().size(), 99u) << "nothing was held";

    FillLeaving(2);
    ASSERT_EQ(m_buffer.WriteRegister32(0x6C0, 0x240), kULMOK);
    const Words before = m_buffer.Written();
    EXPECT_EQ(m_buffer.Sync(NKW7_Scratch7_Addr, 7, 0, false), kULMErrAlloc);
    EXPECT_EQ(m_buffer.WriteRegister64(0x900, 1), kULMErrAlloc);
    EXPECT_EQ(m_buffer.WriteRegister32(0x988, 1), kULMErrAlloc) << "two held writes need four words";
    EXPECT_EQ(m_buffer.Written(), before);
    const Words held = Restart();
    EXPECT_EQ(held.size(), 100u);
    EXPECT_THAT(Tail(held, 2), ElementsAre(0x40000000000016C0, 0x240));

    FillLeaving(2);  // a pair completes in the last two words
    ASSERT_EQ(m_buffer.WriteRegister32(0x710, 0xA), kULMOK);
    ASSERT_EQ(m_buffer.WriteRegister32(0x714, 0xB), kULMOK);
    const Words pair = Finish();
    EXPECT_EQ(pair.size(), 100u);
    EXPECT_THAT(Tail(pair, 2), ElementsAre(0x4000000000001710, 0x0000000B0000000A));
}

using CommandEncoderDeathTest = CommandEncoder;

// ---------------------------------------------------------------------------
// The chip reads back what was written.

// Random programmes of legal writes, syncs and no-ops: the chip's reading of
// the words gives back every register's last value and the other commands in
// their order.
TEST_F(CommandEncoder, RandomProgrammesRoundTrip) {
    std::vector<uint32_t> wide, pairs, lone, syncable;
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
        if (reg.IsSyncable()) syncable.push_back(reg.addr);
        if (!reg.IsWriteable()) continue;
        if (reg.width == 64) {
            wide.push_back(reg.addr);
        } else if ((reg.addr & 7) == 0) {
            (sRegisterInfo.IsWriteable(reg.addr + 4u) ? pairs : lone).push_back(reg.addr);
        }
    }
    ASSERT_FALSE(wide.empty() || pairs.empty() || lone.empty() || syncable.empty());

    std::mt19937 random(20240611);
    auto pick = [&random](const std::vector<uint32_t>& from) {
        return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
    };
    for (int programme = 0; programme < 300; ++programme) {
        SCOPED_TRACE(programme);
        std::map<uint32_t, uint64_t> expected;
        Words otherCommands;
        Open();
        const int length = std::uniform_int_distribution<int>(1, 80)(random);
        for (int op = 0; op < length; ++op) {
            const uint64_t value = (uint64_t{random()} << 32) | random();
            const uint32_t low = static_cast<uint32_t>(value);
            const uint32_t high = static_cast<uint32_t>(value >> 32);
            const int kind = std::uniform_int_distribution<int>(0, 9)(random);
            if (kind == 2) {
                const uint32_t addr = pick(syncable);
                ASSERT_EQ(m_buffer.Sync(addr, 7, low, false), kULMOK);
                otherCommands.push_back(0x3000000000007000 | uint64_t{low} << 16 | addr);
            } else if (kind == 3) {
                ASSERT_EQ(m_buffer.Noop(false, false, false), kULMOK);
                otherCommands.push_back(0);
            } else if (kind == 1) {
                const uint32_t addr = pick(lone);
                ASSERT_EQ(m_buffer.WriteRegister32(addr, low), kULMOK);
                expected[addr] = low;
            } else if (kind >= 7) {
                const uint32_t addr = pick(wide);
                ASSERT_EQ(m_buffer.WriteRegister64(addr, value), kULMOK);
                expected[addr] = value;
            } else {  // a pair, as one 64-bit write (0) or as its two halves (4..6)
                const uint32_t addr = pick(pairs);
                if (kind == 0) {
                    ASSERT_EQ(m_buffer.WriteRegister64(addr, value), kULMOK);
                } else {
                    ASSERT_EQ(m_buffer.WriteRegister32(addr, low), kULMOK);
                    ASSERT_EQ(m_buffer.WriteRegister32(addr + 4, high), kULMOK);
                }
                expected[addr] = low;
                expected[addr + 4] = high;
            }
        }
        const Words words = Finish();
        const DecodedBlock block = DecodeBlock(words);
        EXPECT_TRUE(block.errors.empty()) << ::testing::PrintToString(block.errors);
        EXPECT_EQ(block.registers, expected);
        Words seen;
        for (const test::DecodedCommand& command : block.commands) {
            if (command.cmd != NKW7_CommandHeader_cmd_loadReg) seen.push_back(command.header);
        }
        EXPECT_EQ(seen, otherCommands);
        m_buffer.ReleaseBlock(m_id, static_cast<uint32_t>(words.size()));
        if (HasFailure()) break;
    }
}

// ---------------------------------------------------------------------------
// The block dump.

class CommandEncoderDump : public CommandEncoder {
protected:
    std::string Dump(uint32_t id, uint32_t size) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(m_buffer.DumpBlock(id, size), kULMOK);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(CommandEncoderDump, FinishedBlockOfEveryKind) {
    Open();
    ASSERT_EQ(m_buffer.WriteRegister64(0x560, 0x1111), kULMOK);
    ASSERT_EQ(m_buffer.WriteRegister64(0x570, 0x2222), kULMOK);
    ASSERT_EQ(m_buffer.Sync(0x248, 5, 7, false), kULMOK);
    ASSERT_EQ(m_buffer.Noop(true, true, true), kULMOK);
    ASSERT_EQ(m_buffer.StartDMA(true, 1), kULMOK);
    ASSERT_EQ(m_buffer.DMASegment(0x1000, 0x20, 0x8), kULMOK);
    ASSERT_EQ(m_buffer.EndDMA(), kULMOK);
    ASSERT_EQ(m_buffer.Sync(0x248, 0, 0, true), kULMOK);
    ASSERT_EQ(m_buffer.Sync(0x248, 7, 0, false), kULMOK);
    ASSERT_EQ(Finish().size(), 12u);

    EXPECT_THAT(Dump(0, 12), HasSubstr("---- KWBCommandBuffer::DumpBlock (0, 12)\n"
                                       "    0 4000000000005560 loadReg       \n"
                                       "    1 0000000000001111  560 \n"
                                       "    2 0000000000002222  570 \n"
                                       "    3 3000000000075248 sync              >  00000007\n"
                                       "    4 0e00000000000000 noop     i a h\n"
                                       "    5 2000000000000001 dmaIn          1\n"
                                       "    6 0000000000001000 (host address)\n"
                                       "    7 0000000800000020 (incr/length)\n"
                                       "    8 0000000000000000 (host address)\n"
                                       "    9 0000000000000000 (termination)\n"
                                       "\n"
                                       "   10 3080000000000248 sync           r fail\n"
                                       "   11 3000000000007248 sync             succeed\n"
                                       "---- end KWBCommandBuffer::DumpBlock (0, 12)\n"));
}

}  // namespace
}  // namespace ulm3
