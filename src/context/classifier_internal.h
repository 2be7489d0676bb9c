// What the render engine and the board passes read of a classifier: its
// chip register values for a volume.
#pragma once

#include <cstdint>

#include "ulm3/classifier.h"
#include "ulm3/volume.h"

namespace ulm3 {

// The classifier's chip register values.
struct ULMClassifierRegisters {
    uint64_t voxelFormat = 0;
    uint32_t interpolateControl = 0;
    ULMLookupTable* lut[ULMClassifier::kTables] = {};
    uint32_t lutFormat[ULMClassifier::kTables] = {};
    uint32_t alu[ULMClassifier::kOperations] = {};
};

class ULMClassifierInternal {
public:
    explicit ULMClassifierInternal(const ULMClassifier& inClassifier) : m_classifier(inClassifier) {}

    // VoxelFormat, InterpolateControl (without interpolateGradient, which the
    // engine sets when it reads gradients), the four tables (borrowed; null
    // where the classifier has none, and a table of 0 entries is bypassed)
    // with their LookupTableFormat words, and the three Alu words. Gradient
    // fields other than 0 must name fields the volume has. kULMErrClassifier
    // for an invalid classifier or a missing gradient field, kULMErrVolume
    // for no volume; the outputs are then untouched.
    ULMStatus ComputeHardwareRegisters(const ULMVolume* inVolume, uint64_t& outVoxelFormat,
                                       uint32_t& outInterpolateControl, ULMLookupTable* outLut[4],
                                       uint32_t outLutFormat[4], uint32_t outAlu[3],
                                       ULMFieldNumber ioGradientFields[3]) const;

    // The same from a volume's four field descriptors and its extend modes
    // along X, Y and Z.
    ULMStatus ComputeRegisters(const ULMFieldDescriptor inFields[4], const ULMVolume::ExtendMode inExtend[3],
                               ULMFieldNumber ioGradientFields[3],
                               ULMClassifierRegisters& outRegisters) const;

    // DirectRGBA(0, 1, 2, 3), made on first use so that no static
    // initialiser depends on another.
    static const ULMClassifier& DirectRGBAClassifier();

private:
    const ULMClassifier& m_classifier;
};

}  // namespace ulm3
