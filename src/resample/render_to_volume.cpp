// Renders a volume, as a context's camera sees it, into another volume on
// the same board: one render when the destination's Z follows one source
// axis one to one, else two through a temporary whose X is the destination's
// Z, so that each render's slices move along one axis only.
#include <cmath>

#include "context/render_context.h"
#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "render/light_map_events.h"
#include "render/volume_render.h"
#include "render/volume_render_state.h"
#include "resample/render_to_volume.h"
#include "ulm3/classifier.h"
#include "ulm3/context.h"
#include "volume/buffer_lock_pair.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr double kClean = 1e-6;
constexpr int kSourceAxes[3] = {0, 1, 2};
// The source axes a temporary keeps beside the destination's Z, by dominant axis.
constexpr int kKept[3][2] = {{1, 2}, {0, 2}, {1, 0}};

// Locks a volume without a board buffer for the length of the call. One
// that has a buffer keeps it as it is: locking it would reload the buffer
// from host memory and unlocking would free it, and with it whatever a pass
// or a render into the volume left there.
class LockAndUnlockVolume {
public:
    LockAndUnlockVolume() = default;
    ~LockAndUnlockVolume() { Assign(nullptr, kULMAnyBoard); }
    LockAndUnlockVolume(const LockAndUnlockVolume&) = delete;
    LockAndUnlockVolume& operator=(const LockAndUnlockVolume&) = delete;
    ULMStatus Assign(ULMVolumeInternal* inVolume, ULMLocation inLocation) {
        if (m_mustUnlock) m_volume->UnlockVolume(0);
        m_volume = inVolume;
        m_mustUnlock = false;
        if (inVolume == nullptr || inVolume->GetBufferID() != kULMNoBuffer) return kULMOK;
        const ULMStatus status = inVolume->LockVolume(inLocation);
        m_mustUnlock = status == kULMOK;
        return status;
    }

private:
    ULMVolumeInternal* m_volume = nullptr;
    bool m_mustUnlock = false;
};

// A read-shared access for the length of the call.
class SharedAccess {
public:
    explicit SharedAccess(ULMVolumeInternal* inVolume) : m_volume(inVolume) {
        m_status = inVolume->AddAccess(kULMAccessReadShared);
    }
    ~SharedAccess() {
        if (m_status == kULMOK) m_volume->ReleaseAccess();
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    ULMStatus Status() const { return m_status; }

private:
    ULMVolumeInternal* m_volume;
    ULMStatus m_status;
};

// The volume prepared, with its render state's lock held, from before the
// ranges are read to after its render is queued. The render-to-volume
// target lives only under that lock: another thread's render of the same
// volume must not find it.
class PreparedRender {
public:
    // New light maps go to outNotices: their listeners may render this
    // volume again, so they hear of them once the lock is let go.
    PreparedRender(ULMVolumeInternal& ioVolume, ULMLightMapNotices& outNotices)
        : m_volume(ioVolume), m_state(ULMRenderStateOf(ioVolume)), m_lock(m_state.m_lock), m_notices(outNotices) {
        m_status = ioVolume.BoardCopy().Prepare();
        m_prepared = m_status == kULMOK;
        if (m_prepared && ioVolume.GetSource() != nullptr) m_status = ioVolume.BoardCopy().WaitForLoad();
    }
    ~PreparedRender() {
        if (m_prepared) m_volume.BoardCopy().Finish();
        m_notices.TakeFrom(m_state.m_lightMapNotices);
    }
    PreparedRender(const PreparedRender&) = delete;
    PreparedRender& operator=(const PreparedRender&) = delete;
    ULMStatus Status() const { return m_status; }

