// Bit masks of voxel fields.
#pragma once

#include <cstdint>

namespace ulm3 {

// inFieldSize bits from bit inFieldPosition up; a size of 32 is every bit.
// A field that does not fit a 32-bit word is a caller's fault (assertion);
// a negative size or position gives no bits.
uint32_t FieldMask(int64_t inFieldSize, int64_t inFieldPosition = 0);

}  // namespace ulm3
