// A small table of 64-bit words a volume's renders read from its board,
// loaded again only when its words or its board change.
#pragma once

#include <cstdint>
#include <vector>

#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

class ULMBoardWordTable {
public:
    ULMBoardWordTable() = default;
    // Lets go of the held buffer and of every retired one, once their
    // queued loads have run.
    ~ULMBoardWordTable();
    ULMBoardWordTable(const ULMBoardWordTable&) = delete;
    ULMBoardWordTable& operator=(const ULMBoardWordTable&) = delete;

    // Holds inWords in a one-axis buffer on inBoard, whose load is queued
    // and not waited for. A buffer replaced here stays, with its words,
    // until its load and the last render its board had queued have
    // finished, since that render may still read it.
    ULMStatus Load(KWBBoard* inBoard, std::vector<uint64_t> inWords);
    KWBBuffer* Buffer() const { return m_buffer; }

private:
    struct Retired {
        ULMSyncEvent lastReader;
        KWBBoard* board;
        KWBBuffer* buffer;
        std::vector<uint64_t> words;  // what the buffer's load reads
    };
    KWBBoard* m_board = nullptr;
    KWBBuffer* m_buffer = nullptr;
    std::vector<uint64_t> m_words;
    std::vector<Retired> m_retired;
};

}  // namespace ulm3
