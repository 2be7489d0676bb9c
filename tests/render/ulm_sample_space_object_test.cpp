// Renders into another volume, read back from its buffer, and the object
// grid's post-warp terms against camera matrices built here.
#include <gtest/gtest.h>

#include <cmath>

#include "render/volume_render.h"
#include "render/volume_render_state.h"
#include "support/context_fixture.h"
#include "tulx7sim/rendering_chip.h"
#include "ulm3/image_buffer.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

using SampleSpaceObjectTest = testing::ContextTest;  // two boards
double Ramp(double x, double y, double z) { return 10 * x + 6 * y + 4 * z + 2; }

// A ramp of 14 x 12 x 10 voxels on board 0. Each row drives the engine as the render-to-volume operation does: no
// image, the target set on the sample space under its lock. Gradients are the chip's 9-bit central differences;
// unsigned fields hold them as (g + 1) / 2. The first row turns the source to (y, z, 13 - x).
TEST_F(SampleSpaceObjectTest, ARampRendersIntoConstantGradientsAndMovedVoxelsOfTargetsOnItsBoard) {
    std::vector<uint8_t> voxels;
    for (int i = 0; i < 14 * 12 * 10; ++i) voxels.push_back(static_cast<uint8_t>(Ramp(i % 14, i / 14 % 12, i / 168)));
    auto* source =
        static_cast<ULMVolumeInternal*>(ULMVolume::Create(1u, voxels.data(), 14, 12, 10, ULMVolume::kSliced));
    // Leaping would skip the faint half of the ramp; a render into a volume owes every voxel its sample.
    ASSERT_EQ(source->SetSpaceLeapingParameters(ULMVolume::kSpaceLeapingOn, -1, -1, -1, 0.5), kULMOK);
    ULMContext* context = ULMContext::Create();
    const double g[3] = {std::round(10 / 255.0 * 511) / 511, std::round(6 / 255.0 * 511) / 511,
                         std::round(4 / 255.0 * 511) / 511};
    const double magnitude = std::hypot(g[0], g[1], g[2]);
    using V = ULMVolume;
    const ULMMatrix turned(0, 1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 13, 0, 0, 0, 1);
    const ULMMatrix moved = ULMMatrix::Translate(1, 2, 1);
    const ULMMatrix rotated = ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0));
    const ULMFieldFormat u = kULMUnsignedFraction;
    const struct {
        V::RenderToVolumeMode mode;
        int fields;
        ULMFieldFormat format;
        ULMMatrix m;
        int size[3];
        ULMLocation board;
        ULMStatus expected;
    } cases[] = {{V::kRenderToVolumeNone, 1, u, turned, {12, 10, 14}, kULMBoard0, kULMOK},
                 {V::kOutputGradient, 4, u, moved, {16, 14, 12}, kULMBoard0, kULMOK},
                 {V::kOutputGradientAndMagnitude, 4, kULMSignedFraction, {}, {14, 12, 10}, kULMBoard0, kULMOK},
                 {V::kOutputGradientMagnitude, 1, u, {}, {14, 12, 10}, kULMBoard0, kULMOK},
                 {V::kOutputGradient, 1, u, {}, {14, 12, 10}, kULMNoBufferAttached, kULMErrVolume},
                 {V::kOutputGradient, 1, u, {}, {14, 12, 10}, kULMBoard1, kULMErrVolume},
                 {V::kOutputGradient, 1, u, rotated, {14, 12, 10}, kULMBoard0, kULMErrTransform}};
    for (const auto& c : cases) {
        const ULMFieldDescriptor fields[4] = {{0, 8, c.format}, {8, 8, c.format}, {16, 8, c.format}, {24, 8, c.format}};
        std::vector<uint8_t> out(c.size[0] * c.size[1] * c.size[2] * c.fields);
        ULMVolume* target = ULMVolume::Create(8 * c.fields, c.size[0], c.size[1], c.size[2], c.fields, fields, nullptr);
        ASSERT_TRUE((c.board == kULMNoBufferAttached || target->LockVolume(c.board) == kULMOK) &&
                    source->LockVolume(kULMBoard0) == kULMOK && source->AddAccess(kULMAccessReadShared) == kULMOK &&
                    source->BoardCopy().Prepare() == kULMOK);
        context->GetCamera().SetModelMatrix(c.m);
        tulx7sim::ClearChipDiagnostics();
        ULMVolumeRenderState& state = ULMRenderStateOf(*source);
        state.m_lock.lock();
        state.m_sampleSpace.SetRenderToVolume(target);
        state.m_sampleSpace.SetRenderToVolumeMode(c.mode);
        const ULMStatus status = ULMRenderPreparedVolume(*source, context, nullptr, nullptr, nullptr, nullptr).Wait(-1);
        state.m_sampleSpace.SetRenderToVolume(nullptr);
        state.m_lock.unlock();
        source->BoardCopy().Finish();
        source->ReleaseAccess();
        source->UnlockVolume(0);
        ASSERT_TRUE(status == c.expected && tulx7sim::GetChipDiagnostics(0).Total() == 0 &&
                    target->IsLocked() == (c.board != kULMNoBufferAttached) &&
                    target->GetAccessControl() == kULMAccessNoControl &&
                    source->GetAccessControl() == kULMAccessNoControl &&
                    (status != kULMOK || target->Unload(out.data(), target->GetRange(), kULMUseBuffer) == kULMOK))
            << c.mode << " on " << c.board << ": " << status;
        for (size_t i = 0; status == kULMOK && i < out.size(); ++i) {
            const int f = int(i % c.fields);
            const int p = int(i / c.fields);
            const int last = c.mode == ULMVolume::kRenderToVolumeNone ? 0 : 1;  // gradients need both neighbours
            const ULMVector4D s =
                c.m.Inverse() * ULMVector4D(p % c.size[0], p / c.size[0] % c.size[1], p / c.size[0] / c.size[1], 1);
            const bool colour = c.mode == V::kRenderToVolumeNone || (c.mode == V::kOutputGradient && f == 3);
            const bool signedField = c.format == kULMSignedFraction;
            const bool inside = s[0] >= last && s[1] >= last && s[2] >= last && s[0] <= 13 - last &&
                                s[1] <= 11 - last && s[2] <= 9 - last;
            const double channel = colour                    ? Ramp(s[0], s[1], s[2]) / 255
                                   : f == 3 || c.fields == 1 ? magnitude
                                   : signedField             ? g[f]
                                                             : (g[f] + 1) / 2;
            EXPECT_TRUE(!inside ||
                        (signedField ? int8_t(out[i]) : out[i]) == std::lround(channel * (signedField ? 127 : 255)))
                << c.mode << " field " << f << " at " << p << ": " << int(out[i]);
        }
        target->Release();
    }
    context->Release();
    source->Release();
}

