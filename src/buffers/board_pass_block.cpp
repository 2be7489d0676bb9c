#include "buffers/board_pass_block.h"

#include "foundation/message_log.h"

namespace ulm3 {
namespace {

// Sync test "greater": Scratch7 > 0 once the render has bumped it.
constexpr uint32_t kSyncGreater = 5;

}  // namespace

uint64_t ULMPassCoordinate(int64_t inValue) {
    return static_cast<uint64_t>(inValue) > 0xFFFF ? 0xFFFF : static_cast<uint64_t>(inValue);
}

uint64_t ULMPassCoordinates(int64_t inX, int64_t inY, int64_t inZ) {
    return ULMPassCoordinate(inX) | ULMPassCoordinate(inY) << 16 | ULMPassCoordinate(inZ) << 32;
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

void ULMBoardPassBlock::Write(std::span<const ULMPassRegister> inProgramme) {
    for (const ULMPassRegister& reg : inProgramme) {
        const ULMStatus status =
            NKW7_RegisterWidth(reg.address) == 64
                ? m_commands->WriteRegister64(reg.address, reg.value)
                : m_commands->WriteRegister32(reg.address, static_cast<uint32_t>(reg.value));
        if (status != kULMOK)
            ULMOutputMessage(m_failureFormat, reg.name, UlmGetStatusString(status),
                             static_cast<int>(status));
    }
}

void ULMBoardPassBlock::Close() {
    m_commands->Sync(NKW7_Scratch7_Addr, kSyncGreater, 0, false);
    m_commands->FinishBlock(m_blockSize);
}

ULMSyncEvent ULMBoardPassBlock::Submit(KWBBoard* inBoard, KWBBuffer* inVolume,
                                       KWBBuffer* inImage0, KWBBuffer* inImage1,
                                       uint32_t inWriteMask) {
    KWBBuffer* dummyLutArray[4] = {nullptr, nullptr, nullptr, nullptr};
    return inBoard->StartRender(ULMSyncEvent(kULMErrArgument), m_commands.get(), m_blockID,
                                m_blockSize, nullptr, 0, 0, inVolume, inImage0, inImage1,
                                nullptr, nullptr, inWriteMask, dummyLutArray, nullptr, nullptr,
                                nullptr, nullptr);
}

}  // namespace ulm3
