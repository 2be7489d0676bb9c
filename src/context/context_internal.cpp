// Rendering contexts: creation, cloning and the checked render state.
#include "context/context_internal.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <type_traits>

#include "context/cut_plane_internal.h"
#include "context/light_internal.h"
#include "context/lookup_table_internal.h"
#include "context/state_checks.h"
#include "foundation/control.h"
#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "ulm3/configuration.h"

namespace ulm3 {

namespace {

static_assert(ULMContextInternal::kGradientTableLength ==
              std::size(decltype(ULMControlInternal::m_defaultGradientTable){}));

bool ValidBuffer(ULMContext::DepthBufferNumber n) {
    return n == ULMContext::kDepthBuffer0 || n == ULMContext::kDepthBuffer1;
}

}  // namespace

ULMContext::~ULMContext() = default;
ULMStatus ULMContext::Reserved00() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved01() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved02() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved03() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved04() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved05() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved06() { return kULMErrUnimplemented; }
ULMStatus ULMContext::Reserved07() { return kULMErrUnimplemented; }

ULMContext* ULMContext::Create(ULMLookupTable* inTable) {
    ULMContext* context = ULMContextInternal::Make(inTable);
    if (context) context->AddRef();
    return context;
}

ULMContext* CloneContext(const ULMContext* inContext) {
    if (!IsObjectType(inContext, kObjectTypeULMContextInternal)) return nullptr;
    ULMContext* clone = ULMContextInternal::MakeClone(*static_cast<const ULMContextInternal*>(inContext));
    if (clone) clone->AddRef();
    return clone;
}

ULMContextInternal::State::State() {
    trimPlanes = WholeBox();
    std::copy(std::begin(gULMControl.m_defaultGradientTable), std::end(gULMControl.m_defaultGradientTable),
              gradientTable.begin());
    renderArea = gULMControl.m_renderArea == ULMControlInternal::kVolume ? kVolume : kViewport;
}

// A render copy needs no queue or slots of its own, and makes none: it is
// made for every render.
ULMContextInternal::ULMContextInternal(ULMContextInternal* inOrigin)
    : m_lights(0, 0), m_cutPlanes(static_cast<unsigned>(ULMConfiguration::GetMaxCutPlanes()), 0), m_origin(inOrigin) {
    if (m_origin != nullptr) {
        m_origin->AddRef();
    } else {
        m_notifyLock = THRCreateCriticalSection();
        m_queue = std::make_unique<ULMEventQueue>(kEventQueueSize);
        m_slots = std::make_unique<ULMBasePlaneSlots>(*this);
    }
    SetObjectType(this, kObjectTypeULMContextInternal);
    gULMControl.IncrementObjectCount();
}

// The lists and the classifier release their objects before the hold on
// the library goes, since the last hold closes the boards.
ULMContextInternal::~ULMContextInternal() {
    m_slots.reset();
    m_lights.ReleaseAllObjects();
    m_cutPlanes.ReleaseAllObjects();
    m_classifier = ULMClassifier();
    m_queue.reset();
    if (m_notifyLock != nullptr) THRDestroyCriticalSection(m_notifyLock);
    if (m_origin != nullptr) m_origin->Release();
    gULMControl.DecrementObjectCount();
}

ULMContextInternal* ULMContextInternal::Make(ULMLookupTable* inTable) {
    if (!gULMControl.m_initialized) return nullptr;
    ULMLookupTable* table = inTable ? inTable : ULMLinearLookupTable::Make(256);
    if (!table) return nullptr;
    ULMClassifier classifier;
    classifier.SetLookupTable(0, table, kULMField0);  // a made table now belongs to the classifier
    classifier.SetOperation(0, ULMOperation(kULM_A));
    classifier.SetOperation(1, ULMOperation(kULM_Zero));
    classifier.SetOperation(2, ULMOperation(kULM_A));
    if (!classifier.IsValid()) return nullptr;
    ULMContextInternal* context = new (std::nothrow) ULMContextInternal();
    if (context) context->m_classifier = classifier;
    return context;
}

namespace {

// Copies inSource's members into ioCopy: the same objects, or copies of them
// as they stand when inMake is given. False when a copy cannot be made.
template <class T, class Make>
bool CopyList(const ULMListInternal<T>& inSource, ULMListInternal<T>& ioCopy, Make inMake) {
    for (unsigned i = 0; i < inSource.Number(); ++i) {
        T* object = inSource[static_cast<int>(i)];
        if constexpr (std::is_null_pointer_v<Make>) {
            if (ioCopy.Add(object) != kULMOK) return false;
        } else {
            T* copy = inMake(*object);
            if (copy == nullptr) return false;
            // The list's reference is the copy's only one.
            if (ioCopy.Add(copy) != kULMOK) {
                copy->AddRef();
                copy->Release();
                return false;
            }
        }
    }
    return true;
}

}  // namespace

ULMContextInternal* ULMContextInternal::MakeClone(const ULMContextInternal& inSource) {
    ULMContextInternal* clone = new (std::nothrow) ULMContextInternal();
    if (!clone) return nullptr;
    bool copied = false;
    {
        ULMScopedLock hold(inSource.m_stateLock);
        clone->m_state = inSource.m_state;
        clone->m_classifier = inSource.m_classifier;
        copied = CopyList(inSource.m_lights, clone->m_lights, nullptr) &&
                 CopyList(inSource.m_cutPlanes, clone->m_cutPlanes, nullptr);
    }
    if (!copied) {
        clone->AddRef();
        clone->Release();
        return nullptr;
    }
    for (int kind = 0; kind < kEventKinds; ++kind)
        clone->m_notify[kind] = inSource.GetNotify(static_cast<ULMEventType>(kind));
    return clone;
}

ULMContextInternal* ULMContextInternal::MakeRenderCopy(const ULMContextInternal& inSource) {
    auto& origin = const_cast<ULMContextInternal&>(inSource.Owner());
    ULMContextInternal* copy = new (std::nothrow) ULMContextInternal(&origin);
    if (!copy) return nullptr;
    copy->AddRef();
    bool copied = false;
    {
        ULMScopedLock hold(inSource.m_stateLock);
        copy->m_state = inSource.m_state;
        copy->m_classifier = inSource.m_classifier;
        copy->m_basePlaneSlot = inSource.m_basePlaneSlot;
        // A render copy's own members are the render's alone already.
        if (inSource.IsRenderCopy())
            copied = CopyList(inSource.m_lights, copy->m_lights, nullptr) &&
                     CopyList(inSource.m_cutPlanes, copy->m_cutPlanes, nullptr);
        else
            copied = CopyList(inSource.m_lights, copy->m_lights, ULMLightInternal::MakeCopy) &&
                     CopyList(inSource.m_cutPlanes, copy->m_cutPlanes, ULMCutPlaneInternal::MakeCopy);
    }
    if (!copied) {
        copy->Release();
        return nullptr;
    }
    return copy;
}


ULMStatus ULMContextInternal::SetImageOutputBuffer(ImageBufferNumber inBuffer) {
    if (inBuffer < kImageBuffer0 || inBuffer > kImageBufferNone) return kULMErrArgument;
    return Store(m_state.imageOutputBuffer, inBuffer);
}

ULMStatus ULMContextInternal::SetRenderArea(RenderArea inArea) {
    if (inArea != kViewport && inArea != kVolume) return kULMErrArgument;
    return Store(m_state.renderArea, inArea);
}

ULMStatus ULMContextInternal::SetBlendMode(ULMBlendMode inMode) {
    if (!ULMValidBlendMode(inMode)) return kULMErrArgument;
    return Store(m_state.blendMode, inMode);
}

ULMStatus ULMContextInternal::SetLastBlendMode(ULMBlendMode inMode) {
    if (!ULMValidBlendMode(inMode)) return kULMErrArgument;
    return Store(m_state.lastBlendMode, inMode);
}

ULMStatus ULMContextInternal::SetBasePlanePixelFormat(ULMPixelFormat inFormat) {
    if (inFormat < kULMPixelFormatRGBA8 || inFormat > kULMPixelFormatLA12) return kULMErrArgument;
    return Store(m_state.basePlaneFormat, inFormat);
}

ULMContext::DepthTest ULMContextInternal::GetDepthTest(DepthBufferNumber inBuffer) const {
    return ValidBuffer(inBuffer) ? Locked(m_state.depthTest[inBuffer]) : kDepthTestFail;
}

ULMStatus ULMContextInternal::SetDepthTest(DepthBufferNumber inBuffer, DepthTest inTest) {
    if (!ValidBuffer(inBuffer) || inTest < kDepthTestFail || inTest > kDepthTestPass) return kULMErrArgument;
    return Store(m_state.depthTest[inBuffer], inTest);
}

ULMContext::FilterTest ULMContextInternal::GetDepthUpdateFilter(DepthBufferNumber inBuffer) const {
    return ValidBuffer(inBuffer) ? Locked(m_state.depthUpdateFilter[inBuffer]) : kAlwaysFail;
}

ULMStatus ULMContextInternal::SetDepthUpdateFilter(DepthBufferNumber inBuffer, FilterTest inFilter) {
    if (!ValidBuffer(inBuffer) || inFilter < kFilterNone || inFilter > kAllFilterTests)
        return kULMErrArgument;
    return Store(m_state.depthUpdateFilter[inBuffer], inFilter);
}

ULMStatus ULMContextInternal::SetDepthCombineFunction(DepthCombineFunction inFunction) {
    if (inFunction < kDepthCombineAll || inFunction > kDepthCombineXor) return kULMErrArgument;
    return Store(m_state.depthCombine, inFunction);
}

void ULMContextInternal::GetSamplingLimits(double& outMinXY, double& outMaxXY, double& outMinZ,
                                           double& outMaxZ) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.samplingLimits, outMinXY, outMaxXY, outMinZ, outMaxZ);
}

