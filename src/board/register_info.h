// The library's view of the chip's register map: size and access flags per
// address, checked the way the command encoder needs them.
#pragma once

#include <cstdint>

#include "tulx7/register_map.h"

namespace ulm3 {

class RegisterInfo {
public:
    constexpr RegisterInfo() : m_size{}, m_flags{} {
        for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
            m_size[reg.addr >> 2] = reg.width;
            m_flags[reg.addr >> 2] = reg.flags;
        }
    }

    // Width in bits (32 or 64) of the register at addr, 0 for no register.
    // addr must be word-aligned and inside the map.
    uint32_t GetSize(uint32_t addr) const;

    // Flag tests. An address that holds no register (unaligned, beyond the
    // map, or a gap) has no flags.
    bool IsReadable(uint32_t addr) const { return (Flags(addr) & NKW7_Flags_Readable) != 0; }
    bool IsWriteable(uint32_t addr) const { return (Flags(addr) & NKW7_Flags_Writeable) != 0; }
    bool IsSyncable(uint32_t addr) const { return (Flags(addr) & NKW7_Flags_Syncable) != 0; }
    bool IsStoreable(uint32_t addr) const { return (Flags(addr) & NKW7_Flags_Storeable) != 0; }
    bool IsIncrementable(uint32_t addr) const {
        return (Flags(addr) & NKW7_Flags_Incrementable) != 0;
    }

    // Registers carry no names at run time; diagnostics print the address.
    const char* GetName(uint32_t addr) const;

private:
    uint8_t Flags(uint32_t addr) const {
        if ((addr & 0x3) != 0 || (addr >> 2) >= static_cast<uint32_t>(NKW7_Size_Array)) return 0;
        return m_flags[addr >> 2];
    }

    uint8_t m_size[NKW7_Size_Array];
    uint8_t m_flags[NKW7_Size_Array];
};

// Built at compile time, so it is ready before any static constructor runs.
extern const RegisterInfo sRegisterInfo;

}  // namespace ulm3
