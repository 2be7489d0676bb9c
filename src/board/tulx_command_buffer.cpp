#include "board/tulx_command_buffer.h"

#include <algorithm>

#include "foundation/diagnostics.h"

namespace ulm3 {

TulxCommandBuffer::TulxCommandBuffer(KWBBoard* board, int inSizeWanted)
    : m_board(board),
      m_bufferSize(static_cast<uint32_t>(std::clamp(inSizeWanted, kMinWords, kMaxWords))),
      m_freeSize(m_bufferSize - 1),
      m_nextFreeWord(0) {
    m_bufferBase = std::make_unique<uint64_t[]>(m_bufferSize);
}

TulxCommandBuffer::~TulxCommandBuffer() = default;

// Words released early are not reusable while a later block is still out:
// writing goes on at m_nextFreeWord until everything is back. So the room is
// what is left both in the count and before the end of the array.
uint32_t TulxCommandBuffer::FreeWords() const {
    return std::min(m_freeSize, m_bufferSize - m_nextFreeWord);
}

uint64_t* TulxCommandBuffer::GetBlockAddress(uint32_t inID) {
    ULM_ASSERT(inID < m_bufferSize);
    return &m_bufferBase[inID];
}

ULMStatus TulxCommandBuffer::ReleaseBlock(uint32_t inID, uint32_t inSize) {
    const uint32_t handedOut = m_bufferSize - 1 - m_freeSize;
    if (inSize > handedOut || inID > m_nextFreeWord || inSize > m_nextFreeWord - inID)
        return kULMErrArgument;
    m_freeSize += inSize;
    if (m_freeSize == m_bufferSize - 1) m_nextFreeWord = 0;
    return kULMOK;
}

ULMStatus TulxCommandBuffer::CheckForFreeSpace(int words) {
    return words > 0 && FreeWords() < static_cast<uint32_t>(words) ? kULMErrAlloc : kULMOK;
}

// Blocks come back only through ReleaseBlock on this thread, so waiting could
// not make room.
ULMStatus TulxCommandBuffer::WaitForFreeSpace(int words) { return CheckForFreeSpace(words); }

uint32_t TulxCommandBuffer::GetNextIndex() { return m_nextFreeWord; }

ULMStatus TulxCommandBuffer::WriteNextWord(uint64_t word) {
    if (FreeWords() == 0) return kULMErrAlloc;
    m_bufferBase[m_nextFreeWord] = word;
    ++m_nextFreeWord;
    --m_freeSize;
    return kULMOK;
}

ULMStatus TulxCommandBuffer::WriteWordAt(uint32_t inOffset, uint64_t word) {
    ULM_ASSERT(inOffset < m_bufferSize);
    m_bufferBase[inOffset] = word;
    return kULMOK;
}

uint64_t TulxCommandBuffer::ReadWordAt(uint32_t inOffset) {
    ULM_ASSERT(inOffset < m_bufferSize);
    return m_bufferBase[inOffset];
}

}  // namespace ulm3
