#include "board/ulm_all_render_registers.h"

#include <array>

#include "board/kwb_command_buffer.h"
#include "tulx7/register_groups.h"

namespace ulm3 {

namespace {

// The copy's fields must agree with the chip's map in width, and with the
// register groups in order, or a group written from the copy would put
// values in the wrong registers.
#define ULM_CHECK_WIDTH(name, bits) \
    static_assert(NKW7_##name##_Size == (bits), #name " has the wrong width in the host copy");
ULM_ALL_RENDER_REGISTERS(ULM_CHECK_WIDTH)
#undef ULM_CHECK_WIDTH

#define ULM_LIST_ADDRESS(name, bits) static_cast<uint16_t>(NKW7_##name##_Addr),
constexpr std::array<uint16_t, kULMAllRenderRegisterAddrs.size()> kCopyOrder = {
    ULM_ALL_RENDER_REGISTERS(ULM_LIST_ADDRESS)};
#undef ULM_LIST_ADDRESS
static_assert(kCopyOrder == kULMAllRenderRegisterAddrs,
              "the host copy lists the render registers in the groups' order");

}  // namespace

void ULMAllRenderRegisters::ClearAll() {
    const uint64_t addressOperand = m_AddressOperand;
#define ULM_CLEAR_REGISTER(name, bits) m_##name = 0;
    ULM_ALL_RENDER_REGISTERS(ULM_CLEAR_REGISTER)
#undef ULM_CLEAR_REGISTER
    m_AddressOperand = addressOperand;
}

bool ULMAllRenderRegisters::Get(uint32_t addr, uint64_t& outValue) const {
    switch (addr) {
#define ULM_GET_REGISTER(name, bits) \
    case NKW7_##name##_Addr:         \
        outValue = m_##name;         \
        return true;
        ULM_ALL_RENDER_REGISTERS(ULM_GET_REGISTER)
#undef ULM_GET_REGISTER
        default:
            outValue = 0;
            return false;
    }
}

bool ULMAllRenderRegisters::Set(uint32_t addr, uint64_t value) {
    switch (addr) {
#define ULM_SET_REGISTER(name, bits)                                     \
    case NKW7_##name##_Addr:                                             \
        if ((bits) == 32 && (value >> 32) != 0) return false;            \
        m_##name = static_cast<uint##bits##_t>(value);                   \
        return true;
        ULM_ALL_RENDER_REGISTERS(ULM_SET_REGISTER)
#undef ULM_SET_REGISTER
        default:
            return false;
    }
}

ULMStatus ULMAllRenderRegisters::WriteRegisters(KWBCommandBuffer& buffer,
                                                std::span<const uint16_t> group) const {
    for (const uint16_t addr : group) {
        uint64_t value = 0;
        if (!Get(addr, value)) return kULMErrArgument;
        const ULMStatus status =
            NKW7_RegisterWidth(addr) == 64
                ? buffer.WriteRegister64(addr, value)
                : buffer.WriteRegister32(addr, static_cast<uint32_t>(value));
        if (ULMFailed(status)) return status;
    }
    return kULMOK;
}

}  // namespace ulm3
