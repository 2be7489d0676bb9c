// Two volumes' locks in the library's one order.
#include "volume/buffer_lock_pair.h"

#include <algorithm>

#include "foundation/shareable.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

int ULMBufferLockPair::Collect(const ULMVolume& inVolume) {
    // Ids are never reused: the order holds for the volumes' lives.
    const uint64_t id = inVolume.GetObjectID() & kObjectNumberMask;
    if (IsObjectType(&inVolume, kObjectTypeULMVolumeInternal)) {
        m_locks.push_back({&static_cast<const ULMVolumeInternal&>(inVolume).BoardCopy().Lock(), 0, id});
        return 0;
    }
    const ULMWrapperPartsOf partsOf = ULMGetWrapperParts(inVolume);
    if (partsOf == nullptr) return 0;
    ULMWrapperParts parts;
    partsOf(inVolume, parts);
    int height = 0;
    for (int i = 0; i < parts.count; ++i)
        if (parts.parts[i] != nullptr) height = std::max(height, Collect(*parts.parts[i]));
    ++height;
    if (parts.lock != nullptr) m_locks.push_back({parts.lock, height, id});
    return height;
}

ULMBufferLockPair::ULMBufferLockPair(const ULMVolume& inFirst, const ULMVolume* inSecond) {
    Collect(inFirst);
    if (inSecond != nullptr && inSecond != &inFirst) Collect(*inSecond);
    std::sort(m_locks.begin(), m_locks.end(), [](const Held& a, const Held& b) {
        return a.height != b.height ? a.height > b.height : a.id < b.id;
    });
    // A copy shared by two bands, or a volume in both, is taken once.
    m_locks.erase(std::unique(m_locks.begin(), m_locks.end(),
                              [](const Held& a, const Held& b) { return a.lock == b.lock; }),
                  m_locks.end());
    for (const Held& held : m_locks) held.lock->lock();
}

ULMBufferLockPair::~ULMBufferLockPair() {
    for (auto it = m_locks.rbegin(); it != m_locks.rend(); ++it) it->lock->unlock();
}

}  // namespace ulm3
