// Two volumes' buffer locks in one order.
#include "volume/buffer_lock_pair.h"

#include <utility>

#include "foundation/shareable.h"

namespace ulm3 {

ULMBufferLockPair::ULMBufferLockPair(const ULMVolumeInternal& inFirst, const ULMVolume* inSecond) {
    m_locks[0] = &inFirst.BoardCopy().Lock();
    if (inSecond != nullptr && inSecond != &inFirst && IsObjectType(inSecond, kObjectTypeULMVolumeInternal)) {
        const auto& second = static_cast<const ULMVolumeInternal&>(*inSecond);
        m_locks[1] = &second.BoardCopy().Lock();
        // Ids are never reused: the order holds for the volumes' lives.
        if ((second.GetObjectID() & kObjectNumberMask) < (inFirst.GetObjectID() & kObjectNumberMask))
            std::swap(m_locks[0], m_locks[1]);
    }
    m_locks[0]->lock();
    if (m_locks[1] != nullptr) m_locks[1]->lock();
}

ULMBufferLockPair::~ULMBufferLockPair() {
    if (m_locks[1] != nullptr) m_locks[1]->unlock();
    m_locks[0]->unlock();
}

}  // namespace ulm3
