// Two volumes' buffer locks held together, for the work that reads one
// volume's board buffer and writes the other's.
#pragma once

#include "volume/volume_internal.h"

namespace ulm3 {

// Takes the two locks in the order of the volumes' ids, the same whichever
// volume is named first, so that two threads working between the same two
// volumes in opposite directions cannot each hold one lock and wait for the
// other, and holds both until it goes. A second volume that is null, the
// first itself or not a plain volume adds no lock.
class ULMBufferLockPair {
public:
    ULMBufferLockPair(const ULMVolumeInternal& inFirst, const ULMVolume* inSecond);
    ~ULMBufferLockPair();
    ULMBufferLockPair(const ULMBufferLockPair&) = delete;
    ULMBufferLockPair& operator=(const ULMBufferLockPair&) = delete;

private:
    ULMRecursiveMutex* m_locks[2] = {nullptr, nullptr};
};

}  // namespace ulm3
