// The encoder of the chip's command stream: blocks of register loads, syncs,
// register stores and increments, DMA descriptors and no-ops, packed as
// densely as the chip allows and checked against the register map. Where the
// words are kept is left to a subclass.
#pragma once

#include <cstdint>

#include "ulm3/status.h"

namespace ulm3 {

class KWBCommandBuffer {
public:
    static constexpr uint32_t NOT_SET = 0xFFFFFFFF;
    static constexpr uint32_t DOING_DMA = 0xFFFFFFFE;
    // Free words a new block asks for before it opens.
    static constexpr int kBlockStartWords = 90;

    KWBCommandBuffer() = default;
    virtual ~KWBCommandBuffer();
    KWBCommandBuffer(const KWBCommandBuffer&) = delete;
    KWBCommandBuffer& operator=(const KWBCommandBuffer&) = delete;

    // Every emitting operation either writes its whole command or, when the
    // storage lacks room, returns the failure with the block exactly as it
    // was before the call. A request the chip cannot carry out (a register
    // that is not there or may not be written, synced, stored or
    // incremented, a test or count out of range) is a programming error and
    // stops the program.

    virtual ULMStatus StartBlock(uint32_t& outID);
    // Writes the held 32-bit write, if any, and closes the block whatever
    // that write's outcome, which it returns.
    virtual ULMStatus FinishBlock(uint32_t& outSize);
    // A 32-bit write is held back until its upper neighbour arrives, so that
    // both travel in one data word; write both halves of a writeable pair one
    // after the other, lower address first. The upper half of a 32-bit
    // register written with WriteRegister64 lands in its neighbour at +4.
    virtual ULMStatus WriteRegister32(uint32_t inRegisterAddr, uint32_t value);
    virtual ULMStatus WriteRegister64(uint32_t inRegisterAddr, uint64_t value);
    virtual ULMStatus IncrRegister(uint32_t inRegisterAddr, uint32_t incr);
    virtual ULMStatus Noop(bool inInterrupt, bool inHalt, bool inHaltAll);
    // The chip waits until (register inTest inValue) holds.
    virtual ULMStatus Sync(uint32_t inRegisterAddr, uint32_t inTest, uint32_t inValue, bool refetch);
    virtual ULMStatus StoreRegister(uint32_t inRegisterAddr, uint64_t* outAddress);
    // A DMA command is StartDMA, any number of DMASegment, then EndDMA; nothing
    // else may come between. StartDMA reserves room for the terminator.
    virtual ULMStatus StartDMA(bool inIn, uint32_t inCount);
    virtual ULMStatus DMASegment(uint64_t inHostAddress, uint32_t inLength, uint32_t inHostIncr);
    virtual ULMStatus EndDMA();
    // Where the driver finds the block's words.
    virtual uint64_t* GetBlockAddress(uint32_t id) = 0;
    // Gives a finished block's words back to the storage.
    virtual ULMStatus ReleaseBlock(uint32_t id, uint32_t size) = 0;
    // Prints a block word by word through the message log.
    virtual ULMStatus DumpBlock(uint32_t inID, uint32_t inSize);
    virtual ULMStatus FlushPendingData();

    static uint64_t ExtractField(uint64_t word, int lowbit, int sizebits);

protected:
    // The storage. CheckForFreeSpace must tell the truth: the encoder writes
    // only what it has been told fits.
    virtual ULMStatus CheckForFreeSpace(int words) = 0;
    virtual ULMStatus WaitForFreeSpace(int words) = 0;
    virtual uint32_t GetNextIndex() = 0;
    virtual ULMStatus WriteNextWord(uint64_t word) = 0;
    virtual ULMStatus WriteWordAt(uint32_t index, uint64_t word) = 0;
    virtual uint64_t ReadWordAt(uint32_t index) = 0;

private:
    bool LoadRegOpen() const;
    int WordsFor64(uint32_t addr, bool afterPending) const;
    int WordsToFlush() const;
    ULMStatus EmitWord(uint64_t word);
    ULMStatus Emit64(uint32_t addr, uint64_t value);
    ULMStatus FlushHeld();
    ULMStatus EmitCommand(const uint64_t* words, int count, int reserve);

    uint32_t m_blockBase = NOT_SET;       // first word of the open block
    uint32_t m_blockSize = 0;             // words written into the open block
    uint32_t m_currentCommand = NOT_SET;  // open loadReg header, or DOING_DMA
    uint64_t m_commandData = 0;           // the open loadReg header as last written
    uint32_t m_currentBaseAddr = 0;       // its base register
    uint32_t m_nextRegisterAddr = 0;      // lowest register that may still join it
    uint64_t m_pendingData = 0;           // a held 32-bit write
    uint32_t m_pendingAddr = NOT_SET;
};

}  // namespace ulm3
