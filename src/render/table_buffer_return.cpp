// Table buffers given back at once, and the host words of their loads kept
// until the board has run them.
#include "render/table_buffer_return.h"

#include <type_traits>
#include <utility>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/locks.h"
#include "foundation/sync_event.h"
#include "ulm3/sync_event.h"

namespace ulm3 {
namespace {

// The load is kept as its word: the list must move its entries when it
// grows, and only an entry that moves without throwing keeps its words
// where the load reads them (one that may throw is copied).
struct KeptWords {
    uint64_t load;
    std::vector<uint64_t> words;

    bool Loaded() const { return SyncEventFromWord(load).IsDone(); }
};
static_assert(std::is_nothrow_move_constructible_v<KeptWords>);

// Built on first use, and never destroyed, so that a table given back late
// in the process (from another static destructor) still finds the list.
struct KeptList {
    ULMMutex lock;
    std::vector<KeptWords> kept;
};

KeptList& Kept() {
    static KeptList* const sKept = new KeptList;
    return *sKept;
}

}  // namespace

void ULMReturnTableBuffer(KWBBoard* inBoard, KWBBuffer* inBuffer, std::vector<uint64_t> inWords) {
    if (inBuffer == nullptr) return;
    // The descriptor goes with the buffer: its load event is read first.
    const ULMSyncEvent load = inBuffer->GetLoadEvent();
    inBoard->ReleaseBuffer(inBuffer, false);
    const bool loaded = load.IsDone();
    KeptList& k = Kept();
    ULMScopedLock lock(k.lock);
    std::erase_if(k.kept, [](const KeptWords& w) { return w.Loaded(); });
    if (!loaded) k.kept.push_back({SyncEventWord(load), std::move(inWords)});
}

void ULMFreeTableWords() {
    std::vector<KeptWords> kept;
    {
        KeptList& k = Kept();
        ULMScopedLock lock(k.lock);
        kept.swap(k.kept);
    }
    for (const KeptWords& w : kept) SyncEventFromWord(w.load).Wait(-1);
}

}  // namespace ulm3
