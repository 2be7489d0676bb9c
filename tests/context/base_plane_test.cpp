// Base-plane slots: a warped base plane against a direct render of the same
// view, and the slot states with their refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "context/context_internal.h"
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
constexpr int kWidth = 40;
constexpr int kHeight = 32;
constexpr int kDepth = 24;

// Bilinear sample of one 8-bit channel at (u, v), in texels; zero outside the base plane.
double Sample(const ULMBasePlaneInfo& plane, double u, double v, int shift) {
    const auto* pixels = static_cast<const uint32_t*>(plane.pixels);
    double sum = 0;
    for (int corner = 0; corner < 4; ++corner) {
        const long i = std::lround(std::floor(u)) + corner % 2;
        const long j = std::lround(std::floor(v)) + corner / 2;
        const double weight = (1 - std::abs(u - i)) * (1 - std::abs(v - j));
        if (i >= 0 && j >= 0 && i < plane.basePlaneWidth && j < plane.basePlaneHeight)
            sum += weight * (pixels[j * plane.imageWidth + i] >> shift & 255);
    }
    return sum;
}

// Warps a base plane into a kSide square window through the affine map that
// takes three hexagon corners to their texture coordinates.
struct WarpingGraphics : ULMGraphicsContext {
    explicit WarpingGraphics(ULMStatus result = kULMOK) : status(result) {}
    ULMStatus DrawBasePlane(const ULMBasePlaneInfo& plane) override {
        const ULMVector2D* p = plane.hexagon;
        const ULMVector2D* t = plane.texCoords;
        const ULMVector2D edge1 = p[1] - p[0];
        const ULMVector2D edge2 = p[2] - p[0];
        const double det = edge1[0] * edge2[1] - edge2[0] * edge1[1];
        window.assign(kSide * kSide, 0);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const double dx = x - p[0][0];
                const double dy = y - p[0][1];
                const double a = (dx * edge2[1] - edge2[0] * dy) / det;
                const double b = (edge1[0] * dy - dx * edge1[1]) / det;
                const ULMVector2D tex = t[0] + (t[1] - t[0]) * a + (t[2] - t[0]) * b;
                for (int shift = 0; shift < 32; shift += 8) {
                    const double value = Sample(plane, tex[0] * plane.imageWidth, tex[1] * plane.imageHeight, shift);
                    window[y * kSide + x] |= uint32_t(std::lround(value)) << shift;
                }
            }
        }
        return status;
    }
    std::vector<uint32_t> window;
    ULMStatus status = kULMOK;
};

// The volume's centre moved to the origin, turned about y, tilted and zoomed.
ULMMatrix View(double zoom, double turn) {
    return ULMMatrix::Scale(1 / zoom, 1 / zoom, 1 / zoom) * ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
           ULMMatrix::Rotate(turn, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-19.5, -15.5, -11.5);
}

// Callbacks call back into the context, which holds none of its locks then.
void TakeBasePlane(ULMEventBase* event, void* data) {
    auto* context = static_cast<ULMContext*>(data);
    ULMBasePlaneInfo taken;
    if (event->EventType() == kULMEventRenderDone)
        EXPECT_EQ(context->FetchBasePlane(event->buffer, taken, 0), kULMOK);
    else
        EXPECT_EQ(context->ReleaseBasePlane(event->buffer), kULMOK);
}

// The light-map event names the slot being rendered.
void PauseOnLightMap(ULMEventBase* event, void*) {
    EXPECT_EQ(event->buffer, 4);
    tulx7sim::PauseBoard(0);
}

// A step of the slot table: render (kWide: of a volume wider than the board's coordinates; kNoImage: with the board
// allocation after the volume's failing; kRefused: with the render request refused; kPaused: by the light map, built
// before the transfer is queued; kTaken: by callbacks that fetch the rendered plane and release the transferred one),
// fetch, kPeek: fetch without waiting and then resume the board, release, render to graphics that fail, or
// kQueueFull: render with the transfer event queued on a full queue.
enum class Op { kRender, kWide, kNoImage, kRefused, kPaused, kTaken, kFetch, kPeek, kRelease, kDrawFailing,
                kQueueFull };

