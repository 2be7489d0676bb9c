// Cutting transfers into pieces the driver accepts.
#include "board/transfer_planner.h"

#include <algorithm>

namespace ulm3 {

ULMStatus PlanTransferPieces(const KWBRange& range, uint32_t elementBytes, uint32_t hostRow,
                             uint32_t hostSlice, std::vector<KWBTransferPiece>& outPieces,
                             uint64_t limit) {
    outPieces.clear();
    if (!range.IsValid() || elementBytes == 0 || limit == 0) return kULMErrArgument;
    const uint64_t eU = static_cast<uint64_t>(range.ExtentU());
    const uint64_t eV = static_cast<uint64_t>(range.ExtentV());
    const uint64_t eW = static_cast<uint64_t>(range.ExtentW());
    const uint64_t row = hostRow != 0 ? hostRow : eU;
    const uint64_t slice = hostSlice != 0 ? hostSlice : eV;
    if (row < eU || slice < eV) return kULMErrArgument;

    // Extents are at most 2^16 and elements at most 8 bytes, so these field
    // byte counts fit easily; host strides may be larger but stay in 64 bits.
    const uint64_t rowBytes = eU * elementBytes;
    const uint64_t sliceBytes = eV * rowBytes;
    const uint64_t hostRowBytes = row * elementBytes;
    const uint64_t hostSliceBytes = slice * hostRowBytes;

    if (eW * sliceBytes <= limit) {
        outPieces.push_back({range, 0});
        return kULMOK;
    }

    const uint64_t slicesPerPiece = limit / sliceBytes;
    if (slicesPerPiece >= 1) {
        for (int32_t w = range.minW; w <= range.maxW;) {
            const int32_t last = static_cast<int32_t>(
                std::min<int64_t>(int64_t{w} + static_cast<int64_t>(slicesPerPiece) - 1, range.maxW));
            KWBRange piece = range;
            piece.minW = static_cast<int16_t>(w);
            piece.maxW = static_cast<int16_t>(last);
            outPieces.push_back({piece, static_cast<uint64_t>(w - range.minW) * hostSliceBytes});
            w = last + 1;
        }
        return kULMOK;
    }

    const uint64_t rowsPerPiece = limit / rowBytes;
    if (rowsPerPiece == 0) return kULMErrTooLarge;
    for (int32_t w = range.minW; w <= range.maxW; ++w) {
        const uint64_t sliceOffset = static_cast<uint64_t>(w - range.minW) * hostSliceBytes;
        for (int32_t v = range.minV; v <= range.maxV;) {
            const int32_t last = static_cast<int32_t>(
                std::min<int64_t>(int64_t{v} + static_cast<int64_t>(rowsPerPiece) - 1, range.maxV));
            KWBRange piece = range;
            piece.minW = piece.maxW = static_cast<int16_t>(w);
            piece.minV = static_cast<int16_t>(v);
            piece.maxV = static_cast<int16_t>(last);
            outPieces.push_back(
                {piece, sliceOffset + static_cast<uint64_t>(v - range.minV) * hostRowBytes});
            v = last + 1;
        }
    }
    return kULMOK;
}

uint64_t LargestPieceBytes(const std::vector<KWBTransferPiece>& pieces, uint32_t elementBytes) {
    uint64_t largest = 0;
    for (const KWBTransferPiece& p : pieces)
        largest = std::max(largest, static_cast<uint64_t>(p.range.ElementCount()) * elementBytes);
    return largest;
}

}  // namespace ulm3
