// What the foundation asks of the layers above it. The foundation includes
// nothing above itself, so the board layer and the layers that keep board
// memory register themselves here when the library is loaded; the library's
// open and close, the configuration query and the waits on board events
// reach them only through this.
#pragma once

#include <cstdint>

#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// What an opened board reports.
struct ULMBoardFacts {
    uint64_t memorySize = 0;  // bytes
    int major = 0;
    int revision = 0;  // the board's PCI revision, 0 when unknown
};

// Memory of one board in bytes.
struct ULMBoardMemory {
    uint64_t total = 0;
    uint64_t locked = 0;
    uint64_t unlocked = 0;
    uint64_t free = 0;
};

// The board layer. Boards are numbered 0..7; an opened board goes into the
// control record's table of boards.
class ULMBoardServices {
public:
    // Opens board `index` and fills `outFacts`; a board that cannot be
    // opened leaves its slot empty and answers why.
    virtual ULMStatus OpenBoard(int index, ULMBoardFacts& outFacts) = 0;
    // Lets the board's queued work finish, then closes it.
    virtual ULMStatus CloseBoard(int index) = 0;

    // All zeros when the board is not open or does not answer.
    virtual ULMBoardMemory GetMemory(int index) = 0;
    // The driver interface the library was built for, and the driver found
    // with board `index` (null when that board is not open).
    virtual const char* GetCompiledDriverVersion() = 0;
    virtual const char* GetConnectedDriverVersion(int index) = 0;

    // One board event, on the board it names.
    virtual ULMStatus Wait(const ULMSyncEvent& event, long milliseconds) = 0;
    // Every one of `count` board events, of any boards, within one deadline
    // for the whole list; a negative time waits without limit.
    virtual ULMStatus WaitForAll(int count, const ULMSyncEvent* events, long milliseconds) = 0;
    // Any one of `count` (at most 8) board events.
    virtual ULMStatus WaitForAny(int count, const ULMSyncEvent* events, long milliseconds) = 0;
    virtual ULMStatus Abort(const ULMSyncEvent& event) = 0;

protected:
    ~ULMBoardServices() = default;
};

// The registered board layer; until one registers, a stand-in that finds no
// board (kULMErrNoHardware) and refuses every event (kULMErrArgument).
ULMBoardServices& ULMGetBoardServices();
// The last registration holds. Run while the library loads, before any
// thread can ask.
void ULMRegisterBoardServices(ULMBoardServices& services);

// Something the library's close runs once the combined events are forgotten
// and before the boards close, such as emptying a cache that holds board
// buffers. Registered while the library loads; run in registration order.
using ULMCloseStep = void (*)();
void ULMRegisterCloseStep(ULMCloseStep step);
void ULMRunCloseSteps();

}  // namespace ulm3
