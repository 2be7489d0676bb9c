#include "foundation/control.h"

#include "foundation/locks.h"

namespace ulm3 {

ULMControlInternal gULMControl;

ULMControlInternal::ULMControlInternal() {
    m_globalCriticalSection = THRCreateCriticalSection();
    // The ends of the ramp are exact: the last entry is 1.0, not 6 x (1/7).
    const int n = m_KWBGradientLength;
    for (int i = 0; i < n - 1; ++i) m_defaultGradientTable[i] = i * (1.0 / (n - 1));
    m_defaultGradientTable[n - 1] = 1.0;
}

ULMControlInternal::~ULMControlInternal() {
    if (m_globalCriticalSection) {
        THRDestroyCriticalSection(m_globalCriticalSection);
        m_globalCriticalSection = nullptr;
    }
}

}  // namespace ulm3
