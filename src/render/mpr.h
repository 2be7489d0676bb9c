// What the render road needs to know of an MPR render while it builds the
// programme: which cut-plane slot holds the slab and how its tables treat
// alpha.
#pragma once

#include <cstdint>
#include <vector>

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

// The layout of an image of sums and counts: each pixel's sum of the
// samples' scaled alphas in bits 0..11, their count in bits 12..23.
extern const ULMFieldDescriptor kULMMPRSumFields[2];

// While one is alive on a thread, the kMPRAlpha renders started on it leave
// each pixel's sum and count in their image (of kULMMPRSumFields, its border
// 0) as the chip writes them, without the host step that turns them into
// grey, and return once the render is queued: a caller that renders the
// volume in parts adds the parts' sums and counts, every sample in one part,
// and writes their mean with ULMWriteMPRGrey, as one render of the whole
// would. The scope learns the Z supersampling the renders used.
class ULMMPRSumsScope {
public:
    ULMMPRSumsScope() : m_was(s_current) { s_current = this; }
    ~ULMMPRSumsScope() { s_current = m_was; }
    ULMMPRSumsScope(const ULMMPRSumsScope&) = delete;
    ULMMPRSumsScope& operator=(const ULMMPRSumsScope&) = delete;
    static ULMMPRSumsScope* Current() { return s_current; }

    int zSupersample = 1;

private:
    static inline thread_local ULMMPRSumsScope* s_current = nullptr;
    ULMMPRSumsScope* m_was;
};

// The settings an MPR renders with on ioClone, a render copy of the
// caller's context: its output in image 0, no depth buffer read or
// written, inQuality slices per voxel and the mode's blending (inSums:
// kMPRAlpha's sums and counts). What shrinks an MPR rendered large reads
// them too.
ULMStatus ULMSetUpMPRContext(ULMContext* ioClone, int inQuality, bool inSums);

// Writes the mean alpha of inSums (one word a pixel of inRange, in the
// layout of kULMMPRSumFields; alphas scaled by 1 / inSupersample) into
// ioOutput over inRange as opaque grey, its border where no sample was
// taken, and makes inRange its output limits. ioPixels is scratch memory.
ULMStatus ULMWriteMPRGrey(const uint32_t* inSums, const ULMImageRange& inRange, int inSupersample,
                          ULMImageBuffer* ioOutput, std::vector<unsigned char>& ioPixels);

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
