// MPR renders of a plain volume: a ramp read where the plane cuts it, the
// refused calls, and the MPR state's life with two threads and the volume.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "render/render_cache.h"
#include "support/context_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

constexpr int kSide = 64, kSize[3] = {40, 36, 32}, kGradient[3] = {1, 2, 4};
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
constexpr uint32_t kBorder = 51 | 102 << 8 | 153 << 16 | 204u << 24;  // (0.2, 0.4, 0.6, 0.8)

class MPRTest : public testing::ContextTest {
protected:
    MPRTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        for (int z = 0; z < kSize[2]; ++z)  // x + 2y + 4z
            for (int y = 0; y < kSize[1]; ++y)
                for (int x = 0; x < kSize[0]; ++x) voxels.push_back(static_cast<uint8_t>(x + 2 * y + 4 * z));
        volume = NewVolume();
        context = ULMContext::Create();  // every channel of the ramp table is v / 255
    }
    void TearDown() override {
        context->Release(), volume->Release();
        ContextTest::TearDown();
    }
    ULMVolume* NewVolume() { return ULMVolume::Create(1u, voxels.data(), kSize[0], kSize[1], kSize[2], ULMVolume::kSliced); }
    void Aim(double tx, double ty) {
        projection = ULMMatrix::Ortho(-36, 36, -36, 36, -100, 100);
        model = ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-19.5, -17.5, -15.5);
        context->GetCamera().SetProjectionMatrix(projection), context->GetCamera().SetModelMatrix(model);
        context->GetCamera().SetViewport(0, 0, kSide, kSide);
    }
    ULMStatus MPR(ULMVolume* v, double distance, int quality, int mode, std::vector<uint32_t>& out, ULMLocation where = kULMBoard0) {
        ULMImageBuffer* image = ULMImageBuffer::Create(where, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        ULMStatus status = image->SetMigrationMode(kULMMigrationFullCopy);
        // Where no sample is averaged kMPRAlpha writes the border; kMPRRGBA composites behind it.
        const double b = mode == 0 ? 1.0 : 0.0;
        if (status == kULMOK) status = image->SetBorderValue(0.2 * b, 0.4 * b, 0.6 * b, 0.8 * b);
        if (status == kULMOK) status = image->Clear(whole, 0);
        if (status == kULMOK) status = v->StartRenderMPR(context, distance, quality, ULMVolume::MPRMode(mode), image).Wait(-1);
        out.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->Unload(out.data(), whole, 0);
        image->Release();
        return status;
    }
    // The voxel where pixel (x, y) sees eye depth -distance.
    ULMVector4D PlanePoint(int x, int y, double distance) const {
        const double h = (kSide - 1) / 2.0;
        return model.Inverse() * projection.Inverse() * ULMVector4D((x - h) / h, (y - h) / h, projection[2][2] * -distance + projection[2][3], 1);
    }
    std::vector<uint8_t> voxels;
    ULMVolume* volume = nullptr;
    ULMContext* context = nullptr;
    ULMMatrix projection, model;
};

TEST_F(MPRTest, RampValueWhereThePlaneCutsItAtAnyAngleQualityAndMode) {
    const struct { double tx, ty, distance; int quality; } views[] = {{0, 0, 0, 1}, {30, 40, 5, 4}, {-150, 70, -3, 3}};
    for (const auto& view : views) {
        Aim(view.tx, view.ty);
        // The samples kept lie within half a slice (1 / quality voxels along the principal axis) of the plane.
        const ULMVector4D ray = model.Inverse() * ULMVector4D(0, 0, 1, 0);
        const double along = std::fabs(ray[0] * kGradient[0] + ray[1] * kGradient[1] + ray[2] * kGradient[2]);
        const double tolerance = 1.6 + along / (2 * view.quality * std::max({std::fabs(ray[0]), std::fabs(ray[1]), std::fabs(ray[2])}));
        for (int mode = 0; mode < 2; ++mode) {
            std::vector<uint32_t> pixels;
            ASSERT_EQ(MPR(volume, view.distance, view.quality, mode, pixels), kULMOK);
            int inside = 0, outside = 0;
            for (int i = 0; i < kSide * kSide; ++i) {
                const ULMVector4D p = PlanePoint(i % kSide, i / kSide, view.distance);
                bool in = true, out = false;
                for (int a = 0; a < 3; ++a) in = in && p[a] >= 1.5 && p[a] <= kSize[a] - 2.5, out = out || p[a] < -2 || p[a] > kSize[a] + 1;
                const int r = pixels[i] & 255;  // grey and opaque, or the table's v in every channel
                const uint32_t same = r * 0x010101u | (mode == 0 ? 255u : r) << 24;
                EXPECT_TRUE(!in || (pixels[i] == same && std::fabs(r - (p[0] + 2 * p[1] + 4 * p[2])) <= tolerance)) << view.tx << " mode " << mode << " pixel " << i << ": " << std::hex << pixels[i];
                EXPECT_TRUE(!out || pixels[i] == (mode == 0 ? kBorder : 0)) << view.tx << " mode " << mode << " pixel " << i << ": " << std::hex << pixels[i];
                inside += in, outside += out;
            }
            EXPECT_TRUE(inside > 300 && outside > 300) << inside << " " << outside;
        }
    }
}

