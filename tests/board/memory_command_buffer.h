// An in-memory command buffer of an exact capacity for the encoder's tests.
// It also checks the encoder's side of the storage contract: no word is
// written unless a free-space check granted room for it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/kwb_command_buffer.h"

namespace ulm3::test {

class MemoryCommandBuffer : public KWBCommandBuffer {
public:
    explicit MemoryCommandBuffer(uint32_t capacity) : m_words(capacity, 0) {}

    uint64_t* GetBlockAddress(uint32_t id) override { return m_words.data() + id; }

    // Words come back when every block is released, as in the host buffer.
    ULMStatus ReleaseBlock(uint32_t, uint32_t size) override {
        m_outstanding -= size;
        if (m_outstanding == 0) m_next = 0;
        return kULMOK;
    }

    std::vector<uint64_t> Words(uint32_t id, uint32_t size) const {
        return std::vector<uint64_t>(m_words.begin() + id, m_words.begin() + id + size);
    }
    // Everything written since the buffer was last emptied.
    std::vector<uint64_t> Written() const { return Words(0, m_next); }
    uint32_t FreeWords() const { return static_cast<uint32_t>(m_words.size()) - m_next; }

protected:
    ULMStatus CheckForFreeSpace(int words) override {
        if (words > static_cast<int>(FreeWords())) return kULMErrAlloc;
        m_granted = words;
        return kULMOK;
    }
    ULMStatus WaitForFreeSpace(int words) override { return CheckForFreeSpace(words); }
    uint32_t GetNextIndex() override { return m_next; }
    ULMStatus WriteNextWord(uint64_t word) override {
        if (m_granted <= 0 || m_next >= m_words.size()) {
            ADD_FAILURE() << "word written without room granted for it";
            return kULMErrAlloc;
        }
        --m_granted;
        ++m_outstanding;
        m_words[m_next++] = word;
        return kULMOK;
    }
    ULMStatus WriteWordAt(uint32_t index, uint64_t word) override {
        if (index >= m_next) {
            ADD_FAILURE() << "rewrite of word " << index << " that was never written";
            return kULMErrArgument;
        }
        m_words[index] = word;
        return kULMOK;
    }
    uint64_t ReadWordAt(uint32_t index) override { return m_words.at(index); }

private:
    std::vector<uint64_t> m_words;
    uint32_t m_next = 0;
    uint32_t m_outstanding = 0;
    int m_granted = 0;
};

}  // namespace ulm3::test
