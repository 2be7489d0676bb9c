// The vocabulary shared by image buffers, depth buffers and volumes: how a
// buffer's coordinates reach its storage, how many fields a pixel holds, and
// which locations a buffer may be asked to live in.
#pragma once

#include <cstdint>

#include "ulm3/location.h"

namespace ulm3 {

enum ULMAddressMode : int32_t {
    // The buffer covers the rectangle whose origin is the two address
    // parameters (even numbers) and whose size is the buffer's size;
    // coordinates outside it are refused.
    kULMOffsetAddress = 0,
    // The two address parameters are power-of-two moduli; coordinates wrap.
    kULMWrapAddress = 1,
};

inline constexpr int kULMMaxPixelFields = 4;

// True for host memory and the two multiboard schemes, and for the number of
// a board that is open; false for kULMAnyBoard, negative values and boards
// that are not open.
bool ValidLocation(ULMLocation inLocation);

}  // namespace ulm3
