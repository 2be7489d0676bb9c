// Perspective frames of an asymmetric volume against the reference model's
// perspective rays, from eyes that see one, two or three faces of it and
// from inside its box, into square and oblong images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <thread>

#include "foundation/control.h"
#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "support/render_reference.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "compositing/software_blend_volume.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"
#include "perspective/persp_interf.h"
#include "render/volume_render_state.h"
#include "volume/volume_internal.h"

// Arrays of at least this many bytes that this thread asks for without
// exceptions are refused, as a machine out of memory would refuse them.
namespace {
thread_local size_t tRefuseArraysFrom = SIZE_MAX;
}  // namespace

void* operator new[](std::size_t inBytes, const std::nothrow_t&) noexcept {
    if (inBytes >= tRefuseArraysFrom) return nullptr;
    try {
        return ::operator new[](inBytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace ulm3 {
namespace {

using RGBA = std::array<double, 4>;
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

struct Eye {
    const char* what;
    double turnX, turnY;  // degrees, about the volume's centre
    ULMVector3D shift;    // of the volume, in eye coordinates, after the turn
    int width, height;
    int blendMode;
    bool depth;  // samples behind a plane through the volume's centre on the left half are hidden; depth 0 written
    int cut = -1;  // a plane of kCuts
};
// Over world points, where the volume's centre lies at the eye's shift.
const test_support::ReferenceScene::Cut kCuts[] = {{ULMVector4D(1, 1, 0, 0), -4, 1e6, true},
                                                   {ULMVector4D(0.2, -1, 0.6, 24), -3, 3, false}};
void PrintTo(const Eye& e, std::ostream* out) { *out << e.what << " mode " << e.blendMode << " depth " << e.depth; }

constexpr double kNear = 0.5, kFar = 200, kMaxDepth = 16777215;
// Window depth (depth range 0..1) of a point inDistance in front of the eye, and back.
double WindowDepth(double inDistance) {
    return ((kFar + kNear) / (kFar - kNear) - 2 * kFar * kNear / ((kFar - kNear) * inDistance) + 1) / 2 * kMaxDepth;
}
double Distance(double inDepth) {
    return 2 * kFar * kNear / ((kFar + kNear) - (2 * inDepth / kMaxDepth - 1) * (kFar - kNear));
}

class PerspectiveTest : public testing::ContextTest {
protected:
    explicit PerspectiveTest(int inBoards = 1) : ContextTest(test_support::SimBoards(inBoards)) {}
    void SetUp() override {
        ContextTest::SetUp();
        // A box of value 200 with a block of 100 in one corner, off-centre in a 32 x 24 x 20 volume.
        const int n[3] = {32, 24, 20};
        std::copy(n, n + 3, s.size);
        s.voxels.resize(size_t(n[0]) * n[1] * n[2]);
        for (size_t i = 0; i < s.voxels.size(); ++i) {
            const int x = int(i % n[0]), y = int(i / n[0] % n[1]), z = int(i / n[0] / n[1]);
            const bool box = x >= 6 && x <= 25 && y >= 5 && y <= 18 && z >= 4 && z <= 15;
            const bool block = x >= 18 && y >= 12 && z >= 10;
            s.voxels[i] = box ? (block ? 100 : 200) : 0;
        }
        table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float a = i < 50 ? 0.0f : 0.6f;
            ULMRGBAFloat e(a * i / 255.0f, a * (1 - i / 255.0f), a * 0.5f, a);
            table->SetEntry(i, e);
            table->GetEntry(i, e);
            s.table[i] = {e.m_red, e.m_green, e.m_blue, e.m_alpha};
        }
        context.Assign(ULMContext::Create(table));
        s.k = 2;
        ASSERT_EQ(context->SetSamplingLimits(1, 3, s.k, s.k), kULMOK);
        ASSERT_EQ(context->SetMinViewingDistance(1.0), kULMOK);
    }
    void TearDown() override {
        context.Assign(nullptr);
        table.Assign(nullptr);
        gULMControl.m_perspectiveDoubleBuffer = true;
        gULMControl.m_perspectiveSynchronousBlend = false;
        gULMControl.m_ReleaseTemporaryImageBuffers = false;
        ContextTest::TearDown();
    }
    // A volume of the scene's size over inVoxels (the scene's own when null), locked on board 0.
    ULMVolume* LockedVolume(std::vector<uint8_t>* inVoxels = nullptr) {
        ULMVolume* v = ULMVolume::Create(1u, (inVoxels != nullptr ? *inVoxels : s.voxels).data(), s.size[0],
                                         s.size[1], s.size[2], ULMVolume::kSliced);
        EXPECT_EQ(v->LockVolume(kULMBoard0), kULMOK);
        return v;
    }
    // The camera 50 degrees wide at inModel, onto a square viewport at the image's corner (0: the image).
    void Aim(const ULMMatrix& inModel, int inSide = 48) {
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Perspective(50, 1, kNear, kFar));
        camera.SetModelMatrix(inModel);
        camera.SetViewport(0, 0, inSide, inSide);
    }
    // The frame's RGBA in 0..1, rows from y = 0; with the scene's depth 0 in and out when it has one.
    std::vector<RGBA> Render(ULMVolume* v, int w, int h, std::vector<uint32_t>* outDepth = nullptr) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, w, h, 32, 4, kRGBA8));
        const ULMImageRange whole(w, h, 0, 0);
        std::vector<uint32_t> pixels(size_t(w) * h, 0);
        ReleasablePointer<ULMDepthBuffer> depth;
        if (!s.depthIn[0].empty()) {
            depth.Assign(ULMDepthBuffer::Create(kULMBoard0, w, h));
            EXPECT_EQ(depth->Update(s.depthIn[0].data(), whole, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
        }
        EXPECT_EQ(image->Clear(whole, 0xFFFFFFFF), kULMOK);
        EXPECT_EQ(v->StartRender(context, image, depth, nullptr, nullptr).Wait(-1), kULMOK);
        if (outDepth != nullptr && depth != nullptr) {
            outDepth->assign(pixels.size(), 0);
            EXPECT_EQ(depth->Unload(outDepth->data(), whole, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
        }
        EXPECT_EQ(image->GetOutputLimits(), whole);
        EXPECT_EQ(image->Unload(pixels.data(), whole, 0), kULMOK);
        std::vector<RGBA> out(pixels.size());
        for (size_t i = 0; i < pixels.size(); ++i)
            for (int c = 0; c < 4; ++c) out[i][c] = (pixels[i] >> (8 * c) & 255) / 255.0;
        return out;
    }
    test_support::ReferenceScene s;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
};
class PerspectiveRenderTest : public PerspectiveTest, public ::testing::WithParamInterface<Eye> {};

TEST_P(PerspectiveRenderTest, MatchesTheReferenceRaysInSilhouetteAndColourWhateverThePipeline) {
    const Eye& e = GetParam();
    const int w = e.width, h = e.height;
    s.blendMode = e.blendMode;
    s.projection = ULMMatrix::Perspective(50, double(w) / h, kNear, kFar);
    s.model = ULMMatrix::Translate(e.shift[0], e.shift[1], e.shift[2]) *
              ULMMatrix::Rotate(e.turnX, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(e.turnY, ULMVector3D(0, 1, 0)) *
              ULMMatrix::Translate(-15.5, -11.5, -9.5);
    s.viewport[2] = w, s.viewport[3] = h;
    ULMCamera& camera = context->GetCamera();
    camera.SetProjectionMatrix(s.projection);
    camera.SetModelMatrix(s.model);
    camera.SetViewport(0, 0, w, h);
    ASSERT_EQ(context->SetBlendMode(ULMBlendMode(s.blendMode)), kULMOK);
    if (e.depth) {
        using X = ULMContext;
        s.depthIn[0].assign(size_t(w) * h, uint32_t(kMaxDepth));
        for (int i = 0; i < w * h; ++i)
            if (i % w < w / 2) s.depthIn[0][i] = uint32_t(WindowDepth(-e.shift[2]));
        s.depthTest[0] = X::kDepthTestLess, s.combine = X::kDepthCombineAnd, s.filter[0] = X::kFilterNone;
        ASSERT_EQ(context->SetDepthTest(X::kDepthBuffer0, X::kDepthTestLess), kULMOK);
        ASSERT_EQ(context->SetDepthCombineFunction(X::kDepthCombineAnd), kULMOK);
        ASSERT_EQ(context->SetDepthUpdateFilter(X::kDepthBuffer0, X::kFilterNone), kULMOK);
    }
    ReleasablePointer<ULMCutPlane> cut;
    if (e.cut >= 0) {
        const test_support::ReferenceScene::Cut& c = kCuts[e.cut];
        s.cuts.push_back(c);
        cut.Assign(ULMCutPlane::Create(c.plane, c.min, c.max));
        ASSERT_EQ(cut->SetVisibility(c.keepInside), kULMOK);
        ASSERT_EQ(context->AddCutPlane(cut), kULMOK);
    }
    ReleasablePointer<ULMVolume> v(LockedVolume());

    std::vector<uint32_t> depth;
    const std::vector<RGBA> got = Render(v, w, h, &depth);
    const std::vector<RGBA> expected = test_support::ReferenceRender(s, w, h);
    // Silhouettes agree but for pixels on the reference's rim; inside, colours stay close.
    const auto inside = [&](int x, int y) {
        return expected[size_t(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)][3] > 0.3;
    };
    int interior = 0;
    double worst = 0, mean = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Depth away from the edges of the reference's: within 1.5 voxels of it, and where nothing updated it,
            // back from the round trip within two units. The warp blends mini pixels either side of a frame pixel,
            // so depth is compared two pixels from an edge.
            const size_t i = size_t(y) * w + x;
            int around = 0;
            bool smooth = e.depth, untouched = e.depth;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const bool near = std::abs(dx) <= 1 && std::abs(dy) <= 1;
                    around += near && inside(x + dx, y + dy);
                    const size_t n = size_t(std::clamp(y + dy, 0, h - 1)) * w + std::clamp(x + dx, 0, w - 1);
                    smooth = smooth && std::fabs(Distance(s.depthOut[n][0]) - Distance(s.depthOut[i][0])) < 2;
                    untouched = untouched && (!near || s.depthOut[n][0] == s.depthIn[0][n]);
                }
            EXPECT_LE(smooth ? std::fabs(Distance(depth[i]) - Distance(s.depthOut[i][0])) : 0, 1.5) << x << "," << y;
            EXPECT_LE(untouched ? std::fabs(double(depth[i]) - s.depthIn[0][i]) : 0, 2.0) << x << "," << y;
            if (around != 0 && around != 9) continue;
            EXPECT_EQ(got[i][3] > 0.3, around == 9) << x << "," << y;
            for (int c = 0; c < 4 && around == 9; ++c) {
                worst = std::max(worst, std::fabs(got[i][c] - expected[i][c]));
                mean += std::fabs(got[i][c] - expected[i][c]);
            }
            interior += around == 9;
        }
    ASSERT_GT(interior, w * h / 20) << "the volume fills too little of the frame to compare";
    mean /= 4.0 * interior;
    EXPECT_LT(mean, 0.02) << "worst " << worst;
    EXPECT_LT(worst, 0.2) << "mean " << mean;

    // Without depth input, the pipeline's depth and when the frame is waited for change no byte.
    if (e.depth) {
        v->UnlockVolume(0);
        return;
    }
    const struct {
        bool doubleBuffer, synchronous;
    } pipelines[] = {{false, false}, {true, true}};
    for (const auto& p : pipelines) {
        gULMControl.m_perspectiveDoubleBuffer = p.doubleBuffer;
        gULMControl.m_perspectiveSynchronousBlend = p.synchronous;
        EXPECT_EQ(Render(v, w, h), got) << p.doubleBuffer << p.synchronous;
    }
    v->UnlockVolume(0);
}

// Frames of a uniform box from an eye far enough for perspective to add less than a pixel: whatever the distance, the
// viewport or the box's thickness, the frame draws the parallel render's footprint of the same window, or refuses as
// it does. Pixels on the footprint's rim may go either way.
TEST_F(PerspectiveTest, FramesDrawTheParallelFootprintAtAnyDistanceViewportAndThickness) {
    const struct {
        const char* what;
        int size[3];
        double distance, window;  // the window's height in voxels at the box's centre
        int width, height;
        int slices = 2;  // per voxel along the principal axis
    } cases[] = {{"near", {32, 24, 20}, 2000, 40, 48, 40},
                 {"far", {32, 24, 20}, 85000, 40, 48, 40},
                 {"very far", {32, 24, 20}, 500000, 40, 48, 40},
                 {"one slice", {64, 64, 1}, 2000, 56, 48, 48, 1},
                 {"one slice, two samples", {64, 64, 1}, 2000, 56, 48, 48},
                 {"two slices", {64, 64, 2}, 2000, 56, 48, 48, 1},
                 {"one column thick", {1, 40, 30}, 2000, 50, 40, 40, 1},
                 {"inside one voxel", {1, 1, 1}, 2000, 0.4, 24, 24},
                 {"inside one voxel, closer", {1, 1, 1}, 2000, 0.15, 24, 24},
                 {"a window inside the box", {32, 24, 20}, 2000, 8, 33, 31},
                 {"a window inside the box, near", {48, 40, 32}, 150, 14.4, 64, 64},
                 {"one pixel", {32, 24, 20}, 2000, 40, 1, 1},
                 {"one column", {32, 24, 20}, 2000, 40, 1, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> voxels(size_t(c.size[0]) * c.size[1] * c.size[2], 200);
        ReleasablePointer<ULMVolume> v(
            ULMVolume::Create(1u, voxels.data(), c.size[0], c.size[1], c.size[2], ULMVolume::kSliced));
        ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(context->SetSamplingLimits(1, 3, c.slices, c.slices), kULMOK);
        ULMCamera& camera = context->GetCamera();
        camera.SetModelMatrix(ULMMatrix::Translate(0, 0, -c.distance) * ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(-35, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate(-(c.size[0] - 1) / 2.0, -(c.size[1] - 1) / 2.0,
                                                   -(c.size[2] - 1) / 2.0));
        camera.SetViewport(0, 0, c.width, c.height);
        const double aspect = double(c.width) / c.height, half = c.window / 2;
        const double degrees = 2 * std::atan(half / c.distance) * 180 / M_PI;
        const ULMMatrix projections[2] = {
            ULMMatrix::Ortho(-half * aspect, half * aspect, -half, half, c.distance / 2, c.distance * 2),
            ULMMatrix::Perspective(degrees, aspect, c.distance / 2, c.distance * 2)};
        ULMStatus status[2];
        std::vector<RGBA> frame[2];
        for (int road = 0; road < 2; ++road) {
            camera.SetProjectionMatrix(projections[road]);
            const int w = std::max(c.width, 2), h = std::max(c.height, 2);
            ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, w, h, 32, 4, kRGBA8));
            ASSERT_EQ(image->Clear(ULMImageRange(w, h, 0, 0), 0), kULMOK);
            status[road] = v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1);
            std::vector<uint32_t> pixels(size_t(w) * h);
            ASSERT_EQ(image->Unload(pixels.data(), ULMImageRange(w, h, 0, 0), 0), kULMOK);
            for (const uint32_t p : pixels) frame[road].push_back(RGBA{0, 0, 0, (p >> 24) / 255.0});
        }
        EXPECT_EQ(status[1], status[0]);
        if (status[0] != kULMOK) continue;
        const int w = c.width, h = c.height;
        const auto drawn = [&](int road, int x, int y) {
            return frame[road][size_t(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)][3] > 0;
        };
        int inside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int around = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) around += drawn(0, x + dx, y + dy);
                if (around == 0 || around == 9) {
                    EXPECT_EQ(drawn(1, x, y), around == 9) << x << "," << y;
                }
                inside += around == 9;
            }
        EXPECT_GT(inside, w * h / 10) << "the footprint is too small to compare";
        v->UnlockVolume(0);
    }
}

