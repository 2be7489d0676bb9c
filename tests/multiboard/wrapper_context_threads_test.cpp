// Wrapper volumes rendered with one context in one thread while another
// changes it: every band, brick and mipmap level of a frame works from the
// same state, so that each frame shows one whole state of the context.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "support/context_fixture.h"
#include "ulm3/image_buffer.h"
#include "ulm3/library.h"
#include "ulm3/light.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"

namespace ulm3::testing {
namespace {

using Pixels = std::vector<uint32_t>;
constexpr int kBoards = 2, kVoxels = 32, kSide = 24;
const ULMImageRange kWhole(kSide, kSide, 0, 0);
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

enum class Wrapper { kMipmap, kBands, kBricks, kMipmapOverBands, kMipmapOverBricks };
// What the other thread flips between two states, one call each.
enum class Change { kCamera, kLight, kBlendMode };

class WrapperContextThreadsTest : public ContextTest {
protected:
    WrapperContextThreadsTest() : ContextTest(test_support::SimBoards(kBoards)) {}
    void SetUp() override {
        ContextTest::SetUp();
        voxels.resize(size_t(kVoxels) * kVoxels * kVoxels);
        for (size_t i = 0; i < voxels.size(); ++i) {  // an off-centre ball on a ramp along X
            const int x = int(i % kVoxels), y = int(i / kVoxels % kVoxels), z = int(i / kVoxels / kVoxels);
            const double ball = std::max(0.0, 230 - 16 * std::hypot(x - 19.5, y - 13.0, z - 17.5));
            voxels[i] = uint8_t(std::min(255.0, 4 * x + ball));
        }
        table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float a = i < 40 ? 0.0f : 0.2f;
            table->SetEntry(i, ULMRGBAFloat(a * i / 255.0f, a * 0.6f, a * (1 - i / 255.0f), a));
        }
        context.Assign(ULMContext::Create(table));
        light.Assign(ULMLight::Create(ULMVector3D(0, 0, 1)));
        ASSERT_EQ(context->AddLight(light), kULMOK);
        ASSERT_EQ(context->SetReflectionProperties(0.8, 0.3, 0.2, 6), kULMOK);
    }
    void TearDown() override {
        context.Assign(nullptr);
        light.Assign(nullptr);
        table.Assign(nullptr);
        ContextTest::TearDown();
    }

    static bool OverBands(Wrapper inWrapper) {
        return inWrapper == Wrapper::kBands || inWrapper == Wrapper::kMipmapOverBands;
    }
    static bool OverBricks(Wrapper inWrapper) {
        return inWrapper == Wrapper::kBricks || inWrapper == Wrapper::kMipmapOverBricks;
    }
    static bool Mipmapped(Wrapper inWrapper) {
        return inWrapper == Wrapper::kMipmap || inWrapper == Wrapper::kMipmapOverBands ||
               inWrapper == Wrapper::kMipmapOverBricks;
    }

    // The next volumes the public creator makes come wrapped so, the
    // multiboard volume one sub-volume per board.
    static void WrapAs(Wrapper inWrapper) {
        const bool multiboard = OverBands(inWrapper) || OverBricks(inWrapper);
        ULMSetParameter("MipmapMinVolumeSize", Mipmapped(inWrapper) ? 16 : 1 << 20);
        ULMSetParameter("MipmapMultiboard", 1);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", OverBricks(inWrapper) ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("MultiboardRenderEnable", multiboard ? 1 : 0);
    }
    ULMVolume* Make(Wrapper inWrapper) {
        WrapAs(inWrapper);
        return ULMVolume::Create(1u, voxels.data(), kVoxels, kVoxels, kVoxels, ULMVolume::kSliced);
    }

