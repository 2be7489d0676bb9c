// The buffer descriptor on its own: sizes, granularity, addressing, events
// and which boxes its storage holds.
#include <gtest/gtest.h>

#include "board/buffer_addressing.h"
#include "board/kwb_buffer.h"
#include "board/kwb_sync_event.h"

using namespace ulm3;

namespace {

TEST(KWBBufferDescriptor, SizingConstructorRefusesWhatCannotExist) {
    const uint32_t refused[][4] = {{0, 1, 1, 8},     {4, 4, 4, 64},     {4, 0, 0, 24},
                                   {4, 0, 0, 128},   {4, 0, 0, 4},      {32769, 0, 0, 8},
                                   {4, 32769, 0, 8}, {4, 4, 40000, 8}};
    for (const auto& r : refused) {
        ULMStatus status = kULMOK;
        const KWBBuffer b(r[0], r[1], r[2], r[3], status);
        EXPECT_EQ(status, kULMErrArgument) << r[0] << "x" << r[1] << "x" << r[2] << "@" << r[3];
    }
}

// Storage of a 2-D buffer of 100 x 30 bytes: tiles make it 128 x 32.
KWBBuffer Buffer2D(bool wrap, int u, int v) {
    KWBBuffer b;
    b.SetSizes(100, 30, 0, 8);
    EXPECT_EQ(b.SetOffsetOrWrap(wrap, u, v, 0), kULMOK);
    return b;
}

TEST(KWBBufferStorage, OffsetBoxesMustLieInsideTheTiledStorage) {
    const KWBBuffer b = Buffer2D(false, 0, 0);
    EXPECT_TRUE(KWBStorageHolds(b, KWBRange(0, 0, 99, 29)));
    EXPECT_TRUE(KWBStorageHolds(b, KWBRange(0, 0, 127, 31)));  // the tile padding is storage
    EXPECT_FALSE(KWBStorageHolds(b, KWBRange(0, 0, 128, 31)));
    EXPECT_FALSE(KWBStorageHolds(b, KWBRange(0, 0, 0, 127, 31, 1)));  // no W axis

    const KWBBuffer shifted = Buffer2D(false, 10, 4);
    EXPECT_TRUE(KWBStorageHolds(shifted, KWBRange(10, 4, 137, 35)));
    EXPECT_FALSE(KWBStorageHolds(shifted, KWBRange(9, 4, 20, 10)));
    EXPECT_FALSE(KWBStorageHolds(shifted, KWBRange(10, 4, 138, 10)));
}

TEST(KWBBufferStorage, WrappedBoxesCountResidues) {
    const KWBBuffer small = Buffer2D(true, 64, 16);  // moduli inside the storage
    EXPECT_TRUE(KWBStorageHolds(small, KWBRange(1000, 2000, 1300, 2100)));

    const KWBBuffer large = Buffer2D(true, 256, 32);  // modulus 256 over 128 columns
    EXPECT_TRUE(KWBStorageHolds(large, KWBRange(256, 0, 383, 31)));
    EXPECT_TRUE(KWBStorageHolds(large, KWBRange(512 + 100, 0, 512 + 127, 31)));
    EXPECT_FALSE(KWBStorageHolds(large, KWBRange(100, 0, 200, 31)));  // reaches residue 200
    EXPECT_FALSE(KWBStorageHolds(large, KWBRange(250, 0, 260, 31)));  // wraps through 255
    EXPECT_FALSE(KWBStorageHolds(large, KWBRange(0, 0, 300, 31)));    // every residue
}

}  // namespace
