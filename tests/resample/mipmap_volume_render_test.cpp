// Mipmap level choice and render: the level the view's scale picks, the
// fall to a coarser level, the context a level is drawn with, the default
// road through level 0 byte for byte, and a coarser level's brightness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "mipmap_fixture.h"
#include "resample/mipmap_level_kinds.h"
#include "support/resample_reference.h"
#include "ulm3/lookup_table.h"

namespace ulm3::testing {
namespace {

using MipmapRenderTest = MipmapTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

TEST_F(MipmapRenderTest, TheFinestLevelWhoseFootprintIsTwoVoxelsAPixelIsChosen) {
    // 1024 voxels across X and Y onto the whole viewport; the viewport matrix
    // spans w - 1 pixels, so 512 pixels see slightly more than 2 voxels each.
    Held<ULMVolume> v(ULMVolume::Create(8, 1024, 1024, 16, 1, &kByte, nullptr));
    ASSERT_NE(Mipmap(v), nullptr);
    Held<ULMContext> context(ULMContext::Create());
    const struct {
        int pixels, minLevel, maxLevel;
        bool autoGenerate;
        int level;
    } cases[] = {
        {600, 0, 4, true, 0}, {300, 0, 4, true, 1}, {512, 0, 4, true, 1}, {150, 0, 4, true, 2}, {100, 0, 4, true, 3},
        {600, 2, 5, true, 2}, {300, 0, 0, true, -1}, {300, 0, 4, false, -1}, {600, 3, 2, true, -1},
    };
    for (const auto& c : cases) {
        context->SetCamera(FittingCamera(1024, 1024, 16, c.pixels, c.pixels));
        v->SetMipmapAutoGenerate(c.autoGenerate);
        EXPECT_EQ(v->ChooseMipmapLevel(context, c.minLevel, c.maxLevel), c.level)
            << c.pixels << " pixels, levels " << c.minLevel << ".." << c.maxLevel;
    }
    EXPECT_EQ(Passes(), 0u) << "choosing makes no level";
    ASSERT_EQ(v->SetMipmapRange(2, 5), kULMOK);
    v->SetMipmapAutoGenerate(1);
    context->SetCamera(FittingCamera(1024, 1024, 16, 600, 600));
    EXPECT_EQ(v->ChooseMipmapLevel(context), 2) << "the wrapper's own range";
    EXPECT_EQ(v->ChooseMipmapLevel(nullptr), -1);
}

class CountingHandler : public ULMErrorHandler {
public:
    void ErrorNotify(int, const char*, int) override { ++calls; }
    int calls = 0;
};

// A camera that shrinks a hundred million voxels onto a hundred pixels
// leaves the footprint's 2 x 2 block within epsilon of singular: no level,
// and nothing for the error handler, whose default would end the process.
TEST_F(MipmapRenderTest, ADegenerateCameraChoosesNoLevelAndReportsNothing) {
    Held<ULMVolume> v(ULMVolume::Create(8, 1024, 1024, 16, 1, &kByte, nullptr));
    Held<ULMContext> context(ULMContext::Create());
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-0.5, 1e8, -0.5, 1e8, -1e-3, 1e-3));
    camera.SetViewport(0, 0, 100, 100);
    context->SetCamera(camera);
    CountingHandler handler;
    ULMErrorHandler* before = ULMSetErrorHandler(&handler);
    EXPECT_EQ(v->ChooseMipmapLevel(context, 0, 4), -1);
    ULMSetErrorHandler(before);
    EXPECT_EQ(handler.calls, 0);
}

