// Frame pixels of the perspective driver.
#include "perspective/frame_pixels.h"

#include <algorithm>

namespace ulm3 {
namespace {

bool IsValidFormat(ULMFieldFormat inFormat) {
    return inFormat == kULMUnsignedFraction || inFormat == kULMSignedFraction || inFormat == kULMUnsignedInteger;
}

bool IsEmptyField(const ULMFieldDescriptor& inField) {
    return inField.m_format == kULMUnknownFormat && inField.m_position == 0 && inField.m_size == 0;
}

}  // namespace

uint64_t ApplyFieldDescriptor(const ULMFieldDescriptor& inField, int inElementSize, double inValue) {
    const int position = inField.m_position, size = inField.m_size;
    if (!IsValidFormat(inField.m_format) || position % 4 != 0 || size % 4 != 0 || size < 4 || size > 16 ||
        position < 0 || position + size > inElementSize)
        return 0;
    // Out of range the value would carry into the next field; NaN lands on 0.
    const double value = inValue > 0.0 ? std::min(inValue, 1.0) : 0.0;
    const double top = static_cast<double>((1u << size) - 1u);
    return static_cast<uint64_t>(top * value + 0.5) << position;
}

uint64_t ColourPixel(const double inColour[4], const ULMFieldDescriptor* inFields, int inElementSize) {
    uint64_t pixel = 0;
    for (int i = 0; i < 4; ++i) pixel |= ApplyFieldDescriptor(inFields[i], inElementSize, inColour[i]);
    return pixel;
}

bool FieldsFitTheWarp(const ULMFieldDescriptor* inFields, int inElementSize) {
    const int lane = inElementSize == 32 ? 8 : inElementSize == 64 ? 12 : 0;
    if (lane == 0) return false;
    for (int i = 0; i < 4; ++i) {
        const ULMFieldDescriptor& f = inFields[i];
        if (IsEmptyField(f) || !IsValidFormat(f.m_format)) continue;
        // A 12-bit lane past bit 47 is one the warp never writes.
        if (f.m_size != lane || f.m_position % lane != 0 || f.m_position >= 4 * lane) return false;
    }
    return true;
}

}  // namespace ulm3
