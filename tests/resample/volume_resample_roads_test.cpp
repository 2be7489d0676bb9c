// The public volume resample: every road against the host reference, the
// halving pass on boards that have it, and Z resampled in sections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "context/classifier_internal.h"
#include "resample/volume_resample_roads.h"
#include "support/resample_reference.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeResampleRoadsTest = VolumePassTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

TEST_F(VolumeResampleRoadsTest, EveryRoadGivesTheHostReferenceWithoutSeams) {
    struct Case {
        ULMVolumeRange source, destination;
        int minor;  // 1: the board halves Z in one pass
        ULMLocation board;
    } cases[] = {
        {{16, 12, 150, 0, 0, 0}, {12, 12, 100, 0, 0, 0}, 1, kULMBoard0},  // sections of 64 and 36
        {{16, 12, 90, 0, 0, 0}, {12, 12, 70, 0, 0, 0}, 1, kULMBoard0},    // 0..63 and 58..69
        {{16, 12, 100, 0, 0, 0}, {12, 14, 71, 0, 0, 0}, 1, kULMBoard0},   // 0..63 and 58..70
        {{16, 12, 129, 0, 0, 0}, {14, 12, 64, 0, 0, 0}, 2, kULMBoard0},   // the reduced ratio, 128 / 64
        {{16, 12, 128, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, 1, kULMBoard0},   // one halving pass
        {{16, 12, 128, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, 2, kULMBoard0},
        {{16, 12, 40, 0, 0, 10}, {12, 12, 30, 0, 0, 0}, 1, kULMBoard0},   // a source from Z 10
        {{64, 16, 32, 0, 0, 0}, {32, 16, 16, 0, 0, 0}, 1, kULMBoard1},    // pair means, on another board
    };
    const size_t buffersBefore = LiveBuffers();
    for (const Case& c : cases) {
        const ULMVolumeRange &s = c.source, &d = c.destination;
        gULMControl.m_board[0].m_minor = c.minor;
        LockedVolume a;
        Lock(a, 8, ULMVolumeRange(s.XSize(), s.YSize(), s.ZOrigin() + s.ZSize() + 2, 0, 0, 0), kULMBoard0, 9);
        Held<ULMVolumeInternal> out(ULMVolumeInternal::CreateSimpleVolume(8, d, 1, &kByte, nullptr));
        ASSERT_EQ(out->CreateBuffer(c.board), kULMOK);
        const size_t renders = Renders();
        ASSERT_EQ(a.volume->ResampleBuffer(out, s, d, ULMClassifierInternal::DirectRGBAClassifier()), kULMOK);
        EXPECT_EQ(Renders() - renders == 1, c.minor == 1 && s.ZSize() == 128 && c.board == kULMBoard0) << &c - cases;
        const double step = s.ZSize() > 2 * d.ZSize() ? (s.ZSize() - 1.0) / d.ZSize() : 0;
        const RefAxis ax = RefAxisOf(0, s.XSize(), 0, d.XSize()), ay = RefAxisOf(0, s.YSize(), 0, d.YSize());
        const RefAxis az = RefAxisOf(s.ZOrigin(), s.ZSize(), 0, d.ZSize(), step);
        // Outside the volume, its border value 0.
        auto at = [&](int x, int y, int z) {
            const bool outside = x < 0 || x >= s.XSize() || y < 0 || y >= s.YSize();
            return outside ? 0.0 : double(a.host[(size_t(z) * s.YSize() + y) * s.XSize() + x]);
        };
        const std::vector<uint8_t> got = BoardVoxels(*out, d);
        double worst = 0;
        const int w = d.XSize(), h = d.YSize();
        for (int i = 0; i < int(got.size()); ++i)
            worst = std::max(worst, std::abs(got[i] - RefSample(at, ax, ay, az, i % w, i / w % h, i / w / h)));
        EXPECT_LE(worst, 1.5) << s.ZSize() << " into " << d.ZSize() << " " << c.minor << " " << c.board;
    }
    EXPECT_EQ(LiveBuffers(), buffersBefore) << "no temporary is left";
}

TEST_F(VolumeResampleRoadsTest, RefusalsQueueNothing) {
    LockedVolume a;
    Lock(a, 8, ULMVolumeRange(32, 12, 140, 0, 0, 0), kULMBoard0, 2);
    Held<ULMVolumeInternal> out(ULMVolumeInternal::CreateSimpleVolume(8, {16, 12, 64, 0, 0, 0}, 1, &kByte, nullptr));
    const size_t buffers = LiveBuffers();
    const struct {
        const char* what;
        ULMVolumeRange source, destination;
        ULMStatus expected;
    } cases[] = {
        {"source outside the volume", {16, 12, 141, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"source outside the volume in X", {16, 12, 128, 17, 0, 0}, {16, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"odd, short of the end", {16, 12, 140, 0, 0, 0}, {16, 12, 63, 0, 0, 0}, kULMErrArgument},
        {"a section under 12", {16, 12, 16, 0, 0, 0}, {16, 12, 10, 0, 0, 0}, kULMErrArgument},
        {"beyond twice", {16, 12, 130, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, kULMErrCantSubsample},
        {"no source", {0, 12, 140, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"a negative source", {16, 12, -5, 0, 0, 0}, {16, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"a negative source, no destination", {-5, 12, 140, 0, 0, 0}, {16, 0, 64, 0, 0, 0}, kULMErrArgument},
        {"a negative destination", {16, 12, 140, 0, 0, 0}, {-5, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"destination past its volume in X", {16, 12, 140, 0, 0, 0}, {16, 12, 64, 1, 0, 0}, kULMErrArgument},
        {"destination past its volume in Z", {16, 12, 64, 0, 0, 0}, {16, 12, 32, 0, 0, 40}, kULMErrArgument},
        {"destination before its volume", {16, 12, 64, 0, 0, 0}, {16, 12, 32, 0, -1, 0}, kULMErrArgument},
        {"destination under 12 in X", {16, 12, 128, 0, 0, 0}, {11, 12, 64, 0, 0, 0}, kULMErrArgument},
        {"destination under 12 in Y", {16, 12, 128, 0, 0, 0}, {16, 11, 64, 0, 0, 0}, kULMErrArgument},
        {"X shrunk beyond twice", {32, 12, 128, 0, 0, 0}, {12, 12, 64, 0, 0, 0}, kULMErrCantSubsample},
        {"no destination", {16, 12, 140, 0, 0, 0}, {16, 12, 0, 0, 0, 0}, kULMOK},
        {"no destination, nothing to read", {0, 12, 140, 0, 0, 0}, {16, 0, 64, 0, 0, 0}, kULMOK}};
    for (const auto& c : cases)
        EXPECT_EQ(a.volume->ResampleBuffer(out, c.source, c.destination, ULMClassifier()), c.expected) << c.what;
    EXPECT_EQ(Renders(), 0u);
    EXPECT_EQ(LiveBuffers(), buffers);
    // Beyond the board's 16-bit coordinates, in a volume that reaches there.
    Held<ULMVolumeInternal> far(
        ULMVolumeInternal::CreateSimpleVolume(8, {16, 12, 64, 32760, 0, 0}, 1, &kByte, nullptr));
    EXPECT_EQ(a.volume->ResampleBuffer(far, {16, 12, 128, 0, 0, 0}, {16, 12, 64, 32760, 0, 0}, ULMClassifier()),
              kULMErrArgument);
    EXPECT_EQ(Renders(), 0u);
    EXPECT_EQ(LiveBuffers(), buffers);
}

// A volume resampled into its own buffer, on every road, against the same resample into a separate volume that
// held the same voxels: the sections of one must not read what earlier sections wrote.
TEST_F(VolumeResampleRoadsTest, InPlaceOnEveryRoadGivesWhatASeparateDestinationGets) {
    const struct {
        const char* what;
        ULMVolumeRange whole, source, destination;
        int minor;
    } cases[] = {{"direct", {16, 12, 60, 0, 0, 0}, {16, 12, 40, 0, 0, 20}, {14, 12, 40, 1, 0, 0}, 2},
                 {"halving", {16, 12, 128, 0, 0, 0}, {16, 12, 128, 0, 0, 0}, {16, 12, 64, 0, 0, 64}, 1},
                 {"odd, to the end", {16, 12, 71, 0, 0, 0}, {16, 12, 41, 0, 0, 0}, {16, 12, 41, 0, 0, 30}, 2},
                 {"sections, enlarged", {16, 12, 120, 0, 0, 0}, {16, 12, 40, 0, 0, 0}, {16, 12, 80, 0, 0, 0}, 2},
                 {"sections, shrunk", {16, 12, 100, 0, 0, 0}, {16, 12, 100, 0, 0, 0}, {16, 12, 70, 0, 0, 30}, 2},
                 {"sections, moved", {20, 14, 90, 0, 0, 0}, {20, 14, 40, 0, 0, 50}, {14, 12, 50, 3, 1, 0}, 2}};
    const size_t buffersBefore = LiveBuffers();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gULMControl.m_board[0].m_minor = c.minor;
        LockedVolume self, source, separate;
        Lock(self, 8, c.whole, kULMBoard0, 5);
        Lock(source, 8, c.whole, kULMBoard0, 5);
        Lock(separate, 8, c.whole, kULMBoard0, 5);
        const ULMClassifier direct = ULMClassifierInternal::DirectRGBAClassifier();
        ASSERT_EQ(source.volume->ResampleBuffer(separate.volume, c.source, c.destination, direct), kULMOK);
        ASSERT_EQ(self.volume->ResampleBuffer(self.volume, c.source, c.destination, direct), kULMOK);
        const std::vector<uint8_t> expected = BoardVoxels(*separate.volume, c.whole);
        const std::vector<uint8_t> got = BoardVoxels(*self.volume, c.whole);
        ASSERT_NE(expected, source.host) << "the resample changed nothing";
        int wrong = 0;
        for (size_t i = 0; i < got.size(); ++i) wrong += got[i] != expected[i];
        EXPECT_EQ(wrong, 0);
    }
    EXPECT_EQ(LiveBuffers(), buffersBefore) << "no temporary is left";
    // A volume without a buffer of its own would be read from one the pass lends it: refused, its voxels kept.
    std::vector<uint8_t> voxels = RandomBytes(16 * 12 * 120, 6);
    const std::vector<uint8_t> kept = voxels;
    Held<ULMVolumeInternal> unlocked(
        ULMVolumeInternal::CreateSimpleVolume(8, {16, 12, 120, 0, 0, 0}, 1, &kByte, voxels.data()));
    for (const int z : {40, 80})
        EXPECT_EQ(unlocked->ResampleBuffer(unlocked, {16, 12, 40, 0, 0, 0}, {16, 12, z, 0, 0, 0},
                                           ULMClassifierInternal::DirectRGBAClassifier()),
                  kULMErrVolume);
    EXPECT_EQ(voxels, kept);
    EXPECT_EQ(unlocked->GetBufferID(), kULMNoBuffer);
}

// A resample done in parts, each sampled with the plane of the whole, gives
// what the whole resample gives on the same road: into the source's board in
// one pass, through the pass's temporary (an odd count of slices to the
// volume's end), in sections into another board, and in parts narrower than
// a pass writes. Source and destination boxes start at other places on
// every axis, so that a part counting its voxels from its own box, or from
// the temporary's, samples elsewhere.
TEST_F(VolumeResampleRoadsTest, PartsWithTheWholePlaneGiveTheWholeResample) {
    gULMControl.m_board[0].m_minor = 2;
    const ULMVolumeRange whole(70, 40, 20, 0, 0, 0);
    const struct {
        const char* what;
        ULMVolumeRange source, destination;
        ULMLocation board;
        int parts;  // along X
    } cases[] = {
        {"shrunk, one pass", {60, 36, 14, 4, 2, 3}, {30, 18, 14, 7, 11, 5}, kULMBoard0, 2},
        {"enlarged, one pass", {24, 20, 14, 20, 9, 4}, {40, 30, 14, 2, 6, 3}, kULMBoard0, 2},
        {"shrunk, through the temporary", {60, 36, 13, 4, 2, 3}, {30, 18, 13, 7, 11, 7}, kULMBoard0, 2},
        {"shrunk, in sections", {60, 36, 14, 4, 2, 3}, {30, 18, 14, 7, 11, 5}, kULMBoard1, 2},
        {"enlarged, in sections", {24, 20, 14, 20, 9, 4}, {40, 30, 18, 2, 6, 1}, kULMBoard1, 2},
        {"shrunk, narrow parts", {60, 36, 14, 4, 2, 3}, {30, 18, 14, 7, 11, 5}, kULMBoard0, 3},
        {"enlarged, narrow parts in sections", {24, 20, 14, 20, 9, 4}, {40, 30, 14, 2, 6, 3}, kULMBoard1, 4},
    };
    const ULMClassifier direct = ULMClassifierInternal::DirectRGBAClassifier();
    const size_t buffersBefore = LiveBuffers();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LockedVolume a, once, inParts;
        Lock(a, 8, whole, kULMBoard0, 11);
        Lock(once, 8, whole, c.board, 12);
        Lock(inParts, 8, whole, c.board, 12);
        ASSERT_EQ(a.volume->ResampleBuffer(once.volume, c.source, c.destination, direct), kULMOK);
        ULMResamplePlane plane;
        ASSERT_EQ(ULMResamplePlaneOf(c.source, c.destination, plane), kULMOK);
        // Parts into another board take the road the whole takes there.
        plane.inSections = c.board != kULMBoard0;
        ULMVolumeRange part = c.destination;
        const int width = c.destination.XSize() / c.parts, end = c.destination.XOrigin() + c.destination.XSize();
        for (int p = 0; p < c.parts; ++p) {
            part.m_origin[0] = c.destination.XOrigin() + p * width;
            part.m_size[0] = p == c.parts - 1 ? end - part.XOrigin() : width;
            const ULMSyncEvent done = ULMStartVolumeResample(*a.volume, inParts.volume, c.source, part, direct, &plane);
            ASSERT_EQ(done.Wait(-1), kULMOK) << "part " << p;
        }
        const std::vector<uint8_t> expected = BoardVoxels(*once.volume, whole);
        const std::vector<uint8_t> got = BoardVoxels(*inParts.volume, whole);
        ASSERT_NE(expected, once.host) << "the resample changed nothing";
        int wrong = 0;
        for (size_t i = 0; i < got.size(); ++i) wrong += got[i] != expected[i];
        EXPECT_EQ(wrong, 0);
    }
    EXPECT_EQ(LiveBuffers(), buffersBefore) << "no temporary is left";
}

// A destination the application holds mapped is refused as a mapped source is, whichever way it is mapped but
// shared writing. Nothing is queued, and what the map writes stays.
TEST_F(VolumeResampleRoadsTest, AMappedDestinationIsRefusedAsAMappedSourceIs) {
    LockedVolume a, out;
    Lock(a, 8, ULMVolumeRange(16, 12, 40, 0, 0, 0), kULMBoard0, 7);
    Lock(out, 8, ULMVolumeRange(16, 12, 40, 0, 0, 0), kULMBoard0, 8);
    const ULMVolumeRange whole(16, 12, 40, 0, 0, 0);
    const size_t renders = Renders();
    for (const ULMAccessType access :
         {kULMAccessReadExclusive, kULMAccessReadShared, kULMAccessWrite, kULMAccessWriteExclusive,
          kULMAccessWriteOnlyExclusive}) {
        SCOPED_TRACE(access);
        void* mapped = nullptr;
        unsigned rows = 0, slices = 0;
        ASSERT_EQ(out.volume->MapVolume(access, mapped, rows, slices, kULMUseBuffer), kULMOK);
        EXPECT_EQ(a.volume->ResampleBuffer(out.volume, whole, whole, ULMClassifier()), kULMErrAccess);
        EXPECT_EQ(a.volume->ResampleBuffer(out.volume, whole, {16, 12, 20, 0, 0, 0}, ULMClassifier()), kULMErrAccess);
        if (access >= kULMAccessWrite) std::fill_n(static_cast<uint8_t*>(mapped), 16, uint8_t(access));
        ASSERT_EQ(out.volume->UnmapVolume(), kULMOK);
        if (access >= kULMAccessWrite) {
            EXPECT_EQ(BoardVoxels(*out.volume, {16, 1, 1, 0, 0, 0})[15], access);
        }
    }
    EXPECT_EQ(Renders(), renders);
    void* mapped = nullptr;
    unsigned rows = 0, slices = 0;
    ASSERT_EQ(out.volume->MapVolume(kULMAccessWriteShared, mapped, rows, slices, kULMUseBuffer), kULMOK);
    EXPECT_EQ(a.volume->ResampleBuffer(out.volume, whole, whole, ULMClassifier()), kULMOK);
    ASSERT_EQ(out.volume->UnmapVolume(), kULMOK);
}

}  // namespace
}  // namespace ulm3::testing
