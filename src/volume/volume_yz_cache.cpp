// The cache of YZ slices of a volume's board buffer. No slice is cached
// yet, so the buffer always holds the newest voxels and there is nothing to
// write back.
#include "volume/volume_internal.h"

namespace ulm3 {

ULMStatus ULMVolumeInternal::UpdateVolumeFromCache() { return kULMOK; }

}  // namespace ulm3
