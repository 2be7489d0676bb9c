#include "board/register_info.h"

#include "foundation/diagnostics.h"

namespace ulm3 {

constinit const RegisterInfo sRegisterInfo{};

uint32_t RegisterInfo::GetSize(uint32_t addr) const {
    ULM_ASSERT((addr & 0x3) == 0);
    ULM_ASSERT(addr <= NKW7_Max_Addr);
    return m_size[addr >> 2];
}

const char* RegisterInfo::GetName(uint32_t) const { return ""; }

}  // namespace ulm3