    // inAxes: the source axis each of this volume's axes holds.
    ULMSyncEvent RenderInto(const ULMContext* inClone, ULMVolume* inTarget, ULMVolume::RenderToVolumeMode inMode,
                            const int (&inAxes)[3] = kSourceAxes) {
        ULMSampleSpace& space = m_state.m_sampleSpace;
        space.SetRenderToVolume(inTarget);
        space.SetRenderToVolumeMode(inMode);
        space.SetRenderToVolumeAxes(inAxes[0], inAxes[1], inAxes[2]);
        ULMSyncEvent event = ULMRenderPreparedVolume(m_volume, inClone, nullptr, nullptr, nullptr, nullptr);
        space.SetRenderToVolume(nullptr);
        space.SetRenderToVolumeMode(ULMVolume::kRenderToVolumeNone);
        space.SetRenderToVolumeAxes(0, 1, 2);
        return event;
    }

private:
    ULMVolumeInternal& m_volume;
    ULMVolumeRenderState& m_state;
    ULMScopedLock m_lock;
    ULMLightMapNotices& m_notices;
    ULMStatus m_status;
    bool m_prepared = false;
};

// What the render engine cannot sample into a volume: a perspective, a
// depth test that can reject, a cut plane, a crop.
ULMStatus CheckContext(const ULMContext* inContext, const ULMVolume* inOut, ULMVolume::RenderToVolumeMode inMode) {
    if (inContext == nullptr || inOut == nullptr) return kULMErrArgument;
    if (inMode < ULMVolume::kRenderToVolumeNone || inMode > ULMVolume::kOutputGradientAndMagnitude)
        return kULMErrArgument;
    if (IsPerspectiveMatrix(inContext->GetCamera().GetProjectionMatrix()) || !IsDepthTestPass(inContext) ||
        inContext->GetCutPlaneCount() != 0 || inContext->GetCrop().GetFlags() != 0)
        return kULMErrArgument;
    return kULMOK;
}

// The context's trim box, which must hold all the source samples.
ULMVolumeRange TrimRange(const ULMContext* inContext) {
    double box[6];
    inContext->GetTrimPlanes(box[0], box[1], box[2], box[3], box[4], box[5]);
    ULMVolumeRange range;
    for (int a = 0; a < 3; ++a) {
        range.m_origin[a] = static_cast<int32_t>(box[2 * a]);
        range.m_size[a] = static_cast<int32_t>(box[2 * a + 1] - box[2 * a]);
    }
    return range;
}

// Source voxel to destination voxel, with noise and near-units of the
// linear part made exact.
ULMMatrix SourceToDestination(const ULMContext* inContext, const ULMVolumeRange& inDest, const ULMMatrix& inCorr) {
    ULMMatrix d;
    const double hx = (inDest.XSize() - 1) / 2.0, hy = (inDest.YSize() - 1) / 2.0, hz = (inDest.ZSize() - 1) / 2.0;
    d.Assign(hx, 0, 0, hx + inDest.XOrigin(), 0, hy, 0, hy + inDest.YOrigin(), 0, 0, hz, hz + inDest.ZOrigin(), 0, 0,
             0, 1);
    const ULMCamera& camera = inContext->GetCamera();
    ULMMatrix m = d * camera.GetProjectionMatrix() * camera.GetViewMatrix() * camera.GetModelMatrix() * inCorr;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double& v = m[r][c];
            if (std::fabs(v) < kClean) v = 0;
            else if (std::fabs(std::fabs(v) - 1) < kClean) v = v > 0 ? 1 : -1;
        }
    return m;
}

bool AxisAligned(const ULMMatrix& inM) {
    for (int r = 0; r < 3; ++r)
        if ((inM[r][0] != 0) + (inM[r][1] != 0) + (inM[r][2] != 0) > 1) return false;
    return true;
}

// The source axis that feeds the destination's Z most.
int DominantAxis(const ULMMatrix& inM) {
    const double a[3] = {std::fabs(inM[2][0]), std::fabs(inM[2][1]), std::fabs(inM[2][2])};
    if (a[0] > a[1] && a[0] > a[2]) return 0;
    if (a[1] > a[0] && a[1] > a[2]) return 1;
    return 2;
}

// The first of two renders: destination Z into T's X; the other two axes
// keep source axes, one to one.
ULMMatrix FirstPass(const ULMMatrix& inM, int inDominant) {
    ULMMatrix w;
    w.Assign(inM[2][0], inM[2][1], inM[2][2], inM[2][3], 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1);
    w[1][kKept[inDominant][0]] = 1;
    w[2][kKept[inDominant][1]] = 1;
    return w;
}

// T's grid is the destination's Z and the kept source axes, each grown by a
// slice at an odd origin: a board buffer starts on even coordinates, and an
// odd sub-volume ending at the last slice starts on an odd one.
ULMVolumeRange TemporaryRange(const ULMVolumeRange& inDest, const ULMVolumeRange& inSource, int inDominant) {
    const int a = kKept[inDominant][0], b = kKept[inDominant][1];
    ULMVolumeRange range(inDest.ZSize(), inSource.m_size[a], inSource.m_size[b], inDest.ZOrigin(),
                         inSource.m_origin[a], inSource.m_origin[b]);
    for (int axis = 0; axis < 3; ++axis) {
        const int odd = range.m_origin[axis] & 1;
        range.m_origin[axis] -= odd;
        range.m_size[axis] += odd;
    }
    return range;
}

