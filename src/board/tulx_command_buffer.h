// The host command buffer: an array of command words from which the driver
// fetches blocks by address. Blocks are appended one after another; the words
// come back only when every block handed out has been released.
#pragma once

#include <cstdint>
#include <memory>

#include "board/kwb_command_buffer.h"

namespace ulm3 {

class KWBBoard;

class TulxCommandBuffer : public KWBCommandBuffer {
public:
    static constexpr int kMinWords = 1000;
    static constexpr int kMaxWords = 40000;

    // The wanted size is clamped to kMinWords .. kMaxWords. One word is never
    // used, so a buffer of n words holds n - 1 words of blocks.
    TulxCommandBuffer(KWBBoard* board, int inSizeWanted);
    ~TulxCommandBuffer() override;

    uint64_t* GetBlockAddress(uint32_t inID) override;
    // Releasing words that were never handed out is refused, so that a
    // mistaken release cannot make the buffer reuse words still in flight.
    ULMStatus ReleaseBlock(uint32_t inID, uint32_t inSize) override;

    KWBBoard* GetBoard() const { return m_board; }
    uint32_t GetBufferSize() const { return m_bufferSize; }

protected:
    ULMStatus CheckForFreeSpace(int words) override;
    ULMStatus WaitForFreeSpace(int words) override;
    uint32_t GetNextIndex() override;
    ULMStatus WriteNextWord(uint64_t word) override;
    ULMStatus WriteWordAt(uint32_t inOffset, uint64_t word) override;
    uint64_t ReadWordAt(uint32_t inOffset) override;

private:
    uint32_t FreeWords() const;

    KWBBoard* m_board;
    std::unique_ptr<uint64_t[]> m_bufferBase;
    uint32_t m_bufferSize;
    uint32_t m_freeSize;      // words not held by a block
    uint32_t m_nextFreeWord;  // index of the next word to write
};

}  // namespace ulm3