// A level standing in for a multiboard one: it records the context it is
// drawn with and answers as it is told.
class RecordingLevel : public ULMVolumeInternal {
public:
    RecordingLevel(ULMVolumeSource* inSource, ULMStatus inAnswer) : ULMVolumeInternal(inSource), answer(inAnswer) {}
    ULMSyncEvent StartRender(const ULMContext* inContext, ULMImageBuffer*, ULMDepthBuffer*, ULMImageBuffer*,
                             ULMDepthBuffer*) override {
        Seen s;
        inContext->GetTrimPlanes(s.trims[0], s.trims[1], s.trims[2], s.trims[3], s.trims[4], s.trims[5]);
        s.crop = inContext->GetCrop();
        inContext->GetCamera().GetViewport(s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]);
        seen.push_back(s);
        return ULMSyncEvent(answer);
    }
    ULMStatus CreateBuffer(ULMLocation) override { return ULMVolumeInternal::CreateBuffer(kULMBoard0); }

    struct Seen {
        double trims[6];
        ULMCrop crop;
        int viewport[4];
    };
    std::vector<Seen> seen;
    ULMStatus answer;
};

// Puts levels that record their renders in place of the multiboard kinds
// for one test.
class RecordingKinds final : public ULMMipmapLevelKinds {
public:
    RecordingKinds() : m_before(ULMGetMipmapLevelKinds()) { ULMRegisterMipmapLevelKinds(*this); }
    ~RecordingKinds() { ULMRegisterMipmapLevelKinds(m_before); }
    int MultiboardMode(const ULMVolume&, int& outCount) override {
        outCount = 0;
        return 0;
    }
    ULMVolume* MakeLevel(ULMLocation, ULMVolume* inPlain, int, const ULMVolumeRange&, const double (&)[3],
                         ULMStatus&) override {
        auto* level = new RecordingLevel(static_cast<ULMVolumeInternal*>(inPlain)->GetSource(), answers[made.size()]);
        level->AddRef();
        made.push_back(level);
        return level;
    }
    std::vector<ULMStatus> answers;
    std::vector<RecordingLevel*> made;

private:
    ULMMipmapLevelKinds& m_before;
};

// Levels 1 and 2 (100 and 50 voxels across 200) that record their renders;
// a viewport of 100 pixels over the volume needs level 1.
struct RecordedScene {
    std::vector<uint8_t> voxels = std::vector<uint8_t>(size_t(200) * 200 * 12, 40);
    RecordingKinds kinds;
    Held<ULMVolume> volume;
    Held<ULMContext> context{ULMContext::Create()};
    Held<ULMImageBuffer> image{ULMImageBuffer::Create(kULMBoard0, 100, 100, 32, 4, kMipmapRGBA)};
    RecordedScene(ULMStatus inLevel1, ULMStatus inLevel2) {
        gULMControl.m_mipmapMinVolumeSize = 200;
        kinds.answers = {inLevel1, inLevel2};
        volume.Assign(ULMVolume::Create(8, ULMVolumeRange(200, 200, 12, 0, 0, 0), 1, &kByte, voxels.data()));
        volume->SetMipmapAutoGenerate(0);
        volume->SetMipmapRange(1, 2);
        EXPECT_EQ(volume->CreateMipmapLevel(1, kULMMultiBoardMode1, {100, 100, 12, 0, 0, 0}), kULMOK);
        EXPECT_EQ(volume->CreateMipmapLevel(2, kULMMultiBoardMode1, {50, 50, 12, 0, 0, 0}), kULMOK);
        context->SetCamera(FittingCamera(200, 200, 12, 100, 100));
    }
};

TEST_F(MipmapRenderTest, ALevelThatCannotSubsampleHandsTheRenderToTheNext) {
    const struct {
        ULMStatus level1, level2, result;
        size_t renders1, renders2;
    } cases[] = {
        {kULMOK, kULMOK, kULMOK, 1, 0},
        {kULMErrCantSubsample, kULMOK, kULMOK, 1, 1},
        {kULMErrCantSubsample, kULMErrCantSubsample, kULMErrCantSubsample, 1, 1},
        {kULMErrVolume, kULMOK, kULMErrVolume, 1, 0},
    };
    for (const auto& c : cases) {
        RecordedScene scene(c.level1, c.level2);
        ASSERT_EQ(scene.kinds.made.size(), 2u);
        EXPECT_EQ(scene.volume->Render(scene.context, scene.image, nullptr, nullptr, nullptr), c.result);
        EXPECT_EQ(scene.kinds.made[0]->seen.size(), c.renders1);
        EXPECT_EQ(scene.kinds.made[1]->seen.size(), c.renders2);
        EXPECT_EQ(scene.image->GetLastVolumeRendered() == scene.volume->GetObjectID(), c.result == kULMOK)
            << "a drawn image shows the wrapper";
    }
}

