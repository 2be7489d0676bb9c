// Rendering a volume into another: both plans against a ramp, what the
// target trusts afterwards, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "context/classifier_internal.h"
#include "support/rendered_pixels.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using RenderToVolumeTest = VolumePassTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

// A 16 x 16 x inDepth ramp along Z (inStep per slice), locked on board 0 when
// asked, and a context whose projection takes its voxels onto the cube the
// destination range is mapped from, so the destination's own size sets the
// scale.
struct Scene {
    std::vector<uint8_t> voxels;
    Held<ULMVolumeInternal> source;
    Held<ULMContext> context{ULMContext::Create()};
    int step;
    explicit Scene(int inDepth = 16, bool inLocked = true, int inStep = 8)
        : voxels(size_t(16) * 16 * inDepth), step(inStep) {
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(inStep * (i / 256));
        source.Assign(ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, inDepth, 0, 0, 0}, 1, &kByte, voxels.data()));
        source->SetCorrectionMatrix(ULMMatrix::Identity());
        EXPECT_EQ(inLocked ? source->LockVolume(kULMBoard0) : kULMOK, kULMOK);
        context->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
        const double s = 2 / 15.0, sz = 2.0 / (inDepth - 1);
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(s, s, sz));
    }
    // Source slice z of the ramp, linear between slices.
    double Ramp(double inZ) const { return step * inZ; }
};

// Both plans at the depths their rules turn on: odd counts that end at the
// end, the smallest each plan takes, and an odd active sub-volume at the
// end. A source the call had to lock is unlocked again, and the source's
// next plain render is the one it gave before.
TEST_F(RenderToVolumeTest, BothPlansFollowTheRampAtEveryDepthAndLeaveTheSourceAsItWas) {
    const struct {
        int sourceDepth, depth;
        size_t renders;
        int activeFrom = 0;  // the active sub-volume's first slice, to the end
        int sourceFromY = 0;  // the source's active sub-volume's first row, to the end
    } cases[] = {{16, 16, 1},     {15, 15, 1}, {2, 2, 1},  {17, 17, 1}, {16, 32, 2}, {16, 15, 2},
                 {16, 17, 2},     {16, 33, 2}, {16, 3, 2}, {16, 2, 2},  {5, 16, 1, 11},
                 {16, 16, 2, 11}, {16, 31, 2, 26}, {16, 32, 2, 0, 3}};
    for (const auto& c : cases)
        for (const bool locked : {true, false}) {
            SCOPED_TRACE(::testing::Message() << c.sourceDepth << " into " << c.depth << " from " << c.activeFrom
                                              << (locked ? ", locked" : ", not locked"));
            Scene scene(c.sourceDepth, locked);
            const ULMVolumeRange rows(16, 16 - c.sourceFromY, c.sourceDepth, 0, c.sourceFromY, 0);
            ASSERT_EQ(c.sourceFromY != 0 ? scene.source->SetActiveSubVolume(rows) : kULMOK, kULMOK);
            const std::vector<uint32_t> before = test_support::RenderedPixels(scene.source, scene.context, 24);
            std::vector<uint8_t> zeros(size_t(16) * 16 * c.depth);
            Held<ULMVolumeInternal> out(
                ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, c.depth, 0, 0, 0}, 1, &kByte, zeros.data()));
            ASSERT_EQ(out->LockVolume(kULMBoard0), kULMOK);
            ASSERT_EQ(out->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(1), 0.1, 0.1, 0.1, 0.1), kULMOK);
            const ULMVolumeRange active(16, 16, c.depth - c.activeFrom, 0, 0, c.activeFrom);
            ASSERT_EQ(c.activeFrom != 0 ? out->SetActiveSubVolume(active) : kULMOK, kULMOK);
            const size_t renders = Renders();
            ASSERT_EQ(scene.source->RenderToVolume(scene.context, out, ULMVolume::kRenderToVolumeNone), kULMOK);
            EXPECT_EQ(Renders() - renders, c.renders);
            EXPECT_EQ(scene.source->IsLocked(), locked);
            EXPECT_FALSE(out->HostDataMatchesBuffer()) << "space leaping would trust the zeros";
            const std::vector<uint8_t> got = BoardVoxels(*out, out->GetRange());
            // The active slices span the source's depth; the others keep their zeros, and rows the source's
            // sub-volume leaves out have no sample.
            const double step = (c.sourceDepth - 1.0) / (active.ZSize() - 1);
            for (size_t i = 0; i < got.size(); ++i) {
                const int z = int(i / 256);
                const bool sampled = z >= c.activeFrom && int(i / 16 % 16) >= c.sourceFromY;
                const double want = sampled ? scene.Ramp((z - c.activeFrom) * step) : 0.0;
                ASSERT_NEAR(got[i], want, 1.0) << "voxel " << i;
            }
            EXPECT_EQ(test_support::RenderedPixels(scene.source, scene.context, 24), before);
        }
}

