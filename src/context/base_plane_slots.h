// The context's sixteen base-plane slots: each renders a volume into an
// image on the volume's board and brings it back to host memory.
#pragma once

#include <vector>

#include "foundation/locks.h"
#include "ulm3/graphics_context.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMContextInternal;
class ULMImageBuffer;
class ULMVolume;

class ULMBasePlaneSlots {
public:
    static constexpr int kSlotCount = 16;

    explicit ULMBasePlaneSlots(ULMContextInternal& inContext) : m_context(inContext) {}
    // Waits for every transfer still writing into a host buffer.
    ~ULMBasePlaneSlots();
    ULMBasePlaneSlots(const ULMBasePlaneSlots&) = delete;
    ULMBasePlaneSlots& operator=(const ULMBasePlaneSlots&) = delete;

    ULMStatus Render(ULMVolume* inVolume, int inSlot);
    ULMStatus Fetch(int inSlot, ULMBasePlaneInfo& outInfo, long inMilliseconds);
    ULMStatus Release(int inSlot);
    ULMStatus RenderTo(ULMVolume* inVolume, ULMGraphicsContext* inGraphics, int inSlot);

private:
    // Busy: a render or a fetch of this slot is under way in some thread.
    enum class State { kFree, kBusy, kRendered, kFetched };
    struct Slot {
        State state = State::kFree;
        ULMImageBuffer* image = nullptr;
        std::vector<unsigned char> host;
        ULMSyncEvent render;
        ULMSyncEvent unload;
        ULMBasePlaneInfo info;
    };

    // Claims a slot in one of the given states for this thread.
    ULMStatus Claim(int inSlot, State inFirst, State inSecond, State& outWas);
    void SetState(int inSlot, State inState);
    // outLocked: the volume had no board buffer and this render locked it.
    ULMStatus RenderClaimed(ULMVolume* inVolume, Slot& ioSlot, bool& outLocked);
    ULMStatus PrepareImage(ULMVolume* inVolume, Slot& ioSlot);
    bool HasReportCallbacks() const;

    ULMContextInternal& m_context;
    // Owns the slot states; a claimed slot's other members belong to the
    // thread that claimed it.
    ULMMutex m_lock;
    Slot m_slots[kSlotCount];
};

}  // namespace ulm3
