// Argument checks and small helpers shared by the state objects and the
// context.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

#include "foundation/finite_checks.h"

namespace ulm3 {

// A finite range inside [0, 1], min not above max.
inline bool IsUnitRange(double inMin, double inMax) {
    return AllFinite({inMin, inMax}) && inMin >= 0.0 && inMin <= inMax && inMax <= 1.0;
}

inline bool IsFraction(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

// As far as the chip's 23.8 coordinates reach: trims or slabs this wide cut
// nothing.
inline constexpr double kWholeRange = 16382.99609375;
inline std::array<double, 6> WholeBox() {
    return {-kWholeRange, kWholeRange, -kWholeRange, kWholeRange, -kWholeRange, kWholeRange};
}

// Hands the values of a stored group out through the getter's references,
// in order.
template <std::size_t N, class... D>
void Unpack(const std::array<double, N>& inValues, D&... outValues) {
    static_assert(sizeof...(D) == N);
    std::size_t i = 0;
    ((outValues = inValues[i++]), ...);
}

}  // namespace ulm3
