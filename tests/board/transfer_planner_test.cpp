#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "board/transfer_planner.h"

using namespace ulm3;

namespace {

constexpr uint64_t kLimit = 0xEF000;

uint64_t PieceBytes(const KWBTransferPiece& p, uint32_t b) {
    return static_cast<uint64_t>(p.range.ElementCount()) * b;
}

// Every element of `range` lies in exactly one piece, every piece inside the
// range and within the limit, and each piece's host offset is where its
// first element lives under the given pitches.
void ExpectExactCover(const KWBRange& range, uint32_t b, uint32_t row, uint32_t slice,
                      const std::vector<KWBTransferPiece>& pieces, uint64_t limit) {
    const uint64_t r = row ? row : static_cast<uint64_t>(range.ExtentU());
    const uint64_t s = slice ? slice : static_cast<uint64_t>(range.ExtentV());
    std::map<std::tuple<int, int, int>, int> seen;
    uint64_t previousOffset = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const KWBRange& p = pieces[i].range;
        ASSERT_TRUE(p.IsValid());
        ASSERT_LE(PieceBytes(pieces[i], b), limit);
        // Pieces always span whole rows, so rows stand for their elements.
        ASSERT_EQ(p.minU, range.minU);
        ASSERT_EQ(p.maxU, range.maxU);
        ASSERT_GE(p.minV, range.minV);
        ASSERT_LE(p.maxV, range.maxV);
        ASSERT_GE(p.minW, range.minW);
        ASSERT_LE(p.maxW, range.maxW);
        const uint64_t expected =
            ((static_cast<uint64_t>(p.minW - range.minW) * s + (p.minV - range.minV)) * r +
             (p.minU - range.minU)) * b;
        EXPECT_EQ(pieces[i].hostOffset, expected) << "piece " << i;
        EXPECT_TRUE(i == 0 || pieces[i].hostOffset > previousOffset) << "host order, piece " << i;
        previousOffset = pieces[i].hostOffset;
        for (int w = p.minW; w <= p.maxW; ++w)
            for (int v = p.minV; v <= p.maxV; ++v) ++seen[{w, v, p.minU}];
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(range.ExtentV()) * range.ExtentW());
    for (const auto& [key, count] : seen) ASSERT_EQ(count, 1);
}

TEST(TransferPlanner, OversizedSlicesAreCutIntoRowsSliceBySlice) {
    std::vector<KWBTransferPiece> pieces;
    // A row is 32 KB, so 29 rows fit; each 64-row slice needs 29 + 29 + 6.
    const KWBRange range(0, 0, 4, 8191, 63, 5);
    ASSERT_EQ(PlanTransferPieces(range, 4, 0, 0, pieces), kULMOK);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[0].range, KWBRange(0, 0, 4, 8191, 28, 4));
    EXPECT_EQ(pieces[2].range, KWBRange(0, 58, 4, 8191, 63, 4));
    EXPECT_EQ(pieces[3].range, KWBRange(0, 0, 5, 8191, 28, 5));
    EXPECT_EQ(pieces[3].hostOffset, 8192u * 64u * 4u);
    ExpectExactCover(range, 4, 0, 0, pieces, kLimit);
}

TEST(TransferPlanner, PitchedHostMemoryMovesOffsetsNotPieceSizes) {
    std::vector<KWBTransferPiece> dense, pitched;
    const KWBRange range(10, 20, 0, 8201, 83, 3);  // 8192 x 64 x 4 of 4 bytes
    ASSERT_EQ(PlanTransferPieces(range, 4, 0, 0, dense), kULMOK);
    ASSERT_EQ(PlanTransferPieces(range, 4, 9000, 70, pitched), kULMOK);
    ASSERT_EQ(dense.size(), pitched.size());
    for (size_t i = 0; i < dense.size(); ++i) EXPECT_EQ(dense[i].range, pitched[i].range);
    ExpectExactCover(range, 4, 9000, 70, pitched, kLimit);
    // Second slice starts a whole host slice in, 64-bit arithmetic included.
    EXPECT_EQ(pitched[3].hostOffset, 9000u * 70u * 4u);
}