ULMStatus ULMContextInternal::SetSamplingLimits(double inMinXY, double inMaxXY, double inMinZ,
                                                double inMaxZ) {
    if (!AllFinite({inMinXY, inMaxXY, inMinZ, inMaxZ}) || inMinXY < 1.0 || inMaxXY < inMinXY ||
        inMinZ < 1.0 || inMaxZ < inMinZ)
        return kULMErrArgument;
    return Store(m_state.samplingLimits, {inMinXY, inMaxXY, inMinZ, inMaxZ});
}

ULMStatus ULMContextInternal::SetSamplingFactor(double inFactor) {
    if (!std::isfinite(inFactor) || inFactor <= 0.0) return kULMErrArgument;
    return Store(m_state.samplingFactor, inFactor);
}

ULMStatus ULMContextInternal::SetMinViewingDistance(double inDistance) {
    if (!std::isfinite(inDistance) || inDistance <= 0.0) return kULMErrArgument;
    return Store(m_state.minViewingDistance, inDistance);
}

void ULMContextInternal::GetTrimPlanes(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY,
                                       double& outMinZ, double& outMaxZ) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.trimPlanes, outMinX, outMaxX, outMinY, outMaxY, outMinZ, outMaxZ);
}

ULMStatus ULMContextInternal::SetTrimPlanes(double inMinX, double inMaxX, double inMinY, double inMaxY,
                                            double inMinZ, double inMaxZ) {
    if (!AllFinite({inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ})) return kULMErrArgument;
    return Store(m_state.trimPlanes, {inMinX, inMaxX, inMinY, inMaxY, inMinZ, inMaxZ});
}

