// A volume's perspective frame driver, as the volume sees it: a pointer it
// holds and hands back for deletion.
#pragma once

namespace ulm3 {

class PerspInterf;

// Waits for the driver's pending frame and frees it; null is allowed.
void DeletePerspectiveInterface(PerspInterf* inInterface);

}  // namespace ulm3