TEST(TransferPlanner, HostStridesBeyondFourGigabytesDoNotWrap) {
    std::vector<KWBTransferPiece> pieces;
    const KWBRange range(0, 0, 0, 8191, 1, 2);  // rows of 64 KB, one per piece
    ASSERT_EQ(PlanTransferPieces(range, 8, 0xFFFFFFF0u, 0x10000u, pieces, 0x10000), kULMOK);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[2].hostOffset, uint64_t{0xFFFFFFF0u} * 0x10000u * 8u);
    EXPECT_EQ(pieces[1].hostOffset, uint64_t{0xFFFFFFF0u} * 8u);
}

TEST(TransferPlanner, RowLongerThanTheLimitIsTooLarge) {
    std::vector<KWBTransferPiece> pieces{{KWBRange(), 7}};
    EXPECT_EQ(PlanTransferPieces(KWBRange(0, 0, 0, 99, 1, 1), 4, 0, 0, pieces, 399),
              kULMErrTooLarge);
    EXPECT_TRUE(pieces.empty());
    // One byte more and a row fits: one row per piece.
    ASSERT_EQ(PlanTransferPieces(KWBRange(0, 0, 0, 99, 1, 1), 4, 0, 0, pieces, 400), kULMOK);
    EXPECT_EQ(pieces.size(), 4u);
}

TEST(TransferPlanner, RefusesWhatCannotBeDescribed) {
    std::vector<KWBTransferPiece> pieces;
    EXPECT_EQ(PlanTransferPieces(KWBRange(5, 4), 1, 0, 0, pieces), kULMErrArgument);
    EXPECT_EQ(PlanTransferPieces(KWBRange(-1, 4), 1, 0, 0, pieces), kULMErrArgument);
    EXPECT_EQ(PlanTransferPieces(KWBRange(0, 4), 0, 0, 0, pieces), kULMErrArgument);
    EXPECT_EQ(PlanTransferPieces(KWBRange(0, 0, 9, 9), 1, 9, 0, pieces), kULMErrArgument);
    EXPECT_EQ(PlanTransferPieces(KWBRange(0, 0, 0, 9, 9, 1), 1, 10, 9, pieces), kULMErrArgument);
    EXPECT_EQ(PlanTransferPieces(KWBRange(0, 4), 1, 0, 0, pieces, 0), kULMErrArgument);
    EXPECT_TRUE(pieces.empty());
}

TEST(TransferPlanner, RandomShapesAreCoveredExactlyOnce) {
    std::mt19937 rng(1234);
    std::vector<KWBTransferPiece> pieces;
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t b = 1u << (rng() % 4);
        const int16_t minU = static_cast<int16_t>(rng() % 100);
        const int16_t minV = static_cast<int16_t>(rng() % 100);
        const int16_t minW = static_cast<int16_t>(rng() % 100);
        const KWBRange range(minU, minV, minW, static_cast<int16_t>(minU + rng() % 300),
                             static_cast<int16_t>(minV + rng() % 60),
                             static_cast<int16_t>(minW + rng() % 40));
        const uint32_t row = (rng() % 2) ? 0 : static_cast<uint32_t>(range.ExtentU() + rng() % 5);
        const uint32_t slice = (rng() % 2) ? 0 : static_cast<uint32_t>(range.ExtentV() + rng() % 5);
        const uint64_t limit = 64 + rng() % 40000;
        const ULMStatus status = PlanTransferPieces(range, b, row, slice, pieces, limit);
        if (static_cast<uint64_t>(range.ExtentU()) * b > limit) {
            EXPECT_EQ(status, kULMErrTooLarge);
            continue;
        }
        ASSERT_EQ(status, kULMOK);
        ExpectExactCover(range, b, row, slice, pieces, limit);
        EXPECT_LE(LargestPieceBytes(pieces, b), limit);
    }
}

}  // namespace
