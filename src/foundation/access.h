// Arbitration of shared and exclusive access to a volume.
#pragma once

#include "ulm3/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

// Grants an access only when it is compatible with the one already held:
// shared reads with shared reads, and under a shared write any shared access
// or plain write; every exclusive mode stands alone. The mode returns to
// no-control when the last holder leaves.
class ULMAccessInternal {
public:
    ULMAccessInternal() = default;
    ~ULMAccessInternal();
    ULMAccessInternal(const ULMAccessInternal&) = delete;
    ULMAccessInternal& operator=(const ULMAccessInternal&) = delete;

    // kULMErrArgument for a mode outside 1..6, kULMErrAccess when refused.
    ULMStatus AddAccess(ULMAccessType mode);
    ULMStatus ReleaseAccess();
    // Turns the one exclusive write held into a shared write in one step,
    // so that no other holder can come in between; kULMErrAccess when
    // anything else is held.
    ULMStatus ShareExclusiveWrite();

    // The mode held now (kULMAccessNoControl when free).
    ULMAccessType GetAccessMode() const;

private:
    ULMAccessType m_control = kULMAccessNoControl;
    int m_refCount = 0;
};

}  // namespace ulm3
