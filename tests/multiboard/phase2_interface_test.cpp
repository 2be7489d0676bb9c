// The bricked volume seen through the volume interface: its buffers as one,
// the setters and their serials, the refused renders with their messages,
// a second frame that shows nothing of the first, the coarser view through
// render-and-resize (and other threads' own resizes meanwhile), depth tests
// over every brick's copy, and the active sub-volume.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "buffers/image_buffer_internal.h"
#include "foundation/control.h"
#include "foundation/log_capture.h"
#include "multiboard/phase2_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3/depth_buffer.h"

namespace ulm3 {
namespace {

using testing::kRGBA8;

class Phase2InterfaceTest : public testing::Phase2Test {
protected:
    Phase2InterfaceTest() : Phase2Test(2) {}
    void SetUp() override {
        Phase2Test::SetUp();
        PureGrey(30);
        ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
    }
};

// Buffers of the bricks answer as one buffer spread over the boards; a
// sized buffer of other sizes is refused without a serial moving; whatever
// board is asked for, each brick's buffer goes to its own.
TEST_F(Phase2InterfaceTest, BuffersAnswerAsOne) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2, false));
    ASSERT_NE(bricked, nullptr);
    EXPECT_EQ(bricked->GetBufferLocation(), kULMNoBufferAttached);
    EXPECT_EQ(bricked->GetBufferID(), kULMNoBuffer);
    EXPECT_EQ(bricked->GetBufferSizeX(), 0u);
    EXPECT_TRUE(bricked->GetBufferRange().IsReset());
    const uint64_t serial = bricked->GetVolumeSerial();
    EXPECT_EQ(bricked->CreateBuffer(kULMBoard1, unsigned(size[0]), unsigned(size[1]) + 2, unsigned(size[2])),
              kULMErrUnimplemented);
    EXPECT_EQ(bricked->CreateBuffer(kULMBoard1, ULMVolumeRange(size[0], size[1], size[2], 2, 0, 0)),
              kULMErrUnimplemented);
    EXPECT_EQ(bricked->GetVolumeSerial(), serial);
    EXPECT_EQ(bricked->CreateBuffer(ULMLocation(7)), kULMOK);
    EXPECT_EQ(bricked->GetVolumeSerial(), serial + 1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(bricked->Brick(i)->GetBufferLocation(), ULMLocation(i)) << i;
    EXPECT_EQ(bricked->GetBufferLocation(), kULMMultiBoardMode2);
    EXPECT_EQ(bricked->GetBufferID(), 0xFFFFFFFFFFFFFFFEull);
    EXPECT_EQ(bricked->GetBufferSizeX(), unsigned(size[0]));
    EXPECT_EQ(bricked->ReleaseBuffer(), kULMOK);
    EXPECT_EQ(bricked->GetBufferLocation(), kULMNoBufferAttached);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(bricked->Brick(i)->GetBufferLocation(), kULMNoBufferAttached) << i;
    EXPECT_EQ(bricked->AttachBuffer(1), kULMErrUnimplemented);
    EXPECT_EQ(bricked->ResizeBuffer(4, 4, 4), kULMErrUnimplemented);
    EXPECT_EQ(bricked->SetBufferWrap(16, 16, 16), kULMErrUnimplemented);
    EXPECT_EQ(bricked->SetBufferAddressParameters(kULMWrapAddress, 16, 16, 16), kULMErrUnimplemented);
}