ULMStatus ULMContextInternal::SetClassifier(const ULMClassifier& inClassifier) {
    if (!inClassifier.IsValid()) return kULMErrClassifier;
    // The tables the old classifier held may go with it: not under the lock.
    ULMClassifier old;
    {
        ULMScopedLock hold(m_stateLock);
        if (m_classifier == inClassifier) return kULMOK;
        old = m_classifier;
        m_classifier = inClassifier;
        IncSerial();
    }
    return kULMOK;
}

void ULMContextInternal::GetReflectionProperties(double& outDiffuse, double& outSpecular, double& outEmissive,
                                                 double& outExponent) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.reflection, outDiffuse, outSpecular, outEmissive, outExponent);
}

ULMStatus ULMContextInternal::SetReflectionProperties(double inDiffuse, double inSpecular, double inEmissive,
                                                      double inExponent) {
    if (!IsFraction(inDiffuse) || !IsFraction(inSpecular) || !IsFraction(inEmissive) ||
        !std::isfinite(inExponent) || inExponent < 0.0)
        return kULMErrArgument;
    return Store(m_state.reflection, {inDiffuse, inSpecular, inEmissive, inExponent});
}

ULMStatus ULMContextInternal::SetRayTermination(double inThreshold, bool inEnabled) {
    if (!IsFraction(inThreshold)) return kULMErrArgument;
    ULMScopedLock hold(m_stateLock);
    if (inThreshold == m_state.rayTerminationThreshold && inEnabled == m_state.rayTerminationEnabled)
        return kULMOK;
    m_state.rayTerminationThreshold = inThreshold;
    m_state.rayTerminationEnabled = inEnabled;
    IncSerial();
    return kULMOK;
}