// An eye close above a wide volume one or two slices thick, inside the viewing distance the frame keeps clear of the
// eye: the whole view lies on the volume, and every pixel is drawn.
TEST_F(PerspectiveTest, FramesFromCloseAboveAThinVolumeDrawEveryPixel) {
    ASSERT_EQ(context->SetMinViewingDistance(1.0), kULMOK);
    for (const int slices : {1, 2})
        for (const double above : {0.2, 0.5, 0.7, 0.95, 3.0}) {
            SCOPED_TRACE(::testing::Message() << slices << " slices, the eye " << above << " above");
            std::vector<uint8_t> voxels(size_t(32) * 32 * slices, 200);
            ReleasablePointer<ULMVolume> v(ULMVolume::Create(1u, voxels.data(), 32, 32, slices, ULMVolume::kSliced));
            ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
            ULMCamera& camera = context->GetCamera();
            camera.SetProjectionMatrix(ULMMatrix::Perspective(90, 1, 0.1, 100));
            camera.SetModelMatrix(ULMMatrix::Translate(-15.5, -15.5, -(slices - 0.5 + above)));
            camera.SetViewport(0, 0, 32, 32);
            const std::vector<RGBA> frame = Render(v, 32, 32);
            EXPECT_EQ(std::count_if(frame.begin(), frame.end(), [](const RGBA& p) { return p[3] > 0; }), 32 * 32);
            v->UnlockVolume(0);
        }
}

