// Deletion of a volume's perspective frame driver, registered with the
// volume while the library loads.
#include "perspective/perspective_interface.h"

#include "foundation/diagnostics.h"
#include "volume/volume_upper_layers.h"

namespace ulm3 {

// Volumes make no perspective driver yet, so the only pointer that can
// arrive here is null.
void DeletePerspectiveInterface(PerspInterf* inInterface) { ULM_ASSERT(inInterface == nullptr); }

namespace {

[[maybe_unused]] const bool gRegistered = (ULMRegisterPerspectiveDriverDeleter(DeletePerspectiveInterface), true);

}  // namespace

}  // namespace ulm3