// Setters reach the base and every brick and move the serials they should;
// an equal field descriptor moves none; offsets move every brick by the
// base's step.
TEST_F(Phase2InterfaceTest, SettersReachEveryBrick) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(3, false));
    ASSERT_NE(bricked, nullptr);
    const auto serials = [&] { return std::pair(bricked->GetStateSerial(), bricked->GetVolumeSerial()); };
    auto before = serials();
    EXPECT_EQ(bricked->SetFieldDescriptor(kULMField0, bricked->GetFieldDescriptor(kULMField0)), kULMOK);
    EXPECT_EQ(serials(), before);
    const ULMFieldDescriptor low(0, 4, kULMUnsignedFraction);
    EXPECT_EQ(bricked->SetFieldDescriptor(kULMField0, low), kULMOK);
    EXPECT_EQ(serials(), std::pair(before.first + 1, before.second + 1));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bricked->Brick(i)->GetFieldDescriptor(kULMField0), low) << i;

    before = serials();
    EXPECT_EQ(bricked->SetBorderValue(17), kULMOK);
    EXPECT_EQ(bricked->SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::kExtendWithBorder,
                                      ULMVolume::kExtendWithEdge),
              kULMOK);
    EXPECT_EQ(serials(), std::pair(before.first + 2, before.second));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bricked->Brick(i)->GetBorderValue(), 17u) << i;
        EXPECT_EQ(bricked->Brick(i)->GetExtendModeX(), ULMVolume::kExtendWithEdge) << i;
    }
    EXPECT_EQ(bricked->GetBorderValue(), 17u);

    int x[3];
    for (int i = 0; i < 3; ++i) x[i] = bricked->Brick(i)->GetBufferAddressParameterX();
    ASSERT_EQ(bricked->SetBufferOffset(4, 0, 0), kULMOK);
    ASSERT_EQ(bricked->SetBufferOffset(10, 0, 0), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bricked->Brick(i)->GetBufferAddressParameterX(), x[i] + 10) << i;
    EXPECT_EQ(bricked->GetBufferAddressParameterX(), 10);

    const ULMMatrix turned = ULMMatrix::Rotate(30, ULMVector3D(0, 0, 1));
    before = serials();
    EXPECT_EQ(bricked->SetCorrectionMatrix(turned), kULMOK);
    EXPECT_EQ(bricked->GetStateSerial(), before.first + 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bricked->Brick(i)->GetCorrectionMatrix(), turned) << i;
    EXPECT_EQ(bricked->GetNumberMipmapLevels(), 1);
    EXPECT_EQ(bricked->GetMipmapLevel(0), nullptr);
    EXPECT_EQ(bricked->RenderToVolume(context, bricked, ULMVolume::kOutputGradient), kULMErrUnimplemented);
}

// A resample shrinks each axis at most 2:1, or (n - 1):m when the sizes
// themselves are beyond it; beyond that nothing is started.
TEST_F(Phase2InterfaceTest, ResampleShrinksAtMostByHalf) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    ReleasablePointer<ULMVolumeInternal> into(ULMVolumeInternal::CreateSimpleVolume(
        8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1, &kRGBA8[0], nullptr));
    ASSERT_EQ(into->LockVolume(kULMBoard0), kULMOK);
    const ULMClassifier copy = ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField0);
    const auto resample = [&](int inSource, int inDestination) {
        return bricked->ResampleBuffer(into, ULMVolumeRange(size[0], inSource, size[2], 0, 0, 0),
                                       ULMVolumeRange(size[0], inDestination, size[2], 0, 0, 0), copy);
    };
    EXPECT_EQ(resample(52, 26), kULMOK);
    EXPECT_EQ(resample(51, 25), kULMOK);
    EXPECT_EQ(resample(52, 25), kULMErrCantSubsample);
    EXPECT_EQ(bricked->ResampleBuffer(into, ULMVolumeRange(), ULMVolumeRange(4, 4, 4, 0, 0, 0), copy), kULMOK);
}