TEST_F(PerspectiveTest, RefusedFramesFinishAndLeaveNothingBehind) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    using X = ULMContext;
    const struct {
        const char* what;
        ULMStatus expected;
        X::ImageBufferNumber output = X::kImageBuffer0;
        X::FilterTest filter = X::kAlwaysFail;
        int viewportX = 0;
    } cases[] = {{.what = "no output image", .expected = kULMErrBuffer, .output = X::kImageBufferNone},
                 {.what = "depth written, no buffer", .expected = kULMErrBuffer, .filter = X::kFilterNone},
                 {.what = "viewport beside the image", .expected = kULMErrArgument, .viewportX = 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Perspective(50, 1, kNear, kFar));
        camera.SetModelMatrix(ULMMatrix::Translate(-15.5, -11.5, -55.5));
        camera.SetViewport(c.viewportX, 0, 32, 32);
        ASSERT_EQ(context->SetImageOutputBuffer(c.output), kULMOK);
        ASSERT_EQ(context->SetDepthUpdateFilter(X::kDepthBuffer0, c.filter), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 32, 32, 32, 4, kRGBA8));
        const int buffers = tulx7sim::GetStats().liveBuffers;
        EXPECT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(0), c.expected);
        EXPECT_EQ(v->GetAccessControl(), kULMAccessNoControl);
        // What a refused frame made goes with the volume, not with the frame; the first case made none yet.
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
    }
    v->UnlockVolume(0);
}

// A mini-frustum whose render is refused at submission, or fails on the board: the frame still completes and reports
// it, writes nothing into its image, and the next frame, from the same slots, is whole again.
TEST_F(PerspectiveTest, AFailedMiniFrustumIsReportedAfterTheFrameCompletes) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    Aim(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Translate(-15.5, -11.5, -9.5));
    const std::vector<RGBA> whole = Render(v, 48, 48);
    for (const bool onBoard : {false, true}) {
        if (onBoard)
            tulx7sim::InjectCompletionFailure(TULX7_DR_RENDER, 2);
        else
            tulx7sim::InjectSubmitFailure(TULX7_DR_RENDER, 2, TULX7_DR_STATUS_HW_ERROR);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 48, 48, 32, 4, kRGBA8));
        const ULMImageRange all(48, 48, 0, 0);
        ASSERT_EQ(image->Clear(all, 0x5A5A5A5A), kULMOK);
        const ULMImageRange limits = image->GetOutputLimits();
        const ULMSyncEvent frame = v->StartRender(context, image, nullptr, nullptr, nullptr);
        EXPECT_NE(frame.Status(), kULMInProgress) << onBoard;  // finished, with the failure
        EXPECT_TRUE(ULMFailed(frame.Wait(0))) << onBoard;
        // A refused frame writes nothing: the image keeps its pixels and its limits.
        std::vector<uint32_t> pixels(48 * 48);
        ASSERT_EQ(image->Unload(pixels.data(), all, 0), kULMOK);
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x5A5A5A5Au), 48 * 48) << onBoard;
        EXPECT_EQ(image->GetOutputLimits(), limits) << onBoard;
        EXPECT_EQ(Render(v, 48, 48), whole) << onBoard;
    }
    // The mini buffers go at the frame's end when asked, else with the volume.
    gULMControl.m_ReleaseTemporaryImageBuffers = true;
    EXPECT_EQ(Render(v, 48, 48), whole);
    const int withoutMinis = tulx7sim::GetStats().liveBuffers;
    gULMControl.m_ReleaseTemporaryImageBuffers = false;
    EXPECT_EQ(Render(v, 48, 48), whole);
    EXPECT_GT(tulx7sim::GetStats().liveBuffers, withoutMinis);
    v->UnlockVolume(0);
    v.Assign(nullptr);
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, withoutMinis - 1);  // the volume's own went too
}

