// The buffer descriptor on its own: sizes, granularity, addressing, events
// and which boxes its storage holds.
#include <gtest/gtest.h>

#include "board/buffer_addressing.h"
#include "board/kwb_buffer.h"
#include "board/kwb_sync_event.h"

using namespace ulm3;

namespace {

TEST(KWBBufferDescriptor, NewDescriptorIsEmptyWithFinishedEvents) {
    const KWBBuffer b;
    EXPECT_EQ(b.GetID(), 0u);
    EXPECT_EQ(b.GetRange(), KWBRange());
    EXPECT_EQ(b.GetSequenceNumber(), 0u);
    EXPECT_EQ(b.GetLoadEvent().Wait(-1), kULMErrArgument);
    EXPECT_EQ(b.GetUnloadEvent().Wait(-1), kULMErrArgument);
    EXPECT_EQ(b.GetRenderEvent(true).Wait(-1), kULMErrArgument);
    // A reader does not wait for a render that only reads the buffer.
    EXPECT_EQ(b.GetRenderEvent(false).Wait(-1), kULMOK);
    EXPECT_EQ(b.GetPermission(), kULMPermissionNotShared);
}

TEST(KWBBufferDescriptor, SizingConstructorRoundsToTheTiles) {
    struct Case { uint32_t u, v, w, bits, eu, ev, ew; };
    const Case cases[] = {
        {1, 0, 0, 8, 4, 0, 0},          {5, 0, 0, 64, 8, 0, 0},
        {33, 1, 0, 8, 64, 16, 0},       {17, 9, 0, 32, 32, 16, 0},
        {17, 5, 0, 64, 32, 8, 0},       {9, 5, 3, 8, 16, 8, 8},
        {9, 5, 3, 16, 16, 8, 4},        {9, 5, 3, 32, 16, 8, 4},
        {32768, 32768, 0, 8, 32768, 32768, 0},
    };
    for (const Case& c : cases) {
        ULMStatus status = kULMErrInternal;
        const KWBBuffer b(c.u, c.v, c.w, c.bits, status);
        ASSERT_EQ(status, kULMOK) << c.u << "x" << c.v << "x" << c.w << "@" << c.bits;
        uint32_t u = 0, v = 0, w = 0, bits = 0;
        b.GetSizes(u, v, w, bits);
        EXPECT_EQ(u, c.eu);
        EXPECT_EQ(v, c.ev);
        EXPECT_EQ(w, c.ew);
        EXPECT_EQ(b.GetID(), ~uint64_t{0});
        EXPECT_EQ(b.GetRange(), KWBRange(0, 0, 0, static_cast<int16_t>(c.eu - 1),
                                         static_cast<int16_t>(c.ev ? c.ev - 1 : 0),
                                         static_cast<int16_t>(c.ew ? c.ew - 1 : 0)));
    }
}

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

TEST(KWBBufferDescriptor, OffsetsMustBeEvenAndModuliPowersOfTwo) {
    KWBBuffer b;
    bool wrap = true;
    int u = 0, v = 0, w = 0;
    ASSERT_EQ(b.SetOffsetOrWrap(false, 2, 4, 6), kULMOK);
    b.GetOffsetOrWrap(wrap, u, v, w);
    EXPECT_FALSE(wrap);
    EXPECT_EQ(u, 2);
    EXPECT_EQ(w, 6);

    EXPECT_EQ(b.SetOffsetOrWrap(true, 64, 64, 3), kULMErrArgument);
    EXPECT_EQ(b.SetOffsetOrWrap(false, 2, 3, 4), kULMErrArgument);
    EXPECT_EQ(b.SetOffsetOrWrap(false, 40000, 0, 0), kULMErrArgument);
    EXPECT_EQ(b.SetOffsetOrWrap(true, 65536, 1, 1), kULMErrArgument);
    EXPECT_EQ(b.SetOffsetOrWrap(true, -4, 1, 1), kULMErrArgument);
    b.GetOffsetOrWrap(wrap, u, v, w);  // unchanged by the refusals
    EXPECT_FALSE(wrap);
    EXPECT_EQ(v, 4);

    ASSERT_EQ(b.SetOffsetOrWrap(true, 256, 1, 0), kULMOK);
    b.GetOffsetOrWrap(wrap, u, v, w);
    EXPECT_TRUE(wrap);
    EXPECT_EQ(u, 256);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(w, 0);  // a modulus of 0 is kept as an unwrapped axis
    EXPECT_EQ(b.m_offset_U, 255);
    EXPECT_EQ(b.m_offset_W, -1);
}

TEST(KWBBufferDescriptor, AdjustedRangeStandsInForAnUnsetRange) {
    KWBBuffer b;
    ASSERT_EQ(b.SetOffsetOrWrap(false, 10, 20, 0), kULMOK);
    KWBRange r;
    b.GetAdjustedRange(r);
    EXPECT_EQ(r, KWBRange(10, 20, 0, 10, 20, 0));
    b.SetRange(KWBRange(1, 2, 3, 4));
    b.GetAdjustedRange(r);
    EXPECT_EQ(r, KWBRange(1, 2, 3, 4));
    b.SetRange(KWBRange());
    ASSERT_EQ(b.SetOffsetOrWrap(true, 16, 16, 1), kULMOK);
    b.GetAdjustedRange(r);
    EXPECT_EQ(r, KWBRange());
}

TEST(KWBBufferDescriptor, PassesRecordTheirPendingLoadsAndRenders) {
    KWBBuffer b;
    const KWBSyncEvent render(1, KWBSyncEvent::kRenderQueue, 40);
    const KWBSyncEvent load(1, KWBSyncEvent::kDmaInQueue, 41);
    b.SetLoadOrRenderEvent(ULMSyncEvent(kULMOK));  // finished work orders nothing
    EXPECT_EQ(b.GetRenderEvent(false), ULMSyncEvent(kULMOK));
    EXPECT_EQ(b.GetLoadEvent().Status(), kULMErrArgument);

    b.SetLoadOrRenderEvent(render);
    EXPECT_EQ(b.GetRenderEvent(false), render);  // the pass wrote the buffer
    EXPECT_EQ(b.GetRenderEvent(true), render);
    b.SetLoadOrRenderEvent(load);
    EXPECT_EQ(b.GetLoadEvent(), load);
    EXPECT_EQ(b.GetRenderEvent(false), render);

    // A render that only read the buffer does not hold up its readers.
    b.SetRenderEvent(render, false);
    EXPECT_EQ(b.GetRenderEvent(false), ULMSyncEvent(kULMOK));
    EXPECT_EQ(b.GetRenderEvent(true), render);
}

TEST(KWBBufferDescriptorDeathTest, AnUnloadIsNoPassOutput) {
    KWBBuffer b;
    EXPECT_DEATH(b.SetLoadOrRenderEvent(KWBSyncEvent(0, KWBSyncEvent::kDmaOutQueue, 3)),
                 "kDmaInQueue");
}

TEST(KWBBufferDescriptor, PermissionBitsRoundTrip) {
    EXPECT_EQ(KWBPermission(kULMPermissionNotShared), 4);
    EXPECT_EQ(KWBPermission(kULMPermissionReadWrite), 7);
    EXPECT_EQ(KWBPermission(kULMPermissionResize), 12);
    EXPECT_EQ(KWBPermission(kULMPermissionRead | kULMPermissionSetPermission), 5);
    for (int p = 0; p < 8; ++p) {
        const auto permission = static_cast<ULMPermission>(p);
        EXPECT_EQ(ConvertPermission(KWBPermission(permission)), permission);
    }
    EXPECT_EQ(ConvertPermission(15), kULMPermissionReadWrite | kULMPermissionResize);
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
