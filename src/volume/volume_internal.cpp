// Creation of volumes (and their wrapping by configuration), the binding of
// a volume to its source, and the volume's description.
#include "volume/volume_internal.h"

#include <cmath>
#include <new>

#include "board/kwb_board.h"
#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"
#include "volume/volume_source_memory.h"
#include "volume/volume_upper_layers.h"
#include "volume/vox_file_reader.h"

namespace ulm3 {

namespace {

constexpr int kMaxVolumeFields = 4;

// Field 0 of the legacy format codes; false for any other code.
bool LegacyFormat(unsigned inFormat, int& outBits, ULMFieldDescriptor& outField) {
    switch (inFormat) {
        case kULMVoxelFormatUINT8: outBits = 8; outField = {0, 8, kULMUnsignedFraction}; return true;
        case kULMVoxelFormatUINT12L: outBits = 16; outField = {0, 12, kULMUnsignedFraction}; return true;
        case kULMVoxelFormatUINT12U: outBits = 16; outField = {4, 12, kULMUnsignedFraction}; return true;
        default: return false;
    }
}

bool AllBelow(const ULMVolume* inVolume, int inThreshold) {
    const unsigned limit = static_cast<unsigned>(inThreshold);
    return inVolume->GetSizeX() < limit && inVolume->GetSizeY() < limit &&
           inVolume->GetSizeZ() < limit;
}

ULMVolume* ConvertToMultiboardVolume(ULMVolume* volume, ULMVolumeSource* source) {
    const ULMControlInternal& control = gULMControl;
    if (!control.m_multiboardRenderEnable) return volume;
    if (AllBelow(volume, control.m_multiboardMinVolumeSize)) return volume;
    const int mode = control.m_multiboardRenderMode;
    if (mode != 1 && mode != 2) return volume;
    ULMVolume* wrapped =
        ULMGetMultiboardVolumeFactory()(mode, volume, source, control.m_multiboardSubvolumes, volume->GetRange());
    if (wrapped == nullptr) return volume;
    volume->Release();
    return wrapped;
}

// With MipmapMultiboard set the multiboard volume sits inside the mipmap
// volume, else the other way round.
ULMVolume* ConvertToMipmapVolume(ULMVolume* volume, ULMVolumeSource* source) {
    const bool multiboardInside = gULMControl.m_MipmapMultiboard;
    if (multiboardInside) volume = ConvertToMultiboardVolume(volume, source);
    if (!AllBelow(volume, gULMControl.m_mipmapMinVolumeSize)) {
        if (ULMVolume* mipmap = ULMGetMipmapVolumeFactory()(volume, source)) {
            volume->Release();
            return multiboardInside ? mipmap : ConvertToMultiboardVolume(mipmap, source);
        }
    }
    return multiboardInside ? volume : ConvertToMultiboardVolume(volume, source);
}

// A new volume over the source, with one reference; null when the source
// cannot be bound. The caller keeps its own reference on the source.
ULMVolumeInternal* BuildVolume(ULMVolumeSource* source) {
    ULMVolumeInternal* volume = new ULMVolumeInternal(source);
    volume->AddRef();
    if (volume->GetVoxelSize() != 0) return volume;
    volume->Release();
    return nullptr;
}

// A memory source over the caller's voxels with one reference, or null.
ULMVolumeSource* MemorySource(int inVoxelSize, void* inVoxels, const ULMVolumeRange& inRange) {
    ULMVolumeSource* source = new ULMVolumeSourceMemory(inVoxelSize, inVoxels, inRange);
    source->AddRef();
    if (source->GetVoxelSize() != 0) return source;
    source->Release();
    return nullptr;
}

// The plain volume of the range form of Create, its fields set; null when
// anything is refused.
ULMVolumeInternal* BuildMemoryVolume(int inVoxelSize, const ULMVolumeRange& inRange, int inNumberOfFields,
                                     const ULMFieldDescriptor* inFieldArray, void* inVoxels) {
    if (!gULMControl.m_initialized) return nullptr;
    if (inNumberOfFields < 0 || inNumberOfFields > kMaxVolumeFields) return nullptr;
    if (inNumberOfFields > 0 && inFieldArray == nullptr) return nullptr;
    ULMVolumeSource* source = MemorySource(inVoxelSize, inVoxels, inRange);
    if (source == nullptr) return nullptr;
    ULMVolumeInternal* volume = BuildVolume(source);
    source->Release();
    if (volume == nullptr) return nullptr;
    for (int i = 0; i < inNumberOfFields; ++i) {
        if (volume->SetFieldDescriptor(static_cast<ULMFieldNumber>(i), inFieldArray[i]) != kULMOK) {
            volume->Release();
            return nullptr;
        }
    }
    return volume;
}

// Runs a creator so that neither a thrown status nor exhausted memory
// crosses the public interface.
template <typename Make>
auto Guarded(Make make) -> decltype(make()) {
    try {
        return make();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

// ---- Creators ----

ULMVolume* ULMVolume::Create(unsigned int inFormat, void* inVoxels, unsigned int inSizeX,
                             unsigned int inSizeY, unsigned int inSizeZ, Layout) {
    return Guarded([&]() -> ULMVolume* {
        int bits = 0;
        ULMFieldDescriptor field;
        if (!gULMControl.m_initialized || !LegacyFormat(inFormat, bits, field)) return nullptr;
        if (inSizeX > INT32_MAX || inSizeY > INT32_MAX || inSizeZ > INT32_MAX) return nullptr;
        const ULMVolumeRange range(static_cast<int>(inSizeX), static_cast<int>(inSizeY),
                                   static_cast<int>(inSizeZ), 0, 0, 0);
        ULMVolumeInternal* volume = BuildMemoryVolume(bits, range, 1, &field, inVoxels);
        if (volume == nullptr) return nullptr;
        volume->SetFormatCode(inFormat);
        return ConvertToMipmapVolume(volume, volume->GetSource());
    });
}

ULMVolume* ULMVolume::Create(int inVoxelSize, unsigned int inSizeX, unsigned int inSizeY,
                             unsigned int inSizeZ, int inNumberOfFields,
                             const ULMFieldDescriptor* inFieldArray, void* inVoxels) {
    if (inSizeX > INT32_MAX || inSizeY > INT32_MAX || inSizeZ > INT32_MAX) return nullptr;
    return Create(inVoxelSize,
                  ULMVolumeRange(static_cast<int>(inSizeX), static_cast<int>(inSizeY),
                                 static_cast<int>(inSizeZ), 0, 0, 0),
                  inNumberOfFields, inFieldArray, inVoxels);
}

ULMVolume* ULMVolume::Create(int inVoxelSize, const ULMVolumeRange& inRange, int inNumberOfFields,
                             const ULMFieldDescriptor* inFieldArray, void* inVoxels) {
    return Guarded([&]() -> ULMVolume* {
        ULMVolumeInternal* volume =
            BuildMemoryVolume(inVoxelSize, inRange, inNumberOfFields, inFieldArray, inVoxels);
        if (volume == nullptr) return nullptr;
        return ConvertToMipmapVolume(volume, volume->GetSource());
    });
}

ULMVolume* ULMVolume::CreateFromFile(const char* inFilename, int, ReadMode inMode,
                                     int inVolumeNumber) {
    return Guarded([&]() -> ULMVolume* {
        if (!gULMControl.m_initialized) return nullptr;
        ULMVolumeSource* reader = new ULMVoxFileReader(inFilename, inMode, inVolumeNumber);
        reader->AddRef();
        ULMVolumeInternal* volume = reader->GetVoxelSize() != 0 ? BuildVolume(reader) : nullptr;
        reader->Release();
        if (volume == nullptr) return nullptr;
        return ConvertToMipmapVolume(volume, volume->GetSource());
    });
}

ULMVolume* ULMVolume::CreateFromSource(ULMVolumeSource* inVolumeSource) {
    return Guarded([&]() -> ULMVolume* {
        ULMVolumeInternal* volume = ULMVolumeInternal::CreateSimpleVolume(inVolumeSource);
        if (volume == nullptr) return nullptr;
        return ConvertToMipmapVolume(volume, inVolumeSource);
    });
}

ULMVolumeInternal* ULMVolumeInternal::CreateSimpleVolume(int inVoxelSize, const ULMVolumeRange& inRange,
                                                         int inNumberOfFields,
                                                         const ULMFieldDescriptor* inFieldArray,
                                                         void* inVoxels) {
    return Guarded([&] {
        return BuildMemoryVolume(inVoxelSize, inRange, inNumberOfFields, inFieldArray, inVoxels);
    });
}

ULMVolumeInternal* ULMVolumeInternal::CreateSimpleVolume(ULMVolumeSource* inVolumeSource) {
    return Guarded([&]() -> ULMVolumeInternal* {
        if (!gULMControl.m_initialized || inVolumeSource == nullptr) return nullptr;
        if (inVolumeSource->GetVoxelSize() == 0) return nullptr;
        return BuildVolume(inVolumeSource);
    });
}

// ---- Construction and the source ----

ULMVolumeInternal::ULMVolumeInternal(ULMVolumeSource* pSource)
    : m_engineState(ULMGetVolumeRenderEngine().MakeState()) {
    gULMControl.IncrementObjectCount();
    ULM_ASSERT(pSource != nullptr);
    SetObjectType(this, kObjectTypeULMVolumeInternal);
    InitializeSpaceLeaping();
    if (SetSource(pSource, true) != kULMOK) m_voxelSizeBytes = 0;
}

ULMStatus ULMVolumeInternal::SetSource(ULMVolumeSource* pSource, bool setAll) {
    if (pSource == nullptr) return kULMErrArgument;
    const int bits = pSource->GetVoxelSize();
    if (!setAll) {
        if (bits != 8 * m_voxelSizeBytes) return kULMErrArgument;
    } else {
        if (bits != 8 && bits != 16 && bits != 32) return kULMErrVolume;
        ULMFieldDescriptor fields[kMaxVolumeFields];
        int count = 0;
        for (int i = 0; i < kMaxVolumeFields; ++i) {
            fields[i] = pSource->GetFieldDescriptor(static_cast<ULMFieldNumber>(i));
            if (!IsValidFieldDescriptor(fields[i], bits, 16)) return kULMErrVolume;
            count += fields[i].m_format != kULMUnknownFormat;
        }
        // Sizes come from the application or a file: a box without voxels
        // is refused as well as an empty one.
        const ULMVolumeRange size = pSource->GetVolumeSize();
        if (size.XSize() <= 0 || size.YSize() <= 0 || size.ZSize() <= 0) return kULMErrVolume;
        for (int i = 0; i < kMaxVolumeFields; ++i) m_fields[i] = fields[i];
        m_format = kULMVoxelFormatOther;
        const ULMFieldDescriptor& f0 = fields[0];
        if (count == 1 && f0.m_format == kULMUnsignedFraction) {
            if (bits == 8 && f0.m_position == 0 && f0.m_size == 8) m_format = kULMVoxelFormatUINT8;
            if (bits == 16 && f0.m_size == 12 && f0.m_position == 0) m_format = kULMVoxelFormatUINT12L;
            if (bits == 16 && f0.m_size == 12 && f0.m_position == 4) m_format = kULMVoxelFormatUINT12U;
        }
        m_wholeVolume = size;
        m_correctionMatrix = pSource->GetInitialCorrectionMatrix();
        m_voxelSizeBytes = bits / 8;
    }
    pSource->AddRef();
    if (m_volumeSource != nullptr) m_volumeSource->Release();
    m_volumeSource = pSource;
    m_readOnly = pSource->IsReadOnly();
    m_hasData = pSource->HasData();
    return kULMOK;
}

// Everything that may still wait on the boards goes before the library's
// hold is given back, since the last hold closes the boards.
ULMVolumeInternal::~ULMVolumeInternal() {
    // A map the application did not end is ended as its unmap would, so
    // that a write map's voxels reach the source or the buffer.
    EndMaps();
    // The board copy's lazy load may still read the source's memory.
    m_boardCopy.Close();
    if (m_volumeSource != nullptr) m_volumeSource->Release();
    ClearSpaceLeaping();
    m_engineState.reset();
    gULMControl.DecrementObjectCount();
}

// ---- Description ----

void ULMVolumeInternal::GetSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = GetSizeX();
    outY = GetSizeY();
    outZ = GetSizeZ();
}

ULMFieldDescriptor ULMVolumeInternal::GetFieldDescriptor(ULMFieldNumber inField) const {
    if (inField < 0 || inField >= kMaxVolumeFields) return ULMFieldDescriptor();
    return m_fields[inField];
}

ULMStatus ULMVolumeInternal::SetFieldDescriptor(ULMFieldNumber inField,
                                                const ULMFieldDescriptor& inDescriptor) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (inField < 0 || inField >= kMaxVolumeFields) return kULMErrArgument;
    if (!IsValidFieldDescriptor(inDescriptor, GetVoxelSize(), 16)) return kULMErrFormat;
    if (m_fields[inField] == inDescriptor) return kULMOK;
    m_fields[inField] = inDescriptor;
    IncSerial();
    return kULMOK;
}

// A non-finite entry would only fail later, in every render of the volume.
ULMStatus ULMVolumeInternal::SetCorrectionMatrix(const ULMMatrix& inMatrix) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            if (!std::isfinite(inMatrix[row][column])) return kULMErrArgument;
    if (inMatrix.IsSingular()) return kULMErrArgument;
    if (inMatrix == m_correctionMatrix) return kULMOK;
    m_correctionMatrix = inMatrix;
    IncSerial();
    return kULMOK;
}

ULMStatus ULMVolumeInternal::SetModelMatrix(const ULMMatrix& inMatrix) {
    return SetCorrectionMatrix(inMatrix);
}

ULMStatus ULMVolumeInternal::SetActiveSubVolume(const ULMVolumeRange& inRange) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (!m_wholeVolume.Contains(inRange)) return kULMErrArgument;
    if (inRange == m_userSubVolume) return kULMOK;
    m_userSubVolume = inRange;
    IncSerial();
    return kULMOK;
}