// Frames of 1, 2, 3 and 5 mini-frustums, with and without double buffering:
// each mini-frustum is rendered once and warped once, the drain included;
// the slots it went through hold its map from frame pixels to its mini
// image, which takes the corners of its tile onto the mini image's corners
// (a transposed, mirrored or translated-only map does not); and the pipeline
// changes no byte of the frame.
TEST_F(PerspectiveTest, EveryMiniFrustumIsWarpedOnceThroughItsSlotWhateverThePipeline) {
    const struct {
        double turnX, turnY;
        ULMVector3D shift;
        int frustums;
    } eyes[] = {{0, 0, {20, 15, -45}, 1}, {0, 0, {16, 0, -45}, 2}, {30, -35, {0, 0, -40}, 3}, {30, 30, {0, 0, -25}, 5}};
    for (const auto& e : eyes) {
        Aim(ULMMatrix::Translate(e.shift[0], e.shift[1], e.shift[2]) * ULMMatrix::Rotate(e.turnX, ULMVector3D(1, 0, 0)) *
            ULMMatrix::Rotate(e.turnY, ULMVector3D(0, 1, 0)) * ULMMatrix::Translate(-15.5, -11.5, -9.5));
        std::vector<RGBA> frames[2];
        for (const bool doubleBuffer : {true, false}) {
            SCOPED_TRACE(::testing::Message() << e.frustums << " mini-frustums, double buffer " << doubleBuffer);
            gULMControl.m_perspectiveDoubleBuffer = doubleBuffer;
            ReleasablePointer<ULMVolume> v(LockedVolume());
            tulx7sim::ClearRequestLog();
            frames[doubleBuffer] = Render(v, 48, 48);
            int renders = 0;
            for (const auto& entry : tulx7sim::RequestLog()) renders += entry.code == TULX7_DR_RENDER;
            EXPECT_EQ(renders, e.frustums);
            const PerspInterf* driver =
                ULMRenderStateOf(*static_cast<ULMVolumeInternal*>(v.GetPointer())).m_perspective.Made();
            ASSERT_NE(driver, nullptr);
            EXPECT_EQ(driver->MiniFrustumsWarped(), e.frustums);
            // The last mini-frustums' slots; the others were never used.
            bool used[3] = {};
            for (int k = std::max(0, e.frustums - 3); k < e.frustums; ++k) used[PerspInterf::SlotOf(k, doubleBuffer)] = true;
            for (int k = 0; k < 3; ++k) {
                const PerspInterf::MultiBuf& slot = driver->GetSlot(k);
                if (!used[k]) {
                    EXPECT_EQ(slot.mNumPoints, 0) << "slot " << k;
                    continue;
                }
                // The tile's outline: its corners, or where the frame's edges cut it.
                const double w = slot.mMiniWidth, h = slot.mMiniHeight, tolerance = 0.01;
                double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
                bool cut = false;
                ASSERT_GE(slot.mNumPoints, 3) << "slot " << k;
                for (int i = 0; i < slot.mNumPoints; ++i) {
                    const double x = slot.mGeomOut[i][0], y = slot.mGeomOut[i][1];
                    const bool onFrameEdge = std::min({x, y, 48 - x, 48 - y}) < tolerance;
                    cut = cut || onFrameEdge;
                    const ULMVector4D p = slot.mMatrixOut * ULMVector4D(x, y, 0, 1);
                    const double mini[2] = {p[0] / p[3], p[1] / p[3]};
                    for (int a = 0; a < 2; ++a) lo[a] = std::min(lo[a], mini[a]), hi[a] = std::max(hi[a], mini[a]);
                    const double edge = std::min({std::fabs(mini[0]), std::fabs(mini[0] - w), std::fabs(mini[1]),
                                                  std::fabs(mini[1] - h)});
                    EXPECT_LT(onFrameEdge ? 0 : edge, tolerance) << "slot " << k << " point " << i << " at " << mini[0]
                                                                 << "," << mini[1];
                }
                EXPECT_TRUE(lo[0] > -tolerance && hi[0] < w + tolerance && lo[1] > -tolerance && hi[1] < h + tolerance)
                    << "slot " << k << ": " << lo[0] << ".." << hi[0] << " x " << lo[1] << ".." << hi[1];
                // A whole tile spans its mini image.
                EXPECT_TRUE(cut || (std::fabs(lo[0]) < tolerance && std::fabs(hi[0] - w) < tolerance &&
                                    std::fabs(lo[1]) < tolerance && std::fabs(hi[1] - h) < tolerance))
                    << "slot " << k << ": " << lo[0] << ".." << hi[0] << " x " << lo[1] << ".." << hi[1];
            }
            v->UnlockVolume(0);
        }
        EXPECT_EQ(frames[0], frames[1]) << e.frustums << " mini-frustums";
    }
}