// Crop slabs and trim planes reach a level scaled into its voxels, a trim
// max of the form n + 255/256 staying the last 1/256 before its boundary;
// an empty viewport becomes the output image's; the application's context
// keeps all of it.
TEST_F(MipmapRenderTest, ALevelIsDrawnWithTheCropAndTrimsScaledOnAClone) {
    RecordedScene scene(kULMErrCantSubsample, kULMOK);
    ULMCrop crop;
    crop.SetFlags(ULMCrop::kEnableX0 | ULMCrop::kEnableY0);
    crop.SetSlabs(10, 90, 20, 80, 0, 11);
    scene.context->SetCrop(crop);
    scene.context->SetTrimPlanes(0, 99.99609375, 2, 99.5, -16383, 16383);
    ULMCamera camera = scene.context->GetCamera();
    camera.SetViewport(0, 0, 0, 0);
    scene.context->SetCamera(camera);
    scene.image->SetOffset(4, 2);
    ASSERT_EQ(scene.volume->Render(scene.context, scene.image, nullptr, nullptr, nullptr), kULMOK);
    const struct {
        int level;
        double trims[4], slabs[6];
    } want[] = {{1, {0, 49.99609375, 1, 49.75}, {5, 45, 10, 40, 0, 11}},
                {2, {0, 24.99609375, 0.5, 24.875}, {2.5, 22.5, 5, 20, 0, 11}}};
    for (const auto& w : want) {
        const std::vector<RecordingLevel::Seen>& seen = scene.kinds.made[w.level - 1]->seen;
        ASSERT_EQ(seen.size(), 1u) << w.level;
        for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(seen[0].trims[i], w.trims[i]) << w.level << " trim " << i;
        double slabs[6];
        seen[0].crop.GetSlabs(slabs[0], slabs[1], slabs[2], slabs[3], slabs[4], slabs[5]);
        for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(slabs[i], w.slabs[i]) << w.level << " slab " << i;
        EXPECT_EQ(seen[0].crop.GetFlags(), crop.GetFlags());
        EXPECT_TRUE(seen[0].viewport[0] == 4 && seen[0].viewport[1] == 2 && seen[0].viewport[2] == 100 &&
                    seen[0].viewport[3] == 100);
    }
    EXPECT_EQ(scene.context->GetCrop(), crop);
    double trims[6];
    scene.context->GetTrimPlanes(trims[0], trims[1], trims[2], trims[3], trims[4], trims[5]);
    EXPECT_TRUE(trims[1] == 99.99609375 && trims[3] == 99.5);
    EXPECT_EQ(scene.context->GetCamera().GetViewportWidth(), 0);

    // Without an output image there is no size to take.
    scene.context->SetImageOutputBuffer(ULMContext::kImageBufferNone);
    EXPECT_EQ(scene.volume->Render(scene.context, scene.image, nullptr, nullptr, nullptr), kULMErrBuffer);
    scene.context->SetImageOutputBuffer(ULMContext::kImageBuffer1);
    EXPECT_EQ(scene.volume->Render(scene.context, scene.image, nullptr, nullptr, nullptr), kULMErrBuffer);
    EXPECT_EQ(scene.kinds.made[0]->seen.size(), 1u);
}

// A volume on no board is put on the output image's board to make its
// levels, where they are then drawn: on any other board the render would be
// refused, the image not being free to move.
TEST_F(MipmapRenderTest, LevelsAreMadeOnTheOutputImagesBoard) {
    std::vector<uint8_t> voxels(size_t(256) * 64 * 16, 90);
    for (const ULMLocation board : {kULMBoard1, kULMBoard0, kULMBoard1}) {
        Held<ULMVolume> v(ULMVolume::Create(8, ULMVolumeRange(256, 64, 16, 0, 0, 0), 1, &kByte, voxels.data()));
        Held<ULMContext> context(ULMContext::Create());
        context->SetCamera(FittingCamera(256, 256, 16, 64, 64));
        Held<ULMImageBuffer> image(ULMImageBuffer::Create(board, 64, 64, 32, 4, kMipmapRGBA));
        ASSERT_EQ(v->SetMipmapRange(0, 4), kULMOK);
        EXPECT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK) << board;
        EXPECT_EQ(v->GetBufferLocation(), board);
        EXPECT_EQ(v->GetMipmapLevel(2)->GetBufferLocation(), board);
    }
}

