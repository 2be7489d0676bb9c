// The application's image of a bricked render is one image, wherever the
// render composites it. A render that the chip cannot take (too many voxels
// to a pixel) is refused, and the image keeps every pixel it held: on either
// compositing road, over two and three boards, and when a resize of the
// whole view is tried and refused in turn. A render that succeeds leaves
// what lies outside its viewport as it was, whichever board composites.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr unsigned kNx = 13, kNy = 200, kNz = 7;
constexpr int kWidth = 96, kHeight = 80;

struct RefusedCase {
    int boards;
    int road;     // Multiboard2ForceRender: 1 on a board, 2 on the host
    bool resize;  // a resize tried first, refused for its blend mode
};

class Phase2RefusedRender : public testing::ContextTest, public ::testing::WithParamInterface<RefusedCase> {
protected:
    Phase2RefusedRender() : ContextTest(test_support::SimBoards(GetParam().boards)) {}
};

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

// A bricked volume of nx x ny x nz 8-bit voxels (value inBase plus a ramp)
// locked on the boards, compositing on the given road; null and a test
// failure when the volume is not bricked.
ULMVolume* NewLockedBricks(unsigned nx, unsigned ny, unsigned nz, int inBase, int inRamp, int inRoad) {
    ULMSetParameter("MultiboardRenderMode", 2);
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("Multiboard2ForceRender", uint64_t(inRoad));
    ULMSetParameter("MultiboardRenderEnable", 1);
    std::vector<uint8_t> voxels(size_t(nx) * ny * nz);
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(inBase + int(i % size_t(inRamp)));
    const ULMFieldDescriptor field{0, 8, kULMUnsignedFraction};
    ULMVolume* volume = ULMVolume::Create(8, nx, ny, nz, 1, &field, voxels.data());
    EXPECT_NE(volume, nullptr);
    if (volume == nullptr) return nullptr;
    EXPECT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
    EXPECT_EQ(volume->GetBufferLocation(), kULMMultiBoardMode2) << "the volume is bricked";
    if (volume->GetBufferLocation() == kULMMultiBoardMode2) return volume;
    volume->Release();
    return nullptr;
}

void AimAlongLongVolume(ULMContext* ioContext) {
    // The long axis seen whole in fewer pixels than half its voxels.
    const double r = 0.5 * std::sqrt(double(kNx * kNx + kNy * kNy + kNz * kNz)) * 1.05;
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r * kHeight / kWidth, r * kHeight / kWidth, -2 * r, 2 * r));
    camera.SetModelMatrix(ULMMatrix::Rotate(30, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(40, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-(kNx / 2.0 - 0.5), -(kNy / 2.0 - 0.5), -(kNz / 2.0 - 0.5)));
    camera.SetViewport(0, 0, kWidth, kHeight);
    EXPECT_EQ(ioContext->SetCamera(camera), kULMOK);
}

TEST_P(Phase2RefusedRender, LeavesTheImageAsItWas) {
    const RefusedCase c = GetParam();
    ULMSetParameter("ResizeImage", c.resize ? 1 : 0);
    ReleasablePointer<ULMVolume> volume(NewLockedBricks(kNx, kNy, kNz, 40, 200, c.road));
    ASSERT_NE(volume, nullptr);

    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.1), kULMOK);
    ASSERT_EQ(table->SetRamp(kULMChannelRed, 0, 255, 0, 1), kULMOK);
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    AimAlongLongVolume(context);
    // The resize leaves summed views to the MPR renders, and refuses this one.
    if (c.resize) {
        ASSERT_EQ(context->SetBlendMode(kULMBlendSumAndCount), kULMOK);
    }

    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(volume->GetBufferLocation(), kWidth, kHeight, 32,
                                                                   4, kRGBA8));
    ASSERT_NE(image, nullptr);
    const ULMImageRange whole(kWidth, kHeight, 0, 0);
    std::vector<uint32_t> held(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < held.size(); ++i) held[i] = 0x01020304u * uint32_t(i % 61 + 1);
    ASSERT_EQ(image->Update(held.data(), whole, kWidth), kULMOK);

    // A board's composite cannot add sums and counts: held to the board
    // road, the summed view is refused before any brick renders.
    const ULMStatus refusal = c.resize && c.road == 1 ? kULMErrUnimplemented : kULMErrCantSubsample;
    EXPECT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), refusal);
    std::vector<uint32_t> after(held.size(), 0xDEADBEEFu);
    ASSERT_EQ(image->Unload(after.data(), whole, kWidth), kULMOK);
    size_t changed = 0;
    for (size_t i = 0; i < held.size(); ++i) changed += after[i] != held[i];
    EXPECT_EQ(changed, 0u) << "of " << held.size() << " pixels; the first now 0x" << std::hex << after[0];
}

INSTANTIATE_TEST_SUITE_P(BricksOnBoards, Phase2RefusedRender,
                         ::testing::Values(RefusedCase{2, 1, false}, RefusedCase{3, 1, false},
                                           RefusedCase{2, 2, false}, RefusedCase{3, 2, false},
                                           RefusedCase{2, 1, true}, RefusedCase{3, 1, true},
                                           RefusedCase{2, 2, true}, RefusedCase{3, 2, true}),
                         [](const ::testing::TestParamInfo<RefusedCase>& inInfo) {
                             return std::to_string(inInfo.param.boards) + "Boards" +
                                    (inInfo.param.road == 1 ? "OnABoard" : "OnTheHost") +
                                    (inInfo.param.resize ? "AfterARefusedResize" : "");
                         });

class Phase2ViewportRender : public testing::ContextTest {
protected:
    Phase2ViewportRender() : ContextTest(test_support::SimBoards(2)) {}
};

TEST_F(Phase2ViewportRender, LeavesThePixelsOutsideTheViewportAsTheyWere) {
    constexpr unsigned nx = 40, ny = 36, nz = 30;
    constexpr int width = 160, height = 96, view = width / 2;
    ReleasablePointer<ULMVolume> volume(NewLockedBricks(nx, ny, nz, 60, 150, 1));
    ASSERT_NE(volume, nullptr);
    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.1), kULMOK);
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    const ULMImageRange whole(width, height, 0, 0);
    // Turned so that the brick nearest the viewer, whose board composites,
    // is now one brick and now the other.
    for (const double turn : {0.0, 90.0, 180.0, 270.0}) {
        SCOPED_TRACE(turn);
        const double r = 0.55 * std::sqrt(double(nx * nx + ny * ny + nz * nz));
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r * height / view, r * height / view, -2 * r, 2 * r));
        camera.SetModelMatrix(ULMMatrix::Rotate(turn, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(turn / 2, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1.0 - nx) / 2, (1.0 - ny) / 2, (1.0 - nz) / 2));
        camera.SetViewport(0, 0, view, height);
        ASSERT_EQ(context->SetCamera(camera), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(volume->GetBufferLocation(), width, height,
                                                                       32, 4, kRGBA8));
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->Clear(whole, 0x11223344u), kULMOK);
        ASSERT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
        std::vector<uint32_t> after(size_t(width) * height, 0);
        ASSERT_EQ(image->Unload(after.data(), whole, width), kULMOK);
        size_t changed = 0, drawn = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool outside = x >= view;
                (outside ? changed : drawn) += after[size_t(y) * width + x] != 0x11223344u;
            }
        EXPECT_GT(drawn, 0u) << "the view shows the volume";
        EXPECT_EQ(changed, 0u) << "of " << (width - view) * height << " pixels outside the viewport";
    }
}

}  // namespace
}  // namespace ulm3
