// How a transfer between host memory and a board buffer is cut into driver
// requests that each carry a bounded number of host bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "board/kwb_range.h"
#include "ulm3/status.h"

namespace ulm3 {

// The most host bytes one load or unload request may carry.
inline constexpr uint64_t kKWBMaxTransferBytes = 0xEF000;

// One request's share of a transfer: a box of the board range and where its
// first element lies in host memory, in bytes from the transfer's start.
struct KWBTransferPiece {
    KWBRange range;
    uint64_t hostOffset = 0;

    friend bool operator==(const KWBTransferPiece&, const KWBTransferPiece&) = default;
};

// Cuts `range` into pieces of at most `limit` bytes of `elementBytes` each:
// the whole range when it fits, else groups of whole W slices, else (when a
// single slice is too large) groups of whole rows, one slice at a time.
// Host memory holds rows of `hostRow` elements and slices of `hostSlice`
// rows (0 stands for the range's own U and V extents). The pieces come in
// host order and cover the range exactly once.
//
// Returns kULMErrTooLarge, with no pieces, when one row alone exceeds the
// limit, and kULMErrArgument for an invalid range, element size 0, a limit of
// 0 or pitches shorter than the range.
ULMStatus PlanTransferPieces(const KWBRange& range, uint32_t elementBytes, uint32_t hostRow,
                             uint32_t hostSlice, std::vector<KWBTransferPiece>& outPieces,
                             uint64_t limit = kKWBMaxTransferBytes);

// Bytes of the largest piece: what one staging chunk must hold to serve
// every piece of a plan.
uint64_t LargestPieceBytes(const std::vector<KWBTransferPiece>& pieces, uint32_t elementBytes);

}  // namespace ulm3