// Seeded cameras: the grid's samples at every pixel's warped point project back onto that pixel, on the first slice
// and the last. Then the eye point of a perspective camera.
TEST_F(SampleSpaceObjectTest, PostWarpTermsTakeEveryPixelToItsGridPointAndTheEyeLiesWhereTheCameraPutsIt) {
    const ULMFieldDescriptor fields[2] = {{0, 16, kULMUnsignedFraction}, {16, 16, kULMUnsignedFraction}};
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, 48, 40, 32, 2, fields);
    auto* source = static_cast<ULMVolumeInternal*>(ULMVolume::Create(32, 14, 12, 10, 2, fields, nullptr));
    ULMContext* context = ULMContext::Create();
    ASSERT_TRUE(source->LockVolume(kULMBoard0) == kULMOK &&
                source->SetCorrectionMatrix(ULMMatrix::Scale(1, 1.3, 0.8)) == kULMOK &&
                source->BoardCopy().Prepare() == kULMOK);
    ULMCamera& camera = context->GetCamera();
    constexpr double k2340 = 1099511627776.0;  // 2^40: the warp's fixed point
    auto unit = [state = 18u]() mutable { return (state = state * 1664525u + 1013904223u) / 4294967296.0; };
    for (int seed = 0; seed < 20; ++seed) {
        const double r = 10 + 15 * unit();
        const double steps[3] = {0.5 + 2.2 * unit(), 0.5 + unit(), 1.0 / (1 + seed % 3)};
        camera.SetModelMatrix(ULMMatrix::Rotate(360 * unit(), ULMVector3D(unit() - 0.5, unit() - 0.5, unit() - 0.5)) *
                              ULMMatrix::Translate(-7, -7.8, -4));
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r * 0.8, r, -50, 50));
        const int vp[4] = {int(6 * unit()), int(6 * unit()), 30 + int(18 * unit()), 25 + int(15 * unit())};
        ULMSampleSpace& space = ULMRenderStateOf(*source).m_sampleSpace;
        unsigned t = 0;  // and the warp's terms in their order
        long long w[12] = {};
        camera.SetViewport(vp[0], vp[1], vp[2], vp[3]);
        ASSERT_EQ(space.ObjectAssign(context, source, image, ULMRenderStateOf(*source).m_newSampleSpace,
                                     ULMVector3D(steps[0], steps[1], steps[2])),
                  steps[0] > 2 ? kULMErrCantSubsample : kULMOK);
        space.ComputePostWarpRegisters(t, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11],
                                       nullptr);
        EXPECT_TRUE(t == 0x240 && w[2] == 0 && w[5] == 0 && w[8] == 0 &&
                    w[9] == 1ll << 40);  // one slice, read in its own axes
        const ULMMatrix a = ULMMatrix((vp[2] - 1) / 2.0, 0, 0, (vp[2] - 1) / 2.0 + vp[0], 0, (vp[3] - 1) / 2.0, 0,
                                      (vp[3] - 1) / 2.0 + vp[1], 0, 0, 0.5, 0.5, 0, 0, 0, 1) *
                            camera.GetProjectionMatrix() * camera.GetModelMatrix() * source->GetCorrectionMatrix();
        for (int i = 0; i < 2 * vp[2] * vp[3]; ++i) {
            const double x = vp[0] + i / 2 % vp[2], y = vp[1] + i / 2 / vp[2];
            double permuted[3];  // origins carry the chip's rounding bias of half a 1/256 voxel
            double voxel[3];
            space.SamplePosition((w[0] - 0x80000800 + x * w[3] + y * w[4]) / k2340,
                                 (w[1] - 0x80000800 + x * w[6] + y * w[7]) / k2340,
                                 i % 2 * space.GetVolumeFrustum().max[2], permuted);
            for (int k = 0; k < 3; ++k)
                voxel[space.GetTransform() >> (4 + 2 * k) & 3] =
                    space.GetTransform() >> k & 1 ? -permuted[k] - 1 : permuted[k];
            const ULMVector4D p = a * ULMVector4D(voxel[0], voxel[1], voxel[2], 1);
            ASSERT_TRUE(std::fabs(p[0] - x) < 1e-6 && std::fabs(p[1] - y) < 1e-6)
                << seed << " pixel " << x << "," << y << " -> " << p[0] << "," << p[1];
        }
    }
    camera.SetModelMatrix(ULMMatrix::Translate(0, 0, -60) * camera.GetModelMatrix());
    camera.SetProjectionMatrix(ULMMatrix::Frustum(-1, 1, -1, 1, 30, 90));
    const ULMVector4D expected =
        (camera.GetModelMatrix() * source->GetCorrectionMatrix()).Inverse() * ULMVector4D(0, 0, 0, 1);
    ULMVector4D eye;
    EXPECT_TRUE(ULMSampleSpace::GetEyeOrViewInVoxelSpace(context, source, eye) == 1 &&
                std::hypot(eye[0] - expected[0], eye[1] - expected[1], eye[2] - expected[2]) < 1e-9);
    context->Release();
    source->Release();
    image->Release();
}

}  // namespace
}  // namespace ulm3
