#include "board/board_pass_block.h"

#include "board/kwb_buffer.h"
#include "board/kwb_sync_event.h"
#include "foundation/message_log.h"
#include "foundation/sync_event.h"
#include "tulx7/chip_codes.h"

namespace ulm3 {
namespace {

// Scratch7 > 0 once the render has bumped it.
constexpr uint32_t kSyncGreater = NKW7_CommandHeader_test_greater;

// Towards the eye along +w: a full positive magnitude, sign clear.
constexpr uint64_t kEyeAlongW = NKW7_FIELD(EyeVector, w, (1u << (NKW7_EyeVector_w_Size - 1)) - 1);
// Emissive 1.0, no diffuse or specular light: the colour is kept.
constexpr uint32_t kEmissiveOnly = NKW7_FIELD(LightingCoefficient, kEmissive, 255);
// Neither test compares a depth and no sample updates one.
constexpr uint32_t kNoDepth =
    NKW7_FIELD(DepthControl, testFirst, NKW7_DepthTest::Pass) |
    NKW7_FIELD(DepthControl, testLast, NKW7_DepthTest::Pass) |
    NKW7_FIELD(DepthControl, action, NKW7_DepthCombine::Off) |
    NKW7_FIELD(DepthControl, updateFirst_direction, NKW7_DirectionFilter::RejectAll) |
    NKW7_FIELD(DepthControl, updateLast_direction, NKW7_DirectionFilter::RejectAll);

// An 8 x 8 x 8 volume array at address 0, bound by a pass that samples no
// volume of its own.
std::vector<ULMPassRegister> DummyVolumeRegisters() {
    constexpr uint64_t kSeven = 7;
    return {
        ULM_PASS_REGISTER(VolumeArrayBase, 0),
        ULM_PASS_REGISTER(VolumeArraySize, NKW7_FIELD(VolumeArraySize, maxU, kSeven) |
                                               NKW7_FIELD(VolumeArraySize, maxV, kSeven) |
                                               NKW7_FIELD(VolumeArraySize, maxW, kSeven)),
        ULM_PASS_REGISTER(VolumeArrayOffsetModulus, 0),
        ULM_PASS_REGISTER(VolumeArrayDimensions, NKW7_FIELD(VolumeArrayDimensions, dimension, 2)),
        ULM_PASS_REGISTER(VolumeRangeMin, 0),
        ULM_PASS_REGISTER(VolumeRangeMax, NKW7_FIELD(VolumeRangeMax, u, kSeven) |
                                              NKW7_FIELD(VolumeRangeMax, v, kSeven) |
                                              NKW7_FIELD(VolumeRangeMax, w, kSeven)),
    };
}

// Where the pass samples: its frustum, the images' fields, neither cut
// planes nor crop, the trims, and the steps through the volume (no
// perspective terms).
std::vector<ULMPassRegister> SamplingRegisters(const ULMImagePassValues& v) {
    return {
        ULM_PASS_REGISTER(ViewFrustumRangeMin, v.frustumMin),
        ULM_PASS_REGISTER(ViewFrustumRangeMax, v.frustumMax),
        ULM_PASS_REGISTER(Transform, v.transform),
        ULM_PASS_REGISTER(Image0FieldSel, v.image0Fields),
        ULM_PASS_REGISTER(Image1FieldSel, v.image1Fields),
        ULM_PASS_REGISTER(CutPlaneControl, 0),
        ULM_PASS_REGISTER(CropControl, 0),
        ULM_PASS_REGISTER(TrimRangeXmin, v.trims[0]),
        ULM_PASS_REGISTER(TrimRangeXmax, v.trims[1]),
        ULM_PASS_REGISTER(TrimRangeYmin, v.trims[2]),
        ULM_PASS_REGISTER(TrimRangeYmax, v.trims[3]),
        ULM_PASS_REGISTER(TrimRangeZmin, v.trims[4]),
        ULM_PASS_REGISTER(TrimRangeZmax, v.trims[5]),
        ULM_PASS_REGISTER(OriginXv8, v.origin[0]),
        ULM_PASS_REGISTER(OriginYv8, v.origin[1]),
        ULM_PASS_REGISTER(OriginZv8, v.origin[2]),
        ULM_PASS_REGISTER(dXv8_dXs, v.step[0]),
        ULM_PASS_REGISTER(dYv8_dYs, v.step[1]),
        ULM_PASS_REGISTER(dZv8_dZs, v.step[2]),
        ULM_PASS_REGISTER(dXv8_dZs, v.cross[0]),
        ULM_PASS_REGISTER(dYv8_dZs, v.cross[1]),
        ULM_PASS_REGISTER(dYv8_dZv, v.cross[2]),
        ULM_PASS_REGISTER(dXv8_dZv, v.cross[3]),
        ULM_PASS_REGISTER(dYv8_dXs, v.cross[4]),
        ULM_PASS_REGISTER(dXv8_dYs, v.cross[5]),
        ULM_PASS_REGISTER(ddXv8_dXs_dZs, 0),
        ULM_PASS_REGISTER(ddXv8_dYs_dZs, 0),
        ULM_PASS_REGISTER(ddYv8_dXs_dZs, 0),
        ULM_PASS_REGISTER(ddYv8_dYs_dZs, 0),
        ULM_PASS_REGISTER(ddXv8_dXs_dZv, 0),
        ULM_PASS_REGISTER(ddXv8_dYs_dZv, 0),
        ULM_PASS_REGISTER(ddYv8_dXs_dZv, 0),
        ULM_PASS_REGISTER(ddYv8_dYs_dZv, 0),
    };
}

// What becomes of a sample: the voxel and table formats, the ALUs, light
// that keeps the colour, no depth, and the image's operation.
std::vector<ULMPassRegister> ShadingRegisters(const ULMImagePassValues& v) {
    return {
        ULM_PASS_REGISTER(VoxelFormat, v.voxelFormat),
        ULM_PASS_REGISTER(VoxelBorder, v.voxelBorder),
        ULM_PASS_REGISTER(LookupTableFormat0, v.lookupTableFormat[0]),
        ULM_PASS_REGISTER(LookupTableFormat1, v.lookupTableFormat[1]),
        ULM_PASS_REGISTER(LookupTableFormat2, v.lookupTableFormat[2]),
        ULM_PASS_REGISTER(LookupTableFormat3, v.lookupTableFormat[3]),
        ULM_PASS_REGISTER(Alu0, v.alu[0]),
        ULM_PASS_REGISTER(Alu1, v.alu[1]),
        ULM_PASS_REGISTER(Alu2, v.alu[2]),
        ULM_PASS_REGISTER(GradientCorrection0, 0),
        ULM_PASS_REGISTER(GradientCorrection1, 0),
        ULM_PASS_REGISTER(GradientCorrection2, 0),
        // Only the specular term reads the eye.
        ULM_PASS_REGISTER(EyeVector, kEyeAlongW),
        ULM_PASS_REGISTER(LightingCoefficient, kEmissiveOnly),
        ULM_PASS_REGISTER(GradientMagnitudeModulation, NKW7_FIELD(GradientMagnitudeModulation, upperRangeDefault, 1)),
        ULM_PASS_REGISTER(ImageAccumValue, v.accumValue),
        ULM_PASS_REGISTER(ImageLastValue, v.lastValue),
        ULM_PASS_REGISTER(Section, v.section),
        ULM_PASS_REGISTER(SequencerDebug, 0),
        ULM_PASS_REGISTER(InterpolateControl, v.interpolateControl),
        ULM_PASS_REGISTER(GradientControl,
                          NKW7_FIELD(GradientControl, estimationFunction, NKW7_GradientEstimation::Central)),
        ULM_PASS_REGISTER(DepthControl, kNoDepth),
        ULM_PASS_REGISTER(ImageControl, v.imageControl),
        ULM_PASS_REGISTER(RenderOperation, v.renderOperation),
    };
}

}  // namespace

uint64_t ULMPassCoordinate(int64_t inValue) {
    return static_cast<uint64_t>(inValue) > 0xFFFF ? 0xFFFF : static_cast<uint64_t>(inValue);
}

uint64_t ULMPassCoordinates(int64_t inX, int64_t inY, int64_t inZ) {
    return NKW7_FIELD(ViewFrustumRangeMin, x, ULMPassCoordinate(inX)) |
           NKW7_FIELD(ViewFrustumRangeMin, y, ULMPassCoordinate(inY)) |
           NKW7_FIELD(ViewFrustumRangeMin, z, ULMPassCoordinate(inZ));
}

std::vector<ULMPassRegister> ULMImagePassProgramme(const ULMImagePassValues& v) {
    std::vector<ULMPassRegister> programme;
    if (v.dummyVolume) programme = DummyVolumeRegisters();
    const std::vector<ULMPassRegister> sampling = SamplingRegisters(v);
    const std::vector<ULMPassRegister> shading = ShadingRegisters(v);
    programme.insert(programme.end(), sampling.begin(), sampling.end());
    programme.insert(programme.end(), shading.begin(), shading.end());
    return programme;
}

ULMBoardPassBlock::ULMBoardPassBlock(KWBCommandBuffer* inCommands, const char* inFailureFormat)
    : m_commands(inCommands), m_failureFormat(inFailureFormat) {}

ULMBoardPassBlock::~ULMBoardPassBlock() = default;

ULMStatus ULMBoardPassBlock::Open() {
    if (m_commands == nullptr) return kULMErrAlloc;
    m_blockSize = 0;
    ULMStatus status = m_commands->StartBlock(m_blockID);
    if (status != kULMOK) return status;
    status = m_commands->WriteRegister32(NKW7_Scratch7_Addr, 0);
    if (status != kULMOK) {
        m_commands->FinishBlock(m_blockSize);
        m_commands->ReleaseBlock(m_blockID, m_blockSize);
    }
    return status;
}

void ULMBoardPassBlock::Write(std::span<const ULMPassRegister> inProgramme, FailureArguments inArguments) {
    for (const ULMPassRegister& reg : inProgramme) {
        const ULMStatus status =
            NKW7_RegisterWidth(reg.address) == 64
                ? m_commands->WriteRegister64(reg.address, reg.value)
                : m_commands->WriteRegister32(reg.address, static_cast<uint32_t>(reg.value));
        if (status == kULMOK) continue;
        if (inArguments == FailureArguments::kNumber)
            ULMOutputMessage(m_failureFormat, reg.name, static_cast<int>(status));
        else
            ULMOutputMessage(m_failureFormat, reg.name, UlmGetStatusString(status),
                             static_cast<int>(status));
    }
}

ULMStatus ULMBoardPassBlock::Close() {
    m_commands->Sync(NKW7_Scratch7_Addr, kSyncGreater, 0, false);
    return m_commands->FinishBlock(m_blockSize);
}

ULMSyncEvent ULMBoardPassBlock::Submit(KWBBoard* inBoard, KWBBuffer* inVolume,
                                       KWBBuffer* inImage0, KWBBuffer* inImage1,
                                       uint32_t inWriteMask, KWBBuffer* const* inLuts,
                                       ULMSyncEvent inLastRender) {
    ULMBoardRenderBuffers buffers;
    buffers.volume = inVolume;
    buffers.image0 = inImage0;
    buffers.image1 = inImage1;
    buffers.writeMask = inWriteMask;
    if (inLuts != nullptr)
        for (int i = 0; i < 4; ++i) buffers.luts[i] = inLuts[i];
    return SubmitRender(inBoard, inLastRender, buffers);
}

ULMSyncEvent ULMWithInputLoads(const ULMSyncEvent& inJob, const ULMBoardRenderBuffers& inBuffers) {
    if (ULMFailed(inJob.Status())) return inJob;
    const KWBBuffer* const inputs[] = {inBuffers.volume,     inBuffers.luts[0],        inBuffers.luts[1],
                                       inBuffers.luts[2],    inBuffers.luts[3],        inBuffers.diffuseMap,
                                       inBuffers.specularMap, inBuffers.gradientTable, inBuffers.alphaCorrectionTable};
    ULMEventJoin join;
    join.Add(inJob);
    for (const KWBBuffer* input : inputs) {
        if (input == nullptr) continue;
        const ULMSyncEvent load = input->GetLoadEvent();
        if (!KWBSyncEvent(load).IsHardwareSync()) continue;
        // Loads long over and done leave nothing to wait for, nor does a
        // load its caller aborted before it ran: it left the buffer as it
        // was, and its abort was answered to whoever aborted it.
        const ULMStatus over = load.Wait(0);
        if (over == kULMOK || over == kULMErrAborted) continue;
        join.Add(load);
    }
    return join.Result();
}

ULMSyncEvent ULMBoardPassBlock::SubmitRender(KWBBoard* inBoard, const ULMSyncEvent& inLastRender,
                                             const ULMBoardRenderBuffers& inBuffers) {
    KWBBuffer* luts[4] = {inBuffers.luts[0], inBuffers.luts[1], inBuffers.luts[2], inBuffers.luts[3]};
    return inBoard->StartRender(inLastRender, m_commands.get(), m_blockID, m_blockSize, nullptr, 0, 0,
                                inBuffers.volume, inBuffers.image0, inBuffers.image1, inBuffers.depth0,
                                inBuffers.depth1, inBuffers.writeMask, luts, inBuffers.diffuseMap,
                                inBuffers.specularMap, inBuffers.gradientTable, inBuffers.alphaCorrectionTable);
}

}  // namespace ulm3