    // The middle of the volume tipped towards the viewer and turned by
    // inTurn degrees, at about 1.3 voxels a pixel, or from inAway times as
    // far: too far for a mipmap's level 0.
    static ULMCamera Camera(double inTurn, double inAway) {
        ULMCamera camera;
        const double c = (1 - kVoxels) / 2.0, r = 16 * inAway;
        camera.SetModelMatrix(ULMMatrix::Rotate(30, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(inTurn, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(c, c, c));
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -100, 100));
        camera.SetViewport(0, 0, kSide, kSide);
        return camera;
    }

    ULMStatus Render(ULMVolume* inVolume, Wrapper inWrapper, Pixels& out) {
        out.assign(size_t(kSide) * kSide, 0);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(
            OverBricks(inWrapper) ? kULMMultiBoardMode2 : kULMBoard0, kSide, kSide, 32, 4, kRGBA8));
        if (image == nullptr) return kULMErrAlloc;
        ULMStatus status = image->SetMigrationMode(kULMMigrationFullCopy);
        if (status == kULMOK) status = image->Clear(kWhole, 0);
        if (status == kULMOK) status = inVolume->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1);
        return status != kULMOK ? status : image->Unload(out.data(), kWhole, 0);
    }

    std::vector<uint8_t> voxels;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
    ReleasablePointer<ULMLight> light;
};

TEST_F(WrapperContextThreadsTest, EveryFrameOfAWrapperShowsOneStateOfAContextAnotherThreadChanges) {
    const Wrapper wrappers[] = {Wrapper::kMipmap, Wrapper::kBands, Wrapper::kBricks, Wrapper::kMipmapOverBands,
                                Wrapper::kMipmapOverBricks};
    constexpr int kFrames = 4;
    for (const Wrapper wrapper : wrappers) {
        ReleasablePointer<ULMVolume> volume(Make(wrapper));
        ASSERT_NE(volume, nullptr);
        for (const Change change : {Change::kCamera, Change::kLight, Change::kBlendMode}) {
            SCOPED_TRACE(::testing::Message() << "wrapper " << int(wrapper) << " change " << int(change));
            // A mipmap volume draws a level above 0: for the camera, the far
            // state's level, chosen by the camera the frame renders with.
            const bool far = Mipmapped(wrapper) && change == Change::kCamera;
            if (Mipmapped(wrapper)) {
                ASSERT_EQ(volume->SetMipmapRange(far ? 0 : 1, volume->GetNumberMipmapLevels() - 1), kULMOK);
            }
            const std::function<void(int)> set = [&](int inState) {
                switch (change) {
                    case Change::kCamera:
                        context->SetCamera(Camera(inState ? 200 : 20, far && inState ? 2 : 1));
                        return;
                    case Change::kLight:
                        light->SetDirection(inState ? ULMVector3D(1, 0.3, 0.4) : ULMVector3D(0, 0, 1));
                        return;
                    case Change::kBlendMode: context->SetBlendMode(inState ? kULMBlendMaxAlpha : kULMBlendFTB); return;
                }
            };
            ASSERT_EQ(context->SetCamera(Camera(20, 1)), kULMOK);
            Pixels alone[2];
            int levels[2];
            for (int state = 1; state >= 0; --state) {
                set(state);
                ASSERT_EQ(Render(volume, wrapper, alone[state]), kULMOK);
                levels[state] = volume->ChooseMipmapLevel(context);
            }
            ASSERT_NE(alone[0], alone[1]) << "the two states look alike";
            ASSERT_GT(std::count_if(alone[0].begin(), alone[0].end(), [](uint32_t p) { return p != 0; }), 100);

            std::atomic<bool> done{false};
            std::thread changer([&] {
                for (int state = 1; !done.load(); state ^= 1) set(state);
            });
            int failed = 0, torn = 0, strayLevels = 0;
            for (int frame = 0; frame < kFrames; ++frame) {
                Pixels got;
                failed += Render(volume, wrapper, got) != kULMOK;
                torn += got != alone[0] && got != alone[1];
                const int level = volume->ChooseMipmapLevel(context);
                strayLevels += level != levels[0] && level != levels[1];
            }
            done = true;
            changer.join();
            set(0);
            EXPECT_EQ(failed, 0);
            EXPECT_EQ(torn, 0) << "frames that match neither state";
            EXPECT_EQ(strayLevels, 0) << "levels chosen for neither state";
        }
    }
}