// Each row breaks one thing; the render is refused with the status and the
// message, and nothing is drawn.
TEST_F(Phase2InterfaceTest, RefusedRenders) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    Aim(30, 40, 96);
    struct Row {
        const char* name;
        std::function<ULMStatus()> render;
        ULMStatus status;
        const char* message;
    };
    ReleasablePointer<ULMImageBuffer> good(Image(kULMMultiBoardMode2, 96));
    ReleasablePointer<ULMImageBuffer> internal(
        ULMImageBufferInternal::CreateSimple(kULMBoard0, 96, 96, 32, 4, kRGBA8));
    ReleasablePointer<ULMImageBuffer> banded(Image(kULMMultiBoardMode1, 96));
    ReleasablePointer<ULMImageBuffer> pinned(Image(kULMBoard0, 96));
    pinned->SetMigrationMode(kULMMigrationFullCopy);
    gULMControl.m_multiboardSubvolumes = 3;
    ReleasablePointer<ULMDepthBuffer> threeCopies(ULMDepthBuffer::Create(kULMMultiBoardMode2, 96, 96));
    gULMControl.m_multiboardSubvolumes = 0;
    const auto render = [&](ULMImageBuffer* inImage, ULMDepthBuffer* inDepth = nullptr,
                            ULMImageBuffer* inImage1 = nullptr) {
        return bricked->StartRender(context, inImage, inDepth, inImage1, nullptr).Wait(-1);
    };
    const Row rows[] = {
        {"an image that is not location-independent", [&] { return render(internal); }, kULMErrBuffer,
         "to migrate from board 0 to MB2"},
        {"an image that may not move", [&] { return render(banded); }, kULMErrBuffer, "to migrate from board 3000"},
        {"a depth buffer with a copy too many", [&] { return render(good, threeCopies); }, kULMErrBuffer,
         "has 3 subbuffers but volume has 2"},
        {"no output image",
         [&] {
             context->SetImageOutputBuffer(ULMContext::kImageBuffer1);
             const ULMStatus status = render(good);
             context->SetImageOutputBuffer(ULMContext::kImageBuffer0);
             return status;
         },
         kULMErrBuffer, "output image buffer"},
        {"a render that writes depth",
         [&] {
             context->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::kFilterNone);
             const ULMStatus status = render(pinned);
             context->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::kAlwaysFail);
             return status;
         },
         kULMErrUnimplemented, "writes depth"},
    };
    for (const Row& row : rows) {
        testing_support::LogToFile log;
        EXPECT_EQ(row.render(), row.status) << row.name;
        EXPECT_NE(log.Contents().find(row.message), std::string::npos) << row.name << ": " << log.Contents();
    }
    EXPECT_EQ(pinned->GetLocation(), kULMBoard0) << "refused before any work";
    EXPECT_EQ(bricked->StartRender(nullptr, good, nullptr, nullptr, nullptr).Wait(-1), kULMErrArgument);
}

// A frame in which brick 1 draws nothing follows one in which it drew: the
// second frame equals the one-board render of its own view, on the board
// road where the stack of partial images is kept between frames.
// Then trims that miss brick 0 altogether: it draws nothing at all, not
// even its corner voxel, bright here.
TEST_F(Phase2InterfaceTest, SecondFrameShowsNothingOfTheFirst) {
    gULMControl.m_multiboard2ForceRender = 1;
    voxels[0] = 255;
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    Aim(10, 20, 96);
    ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, 96));
    ASSERT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    const double seam = bricked->Brick(1).m_unloadRange.YOrigin();
    ASSERT_EQ(context->SetTrimPlanes(-1, 100, -1, seam - 10, -1, 100), kULMOK);
    ASSERT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_EQ(Pixels(image), OneBoard(96));
    EXPECT_EQ(image->GetLastVolumeRendered(), bricked->GetObjectID());
    ASSERT_EQ(context->SetTrimPlanes(-1, 100, seam + 3, 100, -1, 100), kULMOK);
    for (const int road : {1, 2}) {
        gULMControl.m_multiboard2ForceRender = road;
        ASSERT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_EQ(Pixels(image), OneBoard(96)) << road;
    }
}

// Trims that miss a brick leave it nothing to draw, not even the sample
// exactly on its first voxel's centre: seen straight along Z with voxel
// centres on pixel centres, that sample exists.
TEST_F(Phase2InterfaceTest, ATrimBoxMissingABrickDrawsNothingOfIt) {
    voxels[0] = 255;
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    ULMCamera& camera = context->GetCamera();
    camera.SetProjectionMatrix(ULMMatrix::Ortho(0, 63, 0, 63, -100, 100));
    camera.SetModelMatrix(ULMMatrix());
    camera.SetViewport(0, 0, 64, 64);
    ASSERT_EQ(context->SetSamplingLimits(1, 3, 2, 2), kULMOK);
    const double seam = bricked->Brick(1).m_unloadRange.YOrigin();
    ASSERT_EQ(context->SetTrimPlanes(-1, 100, seam + 3, 100, -1, 100), kULMOK);
    for (const int road : {1, 2}) {
        gULMControl.m_multiboard2ForceRender = road;
        const std::vector<uint32_t> got = Bricks(bricked, 64);
        EXPECT_EQ(got[0], 0u) << road;
        EXPECT_EQ(got, OneBoard(64)) << road;
    }
}

