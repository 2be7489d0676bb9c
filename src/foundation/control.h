// The process-wide control record: library state, boards, parameters.
#pragma once

#include <cstdint>

#include "ulm3/status.h"

namespace ulm3 {

struct CriticalSection;
class KWBBoard;

// Settings kept per opened board.
struct ULMBoardRecord {
    uint64_t m_memorySize = 0;  // bytes of board memory
    int m_major = 0;
    int m_minor = 0;  // the board's PCI revision, at least 1 once opened
    int m_renderHangMaxZSlices = 0;
    int m_minZSupersample = 0;
    int m_maxZSupersample = 0;
};

class ULMControlInternal {
public:
    ULMControlInternal();
    ~ULMControlInternal();
    ULMControlInternal(const ULMControlInternal&) = delete;
    ULMControlInternal& operator=(const ULMControlInternal&) = delete;

    static constexpr int kMaxBoards = 8;

    bool m_initialized = false;
    ULMErrorHandler m_baseErrorHandler;
    ULMErrorHandler* m_errorHandler = nullptr;
    bool m_ForceEpsilon = false;
    double m_epsilon = 1e-10;
    int m_compiletimeULMMajor = 0;
    int m_compiletimeULMMinor = 0;
    unsigned m_KWBBoardCount = 0;
    unsigned m_nextBoard = 0;
    int m_KWBGradientLength = 8;
    unsigned m_KWBCutPlaneCount = 4;
    ULMBoardRecord m_board[kMaxBoards];
    KWBBoard* m_KWBBoard[kMaxBoards] = {};
    CriticalSection* m_globalCriticalSection = nullptr;
    unsigned m_KWBMaxMap[3] = {4096, 4096, 4096};
    unsigned m_KWBMaxLock[3] = {4096, 4096, 4096};
    double m_defaultGradientTable[8] = {};
    int m_objectCount = 0;
    int m_shareableObjectsCreated = 0;
    int m_shareableObjectsDestroyed = 0;
    // The configuration parameters follow; they come with the parameter table.
};

extern ULMControlInternal gULMControl;

}  // namespace ulm3
