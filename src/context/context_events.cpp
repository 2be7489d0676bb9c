// Events of a rendering context: to the application's callback, or into the
// context's queue for WaitForEvent.
#include <memory>

#include "context/context_internal.h"
#include "foundation/locks.h"

namespace ulm3 {

// Only its address matters: it marks a kind whose events are queued.
void ULMQueueEventCallback(ULMEventBase*, void*) {}

// A render copy's events are its owner's.
ULMStatus ULMContextInternal::SetNotifyCallback(ULMEventType inKind, ULMNotifyCallback inCallback,
                                                void* inData) {
    if (inKind < kULMEventRenderDone || inKind >= kEventKinds) return kULMErrArgument;
    ULMContextInternal& owner = Owner();
    CriticalSectionHandler lock(owner.m_notifyLock);
    owner.m_notify[inKind] = Notify{inCallback, inData};
    return kULMOK;
}

ULMContextInternal::Notify ULMContextInternal::GetNotify(ULMEventType inKind) const {
    const ULMContextInternal& owner = Owner();
    CriticalSectionHandler lock(owner.m_notifyLock);
    return owner.m_notify[inKind];
}

bool ULMContextInternal::HasNotifyCallback(ULMEventType inKind) const {
    return inKind >= kULMEventRenderDone && inKind < kEventKinds && GetNotify(inKind).callback != nullptr;
}

ULMStatus ULMContextInternal::WaitForEvent(long inMilliseconds, ULMEventBase*& outEvent, void*& outData) {
    return Owner().m_queue->RemoveFirstEvent(inMilliseconds, outEvent, outData);
}

// The callback runs outside the lock, so that it may change the callbacks.
template <class MakeEvent>
ULMStatus ULMContextInternal::Deliver(ULMEventType inKind, MakeEvent inMake) {
    const Notify notify = GetNotify(inKind);
    if (!notify.callback) return kULMOK;
    std::unique_ptr<ULMEventBase> event(inMake());
    if (!event) return kULMErrAlloc;
    if (notify.callback == &ULMQueueEventCallback) {
        const ULMStatus status = Owner().m_queue->AddEvent(event.get(), notify.data);
        // A full queue leaves the event with us; it must not be lost.
        if (status == kULMOK) event.release();
        return status;
    }
    notify.callback(event.get(), notify.data);
    return kULMOK;
}

ULMStatus ULMContextInternal::GenerateEventRenderDone(int inBuffer) {
    return Deliver(kULMEventRenderDone, [&] { return new (std::nothrow) ULMEventRenderDone(inBuffer); });
}

ULMStatus ULMContextInternal::GenerateEventTransferDone(int inBuffer) {
    return Deliver(kULMEventTransferDone, [&] { return new (std::nothrow) ULMEventTransferDone(inBuffer); });
}

ULMStatus ULMContextInternal::GenerateEventLightMap(bool inChanged, int inBuffer, ULMLightMapType inFormat,
                                                    int inBytesPerElement, int inNumberOfElements,
                                                    void* inMap1, void* inMap2) {
    if (inChanged)
        return Deliver(kULMEventLightMapChange, [&]() -> ULMEventBase* {
            return new (std::nothrow) ULMEventLightMapChange(inBuffer, inFormat, inBytesPerElement,
                                                             inNumberOfElements, inMap1, inMap2);
        });
    return Deliver(kULMEventLightMap, [&]() -> ULMEventBase* {
        return new (std::nothrow)
            ULMEventLightMap(inBuffer, inFormat, inBytesPerElement, inNumberOfElements, inMap1, inMap2);
    });
}

}  // namespace ulm3
