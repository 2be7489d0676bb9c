// Mipmap volumes made through the public creators over the simulated
// boards: the wrapper behind a volume, views that fit a box of voxels, and
// the board passes a call queued.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "resample/mipmap_volume.h"
#include "ulm3/context.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {

class MipmapTest : public VolumePassTest {
protected:
    // The wrapper the public creator made; a test failure when it made none.
    static ULMMipmapVolume* Mipmap(ULMVolume* inVolume) {
        EXPECT_TRUE(IsObjectType(inVolume, kObjectTypeULMMipmapVolume));
        return IsObjectType(inVolume, kObjectTypeULMMipmapVolume) ? static_cast<ULMMipmapVolume*>(inVolume)
                                                                 : nullptr;
    }
    // The plain volume of a level.
    static ULMVolumeInternal* Plain(ULMVolume* inLevel) {
        EXPECT_TRUE(IsObjectType(inLevel, kObjectTypeULMVolumeInternal));
        return IsObjectType(inLevel, kObjectTypeULMVolumeInternal) ? static_cast<ULMVolumeInternal*>(inLevel)
                                                                   : nullptr;
    }
    // Board passes and renders queued since the log was last cleared.
    static size_t Passes() { return Renders(); }

};

// An orthographic camera looking down -Z that maps inWidth x inHeight
// voxels (from voxel centre 0) onto the whole viewport of inPixelsX x
// inPixelsY pixels, edge to edge, with the depth of inDepth voxels.
inline ULMCamera FittingCamera(double inWidth, double inHeight, double inDepth, int inPixelsX, int inPixelsY) {
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-0.5, inWidth - 0.5, -0.5, inHeight - 0.5, -inDepth - 1, 1));
    camera.SetViewport(0, 0, inPixelsX, inPixelsY);
    return camera;
}

inline const ULMFieldDescriptor kMipmapRGBA[4] = {
    {0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction},
    {24, 8, kULMUnsignedFraction}};

}  // namespace ulm3::testing