void UseClassifier(ULMContext& ioClone, const ULMClassifier& inClassifier, const double inReflection[4]) {
    ioClone.SetClassifier(inClassifier);
    ioClone.SetReflectionProperties(inReflection[0], inReflection[1], inReflection[2], inReflection[3]);
}

// The ranges, the plan and the renders, on a prepared source.
ULMSyncEvent RenderPlanned(ULMVolumeInternal& ioSource, const ULMContext* inContext, ULMVolumeInternal* ioOut,
                           ULMVolume::RenderToVolumeMode inMode, PreparedRender& ioPrepared,
                           ULMLightMapNotices& outNotices) {
    const ULMVolumeRange source = ioSource.BoardCopy().CurrentSubVolume();
    const ULMVolumeRange whole = ioOut->GetRange();
    ULMVolumeRange dest = whole;
    if (!ioOut->GetActiveSubVolume().IsEmpty()) dest = ULMVolumeRange::Intersect(ioOut->GetActiveSubVolume(), whole);
    if (source.IsEmpty() || dest.IsEmpty()) return ULMSyncEvent(kULMErrVolume);
    // The chip writes slices in pairs; an odd count must end at the end.
    if (dest.ZSize() % 2 != 0 && dest.ZOrigin() + dest.ZSize() < whole.ZOrigin() + whole.ZSize())
        return ULMSyncEvent(kULMErrArgument);
    if (!TrimRange(inContext).Contains(source)) return ULMSyncEvent(kULMErrArgument);
    ioOut->Update(static_cast<const void*>(nullptr), ULMVolumeRange());
    const ULMMatrix m = SourceToDestination(inContext, dest, ioSource.GetCorrectionMatrix());
    if (!AxisAligned(m) && !gULMControl.m_renderToVolumeEnable) return ULMSyncEvent(kULMErrUnimplemented);
    const int dominant = DominantAxis(m);
    const bool onePass = std::fabs(m[2][dominant]) == 1 &&
                         std::fabs(m[2][0]) + std::fabs(m[2][1]) + std::fabs(m[2][2]) == 1;

    ReleasablePointer<ULMContext> clone(ULMCopyContextForRender(inContext));
    if (clone.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    ULMCamera& camera = clone->GetCamera();
    camera.SetViewMatrix(ULMMatrix::Identity());
    camera.SetProjectionMatrix(ULMMatrix::Identity());
    clone->SetImageOutputBuffer(ULMContext::kImageBufferNone);
    clone->SetBlendMode(kULMBlendReplace);
    clone->SetLastBlendMode(kULMBlendNone);
    clone->SetRayTermination(0.0, false);
    if (onePass) {
        camera.SetModelMatrix(m);
        return ioPrepared.RenderInto(clone.GetPointer(), ioOut, inMode);
    }

    // Two renders: one classifies (or, interpolating first, only samples),
    // the other only samples (or classifies).
    const ULMClassifier own = inContext->GetClassifier();
    ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    for (int f = 0; f < 4; ++f)
        direct.SetInterpolationMode(static_cast<ULMFieldNumber>(f),
                                    own.GetInterpolationMode(static_cast<ULMFieldNumber>(f)));
    double reflection[4];
    inContext->GetReflectionProperties(reflection[0], reflection[1], reflection[2], reflection[3]);
    constexpr double kPassThrough[4] = {0, 0, 1, 0};
    const bool interpolateFirst = own.GetInterpolationOrder() == ULMClassifier::kInterpolateFirst;
    const ULMVolumeInternal& format = interpolateFirst ? static_cast<const ULMVolumeInternal&>(ioSource) : *ioOut;
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = format.GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    ReleasablePointer<ULMVolumeInternal> temporary(ULMVolumeInternal::CreateSimpleVolume(
        format.GetVoxelSize(), TemporaryRange(dest, source, dominant), 4, fields, nullptr));
    if (temporary.GetPointer() == nullptr) return ULMSyncEvent(kULMErrAlloc);
    LockAndUnlockVolume temporaryLock;
    if (const ULMStatus s = temporaryLock.Assign(temporary.GetPointer(), ioOut->GetBufferLocation()); s != kULMOK)
        return ULMSyncEvent(s);
    const ULMMatrix first = FirstPass(m, dominant);
    if (interpolateFirst) UseClassifier(*clone, direct, kPassThrough);
    camera.SetModelMatrix(first);
    const ULMSyncEvent firstEvent = ioPrepared.RenderInto(clone.GetPointer(), temporary.GetPointer(),
                                                          ULMVolume::kRenderToVolumeNone);
    if (ULMFailed(firstEvent.Status())) return firstEvent;

    if (interpolateFirst) UseClassifier(*clone, own, reflection);
    else UseClassifier(*clone, direct, kPassThrough);
    camera.SetModelMatrix(m * first.Inverse());
    SharedAccess access(temporary.GetPointer());
    if (access.Status() != kULMOK) return ULMSyncEvent(access.Status());
    PreparedRender second(*temporary, outNotices);
    if (second.Status() != kULMOK) return ULMSyncEvent(second.Status());
    // T's gradient is in T's axes: the dominant one and the two kept.
    const int axes[3] = {dominant, kKept[dominant][0], kKept[dominant][1]};
    return ULMFollowedBy(firstEvent, second.RenderInto(clone.GetPointer(), ioOut, inMode, axes));
}

}  // namespace

