// The sample space's object grid and post-warp terms against camera matrices
// built here, and renders into another volume read back from its buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "board/ulm_all_render_registers.h"
#include "render/volume_render_state.h"
#include "support/context_fixture.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"
#include "ulm3/image_buffer.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr double k2340 = 1099511627776.0, kBias = 0x80000800 / k2340;  // the chip's origin bias
constexpr int kSize[3] = {14, 12, 10};
using Mode = ULMVolume::RenderToVolumeMode;

class SampleSpaceObjectTest : public testing::ContextTest {
protected:
    SampleSpaceObjectTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        for (int i = 0; i < kSize[0] * kSize[1] * kSize[2]; ++i) voxels.push_back(Ramp(i % 14, i / 14 % 12, i / 168));
        source = static_cast<ULMVolumeInternal*>(ULMVolume::Create(1u, voxels.data(), 14, 12, 10, ULMVolume::kSliced));
        context = ULMContext::Create();
        ASSERT_TRUE(source->LockVolume(kULMBoard0) == kULMOK && context->SetImageOutputBuffer(ULMContext::kImageBufferNone) == kULMOK);
    }
    void TearDown() override {
        context->Release(), source->Release();
        ContextTest::TearDown();
    }
    static uint8_t Ramp(double x, double y, double z) { return static_cast<uint8_t>(10 * x + 6 * y + 4 * z + 2); }
    // The source rendered into the target as the render-to-volume operation drives the engine.
    ULMStatus RenderInto(ULMVolume* target, Mode mode, std::vector<uint8_t>* out) {
        ULMStatus status = source->AddAccess(kULMAccessReadShared);
        ULMSyncEvent event(status);
        if (status == kULMOK) {
            ULMScopedLock lock(source->RenderState().m_lock);
            ULMSampleSpace& space = source->RenderState().m_sampleSpace;
            space.SetRenderToVolume(target), space.SetRenderToVolumeMode(mode);
            if ((status = source->PrepareVolume()) == kULMOK) event = source->DoStartRender(context, nullptr, nullptr, nullptr, nullptr);
            space.SetRenderToVolume(nullptr), space.SetRenderToVolumeMode(ULMVolume::kRenderToVolumeNone);
            source->FinishWithVolume(), source->ReleaseAccess();
        }
        if ((status = event.Wait(-1)) != kULMOK || out == nullptr) return status;
        out->assign(target->GetSizeX() * target->GetSizeY() * target->GetSizeZ() * target->GetVoxelSize() / 8, 0);
        return target->Unload(out->data(), target->GetRange(), kULMUseBuffer);
    }
    std::vector<uint8_t> voxels;
    ULMVolumeInternal* source = nullptr;
    ULMContext* context = nullptr;
};

