// The library's open and close and the count of its holders.
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/locks.h"
#include "foundation/sync_event.h"
#include "foundation/upper_layers.h"
#include "ulm3/library.h"

namespace ulm3 {

namespace {

constexpr int kSupportedMajor = 3;
constexpr int kSupportedMinor = 3;

// Per-board settings a freshly opened board starts with.
constexpr int kDefaultRenderHangMaxZSlices = 512;
constexpr int kDefaultMinZSupersample = 1;
constexpr int kDefaultMaxZSupersample = 4;

}  // namespace

ULMStatus ULMOpenInternal(int major, int minor) { return gULMControl.Open(major, minor); }

void ULMClose() {
    if (!gULMControl.m_initialized) return;
    // The hold goes first: the close must still see the library as open.
    gULMControl.DecrementObjectCount();
    gULMControl.m_initialized = false;
}

ULMStatus ULMControlInternal::Open(int major, int minor) {
    if (m_initialized) return kULMOK;
    if (major != kSupportedMajor || minor > kSupportedMinor) return kULMErrVersion;

    const int previousMajor = m_compiletimeULMMajor;
    const int previousMinor = m_compiletimeULMMinor;
    ULMErrorHandler* const previousHandler = m_errorHandler;
    m_compiletimeULMMajor = major;
    m_compiletimeULMMinor = minor;
    m_errorHandler = &m_baseErrorHandler;

    if (m_KWBBoardCount == 0) {
        ULMBoardServices& boards = ULMGetBoardServices();
        ULMStatus status = kULMErrNoHardware;
        unsigned opened = 0;
        for (int i = 0; i < kMaxBoards; ++i) {
            ULMBoardFacts facts;
            status = boards.OpenBoard(i, facts);
            if (status != kULMOK) break;
            ULMBoardRecord& record = m_board[i];
            record.m_memorySize = facts.memorySize;
            record.m_major = facts.major;
            // The board's own revision, not the driver's minor number.
            record.m_minor = facts.revision != 0 ? facts.revision : 1;
            record.m_renderHangMaxZSlices = kDefaultRenderHangMaxZSlices;
            record.m_minZSupersample = kDefaultMinZSupersample;
            record.m_maxZSupersample = kDefaultMaxZSupersample;
            ++opened;
        }
        if (opened == 0) {
            // Still closed: the application keeps the handler it had (none
            // before the first open), since a closed library refuses to let
            // it install another.
            m_compiletimeULMMajor = previousMajor;
            m_compiletimeULMMinor = previousMinor;
            m_errorHandler = previousHandler;
            return status;
        }
        m_KWBBoardCount = opened;
    }

    m_ForceEpsilon = false;
    ReadEnvironmentParameters();

    m_initialized = true;
    IncrementObjectCount();
    return kULMOK;
}

void ULMControlInternal::Close() {
    CleanupMultipleEventDatabase();
    ULMRunCloseSteps();
    ULMBoardServices& boards = ULMGetBoardServices();
    for (unsigned i = 0; i < m_KWBBoardCount; ++i) {
        if (m_KWBBoard[i] == nullptr) continue;
        const ULMStatus status = boards.CloseBoard(static_cast<int>(i));
        if (status != kULMOK) ULMReportFault(status, __FILE__, 1467);
    }
    m_KWBBoardCount = 0;
}

void ULMControlInternal::IncrementObjectCount() {
    CriticalSectionHandler lock(m_globalCriticalSection);
    ++m_objectCount;
}

void ULMControlInternal::DecrementObjectCount() {
    bool last = false;
    {
        CriticalSectionHandler lock(m_globalCriticalSection);
        ULM_ASSERT(m_objectCount > 0);
        last = --m_objectCount == 0;
    }
    if (last) Close();
}

}  // namespace ulm3