ULMStatus ULMContextInternal::StoreRange(std::array<double, 2>& ioRange, double inMin, double inMax) {
    if (!IsUnitRange(inMin, inMax)) return kULMErrArgument;
    return Store(ioRange, {inMin, inMax});
}

void ULMContextInternal::GetSampleAlphaRange(double& outMin, double& outMax) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.sampleAlphaRange, outMin, outMax);
}

ULMStatus ULMContextInternal::SetSampleAlphaRange(double inMin, double inMax) {
    return StoreRange(m_state.sampleAlphaRange, inMin, inMax);
}

void ULMContextInternal::GetAccumulatedAlphaRange(double& outMin, double& outMax) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.accumulatedAlphaRange, outMin, outMax);
}

ULMStatus ULMContextInternal::SetAccumulatedAlphaRange(double inMin, double inMax) {
    return StoreRange(m_state.accumulatedAlphaRange, inMin, inMax);
}

void ULMContextInternal::GetGradientMagnitudeRange(double& outMin, double& outMax) const {
    ULMScopedLock hold(m_stateLock);
    Unpack(m_state.gradientMagnitudeRange, outMin, outMax);
}

ULMStatus ULMContextInternal::SetGradientMagnitudeRange(double inMin, double inMax) {
    return StoreRange(m_state.gradientMagnitudeRange, inMin, inMax);
}

void ULMContextInternal::GetGradientTable(double* outTable) const {
    if (outTable == nullptr) return;
    ULMScopedLock hold(m_stateLock);
    std::copy(m_state.gradientTable.begin(), m_state.gradientTable.end(), outTable);
}

ULMStatus ULMContextInternal::SetGradientTable(const double* inTable) {
    if (!inTable || !std::all_of(inTable, inTable + kGradientTableLength, IsFraction)) return kULMErrArgument;
    std::array<double, kGradientTableLength> table;
    std::copy(inTable, inTable + kGradientTableLength, table.begin());
    return Store(m_state.gradientTable, table);
}

ULMStatus ULMContextInternal::SetGradientModulation(unsigned inModulation) {
    if ((inModulation & ~static_cast<unsigned>(kAllModulations)) != 0) return kULMErrArgument;
    return Store(m_state.gradientModulation, inModulation);
}

}  // namespace ulm3
