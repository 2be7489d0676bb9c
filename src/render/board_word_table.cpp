// Board tables of one volume's renders, reloaded only when they change.
#include "render/board_word_table.h"

#include <utility>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_range.h"
#include "foundation/sync_event.h"
#include "render/table_buffer_return.h"

namespace ulm3 {

ULMBoardWordTable::~ULMBoardWordTable() { ULMReturnTableBuffer(m_board, m_buffer, std::move(m_words)); }

ULMStatus ULMBoardWordTable::Load(KWBBoard* inBoard, std::vector<uint64_t> inWords) {
    if (inBoard == nullptr || inWords.empty()) return kULMErrArgument;
    if (m_buffer != nullptr && m_board == inBoard && inWords == m_words) return kULMOK;
    const auto entries = static_cast<uint32_t>(inWords.size());
    ULMStatus status = kULMOK;
    KWBBuffer* buffer = inBoard->CreateBuffer(entries, 0, 0, 64, status);
    if (buffer == nullptr) return ULMFailed(status) ? status : kULMErrAlloc;
    // The load is only queued, and renders follow it through the buffer's
    // load event; it reads the words, which stay with the buffer until the
    // board has run it.
    status = ULMStatusOnceQueued(inBoard->StartLoadBuffer(buffer, inWords.data(),
                                                          KWBRange(0, static_cast<int16_t>(entries - 1)), 0, 0,
                                                          KWBBoard::kPlainHostMemory));
    if (ULMFailed(status)) {
        // Pieces queued before one was refused read the words.
        ULMReturnTableBuffer(inBoard, buffer, std::move(inWords));
        return status;
    }
    ULMReturnTableBuffer(m_board, m_buffer, std::move(m_words));
    m_board = inBoard;
    m_buffer = buffer;
    m_words = std::move(inWords);
    return kULMOK;
}

}  // namespace ulm3
