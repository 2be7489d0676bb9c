// The public volume resample: every road against the host reference, the
// halving pass on boards that have it, and Z resampled in sections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "context/classifier_internal.h"
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
    Lock(a, 8, ULMVolumeRange(16, 12, 140, 0, 0, 0), kULMBoard0, 2);
    Held<ULMVolumeInternal> out(ULMVolumeInternal::CreateSimpleVolume(8, {16, 12, 64, 0, 0, 0}, 1, &kByte, nullptr));
    const size_t buffers = LiveBuffers();
    // Outside the volume; odd, short of the end; a section under 12; beyond twice.
    const ULMVolumeRange cases[][2] = {{{16, 12, 141, 0, 0, 0}, {16, 12, 64, 0, 0, 0}},
                                       {{16, 12, 140, 0, 0, 0}, {16, 12, 63, 0, 0, 0}},
                                       {{16, 12, 16, 0, 0, 0}, {16, 12, 10, 0, 0, 0}},
                                       {{16, 12, 130, 0, 0, 0}, {16, 12, 64, 0, 0, 0}}};
    for (const auto& c : cases)
        EXPECT_EQ(a.volume->ResampleBuffer(out, c[0], c[1], ULMClassifier()),
                  &c == &cases[3] ? kULMErrCantSubsample : kULMErrArgument);
    EXPECT_EQ(Renders(), 0u);
    EXPECT_EQ(LiveBuffers(), buffers);
}

}  // namespace
}  // namespace ulm3::testing
