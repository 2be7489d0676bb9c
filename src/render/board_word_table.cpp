// Board tables of one volume's renders, reloaded only when they change.
#include "render/board_word_table.h"

#include <utility>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_range.h"

namespace ulm3 {

ULMBoardWordTable::~ULMBoardWordTable() {
    for (const Retired& r : m_retired) r.board->ReleaseBuffer(r.buffer, false);
    if (m_buffer != nullptr) m_board->ReleaseBuffer(m_buffer, false);
}

ULMStatus ULMBoardWordTable::Load(KWBBoard* inBoard, std::vector<uint64_t> inWords) {
    if (inBoard == nullptr || inWords.empty()) return kULMErrArgument;
    std::erase_if(m_retired, [](const Retired& r) {
        if (!r.lastReader.IsDone()) return false;
        r.board->ReleaseBuffer(r.buffer, false);
        return true;
    });
    if (m_buffer != nullptr && m_board == inBoard && inWords == m_words) return kULMOK;
    const auto entries = static_cast<uint32_t>(inWords.size());
    ULMStatus status = kULMOK;
    KWBBuffer* buffer = inBoard->CreateBuffer(entries, 0, 0, 64, status);
    if (buffer == nullptr) return ULMFailed(status) ? status : kULMErrAlloc;
    status = inBoard->LoadBuffer(buffer, inWords.data(), KWBRange(0, static_cast<int16_t>(entries - 1)), 0, 0,
                                 KWBBoard::kPlainHostMemory);
    if (ULMFailed(status)) {
        inBoard->ReleaseBuffer(buffer, false);
        return status;
    }
    if (m_buffer != nullptr) m_retired.push_back({m_board->GetLastRenderEvent(), m_board, m_buffer});
    m_board = inBoard;
    m_buffer = buffer;
    m_words = std::move(inWords);
    return kULMOK;
}

}  // namespace ulm3
