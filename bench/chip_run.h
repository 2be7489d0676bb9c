// The simulated chip set up for one render of a size x size x slices volume
// of 32-bit voxels into a size x size image: an image resample pass for one
// slice, a front-to-back render for more. The baseline of the pass benchmarks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tulx7/register_map.h"
#include "tulx7sim/command_executor.h"
#include "tulx7sim/rendering_chip.h"

namespace bench {

using namespace tulx7sim;

inline constexpr int64_t kOne = int64_t{1} << 40;

struct ChipRun {
    ChipRun(int size, int slices) : volume(static_cast<size_t>(size) * size * slices * 4), image(static_cast<size_t>(size) * size * 4) {
        for (size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<uint8_t>(i * 131 + 7);
        auto bind = [&](BoundArray& slot, std::vector<uint8_t>& bytes, int axes, int w, uint32_t id) {
            slot.bound = true;
            slot.bufferId = id;
            slot.dimension = axes - 1;
            slot.elementBytes = 4;
            slot.size[0] = slot.size[1] = size;
            slot.size[2] = w;
            slot.rangeMax[0] = slot.rangeMax[1] = size - 1;
            slot.rangeMax[2] = w - 1;
            slot.data = bytes.data();
            slot.byteCount = bytes.size();
        };
        bind(job.volume, volume, 3, slices, 1);
        bind(job.image0, image, 2, 1, 2);
        job.writeMask = 1;
        ResetChipRegisters(registers);
        CommandExecutor(registers, *chip, job).LoadArrayRegisters();
        const uint64_t last = static_cast<uint64_t>(size - 1);
        registers.Write64(NKW7_ViewFrustumRangeMax_Addr, last | last << 16 | uint64_t(slices - 1) << 32);
        registers.Write32(NKW7_Transform_Addr, 0x240);
        registers.Write32(NKW7_TrimRangeXmin_Addr, static_cast<uint32_t>(-128));
        registers.Write32(NKW7_TrimRangeXmax_Addr, static_cast<uint32_t>(size * 256));
        registers.Write32(NKW7_TrimRangeYmin_Addr, static_cast<uint32_t>(-128));
        registers.Write32(NKW7_TrimRangeYmax_Addr, static_cast<uint32_t>(size * 256));
        registers.Write32(NKW7_TrimRangeZmax_Addr, static_cast<uint32_t>(slices * 256));
        registers.Write64(NKW7_OriginXv8_Addr, kOne / 3);
        registers.Write64(NKW7_OriginYv8_Addr, kOne / 5);
        registers.Write64(NKW7_dXv8_dXs_Addr, kOne * 7 / 8);
        registers.Write64(NKW7_dYv8_dYs_Addr, kOne * 7 / 8);
        registers.Write64(NKW7_dZv8_dZs_Addr, kOne);
        registers.Write64(NKW7_VoxelFormat_Addr, 0x16141210);
        registers.Write32(NKW7_Image0FieldSel_Addr, 0x16141210);
        registers.Write32(NKW7_Alu0_Addr, 0x00000503);
        registers.Write32(NKW7_Alu1_Addr, 0x05030000);
        registers.Write32(NKW7_Alu2_Addr, 0x05050303);
        registers.Write32(NKW7_LightingCoefficient_Addr, 0xFF000000);
        registers.Write32(NKW7_InterpolateControl_Addr, 0x1111);
        registers.Write32(NKW7_ImageControl_Addr, slices == 1 ? 0x10040000 : 0x10140000);
        registers.Write32(NKW7_RenderOperation_Addr, 0x1F550000);
    }

    std::shared_ptr<ChipModel> chip = MakeRenderingChip();
    RenderJob job;
    RegisterFile registers;
    std::vector<uint8_t> volume, image;
};

}  // namespace bench
