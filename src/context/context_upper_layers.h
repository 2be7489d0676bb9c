// What the contexts' objects ask of the layers above them. The context
// folder includes nothing above itself, so the render engine registers here
// while the library loads.
#pragma once

#include <cstdint>

namespace ulm3 {

// The render cache keeps board copies of lookup tables keyed by the table;
// a table going tells it (by its object id), so that those copies go too
// once no queued render reads them. Registered while the library loads.
using ULMTableGoneHandler = void (*)(uint64_t inTableID);
void ULMRegisterTableGoneHandler(ULMTableGoneHandler handler);
void ULMTellTableGone(uint64_t inTableID);

}  // namespace ulm3
