// Two volumes' locks held together, for the work that reads one volume and
// writes the other: their buffers, and the locks of the wrappers either is.
#pragma once

#include <vector>

#include "volume/volume_internal.h"

namespace ulm3 {

// Takes every lock the work between the two volumes may take, in the
// library's one order, the same whichever volume is named first: the
// wrappers' locks first, outer wrappers before the ones they hold, others
// by their ids, then the plain volumes' buffer locks by their ids. Two
// threads working between the same volumes in opposite directions so
// cannot each hold one lock and wait for another, and the work under it
// takes them again without a new order. Holds them all until it goes. A
// second volume that is null or the first itself adds nothing.
class ULMBufferLockPair {
public:
    ULMBufferLockPair(const ULMVolume& inFirst, const ULMVolume* inSecond);
    ~ULMBufferLockPair();
    ULMBufferLockPair(const ULMBufferLockPair&) = delete;
    ULMBufferLockPair& operator=(const ULMBufferLockPair&) = delete;

private:
    struct Held {
        ULMRecursiveMutex* lock;
        int height;  // 0 for a buffer lock; a wrapper's is above all it holds
        uint64_t id;
    };
    // Adds inVolume's locks and those of its parts; its height.
    int Collect(const ULMVolume& inVolume);

    std::vector<Held> m_locks;
};

}  // namespace ulm3