// Frame arrays, or a mini image's array, that cannot be made: the frame
// fails with kULMErrAlloc, takes no board memory with it, and the next frame
// of the same view is whole.
TEST_F(PerspectiveTest, AFrameWhoseArraysCannotBeMadeFailsAndTheNextIsWhole) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    Aim(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Translate(-15.5, -11.5, -9.5), 0);
    const std::vector<RGBA> whole = Render(v, 64, 64);
    // After a frame of the same view, the frame's own arrays for more pixels;
    // then, after a frame of wider pixels, every mini image's.
    for (const int side : {80, 48}) {
        SCOPED_TRACE(side);
        ReleasablePointer<ULMVolume> fresh(LockedVolume());
        ReleasablePointer<ULMImageBuffer> wide(ULMImageBuffer::Create(kULMBoard0, 64, 64, 64, 4,
                                                                      ULMSoftwareBlendVolume::kTransferFields12));
        ASSERT_EQ(side < 64 ? fresh->StartRender(context, wide, nullptr, nullptr, nullptr).Wait(-1) : kULMOK, kULMOK);
        EXPECT_TRUE(side < 64 || Render(fresh, 64, 64) == whole);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, side, side, 32, 4, kRGBA8));
        const int buffers = tulx7sim::GetStats().liveBuffers;
        tRefuseArraysFrom = side < 64 ? 512 : size_t(65 * 65 * 4);
        const ULMSyncEvent frame = fresh->StartRender(context, image, nullptr, nullptr, nullptr);
        tRefuseArraysFrom = SIZE_MAX;
        EXPECT_EQ(frame.Wait(-1), kULMErrAlloc);
        EXPECT_LE(tulx7sim::GetStats().liveBuffers, buffers + 3) << "more than the slots' mini images";
        EXPECT_EQ(fresh->GetAccessControl(), kULMAccessNoControl);
        const std::vector<RGBA> again = Render(fresh, 64, 64);
        EXPECT_TRUE(again == whole);
        fresh->UnlockVolume(0);
    }
    v->UnlockVolume(0);
}

// The same frame, as packed pixels, whether its write port is the whole
// viewport or narrowed to the volume, whether the viewport lies at the
// image's corner or at odd X and Y, and whether it goes through the
// post-blend over image 0's content or is uploaded as it is: only the port
// is written, and inside it every pixel is the corner frame's.
TEST_F(PerspectiveTest, TheFrameIsTheSameWhereverItsViewportAndPortLie) {
    // Every voxel shows, so that the volume's box is its silhouette.
    std::vector<uint8_t> voxels = s.voxels;
    for (uint8_t& voxel : voxels) voxel = std::max<uint8_t>(voxel, 60);
    ReleasablePointer<ULMVolume> v(LockedVolume(&voxels));
    ULMCamera& camera = context->GetCamera();
    camera.SetProjectionMatrix(ULMMatrix::Perspective(50, 48.0 / 40, kNear, kFar));
    camera.SetModelMatrix(ULMMatrix::Translate(2, -1, -50) * ULMMatrix::Rotate(30, ULMVector3D(1, 1, 0)) *
                          ULMMatrix::Translate(-15.5, -11.5, -9.5));
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    constexpr int kW = 48, kH = 40, kImage = 56;
    constexpr uint32_t kUntouched = 0xFFFFFFFF, kContent = 0x80201008;
    struct Frame {
        std::vector<uint32_t> pixels;
        ULMImageRange port;
    };
    const auto frame = [&](int x, int y, ULMContext::RenderArea area, bool blend) {
        Frame out;
        EXPECT_EQ(context->SetRenderArea(area), kULMOK);
        camera.SetViewport(x, y, kW, kH);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kImage, kImage, 32, 4, kRGBA8));
        const ULMImageRange whole(kImage, kImage, 0, 0);
        EXPECT_EQ(image->Clear(whole, blend ? kContent : kUntouched), kULMOK);
        EXPECT_EQ(image->SetInputLimits(blend ? whole : ULMImageRange()), kULMOK);
        EXPECT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        out.port = image->GetOutputLimits();
        out.pixels.resize(size_t(kImage) * kImage);
        EXPECT_EQ(image->Unload(out.pixels.data(), whole, 0), kULMOK);
        return out;
    };
    for (const bool blend : {false, true}) {
        const Frame corner = frame(0, 0, ULMContext::kViewport, blend);
        ASSERT_EQ(corner.port, ULMImageRange(kW, kH, 0, 0));
        for (const auto area : {ULMContext::kViewport, ULMContext::kVolume})
            for (const auto& [x, y] : {std::pair{0, 0}, std::pair{3, 5}, std::pair{7, 1}}) {
                SCOPED_TRACE(::testing::Message() << "blend " << blend << " area " << area << " at " << x << "," << y);
                const Frame got = frame(x, y, area, blend);
                ASSERT_TRUE(Contains(ULMImageRange(kW, kH, x, y), got.port));
                // Narrowed to the volume, the port leaves some of the viewport out.
                if (area == ULMContext::kVolume)
                    EXPECT_LT(int64_t{got.port.XSize()} * got.port.YSize(), int64_t{kW} * kH);
                else
                    EXPECT_EQ(got.port, ULMImageRange(kW, kH, x, y));
                int checked = 0;
                for (int py = 0; py < kImage; ++py)
                    for (int px = 0; px < kImage; ++px) {
                        const uint32_t pixel = got.pixels[size_t(py) * kImage + px];
                        const bool inPort = Contains(got.port, ULMImageRange(1, 1, px, py));
                        ASSERT_EQ(pixel, inPort ? corner.pixels[size_t(py - y) * kImage + (px - x)]
                                                : blend ? kContent : kUntouched)
                            << px << "," << py;
                        checked += inPort;
                    }
                EXPECT_GT(checked, kW * kH / 4);
                // The volume shows only inside the port: the corner frame has its background elsewhere.
                for (int py = 0; py < kH; ++py)
                    for (int px = 0; px < kW; ++px) {
                        const bool inPort = Contains(got.port, ULMImageRange(1, 1, px + x, py + y));
                        const uint32_t background = blend ? kContent : 0u;
                        ASSERT_TRUE(inPort || corner.pixels[size_t(py) * kImage + px] == background) << px << "," << py;
                    }
            }
    }
    v->UnlockVolume(0);
}

class PerspectiveTwoBoardsTest : public PerspectiveTest {
protected:
    PerspectiveTwoBoardsTest() : PerspectiveTest(2) {}
};

