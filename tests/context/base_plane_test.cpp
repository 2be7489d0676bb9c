// Base-plane slots: a warped base plane against a direct render of the same
// view, and the slot states with their refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/context_fixture.h"
#include "ulm3/graphics_context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3::testing {
namespace {

constexpr int kSide = 64;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

// Warps a base plane into a kSide square window through the affine map
// that takes three hexagon corners to their texture coordinates.
struct WarpingGraphics : ULMGraphicsContext {
    ULMStatus DrawBasePlane(const ULMBasePlaneInfo& in) override {
        const ULMVector2D *p = in.hexagon, *t = in.texCoords;
        const double det = (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1]);
        window.assign(kSide * kSide, 0);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const double a = ((x - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (y - p[0][1])) / det;
                const double b = ((p[1][0] - p[0][0]) * (y - p[0][1]) - (x - p[0][0]) * (p[1][1] - p[0][1])) / det;
                const long u = std::lround((t[0][0] + a * (t[1][0] - t[0][0]) + b * (t[2][0] - t[0][0])) * in.imageWidth);
                const long v = std::lround((t[0][1] + a * (t[1][1] - t[0][1]) + b * (t[2][1] - t[0][1])) * in.imageHeight);
                if (u >= 0 && v >= 0 && u < in.basePlaneWidth && v < in.basePlaneHeight) window[y * kSide + x] = static_cast<const uint32_t*>(in.pixels)[v * in.imageWidth + u];
            }
        }
        return status;
    }
    std::vector<uint32_t> window;
    ULMStatus status = kULMOK;
};

class BasePlaneTest : public ContextTest {
protected:
    BasePlaneTest() : ContextTest(test_support::SimBoards(1)) {}
    void SetUp() override {
        ContextTest::SetUp();
        for (int i = 0; i < 40 * 32 * 24; ++i) {
            const double r = std::hypot(i % 40 - 22.0, i / 40 % 32 - 12.0, i / 1280 - 10.0);
            voxels.push_back(static_cast<uint8_t>(std::max(0.0, 250 - 12 * r)));
        }
        context = ULMContext::Create();
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-30, 30, -30, 30, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(-40, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-19.5, -15.5, -11.5));
        camera.SetViewport(0, 0, kSide, kSide);
        volume = ULMVolume::Create(1u, voxels.data(), 40, 32, 24, ULMVolume::kSliced);
    }
    void TearDown() override { volume->Release(), context->Release(), ContextTest::TearDown(); }
    std::vector<uint8_t> voxels;
    ULMContext* context = nullptr;
    ULMVolume* volume = nullptr;
};

TEST_F(BasePlaneTest, WarpedBasePlaneMatchesADirectRender) {
    WarpingGraphics graphics;
    const ULMCamera before = context->GetCamera();
    ASSERT_EQ(context->RenderToGraphicsContext(volume, &graphics, 2), kULMOK);
    EXPECT_TRUE(context->GetCamera() == before);
    EXPECT_NE(volume->GetBufferLocation(), kULMNoBufferAttached);  // locked by the base plane, and left so

    ULMImageBuffer* image = ULMImageBuffer::Create(volume->GetBufferLocation(), kSide, kSide, 32, 4, kRGBA8);
    const ULMImageRange whole(kSide, kSide, 0, 0);
    std::vector<uint32_t> direct(kSide * kSide);
    EXPECT_TRUE(image->Clear(whole, 0) == kULMOK && volume->Render(context, image, nullptr, nullptr, nullptr) == kULMOK && image->Unload(direct.data(), whole, 0) == kULMOK);
    image->Release();
    int lit = 0;
    for (int i = 0; i < kSide * kSide; ++i) {
        lit += direct[i] != 0;
        for (int c = 0; c < 32; c += 8) EXPECT_LE(std::abs(int(direct[i] >> c & 255) - int(graphics.window[i] >> c & 255)), 1) << "pixel " << i;
    }
    EXPECT_GT(lit, kSide * kSide / 8);
}

TEST_F(BasePlaneTest, SlotStatesAndRefusals) {
    static int raised[2] = {-1, -1};
    static ULMContext* seenBy = nullptr;
    seenBy = context;
    auto record = [](ULMEventBase* e, void*) {
        raised[e->EventType()] = e->buffer;
        seenBy->SetNotifyCallback(kULMEventLightMap, nullptr, nullptr);  // no context lock held here
    };
    ULMBasePlaneInfo info;
    WarpingGraphics failing;
    failing.status = kULMErrTransform;
    // op: 0 render, 1 fetch, 2 release, 3 render to the failing graphics.
    const struct { const char* step; int op, slot; ULMStatus expected; } steps[] = {
        {"fetch free", 1, 3, kULMErrArgument}, {"release free", 2, 3, kULMErrArgument}, {"render 16", 0, 16, kULMErrArgument},
        {"render -1", 0, -1, kULMErrArgument}, {"render", 0, 3, kULMOK}, {"render again", 0, 3, kULMOK}, {"fetch", 1, 3, kULMOK},
        {"render fetched", 0, 3, kULMErrArgument}, {"fetch fetched", 1, 3, kULMErrArgument}, {"release", 2, 3, kULMOK},
        {"release again", 2, 3, kULMErrArgument}, {"failing graphics", 3, 15, kULMErrTransform}, {"released after it", 2, 15, kULMErrArgument}};
    for (const auto& s : steps) {
        const ULMStatus got = s.op == 0 ? context->RenderBasePlane(volume, s.slot)
                              : s.op == 1 ? context->FetchBasePlane(s.slot, info, -1)
                              : s.op == 2 ? context->ReleaseBasePlane(s.slot)
                                          : context->RenderToGraphicsContext(volume, &failing, s.slot);
        EXPECT_EQ(got, s.expected) << s.step;
    }
    ASSERT_EQ(context->SetNotifyCallback(kULMEventRenderDone, record, nullptr), kULMOK);
    ASSERT_EQ(context->SetNotifyCallback(kULMEventTransferDone, record, nullptr), kULMOK);
    ASSERT_EQ(context->RenderBasePlane(volume, 7), kULMOK);
    EXPECT_TRUE(raised[0] == 7 && raised[1] == 7);
    EXPECT_EQ(context->ReleaseBasePlane(7), kULMOK);
}

}  // namespace
}  // namespace ulm3::testing
