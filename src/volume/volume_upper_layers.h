// What a volume asks of the layers above it. The volume folder includes
// nothing above itself, so the render engine, the resample pass and the
// subsystems that wrap new volumes register themselves here while the
// library loads; a volume reaches them only through this.
#pragma once

#include <memory>

#include "foundation/locks.h"
#include "ulm3/classifier.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"
#include "ulm3/volume.h"
#include "ulm3/volume_source.h"

namespace ulm3 {

class ULMVolumeInternal;

// What the render engine keeps per volume between renders. The volume owns
// it from its creation to its end and never looks inside.
class ULMVolumeEngineState {
public:
    virtual ~ULMVolumeEngineState() = default;
};

// The render engine: a volume's render entries and its space-leaping state.
class ULMVolumeRenderEngine {
public:
    // The state a new volume owns, so that its first render programs every
    // register.
    virtual std::unique_ptr<ULMVolumeEngineState> MakeState() = 0;
    virtual ULMSyncEvent StartRender(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                     ULMImageBuffer* ioColor0, ULMDepthBuffer* ioDepth0, ULMImageBuffer* ioColor1,
                                     ULMDepthBuffer* ioDepth1) = 0;
    virtual ULMSyncEvent StartRenderMPR(ULMVolumeInternal& ioVolume, const ULMContext* inContext,
                                        double inNegativeDistance, int inQuality, ULMVolume::MPRMode inMode,
                                        ULMImageBuffer* ioImage) = 0;
    // No bricks and no parameters of the volume's own; and the bricks let go.
    virtual void InitializeSpaceLeaping(ULMVolumeInternal& ioVolume) = 0;
    virtual void ClearSpaceLeaping(ULMVolumeInternal& ioVolume) = 0;
    virtual ULMStatus SetSpaceLeapingParameters(ULMVolumeInternal& ioVolume, ULMVolume::SpaceLeapingMode inMode,
                                                const double (&inThresholds)[4]) = 0;
    virtual void GetSpaceLeapingParameters(const ULMVolumeInternal& inVolume, ULMVolume::SpaceLeapingMode& outMode,
                                           double (&outThresholds)[4]) = 0;

protected:
    ~ULMVolumeRenderEngine() = default;
};

// The registered engine; until one registers, a stand-in whose state is
// empty, whose renders are kULMErrUnimplemented and which leaps no space.
ULMVolumeRenderEngine& ULMGetVolumeRenderEngine();
// The last registration holds. Run while the library loads, before any
// thread can ask.
void ULMRegisterVolumeRenderEngine(ULMVolumeRenderEngine& engine);

// The board passes over volumes: the one pass behind
// ULMVolumeInternal::DoStartResampleBuffer, with the same arguments after
// the source volume (a null classifier copies the fields as they stand: the
// YZ slab's fills and write-backs, which so need no classifier of the
// contexts' folder; inSideways is one of ULMVolumeInternal::sideways), and
// the roads behind the volume's public resample and render-to-volume slots.
// Until the resample folder registers, each is kULMErrUnimplemented.
class ULMVolumePasses {
public:
    virtual ULMSyncEvent Pass(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                              const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                              const ULMClassifier* inClassifier, int inSideways, long long originX,
                              long long spacingX) = 0;
    virtual ULMSyncEvent StartResample(ULMVolumeInternal& ioSource, ULMVolume* pDestination,
                                       const ULMVolumeRange& inSourceRange, const ULMVolumeRange& inDestinationRange,
                                       const ULMClassifier& inClassifier) = 0;
    virtual ULMSyncEvent StartRenderToVolume(ULMVolumeInternal& ioSource, const ULMContext* inContext,
                                             ULMVolume* ioOutVolume, ULMVolume::RenderToVolumeMode inMode) = 0;

protected:
    ~ULMVolumePasses() = default;
};
ULMVolumePasses& ULMGetVolumePasses();
// The last registration holds. Run while the library loads, before any
// thread can ask.
void ULMRegisterVolumePasses(ULMVolumePasses& passes);

// The wrappers of a new volume. Each makes its volume over inVolume, taking
// its own reference on inVolume; the result holds one reference for the
// caller, or is null when none is made. The multiboard volume has render
// mode inMode (1: the whole volume on every board; 2: bricks of inFullRange
// over the boards).
using ULMMipmapVolumeFactory = ULMVolume* (*)(ULMVolume* inVolume, ULMVolumeSource* inSource);
using ULMMultiboardVolumeFactory = ULMVolume* (*)(int inMode, ULMVolume* inVolume, ULMVolumeSource* inSource,
                                                  int inNumberOfSubVolumes, const ULMVolumeRange& inFullRange);
// Until one registers, a factory that makes none. Registrations may change
// while volumes are made (tests put fakes in place); null restores that.
ULMMipmapVolumeFactory ULMGetMipmapVolumeFactory();
ULMMultiboardVolumeFactory ULMGetMultiboardVolumeFactory();
void ULMRegisterMipmapVolumeFactory(ULMMipmapVolumeFactory factory);
void ULMRegisterMultiboardVolumeFactory(ULMMultiboardVolumeFactory factory);

// What a wrapper of volumes (a mipmap, banded or bricked volume) is made of,
// for the lock order: its own lock and the volumes it drives under it, all
// fixed for its life. A wrapper's work takes its lock before theirs.
struct ULMWrapperParts {
    ULMRecursiveMutex* lock = nullptr;
    const ULMVolume* parts[9] = {};
    int count = 0;
};
using ULMWrapperPartsOf = void (*)(const ULMVolume& inWrapper, ULMWrapperParts& outParts);
// One registration per object type of a wrapper, while the library loads;
// a volume of no registered type other than a plain one has no locks.
void ULMRegisterWrapperParts(ULMObjectType inType, ULMWrapperPartsOf inPartsOf);
ULMWrapperPartsOf ULMGetWrapperParts(const ULMVolume& inVolume);

}  // namespace ulm3
