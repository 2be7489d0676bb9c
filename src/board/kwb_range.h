// An inclusive box of board elements in the chip's signed 16-bit coordinates.
#pragma once

#include <cstdint>

namespace ulm3 {

// U runs fastest, then V, then W. A box is valid when 0 <= min <= max on all
// three axes; the board layer refuses anything else before it talks to the
// driver, so negative coordinates never reach a request.
struct KWBRange {
    int16_t minU = 0, minV = 0, minW = 0;
    int16_t maxU = 0, maxV = 0, maxW = 0;

    KWBRange() = default;
    // A run along U; V and W are 0..0.
    KWBRange(int16_t inMinU, int16_t inMaxU) : minU(inMinU), maxU(inMaxU) {}
    // A rectangle in U and V; W is 0..0.
    KWBRange(int16_t inMinU, int16_t inMinV, int16_t inMaxU, int16_t inMaxV)
        : minU(inMinU), minV(inMinV), maxU(inMaxU), maxV(inMaxV) {}
    KWBRange(int16_t inMinU, int16_t inMinV, int16_t inMinW, int16_t inMaxU, int16_t inMaxV,
             int16_t inMaxW)
        : minU(inMinU), minV(inMinV), minW(inMinW), maxU(inMaxU), maxV(inMaxV), maxW(inMaxW) {}

    bool IsValid() const {
        return 0 <= minU && minU <= maxU && 0 <= minV && minV <= maxV && 0 <= minW && minW <= maxW;
    }

    // Elements per axis; meaningful for a valid box (then 1..32768).
    int32_t ExtentU() const { return int32_t{maxU} - minU + 1; }
    int32_t ExtentV() const { return int32_t{maxV} - minV + 1; }
    int32_t ExtentW() const { return int32_t{maxW} - minW + 1; }
    // Elements in the box, in 64 bits so that no product can wrap.
    int64_t ElementCount() const { return int64_t{ExtentU()} * ExtentV() * ExtentW(); }

    friend bool operator==(const KWBRange&, const KWBRange&) = default;
};

}  // namespace ulm3
