// The pass that turns an on-board image into a one-plane 3-D image the chip
// can read as a volume: the chip copies every pixel of the image's window
// from the old buffer (image 0) into the new one (image 1).
#pragma once

#include <cstdint>
#include <vector>

#include "board/kwb_range.h"
#include "board/board_pass_block.h"

namespace ulm3 {

inline constexpr const char* kConvertTo3DWriteFailure =
    "ConvertTo3D WriteRegister %s failed: %s (%d)\n";

// The programme after the opening Scratch7 reset: a dummy volume group, the
// window (U and V of inWindow) as the ray grid, both images described by
// inImageFormat, and a render that starts each pixel from image 0 and writes
// it to image 1 unchanged.
std::vector<ULMPassRegister> ConvertTo3DProgramme(uint32_t inImageFormat, const KWBRange& inWindow);

}  // namespace ulm3
