// Reads a command block back the way the chip executes it, for checking the
// encoder's words independently of how they were made.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tulx7/register_map.h"

namespace ulm3::test {

struct DecodedCommand {
    uint32_t cmd = 0;
    uint64_t header = 0;
    std::vector<uint64_t> data;  // words after the header
};

struct DecodedBlock {
    std::map<uint32_t, uint64_t> registers;  // register address -> last value loaded
    std::vector<DecodedCommand> commands;
    std::vector<std::string> errors;
};

inline DecodedBlock DecodeBlock(const std::vector<uint64_t>& words) {
    DecodedBlock out;
    size_t i = 0;
    auto error = [&](const std::string& what) { out.errors.push_back(std::to_string(i) + ": " + what); };
    while (i < words.size()) {
        DecodedCommand command;
        command.header = words[i];
        command.cmd = static_cast<uint32_t>(command.header >> NKW7_CommandHeader_cmd_LoBit);
        const uint32_t reg = static_cast<uint32_t>(command.header & 0xFFF);
        ++i;
        if (command.cmd == NKW7_CommandHeader_cmd_loadReg) {
            const uint64_t mask =
                NKW7_ExtractField(command.header, NKW7_CommandHeader_mask_LoBit, NKW7_CommandHeader_mask_Size);
            if (mask == 0) error("loadReg without data");
            for (int bit = 0; bit < NKW7_CommandHeader_mask_Size; ++bit) {
                if ((mask >> bit & 1) == 0) continue;
                if (i >= words.size()) {
                    error("loadReg cut short");
                    break;
                }
                const uint64_t data = words[i++];
                command.data.push_back(data);
                const uint32_t addr = reg + 8 * static_cast<uint32_t>(bit);
                const NKW7_RegisterEntry* entry = NKW7_FindRegister(addr);
                if (entry == nullptr || !entry->IsWriteable()) {
                    error("load of a register that is not writeable");
                    continue;
                }
                if (entry->width == 64) {
                    out.registers[addr] = data;
                    continue;
                }
                out.registers[addr] = data & 0xFFFFFFFFu;
                const NKW7_RegisterEntry* upper = NKW7_FindRegister(addr + 4);
                if (upper != nullptr && upper->IsWriteable() && upper->width == 32)
                    out.registers[addr + 4] = data >> 32;
                else if ((data >> 32) != 0)
                    error("upper half for a register that is not writeable");
            }
        } else if (command.cmd == NKW7_CommandHeader_cmd_storeReg) {
            if (i < words.size()) command.data.push_back(words[i++]);
            else error("storeReg cut short");
        } else if (command.cmd == NKW7_CommandHeader_cmd_dmaIn ||
                   command.cmd == NKW7_CommandHeader_cmd_dmaOut) {
            for (;;) {
                if (i + 1 >= words.size()) {
                    error("DMA without terminator");
                    i = words.size();
                    break;
                }
                const uint64_t host = words[i++];
                const uint64_t lengthAndIncr = words[i++];
                command.data.push_back(host);
                command.data.push_back(lengthAndIncr);
                if (host == 0 && lengthAndIncr == 0) break;
            }
        }
        out.commands.push_back(command);
    }
    return out;
}

}  // namespace ulm3::test