// Each gradient mode through each plan, against the chip's central
// differences of the ramp: one slice of the source per destination slice,
// or half of one through the temporary. Components come out in the source's
// axes in both plans, biased into unsigned fields; the magnitude takes
// alpha, or field 0 alone.
TEST_F(RenderToVolumeTest, GradientModesGiveTheRampsGradientThroughBothPlans) {
    const ULMFieldDescriptor rgba[4] = {kByte, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction},
                                        {24, 8, kULMUnsignedFraction}};
    const auto q9 = [](double g) { return std::round(std::clamp(g, -1.0, 1.0) * 511) / 511; };
    for (const int depth : {16, 32})
        for (const auto mode : {ULMVolume::kOutputGradient, ULMVolume::kOutputGradientMagnitude,
                                ULMVolume::kOutputGradientAndMagnitude}) {
            SCOPED_TRACE(::testing::Message() << depth << " deep, mode " << mode);
            Scene scene(16, true, 16);
            std::vector<uint32_t> poison(size_t(16) * 16 * depth, 0x5A5A5A5Au);
            Held<ULMVolumeInternal> out(
                ULMVolumeInternal::CreateSimpleVolume(32, {16, 16, depth, 0, 0, 0}, 4, rgba, poison.data()));
            ASSERT_EQ(out->LockVolume(kULMBoard0), kULMOK);
            const size_t renders = Renders();
            ASSERT_EQ(scene.source->RenderToVolume(scene.context, out, mode), kULMOK);
            EXPECT_EQ(Renders() - renders, depth == 16 ? 1u : 2u);
            const std::vector<uint8_t> got = BoardVoxels(*out, out->GetRange());
            // Along Z, per destination slice; X and Y are flat away from the sides.
            const double g = q9(16.0 / 255 * 15 / (depth - 1));
            const double biased[3] = {std::round((1 + 0.0) / 2 * 255), std::round((1 + 0.0) / 2 * 255),
                                      std::round((1 + g) / 2 * 255)};
            const double magnitude = std::round(std::min(1.0, g) * 255);
            for (int z = 1; z < depth - 1; ++z)
                for (int y = 1; y < 15; ++y)
                    for (int x = 1; x < 15; ++x) {
                        const uint8_t* v = &got[((size_t(z) * 16 + y) * 16 + x) * 4];
                        const bool grad = mode != ULMVolume::kOutputGradientMagnitude;
                        for (int c = 0; c < 3; ++c) {
                            const double want = grad ? biased[c] : c == 0 ? magnitude : 0;
                            ASSERT_NEAR(v[c], want, 1.0) << x << "," << y << "," << z << " channel " << c;
                        }
                        if (mode != ULMVolume::kOutputGradient) {
                            const double alpha = grad ? magnitude : 0;
                            ASSERT_NEAR(v[3], alpha, 1.0) << x << "," << y << "," << z;
                        }
                    }
        }
}

// Refused before or after the source was locked for the call: a source that
// was not locked is not locked afterwards.
TEST_F(RenderToVolumeTest, RefusalsLeaveEverythingAsItWas) {
    for (const bool locked : {true, false}) {
        Scene scene(16, locked);
        Held<ULMVolumeInternal> out(
            ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, 16, 0, 0, 0}, 1, &kByte, nullptr));
        Held<ULMContext> perspective(CloneContext(scene.context)), turned(CloneContext(scene.context));
        perspective->GetCamera().SetProjectionMatrix(ULMMatrix::Perspective(40, 1, -1, -10));
        turned->GetCamera().SetModelMatrix(ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)));
        tulx7sim::ClearRequestLog();
        EXPECT_EQ(scene.source->RenderToVolume(perspective, out, ULMVolume::kRenderToVolumeNone), kULMErrArgument);
        EXPECT_EQ(scene.source->RenderToVolume(turned, out, ULMVolume::kRenderToVolumeNone), kULMErrUnimplemented);
        // An output the application holds mapped, but for shared writing, as an update of it would be.
        ASSERT_EQ(out->CreateBuffer(kULMBoard0), kULMOK);
        for (const ULMAccessType access : {kULMAccessReadShared, kULMAccessWrite, kULMAccessWriteExclusive}) {
            void* mapped = nullptr;
            unsigned rows = 0, slices = 0;
            ASSERT_EQ(out->MapVolume(access, mapped, rows, slices, kULMUseBuffer), kULMOK);
            EXPECT_EQ(scene.source->RenderToVolume(scene.context, out, ULMVolume::kRenderToVolumeNone), kULMErrAccess)
                << access;
            ASSERT_EQ(out->UnmapVolume(), kULMOK);
        }
        ASSERT_EQ(out->SetActiveSubVolume({16, 16, 5, 0, 0, 4}), kULMOK);
        EXPECT_EQ(scene.source->RenderToVolume(scene.context, out, ULMVolume::kRenderToVolumeNone), kULMErrArgument);
        EXPECT_EQ(Renders(), 0u);
        EXPECT_EQ(scene.context->GetImageOutputBuffer(), ULMContext::kImageBuffer0) << "the clone took the changes";
        EXPECT_EQ(scene.source->GetAccessControl(), kULMAccessNoControl);
        EXPECT_EQ(scene.source->IsLocked(), locked);
    }
}

}  // namespace
}  // namespace ulm3::testing
