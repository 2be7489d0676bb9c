// The pixel layouts a base plane can be handed back in.
#pragma once

#include <cstdint>

#include "ulm3/fields.h"

namespace ulm3 {

// The name gives the channels in memory order: in the 8-bit formats the
// first-named channel has the lowest address; in the 4-bit formats the
// first-named channel holds the top bits of the 16-bit pixel; the 12-bit
// formats are one 16-bit lane per channel in address order, the 12 bits in
// the top of the lane. Luminance-alpha formats carry luminance as red.
enum ULMPixelFormat : int32_t {
    kULMPixelFormatRGBA8 = 0,
    kULMPixelFormatBGRA8 = 1,
    kULMPixelFormatARGB8 = 2,
    kULMPixelFormatABGR8 = 3,
    kULMPixelFormatRGBA4 = 4,
    kULMPixelFormatBGRA4 = 5,
    kULMPixelFormatARGB4 = 6,
    kULMPixelFormatABGR4 = 7,
    kULMPixelFormatRGBA12 = 8,
    kULMPixelFormatBGRA12 = 9,
    kULMPixelFormatARGB12 = 10,
    kULMPixelFormatABGR12 = 11,
    kULMPixelFormatLA8 = 12,
    kULMPixelFormatLA12 = 13,
};

// The field descriptors of red, green, blue and alpha (in that order) of a
// pixel of the format in a host-order pixel word, and the pixel size in
// bits; 0 (and out untouched) for a value that is not a format. Channels a
// format does not have get the no-field descriptor.
int ULMGetPixelFormatInfo(ULMPixelFormat inFormat, ULMFieldDescriptor outFields[4]);

}  // namespace ulm3
