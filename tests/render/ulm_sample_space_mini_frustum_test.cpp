// A mini-frustum's sample grid against the record it came from: whichever
// way the record lists its corners, the grid starts at the lowest corner, a
// hair behind the near face, and its edges follow the record's corner rays.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "board/ulm_all_render_registers.h"
#include "foundation/fixed_point.h"
#include "geometry/mini_frustum.h"
#include "render/ulm_sample_space.h"
#include "support/context_fixture.h"
#include "ulm3/image_buffer.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

using SampleSpaceMiniFrustumTest = testing::ContextTest;

double Signed2340(uint64_t inRegister) { return static_cast<int64_t>(inRegister) / kULMFixedScale2340; }

TEST_F(SampleSpaceMiniFrustumTest, GridCornersAreTheRecordsInEveryCornerOrderAndOnlyForAPerspectiveCamera) {
    std::vector<uint8_t> voxels(16 * 16 * 16);
    ULMVolume* volume = ULMVolume::Create(1u, voxels.data(), 16, 16, 16, ULMVolume::kSliced);
    ASSERT_NE(volume, nullptr);
    ULMContext* context = ULMContext::Create();
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, 40, 30, 32, 0, nullptr);
    context->GetCamera().SetProjectionMatrix(ULMMatrix::Perspective(40, 1, 1, 100));
    // A near face of x 2..6, y 3..9 at z 4 and a far face twice as wide at z 12.
    const double nearX[2] = {2, 6}, nearY[2] = {3, 9}, farX[2] = {0, 8}, farY[2] = {1, 13};
    // Corner orders: which of (x, y) low/high each of the four corners takes.
    const int orders[][4][2] = {{{0, 0}, {0, 1}, {1, 1}, {1, 0}},
                                {{1, 0}, {1, 1}, {0, 1}, {0, 0}},
                                {{0, 1}, {0, 0}, {1, 0}, {1, 1}},
                                {{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    for (const auto& order : orders) {
        ULMMiniFrustum f;
        for (int i = 0; i < 4; ++i) {
            f.mNearPoly[i] = ULMVector3D(nearX[order[i][0]], nearY[order[i][1]], 4);
            f.mFarPoly[i] = ULMVector3D(farX[order[i][0]], farY[order[i][1]], 12);
        }
        f.mDimXs = 22, f.mDimYs = 12, f.mDimZs = 16;
        f.mEyePoint = ULMVector3D(4, 6, -20);
        f.mSightPoint = ULMVector3D(4, 6, 8);
        ULMSampleSpace space;
        bool fresh = true;
        ASSERT_EQ(space.Assign(context, static_cast<ULMVolumeInternal*>(volume), image, fresh, true, &f), kULMOK);
        ULMAllRenderRegisters r;
        space.FillRegisters(r);
        // The corner the grid starts from, and the ones its Xs and Ys edges reach.
        const int c = static_cast<int>(std::find_if(order, order + 4, [](const int* v) { return !v[0] && !v[1]; }) -
                                       order);
        const int nx = f.mDimXs - 2, ny = f.mDimYs - 2, nz = f.mDimZs;
        // Slices start 1/256 voxel behind the near face: the corners' rays at that share of the way to the far face.
        const double behind = 1.0 / 256 / (f.mFarPoly[0][2] - f.mNearPoly[0][2]);
        const auto onRay = [&](int corner, double share) {
            const ULMVector3D& n = f.mNearPoly[corner];
            const ULMVector3D& d = f.mFarPoly[corner];
            return ULMVector3D(n[0] + share * (d[0] - n[0]), n[1] + share * (d[1] - n[1]), n[2] + share * (d[2] - n[2]));
        };
        const struct {
            int xs, ys, zs, corner;
        } points[] = {{0, 0, 0, c},       {nx, 0, 0, c ^ 3},  {0, ny, 0, c ^ 1},  {nx, ny, 0, c ^ 2},
                      {0, 0, nz, c},      {nx, 0, nz, c ^ 3}, {0, ny, nz, c ^ 1}, {nx, ny, nz, c ^ 2}};
        for (const auto& p : points) {
            double at[3];
            space.SamplePosition(p.xs, p.ys, p.zs, at);
            const ULMVector3D expected = onRay(p.corner, double(p.zs) / nz + behind);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(at[i], expected[i], 1e-9) << c << " " << p.xs << p.ys << p.zs;
        }
        // What the chip is given reaches the far corner past the origin.
        const double reach[2] = {
            nx * Signed2340(r.m_dXv8_dXs) + nz * Signed2340(r.m_dXv8_dZs) + nx * nz * Signed2340(r.m_ddXv8_dXs_dZs),
            nx * Signed2340(r.m_dYv8_dXs) + nz * Signed2340(r.m_dYv8_dZs) + nx * nz * Signed2340(r.m_ddYv8_dXs_dZs)};
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(reach[i], onRay(c ^ 3, 1 + behind)[i] - onRay(c, behind)[i], 1e-6);
        EXPECT_EQ(space.GetVolumeFrustum().max[0], f.mDimXs - 1);
        EXPECT_EQ(space.GetVolumeFrustum().max[2], f.mDimZs - 1);
        // A base plane wider than the image is refused; a parallel camera leaves the mini-frustum alone.
        f.mDimXs = 41;
        EXPECT_EQ(space.Assign(context, static_cast<ULMVolumeInternal*>(volume), image, fresh, true, &f), kULMErrBuffer);
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Ortho(-20, 20, -15, 15, -100, 100));
        space.Assign(context, static_cast<ULMVolumeInternal*>(volume), image, fresh, false, &f);
        EXPECT_FALSE(space.IsMiniFrustum());
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Perspective(40, 1, 1, 100));
    }
    image->Release();
    context->Release();
    volume->Release();
}

}  // namespace
}  // namespace ulm3