// A smooth ball whose opacity builds up along each ray.
std::vector<uint8_t> Ball(int inSide) {
    std::vector<uint8_t> voxels(size_t(inSide) * inSide * inSide);
    const double c = (inSide - 1) / 2.0 + 3.3;
    for (int z = 0; z < inSide; ++z)
        for (int y = 0; y < inSide; ++y)
            for (int x = 0; x < inSide; ++x)
                voxels[(size_t(z) * inSide + y) * inSide + x] =
                    uint8_t(std::clamp(250 - 3.5 * std::hypot(x - c, y - c * 0.9, z - c), 0.0, 255.0));
    return voxels;
}

std::vector<uint32_t> Pixels(ULMImageBuffer* inImage) {
    std::vector<uint32_t> pixels(size_t(inImage->GetWidth()) * inImage->GetHeight());
    EXPECT_EQ(inImage->Unload(pixels.data(), {int(inImage->GetWidth()), int(inImage->GetHeight()), 0, 0}, 0), kULMOK);
    return pixels;
}

// The default road: a volume from the public creators renders through
// level 0 as the plain volume over the same voxels renders, byte for byte,
// locked or not, after changes of state and voxels made through the wrapper,
// and in an MPR; and the image shows the wrapper.
TEST_F(MipmapRenderTest, Level0DrawsExactlyAsThePlainVolume) {
    std::vector<uint8_t> voxels = Ball(64);
    voxels.resize(size_t(256) * 64 * 16);
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(voxels[i] / 2 + 7 * (i % 256) / 16);
    std::vector<uint8_t> mine = voxels;
    const ULMVolumeRange whole(256, 64, 16, 0, 0, 0);
    Held<ULMVolume> wrapped(ULMVolume::Create(8, whole, 1, &kByte, voxels.data()));
    Held<ULMVolumeInternal> plain(ULMVolumeInternal::CreateSimpleVolume(8, whole, 1, &kByte, mine.data()));
    ASSERT_NE(Mipmap(wrapped), nullptr);
    Held<ULMLookupTable> table(ULMLookupTable::Create(256));
    table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.4);
    Held<ULMContext> context(ULMContext::Create(table));
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-100, 100, -75, 75, -500, 500));
    camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-127.5, -31.5, -7.5));
    camera.SetViewport(0, 0, 160, 120);
    context->SetCamera(camera);
    const std::vector<uint8_t> patch(size_t(32) * 16 * 8, 200);
    const struct {
        const char* step;
        std::function<ULMStatus(ULMVolume*)> change;
        bool mpr;
    } steps[] = {
        {"unlocked", [](ULMVolume*) { return kULMOK; }, false},
        {"state", [](ULMVolume* v) {
             const ULMStatus s[] = {v->SetCorrectionMatrix(ULMMatrix::Scale(1, 1.5, 2)),
                                    v->SetActiveSubVolume({200, 50, 12, 20, 6, 2}), v->SetBorderValue(30),
                                    v->SetExtendMode(ULMVolume::kExtendWithEdge)};
             return std::ranges::all_of(s, [](ULMStatus x) { return x == kULMOK; }) ? kULMOK : kULMErrInternal;
         }, false},
        {"locked", [](ULMVolume* v) { return v->LockVolume(kULMBoard0); }, false},
        {"updated", [&](ULMVolume* v) { return v->Update(patch.data(), {32, 16, 8, 100, 20, 4}); }, false},
        {"mpr", [](ULMVolume*) { return kULMOK; }, true},
        {"unlocked again", [](ULMVolume* v) { return v->UnlockVolume(0); }, false},
    };
    for (const auto& s : steps) {
        ASSERT_EQ(s.change(wrapped), kULMOK) << s.step;
        ASSERT_EQ(s.change(plain), kULMOK) << s.step;
        std::vector<uint32_t> images[2];
        for (ULMVolume* v : {wrapped.GetPointer(), static_cast<ULMVolume*>(plain.GetPointer())}) {
            Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 160, 120, 32, 4, kMipmapRGBA));
            const ULMSyncEvent event = s.mpr ? v->StartRenderMPR(context, 0, 2, ULMVolume::kMPRAlpha, image)
                                             : v->StartRender(context, image, nullptr, nullptr, nullptr);
            ASSERT_EQ(event.Wait(-1), kULMOK) << s.step;
            EXPECT_EQ(image->GetLastVolumeRendered(), v->GetObjectID()) << s.step;
            images[v == wrapped ? 0 : 1] = Pixels(image);
        }
        EXPECT_EQ(images[0], images[1]) << s.step;
        EXPECT_NE(std::ranges::count(images[0], 0u), ptrdiff_t(images[0].size())) << s.step << ": drawn";
    }
    EXPECT_EQ(Passes() > 0, true);
    for (int l = 1; l < 33; ++l) EXPECT_EQ(Mipmap(wrapped)->GetLevelInfo(l).volume, nullptr) << "no level made";
}

