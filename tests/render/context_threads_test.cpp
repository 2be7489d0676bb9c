// One context rendered with in one thread while another changes it: every
// frame shows one whole state of the context, and what the other thread
// frees is never read.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "ulm3/light.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

using Pixels = std::vector<uint32_t>;
constexpr int kSide = 24, kVoxels = 16;
const ULMImageRange kWhole(kSide, kSide, 0, 0);
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

enum class Road { kPlain, kMPR, kPerspective };
// What the other thread flips between two states: a light or a cut plane
// made, added, let go and removed again (the list), or one the context keeps
// (its values), or the camera. Or it renders base planes with the context,
// which leaves it in its one state.
enum class Change { kLightList, kCutPlaneList, kCamera, kLight, kCutPlane, kBasePlanes };

class ContextThreadsTest : public testing::ContextTest {
protected:
    ContextThreadsTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        voxels.resize(size_t(kVoxels) * kVoxels * kVoxels);
        for (size_t i = 0; i < voxels.size(); ++i) {  // a ball on a ramp along X
            const int x = int(i % kVoxels), y = int(i / kVoxels % kVoxels), z = int(i / kVoxels / kVoxels);
            const double ball = std::max(0.0, 230 - 27 * std::hypot(x - 7.5, y - 8.0, z - 8.5));
            voxels[i] = uint8_t(std::min(255.0, 6 * x + ball));
        }
        table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float a = i < 40 ? 0.0f : 0.35f;
            table->SetEntry(i, ULMRGBAFloat(a * i / 255.0f, a * 0.6f, a * (1 - i / 255.0f), a));
        }
        context.Assign(ULMContext::Create(table));
        volume.Assign(ULMVolume::Create(1u, voxels.data(), kVoxels, kVoxels, kVoxels, ULMVolume::kSliced));
        ASSERT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(context->SetReflectionProperties(0.8, 0.3, 0.2, 6), kULMOK);
    }
    void TearDown() override {
        volume.Assign(nullptr);
        context.Assign(nullptr);
        table.Assign(nullptr);
        ContextTest::TearDown();
    }
    // The volume turned by inTurn degrees, seen in parallel or from 40 voxels away.
    static ULMCamera Camera(double inTurn, bool inPerspective) {
        ULMCamera camera;
        const double c = -kVoxels / 2.0;
        ULMMatrix model = ULMMatrix::Rotate(inTurn, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(c, c, c);
        if (inPerspective) {
            camera.SetModelMatrix(ULMMatrix::Translate(0, 0, -40) * model);
            camera.SetProjectionMatrix(ULMMatrix::Perspective(35, 1, 1, 200));
        } else {
            camera.SetModelMatrix(model);
            camera.SetProjectionMatrix(ULMMatrix::Ortho(-13, 13, -13, 13, -100, 100));
        }
        camera.SetViewport(0, 0, kSide, kSide);
        return camera;
    }
    ULMStatus Render(Road inRoad, Pixels& out) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8));
        ULMStatus status = image->Clear(kWhole, 0);
        if (status != kULMOK) return status;
        status = inRoad == Road::kMPR
                     ? volume->StartRenderMPR(context, 0.5, 1, ULMVolume::kMPRRGBA, image).Wait(-1)
                     : volume->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1);
        out.assign(kSide * kSide, 0);
        return status != kULMOK ? status : image->Unload(out.data(), kWhole, 0);
    }

    // Frames rendered while another thread flips inSet between states 1
    // and 0: how many failed, and how many match neither of inAlone.
    struct Frames {
        int failed = 0;
        int torn = 0;
    };
    Frames RenderWhileFlipping(Road inRoad, const Pixels (&inAlone)[2], const std::function<void(int)>& inSet,
                               int inFrames) {
        std::atomic<bool> done{false};
        std::thread changer([&] {
            for (int state = 1; !done.load(); state ^= 1) inSet(state);
        });
        Frames frames;
        for (int frame = 0; frame < inFrames; ++frame) {
            Pixels got;
            frames.failed += Render(inRoad, got) != kULMOK;
            frames.torn += got != inAlone[0] && got != inAlone[1];
        }
        done = true;
        changer.join();
        return frames;
    }

    std::vector<uint8_t> voxels;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
    ReleasablePointer<ULMVolume> volume;
};

