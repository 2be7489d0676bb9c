// The checks made after each call of a sequence. Each throws OracleFailure
// with a message that starts with the name of the check, so that failures
// group by it.
#pragma once

#include <string>
#include <vector>

#include "sequence/sequence_world.h"

namespace seqtest {

// Every status the library answers is one of ULMStatus's values.
ULMStatus CheckStatus(ULMStatus s, const std::string& what);
std::string StatusText(ULMStatus s);

// A destination block of a volume read, filled so that voxels it was not
// given stand out.
std::vector<uint8_t> FilledVoxels(const VolumeSlot& v, const ULMVolumeRange& r);
// After an OK read of a volume: no fill left, and every voxel the model
// knows as the model has it.
// inBox (when given) names the box read, so that a wrong voxel can be told
// apart from the volume's own one at that place.
void CheckVoxelRead(const VolumeSlot& v, const std::vector<uint8_t>& block, const std::vector<int32_t>& expected,
                    const std::string& what, const ULMVolumeRange* inBox = nullptr);
// After an OK read of a mipmap level: no fill left.
void CheckNoVoxelFill(const std::vector<uint8_t>& block, int bytes, uint32_t fill, const std::string& what);

// An image range filled with FillPixel before a read or render.
std::vector<uint32_t> FilledPixels(const ULMImageRange& r);
// After an OK image read: no fill left; pixels the model knows as it has them.
void CheckPixelRead(const ImageSlot& img, const ULMImageRange& r, const std::vector<uint32_t>& pixels,
                    const std::string& what);
// After an OK render: none of the pixels the render was asked to write (the
// viewport's part of the read range) still holds the fill.
void CheckRenderWrote(const ULMImageRange& read, const ULMImageRange& asked, const std::vector<uint32_t>& pixels,
                      const std::string& what);

// Once a call has been waited for, the library leaves the caller's block
// alone: the block is overwritten with the stale value (for a write) or kept
// (for a read), all board work is finished, and the block must be as the
// test left it.
void CheckBlockUntouched(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                         const std::string& what);
void FinishBoardWork();
// Board jobs that completed with an error so far. A render answers OK while
// it runs, so a render whose board work failed under it (an injected
// failure) has nothing to answer with: its pixels are not checked.
uint64_t FailedJobs();

// The model's value of an element of an offset-addressed image, or -1.
int64_t* ImageModelAt(ImageSlot& img, int x, int y);
void ForgetImage(ImageSlot& img);

// Board memory back where it started, and the library closes.
void CheckEndState(const uint64_t startBytes[], int boards);
uint64_t BoardBytes(int board);

}  // namespace seqtest
