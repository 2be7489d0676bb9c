// The chip's Transform word: which volume axis feeds each permuted axis and
// which of them run mirrored. The permutation planner, the passes and the
// engine write it; the planner also reads it back.
#pragma once

#include <cstdint>

#include "tulx7/chip_codes.h"

namespace ulm3 {

struct ULMTransformFields {
    int select[3];  // the volume axis of permuted axis x, y, z
    int negate[3];  // 1: permuted axis a runs mirrored
};

constexpr uint32_t ULMTransformWord(const ULMTransformFields& inFields) {
    return NKW7_FIELD(Transform, selectX, inFields.select[0]) | NKW7_FIELD(Transform, selectY, inFields.select[1]) |
           NKW7_FIELD(Transform, selectZ, inFields.select[2]) | NKW7_FIELD(Transform, negX, inFields.negate[0]) |
           NKW7_FIELD(Transform, negY, inFields.negate[1]) | NKW7_FIELD(Transform, negZ, inFields.negate[2]);
}

constexpr ULMTransformFields ULMReadTransformWord(uint32_t inWord) {
    const auto field = [inWord](int inLowBit, int inSize) {
        return static_cast<int>(NKW7_ExtractField(inWord, inLowBit, inSize));
    };
    return {{field(NKW7_Transform_selectX_LoBit, NKW7_Transform_selectX_Size),
             field(NKW7_Transform_selectY_LoBit, NKW7_Transform_selectY_Size),
             field(NKW7_Transform_selectZ_LoBit, NKW7_Transform_selectZ_Size)},
            {field(NKW7_Transform_negX_LoBit, NKW7_Transform_negX_Size),
             field(NKW7_Transform_negY_LoBit, NKW7_Transform_negY_Size),
             field(NKW7_Transform_negZ_LoBit, NKW7_Transform_negZ_Size)}};
}

// Every bit that belongs to a field; a word with others set is no transform.
inline constexpr uint32_t kULMTransformFieldBits = ULMTransformWord({{3, 3, 3}, {1, 1, 1}});

// Permuted axes x, y, z from volume axes x, y, z, none mirrored.
inline constexpr uint32_t kULMIdentityTransform = ULMTransformWord({{0, 1, 2}, {0, 0, 0}});

}  // namespace ulm3
