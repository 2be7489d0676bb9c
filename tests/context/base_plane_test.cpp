// Base-plane slots: a warped base plane against a direct render of the same
// view, and the slot states with their refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"
#include "ulm3/graphics_context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/volume.h"

namespace ulm3::testing {
namespace {

constexpr int kSide = 64;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

// Warps a base plane into a kSide square window, bilinear, through the
// affine map that takes three hexagon corners to their texture coordinates.
struct WarpingGraphics : ULMGraphicsContext {
    ULMStatus DrawBasePlane(const ULMBasePlaneInfo& in) override {
        const ULMVector2D *p = in.hexagon, *t = in.texCoords;
        const double det = (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1]);
        window.assign(kSide * kSide, 0);
        auto texel = [&](double u, double v, int c) {
            const long i = std::lround(u), j = std::lround(v);
            return i >= 0 && j >= 0 && i < in.basePlaneWidth && j < in.basePlaneHeight
                       ? double(static_cast<const uint32_t*>(in.pixels)[j * in.imageWidth + i] >> c & 255)
                       : 0.0;
        };
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const double a = ((x - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (y - p[0][1])) / det;
                const double b = ((p[1][0] - p[0][0]) * (y - p[0][1]) - (x - p[0][0]) * (p[1][1] - p[0][1])) / det;
                const double u = (t[0][0] + a * (t[1][0] - t[0][0]) + b * (t[2][0] - t[0][0])) * in.imageWidth,
                             v = (t[0][1] + a * (t[1][1] - t[0][1]) + b * (t[2][1] - t[0][1])) * in.imageHeight,
                             fu = u - std::floor(u), fv = v - std::floor(v);
                for (int c = 0; c < 32; c += 8)
                    window[y * kSide + x] |=
                        uint32_t(std::lround(
                            (1 - fv) * ((1 - fu) * texel(u - fu, v - fv, c) + fu * texel(u - fu + 1, v - fv, c)) +
                            fv * ((1 - fu) * texel(u - fu, v - fv + 1, c) + fu * texel(u - fu + 1, v - fv + 1, c))))
                        << c;
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
        // Two smooth blobs, next to nothing at the faces.
        for (int i = 0; i < 40 * 32 * 24; ++i) {
            const double r = std::hypot(i % 40 - 14.0, i / 40 % 32 - 15.0, i / 1280 - 11.5),
                         r2 = std::hypot(i % 40 - 26.0, i / 40 % 32 - 17.0, i / 1280 - 11.5);
            voxels.push_back(
                static_cast<uint8_t>(std::lround(200 * std::exp(-r * r / 32) + 120 * std::exp(-r2 * r2 / 32))));
        }
        // Faint: compositing stays near linear, so a warp after it matches sampling before it; one slice a voxel.
        ULMLookupTable* table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i)
            table->SetEntry(i, ULMRGBAFloat(i / 255.0f, 0.5f, 1 - i / 255.0f, i * 0.06f / 255.0f));
        context = ULMContext::Create(table), table->Release(), context->SetSamplingLimits(1, 3, 1, 1);
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-30, 30, -30, 30, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(-40, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-19.5, -15.5, -11.5));
        camera.SetViewport(0, 0, kSide, kSide);
        volume = ULMVolume::Create(1u, voxels.data(), 40, 32, 24, ULMVolume::kSliced);
    }
    void TearDown() override { volume->Release(), context->Release(), ContextTest::TearDown(); }
    std::vector<uint8_t> voxels;
    ULMContext* context = nullptr;
    ULMVolume* volume = nullptr;
};

// Zoomed in, out (3 voxels a pixel: the direct render takes a viewport three times finer and keeps every third pixel)
// and turned.
class BasePlaneWarpTest : public BasePlaneTest,
                          public ::testing::WithParamInterface<ULMVector3D> {};  // zoom, turn, step
INSTANTIATE_TEST_SUITE_P(Views, BasePlaneWarpTest,
                         ::testing::Values(ULMVector3D(0.5, -40, 1), ULMVector3D(3, 70, 3), ULMVector3D(1.3, 155, 1)));

TEST_P(BasePlaneWarpTest, WarpedBasePlaneMatchesADirectRender) {
    const int step = static_cast<int>(GetParam()[2]), side = step * (kSide - 1) + 1;
    context->GetCamera().SetModelMatrix(ULMMatrix::Scale(1 / GetParam()[0], 1 / GetParam()[0], 1 / GetParam()[0]) *
                                        ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                                        ULMMatrix::Rotate(GetParam()[1], ULMVector3D(0, 1, 0)) *
                                        ULMMatrix::Translate(-19.5, -15.5, -11.5));
    WarpingGraphics graphics;
    const ULMCamera before = context->GetCamera();
    ASSERT_EQ(context->RenderToGraphicsContext(volume, &graphics, 2), kULMOK);
    EXPECT_TRUE(context->GetCamera() == before);
    EXPECT_NE(volume->GetBufferLocation(), kULMNoBufferAttached);  // locked by the base plane, and left so

    context->GetCamera().SetViewport(0, 0, side, side);
    ULMImageBuffer* image = ULMImageBuffer::Create(volume->GetBufferLocation(), side, side, 32, 4, kRGBA8);
    const ULMImageRange whole(side, side, 0, 0);
    std::vector<uint32_t> direct(side * side);
    EXPECT_TRUE(image->Clear(whole, 0) == kULMOK &&
                volume->Render(context, image, nullptr, nullptr, nullptr) == kULMOK &&
                image->Unload(direct.data(), whole, 0) == kULMOK);
    image->Release();
    EXPECT_NE(graphics.window, std::vector<uint32_t>(kSide * kSide));
    for (int i = 0; i < kSide * kSide; ++i) {
        for (int c = 0; c < 32; c += 8)
            EXPECT_LE(std::abs(int(direct[(i / kSide * side + i % kSide) * step] >> c & 255) -
                               int(graphics.window[i] >> c & 255)),
                      1)
                << "pixel " << i;
    }
}

