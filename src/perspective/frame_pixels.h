// The pixel a perspective frame starts from and the layout decisions of a
// frame: how a value lands in a field, the background colour a blend mode
// leaves, and whether a frame can be uploaded as it is.
#pragma once

#include <cstdint>

#include "ulm3/context.h"
#include "ulm3/fields.h"
#include "ulm3/image_buffer.h"

namespace ulm3 {

// inValue (clamped to 0..1) scaled to the field and shifted to its place;
// 0 for a descriptor that does not fit the element or is not a fraction or
// integer field of 4 to 16 bits.
uint64_t ApplyFieldDescriptor(const ULMFieldDescriptor& inField, int inElementSize, double inValue);

// A colour (red, green, blue, alpha) as one pixel in inFields.
uint64_t ColourPixel(const double inColour[4], const ULMFieldDescriptor* inFields, int inElementSize);

// The host warp writes four 8-bit channels at bits 0, 8, 16, 24 of a 32-bit
// pixel, or four 12-bit channels at 0, 12, 24, 36 of a 64-bit one: an output
// whose used fields all sit on those places takes the frame as it is.
bool FieldsFitTheWarp(const ULMFieldDescriptor* inFields, int inElementSize);

}  // namespace ulm3
