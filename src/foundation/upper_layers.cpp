// The registrations of the layers above the foundation.
#include "foundation/upper_layers.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

namespace {

// Answers as a platform without boards would.
class NoBoards final : public ULMBoardServices {
public:
    ULMStatus OpenBoard(int, ULMBoardFacts&) override { return kULMErrNoHardware; }
    ULMStatus CloseBoard(int) override { return kULMErrArgument; }
    ULMBoardMemory GetMemory(int) override { return {}; }
    const char* GetCompiledDriverVersion() override { return "None"; }
    const char* GetConnectedDriverVersion(int) override { return nullptr; }
    ULMStatus Wait(const ULMSyncEvent&, long) override { return kULMErrArgument; }
    ULMStatus WaitForAll(int, const ULMSyncEvent*, long) override { return kULMErrArgument; }
    ULMStatus WaitForAny(int, const ULMSyncEvent*, long) override { return kULMErrArgument; }
    ULMStatus Abort(const ULMSyncEvent&) override { return kULMErrArgument; }
};

constinit NoBoards gNoBoards;
// Both written only while the library loads, before any thread of the
// application exists; read freely afterwards.
constinit ULMBoardServices* gBoardServices = nullptr;

constexpr int kMaxCloseSteps = 8;
constinit ULMCloseStep gCloseSteps[kMaxCloseSteps] = {};
constinit int gCloseStepCount = 0;

}  // namespace

ULMBoardServices& ULMGetBoardServices() {
    return gBoardServices != nullptr ? *gBoardServices : gNoBoards;
}

void ULMRegisterBoardServices(ULMBoardServices& services) { gBoardServices = &services; }

void ULMRegisterCloseStep(ULMCloseStep step) {
    ULM_ASSERT(step != nullptr && gCloseStepCount < kMaxCloseSteps);
    gCloseSteps[gCloseStepCount++] = step;
}

void ULMRunCloseSteps() {
    for (int i = 0; i < gCloseStepCount; ++i) gCloseSteps[i]();
}

}  // namespace ulm3
