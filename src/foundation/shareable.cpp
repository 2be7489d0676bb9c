#include "foundation/shareable.h"

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/locks.h"

namespace ulm3 {

namespace {

// The created/destroyed counters run for the life of the process; they wrap
// instead of overflowing.
void Bump(int& counter) { counter = static_cast<int>(static_cast<unsigned>(counter) + 1u); }

// Running numbers start above a fixed base so that ids are recognisable in
// logs; the first object of a process gets 3,696,501.
uint64_t sNextObjectNumber = 3696500;

uint64_t NextObjectNumber() {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    Bump(gULMControl.m_shareableObjectsCreated);
    return ++sNextObjectNumber & kObjectNumberMask;
}

}  // namespace

ULMShareable::ULMShareable() : m_appData(nullptr), m_refCount(0), m_serial(1), m_object(NextObjectNumber()) {}

ULMShareable::ULMShareable(const ULMShareable&) : ULMShareable() {}

ULMShareable& ULMShareable::operator=(const ULMShareable&) {
    IncSerial();
    return *this;
}

ULMShareable::~ULMShareable() {
    ULM_ASSERT(RefCount() == 0);
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    Bump(gULMControl.m_shareableObjectsDestroyed);
}

int ULMShareable::AddRef() {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    return ++m_refCount;
}

int ULMShareable::Release() {
    int count;
    {
        CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
        count = --m_refCount;
    }
    ULM_ASSERT(count >= 0);
    if (count == 0) delete this;
    return count;
}

void ULMShareable::IncSerial() {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    m_serial.store(NextSerial(m_serial.load(std::memory_order_relaxed)), std::memory_order_release);
}

void SetObjectType(ULMShareable* object, ULMObjectType type) {
    if (!object) return;
    object->m_object = (object->m_object & kObjectNumberMask) |
                       (static_cast<uint64_t>(type & 0xFFu) << kObjectTypeShift);
}

bool IsObjectType(const ULMShareable* object, ULMObjectType type) {
    return object != nullptr && (object->GetObjectID() >> kObjectTypeShift) == type;
}

}  // namespace ulm3
