// What the render road needs to know of an MPR render while it builds the
// programme: which cut-plane slot holds the slab and how its tables treat
// alpha.
#pragma once

#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMAllRenderRegisters;
class ULMSampleSpace;
class ULMVolumeInternal;

// A multi-planar reconstruction of the volume at an eye-space depth: the
// plane becomes a thin slab cut from a copy of the context, rendered into
// ioImage as classified (kMPRRGBA) or as the mean alpha of its samples,
// grey (kMPRAlpha), each pixel's samples summed and counted on the board.
ULMSyncEvent ULMStartMPRRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext, double inNegativeDistance,
                               int inQuality, ULMVolume::MPRMode inMode, ULMImageBuffer* ioImage);

struct ULMMPRSlab {
    // The cut-plane slot of the plane the MPR adds after the context's own.
    int slot = 0;
    // Sum and count (kMPRAlpha): every ray keeps the Z supersampling's
    // number of samples around the plane, whose alphas are scaled by
    // 1 / that number so that their sum fits the chip's 12 bits. Otherwise
    // (kMPRRGBA) a ray keeps the one sample nearest the plane, its colour
    // as classified.
    bool sumAndCount = false;
    // The Z supersampling asked for, at least 1.
    int quality = 1;
    // Set by the render: the Z supersampling it used.
    int zSupersample = 1;
};

// Sets the slab's bounds so that each ray keeps exactly the samples the
// slab asks for. The chip computes a ray's plane values as an arithmetic
// progression with the plane's raw step per slice, so a bound range of n
// steps less one raw unit holds n of them whatever the rounding of the
// plane's terms.
void ULMFitMPRSlab(ULMMPRSlab& ioSlab, const ULMSampleSpace& inSpace, ULMAllRenderRegisters& ioRegisters);

}  // namespace ulm3
