// The board layer as the foundation reaches it: registered while the
// library loads, so the open, the close, the configuration query and the
// waits on board events find the boards without including this layer.
#include <algorithm>
#include <vector>

#include "board/kwb_board.h"
#include "board/kwb_sync_event.h"
#include "foundation/deadline.h"
#include "foundation/upper_layers.h"

namespace ulm3 {

namespace {

class KWBBoardServices final : public ULMBoardServices {
public:
    ULMStatus OpenBoard(int index, ULMBoardFacts& outFacts) override {
        // An already open board leaves the status untouched: it is closed
        // again and counts as not found, so the library opens only boards
        // it opened itself.
        ULMStatus status = kULMErrNoHardware;
        KWBBoard* board = KWBBoard::Open(index, status, false);
        if (board == nullptr || status != kULMOK) {
            if (board != nullptr) KWBBoard::Close(index);
            return status == kULMOK ? kULMErrNoHardware : status;
        }
        KWBConfiguration configuration;
        board->GetConfiguration(configuration);
        outFacts.memorySize = configuration.dwTotalMemory;
        outFacts.major = static_cast<int>(configuration.dwMajorVersion);
        outFacts.revision = static_cast<int>(configuration.dwPciRev);
        return kULMOK;
    }

    ULMStatus CloseBoard(int index) override { return KWBBoard::Close(index); }

    ULMBoardMemory GetMemory(int index) override {
        KWBBoard* board = KWBBoard::GetBoard(index);
        if (board == nullptr) return {};
        const KWBMemoryStats stats = board->GetMemoryStats();
        return {stats.dwTotal, stats.dwLocked, stats.dwUnlocked, stats.dwFree};
    }

    const char* GetCompiledDriverVersion() override { return KWBBoard::GetCompiledVersionString(); }

    const char* GetConnectedDriverVersion(int index) override {
        const KWBBoard* board = KWBBoard::GetBoard(index);
        return board != nullptr ? board->GetConnectedVersionString() : nullptr;
    }

    ULMStatus Wait(const ULMSyncEvent& event, long milliseconds) override {
        return KWBBoard::WaitForSync(event, milliseconds);
    }

    // Events go to the board that issued them, at most eight to a driver
    // request; every word is checked before the first wait. A failed event
    // fails the wait only once every other event is done too: callers free
    // what the work reads when the wait answers.
    ULMStatus WaitForAll(int count, const ULMSyncEvent* events, long milliseconds) override {
        const ULMDeadline deadline(milliseconds);
        std::vector<ULMSyncEvent> byBoard[KWBBoard::kMaxBoards];
        for (int i = 0; i < count; ++i) {
            const KWBSyncEvent view(events[i]);
            if (!view.IsHardwareSync() || view.GetBoardNumber() >= KWBBoard::kMaxBoards) {
                return kULMErrArgument;
            }
            byBoard[view.GetBoardNumber()].push_back(events[i]);
        }
        ULMStatus failed = kULMOK;
        for (int b = 0; b < KWBBoard::kMaxBoards; ++b) {
            const std::vector<ULMSyncEvent>& list = byBoard[b];
            if (list.empty()) continue;
            KWBBoard* board = KWBBoard::GetBoard(b);
            if (board == nullptr) return kULMErrArgument;
            for (size_t first = 0; first < list.size(); first += TULX7_DR_MAX_SYNC_EVENTS) {
                const int n = static_cast<int>(
                    std::min<size_t>(TULX7_DR_MAX_SYNC_EVENTS, list.size() - first));
                const ULMStatus status =
                    board->WaitForAll(n, list.data() + first, deadline.RemainingMs());
                if (status == kULMTimeout) return status;
                if (ULMFailed(status) && !ULMFailed(failed)) failed = status;
            }
        }
        return failed;
    }

    ULMStatus WaitForAny(int count, const ULMSyncEvent* events, long milliseconds) override {
        KWBBoard* board = KWBBoard::GetBoard(0);
        return board != nullptr ? board->WaitForAny(count, events, milliseconds) : kULMErrArgument;
    }

    ULMStatus Abort(const ULMSyncEvent& event) override { return KWBBoard::commonAbort(event); }
};

KWBBoardServices gServices;
[[maybe_unused]] const bool gRegistered = (ULMRegisterBoardServices(gServices), true);

}  // namespace

}  // namespace ulm3