// A volume without a buffer is placed beside its frame's image, which cannot move: on one board for one frame, on
// the other for the next. The frame's own temporaries follow it there. Two threads render it, each into images on
// its own board, and every frame is the one a single frame gives.
TEST_F(PerspectiveTwoBoardsTest, AVolumeWithoutABufferRendersBesideEachFramesImage) {
    ReleasablePointer<ULMVolume> v(
        ULMVolume::Create(1u, s.voxels.data(), s.size[0], s.size[1], s.size[2], ULMVolume::kSliced));
    ULMCamera& camera = context->GetCamera();
    camera.SetProjectionMatrix(ULMMatrix::Perspective(50, 1, kNear, kFar));
    camera.SetModelMatrix(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Rotate(25, ULMVector3D(1, 1, 0)) *
                          ULMMatrix::Translate(-15.5, -11.5, -9.5));
    camera.SetViewport(0, 0, 40, 40);
    const ULMImageRange all(40, 40, 0, 0);
    const auto frame = [&](int inBoard, std::vector<uint32_t>& outPixels) {
        ReleasablePointer<ULMImageBuffer> image(
            ULMImageBuffer::Create(ULMLocation(kULMBoard0 + inBoard), 40, 40, 32, 4, kRGBA8));
        outPixels.assign(40 * 40, 0);
        ULMStatus status = image->Clear(all, 0x11223344);
        if (status == kULMOK) status = v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1);
        return status != kULMOK ? status : image->Unload(outPixels.data(), all, 0);
    };
    std::vector<uint32_t> single[2];
    for (int board : {0, 1, 0}) ASSERT_EQ(frame(board, single[board]), kULMOK) << board;
    EXPECT_EQ(single[0], single[1]);
    EXPECT_GT(std::count_if(single[0].begin(), single[0].end(), [](uint32_t p) { return p != 0x11223344u; }), 100);
    constexpr int kFrames = 12;
    int wrong[2] = {0, 0};
    const auto frames = [&](int inBoard) {
        std::vector<uint32_t> got;
        for (int i = 0; i < kFrames; ++i) wrong[inBoard] += frame(inBoard, got) != kULMOK || got != single[0];
    };
    std::thread other(frames, 1);
    frames(0);
    other.join();
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 0);
    EXPECT_EQ(v->GetBufferLocation(), kULMNoBufferAttached) << "each frame let the volume go again";
}

// A maximum-red frame over image 0's 16-bit content: the frame as a plain upload of 12-bit channels shows, and the
// composite keeps, per pixel, whichever of frame and content has more red.
TEST_F(PerspectiveTest, AMaximumOverWideContentIsTheHostCompositeOfTheFrame) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    Aim(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Rotate(30, ULMVector3D(1, 1, 0)) *
                          ULMMatrix::Translate(-15.5, -11.5, -9.5), 48);
    ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
    const ULMImageRange whole(48, 48, 0, 0);
    const ULMFieldDescriptor wide[4] = {{0, 16, kU}, {16, 16, kU}, {32, 16, kU}, {48, 16, kU}};
    std::vector<uint64_t> frame(48 * 48), content(48 * 48), got(48 * 48);
    for (size_t i = 0; i < content.size(); ++i) content[i] = (i * 2654435761u) & 0x7FFF7FFF7FFF3FFFull;
    ReleasablePointer<ULMImageBuffer> plain(ULMImageBuffer::Create(kULMBoard0, 48, 48, 64, 4,
                                                                   ULMSoftwareBlendVolume::kTransferFields12));
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 48, 48, 64, 4, wide));
    ASSERT_EQ(v->StartRender(context, plain, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ASSERT_EQ(plain->Unload(frame.data(), whole, 0), kULMOK);
    ASSERT_EQ(image->Update(content.data(), whole, 0), kULMOK);
    ASSERT_EQ(image->SetInputLimits(whole), kULMOK);
    ASSERT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ASSERT_EQ(image->Unload(got.data(), whole, 0), kULMOK);
    int fromFrame = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const bool front = (frame[i] & 0xFFF) / 4095.0 > (content[i] & 0xFFFF) / 65535.0;
        fromFrame += front;
        for (int c = 0; c < 4; ++c) {
            const double want =
                front ? (frame[i] >> (12 * c) & 0xFFF) / 4095.0 : (content[i] >> (16 * c) & 0xFFFF) / 65535.0;
            EXPECT_NEAR((got[i] >> (16 * c) & 0xFFFF) / 65535.0, want, 1.0 / 4095) << i << " " << c;
        }
    }
    EXPECT_GT(fromFrame, 48 * 48 / 20);
    EXPECT_LT(fromFrame, 48 * 48);
    v->UnlockVolume(0);
}

// The chip's blend of in into acc, as the host composites it.
RGBA Blend(ULMBlendMode inMode, RGBA acc, const RGBA& in) {
    const double a = acc[3], alpha = in[3];
    for (int c = 0; c < 3; ++c) {
        double& v = acc[c];
        switch (inMode) {
            case kULMBlendReplace: v = in[c]; break;
            case kULMBlendBTF: v = alpha * in[c] + (1 - alpha) * v; break;
            case kULMBlendBTFPreWeighted: v = in[c] + (1 - alpha) * v; break;
            case kULMBlendFTB: v += (1 - a) * in[c] * alpha; break;
            default: v += (1 - a) * in[c]; break;
        }
    }
    acc[3] = inMode == kULMBlendReplace ? alpha
             : inMode == kULMBlendBTF || inMode == kULMBlendBTFPreWeighted ? alpha + (1 - alpha) * a
                                                                            : a + (1 - a) * alpha;
    return acc;
}

