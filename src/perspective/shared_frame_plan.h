// A perspective frame of a volume split over boards, planned as the whole
// frame would be. A band of the picture or a brick of the volume rendered
// with its own plan gets its own mini-frustums, sampling rates and slices,
// and so differs from the one-board picture everywhere, not only at its
// edges; under a shared plan each renders its part of the same frame.
#pragma once

#include <optional>

#include "ulm3/ranges.h"

namespace ulm3 {

// The box of a whole volume in voxel coordinates: the voxels' cells, from
// half a voxel below the first centre to half a voxel above the last.
struct ULMFrameVolumeBox {
    double min[3] = {};
    double max[3] = {};
};

// While one lives, perspective frames rendered on this thread plan over
// the whole picture (a band then writes only its own rows of it) and over
// the whole volume's box (a brick then samples only its own voxels of it).
// Either may be absent. Scopes nest; the innermost holds.
class ULMSharedFramePlan {
public:
    ULMSharedFramePlan(const std::optional<ULMImageRange>& inPicture, const std::optional<ULMFrameVolumeBox>& inBox);
    ~ULMSharedFramePlan();
    ULMSharedFramePlan(const ULMSharedFramePlan&) = delete;
    ULMSharedFramePlan& operator=(const ULMSharedFramePlan&) = delete;

    // The plan in force on this thread, or null.
    static const ULMSharedFramePlan* Active();

    const std::optional<ULMImageRange>& Picture() const { return m_picture; }
    const std::optional<ULMFrameVolumeBox>& Box() const { return m_box; }

private:
    std::optional<ULMImageRange> m_picture;
    std::optional<ULMFrameVolumeBox> m_box;
    const ULMSharedFramePlan* m_outer;
};

}  // namespace ulm3