unsigned ULMVolumeInternal::GetActiveSubVolumeSizeX() const { return static_cast<unsigned>(m_userSubVolume.XSize()); }
unsigned ULMVolumeInternal::GetActiveSubVolumeSizeY() const { return static_cast<unsigned>(m_userSubVolume.YSize()); }
unsigned ULMVolumeInternal::GetActiveSubVolumeSizeZ() const { return static_cast<unsigned>(m_userSubVolume.ZSize()); }
unsigned ULMVolumeInternal::GetActiveSubVolumeOriginX() const { return static_cast<unsigned>(m_userSubVolume.XOrigin()); }
unsigned ULMVolumeInternal::GetActiveSubVolumeOriginY() const { return static_cast<unsigned>(m_userSubVolume.YOrigin()); }
unsigned ULMVolumeInternal::GetActiveSubVolumeOriginZ() const { return static_cast<unsigned>(m_userSubVolume.ZOrigin()); }

void ULMVolumeInternal::GetActiveSubVolumeSize(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = GetActiveSubVolumeSizeX();
    outY = GetActiveSubVolumeSizeY();
    outZ = GetActiveSubVolumeSizeZ();
}

void ULMVolumeInternal::GetActiveSubVolumeOrigin(unsigned& outX, unsigned& outY, unsigned& outZ) const {
    outX = GetActiveSubVolumeOriginX();
    outY = GetActiveSubVolumeOriginY();
    outZ = GetActiveSubVolumeOriginZ();
}