ULMSyncEvent ULMStartRenderIntoVolume(ULMVolumeInternal& ioSource, const ULMContext* inContext,
                                      ULMVolume* ioOutVolume, ULMVolume::RenderToVolumeMode inMode) {
    const ULMRenderContext renderContext(inContext);
    if (renderContext.Status() != kULMOK) return ULMSyncEvent(renderContext.Status());
    inContext = renderContext.Get();
    if (const ULMStatus refused = CheckContext(inContext, ioOutVolume, inMode); refused != kULMOK)
        return ULMSyncEvent(refused);
    // A mipmap output is written through its level 0, which it is told of
    // first; the engine writes only plain volumes.
    if (IsObjectType(ioOutVolume, kObjectTypeULMMipmapVolume) && ioOutVolume->GetMipmapLevel(0) != nullptr) {
        ioOutVolume->Update(static_cast<const void*>(nullptr), ULMVolumeRange());
        ioOutVolume = ioOutVolume->GetMipmapLevel(0);
    }
    if (!IsObjectType(ioOutVolume, kObjectTypeULMVolumeInternal)) return ULMSyncEvent(kULMErrVolume);
    auto* out = static_cast<ULMVolumeInternal*>(ioOutVolume);
    ULMLightMapNotices notices;
    ULMSyncEvent event(kULMOK);
    {
        // Both buffers are found, made and kept from here until the renders
        // are queued: another thread's lock, unlock or render to volume
        // between the same two volumes, either way round, waits.
        const ULMBufferLockPair bufferHold(ioSource, out);
        event = [&] {
            // An output the application holds mapped, or otherwise keeps
            // writers out of, is refused as an update of it would be.
            if (const ULMStatus writable = out->ProbeWriteAccess(); writable != kULMOK)
                return ULMSyncEvent(writable);
            ULMLocation outLocation = out->GetBufferLocation();
            if (ioSource.GetBufferLocation() != kULMNoBufferAttached && outLocation != kULMNoBufferAttached &&
                ioSource.GetBufferLocation() != outLocation)
                return ULMSyncEvent(kULMErrVolume);
            LockAndUnlockVolume sourceLock;
            ULMStatus status =
                sourceLock.Assign(&ioSource, outLocation == kULMNoBufferAttached ? kULMAnyBoard : outLocation);
            if (status != kULMOK) return ULMSyncEvent(status);
            const ULMLocation location = ioSource.GetBufferLocation();
            if (outLocation == kULMNoBufferAttached) {
                if ((status = out->CreateBuffer(location)) != kULMOK) return ULMSyncEvent(status);
                outLocation = out->GetBufferLocation();
            }
            if (location != outLocation) return ULMSyncEvent(kULMErrVolume);
            SharedAccess access(&ioSource);
            if (access.Status() != kULMOK) return ULMSyncEvent(access.Status());
            PreparedRender source(ioSource, notices);
            return source.Status() != kULMOK ? ULMSyncEvent(source.Status())
                                             : RenderPlanned(ioSource, inContext, out, inMode, source, notices);
        }();
    }
    notices.Deliver();
    return event;
}

}  // namespace ulm3
