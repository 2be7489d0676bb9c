// The render queue's command interpreter. The model is serial: every command
// has finished, renders included, before the next word is looked at, so a
// sync is evaluated at once and never waits.
#include "tulx7sim/command_executor.h"

#include <cstdarg>
#include <cstdio>

#include "tulx7/driver_requests.h"
#include "tulx7/chip_codes.h"
#include "tulx7/register_map.h"

namespace tulx7sim {

namespace {

constexpr uint64_t kFlagBits = uint64_t{0xF} << 56;  // interrupt, haltAll, halt and bit 56
constexpr uint64_t kSyncReservedBits = uint64_t{0x7F} << 48;

uint32_t CommandCode(uint64_t word) {
    return static_cast<uint32_t>(
        NKW7_ExtractField(word, NKW7_CommandHeader_cmd_LoBit, NKW7_CommandHeader_cmd_Size));
}

bool Writeable(uint32_t address) { return (NKW7_RegisterFlags(address) & NKW7_Flags_Writeable) != 0; }

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

const char* CommandName(uint32_t code) {
    switch (code) {
        case NKW7_CommandHeader_cmd_dmaOut:
            return "DMA out";
        case NKW7_CommandHeader_cmd_dmaIn:
            return "DMA in";
        case NKW7_CommandHeader_cmd_storeReg:
            return "register store";
        case NKW7_CommandHeader_cmd_incrReg:
            return "register increment";
        case NKW7_CommandHeader_cmd_call:
            return "call";
        case NKW7_CommandHeader_cmd_return:
            return "return";
        default:
            return nullptr;
    }
}

bool SyncHolds(uint32_t test, uint32_t registerValue, uint32_t value) {
    switch (test) {
        case NKW7_CommandHeader_test_fail:
            return false;
        case NKW7_CommandHeader_test_less:
            return registerValue < value;
        case NKW7_CommandHeader_test_lessOrEqual:
            return registerValue <= value;
        case NKW7_CommandHeader_test_equal:
            return registerValue == value;
        case NKW7_CommandHeader_test_greaterOrEqual:
            return registerValue >= value;
        case NKW7_CommandHeader_test_greater:
            return registerValue > value;
        case NKW7_CommandHeader_test_notEqual:
            return registerValue != value;
        default:  // succeed
            return true;
    }
}

// Three signed 16-bit coordinates as the array registers pack them: axis 0
// in bits 15..0, axis 1 in 31..16, axis 2 in 47..32.
uint64_t PackAxes(const int32_t (&values)[3], int32_t bias = 0) {
    uint64_t word = 0;
    for (int axis = 0; axis < 3; ++axis)
        word |= (static_cast<uint64_t>(static_cast<uint32_t>(values[axis] + bias)) & 0xFFFF)
                << (16 * axis);
    return word;
}

// The array registers of one buffer slot, and where the job binds it.
struct ArraySlot {
    const BoundArray RenderJob::*array;
    uint32_t base, size, offsetModulus, dimensions, rangeMin, rangeMax;
};

constexpr ArraySlot kArraySlots[] = {
    {&RenderJob::volume, NKW7_VolumeArrayBase_Addr, NKW7_VolumeArraySize_Addr,
     NKW7_VolumeArrayOffsetModulus_Addr, NKW7_VolumeArrayDimensions_Addr, NKW7_VolumeRangeMin_Addr,
     NKW7_VolumeRangeMax_Addr},
    {&RenderJob::depth0, NKW7_Depth0ArrayBase_Addr, NKW7_Depth0ArraySize_Addr,
     NKW7_Depth0ArrayOffsetModulus_Addr, NKW7_Depth0ArrayDimensions_Addr,
     NKW7_Depth0InitRangeMin_Addr, NKW7_Depth0InitRangeMax_Addr},
    {&RenderJob::depth1, NKW7_Depth1ArrayBase_Addr, NKW7_Depth1ArraySize_Addr,
     NKW7_Depth1ArrayOffsetModulus_Addr, NKW7_Depth1ArrayDimensions_Addr,
     NKW7_Depth1InitRangeMin_Addr, NKW7_Depth1InitRangeMax_Addr},
    {&RenderJob::image0, NKW7_Image0ArrayBase_Addr, NKW7_Image0ArraySize_Addr,
     NKW7_Image0ArrayOffsetModulus_Addr, NKW7_Image0ArrayDimensions_Addr,
     NKW7_Image0InitRangeMin_Addr, NKW7_Image0InitRangeMax_Addr},
    {&RenderJob::image1, NKW7_Image1ArrayBase_Addr, NKW7_Image1ArraySize_Addr,
     NKW7_Image1ArrayOffsetModulus_Addr, NKW7_Image1ArrayDimensions_Addr,
     NKW7_Image1InitRangeMin_Addr, NKW7_Image1InitRangeMax_Addr},
};

}  // namespace

void ResetChipRegisters(RegisterFile& registers) {
    registers.Clear();
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) {
        if (reg.width == 64)
            registers.Write64(reg.addr, reg.init);
        else
            registers.Write32(reg.addr, static_cast<uint32_t>(reg.init));
    }
}

