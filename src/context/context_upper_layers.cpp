// The registrations of the layers above the contexts.
#include "context/context_upper_layers.h"

namespace ulm3 {

namespace {

// Written only while the library loads, before any thread of the
// application exists; read freely afterwards.
constinit ULMTableGoneHandler gTableGone = nullptr;

}  // namespace

void ULMRegisterTableGoneHandler(ULMTableGoneHandler handler) { gTableGone = handler; }

void ULMTellTableGone(uint64_t inTableID) {
    if (gTableGone != nullptr) gTableGone(inTableID);
}

}  // namespace ulm3
