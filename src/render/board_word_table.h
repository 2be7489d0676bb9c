// A small table of 64-bit words a volume's renders read from its board,
// loaded again only when its words or its board change.
#pragma once

#include <cstdint>
#include <vector>

#include "ulm3/status.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

class ULMBoardWordTable {
public:
    ULMBoardWordTable() = default;
    // Gives the held buffer back to its board (see table_buffer_return.h).
    ~ULMBoardWordTable();
    ULMBoardWordTable(const ULMBoardWordTable&) = delete;
    ULMBoardWordTable& operator=(const ULMBoardWordTable&) = delete;

    // Holds inWords in a one-axis buffer on inBoard, whose load is queued
    // and not waited for. A buffer replaced here goes back to its board at
    // once: renders already queued with it keep its storage, and its words
    // stay until its load has run.
    ULMStatus Load(KWBBoard* inBoard, std::vector<uint64_t> inWords);
    KWBBuffer* Buffer() const { return m_buffer; }

private:
    KWBBoard* m_board = nullptr;
    KWBBuffer* m_buffer = nullptr;
    std::vector<uint64_t> m_words;  // what the buffer's load reads
};

}  // namespace ulm3