CommandExecutor::CommandExecutor(RegisterFile& registers, ChipModel& chip, const RenderJob& job)
    : m_registers(registers), m_chip(chip), m_job(job) {}

void CommandExecutor::LoadArrayRegisters() {
    for (const ArraySlot& slot : kArraySlots) {
        const BoundArray& array = m_job.*slot.array;
        uint64_t size = 0, offsetModulus = 0, rangeMin = 0, rangeMax = 0;
        uint32_t dimensions = 0;
        if (array.bound) {
            size = PackAxes(array.size, -1);
            offsetModulus = PackAxes(array.offsetModulus);
            rangeMin = PackAxes(array.rangeMin);
            rangeMax = PackAxes(array.rangeMax);
            dimensions = static_cast<uint32_t>((array.elementBytes - 1) & 0xF) |
                         static_cast<uint32_t>(array.dimension & 0x3) << 4 |
                         (array.wrap ? 1u : 0u) << 6;
        }
        // The base does not locate data in this board's memory model; a
        // bound slot is known by its buffer, not by an address.
        m_registers.Write64(slot.base, 0);
        m_registers.Write64(slot.size, size);
        m_registers.Write64(slot.offsetModulus, offsetModulus);
        m_registers.Write32(slot.dimensions, dimensions);
        m_registers.Write64(slot.rangeMin, rangeMin);
        m_registers.Write64(slot.rangeMax, rangeMax);
    }
}

int32_t CommandExecutor::Run(std::span<const uint64_t> words, const char* blockName,
                             std::string& diagnostic) {
    m_chipStatus = TULX7_DR_STATUS_SUCCESS;
    for (size_t index = 0; index < words.size(); ++index) {
        const uint64_t word = words[index];
        const uint32_t code = CommandCode(word);
        std::string fault;
        if (code == NKW7_CommandHeader_cmd_loadReg) {
            fault = LoadRegisters(words, index);
        } else if (code == NKW7_CommandHeader_cmd_sync) {
            fault = Sync(word);
        } else if (code == NKW7_CommandHeader_cmd_noop) {
            if ((word & kFlagBits) != 0) fault = "no-op with flags";
        } else if (const char* name = CommandName(code)) {
            fault = Format("%s commands are not executed in a render block", name);
        } else {
            fault = Format("command code %u does not exist", code);
        }
        if (!fault.empty()) {
            diagnostic = Format("%s block word %zu: ", blockName, index) + fault;
            return m_chipStatus != TULX7_DR_STATUS_SUCCESS ? m_chipStatus
                                                           : TULX7_DR_STATUS_HW_ERROR;
        }
    }
    return TULX7_DR_STATUS_SUCCESS;
}

// On return `index` is the last word consumed, or the word at fault.
std::string CommandExecutor::LoadRegisters(std::span<const uint64_t> words, size_t& index) {
    const uint64_t header = words[index];
    if ((header & kFlagBits) != 0) return "register load with flags";
    const uint32_t base = static_cast<uint32_t>(
        NKW7_ExtractField(header, NKW7_CommandHeader_reg_LoBit, NKW7_CommandHeader_reg_Size));
    const uint64_t mask =
        NKW7_ExtractField(header, NKW7_CommandHeader_mask_LoBit, NKW7_CommandHeader_mask_Size);
    if (mask == 0) return "register load without data";
    for (int bit = 0; bit < NKW7_CommandHeader_mask_Size; ++bit) {
        if ((mask >> bit & 1) == 0) continue;
        const uint32_t address = base + 8 * static_cast<uint32_t>(bit);
        if (index + 1 >= words.size())
            return Format("register load cut short before register 0x%03X", address);
        const uint64_t data = words[++index];
        if (!Writeable(address))
            return Format("load of 0x%03X, which is not a writeable register", address);
        if (NKW7_RegisterWidth(address) == 64) {
            m_registers.Write64(address, data);
            continue;
        }
        std::string fault = Store32(address, static_cast<uint32_t>(data));
        if (!fault.empty()) return fault;
        const uint32_t upper = static_cast<uint32_t>(data >> 32);
        const uint32_t neighbour = address + 4;
        if (Writeable(neighbour) && NKW7_RegisterWidth(neighbour) == 32) {
            fault = Store32(neighbour, upper);
            if (!fault.empty()) return fault;
        } else if (upper != 0) {
            return Format("bits 63..32 set for 0x%03X, whose neighbour is not a writeable register",
                          address);
        }
    }
    return {};
}

