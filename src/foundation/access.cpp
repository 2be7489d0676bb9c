#include "foundation/access.h"

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/locks.h"

namespace ulm3 {

ULMAccessInternal::~ULMAccessInternal() {
    ULM_ASSERT(m_control == kULMAccessNoControl);
    ULM_ASSERT(m_refCount == 0);
}

ULMStatus ULMAccessInternal::AddAccess(ULMAccessType mode) {
    if (mode < kULMAccessReadExclusive || mode > kULMAccessWriteOnlyExclusive) return kULMErrArgument;
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    switch (m_control) {
    case kULMAccessNoControl:
        // A plain write on a free volume excludes everybody else.
        m_control = mode == kULMAccessWrite ? kULMAccessWriteExclusive : mode;
        break;
    case kULMAccessReadShared:
        if (mode != kULMAccessReadShared) return kULMErrAccess;
        break;
    case kULMAccessWriteShared:
        if (mode != kULMAccessReadShared && mode != kULMAccessWriteShared && mode != kULMAccessWrite)
            return kULMErrAccess;
        break;
    default:
        return kULMErrAccess;
    }
    ++m_refCount;
    return kULMOK;
}

ULMStatus ULMAccessInternal::ReleaseAccess() {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    ULM_ASSERT(m_refCount > 0);
    if (--m_refCount == 0) m_control = kULMAccessNoControl;
    return kULMOK;
}

ULMStatus ULMAccessInternal::ShareExclusiveWrite() {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    if (m_control != kULMAccessWriteExclusive || m_refCount != 1) return kULMErrAccess;
    m_control = kULMAccessWriteShared;
    return kULMOK;
}

ULMAccessType ULMAccessInternal::GetAccessMode() const {
    CriticalSectionHandler lock(gULMControl.m_globalCriticalSection);
    return m_control;
}

}  // namespace ulm3