// Where the volume shows nothing, inside a mini-frustum's tile or not, the
// frame shows image 0's border, borders with channels at 1.0 and at 0, as a
// parallel render does: image 1's border takes no part, whatever the last
// mode. Over image 0's content the content stays, in a minimum mode too. In
// every pixel of a row (two narrow pixels share a word of the frame), and
// whether the frame is uploaded or goes through the post-blend.
TEST_F(PerspectiveTest, TheBackgroundIsImage0sBorderOrContentWhateverTheLastMode) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    Aim(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Translate(-15.5, -11.5, -9.5));
    const ULMImageRange whole(48, 48, 0, 0);
    const ULMFieldDescriptor wide[4] = {{0, 16, kU}, {16, 16, kU}, {32, 16, kU}, {48, 16, kU}};
    const RGBA borders[] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}, {1, 1, 1, 1}};
    for (const int field : {8, 16})
        for (const ULMBlendMode mode : {kULMBlendFTB, kULMBlendMinRed}) {
            const int bits = field == 8 ? 32 : 64;
            const uint64_t top = (1ull << field) - 1;
            // Image 0's content: a quarter, a half, three quarters, opaque.
            uint64_t held = 0;
            for (int c = 0; c < 4; ++c) held |= (top * (c + 1) / 4) << (field * c);
            const std::vector<uint64_t> fill(48 * 48, bits == 32 ? held | held << 32 : held);
            ASSERT_EQ(context->SetBlendMode(mode), kULMOK);
            // The frame's pixels into image 0, with these borders and last mode.
            const auto frame = [&](const RGBA& b0, const RGBA& b1, ULMBlendMode last, bool content) {
                std::vector<uint64_t> pixels(48 * 48);
                EXPECT_EQ(context->SetLastBlendMode(last), kULMOK);
                ReleasablePointer<ULMImageBuffer> images[2];
                for (int n = 0; n < 2; ++n) {
                    images[n].Assign(ULMImageBuffer::Create(kULMBoard0, 48, 48, bits, 4, field == 8 ? kRGBA8 : wide));
                    const RGBA& b = n == 0 ? b0 : b1;
                    EXPECT_EQ(images[n]->SetBorderValue(b[0], b[1], b[2], b[3]), kULMOK);
                }
                if (content) {
                    EXPECT_EQ(images[0]->Update(fill.data(), whole, 0), kULMOK);
                    EXPECT_EQ(images[0]->SetInputLimits(whole), kULMOK);
                }
                EXPECT_EQ(v->StartRender(context, images[0], nullptr, images[1], nullptr).Wait(-1), kULMOK);
                std::vector<uint64_t> got(48 * 48);
                EXPECT_EQ(images[0]->Unload(got.data(), whole, 0), kULMOK);
                for (int i = 0; i < 48 * 48; ++i)
                    pixels[i] = bits == 32 ? got[i / 2] >> (32 * (i % 2)) & 0xFFFFFFFF : got[i];
                return pixels;
            };
            // Where the volume leaves the frame's start: the pixels that keep a border the mode cannot move from.
            const RGBA still = mode == kULMBlendMinRed ? RGBA{1, 1, 1, 1} : RGBA{0, 0, 0, 0};
            const uint64_t stillPixel = mode == kULMBlendMinRed ? (bits == 32 ? 0xFFFFFFFFull : ~0ull) : 0;
            const std::vector<uint64_t> detect = frame(still, still, kULMBlendNone, false);
            int empty = 0;
            for (const uint64_t px : detect) empty += px == stillPixel;
            ASSERT_GT(empty, 48 * 4);
            for (const ULMBlendMode last : {kULMBlendNone, kULMBlendReplace, kULMBlendBTF, kULMBlendFTBPreWeighted})
                for (const RGBA& b0 : borders)
                    for (const bool content : {false, true}) {
                        const RGBA b1 = {b0[1], 1 - b0[2], 1, b0[0]};
                        SCOPED_TRACE(::testing::Message() << field << "-bit, mode " << mode << ", last " << last
                                                          << ", border " << b0[0] << b0[1] << b0[2] << b0[3]
                                                          << ", content " << content);
                        const std::vector<uint64_t> got = frame(b0, b1, last, content);
                        for (int i = 0; i < 48 * 48; ++i) {
                            if (detect[i] != stillPixel) continue;
                            for (int c = 0; c < 4; ++c) {
                                const uint64_t want =
                                    content ? held >> (field * c) & top : uint64_t(std::llround(b0[c] * top));
                                ASSERT_EQ(got[i] >> (field * c) & top, want) << i << " " << c;
                            }
                        }
                    }
        }
    v->UnlockVolume(0);
}