// A banded volume rendering into a banded volume: each copy renders into the
// destination's copy on its board, and every copy is written from the same
// state of the context, one of the two the other thread flips between (the
// volume seen as it is or mirrored along X).
TEST_F(WrapperContextThreadsTest, EveryCopyOfABandedVolumeRenderedIntoIsWrittenFromOneState) {
    // Small volumes: each frame is a pass per copy over every voxel.
    constexpr int kSmall = 12;
    std::vector<uint8_t> small(size_t(kSmall) * kSmall * kSmall), zeros(small.size(), 0);
    for (size_t i = 0; i < small.size(); ++i) small[i] = uint8_t(20 * (i % kSmall) + i / kSmall % kSmall);
    WrapAs(Wrapper::kBands);
    ReleasablePointer<ULMVolume> source(
        ULMVolume::Create(1u, small.data(), kSmall, kSmall, kSmall, ULMVolume::kSliced));
    ReleasablePointer<ULMVolume> made(ULMVolume::Create(1u, zeros.data(), kSmall, kSmall, kSmall, ULMVolume::kSliced));
    ASSERT_TRUE(IsObjectType(source, kObjectTypeULMMultiboardVolumePhase1));
    ASSERT_TRUE(IsObjectType(made, kObjectTypeULMMultiboardVolumePhase1));
    const auto& target = static_cast<const ULMMultiboardVolumePhase1&>(*made);
    ASSERT_EQ(target.GetNumberRealVolumes(), kBoards);
    ASSERT_EQ(context->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3)),
              kULMOK);
    // The projection takes the voxels onto the cube the destination is mapped from.
    const double s = 2.0 / (kSmall - 1);
    const ULMMatrix projections[2] = {ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(s, s, s),
                                      ULMMatrix::Translate(1, -1, -1) * ULMMatrix::Scale(-s, s, s)};
    const auto set = [&](int inState) {
        ULMCamera camera;
        camera.SetProjectionMatrix(projections[inState]);
        context->SetCamera(camera);
    };
    const ULMVolumeRange whole(kSmall, kSmall, kSmall, 0, 0, 0);
    // The voxels of each copy of the destination.
    const auto copies = [&] {
        std::vector<std::vector<uint8_t>> held;
        for (int i = 0; i < kBoards; ++i) {
            held.emplace_back(small.size(), 0);
            EXPECT_EQ(target.GetSubvolume(i).GetVolume()->Unload(held.back().data(), whole, kULMUseBuffer), kULMOK);
        }
        return held;
    };
    std::vector<uint8_t> alone[2];
    for (int state = 1; state >= 0; --state) {
        set(state);
        ASSERT_EQ(source->RenderToVolume(context, made, ULMVolume::kRenderToVolumeNone), kULMOK);
        const auto held = copies();
        for (int i = 1; i < kBoards; ++i) ASSERT_EQ(held[i], held[0]) << "copy " << i;
        alone[state] = held[0];
    }
    ASSERT_NE(alone[0], alone[1]) << "the two states look alike";

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int state = 1; !done.load(); state ^= 1) set(state);
    });
    int failed = 0, torn = 0, mixed = 0;
    for (int frame = 0; frame < 64; ++frame) {
        failed += source->RenderToVolume(context, made, ULMVolume::kRenderToVolumeNone) != kULMOK;
        const auto held = copies();
        torn += held[0] != alone[0] && held[0] != alone[1];
        for (int i = 1; i < kBoards; ++i) mixed += held[i] != held[0];
    }
    done = true;
    changer.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(torn, 0) << "renders from neither state";
    EXPECT_EQ(mixed, 0) << "copies written from another state than the first";
}

}  // namespace
}  // namespace ulm3::testing
