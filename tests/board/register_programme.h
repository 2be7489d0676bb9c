// Random legal register programmes for round trips through the command
// encoder and the simulated board.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "board/kwb_command_buffer.h"
#include "tulx7/register_map.h"

namespace ulm3::test_support {

struct RegisterWrite {
    uint32_t address;
    int width;  // 32 or 64
    uint64_t value;
};

// `count` random writes to the writeable registers the encoder can reach,
// each pair of neighbouring 32-bit registers written together, lower half
// first. RenderOperation is left out: writing it starts a render.
inline std::vector<RegisterWrite> RandomRegisterWrites(std::mt19937_64& random, int count) {
    std::vector<const NKW7_RegisterEntry*> candidates;
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
        if (!reg.IsWriteable() || reg.addr == NKW7_RenderOperation_Addr) continue;
        // An upper half only travels with its lower neighbour.
        if (reg.width == 32 && (reg.addr & 7) != 0) continue;
        candidates.push_back(&reg);
    }
    std::vector<RegisterWrite> writes;
    for (int i = 0; i < count; ++i) {
        const NKW7_RegisterEntry& reg = *candidates[random() % candidates.size()];
        if (reg.width == 64) {
            writes.push_back({reg.addr, 64, random()});
            continue;
        }
        writes.push_back({reg.addr, 32, random() & 0xFFFFFFFFu});
        const NKW7_RegisterEntry* upper = NKW7_FindRegister(reg.addr + 4u);
        if (upper != nullptr && upper->IsWriteable())
            writes.push_back({upper->addr, 32, random() & 0xFFFFFFFFu});
    }
    return writes;
}

// Appends the writes to the open block of `buffer`.
inline void EncodeWrites(KWBCommandBuffer& buffer, const std::vector<RegisterWrite>& writes) {
    for (const RegisterWrite& write : writes) {
        const ULMStatus status =
            write.width == 64 ? buffer.WriteRegister64(write.address, write.value)
                              : buffer.WriteRegister32(write.address, static_cast<uint32_t>(write.value));
        ASSERT_EQ(status, kULMOK) << std::hex << "register 0x" << write.address;
    }
}

// Every register's power-on value with the writes applied in order.
inline std::map<uint32_t, uint64_t> ExpectedRegisters(const std::vector<RegisterWrite>& writes) {
    std::map<uint32_t, uint64_t> expected;
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) expected[reg.addr] = reg.init;
    for (const RegisterWrite& write : writes) expected[write.address] = write.value;
    return expected;
}

}  // namespace ulm3::test_support
