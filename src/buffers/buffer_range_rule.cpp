#include "buffers/buffer_range_rule.h"

#include <cstdint>

#include "board/board_range.h"

namespace ulm3 {
namespace {

bool InBoardCoordinates(int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

}  // namespace

ULMStatus CheckBufferRange(ULMAddressMode inMode, const ULMImageRange& inWindow,
                           const ULMImageRange& inRange) {
    if (inMode == kULMOffsetAddress && !Contains(inWindow, inRange)) return kULMErrArgument;
    for (int axis = 0; axis < 2; ++axis) {
        const int64_t origin = inRange.m_origin[axis];
        const int64_t size = inRange.m_size[axis];
        if (size < 0 || !InBoardCoordinates(origin) || !InBoardCoordinates(origin + size - 1))
            return kULMErrArgument;
    }
    return kULMOK;
}

bool HostRowHolds(const ULMImageRange& inRange, unsigned inWidth) {
    if (inWidth > static_cast<unsigned>(INT32_MAX)) return false;
    return inWidth == 0 || static_cast<int64_t>(inWidth) >= inRange.XSize();
}

KWBRange ValidRangeOf(const ULMImageRange& inRange) {
    if (inRange.XSize() == 0 || inRange.YSize() == 0) return KWBRange();
    return ULMRange(inRange);
}

}  // namespace ulm3
