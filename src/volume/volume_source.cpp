#include "ulm3/volume_source.h"

#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/numeric.h"
#include "volume/field_mask.h"
#include "volume/sub_volume.h"

namespace ulm3 {

uint32_t FieldMask(int64_t inFieldSize, int64_t inFieldPosition) {
    if (inFieldSize < 0 || inFieldPosition < 0) return 0;
    ULM_ASSERT(inFieldSize + inFieldPosition <= 32);
    // Worked in 64 bits: a 32-bit field, or an empty one at bit 32, would
    // shift a 32-bit word by its full width.
    return static_cast<uint32_t>(((uint64_t{1} << inFieldSize) - 1u) << inFieldPosition);
}

namespace {

enum class FieldShape { kFailed, kWholeVoxel, kPart };

// The checks both field bodies make before they touch a voxel. The bodies
// move whole bytes and 16-bit words only: an 8-bit field at bit 0 or 8 of a
// 16-bit voxel, an 8-bit field at bit 0, 8, 16 or 24 or a 16-bit field at
// bit 0, 8 or 16 of a 32-bit voxel, or the whole voxel. Any other field that
// gets past the general checks is refused as a format error rather than
// moved wrongly.
FieldShape CheckField(ULMVolumeSource& source, const void* voxels, const ULMVolumeRange& box,
                      const ULMFieldDescriptor& field, bool forWriting, ULMStatus& status) {
    status = kULMOK;
    if (voxels == nullptr || !IsInsideVolume(source.GetVolumeSize(), box)) {
        status = kULMErrArgument;
        return FieldShape::kFailed;
    }
    const int elementSize = source.GetVoxelSize();
    if (elementSize != 8 && elementSize != 16 && elementSize != 32) {
        status = kULMErrVolume;
        return FieldShape::kFailed;
    }
    const int64_t fieldSize = field.m_size;
    const int64_t alignment = field.m_position;
    if (fieldSize == elementSize) {
        if (alignment != 0) {
            status = kULMErrFormat;
            return FieldShape::kFailed;
        }
        return FieldShape::kWholeVoxel;
    }
    if (alignment % 8 != 0 || fieldSize + alignment > elementSize) {
        status = kULMErrFormat;
        return FieldShape::kFailed;
    }
    if (!source.HasData()) {
        status = kULMErrVolume;
        return FieldShape::kFailed;
    }
    if (forWriting && source.IsReadOnly()) {
        status = kULMErrReadOnly;
        return FieldShape::kFailed;
    }
    const bool byteField = fieldSize == 8 && alignment >= 0;
    const bool wordField = fieldSize == 16 && elementSize == 32 && alignment >= 0;
    if (!byteField && !wordField) {
        status = kULMErrFormat;
        return FieldShape::kFailed;
    }
    return FieldShape::kPart;
}

template <typename T>
T Load(const uint8_t* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(uint8_t* p, T v) {
    memcpy(p, &v, sizeof v);
}

// Moves one field of every voxel of the box between the mapped storage and
// the packed elements: into the voxels (keeping the bits of mask) or out of
// them (the bits of mask, shifted down).
template <typename Voxel, typename Field>
void MoveFieldValues(uint8_t* mapped, unsigned yStride, unsigned zStride, const ULMVolumeRange& box, uint8_t* packed,
                     int alignment, uint32_t mask, bool intoVolume) {
    const uint64_t sizeX = static_cast<uint64_t>(box.XSize());
    for (uint64_t k = 0; k < static_cast<uint64_t>(box.ZSize()); ++k) {
        for (uint64_t j = 0; j < static_cast<uint64_t>(box.YSize()); ++j) {
            uint8_t* voxel = mapped + (k * zStride + j) * yStride * sizeof(Voxel);
            for (uint64_t i = 0; i < sizeX; ++i, voxel += sizeof(Voxel), packed += sizeof(Field)) {
                if (intoVolume) {
                    const uint32_t value = Load<Field>(packed);
                    Store<Voxel>(voxel, static_cast<Voxel>((Load<Voxel>(voxel) & mask) | (value << alignment)));
                } else {
                    Store<Field>(packed, static_cast<Field>((Load<Voxel>(voxel) & mask) >> alignment));
                }
            }
        }
    }
}

// The part of both field bodies after their checks, for a field that is a
// byte or a 16-bit word of the voxel.
ULMStatus MoveField(ULMVolumeSource& source, uint8_t* packed, const ULMVolumeRange& box,
                    const ULMFieldDescriptor& field, bool intoVolume) {
    const int elementSize = source.GetVoxelSize();
    const int fieldSize = field.m_size;
    const int alignment = field.m_position;
    uint32_t mask;
    if (intoVolume) {
        const uint32_t sMask = FieldMask(fieldSize, 0);
        const uint32_t dMask = FieldMask(elementSize, 0) & ~(sMask << alignment);
        ULM_ASSERT(((sMask<<alignment) & dMask) == 0);
        ULM_ASSERT(((sMask<<alignment) | dMask) == FieldMask(ULMMax(elementSize, fieldSize)));
        mask = dMask;
    } else {
        mask = FieldMask(fieldSize, alignment);
    }

    void* mapped = nullptr;
    unsigned yStride = 0;
    unsigned zStride = 0;
    const ULMStatus status = source.MapVoxels(box, intoVolume ? 1 : 0, &mapped, &yStride, &zStride);
    if (ULMFailed(status)) return status;
    if (mapped == nullptr || yStride == 0 || zStride == 0) {
        if (mapped) source.ReleaseVoxels(mapped);
        return kULMErrInternal;
    }
    auto* voxels = static_cast<uint8_t*>(mapped);
    if (elementSize == 16) {
        MoveFieldValues<uint16_t, uint8_t>(voxels, yStride, zStride, box, packed, alignment, mask, intoVolume);
    } else if (fieldSize == 8) {
        MoveFieldValues<uint32_t, uint8_t>(voxels, yStride, zStride, box, packed, alignment, mask, intoVolume);
    } else {
        MoveFieldValues<uint32_t, uint16_t>(voxels, yStride, zStride, box, packed, alignment, mask, intoVolume);
    }
    return source.ReleaseVoxels(mapped);
}

}  // namespace

ULMVolumeSource::~ULMVolumeSource() = default;

ULMStatus ULMVolumeSource::UpdateVoxelField(const void* inVoxels, const ULMVolumeRange& inSubVol,
                                            const ULMFieldDescriptor& inVolumeField) {
    ULMStatus status;
    const FieldShape shape = CheckField(*this, inVoxels, inSubVol, inVolumeField, true, status);
    if (shape == FieldShape::kFailed) return status;
    if (shape == FieldShape::kWholeVoxel) return UpdateVoxels(inSubVol, inVoxels);
    // Only read when moving into the volume.
    auto* packed = const_cast<uint8_t*>(static_cast<const uint8_t*>(inVoxels));
    return MoveField(*this, packed, inSubVol, inVolumeField, true);
}

ULMStatus ULMVolumeSource::UnloadVoxelField(void* outVoxels, const ULMVolumeRange& inSubVol,
                                            const ULMFieldDescriptor& inVolumeField) {
    ULMStatus status;
    const FieldShape shape = CheckField(*this, outVoxels, inSubVol, inVolumeField, false, status);
    if (shape == FieldShape::kFailed) return status;
    if (shape == FieldShape::kWholeVoxel) return UnloadVoxels(outVoxels, inSubVol);
    return MoveField(*this, static_cast<uint8_t*>(outVoxels), inSubVol, inVolumeField, false);
}

ULMStatus ULMVolumeSource::Reserved00() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved01() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved02() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved03() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved04() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved05() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved06() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved07() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved08() { return kULMErrUnimplemented; }
ULMStatus ULMVolumeSource::Reserved09() { return kULMErrUnimplemented; }

}  // namespace ulm3