TEST_F(ContextThreadsTest, EveryFrameShowsOneStateOfAContextAnotherThreadChanges) {
    const struct {
        Road road;
        Change change;
    } cases[] = {
        {Road::kPlain, Change::kLightList},         {Road::kPlain, Change::kCutPlaneList},
        {Road::kPlain, Change::kCamera},            {Road::kPlain, Change::kLight},
        {Road::kPlain, Change::kCutPlane},          {Road::kPlain, Change::kBasePlanes},
        {Road::kMPR, Change::kLightList},           {Road::kMPR, Change::kCutPlaneList},
        {Road::kMPR, Change::kCamera},              {Road::kMPR, Change::kLight},
        {Road::kMPR, Change::kCutPlane},            {Road::kPerspective, Change::kLightList},
        {Road::kPerspective, Change::kCutPlaneList}, {Road::kPerspective, Change::kCamera},
        {Road::kPerspective, Change::kLight},       {Road::kPerspective, Change::kCutPlane},
    };
    constexpr int kFrames = 12;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "road " << int(c.road) << " change " << int(c.change));
        const bool perspective = c.road == Road::kPerspective;
        ASSERT_EQ(context->SetCamera(Camera(20, perspective)), kULMOK);
        // The light and the cut plane the context keeps, for the value changes.
        ReleasablePointer<ULMLight> light(ULMLight::Create(ULMVector3D(0, 0, 1)));
        ReleasablePointer<ULMCutPlane> cut(ULMCutPlane::Create(ULMVector4D(1, 0, 0, 0), -4, 100));
        ASSERT_EQ(c.change == Change::kLight ? context->AddLight(light) : kULMOK, kULMOK);
        ASSERT_EQ(c.change == Change::kCutPlane ? context->AddCutPlane(cut) : kULMOK, kULMOK);
        // State 0 and state 1; the list changes pass through the other state on their own.
        const std::function<void(int)> set = [&](int inState) {
            switch (c.change) {
                case Change::kLightList:
                case Change::kCutPlaneList:
                    if (inState == 0) return;
                    if (c.change == Change::kLightList) {
                        ULMLight* made = ULMLight::Create(ULMVector3D(1, 0.3, 0.4));
                        context->AddLight(made);
                        made->Release();  // the context's reference is the last
                        context->RemoveLight(made);
                    } else {
                        ULMCutPlane* made = ULMCutPlane::Create(ULMVector4D(0, 1, 0, 0), -100, 1);
                        context->AddCutPlane(made);
                        made->Release();
                        context->RemoveCutPlane(made);
                    }
                    return;
                case Change::kCamera: context->SetCamera(Camera(inState ? 65 : 20, perspective)); return;
                // One call each: between two calls the object would be in a third state.
                case Change::kLight:
                    light->SetDirection(inState ? ULMVector3D(1, 0.3, 0.4) : ULMVector3D(0, 0, 1));
                    return;
                case Change::kCutPlane:
                    cut->SetPlane(inState ? ULMVector4D(0, 1, 0, 0) : ULMVector4D(1, 0, 0, 0));
                    return;
                case Change::kBasePlanes:
                    if (inState == 1) context->RenderBasePlane(volume, 0);
                    return;
            }
        };
        // Each state alone; a list change's second state is the member in place.
        Pixels alone[2];
        ASSERT_EQ(Render(c.road, alone[0]), kULMOK);
        {
            ReleasablePointer<ULMLight> member(ULMLight::Create(ULMVector3D(1, 0.3, 0.4)));
            ReleasablePointer<ULMCutPlane> plane(ULMCutPlane::Create(ULMVector4D(0, 1, 0, 0), -100, 1));
            ASSERT_EQ(c.change == Change::kLightList ? context->AddLight(member) : kULMOK, kULMOK);
            ASSERT_EQ(c.change == Change::kCutPlaneList ? context->AddCutPlane(plane) : kULMOK, kULMOK);
            if (c.change != Change::kLightList && c.change != Change::kCutPlaneList) set(1);
            ASSERT_EQ(c.change == Change::kBasePlanes ? context->ReleaseBasePlane(0) : kULMOK, kULMOK);
            ASSERT_EQ(Render(c.road, alone[1]), kULMOK);
            context->RemoveLight(member);
            context->RemoveCutPlane(plane);
            set(0);
        }
        // The two states look different, but for base planes, which leave the context as it was.
        ASSERT_EQ(alone[0] == alone[1], c.change == Change::kBasePlanes);

        const Frames frames = RenderWhileFlipping(c.road, alone, set, kFrames);
        EXPECT_EQ(frames.failed, 0);
        EXPECT_EQ(frames.torn, 0) << "frames that match neither state";
        context->RemoveLight(light);
        context->RemoveCutPlane(cut);
        context->ReleaseBasePlane(0);
    }
}