ULMStatus ULMVolumeInternal::SetActiveSubVolumeSize(unsigned inX, unsigned inY, unsigned inZ) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (inX == GetActiveSubVolumeSizeX() && inY == GetActiveSubVolumeSizeY() &&
        inZ == GetActiveSubVolumeSizeZ())
        return kULMOK;
    if (inX == 0 && inY == 0 && inZ == 0) {
        m_userSubVolume.Reset();
        IncSerial();
        return kULMOK;
    }
    if (inX == 0 || inX > GetSizeX() || inY == 0 || inY > GetSizeY() || inZ == 0 || inZ > GetSizeZ())
        return kULMErrArgument;
    m_userSubVolume.XSize() = static_cast<int32_t>(inX);
    m_userSubVolume.YSize() = static_cast<int32_t>(inY);
    m_userSubVolume.ZSize() = static_cast<int32_t>(inZ);
    IncSerial();
    return kULMOK;
}

// The origin is checked against the sub-volume's own sizes only; a render
// clips the sub-volume to the volume.
ULMStatus ULMVolumeInternal::SetActiveSubVolumeOrigin(unsigned inX, unsigned inY, unsigned inZ) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (inX == GetActiveSubVolumeOriginX() && inY == GetActiveSubVolumeOriginY() &&
        inZ == GetActiveSubVolumeOriginZ())
        return kULMOK;
    if (inX >= GetActiveSubVolumeSizeX() || inY >= GetActiveSubVolumeSizeY() ||
        inZ >= GetActiveSubVolumeSizeZ())
        return kULMErrArgument;
    m_userSubVolume.XOrigin() = static_cast<int32_t>(inX);
    m_userSubVolume.YOrigin() = static_cast<int32_t>(inY);
    m_userSubVolume.ZOrigin() = static_cast<int32_t>(inZ);
    IncSerial();
    return kULMOK;
}