// A front-to-back frame over image 0's content and image 1's behind it, each holding content or not, into either,
// in 8-, 12- and 16-bit fields, with image 1 taken by every last blend mode: the host composite around the frame as a
// plain upload of the warp's own pixels shows it; elsewhere the content stays.
TEST_F(PerspectiveTest, ABlendedFrameIsTheHostCompositeOfBothImagesAroundIt) {
    ReleasablePointer<ULMVolume> v(LockedVolume());
    Aim(ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Translate(-15.5, -11.5, -9.5));
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    const ULMImageRange whole(48, 48, 0, 0);
    const ULMFieldDescriptor wide[4] = {{0, 16, kU}, {16, 16, kU}, {32, 16, kU}, {48, 16, kU}};
    for (const int field : {8, 12, 16}) {
        const int bits = field == 8 ? 32 : 64;
        const uint64_t one = (1ull << field) - 1;
        const ULMFieldDescriptor* fields =
            field == 8 ? kRGBA8 : field == 12 ? ULMSoftwareBlendVolume::kTransferFields12 : wide;
        const auto make = [&](const ULMFieldDescriptor* f) {
            return ULMImageBuffer::Create(kULMBoard0, 48, 48, bits, 4, f);
        };
        // Pixels as the image stores them: two to a word when narrow.
        const auto word = [&](const std::vector<uint64_t>& px, int i) {
            return bits == 32 ? px[i / 2] >> (32 * (i % 2)) : px[i];
        };
        const auto rgba = [&](uint64_t px, int w) {
            const uint64_t top = (1ull << w) - 1;
            return RGBA{double(px & top) / top, double(px >> w & top) / top, double(px >> 2 * w & top) / top,
                        double(px >> 3 * w & top) / top};
        };
        // The frame alone, in the warp's own pixels of this width.
        ASSERT_EQ(context->SetImageOutputBuffer(ULMContext::kImageBuffer0), kULMOK);
        ASSERT_EQ(context->SetLastBlendMode(kULMBlendNone), kULMOK);
        ReleasablePointer<ULMImageBuffer> plain(make(field == 8 ? kRGBA8 : ULMSoftwareBlendVolume::kTransferFields12));
        std::vector<uint64_t> frame(48 * 48), content[2], got(48 * 48);
        ASSERT_EQ(v->StartRender(context, plain, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        ASSERT_EQ(plain->Unload(frame.data(), whole, 0), kULMOK);
        const ULMImageRange port = plain->GetOutputLimits();
        // Colours below a quarter over opacities from a half, so that no sum leaves the field.
        for (int n = 0; n < 2; ++n) {
            content[n].assign(frame.size(), 0);
            for (int i = 0; i < 48 * 48; ++i) {
                uint64_t px = 0;
                for (int c = 0; c < 4; ++c) {
                    const uint64_t h = (uint64_t(i) * 4 + c + 4096 * n) * 0x9E3779B97F4A7C15ull >> 40;
                    px |= (c < 3 ? h % (one / 4) : one / 2 + h % (one / 2)) << (field * c);
                }
                if (bits == 32) content[n][i / 2] |= px << (32 * (i % 2));
                else content[n][i] = px;
            }
        }
        for (const ULMBlendMode last : {kULMBlendNone, kULMBlendReplace, kULMBlendBTF, kULMBlendBTFPreWeighted,
                                        kULMBlendFTB, kULMBlendFTBPreWeighted})
            for (int combination = 0; combination < 8; ++combination) {
                // Image 1 takes part when it holds content and a last mode says how.
                const bool blend[2] = {(combination & 1) != 0, (combination & 2) != 0}, into1 = combination & 4;
                const bool behind = blend[1] && last != kULMBlendNone;
                SCOPED_TRACE(::testing::Message() << field << "-bit fields, last mode " << last << ", B " << blend[0]
                                                  << blend[1] << ", into " << into1);
                ASSERT_EQ(context->SetLastBlendMode(last), kULMOK);
                ReleasablePointer<ULMImageBuffer> images[2];
                for (int n = 0; n < 2; ++n) {
                    images[n].Assign(make(fields));
                    ASSERT_EQ(images[n]->Update(content[n].data(), whole, 0), kULMOK);
                    ASSERT_EQ(images[n]->SetInputLimits(blend[n] ? whole : ULMImageRange()), kULMOK);
                }
                ASSERT_EQ(context->SetImageOutputBuffer(ULMContext::ImageBufferNumber(into1)), kULMOK);
                ASSERT_EQ(v->StartRender(context, images[0], nullptr, images[1], nullptr).Wait(-1), kULMOK);
                ASSERT_EQ(images[into1]->Unload(got.data(), whole, 0), kULMOK);
                const int frameField = field == 8 ? 8 : 12;
                for (int i = 0; i < 48 * 48; ++i) {
                    const bool inside = Contains(port, ULMImageRange(1, 1, i % 48, i / 48));
                    RGBA want = inside ? rgba(word(frame, i), frameField)
                                       : rgba(word(content[into1], i), field);
                    if (inside && blend[0])
                        want = Blend(kULMBlendFTBPreWeighted, rgba(word(content[0], i), field), want);
                    if (inside && behind) want = Blend(last, want, rgba(word(content[1], i), field));
                    const RGBA pixel = rgba(word(got, i), field);
                    const double tolerance = 2.5 / double((1u << frameField) - 1);
                    for (int c = 0; c < 4; ++c) ASSERT_NEAR(pixel[c], want[c], tolerance) << i << " " << c;
                }
            }
    }
    v->UnlockVolume(0);
}

// Planes of every orientation, the eye on either side of each: a perspective frame with the cut matches the frame
// of the volume with the cut-away voxels zeroed, as closely as the parallel render of the same view matches its own.
TEST_F(PerspectiveTest, CutPlanesClipAFrameWhereTheyClipTheVolume) {
    const struct {
        const char* what;
        ULMVector4D plane;  // over world points; the volume's centre lies at (0, 0, -45)
        double min, max;
        bool keepInside;
    } planes[] = {{"X half", {1, 0, 0, 0}, -1e6, 2, true},
                  {"Y slab", {0, 1, 0, 0}, -3, 4, true},
                  {"Z half, outside kept", {0, 0, 1, 45}, -1e6, -1, false},
                  {"oblique half", {1, 1, 1, 45}, -2, 1e6, true},
                  {"oblique slab", {1, -2, 0.5, 22.5}, -6, 6, true},
                  {"oblique slab, outside kept", {-0.3, 0.5, 1, 45}, -2, 2, false}};
    const struct {
        double turnX, turnY;
    } views[] = {{20, 30}, {-20, 210}, {75, 10}};
    constexpr int kSide = 64;
    const ULMMatrix projections[2] = {ULMMatrix::Ortho(-24, 24, -24, 24, kNear, kFar),
                                      ULMMatrix::Perspective(50, 1, kNear, kFar)};
    for (const auto& view : views)
        for (const auto& p : planes) {
            SCOPED_TRACE(::testing::Message() << p.what << ", turned " << view.turnX << " " << view.turnY);
            const ULMMatrix model = ULMMatrix::Translate(0, 0, -45) * ULMMatrix::Rotate(view.turnX, ULMVector3D(1, 0, 0)) *
                                    ULMMatrix::Rotate(view.turnY, ULMVector3D(0, 1, 0)) *
                                    ULMMatrix::Translate(-15.5, -11.5, -9.5);
            std::vector<uint8_t> zeroed = s.voxels;
            for (size_t i = 0; i < zeroed.size(); ++i) {
                const ULMVector4D w = model * ULMVector4D(double(i % s.size[0]), double(i / s.size[0] % s.size[1]),
                                                          double(i / s.size[0] / s.size[1]), 1);
                const double value = p.plane[0] * w[0] + p.plane[1] * w[1] + p.plane[2] * w[2] + p.plane[3];
                if ((value >= p.min && value <= p.max) != p.keepInside) zeroed[i] = 0;
            }
            ReleasablePointer<ULMVolume> whole(
                ULMVolume::Create(1u, s.voxels.data(), s.size[0], s.size[1], s.size[2], ULMVolume::kSliced));
            ReleasablePointer<ULMVolume> cutAway(
                ULMVolume::Create(1u, zeroed.data(), s.size[0], s.size[1], s.size[2], ULMVolume::kSliced));
            ReleasablePointer<ULMCutPlane> plane(ULMCutPlane::Create(p.plane, p.min, p.max));
            ASSERT_EQ(plane->SetVisibility(p.keepInside), kULMOK);
            ULMCamera& camera = context->GetCamera();
            camera.SetModelMatrix(model);
            camera.SetViewport(0, 0, kSide, kSide);
            int differ[2] = {}, drawn[2] = {};
            for (int road = 0; road < 2; ++road) {
                camera.SetProjectionMatrix(projections[road]);
                const std::vector<RGBA> expected = Render(cutAway, kSide, kSide);
                ASSERT_EQ(context->AddCutPlane(plane), kULMOK);
                const std::vector<RGBA> got = Render(whole, kSide, kSide);
                ASSERT_EQ(context->RemoveCutPlane(plane), kULMOK);
                for (size_t i = 0; i < got.size(); ++i) {
                    double worst = 0;
                    for (int c = 0; c < 4; ++c) worst = std::max(worst, std::fabs(got[i][c] - expected[i][c]));
                    differ[road] += worst > 0.1;
                    drawn[road] += expected[i][3] > 0;
                }
            }
            // Cut faces seen at a slant differ most; their share of the drawn pixels is what the roads compare.
            ASSERT_GT(drawn[0] * drawn[1], 0);
            EXPECT_LE(double(differ[1]) / drawn[1], 1.5 * differ[0] / drawn[0] + 0.01)
                << differ[1] << " of " << drawn[1] << " perspective pixels, " << differ[0] << " of " << drawn[0]
                << " parallel ones";
        }
}

INSTANTIATE_TEST_SUITE_P(
    Eyes, PerspectiveRenderTest,
    ::testing::Values(Eye{"one face", 0, 0, {0, 0, -45}, 48, 48, 4, false},
                      Eye{"two faces", 0, 40, {1, -2, -45}, 56, 40, 12, false},
                      Eye{"three faces", 30, -35, {0, 0, -40}, 40, 56, 4, false},
                      Eye{"three faces", 30, -35, {0, 0, -40}, 48, 48, 12, false},
                      Eye{"inside the box", 0, 180, {2, 0, -2}, 48, 40, 4, false},
                      Eye{"one face", 0, 0, {0, 0, -45}, 48, 48, 4, true},
                      Eye{"three faces", 30, -35, {0, 0, -40}, 56, 40, 4, true},
                      Eye{"two faces, cut", 0, 40, {1, -2, -45}, 56, 40, 4, false, 0},
                      Eye{"three faces, cut", 30, -35, {0, 0, -40}, 48, 48, 12, false, 1},
                      Eye{"from behind, cut", 20, 200, {0, 0, -40}, 48, 48, 4, false, 1}));

}  // namespace
}  // namespace ulm3