TEST_F(SampleSpaceObjectTest, ARampRendersIntoConstantGradientsAndMovedVoxels) {
    const double g9[3] = {std::round(10 / 255.0 * 511), std::round(6 / 255.0 * 511), std::round(4 / 255.0 * 511)};
    const double magnitude = std::hypot(g9[0], g9[1], g9[2]) / 511;
    const ULMMatrix turned(0, 1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 13, 0, 0, 0, 1);  // (y, z, 13 - x): Z follows source X backwards
    const struct { Mode mode; int bits, fields; ULMFieldFormat format; ULMMatrix m; int size[3]; ULMVolumeRange active; } cases[] = {
        {ULMVolume::kRenderToVolumeNone, 8, 1, kULMUnsignedFraction, turned, {12, 10, 14}, {8, 5, 9, 2, 3, 4}},
        {ULMVolume::kOutputGradient, 32, 4, kULMUnsignedFraction, ULMMatrix::Translate(1, 2, 1), {16, 14, 12}, {}},
        {ULMVolume::kOutputGradientAndMagnitude, 32, 4, kULMSignedFraction, ULMMatrix(), {14, 12, 10}, {}},
        {ULMVolume::kOutputGradientMagnitude, 16, 1, kULMUnsignedFraction, ULMMatrix(), {14, 12, 10}, {}}};
    for (const auto& c : cases) {
        ULMFieldDescriptor fields[4];
        for (int i = 0; i < c.fields; ++i) fields[i] = ULMFieldDescriptor(i * c.bits / c.fields, c.bits / c.fields, c.format);
        std::vector<uint8_t> initial(c.size[0] * c.size[1] * c.size[2] * c.bits / 8, 0xEE), out;
        ULMVolume* target = ULMVolume::Create(c.bits, c.size[0], c.size[1], c.size[2], c.fields, fields, initial.data());
        ASSERT_TRUE(target->LockVolume(kULMBoard0) == kULMOK && target->SetActiveSubVolume(c.active) == kULMOK);
        context->GetCamera().SetModelMatrix(c.m);
        tulx7sim::ClearChipDiagnostics();
        ASSERT_EQ(RenderInto(target, c.mode, &out), kULMOK) << c.mode;
        EXPECT_EQ(tulx7sim::GetChipDiagnostics(0).Total(), 0u);
        int checked = 0;
        for (int i = 0, n = c.bits / c.fields; i < c.size[0] * c.size[1] * c.size[2]; ++i) {
            const int p[3] = {i % c.size[0], i / c.size[0] % c.size[1], i / c.size[0] / c.size[1]};
            const ULMVector4D s = c.m.Inverse() * ULMVector4D(p[0], p[1], p[2], 1);
            uint64_t word = 0;
            std::memcpy(&word, &out[size_t(i) * c.bits / 8], c.bits / 8);
            const bool inside = c.active.IsEmpty() || ULMVolumeRange(c.active).Contains(ULMVolumeRange(1, 1, 1, p[0], p[1], p[2]));
            bool interior = inside;  // gradients hold one voxel inside the source
            for (int a = 0; a < 3; ++a) interior = interior && s[a] >= (c.mode != 0) && s[a] <= kSize[a] - 1 - (c.mode != 0);
            for (int f = 0; f < c.fields && interior; ++f, ++checked) {
                const double channel = c.mode == ULMVolume::kRenderToVolumeNone || (c.mode == ULMVolume::kOutputGradient && f == 3) ? Ramp(s[0], s[1], s[2]) / 255.0
                                       : f == 3 || c.mode == ULMVolume::kOutputGradientMagnitude                                   ? magnitude
                                       : c.format == kULMSignedFraction                                                            ? g9[f] / 511
                                                                                                                                   : (g9[f] / 511 + 1) / 2;
                const int64_t raw = int64_t(word >> (f * n) & ((1ull << n) - 1)), top = (1ll << (n - (c.format == kULMSignedFraction))) - 1;
                EXPECT_EQ(c.format == kULMSignedFraction && raw > top ? raw - (1ll << n) : raw, std::llround(channel * top)) << c.mode << " field " << f << " at " << i;
            }
            EXPECT_TRUE(inside || word == 0xEEEEEEEEull >> (32 - c.bits)) << i;  // outside the active sub-volume nothing is written
        }
        EXPECT_GT(checked, 300);
        target->Release();
    }
}

TEST_F(SampleSpaceObjectTest, TargetsTheChipCannotWriteAreRefusedAndLeaveNothingBehind) {
    const ULMFieldDescriptor field(0, 8, kULMUnsignedFraction);
    const struct { const char* what; ULMLocation board; ULMMatrix m; ULMStatus expected; } cases[] = {
        {"no buffer", kULMNoBufferAttached, {}, kULMErrVolume}, {"other board", kULMBoard1, {}, kULMErrVolume},
        {"turned slices", kULMBoard0, ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)), kULMErrTransform}, {"accepted", kULMBoard0, {}, kULMOK}};
    for (const auto& c : cases) {
        ULMVolume* target = ULMVolume::Create(8, 14, 12, 10, 1, &field, nullptr);
        ASSERT_TRUE(c.board == kULMNoBufferAttached || target->LockVolume(c.board) == kULMOK);
        context->GetCamera().SetModelMatrix(c.m);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        tulx7sim::ClearChipDiagnostics();
        EXPECT_EQ(RenderInto(target, ULMVolume::kOutputGradient, nullptr), c.expected) << c.what;
        EXPECT_TRUE(source->RenderState().m_lock.try_lock()) << c.what;
        source->RenderState().m_lock.unlock();
        EXPECT_TRUE((c.expected == kULMOK || tulx7sim::GetStats().liveBuffers == buffers) && source->GetAccessControl() == kULMAccessNoControl && target->GetAccessControl() == kULMAccessNoControl &&
                    target->IsLocked() == (c.board != kULMNoBufferAttached) && tulx7sim::GetChipDiagnostics(0).Total() == 0) << c.what;
        target->Release();
    }
}

