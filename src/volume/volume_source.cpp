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
    if (inFieldSize == 32) return 0xFFFFFFFFu;
    return ((uint32_t{1} << inFieldSize) - 1u) << inFieldPosition;
}

namespace {

enum class FieldShape { kFailed, kWholeVoxel, kPart };

// The checks both field bodies make before they touch a voxel. The bodies
// move whole bytes and 16-bit words only: an 8-bit field at bit 0 or 8 of a
// 16-bit voxel, an 8-bit field at bit 0, 8, 16 or 24 or a 16-bit field at
// bit 0, 8 or 16 of a 32-bit voxel, or the whole voxel. Any other field is
// refused as a format error rather than moved wrongly.
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
    const int fieldSize = field.m_size;
    const int alignment = field.m_position;
    if (fieldSize == elementSize) {
        if (alignment != 0) {
            status = kULMErrFormat;
            return FieldShape::kFailed;
        }
        return FieldShape::kWholeVoxel;
    }
    const bool byteField = fieldSize == 8 && alignment >= 0 && alignment % 8 == 0 && alignment + 8 <= elementSize;
    const bool wordField = fieldSize == 16 && elementSize == 32 && (alignment == 0 || alignment == 8 || alignment == 16);
    if (!byteField && !wordField) {
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

// Walks the box in the mapped storage, one row at a time, and hands each
// voxel with its packed field element to the operation.
template <typename Voxel, typename Field, typename Packed, typename Op>
void WalkField(uint8_t* mapped, unsigned yStride, unsigned zStride, const ULMVolumeRange& box, Packed* packed,
               Op op) {
    const uint64_t sizeX = static_cast<uint64_t>(box.XSize());
    for (uint64_t k = 0; k < static_cast<uint64_t>(box.ZSize()); ++k) {
        for (uint64_t j = 0; j < static_cast<uint64_t>(box.YSize()); ++j) {
            uint8_t* row = mapped + (k * zStride + j) * yStride * sizeof(Voxel);
            for (uint64_t i = 0; i < sizeX; ++i) {
                op(row + i * sizeof(Voxel), packed);
                packed += sizeof(Field);
            }
        }
    }
}

template <typename Voxel, typename Field>
void PutField(uint8_t* mapped, unsigned yStride, unsigned zStride, const ULMVolumeRange& box, const uint8_t* in,
              int alignment, uint32_t dMask) {
    WalkField<Voxel, Field>(mapped, yStride, zStride, box, in, [&](uint8_t* voxel, const uint8_t* p) {
        const uint32_t value = Load<Field>(p);
        Store<Voxel>(voxel, static_cast<Voxel>((Load<Voxel>(voxel) & dMask) | (value << alignment)));
    });
}

template <typename Voxel, typename Field>
void GetField(uint8_t* mapped, unsigned yStride, unsigned zStride, const ULMVolumeRange& box, uint8_t* out,
              int alignment, uint32_t sMask) {
    WalkField<Voxel, Field>(mapped, yStride, zStride, box, out, [&](uint8_t* voxel, uint8_t* p) {
        Store<Field>(p, static_cast<Field>((Load<Voxel>(voxel) & sMask) >> alignment));
    });
}

}  // namespace

ULMVolumeSource::~ULMVolumeSource() = default;

ULMStatus ULMVolumeSource::UpdateVoxelField(const void* inVoxels, const ULMVolumeRange& inSubVol,
                                            const ULMFieldDescriptor& inVolumeField) {
    ULMStatus status;
    const FieldShape shape = CheckField(*this, inVoxels, inSubVol, inVolumeField, true, status);
    if (shape == FieldShape::kFailed) return status;
    if (shape == FieldShape::kWholeVoxel) return UpdateVoxels(inSubVol, inVoxels);
    if (HoldsNoVoxel(inSubVol)) return kULMOK;

    const int elementSize = GetVoxelSize();
    const int fieldSize = inVolumeField.m_size;
    const int alignment = inVolumeField.m_position;
    const uint32_t sMask = FieldMask(fieldSize, 0);
    const uint32_t dMask = FieldMask(elementSize, 0) & ~(sMask << alignment);
    ULM_ASSERT(((sMask<<alignment) & dMask) == 0);
    ULM_ASSERT(((sMask<<alignment) | dMask) == FieldMask(ULMMax(elementSize, fieldSize)));

    void* mapped = nullptr;
    unsigned yStride = 0;
    unsigned zStride = 0;
    status = MapVoxels(inSubVol, 1, &mapped, &yStride, &zStride);
    if (ULMFailed(status)) return status;
    if (mapped == nullptr || yStride == 0 || zStride == 0) {
        if (mapped) ReleaseVoxels(mapped);
        return kULMErrInternal;
    }
    auto* dst = static_cast<uint8_t*>(mapped);
    const auto* in = static_cast<const uint8_t*>(inVoxels);
    if (elementSize == 16) {
        PutField<uint16_t, uint8_t>(dst, yStride, zStride, inSubVol, in, alignment, dMask);
    } else if (fieldSize == 8) {
        PutField<uint32_t, uint8_t>(dst, yStride, zStride, inSubVol, in, alignment, dMask);
    } else {
        PutField<uint32_t, uint16_t>(dst, yStride, zStride, inSubVol, in, alignment, dMask);
    }
    return ReleaseVoxels(mapped);
}

ULMStatus ULMVolumeSource::UnloadVoxelField(void* outVoxels, const ULMVolumeRange& inSubVol,
                                            const ULMFieldDescriptor& inVolumeField) {
    ULMStatus status;
    const FieldShape shape = CheckField(*this, outVoxels, inSubVol, inVolumeField, false, status);
    if (shape == FieldShape::kFailed) return status;
    if (shape == FieldShape::kWholeVoxel) return UnloadVoxels(outVoxels, inSubVol);
    if (HoldsNoVoxel(inSubVol)) return kULMOK;

    const int elementSize = GetVoxelSize();
    const int fieldSize = inVolumeField.m_size;
    const int alignment = inVolumeField.m_position;
    const uint32_t sMask = FieldMask(fieldSize, alignment);

    void* mapped = nullptr;
    unsigned yStride = 0;
    unsigned zStride = 0;
    status = MapVoxels(inSubVol, 0, &mapped, &yStride, &zStride);
    if (ULMFailed(status)) return status;
    if (mapped == nullptr || yStride == 0 || zStride == 0) {
        if (mapped) ReleaseVoxels(mapped);
        return kULMErrInternal;
    }
    auto* src = static_cast<uint8_t*>(mapped);
    auto* out = static_cast<uint8_t*>(outVoxels);
    if (elementSize == 16) {
        GetField<uint16_t, uint8_t>(src, yStride, zStride, inSubVol, out, alignment, sMask);
    } else if (fieldSize == 8) {
        GetField<uint32_t, uint8_t>(src, yStride, zStride, inSubVol, out, alignment, sMask);
    } else {
        GetField<uint32_t, uint16_t>(src, yStride, zStride, inSubVol, out, alignment, sMask);
    }
    return ReleaseVoxels(mapped);
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
