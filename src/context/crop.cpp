// The crop: the slabs a render tests samples against, and which axes each
// slab tests.
#include "context/state_checks.h"
#include "ulm3/camera.h"

namespace ulm3 {

ULMCrop::ULMCrop() : m_slabs(WholeBox()) {}

ULMStatus ULMCrop::SetFlags(unsigned inFlags) {
    if ((inFlags & ~static_cast<unsigned>(kAllFlags)) != 0) return kULMErrArgument;
    m_flags = inFlags;
    return kULMOK;
}

void ULMCrop::GetSlabs(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY, double& outMinZ,
                       double& outMaxZ) const {
    Unpack(m_slabs, outMinX, outMaxX, outMinY, outMaxY, outMinZ, outMaxZ);
}

ULMStatus ULMCrop::SetSlabs(double inMinX, double inMaxX, double inMinY, double inMaxY, double inMinZ,
                            double inMaxZ) {
    if (!AllFinite({inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ})) return kULMErrArgument;
    m_slabs = {inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ};
    return kULMOK;
}

}  // namespace ulm3
