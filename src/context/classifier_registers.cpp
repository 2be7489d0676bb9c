// The classifier's chip registers: which voxel field feeds each table, how
// it is interpolated, the tables' entry layouts and the combining words.
#include "context/classifier_internal.h"

#include "context/lookup_table_internal.h"
#include "foundation/chip_code_tables.h"
#include "foundation/enumeration_checks.h"
#include "foundation/field_conversions.h"

namespace ulm3 {

namespace {

// One code byte per channel, red lowest, as the chip reads LookupTableFormat.
uint32_t TableFormat(const ULMLookupTable* inTable) {
    uint32_t word = 0;
    for (int c = 0; c < 4; ++c) {
        const ULMFieldDescriptor fd = inTable ? inTable->GetFieldDescriptor(static_cast<ULMChannel>(c))
                                              : ULMLookupTableInternal::BypassDescriptor();
        word |= NKW7_FieldCodeAt(HWFieldFormat(fd), c);
    }
    return word;
}

}  // namespace

const ULMClassifier& ULMClassifierInternal::DirectRGBAClassifier() {
    static const ULMClassifier sDirectRGBAClassifier =
        ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    return sDirectRGBAClassifier;
}

ULMStatus ULMClassifierInternal::ComputeHardwareRegisters(const ULMVolume* inVolume, uint64_t& outVoxelFormat,
                                                          uint32_t& outInterpolateControl,
                                                          ULMLookupTable* outLut[4], uint32_t outLutFormat[4],
                                                          uint32_t outAlu[3],
                                                          ULMFieldNumber ioGradientFields[3]) const {
    if (!inVolume) return kULMErrVolume;
    ULMFieldDescriptor fields[4];
    for (int f = 0; f < 4; ++f) fields[f] = inVolume->GetFieldDescriptor(static_cast<ULMFieldNumber>(f));
    const ULMVolume::ExtendMode extend[3] = {inVolume->GetExtendModeX(), inVolume->GetExtendModeY(),
                                             inVolume->GetExtendModeZ()};
    ULMClassifierRegisters r;
    const ULMStatus status = ComputeRegisters(fields, extend, ioGradientFields, r);
    if (status != kULMOK) return status;
    outVoxelFormat = r.voxelFormat;
    outInterpolateControl = r.interpolateControl;
    for (int i = 0; i < ULMClassifier::kTables; ++i) {
        outLut[i] = r.lut[i];
        outLutFormat[i] = r.lutFormat[i];
    }
    for (int i = 0; i < ULMClassifier::kOperations; ++i) outAlu[i] = r.alu[i];
    return kULMOK;
}

ULMStatus ULMClassifierInternal::ComputeRegisters(const ULMFieldDescriptor inFields[4],
                                                  const ULMVolume::ExtendMode inExtend[3],
                                                  ULMFieldNumber ioGradientFields[3],
                                                  ULMClassifierRegisters& outRegisters) const {
    const ULMClassifier& c = m_classifier;
    if (!c.IsValid()) return kULMErrClassifier;
    // Gradients of field 0 are what the engine asks for; another field must
    // exist in the volume.
    for (int g = 0; g < 3; ++g) {
        const ULMFieldNumber f = ioGradientFields[g];
        if (f == kULMField0) continue;
        if (!IsValidVoxelFieldNumber(f) || inFields[f].m_format == kULMUnknownFormat)
            return kULMErrClassifier;
    }

    ULMClassifierRegisters r;
    uint32_t interpolate = 0;
    for (int i = 0; i < ULMClassifier::kTables; ++i) {
        const ULMFieldNumber source = c.m_source[i];
        const ULMFieldDescriptor field = c.m_table[i] ? inFields[source] : ULMFieldDescriptor();
        r.voxelFormat |= NKW7_FieldCodeAt(HWFieldFormat(field), i);
        const bool classifyFirst = c.m_order == ULMClassifier::kClassifyFirst;
        const NKW7_Interpolation mode = ULMChipInterpolation(c.m_mode[source], classifyFirst);
        interpolate |= NKW7_FIELD_AT(InterpolateControl, interpolate0, interpolate1, i, mode);
        r.lut[i] = c.m_table[i];
        r.lutFormat[i] = TableFormat(c.m_table[i]);
    }
    for (int axis = 0; axis < 3; ++axis)
        interpolate |=
            NKW7_FIELD_AT(InterpolateControl, voxelExtendX, voxelExtendY, axis, ULMChipExtend(inExtend[axis]));
    r.interpolateControl = interpolate;
    for (int j = 0; j < ULMClassifier::kOperations; ++j) r.alu[j] = ULMChipAluWord(c.m_operation[j]);
    outRegisters = r;
    return kULMOK;
}

}  // namespace ulm3
