#include "board/kwb_command_buffer.h"

#include <algorithm>
#include <bit>

#include "board/register_info.h"
#include "foundation/diagnostics.h"
#include "foundation/message_log.h"
#include "tulx7/register_map.h"

namespace ulm3 {

namespace {

// One loadReg header covers the 44 registers of 8 bytes above its base.
constexpr uint32_t kLoadRegWindowBytes = NKW7_CommandHeader_mask_Size * 8;

constexpr uint64_t Cmd(uint32_t code) { return uint64_t{code} << NKW7_CommandHeader_cmd_LoBit; }
constexpr uint64_t Bit(bool on, int bit) { return on ? uint64_t{1} << bit : 0; }

const char* const sCommandNames[16] = {
    " noop    ", " dmaOut  ", " dmaIn   ", " sync    ", " loadReg ", " storeReg",
    " incrReg ", " call    ", " return  ", " UNUSED  ", " UNUSED  ", " UNUSED  ",
    " UNUSED  ", " UNUSED  ", " UNUSED  ", " UNUSED  ",
};

// Comparisons of the sync tests 1 to 6.
const char* const sComparison[6] = {" <  ", " <= ", " == ", " >= ", " >  ", " != "};

// A 64-bit data word goes to a writeable register on an 8-byte boundary.
void AssertWrite64(uint32_t inRegisterAddr) {
    ULM_ASSERT((inRegisterAddr & 7) == 0);
    ULM_ASSERT(sRegisterInfo.IsWriteable (inRegisterAddr));
}

// Where a dump stands between words: inside a transfer's descriptors, or
// owing data words to the last register header.
struct DumpState {
    // DMA states: 0 outside, 1 host address next, 2 length and increment
    // next, 3 the terminator's second word next.
    int dmaState = 0;
    int remainingWords = 0;  // data words still owed to the last header
    uint64_t regMask = 0;    // their mask, bit 0 standing for nextAddr
    uint32_t nextAddr = 0;
};

uint64_t HeaderField(uint64_t inWord, int inLowBit, int inSize) { return NKW7_ExtractField(inWord, inLowBit, inSize); }

// A header followed by one data word for `inRegister`.
void ExpectOneDataWord(uint32_t inRegister, DumpState& ioState) {
    ioState.remainingWords = 1;
    ioState.regMask = 1;
    ioState.nextAddr = inRegister;
}

void DumpDescriptorWord(uint64_t inWord, DumpState& ioState) {
    if (ioState.dmaState == 1) {
        ULMOutputMessage(" (host address)");
        ioState.dmaState = inWord == 0 ? 3 : 2;
    } else if (ioState.dmaState == 2) {
        ULMOutputMessage(" (incr/length)");
        ioState.dmaState = 1;
    } else {
        if (inWord != 0) ULMOutputMessage("!!!! Saw host address 0, now need length/incr 0 !!!!\n");
        ULMOutputMessage(" (termination)\n");
        ioState.dmaState = 0;
    }
}

void DumpDataWord(DumpState& ioState) {
    while (ioState.regMask != 0 && (ioState.regMask & 1) == 0) {
        ioState.regMask >>= 1;
        ioState.nextAddr += 8;
    }
    ULMOutputMessage(" %4x %s", ioState.nextAddr, sRegisterInfo.GetName(ioState.nextAddr));
    ioState.regMask >>= 1;
    ioState.nextAddr += 8;
    --ioState.remainingWords;
}

void DumpSync(uint64_t inWord, uint32_t inRegister) {
    ULMOutputMessage("%s", HeaderField(inWord, NKW7_CommandHeader_refetch_LoBit, 1) ? " r" : "  ");
    const auto test = static_cast<uint32_t>(
        HeaderField(inWord, NKW7_CommandHeader_test_LoBit, NKW7_CommandHeader_test_Size));
    const auto value = static_cast<uint32_t>(
        HeaderField(inWord, NKW7_CommandHeader_testValue_LoBit, NKW7_CommandHeader_testValue_Size));
    if (test == NKW7_CommandHeader_test_fail)
        ULMOutputMessage(" fail");
    else if (test == NKW7_CommandHeader_test_succeed)
        ULMOutputMessage(" succeed");
    else if (test < NKW7_CommandHeader_test_succeed)
        ULMOutputMessage(" %s%s%08x", sRegisterInfo.GetName(inRegister), sComparison[test - 1], value);
    else
        ULMOutputMessage(" UNKNOWN TEST");
}

// A command header: its name and flags, then what its code carries; notes
// in `ioState` the descriptor or data words that follow it.
void DumpHeader(uint64_t inWord, DumpState& ioState) {
    const auto cmd =
        static_cast<uint32_t>(HeaderField(inWord, NKW7_CommandHeader_cmd_LoBit, NKW7_CommandHeader_cmd_Size));
    const auto reg =
        static_cast<uint32_t>(HeaderField(inWord, NKW7_CommandHeader_reg_LoBit, NKW7_CommandHeader_reg_Size));
    ULMOutputMessage("%s%s%s%s", sCommandNames[cmd],
                     HeaderField(inWord, NKW7_CommandHeader_interrupt_LoBit, 1) ? " i" : "  ",
                     HeaderField(inWord, NKW7_CommandHeader_haltAll_LoBit, 1) ? " a" : "  ",
                     HeaderField(inWord, NKW7_CommandHeader_halt_LoBit, 1) ? " h" : "  ");
    switch (cmd) {
        case NKW7_CommandHeader_cmd_dmaOut:
        case NKW7_CommandHeader_cmd_dmaIn:
            ULMOutputMessage(" %d", static_cast<int>(HeaderField(inWord, NKW7_CommandHeader_count_LoBit,
                                                                 NKW7_CommandHeader_count_Size)));
            ioState.dmaState = 1;
            break;
        case NKW7_CommandHeader_cmd_sync:
            DumpSync(inWord, reg);
            break;
        case NKW7_CommandHeader_cmd_loadReg:
            ioState.regMask = HeaderField(inWord, NKW7_CommandHeader_mask_LoBit, NKW7_CommandHeader_mask_Size);
            ioState.nextAddr = reg;
            ioState.remainingWords = std::popcount(ioState.regMask);
            break;
        case NKW7_CommandHeader_cmd_storeReg:
            ULMOutputMessage(" %s", sRegisterInfo.GetName(reg));
            ExpectOneDataWord(reg, ioState);
            break;
        case NKW7_CommandHeader_cmd_incrReg:
            ULMOutputMessage(" %s by %03x", sRegisterInfo.GetName(reg),
                             static_cast<unsigned>(HeaderField(inWord, NKW7_CommandHeader_incrAmount_LoBit,
                                                               NKW7_CommandHeader_incrAmount_Size)));
            break;
        case NKW7_CommandHeader_cmd_call:
            ExpectOneDataWord(reg, ioState);
            break;
        default:
            break;
    }
}

// A block that ends inside a transfer or short of its data words.
void DumpUnfinished(const DumpState& inState) {
    if (inState.dmaState != 0) {
        static const char* const kDmaStateNames[4] = {"", "hostAddressNext", "lengthAndIncrNext",
                                                      "waitForLengthZero"};
        ULMOutputMessage("!!!! block done but still in DMA mode: %s (%d)\n", kDmaStateNames[inState.dmaState],
                         inState.dmaState);
    }
    if (inState.remainingWords != 0) {
        ULMOutputMessage("!!!! block done but remainingWords not zero: %d\n", inState.remainingWords);
        ULMOutputMessage("     regMask is %11llx nextAddr is %3x\n",
                         static_cast<unsigned long long>(inState.regMask), inState.nextAddr);
    }
}

}  // namespace


KWBCommandBuffer::~KWBCommandBuffer() = default;

uint64_t KWBCommandBuffer::ExtractField(uint64_t word, int lowbit, int sizebits) {
    return NKW7_ExtractField(word, lowbit, sizebits);
}

bool KWBCommandBuffer::LoadRegOpen() const {
    return m_currentCommand != NOT_SET && m_currentCommand != DOING_DMA;
}

// Words a 64-bit write to addr costs: 1 when it joins the open loadReg, 2 when
// it needs a header of its own. With afterPending, the cost once the held
// write has gone out first.
int KWBCommandBuffer::WordsFor64(uint32_t addr, bool afterPending) const {
    bool open = LoadRegOpen();
    uint32_t base = m_currentBaseAddr;
    uint32_t next = m_nextRegisterAddr;
    if (afterPending && m_pendingAddr != NOT_SET) {
        const bool joins = open && next <= m_pendingAddr && m_pendingAddr < base + kLoadRegWindowBytes;
        if (!joins) base = m_pendingAddr;
        open = true;
        next = m_pendingAddr + 8;
    }
    return open && next <= addr && addr < base + kLoadRegWindowBytes ? 1 : 2;
}

// Words the held write costs; asserts that it may go out alone.
int KWBCommandBuffer::WordsToFlush() const {
    if (m_pendingAddr == NOT_SET) return 0;
    ULM_ASSERT(!sRegisterInfo.IsWriteable (m_pendingAddr + 4));
    AssertWrite64(m_pendingAddr);
    return WordsFor64(m_pendingAddr, false);
}

ULMStatus KWBCommandBuffer::EmitWord(uint64_t word) {
    ULM_ASSERT(m_blockBase != NOT_SET);
    const ULMStatus status = WriteNextWord(word);
    if (ULMSucceeded(status)) ++m_blockSize;
    return status;
}

// The loadReg path proper; room has been checked.
ULMStatus KWBCommandBuffer::Emit64(uint32_t addr, uint64_t value) {
    AssertWrite64(addr);
    if (WordsFor64(addr, false) == 1) {
        ULM_ASSERT(m_currentCommand >= m_blockBase);
        ULMStatus status = EmitWord(value);
        if (ULMFailed(status)) return status;
        m_nextRegisterAddr = addr + 8;
        m_commandData |= uint64_t{1} << (NKW7_CommandHeader_mask_LoBit + (addr - m_currentBaseAddr) / 8);
        return WriteWordAt(m_currentCommand, m_commandData);
    }
    const uint64_t header = Cmd(NKW7_CommandHeader_cmd_loadReg) |
                            (uint64_t{1} << NKW7_CommandHeader_mask_LoBit) | addr;
    const uint32_t index = GetNextIndex();
    ULMStatus status = EmitWord(header);
    if (ULMFailed(status)) return status;
    m_commandData = header;
    m_currentCommand = index;
    m_currentBaseAddr = addr;
    m_nextRegisterAddr = addr + 8;
    return EmitWord(value);
}

// Sends the held write out on its own, its upper half zero; room has been
// checked.
ULMStatus KWBCommandBuffer::FlushHeld() {
    if (m_pendingAddr == NOT_SET) return kULMOK;
    const ULMStatus status = Emit64(m_pendingAddr, m_pendingData & 0xFFFFFFFFu);
    if (ULMSucceeded(status)) m_pendingAddr = NOT_SET;
    return status;
}

// A command other than a register load: the held write goes first, the open
// loadReg closes, then the command's words. reserve is the room the command
// needs, which may exceed what it writes now.
ULMStatus KWBCommandBuffer::EmitCommand(const uint64_t* words, int count, int reserve) {
    ULM_ASSERT(m_blockBase != NOT_SET);
    ULM_ASSERT(m_currentCommand != DOING_DMA);
    ULMStatus status = CheckForFreeSpace(WordsToFlush() + std::max(count, reserve));
    if (ULMFailed(status)) return status;
    status = FlushHeld();
    if (ULMFailed(status)) return status;
    m_currentCommand = NOT_SET;
    for (int i = 0; i < count; ++i) {
        status = EmitWord(words[i]);
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

ULMStatus KWBCommandBuffer::StartBlock(uint32_t& outID) {
    ULM_ASSERT(m_blockBase == NOT_SET);
    ULM_ASSERT(m_pendingAddr == NOT_SET);
    const ULMStatus status = WaitForFreeSpace(kBlockStartWords);
    if (ULMFailed(status)) return status;
    m_blockBase = GetNextIndex();
    outID = m_blockBase;
    m_blockSize = 0;
    return kULMOK;
}

ULMStatus KWBCommandBuffer::FinishBlock(uint32_t& outSize) {
    ULM_ASSERT(m_blockBase != NOT_SET);
    const ULMStatus status = FlushPendingData();
    outSize = m_blockSize;
    m_blockBase = NOT_SET;
    m_currentCommand = NOT_SET;
    return status;
}

ULMStatus KWBCommandBuffer::FlushPendingData() {
    ULM_ASSERT(m_currentCommand != DOING_DMA);
    if (m_pendingAddr == NOT_SET) return kULMOK;
    const ULMStatus status = CheckForFreeSpace(WordsToFlush());
    if (ULMFailed(status)) return status;
    return FlushHeld();
}

ULMStatus KWBCommandBuffer::WriteRegister64(uint32_t inRegisterAddr, uint64_t value) {
    ULM_ASSERT(m_blockBase != NOT_SET);
    AssertWrite64(inRegisterAddr);
    ULM_ASSERT(m_currentCommand != DOING_DMA);
    ULMStatus status = CheckForFreeSpace(WordsToFlush() + WordsFor64(inRegisterAddr, true));
    if (ULMFailed(status)) return status;
    status = FlushHeld();
    if (ULMFailed(status)) return status;
    return Emit64(inRegisterAddr, value);
}

ULMStatus KWBCommandBuffer::WriteRegister32(uint32_t inRegisterAddr, uint32_t value) {
    ULM_ASSERT(m_blockBase != NOT_SET);
    ULM_ASSERT(sRegisterInfo.GetSize(inRegisterAddr) == 32);
    ULM_ASSERT(sRegisterInfo.IsWriteable (inRegisterAddr));
    ULM_ASSERT(m_currentCommand != DOING_DMA);

    if (m_pendingAddr != NOT_SET && inRegisterAddr == m_pendingAddr + 4) {
        // The pair travels as one word, the lower register in bits 31..0. The
        // held half stays held until that word is written.
        ULMStatus status = CheckForFreeSpace(WordsFor64(m_pendingAddr, false));
        if (ULMFailed(status)) return status;
        status = Emit64(m_pendingAddr, (uint64_t{value} << 32) | (m_pendingData & 0xFFFFFFFFu));
        if (ULMSucceeded(status)) m_pendingAddr = NOT_SET;
        return status;
    }

    // Room for the held write is claimed now, so that it can always go out
    // later and a write reported as done is never dropped.
    ULMStatus status = CheckForFreeSpace(WordsToFlush() + WordsFor64(inRegisterAddr, true));
    if (ULMFailed(status)) return status;
    status = FlushHeld();
    if (ULMFailed(status)) return status;
    m_pendingAddr = inRegisterAddr;
    m_pendingData = value;
    return kULMOK;
}

ULMStatus KWBCommandBuffer::IncrRegister(uint32_t inRegisterAddr, uint32_t incr) {
    ULM_ASSERT(sRegisterInfo.IsIncrementable (inRegisterAddr));
    const uint64_t word = Cmd(NKW7_CommandHeader_cmd_incrReg) |
                          (uint64_t{incr} << NKW7_CommandHeader_incrAmount_LoBit) | inRegisterAddr;
    return EmitCommand(&word, 1, 1);
}

ULMStatus KWBCommandBuffer::Noop(bool inInterrupt, bool inHalt, bool inHaltAll) {
    const uint64_t word = Bit(inInterrupt, NKW7_CommandHeader_interrupt_LoBit) |
                          Bit(inHaltAll, NKW7_CommandHeader_haltAll_LoBit) |
                          Bit(inHalt, NKW7_CommandHeader_halt_LoBit);
    return EmitCommand(&word, 1, 1);
}

ULMStatus KWBCommandBuffer::Sync(uint32_t inRegisterAddr, uint32_t inTest, uint32_t inValue,
                                 bool refetch) {
    ULM_ASSERT(sRegisterInfo.IsSyncable (inRegisterAddr));
    ULM_ASSERT(inTest < 8);
    const uint64_t word = Cmd(NKW7_CommandHeader_cmd_sync) |
                          Bit(refetch, NKW7_CommandHeader_refetch_LoBit) |
                          (uint64_t{inValue} << NKW7_CommandHeader_testValue_LoBit) |
                          (uint64_t{inTest} << NKW7_CommandHeader_test_LoBit) | inRegisterAddr;
    return EmitCommand(&word, 1, 1);
}

ULMStatus KWBCommandBuffer::StoreRegister(uint32_t inRegisterAddr, uint64_t* outAddress) {
    ULM_ASSERT(sRegisterInfo.IsStoreable (inRegisterAddr));
    const uint64_t words[2] = {Cmd(NKW7_CommandHeader_cmd_storeReg) | inRegisterAddr,
                               reinterpret_cast<uintptr_t>(outAddress)};
    return EmitCommand(words, 2, 2);
}

ULMStatus KWBCommandBuffer::StartDMA(bool inIn, uint32_t inCount) {
    ULM_ASSERT(inCount < (1 << NKW7_CommandHeader_count_Size));
    const uint64_t word =
        Cmd(inIn ? NKW7_CommandHeader_cmd_dmaIn : NKW7_CommandHeader_cmd_dmaOut) | inCount;
    // Header, one pair and the terminating pair.
    const ULMStatus status = EmitCommand(&word, 1, 5);
    if (ULMSucceeded(status)) m_currentCommand = DOING_DMA;
    return status;
}

ULMStatus KWBCommandBuffer::DMASegment(uint64_t inHostAddress, uint32_t inLength,
                                       uint32_t inHostIncr) {
    ULM_ASSERT(m_currentCommand == DOING_DMA);
    // A zero address or length would read as the terminator.
    ULM_ASSERT(inHostAddress != 0);
    ULM_ASSERT(inLength != 0);
    // This pair and, still, the terminator.
    ULMStatus status = CheckForFreeSpace(4);
    if (ULMFailed(status)) return status;
    status = EmitWord(inHostAddress);
    if (ULMFailed(status)) return status;
    return EmitWord((uint64_t{inHostIncr} << 32) | inLength);
}

ULMStatus KWBCommandBuffer::EndDMA() {
    ULM_ASSERT(m_currentCommand == DOING_DMA);
    ULMStatus status = CheckForFreeSpace(2);
    if (ULMFailed(status)) return status;
    status = EmitWord(0);
    if (ULMFailed(status)) return status;
    status = EmitWord(0);
    if (ULMSucceeded(status)) m_currentCommand = NOT_SET;
    return status;
}

ULMStatus KWBCommandBuffer::DumpBlock(uint32_t inID, uint32_t inSize) {
    ULMOutputMessage("---- KWBCommandBuffer::DumpBlock (%d, %d)\n", static_cast<int>(inID),
                     static_cast<int>(inSize));
    uint32_t size = inSize;
    if (inID == m_blockBase) {
        ULMOutputMessage("---- Block is currently open; substituting open block size %d\n",
                         static_cast<int>(m_blockSize));
        size = m_blockSize;
    }
    DumpState state;
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t index = inID + i;
        const uint64_t word = ReadWordAt(index);
        ULMOutputMessage("%s%4d %016llx", index == m_currentCommand ? "*" : " ",
                         static_cast<int>(index), static_cast<unsigned long long>(word));
        if (state.dmaState != 0)
            DumpDescriptorWord(word, state);
        else if (state.remainingWords > 0)
            DumpDataWord(state);
        else
            DumpHeader(word, state);
        ULMOutputMessage("\n");
    }
    DumpUnfinished(state);
    if (m_pendingAddr != NOT_SET) {
        ULMOutputMessage("!!!! Pending data: Addr %3x (%s) %8x\n", m_pendingAddr,
                         sRegisterInfo.GetName(m_pendingAddr),
                         static_cast<unsigned>(m_pendingData & 0xFFFFFFFFu));
    }
    ULMOutputMessage("---- end KWBCommandBuffer::DumpBlock (%d, %d)\n", static_cast<int>(inID),
                     static_cast<int>(size));
    return kULMOK;
}

}  // namespace ulm3
