// Turning ranges into board boxes without wrapping.
#include "board/board_range.h"

#include <cstdint>
#include <limits>

namespace ulm3 {
namespace {

bool FitsBoard(int64_t v) {
    return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

// Fills one axis; false when a bound does not fit 16 bits.
bool SetAxis(int16_t& min, int16_t& max, int32_t origin, int32_t size) {
    const int64_t last = int64_t{origin} + size - 1;
    if (!FitsBoard(origin) || !FitsBoard(last)) return false;
    min = static_cast<int16_t>(origin);
    max = static_cast<int16_t>(last);
    return true;
}

void MakeInvalid(KWBRange& box) {
    box.minU = box.minV = box.minW = 0;
    box.maxU = box.maxV = box.maxW = -1;
}

}  // namespace

ULMRange::ULMRange(const ULMVolumeRange& range) {
    if (!SetAxis(minU, maxU, range.XOrigin(), range.XSize()) ||
        !SetAxis(minV, maxV, range.YOrigin(), range.YSize()) ||
        !SetAxis(minW, maxW, range.ZOrigin(), range.ZSize()))
        MakeInvalid(*this);
}

ULMRange::ULMRange(const ULMImageRange& range) {
    minW = maxW = 0;
    if (!SetAxis(minU, maxU, range.XOrigin(), range.XSize()) ||
        !SetAxis(minV, maxV, range.YOrigin(), range.YSize()))
        MakeInvalid(*this);
}

}  // namespace ulm3