class BasePlaneTest : public ContextTest {
protected:
    BasePlaneTest() : ContextTest(test_support::SimBoards(1)) {}
    void SetUp() override {
        ContextTest::SetUp();
        // Two smooth blobs, next to nothing at the faces.
        for (int i = 0; i < kWidth * kHeight * kDepth; ++i) {
            const double r1 = std::hypot(i % kWidth - 14.0, i / kWidth % kHeight - 15.0, i / kWidth / kHeight - 11.5);
            const double r2 = std::hypot(i % kWidth - 26.0, i / kWidth % kHeight - 17.0, i / kWidth / kHeight - 11.5);
            voxels.push_back(
                static_cast<uint8_t>(std::lround(200 * std::exp(-r1 * r1 / 32) + 120 * std::exp(-r2 * r2 / 32))));
        }
        // Faint: compositing stays near linear, so a warp after it matches sampling before it; one slice a voxel.
        ULMLookupTable* table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i)
            table->SetEntry(i, ULMRGBAFloat(i / 255.0f, 0.5f, 1 - i / 255.0f, i * 0.06f / 255.0f));
        context = ULMContext::Create(table);
        table->Release();
        context->SetSamplingLimits(1, 3, 1, 1);
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-30, 30, -30, 30, -100, 100));
        camera.SetModelMatrix(View(1, -40));
        camera.SetViewport(0, 0, kSide, kSide);
        volume = ULMVolume::Create(1u, voxels.data(), kWidth, kHeight, kDepth, ULMVolume::kSliced);
        wide = ULMVolume::Create(8, ULMVolumeRange(32800, 2, 2, -16400, 0, 0), 0, nullptr, nullptr);
        light = ULMLight::Create(ULMVector3D(0, 0, 1));  // its map's first build pauses the board
    }
    void TearDown() override {
        light->Release();
        wide->Release();
        volume->Release();
        context->Release();
        ContextTest::TearDown();
    }

    // The view rendered straight into a side x side image on the volume's board.
    std::vector<uint32_t> RenderDirect(int side) {
        ULMFieldDescriptor rgba8[4];
        ULMGetPixelFormatInfo(kULMPixelFormatRGBA8, rgba8);
        context->GetCamera().SetViewport(0, 0, side, side);
        ULMImageBuffer* image = ULMImageBuffer::Create(volume->GetBufferLocation(), side, side, 32, 4, rgba8);
        const ULMImageRange whole(side, side, 0, 0);
        std::vector<uint32_t> pixels(side * side);
        EXPECT_EQ(image->Clear(whole, 0), kULMOK);
        EXPECT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
        EXPECT_EQ(image->Unload(pixels.data(), whole, 0), kULMOK);
        image->Release();
        return pixels;
    }

    ULMStatus Perform(Op op, int slot) {
        ULMBasePlaneInfo info;
        if (op == Op::kFetch) return context->FetchBasePlane(slot, info, -1);
        if (op == Op::kRelease) return context->ReleaseBasePlane(slot);
        if (op == Op::kDrawFailing) return context->RenderToGraphicsContext(volume, &failing, slot);
        if (op == Op::kWide) return context->RenderBasePlane(wide, slot);
        if (op == Op::kPeek) {
            const ULMStatus status = context->FetchBasePlane(slot, info, 0);
            tulx7sim::ResumeBoard(0);
            return status;
        }
        if (op == Op::kQueueFull) {  // no room for its transfer event: the plane is rendered all the same
            EXPECT_EQ(context->SetNotifyCallback(kULMEventTransferDone, ULMQueueEventCallback, nullptr), kULMOK);
            for (int i = 0; i < ULMContextInternal::kEventQueueSize - 1; ++i)
                static_cast<ULMContextInternal*>(context)->GenerateEventTransferDone(i);
        }
        if (op == Op::kNoImage)
            tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 2, TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
        if (op == Op::kRefused) tulx7sim::InjectSubmitFailure(TULX7_DR_RENDER, 1, TULX7_DR_STATUS_OUT_OF_HW_MEMORY);
        if (op == Op::kPaused) {
            EXPECT_EQ(context->AddLight(light), kULMOK);
            EXPECT_EQ(context->SetNotifyCallback(kULMEventLightMap, PauseOnLightMap, nullptr), kULMOK);
        }
        if (op == Op::kTaken) {
            EXPECT_EQ(context->SetNotifyCallback(kULMEventRenderDone, TakeBasePlane, context), kULMOK);
            EXPECT_EQ(context->SetNotifyCallback(kULMEventTransferDone, TakeBasePlane, context), kULMOK);
        }
        return context->RenderBasePlane(volume, slot);
    }

    std::vector<uint8_t> voxels;
    ULMContext* context = nullptr;
    ULMVolume* volume = nullptr;
    ULMVolume* wide = nullptr;  // wider than the board's coordinates
    ULMLight* light = nullptr;
    WarpingGraphics failing{kULMErrTransform};
};

