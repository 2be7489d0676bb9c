// Deletion of a volume's perspective frame driver.
#include "perspective/perspective_interface.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

// Volumes make no perspective driver yet, so the only pointer that can
// arrive here is null.
void DeletePerspectiveInterface(PerspInterf* inInterface) { ULM_ASSERT(inInterface == nullptr); }

}  // namespace ulm3
