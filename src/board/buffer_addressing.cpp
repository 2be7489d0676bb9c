// Board boxes as the driver reads them.
#include "board/buffer_addressing.h"

#include <cstdint>

namespace ulm3 {
namespace {

// One axis of a box against `storage` elements (at least 1). `om` is the
// offset, or under wrap the modulus mask (-1 for a modulus of 0, which
// leaves the axis unwrapped).
bool AxisHeld(int32_t min, int32_t max, bool wrap, int32_t om, int64_t storage) {
    if (!wrap) return int64_t{min} - om >= 0 && int64_t{max} - om < storage;
    if (om == -1) return min >= 0 && max < storage;
    if (om < storage) return true;  // every residue lies in storage
    const int64_t modulus = int64_t{om} + 1;
    if (int64_t{max} - min + 1 >= modulus) return false;  // every residue is reached
    const int64_t low = min & om;
    const int64_t high = max & om;
    return low <= high && high < storage;  // no wrap inside the run, and it fits
}

}  // namespace

Tulx7_dr_array_addressing KWBAddressing(const KWBBuffer& buffer, const KWBRange& range) {
    Tulx7_dr_array_addressing a;
    a.subbuffer_min = {range.minU, range.minV, range.minW};
    a.subbuffer_max = {range.maxU, range.maxV, range.maxW};
    a.offset_modulus = {buffer.m_offset_U, buffer.m_offset_V, buffer.m_offset_W};
    a.wrap = buffer.m_wrap;
    return a;
}

bool KWBStorageHolds(const KWBBuffer& buffer, const KWBRange& range) {
    uint32_t sizes[3] = {};
    uint32_t allocated[3] = {};
    uint32_t bits = 0;
    const int dimension = buffer.GetSizes(sizes[0], sizes[1], sizes[2], bits);
    KWBAllocatedSizes(dimension, buffer.GetElementBytes(), sizes, allocated);
    const int32_t mins[3] = {range.minU, range.minV, range.minW};
    const int32_t maxs[3] = {range.maxU, range.maxV, range.maxW};
    const int32_t oms[3] = {buffer.m_offset_U, buffer.m_offset_V, buffer.m_offset_W};
    for (int axis = 0; axis < 3; ++axis) {
        if (axis >= dimension) {
            if (mins[axis] != 0 || maxs[axis] != 0) return false;
            continue;
        }
        if (!AxisHeld(mins[axis], maxs[axis], buffer.IsWrapped(), oms[axis], allocated[axis]))
            return false;
    }
    return true;
}

}  // namespace ulm3