// A level's samples lie twice as far apart along each ray; its opacity is
// corrected for the longer step, so that the view drawn through level 1
// stays within a few 8-bit steps of the level-0 view shrunk on the host.
TEST_F(MipmapRenderTest, ACoarserLevelKeepsTheBrightnessOfLevel0) {
    constexpr int kSide = 128, kSmall = 64;
    const std::vector<uint8_t> voxels = Ball(kSide);
    gULMControl.m_mipmapMinVolumeSize = kSide;
    Held<ULMVolume> v(ULMVolume::Create(8, ULMVolumeRange(kSide, kSide, kSide, 0, 0, 0), 1, &kByte,
                                        const_cast<uint8_t*>(voxels.data())));
    ASSERT_NE(Mipmap(v), nullptr);
    Held<ULMLookupTable> table(ULMLookupTable::Create(256));
    table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.08);
    Held<ULMContext> context(ULMContext::Create(table));
    std::vector<uint32_t> views[2];
    for (int level = 0; level < 2; ++level) {
        const int pixels = level == 0 ? kSide : kSmall;
        context->SetCamera(FittingCamera(kSide, kSide, kSide, pixels, pixels));
        ASSERT_EQ(v->SetMipmapRange(level, level), kULMOK);
        Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, pixels, pixels, 32, 4, kMipmapRGBA));
        ASSERT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        views[level] = Pixels(image);
    }
    ASSERT_NE(Mipmap(v)->GetLevelInfo(1).volume, nullptr);
    // Pixel j of the small view lies where pixel j (kSide - 1) / (kSmall - 1) of the large one does.
    const double step = (kSide - 1.0) / (kSmall - 1);
    double worst = 0, sum = 0, opaque = 0;
    for (int i = 0; i < kSmall * kSmall; ++i)
        for (int ch = 0; ch < 4; ++ch) {
            auto at = [&](int u, int w, int) {
                return double(views[0][size_t(std::min(w, kSide - 1)) * kSide + std::min(u, kSide - 1)] >> 8 * ch & 255);
            };
            const double want = RefSample(at, {step, 0}, {step, 0}, {1, 0}, i % kSmall, i / kSmall, 0);
            const double error = std::abs(double(views[1][i] >> 8 * ch & 255) - want);
            worst = std::max(worst, error);
            sum += error;
            if (ch == 3) opaque = std::max(opaque, want);
        }
    EXPECT_GT(opaque, 128) << "the ball is opaque enough for a step's correction to show";
    EXPECT_LE(sum / (kSmall * kSmall * 4), 1.0);
    EXPECT_LE(worst, 8.0);
}

}  // namespace
}  // namespace ulm3::testing
