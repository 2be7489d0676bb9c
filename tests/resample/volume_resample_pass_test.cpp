// The volume-buffer resample pass: its voxels against host references, and
// its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "context/classifier_internal.h"
#include "resample/volume_resample_pass.h"
#include "ulm3/classifier.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

const ULMClassifier& Direct() { return ULMClassifierInternal::DirectRGBAClassifier(); }

using VolumeResamplePassTest = VolumePassTest;
using Mode = ULMVolumeInternal::sideways;

ULMStatus Pass(ULMVolumeInternal* from, ULMVolume* to, const ULMVolumeRange& source, const ULMVolumeRange& dest,
               Mode mode = ULMVolumeInternal::kOneToOne, const ULMClassifier& c = Direct()) {
    return from->DoStartResampleBuffer(to, source, dest, c, mode, 0, 0).Wait(-1);
}

// A volume of 8-bit field 0 and no voxels, with a buffer on a board unless
// none is asked for.
ULMVolumeInternal* Blank(int bits, const ULMVolumeRange& range, ULMLocation board) {
    const ULMFieldDescriptor byte{0, 8, kULMUnsignedFraction};
    ULMVolumeInternal* v = ULMVolumeInternal::CreateSimpleVolume(bits, range, 1, &byte, nullptr);
    EXPECT_TRUE(board == kULMNoBufferAttached || v->CreateBuffer(board) == kULMOK);
    return v;
}

TEST_F(VolumeResamplePassTest, RefusalsQueueNothing) {
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(102, 24, 8, 0, 0, 0), kULMBoard0, 1);
    Held<ULMVolumeInternal> d(Blank(8, ULMVolumeRange(50, 24, 8, 0, 0, 0), kULMNoBufferAttached));
    const ULMVolumeRange all(102, 24, 8, 0, 0, 0), out(50, 24, 8, 0, 0, 0);
    const ULMClassifier invalid = ULMClassifier::DirectRGBA(kULMField0, ULMFieldNumber(9), kULMField2, kULMField3);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(Pass(a.volume, nullptr, all, out), kULMErrVolume);
    EXPECT_EQ(Pass(a.volume, d, all, out, ULMVolumeInternal::kOneToOne, invalid), kULMErrClassifier);
    EXPECT_EQ(Pass(a.volume, d, all, ULMVolumeRange(11, 24, 8, 0, 0, 0)), kULMErrArgument);
    EXPECT_EQ(Pass(a.volume, d, ULMVolumeRange(0, 24, 8, 0, 0, 0), out), kULMErrArgument);
    EXPECT_EQ(Pass(a.volume, d, all, out), kULMErrCantSubsample) << "102 into 50, even as 101 into 50";
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

// A source box the source's buffer cannot hold under its addressing (an
// offset window short of it; a window moved away and back over a volume
// without voxels of its own to fill it from), or a destination box a plain
// destination's buffer cannot take, is refused before anything is made or
// queued; a box inside the window is sampled from the voxels there.
TEST_F(VolumeResamplePassTest, BoxesABufferCannotHoldAreRefusedBeforeAnyWork) {
    LockedVolume a;
    const ULMVolumeRange all(96, 24, 8, 0, 0, 0), out(48, 24, 8, 0, 0, 0);
    Lock(a, 8, all, kULMBoard0, 4);
    ASSERT_EQ(a.volume->SetBufferOffset(4, 0, 0), kULMOK);
    Held<ULMVolumeInternal> d(Blank(8, out, kULMNoBufferAttached));
    Held<ULMVolumeInternal> moved(Blank(8, out, kULMBoard0));
    ASSERT_EQ(moved->SetBufferOffset(8, 0, 0), kULMOK);
    Held<ULMVolumeInternal> blank(Blank(8, all, kULMBoard0));
    ASSERT_EQ(blank->SetBufferOffset(4, 0, 0), kULMOK);
    ASSERT_EQ(blank->SetBufferOffset(0, 0, 0), kULMOK);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(Pass(a.volume, d, all, out), kULMErrVolume);
    EXPECT_EQ(d->GetBufferID(), kULMNoBuffer) << "the refused pass gave the destination a buffer";
    EXPECT_EQ(Pass(blank, d, all, out), kULMErrVolume);
    const ULMVolumeRange inside(88, 24, 8, 4, 0, 0), half(44, 24, 8, 0, 0, 0);
    EXPECT_EQ(Pass(a.volume, moved, inside, half), kULMErrVolume);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
    // The same box inside both windows.
    ASSERT_EQ(moved->SetBufferOffset(0, 0, 0), kULMOK);
    ASSERT_EQ(Pass(a.volume, moved, inside, half), kULMOK);
    const std::vector<uint8_t> got = BoardVoxels(*moved, half);
    int off = 0;
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 44; ++x) {
                const size_t first = (size_t(z) * 24 + y) * 96 + 4 + 2 * x;
                const int mean2 = a.host[first] + a.host[first + 1];
                off += std::abs(2 * got[(size_t(z) * 24 + y) * 44 + x] - mean2) > 2;
            }
    EXPECT_EQ(off, 0) << "voxels off the means of their pairs";
}

TEST_F(VolumeResamplePassTest, SlabRoundTripIsBitExact) {
    for (int bits : {8, 16, 32}) {
        LockedVolume a, b;
        Lock(a, bits, ULMVolumeRange(40, 36, 34, 0, 0, 0), kULMBoard0, 2);
        Lock(b, bits, ULMVolumeRange(40, 36, 34, 0, 0, 0), kULMBoard0, 3);
        Held<ULMVolumeInternal> slab(Blank(bits, ULMVolumeRange(36, 34, 32, 0, 0, 0), kULMBoard0));
        const ULMVolumeRange box(32, 36, 34, 8, 0, 0);
        ASSERT_EQ(Pass(a.volume, slab, ULMVolumeRange(36, 34, 32, 0, 0, 8), slab->GetRange(), ULMVolumeInternal::kUnload),
                  kULMOK);
        ASSERT_EQ(Pass(slab, b.volume, ULMVolumeRange(32, 36, 34, 0, 0, 0), box, ULMVolumeInternal::kUpdate), kULMOK);
        EXPECT_EQ(BoardVoxels(*b.volume, box), BoardVoxels(*a.volume, box)) << bits << " bits";
    }
}

// The chip writes slices in pairs: a box of an odd number of slices must not spill into the slice after it.
TEST_F(VolumeResamplePassTest, AnOddSliceCountWritesTheBoxAndNothingAfterIt) {
    LockedVolume a, b;
    const ULMVolumeRange whole(16, 16, 12, 0, 0, 0), box(16, 16, 5, 0, 0, 3);
    Lock(a, 8, whole, kULMBoard0, 5);
    Lock(b, 8, whole, kULMBoard0, 6);
    ASSERT_EQ(Pass(a.volume, b.volume, box, box), kULMOK);
    std::copy_n(a.host.begin() + 3 * 256, 5 * 256, b.host.begin() + 3 * 256);  // slices 3-7 of 256 voxels
    EXPECT_EQ(BoardVoxels(*b.volume, whole), b.host);
}

}  // namespace
}  // namespace ulm3::testing