// What the other thread flips of the volume between two states, each in one
// call.
enum class VolumeChange { kField, kCorrection, kSubVolume, kBorder, kExtendModes };

TEST_F(ContextThreadsTest, EveryFrameShowsOneStateOfAVolumeAnotherThreadChanges) {
    const struct {
        Road road;
        VolumeChange change;
    } cases[] = {
        {Road::kPlain, VolumeChange::kField},       {Road::kPlain, VolumeChange::kCorrection},
        {Road::kPlain, VolumeChange::kSubVolume},   {Road::kPlain, VolumeChange::kBorder},
        {Road::kPlain, VolumeChange::kExtendModes}, {Road::kMPR, VolumeChange::kCorrection},
        {Road::kMPR, VolumeChange::kSubVolume},     {Road::kPerspective, VolumeChange::kCorrection},
        {Road::kPerspective, VolumeChange::kSubVolume},
    };
    constexpr int kFrames = 12;
    const ULMFieldDescriptor fields[2] = {{0, 8, kU}, {4, 4, kU}};
    const ULMMatrix corrections[2] = {ULMMatrix::Identity(), ULMMatrix::Scale(1.0, 1.4, 0.8)};
    const ULMVolumeRange subVolumes[2] = {ULMVolumeRange(), ULMVolumeRange(11, 9, 13, 2, 5, 1)};
    const ULMVolume::ExtendMode modes[2] = {ULMVolume::kExtendWithBorder, ULMVolume::kExtendWithEdge};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "road " << int(c.road) << " change " << int(c.change));
        ASSERT_EQ(context->SetCamera(Camera(20, c.road == Road::kPerspective)), kULMOK);
        // A border the edge voxels differ from, for the border and the modes.
        ASSERT_EQ(volume->SetBorderValue(c.change == VolumeChange::kExtendModes ? 200 : 0), kULMOK);
        const std::function<ULMStatus(int)> set = [&](int inState) {
            switch (c.change) {
                case VolumeChange::kField: return volume->SetFieldDescriptor(kULMField0, fields[inState]);
                case VolumeChange::kCorrection: return volume->SetCorrectionMatrix(corrections[inState]);
                case VolumeChange::kSubVolume: return volume->SetActiveSubVolume(subVolumes[inState]);
                case VolumeChange::kBorder: return volume->SetBorderValue(inState ? 255 : 0);
                case VolumeChange::kExtendModes:
                    return volume->SetExtendModes(modes[inState], modes[inState], modes[inState]);
            }
            return kULMErrArgument;
        };
        Pixels alone[2];
        for (int state = 1; state >= 0; --state) {
            ASSERT_EQ(set(state), kULMOK);
            ASSERT_EQ(Render(c.road, alone[state]), kULMOK);
        }
        ASSERT_NE(alone[0], alone[1]) << "the two states look alike";

        std::atomic<int> refused{0};
        const Frames frames =
            RenderWhileFlipping(c.road, alone, [&](int inState) { refused += set(inState) != kULMOK; }, kFrames);
        EXPECT_EQ(frames.failed, 0);
        EXPECT_EQ(refused.load(), 0);
        EXPECT_EQ(frames.torn, 0) << "frames that match neither state";
        ASSERT_EQ(set(0), kULMOK);
    }
}