TEST_F(MPRTest, RefusedMPRsLeaveNothingLockedOrAllocated) {
    Aim(30, 40);
    ULMContext* full = CloneContext(context);
    for (int i = 0; i < 4; ++i) {
        ULMCutPlane* plane = ULMCutPlane::Create(ULMVector4D(1, 0, 0, 0), -1e6, 1e6);
        ASSERT_EQ(full->AddCutPlane(plane), kULMOK);
        plane->Release();
    }
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8);
    const struct { const char* what; const ULMContext* ctx; int quality, mode; bool image; ULMStatus expected; } cases[] = {
        {"quality 0", context, 0, 0, true, kULMErrArgument}, {"unknown mode", context, 1, 2, true, kULMErrArgument},
        {"no context", nullptr, 1, 1, true, kULMErrArgument}, {"no output image", context, 1, 0, false, kULMErrBuffer},
        {"four cut planes", full, 2, 1, true, kULMErrCutplaneOverflow}};
    const int buffers = tulx7sim::GetStats().liveBuffers, objects = LiveObjects();
    for (const auto& c : cases) {
        EXPECT_EQ(volume->StartRenderMPR(c.ctx, 0, c.quality, ULMVolume::MPRMode(c.mode), c.image ? image : nullptr).Wait(0), c.expected) << c.what;
        EXPECT_TRUE(tulx7sim::GetStats().liveBuffers == buffers && LiveObjects() == objects && volume->GetAccessControl() == kULMAccessNoControl) << c.what;
    }
    EXPECT_EQ(full->GetCutPlaneCount(), 4);
    std::vector<uint32_t> pixels;
    EXPECT_EQ(MPR(volume, 0, 2, 0, pixels), kULMOK);  // nothing stayed locked
    image->Release(), full->Release();
}

// The MPR buffers live with the volume and go with it; two threads rendering
// one volume's MPRs take turns with them.
TEST_F(MPRTest, TwoThreadsShareOneVolumesMPRBuffersWhichGoWithTheVolume) {
    Aim(30, 40);
    const int buffers = tulx7sim::GetStats().liveBuffers, objects = LiveObjects();
    ULMVolume* v = NewVolume();
    std::vector<uint32_t> alone[2], first, second;
    for (int mode = 0; mode < 2; ++mode) ASSERT_EQ(MPR(v, 2, 2, mode, alone[mode], kULMSystem), kULMOK);
    for (int round = 0; round < 8; ++round) {
        ULMStatus a = kULMOK;
        std::thread other([&] { a = MPR(v, 2, 2, round & 1, first, kULMSystem); });
        const ULMStatus b = MPR(v, 2, 2, 0, second, kULMSystem);
        other.join();
        ASSERT_TRUE(a == kULMOK && b == kULMOK && first == alone[round & 1] && second == alone[0]) << round;
    }
    v->Release();
    ULMRenderCache::Cleanup();  // the converted tables outlive the volume in the shared map
    tulx7sim::WaitForIdle(5000);
    EXPECT_TRUE(tulx7sim::GetStats().liveBuffers == buffers && LiveObjects() == objects);
}

}  // namespace
}  // namespace ulm3