// Zoom, turn and the voxels a window pixel: the direct render is that much finer and keeps every step-th pixel.
using WarpView = std::tuple<double, double, int>;

class BasePlaneWarpTest : public BasePlaneTest, public ::testing::WithParamInterface<WarpView> {};
INSTANTIATE_TEST_SUITE_P(ZoomedInOutAndTurned, BasePlaneWarpTest,
                         ::testing::Values(WarpView(0.5, -40, 1), WarpView(3, 70, 3), WarpView(1.3, 155, 1)));

TEST_P(BasePlaneWarpTest, WarpedBasePlaneMatchesADirectRender) {
    const auto [zoom, turn, step] = GetParam();
    context->GetCamera().SetModelMatrix(View(zoom, turn));
    WarpingGraphics graphics;
    const ULMCamera before = context->GetCamera();
    ASSERT_EQ(context->RenderToGraphicsContext(volume, &graphics, 2), kULMOK);
    EXPECT_EQ(context->GetCamera(), before);
    EXPECT_NE(volume->GetBufferLocation(), kULMNoBufferAttached);  // locked by the base plane, and left so

    const int side = step * (kSide - 1) + 1;
    const std::vector<uint32_t> direct = RenderDirect(side);
    EXPECT_NE(graphics.window, std::vector<uint32_t>(kSide * kSide));
    for (int i = 0; i < kSide * kSide; ++i) {
        const uint32_t expected = direct[(i / kSide * side + i % kSide) * step];
        for (int shift = 0; shift < 32; shift += 8) {
            const int difference = int(expected >> shift & 255) - int(graphics.window[i] >> shift & 255);
            EXPECT_LE(std::abs(difference), 1) << "pixel " << i % kSide << ", " << i / kSide;
        }
    }
}

struct Step {
    const char* name;
    Op op;
    int slot;
    ULMStatus expected;
    bool locked;  // the volume, after the step
};

TEST_F(BasePlaneTest, SlotStatesAndRefusals) {
    const ULMCamera asked = context->GetCamera();
    const Step steps[] = {
        {"fetch free", Op::kFetch, 3, kULMErrArgument, false},
        {"release free", Op::kRelease, 3, kULMErrArgument, false},
        {"render 16", Op::kRender, 16, kULMErrArgument, false},
        {"render -1", Op::kRender, -1, kULMErrArgument, false},
        {"too large", Op::kWide, 0, kULMErrBasePlaneTooLarge, false},
        {"no image", Op::kNoImage, 3, kULMErrBasePlaneAllocation, false},
        {"render", Op::kRender, 3, kULMOK, true},
        {"render again", Op::kRender, 3, kULMOK, true},
        {"fetch", Op::kFetch, 3, kULMOK, true},
        {"render fetched", Op::kRender, 3, kULMErrArgument, true},
        {"fetch fetched", Op::kFetch, 3, kULMErrArgument, true},
        {"release", Op::kRelease, 3, kULMOK, true},
        {"release again", Op::kRelease, 3, kULMErrArgument, true},
        {"failing graphics", Op::kDrawFailing, 15, kULMErrTransform, true},
        {"released after it", Op::kRelease, 15, kULMErrArgument, true},
        {"render refused", Op::kRefused, 4, kULMErrAlloc, true},
        {"render paused", Op::kPaused, 4, kULMOK, true},
        {"time-out", Op::kPeek, 4, kULMTimeout, true},
        {"kept", Op::kFetch, 4, kULMOK, true},
        {"queue full", Op::kQueueFull, 8, kULMOK, true},
        {"taken by its callbacks", Op::kTaken, 7, kULMOK, true},
        {"released by them", Op::kRelease, 7, kULMErrArgument, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_EQ(Perform(step.op, step.slot), step.expected);  // a wrong state would hang a later step
        EXPECT_EQ(context->GetCamera(), asked);
        EXPECT_EQ(volume->GetBufferLocation() != kULMNoBufferAttached, step.locked);
    }
}

}  // namespace
}  // namespace ulm3::testing