// The active sub-volume inside one brick: the other draws nothing, on
// either road, and the image is the one-board image of that sub-volume.
TEST_F(Phase2InterfaceTest, ActiveSubVolumeInOneBrick) {
    for (const int road : {1, 2}) {
        gULMControl.m_multiboard2ForceRender = road;
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
        ASSERT_NE(bricked, nullptr);
        Aim(10, 20, 96);
        const ULMVolumeRange part(30, 9, 20, 5, 3, 6);  // below brick 1's loaded range
        ASSERT_EQ(bricked->SetActiveSubVolume(part), kULMOK);
        EXPECT_EQ(bricked->GetActiveSubVolume(), part);
        EXPECT_TRUE(bricked->Brick(1)->GetActiveSubVolume().IsEmpty());
        EXPECT_FALSE(bricked->Brick(1)->GetActiveSubVolume().IsReset());
        const std::vector<uint32_t> got = Bricks(bricked, 96);
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        ASSERT_EQ(plain->SetActiveSubVolume(part), kULMOK);
        ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMBoard0, 96));
        ASSERT_EQ(plain->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_EQ(got, Pixels(image)) << road;
    }
}

// Depth tests read each brick's own copy: with the copies cleared to the
// near end or to the middle of the volume's depths, the image is the
// one-board image over a depth buffer cleared alike, and the two differ.
TEST_F(Phase2InterfaceTest, DepthTestsReadEveryCopy) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(3));
    ASSERT_NE(bricked, nullptr);
    Aim(30, 40, 96);
    ASSERT_EQ(context->SetDepthTest(ULMContext::kDepthBuffer0, ULMContext::kDepthTestGreater), kULMOK);
    ASSERT_EQ(context->SetDepthCombineFunction(ULMContext::kDepthCombineAnd), kULMOK);
    const ULMImageRange whole(96, 96, 0, 0);
    gULMControl.m_multiboardSubvolumes = 3;
    ReleasablePointer<ULMDepthBuffer> copies(ULMDepthBuffer::Create(kULMMultiBoardMode2, 96, 96));
    ReleasablePointer<ULMDepthBuffer> one(ULMDepthBuffer::Create(kULMBoard0, 96, 96));
    ReleasablePointer<ULMVolumeInternal> plain(Plain());
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    std::vector<uint32_t> images[2];
    for (const unsigned cleared : {0u, 0x800000u}) {
        for (ULMDepthBuffer* depth : {copies.GetPointer(), one.GetPointer()}) {
            ASSERT_EQ(depth->SetInputLimits(whole), kULMOK);
            ASSERT_EQ(depth->Clear(whole, cleared), kULMOK);
        }
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, 96));
        ASSERT_EQ(bricked->StartRender(context, image, copies, nullptr, nullptr).Wait(-1), kULMOK);
        ReleasablePointer<ULMImageBuffer> reference(Image(kULMBoard0, 96));
        ASSERT_EQ(plain->StartRender(context, reference, one, nullptr, nullptr).Wait(-1), kULMOK);
        images[cleared != 0] = Pixels(image);
        EXPECT_EQ(images[cleared != 0], Pixels(reference)) << cleared;
    }
    EXPECT_NE(images[0], images[1]);
}

// A view the chip cannot subsample is rendered larger through the bricks and
// shrunk, as one board does it; ResizeImage reads as before, and another
// thread's plain render falls back to its own resize meanwhile.
TEST_F(Phase2InterfaceTest, CoarseViewsResizeOnThisThreadOnly) {
    gULMControl.m_resizeImage = true;
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    Aim(30, 40, 24);
    for (const int road : {1, 2}) {
        gULMControl.m_multiboard2ForceRender = road;
        std::atomic<bool> done{false};
        std::atomic<int> refused{0};
        std::thread other([&] {
            ReleasablePointer<ULMContext> own(CloneContext(context));
            ReleasablePointer<ULMVolumeInternal> plain(Plain());
            ReleasablePointer<ULMImageBuffer> image(Image(kULMBoard1, 24));
            plain->LockVolume(kULMBoard1);
            for (int i = 0; i < 3 || !done; ++i)
                refused += plain->StartRender(own, image, nullptr, nullptr, nullptr).Wait(-1) != kULMOK;
        });
        std::vector<uint32_t> got;
        for (int i = 0; i < 3; ++i) got = Bricks(bricked, 24);
        done = true;
        other.join();
        EXPECT_EQ(refused, 0);
        EXPECT_TRUE(gULMControl.m_resizeImage);
        EXPECT_EQ(got, OneBoard(24)) << road;
    }
    gULMControl.m_resizeImage = false;
    ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, 24));
    EXPECT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMErrCantSubsample);
}

}  // namespace
}  // namespace ulm3

