#include "buffers/image_convert_3d.h"

#include <cstdint>

#include "buffers/image_buffer_internal.h"
#include "foundation/field_conversions.h"
#include "foundation/fixed_point.h"
#include "tulx7/chip_codes.h"

namespace ulm3 {
namespace {

// Maximum coordinates 7, 7, 7: a small volume that no sample ever reaches,
// since no volume buffer is bound.
constexpr uint64_t kDummyVolumeMax = NKW7_FIELD(VolumeArraySize, maxU, 7) | NKW7_FIELD(VolumeArraySize, maxV, 7) |
                                     NKW7_FIELD(VolumeArraySize, maxW, 7);
static_assert(NKW7_VolumeArraySize_maxV_LoBit == NKW7_VolumeRangeMax_v_LoBit &&
              NKW7_VolumeArraySize_maxW_LoBit == NKW7_VolumeRangeMax_w_LoBit);
constexpr uint32_t kWritesImage1 = NKW7_Code(NKW7_ImageWrite::Image1);

}  // namespace

std::vector<ULMPassRegister> ConvertTo3DProgramme(uint32_t inImageFormat,
                                                  const KWBRange& inWindow) {
    ULMImagePassValues values;
    values.frustumMin = ULMPassCoordinates(inWindow.minU, inWindow.minV, 0);
    values.frustumMax = ULMPassCoordinates(inWindow.maxU, inWindow.maxV, 0);
    values.image0Fields = values.image1Fields = inImageFormat;
    values.step[0] = values.step[1] = values.step[2] = kULMFixedOne2340;
    values.section = NKW7_FIELD(Section, sizeY, 3) | NKW7_FIELD(Section, sizeX, 3);
    // initAccum and write to image 1: each pixel starts as the old one, raw
    // bits included, and is written out unchanged.
    values.imageControl =
        NKW7_FIELD(ImageControl, initAccum, 1) | NKW7_FIELD(ImageControl, write, NKW7_ImageWrite::Image1);
    std::vector<ULMPassRegister> programme = {
        ULM_PASS_REGISTER(VolumeArrayBase, 0),
        ULM_PASS_REGISTER(VolumeArraySize, kDummyVolumeMax),
        ULM_PASS_REGISTER(VolumeArrayOffsetModulus, 0),
        ULM_PASS_REGISTER(VolumeArrayDimensions,
                          NKW7_FIELD(VolumeArrayDimensions, dimension, NKW7_ArrayDimension::ThreeAxes)),
        ULM_PASS_REGISTER(VolumeRangeMin, 0),
        ULM_PASS_REGISTER(VolumeRangeMax, kDummyVolumeMax),
    };
    const std::vector<ULMPassRegister> rest = ULMImagePassProgramme(values);
    programme.insert(programme.end(), rest.begin(), rest.end());
    return programme;
}

ULMStatus ULMImageBufferInternal::ConvertTo3D() {
    ULM_ASSERT_TEXT(m_board != nullptr, "m_board != NULL");
    ULM_ASSERT_TEXT(m_buffer != nullptr, "m_buffer != NULL");
    if (m_is3D) return kULMOK;
    if (m_pixelSize > 32) return kULMErrUnimplemented;
    if (m_openMappings > 0) return kULMErrBuffer;

    // Everything the image reaches is copied: under wrap that is every
    // residue its storage holds, which a modulus above the image's size
    // makes more than width x height.
    const bool wrap = m_addressMode == kULMWrapAddress;
    const ULMImageRange reach = ReachableRange();
    const int64_t minU = reach.XOrigin();
    const int64_t minV = reach.YOrigin();
    const int64_t maxU = minU + reach.XSize() - 1;
    const int64_t maxV = minV + reach.YSize() - 1;
    // The chip's ray grid is unsigned 16-bit: a window outside it would copy
    // nothing, yet the image would then swap to a buffer of garbage.
    if (minU < 0 || minV < 0 || maxU > INT16_MAX || maxV > INT16_MAX) return kULMErrArgument;

    ULMStatus status = kULMOK;
    KWBBuffer* pBuffer =
        m_board->CreateBuffer(static_cast<uint32_t>(reach.XSize()),
                              static_cast<uint32_t>(reach.YSize()), 1, m_pixelSize, status);
    if (pBuffer == nullptr || status != kULMOK) {
        if (pBuffer != nullptr) m_board->ReleaseBuffer(pBuffer, false);
        return kULMErrAlloc;
    }
    // The new buffer must address the image's coordinates when the copy is
    // submitted, since the board takes its addressing at submission.
    pBuffer->SetOffsetOrWrap(wrap, m_addressParameterX, m_addressParameterY, 0);

    ULMBoardPassBlock block(m_board->CreateCommandBuffer(ULMBoardPassBlock::kCommandWords),
                            kConvertTo3DWriteFailure);
    status = block.Open();
    if (status != kULMOK) {
        m_board->ReleaseBuffer(pBuffer, false);
        return status;
    }

    const int16_t saveMinU = m_buffer->m_min_U, saveMinV = m_buffer->m_min_V;
    const int16_t saveMaxU = m_buffer->m_max_U, saveMaxV = m_buffer->m_max_V;
    m_buffer->m_min_U = static_cast<int16_t>(minU);
    m_buffer->m_min_V = static_cast<int16_t>(minV);
    m_buffer->m_max_U = static_cast<int16_t>(maxU);
    m_buffer->m_max_V = static_cast<int16_t>(maxV);
    m_buffer->m_min_W = m_buffer->m_max_W = 0;

    uint32_t imageFormat = 0;
    for (int i = 0; i < 4; ++i) imageFormat |= NKW7_FieldCodeAt(HWFieldFormat(m_fieldList[i]), i);
    const KWBRange window(m_buffer->m_min_U, m_buffer->m_min_V, 0, m_buffer->m_max_U,
                          m_buffer->m_max_V, 0);
    block.Write(ConvertTo3DProgramme(imageFormat, window));
    block.Close();

    status = block.Submit(m_board, nullptr, m_buffer, pBuffer, kWritesImage1).Status();
    if (!ULMFailed(status)) {
        // The board keeps the old storage until the queued copy has read it.
        m_board->ReleaseBuffer(m_buffer, false);
        SetBuffer(pBuffer);
        m_is3D = true;
        // The valid range belongs to the buffer: give the new one the limits.
        SetInputLimits(m_inputLimits);
    } else {
        m_buffer->m_min_U = saveMinU;
        m_buffer->m_min_V = saveMinV;
        m_buffer->m_max_U = saveMaxU;
        m_buffer->m_max_V = saveMaxV;
        m_board->ReleaseBuffer(pBuffer, false);
    }
    return status;
}

}  // namespace ulm3