ULMStatus ULMVolumeInternal::SetBorderValue(unsigned inValue) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (inValue != m_borderValue) {
        m_borderValue = inValue;
        IncSerial();
    }
    return kULMOK;
}

namespace {

bool ValidExtendMode(ULMVolume::ExtendMode inMode) {
    return inMode == ULMVolume::kExtendWithBorder || inMode == ULMVolume::kExtendWithEdge;
}

}  // namespace

ULMStatus ULMVolumeInternal::SetExtendMode(ExtendMode inMode) {
    return SetExtendModes(inMode, inMode, inMode);
}

ULMStatus ULMVolumeInternal::SetExtendModes(ExtendMode inX, ExtendMode inY, ExtendMode inZ) {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    if (inX == m_extendModes[0] && inY == m_extendModes[1] && inZ == m_extendModes[2]) return kULMOK;
    if (!ValidExtendMode(inX) || !ValidExtendMode(inY) || !ValidExtendMode(inZ)) return kULMErrArgument;
    m_extendModes[0] = inX;
    m_extendModes[1] = inY;
    m_extendModes[2] = inZ;
    IncSerial();
    return kULMOK;
}

void ULMVolumeInternal::GetExtendModes(ExtendMode& outX, ExtendMode& outY, ExtendMode& outZ) const {
    outX = m_extendModes[0];
    outY = m_extendModes[1];
    outZ = m_extendModes[2];
}

// The lock and unlock move the target under the buffer lock.
ULMStatus ULMVolumeInternal::SetTarget(ULMTarget inTarget) {
    if (inTarget != kULMSource && inTarget != kULMBuffer) return kULMErrArgument;
    ULMRecursiveLock hold(m_boardCopy.Lock());
    m_target = inTarget;
    return kULMOK;
}

ULMTarget ULMVolumeInternal::GetTarget() const {
    ULMRecursiveLock hold(m_boardCopy.Lock());
    return m_target;
}

ULMStatus ULMVolumeInternal::SetSpaceLeapingRange(const ULMVolumeRange& inRange) {
    if (!m_wholeVolume.Contains(inRange)) return kULMErrArgument;
    m_spaceLeapingRange = inRange;
    return kULMOK;
}

}  // namespace ulm3
