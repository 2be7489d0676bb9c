// Placeholder bodies so that the tree links; the full implementation replaces them.
#include "foundation/locks.h"

#include <mutex>

namespace ulm3 {

struct CriticalSection { std::mutex m; };

CriticalSection* THRCreateCriticalSection() { return new CriticalSection; }
void THRDestroyCriticalSection(CriticalSection* cs) { delete cs; }
int THREnterCriticalSection(CriticalSection* cs) { cs->m.lock(); return 0; }
int THRLeaveCriticalSection(CriticalSection* cs) { cs->m.unlock(); return 0; }
CriticalSectionHandler::CriticalSectionHandler(CriticalSection* cs) : m_criticalSection(cs) {
    if (cs) THREnterCriticalSection(cs);
}
CriticalSectionHandler::~CriticalSectionHandler() {
    if (m_criticalSection) THRLeaveCriticalSection(m_criticalSection);
}

}  // namespace ulm3