namespace ulm3 {
namespace {

// A volume large enough for both wrappers comes as a mipmap volume over the
// bricked one; its coarser level is bricked too, made by one board pass on
// each brick's board, and draws front to back, its opacity corrected for
// the longer step as a level's is, as the same mipmap volume over one board
// does, within one 8-bit step per brick.
TEST_F(Phase2InterfaceTest, MipmapLevelsOfBricksAreBricks) {
    FillVoxels(96, 80, 40);
    Grey(0.3);
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    ULMSetParameter("MipmapMinVolumeSize", 64);
    ULMSetParameter("MultiboardMinVolumeSize", 64);
    ULMSetParameter("MultiboardRenderMode", 2);
    std::vector<uint32_t> views[2];
    for (const bool bricks : {false, true}) {
        ULMSetParameter("MultiboardRenderEnable", bricks ? 1 : 0);
        ReleasablePointer<ULMVolume> v(
            ULMVolume::Create(8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1, &kRGBA8[0], voxels.data()));
        ASSERT_TRUE(IsObjectType(v, kObjectTypeULMMipmapVolume));
        ULMVolume* level0 = v->GetMipmapLevel(0);
        EXPECT_EQ(IsObjectType(level0, kObjectTypeULMMultiboardVolumePhase2), bricks);
        ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
        tulx7sim::ClearRequestLog();
        ASSERT_EQ(v->GenerateMipmapLevel(1, 0, 0.5, 0.5, 0.5), kULMOK);
        int passes[2] = {0, 0};
        for (const auto& entry : tulx7sim::RequestLog())
            if (entry.code == TULX7_DR_RENDER && entry.board >= 0 && entry.board < 2) ++passes[entry.board];
        ULMVolume* level1 = v->GetMipmapLevel(1);
        ASSERT_NE(level1, nullptr);
        EXPECT_EQ(IsObjectType(level1, kObjectTypeULMMultiboardVolumePhase2), bricks);
        if (bricks) {
            EXPECT_EQ(passes[0], 1);
            EXPECT_EQ(passes[1], 1);
            EXPECT_EQ(static_cast<ULMMultiboardVolumePhase2*>(level1)->GetNumberOfVolumes(), 2);
        }
        ASSERT_EQ(v->SetMipmapRange(1, 1), kULMOK);
        Aim(20, 30, 48);
        ReleasablePointer<ULMImageBuffer> image(Image(bricks ? kULMMultiBoardMode2 : kULMBoard0, 48));
        ASSERT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        views[bricks] = Pixels(image);
    }
    int worst = 0;
    for (size_t i = 0; i < views[0].size(); ++i)
        for (int c = 0; c < 32; c += 8)
            worst = std::max(worst, std::abs(int(views[1][i] >> c & 255) - int(views[0][i] >> c & 255)));
    EXPECT_LE(worst, 2);
    EXPECT_NE(views[0], std::vector<uint32_t>(views[0].size(), 0u));
    // Asked for by location, a level of either multiboard kind is made over
    // a plain level 0 too.
    ULMSetParameter("MultiboardRenderEnable", 0);
    ReleasablePointer<ULMVolume> v(
        ULMVolume::Create(8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1, &kRGBA8[0], voxels.data()));
    ASSERT_EQ(v->CreateMipmapLevel(1, kULMMultiBoardMode1, ULMVolumeRange(48, 40, 20, 0, 0, 0)), kULMOK);
    ASSERT_EQ(v->CreateMipmapLevel(2, kULMMultiBoardMode2, ULMVolumeRange(24, 20, 10, 0, 0, 0)), kULMOK);
    EXPECT_TRUE(IsObjectType(v->GetMipmapLevel(1), kObjectTypeULMMultiboardVolumePhase1));
    EXPECT_TRUE(IsObjectType(v->GetMipmapLevel(2), kObjectTypeULMMultiboardVolumePhase2));
}

}  // namespace
}  // namespace ulm3
