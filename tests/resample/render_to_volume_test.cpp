// Rendering a volume into another: both plans against a ramp, what the
// target trusts afterwards, and the refusals.
#include <gtest/gtest.h>

#include <vector>

#include "context/classifier_internal.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using RenderToVolumeTest = VolumePassTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

// A 16 x 16 x 16 ramp along Z (8 per slice), locked on board 0, and a
// context whose projection takes its voxels onto the cube the destination
// range is mapped from, so the destination's own size sets the scale.
struct Scene {
    std::vector<uint8_t> voxels = std::vector<uint8_t>(16 * 16 * 16);
    Held<ULMVolumeInternal> source;
    Held<ULMContext> context{ULMContext::Create()};
    Scene() {
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(8 * (i / 256));
        source.Assign(ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, 16, 0, 0, 0}, 1, &kByte, voxels.data()));
        source->SetCorrectionMatrix(ULMMatrix::Identity());
        EXPECT_EQ(source->LockVolume(kULMBoard0), kULMOK);
        context->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
        const double s = 2 / 15.0;
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(s, s, s));
    }
};

TEST_F(RenderToVolumeTest, BothPlansFollowTheRampAndTheTargetDropsItsHostCopy) {
    for (int depth : {16, 32}) {
        Scene scene;
        std::vector<uint8_t> zeros(size_t(16) * 16 * depth);
        Held<ULMVolumeInternal> out(ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, depth, 0, 0, 0}, 1, &kByte,
                                                                          zeros.data()));
        ASSERT_EQ(out->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(out->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(1), 0.1, 0.1, 0.1, 0.1), kULMOK);
        const size_t renders = Renders();
        ASSERT_EQ(scene.source->RenderToVolume(scene.context, out, ULMVolume::kRenderToVolumeNone), kULMOK);
        EXPECT_EQ(Renders() - renders, depth == 16 ? 1u : 2u);
        EXPECT_FALSE(out->HostDataMatchesBuffer()) << "space leaping would trust the zeros";
        const std::vector<uint8_t> got = BoardVoxels(*out, out->GetRange());
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_NEAR(got[i], 8 * (i / 256) * 15.0 / (depth - 1), 1.0) << depth << " deep, voxel " << i;
    }
}

TEST_F(RenderToVolumeTest, RefusalsLeaveEverythingAsItWas) {
    Scene scene;
    Held<ULMVolumeInternal> out(ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, 16, 0, 0, 0}, 1, &kByte, nullptr));
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
}

}  // namespace
}  // namespace ulm3::testing