TEST_F(BasePlaneTest, SlotStatesAndRefusals) {
    ULMVolume* wide = ULMVolume::Create(8, ULMVolumeRange(32800, 2, 2, -16400, 0, 0), 0, nullptr,
                                        nullptr);  // the trims' whole span: beyond the board's coordinates
    ULMBasePlaneInfo info;
    WarpingGraphics failing;
    failing.status = kULMErrTransform;
    const ULMCamera asked = context->GetCamera();
    ULMLight* light = ULMLight::Create(ULMVector3D(0, 0, 1));  // its map's first build pauses the board
    // Callbacks that call back into the context, which holds none of its locks then: fetch a rendered plane, release a
    // transferred one.
    auto take = [](ULMEventBase* e, void* d) {
        ULMBasePlaneInfo taken;
        auto* c = static_cast<ULMContext*>(d);
        EXPECT_EQ(e->EventType() == kULMEventRenderDone ? c->FetchBasePlane(e->buffer, taken, 0)
                                                        : c->ReleaseBasePlane(e->buffer),
                  kULMOK);
    };
    // op: 0 render, 1 fetch, 2 release, 3 render to the failing graphics, 4 fetch without waiting, then resume the
    // board. before: 1 fail the board allocation after the volume's; 2 pause the board from the light-map callback,
    // which the render raises before the transfer is queued (the image's clear would wait for a paused board); 3 render
    // the wide volume; 4 install the callbacks; 5 refuse the next render request.
    const struct {
        const char* step;
        int op, slot, before;
        ULMStatus expected;
        bool locked;
    } steps[] = {{"fetch free", 1, 3, 0, kULMErrArgument, false},
                 {"release free", 2, 3, 0, kULMErrArgument, false},
                 {"render 16", 0, 16, 0, kULMErrArgument, false},
                 {"render -1", 0, -1, 0, kULMErrArgument, false},
                 {"too large", 0, 0, 3, kULMErrBasePlaneTooLarge, false},
                 {"no image", 0, 1, 1, kULMErrBasePlaneAllocation, false},
                 {"render", 0, 3, 0, kULMOK, true},
                 {"render again", 0, 3, 0, kULMOK, true},
                 {"fetch", 1, 3, 0, kULMOK, true},
                 {"render fetched", 0, 3, 0, kULMErrArgument, true},
                 {"fetch fetched", 1, 3, 0, kULMErrArgument, true},
                 {"release", 2, 3, 0, kULMOK, true},
                 {"release again", 2, 3, 0, kULMErrArgument, true},
                 {"failing graphics", 3, 15, 0, kULMErrTransform, true},
                 {"released after it", 2, 15, 0, kULMErrArgument, true},
                 {"render refused", 0, 5, 5, kULMErrAlloc, true},
                 {"render paused", 0, 4, 2, kULMOK, true},
                 {"time-out", 4, 4, 0, kULMTimeout, true},
                 {"kept", 1, 4, 0, kULMOK, true},
                 {"render, taken by its callbacks", 0, 7, 4, kULMOK, true},
                 {"released by them", 2, 7, 0, kULMErrArgument, true}};
    for (const auto& s : steps) {
        if (s.before % 4 == 1)
            tulx7sim::InjectSubmitFailure(s.before == 1 ? TULX7_DR_BUFFER_ALLOCATE : TULX7_DR_RENDER,
                                          s.before == 1 ? 2 : 1, TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
        EXPECT_TRUE((s.before != 2 || (context->AddLight(light) == kULMOK && context->SetNotifyCallback(
                                                                                 kULMEventLightMap,
                                                                                 [](ULMEventBase* e, void*) {
                                                                                     EXPECT_EQ(e->buffer, 4);
                                                                                     tulx7sim::PauseBoard(0);
                                                                                 },
                                                                                 nullptr) == kULMOK)) &&
                    (s.before != 4 || (context->SetNotifyCallback(kULMEventRenderDone, take, context) == kULMOK &&
                                       context->SetNotifyCallback(kULMEventTransferDone, take, context) == kULMOK)));
        const ULMStatus got = s.op == 0                ? context->RenderBasePlane(s.before == 3 ? wide : volume, s.slot)
                              : s.op == 1 || s.op == 4 ? context->FetchBasePlane(s.slot, info, s.op == 1 ? -1 : 0)
                              : s.op == 2              ? context->ReleaseBasePlane(s.slot)
                                                       : context->RenderToGraphicsContext(volume, &failing, s.slot);
        if (s.op == 4) tulx7sim::ResumeBoard(0);
        EXPECT_TRUE(got == s.expected && context->GetCamera() == asked &&
                    (volume->GetBufferLocation() != kULMNoBufferAttached) == s.locked)
            << s.step << " " << got;
    }
    wide->Release(), light->Release();
}

}  // namespace
}  // namespace ulm3::testing