// The grid's samples at the warped point of every pixel project back onto
// that pixel, on the first slice and the last.
TEST_F(SampleSpaceObjectTest, PostWarpTermsTakeEveryPixelToItsGridPoint) {
    const ULMFieldDescriptor rgba[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, 48, 40, 32, 4, rgba);
    ASSERT_TRUE(source->SetCorrectionMatrix(ULMMatrix::Scale(1, 1.3, 0.8)) == kULMOK && source->PrepareVolume() == kULMOK);
    std::mt19937 random(18);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int seed = 0; seed < 20; ++seed) {
        ULMCamera& camera = context->GetCamera();
        const double r = 10 + 15 * unit(random), steps[3] = {0.5 + 2.2 * unit(random), 0.5 + unit(random), 1.0 / (1 + seed % 3)};
        const ULMMatrix view = ULMMatrix::Rotate(360 * unit(random), ULMVector3D(unit(random) - 0.5, unit(random) - 0.5, unit(random) - 0.5)) * ULMMatrix::Translate(-7, -7.8, -4);
        const bool perspective = seed % 5 == 4;
        camera.SetModelMatrix(ULMMatrix::Translate(0, 0, perspective ? -60 : 0) * view);
        camera.SetProjectionMatrix(perspective ? ULMMatrix::Frustum(-1, 1, -1, 1, 30, 90) : ULMMatrix::Ortho(-r, r, -r * 0.8, r, -50, 50));
        const int vp[4] = {int(6 * unit(random)), int(6 * unit(random)), 30 + int(18 * unit(random)), 25 + int(15 * unit(random))};
        camera.SetViewport(vp[0], vp[1], vp[2], vp[3]);
        const ULMMatrix toVoxels = (camera.GetModelMatrix() * source->GetCorrectionMatrix()).Inverse();
        ULMVector4D eye;
        ASSERT_EQ(ULMSampleSpace::GetEyeOrViewInVoxelSpace(context, source, eye), perspective ? 1 : 0);
        const ULMVector4D expected = toVoxels * ULMVector4D(0, 0, perspective ? 0 : -1, perspective);
        const double scale[2] = {perspective ? 1 : std::hypot(eye[0], eye[1], eye[2]), perspective ? 1 : std::hypot(expected[0], expected[1], expected[2])};
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(eye[a] / scale[0], expected[a] / scale[1], 1e-9) << seed;  // the eye point, or the view direction
        ULMSampleSpace space;
        bool fresh = true;
        ASSERT_EQ(space.ObjectAssign(context, source, image, fresh, ULMVector3D(steps[0], steps[1], steps[2])), perspective ? kULMErrTransform : steps[0] > 2 ? kULMErrCantSubsample : kULMOK);
        if (perspective) continue;
        ULMAllRenderRegisters g;
        space.FillRegisters(g);
        unsigned t = 0;
        long long w[12];
        unsigned char section[2];
        space.ComputePostWarpRegisters(t, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], section);
        EXPECT_TRUE(t == 0x240 && w[2] == 0 && int64_t(g.m_dXv8_dXs) == std::llround(steps[0] * k2340) && int64_t(g.m_dYv8_dYs) == std::llround(steps[1] * k2340) && g.m_dXv8_dYs == 0 && g.m_dYv8_dXs == 0);
        const ULMMatrix a = ULMMatrix((vp[2] - 1) / 2.0, 0, 0, (vp[2] - 1) / 2.0 + vp[0], 0, (vp[3] - 1) / 2.0, 0, (vp[3] - 1) / 2.0 + vp[1], 0, 0, 0.5, 0.5, 0, 0, 0, 1) * camera.GetProjectionMatrix() * camera.GetModelMatrix() * source->GetCorrectionMatrix();
        const double o[3] = {int64_t(g.m_OriginXv8) / k2340 - kBias, int64_t(g.m_OriginYv8) / k2340 - kBias, int64_t(g.m_OriginZv8) / k2340 - kBias};
        const double dz[3] = {int64_t(g.m_dXv8_dZs) / k2340, int64_t(g.m_dYv8_dZs) / k2340, int64_t(g.m_dZv8_dZs) / k2340};
        const double slices = (g.m_ViewFrustumRangeMax >> 32 & 0xFFFF) - (g.m_ViewFrustumRangeMin >> 32 & 0xFFFF);
        for (int x = vp[0]; x < vp[0] + vp[2]; ++x)
            for (int y = vp[1]; y < vp[1] + vp[3]; ++y)
                for (const double zs : {0.0, slices}) {
                    const double u = (w[0] + x * w[3] + y * w[4]) / k2340 - kBias, v = (w[1] + x * w[6] + y * w[7]) / k2340 - kBias;
                    const double permuted[3] = {o[0] + u * steps[0] + zs * dz[0], o[1] + v * steps[1] + zs * dz[1], o[2] + zs * dz[2]};
                    double voxel[3];
                    for (int i = 0; i < 3; ++i) voxel[g.m_Transform >> (4 + 2 * i) & 3] = g.m_Transform >> i & 1 ? -permuted[i] - 1 : permuted[i];
                    const ULMVector4D p = a * ULMVector4D(voxel[0], voxel[1], voxel[2], 1);
                    ASSERT_TRUE(std::fabs(p[0] - x) < 1e-6 && std::fabs(p[1] - y) < 1e-6) << seed << " pixel " << x << "," << y << " -> " << p[0] << "," << p[1];
                }
    }
    image->Release();
}

}  // namespace
}  // namespace ulm3
