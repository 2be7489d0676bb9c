// The register programme of one render: every render register from the
// sample space, the classifier and the output buffers, written as one block.
#pragma once

#include <cstdint>

#include "board/board_pass_block.h"
#include "board/ulm_all_render_registers.h"
#include "context/classifier_internal.h"
#include "ulm3/context.h"
#include "ulm3/matrix.h"
#include "ulm3/status.h"
#include "ulm3/volume.h"

namespace ulm3 {

class ULMContext;
class ULMDepthBuffer;
class ULMImageBuffer;
class ULMSampleSpace;

// A 64-bit chip colour: four 16-bit lanes from bit 0 (red, green, blue,
// alpha), each the channel's 12-bit value shifted left by 4.
uint64_t ConvertImageColor(double inRed, double inGreen, double inBlue, double inAlpha);

struct ULMRenderInputs {
    const ULMContext* context = nullptr;
    const ULMSampleSpace* sampleSpace = nullptr;
    ULMClassifierRegisters classifier;
    uint64_t voxelBorder = 0;
    const ULMImageBuffer* image0 = nullptr;  // as given, null when absent
    const ULMImageBuffer* image1 = nullptr;
    uint32_t writeMask = 0;  // 1 image 0, 2 image 1, 4 depth 0, 8 depth 1
    bool tableLoaded[4] = {};
    const ULMDepthBuffer* depth[2] = {};  // the needed ones only
    bool lit = false;          // light maps bound: gradients, eye vector and coefficients set
    bool modulated = false;    // the gradient-magnitude table bound
    bool alphaCorrected = false;  // the alpha-correction table bound
    double correction[3] = {};  // non-zero: the gradient is scaled per volume axis by these
    // A render into a volume (null: into the images): its buffer is image
    // 0, one sample per voxel, and the mode says what the voxels take.
    const ULMVolume* outputVolume = nullptr;
    ULMVolume::RenderToVolumeMode outputVolumeMode = ULMVolume::kRenderToVolumeNone;
};

// For a correction matrix that scales the volume's axes unequally and does
// nothing else, the factors that turn voxel gradients into gradients of the
// unscaled object (largest 1); false, and no factors, otherwise. Lights are
// then taken into the volume through the model matrix alone.
bool ULMGradientCorrection(const ULMMatrix& inCorrection, double outFactors[3]);

// Whether a render reads or writes depth buffer inNumber: its test is
// evaluated while the tests combined depend on depth, or its update filter
// can pass.
bool IsDepthBufferNeeded(const ULMContext* inContext, int inNumber);
// Whether an update filter that can pass reads the sample's gradient: its
// direction or its magnitude.
bool FilterReadsGradient(ULMContext::FilterTest inFilter);

// Fills every register a render writes; the driver-set array registers
// are left as they are.
void ULMFillRenderRegisters(const ULMRenderInputs& inInputs, ULMAllRenderRegisters& outRegisters);

// Opens the block (Scratch7 reset), writes the render register group in
// address order, RenderOperation last, and closes it with the check that
// the render ran.
ULMStatus ULMWriteRenderProgramme(ULMBoardPassBlock& ioBlock, const ULMAllRenderRegisters& inRegisters);

}  // namespace ulm3
