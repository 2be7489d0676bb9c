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

    // The volume as the public creator wraps it, the multiboard volume one
    // sub-volume per board.
    ULMVolume* Make(Wrapper inWrapper) {
        const bool multiboard = OverBands(inWrapper) || OverBricks(inWrapper);
        ULMSetParameter("MipmapMinVolumeSize", Mipmapped(inWrapper) ? 16 : 1 << 20);
        ULMSetParameter("MipmapMultiboard", 1);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", OverBricks(inWrapper) ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("MultiboardRenderEnable", multiboard ? 1 : 0);
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

}  // namespace
}  // namespace ulm3::testing