// Two contexts share a table, a classifier, a light and a cut plane, and two
// volumes on one board share the table's board copy: two threads render one
// volume each, through its own context, while a third turns the light.
TEST_F(ContextThreadsTest, ObjectsSharedBetweenContextsServeRendersInTwoThreads) {
    ReleasablePointer<ULMContext> second(ULMContext::Create(table));
    ReleasablePointer<ULMVolume> other(
        ULMVolume::Create(1u, voxels.data(), kVoxels, kVoxels, kVoxels, ULMVolume::kSliced));
    ASSERT_EQ(other->LockVolume(kULMBoard0), kULMOK);
    ReleasablePointer<ULMLight> light(ULMLight::Create(ULMVector3D(0, 0, 1)));
    ReleasablePointer<ULMCutPlane> cut(ULMCutPlane::Create(ULMVector4D(1, 0.2, 0, 0), -100, 3));
    ULMContext* contexts[2] = {context, second};
    ULMVolume* volumes[2] = {volume, other};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(contexts[i]->SetClassifier(context->GetClassifier()), kULMOK);
        ASSERT_EQ(contexts[i]->SetReflectionProperties(0.8, 0.3, 0.2, 6), kULMOK);
        ASSERT_EQ(contexts[i]->AddLight(light), kULMOK);
        ASSERT_EQ(contexts[i]->AddCutPlane(cut), kULMOK);
        ASSERT_EQ(contexts[i]->SetCamera(Camera(i == 0 ? 20 : -35, i == 1)), kULMOK);
    }
    const auto render = [&](int inWhich, Pixels& out) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8));
        out.assign(kSide * kSide, 0);
        ULMStatus status = image->Clear(kWhole, 0);
        if (status == kULMOK)
            status = volumes[inWhich]->StartRender(contexts[inWhich], image, nullptr, nullptr, nullptr).Wait(-1);
        return status != kULMOK ? status : image->Unload(out.data(), kWhole, 0);
    };
    const ULMVector3D directions[2] = {ULMVector3D(0, 0, 1), ULMVector3D(1, 0.3, 0.4)};
    Pixels alone[2][2];  // [context][light]
    for (int state = 0; state < 2; ++state) {
        ASSERT_EQ(light->SetDirection(directions[state]), kULMOK);
        for (int i = 0; i < 2; ++i) ASSERT_EQ(render(i, alone[i][state]), kULMOK);
    }
    ASSERT_NE(alone[0][0], alone[0][1]);
    ASSERT_NE(alone[1][0], alone[1][1]);
    std::atomic<int> rendering{2};
    int wrong[2] = {0, 0};
    const auto frames = [&](int inWhich) {
        Pixels got;
        for (int frame = 0; frame < 12; ++frame) {
            const bool rendered = render(inWhich, got) == kULMOK;
            wrong[inWhich] += !rendered || (got != alone[inWhich][0] && got != alone[inWhich][1]);
        }
        --rendering;
    };
    std::thread first(frames, 0), last(frames, 1);
    for (int state = 1; rendering.load() > 0; state ^= 1) light->SetDirection(directions[state]);
    first.join();
    last.join();
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 0);
}

}  // namespace
}  // namespace ulm3