std::string CommandExecutor::Sync(uint64_t word) {
    if ((word & (kFlagBits | kSyncReservedBits)) != 0) return "sync with flags or reserved bits";
    const uint32_t address = static_cast<uint32_t>(
        NKW7_ExtractField(word, NKW7_CommandHeader_reg_LoBit, NKW7_CommandHeader_reg_Size));
    const uint32_t test = static_cast<uint32_t>(
        NKW7_ExtractField(word, NKW7_CommandHeader_test_LoBit, NKW7_CommandHeader_test_Size));
    const uint32_t value = static_cast<uint32_t>(NKW7_ExtractField(
        word, NKW7_CommandHeader_testValue_LoBit, NKW7_CommandHeader_testValue_Size));
    if ((NKW7_RegisterFlags(address) & NKW7_Flags_Syncable) == 0)
        return Format("sync on 0x%03X, which is not a syncable register", address);
    if (test > NKW7_CommandHeader_test_succeed) return Format("sync test %u does not exist", test);
    uint32_t current = 0;
    m_registers.Read32(address, current);
    if (!SyncHolds(test, current, value))
        return Format("sync failed: 0x%03X holds 0x%08X, test %u against 0x%08X", address, current,
                      test, value);
    return {};
}

std::string CommandExecutor::Store32(uint32_t address, uint32_t value) {
    m_registers.Write32(address, value);
    if (address == NKW7_RenderOperation_Addr) return StartRenderOperation(value);
    return {};
}

std::string CommandExecutor::StartRenderOperation(uint32_t value) {
    const uint32_t opcode = static_cast<uint32_t>(NKW7_ExtractField(
        value, NKW7_RenderOperation_opcode_LoBit, NKW7_RenderOperation_opcode_Size));
    const uint32_t completion = static_cast<uint32_t>(NKW7_ExtractField(
        value, NKW7_RenderOperation_incrOnDone_LoBit, NKW7_RenderOperation_incrOnDone_Size));
    if (opcode != NKW7_Code(NKW7_RenderOpcode::Render))
        return Format("render operation opcode %u is not executed", opcode);

    ++m_renders;
    std::string chipDiagnostic;
    const int32_t status = m_chip.Render(m_job, m_registers, m_counts, chipDiagnostic);
    if (status != TULX7_DR_STATUS_SUCCESS) {
        m_chipStatus = status;
        return "render failed" + (chipDiagnostic.empty() ? std::string() : ": " + chipDiagnostic);
    }
    // Completion codes 8..15 count the finished render in Scratch0..7, which
    // is what lets a block close with a sync on the scratch register it
    // cleared before the render.
    if (completion >= NKW7_IncrOnDoneScratch(0)) {
        const uint32_t scratch = NKW7_Scratch0_Addr + 8 * (completion - NKW7_IncrOnDoneScratch(0));
        uint32_t count = 0;
        m_registers.Read32(scratch, count);
        m_registers.Write32(scratch, count + 1);
    } else if (completion != NKW7_IncrOnDone_None) {
        ++m_counts.reservedCodes;
    }
    return {};
}

CommandBlockEngine::CommandBlockEngine(std::shared_ptr<ChipModel> chip)
    : m_chip(chip ? std::move(chip) : MakeRenderingChip()) {}

void CommandBlockEngine::ResetRegisters(int, RegisterFile& registers) {
    ResetChipRegisters(registers);
}

int32_t CommandBlockEngine::Execute(const RenderJob& job, RegisterFile& registers,
                                    std::string& diagnostic) {
    CommandExecutor executor(registers, *m_chip, job);
    executor.LoadArrayRegisters();
    int32_t status = TULX7_DR_STATUS_SUCCESS;
    if (!job.stateWords.empty()) status = executor.Run(job.stateWords, "state", diagnostic);
    if (status == TULX7_DR_STATUS_SUCCESS) status = executor.Run(job.renderWords, "render", diagnostic);
    // The job's counts go to the board's sums and, when a fault was
    // counted, to the driver log with the job.
    const ChipDiagnostics& counts = executor.Counts();
    AddChipDiagnostics(job.board, counts);
    const std::string faults = counts.Describe();
    if (!faults.empty())
        diagnostic += (diagnostic.empty() ? "chip diagnostics: " : "; chip diagnostics: ") + faults;
    return status;
}

}  // namespace tulx7sim
