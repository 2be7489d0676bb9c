// Renders of a plain volume on the simulated boards against the reference
// model, the shared table cache, the refused renders, and MPR renders.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "render/render_cache.h"
#include "render/volume_render_state.h"
#include "support/context_fixture.h"
#include "support/render_reference.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"
#include "ulm3/cut_plane.h"
#include "ulm3/image_buffer.h"
#include "ulm3/light.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr int kSide = 64;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

class VolumeRenderTest : public testing::ContextTest {
protected:
    VolumeRenderTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        // An off-centre blob on a ramp along X.
        s.size[0] = 48, s.size[1] = 40, s.size[2] = 36;
        for (int i = 0, x = 0; i < 48 * 40 * 36; ++i, x = i % 48) {
            const double r = std::hypot(x - 30.0, i / 48 % 40 - 14.0, i / 1920 - 22.0);
            s.voxels.push_back(static_cast<uint8_t>(std::min(255.0, 2 * x + std::max(0.0, 200 - 20 * r))));
        }
        table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i) {  // colours weighted by opacity: every mode stays in range
            const float a = i < 60 ? 0.0f : (i - 60) / 400.0f;
            ULMRGBAFloat e(a * i / 255.0f, a * (1 - i / 255.0f), a * 0.5f, a);
            table->SetEntry(i, e);
            table->GetEntry(i, e);  // as the table holds it
            s.table[i] = {e.m_red, e.m_green, e.m_blue, e.m_alpha};
        }
        context = ULMContext::Create(table);
    }
    void TearDown() override {
        context->Release(), table->Release();
        ContextTest::TearDown();
    }
    // Frames the volume turned by (tx, ty) degrees, zoomed by inZoom.
    void Aim(double tx, double ty, int k, double inZoom = 1.0) {
        const double r = 36.0 * inZoom;
        s.projection = ULMMatrix::Ortho(-r, r, -r, r, -100, 100);
        s.model = ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                  ULMMatrix::Translate(-23.5, -19.5, -17.5);
        s.k = k;
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(s.projection), camera.SetModelMatrix(s.model);
        camera.SetViewport(0, 0, s.viewport[2] = kSide, s.viewport[3] = kSide);
        ASSERT_EQ(context->SetSamplingLimits(1, 3, k, k), kULMOK);
        ASSERT_EQ(context->SetBlendMode(static_cast<ULMBlendMode>(s.blendMode)), kULMOK);
    }
    // A new volume on the board, rendered into a new image there; the depth buffers (when asked for) start at inDepthAt
    // or on the board.
    ULMStatus Render(ULMLocation board, std::vector<uint32_t>& pixels, std::vector<uint32_t>* outDepth = nullptr,
                     ULMVolume* inVolume = nullptr, int inDepthAt = -1) {
        ULMVolume* v = inVolume != nullptr ? (inVolume->AddRef(), inVolume)
                                           : ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
        ULMImageBuffer* image = ULMImageBuffer::Create(board, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        ULMDepthBuffer* depth[2] = {};
        for (int i = 0; i < 2 && outDepth != nullptr; ++i)
            depth[i] = ULMDepthBuffer::Create(inDepthAt < 0 ? board : ULMLocation(inDepthAt), kSide, kSide),
            depth[i]->SetMigrationMode(kULMMigrationFullCopy), depth[i]->Clear(whole, 0xFFFFFF);
        for (int i = 0; i < 2; ++i)
            if (!s.depthIn[i].empty())
                depth[i]->Update(s.depthIn[i].data(), whole, 0, ULMDepthBuffer::kDepth24Low),
                    depth[i]->SetInputLimits(whole);
        ULMStatus status =
            inVolume != nullptr || v->LockVolume(board) == kULMOK ? image->Clear(whole, 0) : kULMErrVolume;
        if (status == kULMOK) status = v->Render(context, image, depth[0], nullptr, depth[1]);
        for (int i = 0; i < 2 && depth[i] != nullptr; ++i)
            outDepth[i].assign(kSide * kSide, 0),
                depth[i]->Unload(outDepth[i].data(), whole, 0, ULMDepthBuffer::kDepth24Low), depth[i]->Release();
        pixels.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->StartUnload(pixels.data(), whole, 0).Wait(-1);
        image->Release(), v->Release();
        return status;
    }
    // An MPR of v into a cleared image whose border kMPRAlpha writes where it averages nothing and behind which
    // kMPRRGBA composites (0 there).
    ULMStatus MPR(ULMVolume* v, double distance, int quality, int mode, std::vector<uint32_t>& out,
                  ULMLocation where = kULMBoard0) {
        ULMImageBuffer* image = ULMImageBuffer::Create(where, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        const bool ready =
            image->SetMigrationMode(kULMMigrationFullCopy) == kULMOK && image->Clear(whole, 0) == kULMOK &&
            image->SetBorderValue(0.2 * (1 - mode), 0.4 * (1 - mode), 0.6 * (1 - mode), 0.8 * (1 - mode)) == kULMOK;
        ULMStatus status = ready
                               ? v->StartRenderMPR(context, distance, quality, ULMVolume::MPRMode(mode), image).Wait(-1)
                               : kULMErrInternal;
        out.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->Unload(out.data(), whole, 0);
        return image->Release(), status;
    }
    test_support::ReferenceScene s;
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
};

TEST_F(VolumeRenderTest, ImagesMatchTheReferenceInEveryModeViewAndBoard) {
    using C = ULMCrop;
    const double stop = 2048.0 / 4095;  // a ray termination threshold on the chip's 12-bit grid
    // Depth: buffer 0 and 1's tests against two steps, their combination, both buffers' update filter, where the
    // buffers start (-1: on the board).
    using X = ULMContext;
    const struct {
        int mode;
        double termination;
        unsigned crop;
        int cuts;
        int test0 = 7, test1 = 7, combine = 0, filter = 3, at = -1;
        bool combinedAlpha = false;
    } cases[] = {{4, 2, 0, 0, 7, 7, 0, 0},
                 {4, 2, 0, 0, 1, 7, 1},
                 {4, 2, 0, 0, 2, 7, 1},
                 {4, 2, 0, 0, 3, 7, 1},
                 {2, 2, 0, 0, 4, 7, 1},
                 {3, 2, 0, 0, 5, 7, 1},
                 {5, 2, 0, 0, 6, 7, 1},
                 {4, 2, 0, 0, 1, 5, 2},
                 {5, 2, 0, 0, 2, 4, 3},
                 {4, 2, 0, 0, 7, 7, 3},
                 {4, 2, 0, 0, 1, 7, 1, 0, kULMSystem},
                 {2, 2, 0, 0, 7, 7, 0, 0, kULMMultiBoardMode1},
                 {4, 2, 0, 0, 7, 7, 0, X::kTestSampleAlpha},
                 {5, stop, 0, 0, 7, 7, 0, X::kTestAccumulatedAlpha},
                 {4, 2, 0, 0, 7, 7, 0, X::kRejectBackFacing},
                 {2, 2, 0, 0, 7, 7, 0, X::kRejectFrontFacing | X::kTestGradientMagnitude},
                 {4, 2, 0, 0, 7, 7, 0, X::kTestGradientMagnitude},
                 {4, 2, 0, 0, 7, 7, 0, 3, -1, true},
                 {3, 2, 0, 0, 7, 7, 0, 3, -1, true},
                 {4, 2, 0, 0},
                 {5, 2, 0, 0},
                 {2, 2, 0, 0},
                 {3, 2, 0, 0},
                 {12, 2, 0, 0},
                 {4, stop, 0, 0},
                 {5, stop, 0, 0},
                 {4, 2, C::kEnableX0 | C::kInvert0, 0},
                 {3, 2, C::kEnableX0 | C::kEnableY1, 0},
                 {2, 2, C::kEnableX0 | C::kEnableY1 | C::kOrSelect, 0},
                 {4, 2, C::kEnableX0 | C::kEnableY1 | C::kEnableZ2 | C::kOrSelect | C::kInvertOutput, 2},
                 {5, 2, C::kEnableX0 | C::kEnableY0 | C::kEnableZ0 | C::kInvert1 | C::kEnableZ2 | C::kInvert2, 0},
                 {4, 2, 0, 1},
                 {2, 2, 0, 3}};
    const test_support::ReferenceScene::Cut cuts[] = {
        {{0.6, 0.8, 0, 0}, -5, 9, true}, {{0, 0.28, -0.96, -2}, -4, 4, false}, {{1, 0, 0, 0}, 0, 1000, true}};
    s.cropSlabs = {10.5, 30.5, 8.5, 25.5, 5.5, 20.5};
    s.sampleAlpha = {0.02, 0.2}, s.accumAlpha = {0.3, 1}, s.magnitude = {0.05, 1};
    ASSERT_TRUE(context->SetSampleAlphaRange(0.02, 0.2) == kULMOK &&
                context->SetAccumulatedAlphaRange(0.3, 1) == kULMOK &&
                context->SetGradientMagnitudeRange(0.05, 1) == kULMOK);
    ULMClassifier plain = context->GetClassifier(),
                  combined =
                      plain;  // alpha the smaller of two tables' (the same table's): the chip, not a table, corrects it
    ASSERT_TRUE(combined.SetLookupTable(1, table, kULMField0) == kULMOK &&
                combined.SetOperation(0, ULMOperation(kULM_A, kULM_A, kULM_A, kULM_A_Min_B)) == kULMOK);
    struct View {
        double tx, ty;
        int k;
    } views[] = {{0, 0, 1}, {30, 40, 2}, {-150, 70, 2}, {95, 10, 1}};
    for (const View& view : views) {
        for (const auto& c : cases) {
            s.blendMode = c.mode, s.termination = c.termination, s.cropFlags = c.crop;
            s.cuts.assign(cuts, cuts + c.cuts);
            s.depthTest[0] = c.test0, s.depthTest[1] = c.test1, s.combine = c.combine,
            s.filter[0] = s.filter[1] = c.filter;
            for (int b = 0; b < 2; ++b)
                for (int i = (s.depthIn[b].clear(), 0); i < kSide * kSide && s.depthTest[b] % 7 != 0; ++i)
                    s.depthIn[b].push_back((b == 0 ? i % kSide : i / kSide) < kSide / 2 ? 0x7F0000 + 0x70000 * b
                                                                                        : 0x880000 - 0x20000 * b);
            ASSERT_TRUE(context->SetDepthTest(X::kDepthBuffer0, X::DepthTest(c.test0)) == kULMOK &&
                        context->SetDepthTest(X::kDepthBuffer1, X::DepthTest(c.test1)) == kULMOK &&
                        context->SetDepthCombineFunction(X::DepthCombineFunction(c.combine)) == kULMOK &&
                        context->SetDepthUpdateFilter(X::kDepthBuffer0, X::FilterTest(c.filter)) == kULMOK &&
                        context->SetDepthUpdateFilter(X::kDepthBuffer1, X::FilterTest(c.filter)) == kULMOK &&
                        context->SetClassifier(c.combinedAlpha ? combined : plain) == kULMOK);
            Aim(view.tx, view.ty, view.k);
            ULMCrop crop;
            ASSERT_TRUE(crop.SetFlags(c.crop) == kULMOK && crop.SetSlabs(10.5, 30.5, 8.5, 25.5, 5.5, 20.5) == kULMOK &&
                        context->SetCrop(crop) == kULMOK);
            ASSERT_EQ(context->SetRayTermination(std::min(c.termination, 1.0), c.termination < 1), kULMOK);
            while (context->GetCutPlaneCount() > 0) context->RemoveCutPlane(context->GetCutPlane(0));
            for (const auto& cut : s.cuts) {
                ULMCutPlane* plane = ULMCutPlane::Create(cut.plane, cut.min, cut.max);
                EXPECT_TRUE(plane->SetVisibility(cut.keepInside) == kULMOK && context->AddCutPlane(plane) == kULMOK);
                plane->Release();
            }
            const auto expected = test_support::ReferenceRender(s, kSide, kSide);
            std::vector<uint32_t> byBoard[2], depth[2];
            for (int b = 0; b < 2; ++b) {
                tulx7sim::ClearChipDiagnostics();
                ASSERT_EQ(Render(static_cast<ULMLocation>(kULMBoard0 + b), byBoard[b],
                                 c.test0 % 7 + c.test1 % 7 != 0 || c.filter != 3 ? depth : nullptr, nullptr, c.at),
                          kULMOK);
                EXPECT_EQ(tulx7sim::GetChipDiagnostics(b).Total(), 0u);
            }
            EXPECT_EQ(byBoard[0], byBoard[1]) << "mode " << c.mode;
            double sum = 0, over = 0;
            for (int i = 0; i < 4 * kSide * kSide; ++i) {
                const double e = std::fabs(((byBoard[0][i / 4] >> (8 * (i % 4))) & 255) - expected[i / 4][i % 4] * 255);
                over += e > 3.0, sum += e;
            }
            // A ray near the threshold, or a sample within 1/256 of a slab's edge, may round either way.
            EXPECT_TRUE(over <= (c.termination > 1 && c.crop + c.cuts == 0 ? 0 : kSide * kSide / 25) &&
                        sum / (4 * kSide * kSide) <= 0.2)
                << c.mode << " " << c.crop << " " << view.tx;
            // Depths as the reference updates them, within a tenth of a sample step; a sample whose facing, alpha or
            // magnitude lies on a filter's edge may go either way. Head on, the volume spans pixels 10.5-52.5 x 14-49
            // at depths 0.41-0.59; 0xFFFFFF stays off it.
            for (int i = 0, wrong = 0, off = 0; i < 2 * int(depth[1].size()); ++i) {
                const double got = depth[i & 1][i / 2] & 0xFFFFFF, x = std::fabs(i / 2 % kSide - 31.5),
                             y = std::fabs(i / 2 / kSide - 31.5);
                wrong += std::fabs(got - s.depthOut[i / 2][i & 1]) > 4000,
                    off += c.filter == 0 && c.combine == 0 && view.tx == 0 &&
                           (x > 21.5 || y > 18
                                ? got != 0xFFFFFF
                                : x < 20.5 && y < 17 && std::fabs(got / 16777215.0 - (i % 2 ? 0.59 : 0.41)) > 0.005);
                EXPECT_TRUE(i + 1 < 2 * int(depth[1].size()) || (wrong <= kSide * kSide / 50 && off == 0))
                    << "depth case " << int(&c - cases) << " view " << view.tx << " " << wrong << " " << off;
            }
        }
    }
}

TEST_F(VolumeRenderTest, LitSphereMatchesTheReferenceAndItsMapsFollowOnlyTheirInputs) {
    s.voxels.clear();  // a ball whose value falls linearly from its centre
    for (int i = 0; i < 48 * 40 * 36; ++i)
        s.voxels.push_back(static_cast<uint8_t>(
            std::lround(255 * std::max(0.0, 1 - std::hypot(i % 48 - 23.5, i / 48 % 40 - 19.5, i / 1920 - 17.5) / 16))));
    for (int i = 0; i < 256; ++i)  // a white surface half way out
        table->SetEntry(i, ULMRGBAFloat(1, 1, 1, i >= 128 ? 0.9f : 0.0f)), s.table[i] = {1, 1, 1, i >= 128 ? 0.9 : 0.0};
    s.lights = {{0.3, 0.5, 0.8, 1.0}}, s.emissive = 0.2, s.diffuse = 0.8, s.exponent = 2;
    ULMLight* light = ULMLight::Create(ULMVector3D(0.3, 0.5, 0.8));
    ASSERT_TRUE(context->SetReflectionProperties(0.8, 0, 0.2, 10) == kULMOK && context->AddLight(light) == kULMOK);
    ULMVolume* v = ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    // First builds and rebuilds; a listener of first builds renders the same volume again, and reads the maps.
    struct Listener {
        decltype(this) test;
        ULMVolume* v;
        int events[2] = {};
        ULMStatus again = kULMErrInternal;
        uint64_t word = 0;
        std::vector<uint32_t> pixels = {};
    } listener{this, v};
    for (int kind = 0; kind < 2; ++kind)
        context->SetNotifyCallback(
            kind ? kULMEventLightMapChange : kULMEventLightMap,
            [](ULMEventBase* e, void* d) {
                auto* l = static_cast<Listener*>(d);
                ++l->events[e->EventType() == kULMEventLightMapChange],
                    l->word = *static_cast<const uint64_t*>(
                        e->EventType() == kULMEventLightMap ? static_cast<ULMEventLightMap*>(e)->pointerToMap1
                                                            : static_cast<ULMEventLightMapChange*>(e)->pointerToMap1),
                    l->again = e->EventType() == kULMEventLightMap
                                   ? l->test->Render(kULMBoard0, l->pixels, nullptr, l->v)
                                   : l->again;
            },
            &listener);
    // Views, then the specular map, the light modes and an anisotropic correction, each against the reference.
    const struct View {
        double tx, ty;
        int k;
        bool modulate = false;
        double specular = 0;
        int mode = 0;
        bool corrected = false;
    } views[] = {{0, 0, 1},
                 {30, 40, 2},
                 {-150, 70, 1},
                 {-150, 70, 1, true},
                 {-150, 70, 1, false, 0.3},
                 {30, 40, 1, false, 0.3, 2},
                 {30, 40, 1, false, 0.3, 1},
                 {30, 40, 1, false, 0.3, 1, true}};
    int rebuilds = -1;  // maps follow the model matrix and the light mode, not the coefficients; a scaling correction
                        // corrects gradients instead
    for (const View* last = nullptr; const View& view : views) {
        ULMSetParameter("LightMode", static_cast<uint64_t>(s.lightMode = view.mode)),
            rebuilds += last == nullptr || last->tx != view.tx || last->ty != view.ty || last->mode != view.mode,
            last = &view;
        ASSERT_TRUE(context->SetGradientModulation((s.modulateOpacity = view.modulate) ? 1u : 0u) == kULMOK &&
                    context->SetReflectionProperties(0.8, s.specular = view.specular, 0.2, 2) == kULMOK &&
                    v->SetCorrectionMatrix(view.corrected ? ULMMatrix::Scale(1, 1.25, 0.8) : ULMMatrix()) == kULMOK);
        Aim(view.tx, view.ty, view.k);
        if (view.corrected) s.model = s.model * ULMMatrix::Scale(1, 1.25, 0.8);
        const auto expected = test_support::ReferenceRender(s, kSide, kSide);
        std::vector<uint32_t> pixels;
        tulx7sim::ClearChipDiagnostics();
        ASSERT_EQ(Render(kULMBoard0, pixels, nullptr, v), kULMOK);
        EXPECT_EQ(tulx7sim::GetChipDiagnostics(0).Total(), 0u);
        double worst = 0, sum = 0,
               e = 0;  // a map cell spans 0.125 either way of its centre: N.L read there is off by at most about 0.18
        for (int i = 0; i < 4 * kSide * kSide; ++i)
            e = std::fabs(((pixels[i / 4] >> (8 * (i % 4))) & 255) / 255.0 - expected[i / 4][i % 4]),
            worst = std::max(worst, e), sum += e;
        EXPECT_TRUE(worst <= 0.18 * (s.diffuse + s.specular) && sum / (4 * kSide * kSide) < 0.002)
            << view.tx << " " << worst << " " << sum / (4 * kSide * kSide);
    }
    EXPECT_TRUE(listener.events[0] == 1 && listener.events[1] == rebuilds && listener.again == kULMOK &&
                listener.word != 0)
        << listener.events[1] << " " << listener.again;
    std::vector<uint32_t> pixels;
    context->GetCamera().SetViewMatrix(ULMMatrix::Rotate(10, ULMVector3D(0, 0, 1)));
    EXPECT_TRUE(Render(kULMBoard0, pixels, nullptr, v) == kULMOK &&
                listener.events[1] == rebuilds);  // a new view alone builds nothing
    EXPECT_TRUE(light->SetIntensity(0.5) == kULMOK && Render(kULMBoard0, pixels, nullptr, v) == kULMOK);
    EXPECT_TRUE(listener.events[0] == 1 && listener.events[1] == rebuilds + 1) << listener.events[1];
    ULMSetParameter("LightMode", 0);
    v->Release(), light->Release();
}

TEST_F(VolumeRenderTest, TwoVolumesShareOneTableLoadAndAChangeReloads) {
    Aim(30, 40, 1);
    std::vector<uint32_t> pixels;
    const int start = tulx7sim::GetStats().liveBuffers;
    ASSERT_TRUE(Render(kULMBoard0, pixels) == kULMOK && Render(kULMBoard0, pixels) == kULMOK);
    EXPECT_EQ(ULMRenderCache::LookupTablesMap().size(), 1u);
    table->SetEntry(0, ULMRGBAFloat(1, 1, 1, 1));
    ASSERT_EQ(Render(kULMBoard0, pixels), kULMOK);  // the old state goes once no render reads it
    EXPECT_TRUE(ULMRenderCache::LookupTablesMap().size() == 1 &&
                ULMRenderCache::LookupTablesMap().begin()->first.serial == table->GetSerial());
    ULMRenderCache::Cleanup();
    tulx7sim::WaitForIdle(5000);
    EXPECT_TRUE(ULMRenderCache::LookupTablesMap().empty() && tulx7sim::GetStats().liveBuffers == start);
}

// Each render of a volume that holds no buffer prepares one and lets it go
// again; two threads doing so at once must not lose it to each other.
TEST_F(VolumeRenderTest, TwoThreadsRenderOneVolumeThatHoldsNoBuffer) {
    Aim(30, 40, 1);
    ULMVolume* v = ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
    const auto render = [&](std::vector<uint32_t>& out) {
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        out.assign(kSide * kSide, 0);
        ULMStatus status = image->SetMigrationMode(kULMMigrationFullCopy);
        if (status == kULMOK) status = image->Clear(whole, 0);
        if (status == kULMOK) status = v->Render(context, image, nullptr, nullptr, nullptr);
        if (status == kULMOK) status = image->StartUnload(out.data(), whole, 0).Wait(-1);
        image->Release();
        return status;
    };
    std::vector<uint32_t> alone, first, second;
    ASSERT_EQ(render(alone), kULMOK);
    for (int round = 0; round < 20; ++round) {
        ULMStatus a = kULMOK;
        std::thread other([&] { a = render(first); });
        const ULMStatus b = render(second);
        other.join();
        ASSERT_TRUE(a == kULMOK && b == kULMOK && first == alone && second == alone) << round << ": " << a << " " << b;
    }
    v->Release();
}

TEST_F(VolumeRenderTest, RefusedRendersFinishAndLeaveNothingBehind) {
    // depth: 1 depth 0 written but not given, 2 given on the other board and kept there.
    const struct {
        const char* what;
        ULMStatus expected;
        ULMMatrix model;
        double zoom;
        int depth = 0;
    } cases[] = {{"no data", kULMErrVolume, {}, 1},
                 {"no output", kULMErrBuffer, {}, 1},
                 {"singular camera", kULMErrTransform, ULMMatrix::Scale(1, 0, 1), 1},
                 {"two voxels per pixel", kULMErrCantSubsample, {}, 3},
                 {"outside", kULMErrEmptyRender, ULMMatrix::Translate(500, 0, 0), 1},
                 {"no depth buffer", kULMErrBuffer, {}, 1, 1},
                 {"depth buffer elsewhere", kULMErrBuffer, {}, 1, 2}};
    for (const auto& c : cases) {
        Aim(30, 40, 1, c.zoom);
        ASSERT_EQ(context->SetDepthUpdateFilter(ULMContext::kDepthBuffer0,
                                                c.depth != 0 ? ULMContext::kFilterNone : ULMContext::kAlwaysFail),
                  kULMOK);
        ULMVolume* v = c.expected == kULMErrVolume
                           ? ULMVolume::Create(8, ULMVolumeRange(8, 8, 8, 0, 0, 0), 1, kRGBA8, nullptr)
                           : ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
        if (c.model != ULMMatrix()) context->GetCamera().SetModelMatrix(c.model);
        context->SetImageOutputBuffer(c.expected == kULMErrBuffer ? ULMContext::kImageBufferNone
                                                                  : ULMContext::kImageBuffer0);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, kSide, kSide, 32, 4, kRGBA8);
        image->SetMigrationMode(kULMMigrationNoCopy);  // onto whichever board the volume takes
        ULMDepthBuffer* depth = c.depth == 2 && v->LockVolume(kULMBoard0) == kULMOK
                                    ? ULMDepthBuffer::Create(kULMBoard1, kSide, kSide)
                                    : nullptr;  // migration none: it stays
        const ULMSyncEvent event = v->StartRender(context, image, depth, nullptr, nullptr);
        EXPECT_EQ(event.Wait(0), c.expected) << c.what;
        if (depth != nullptr) depth->Release(), v->UnlockVolume(0);
        const ULMSampleSpace& space = static_cast<ULMVolumeInternal*>(v)->RenderState().m_sampleSpace;
        double fx = 0, fy = 0;  // a refused subsample keeps what a coarser road needs
        space.GetSubSampleTests(fx, fy);
        EXPECT_TRUE(c.expected != kULMErrCantSubsample ||
                    (std::max(fx, fy) > 2 && !space.GetVolumeFrustum().IsEmpty()));
        image->Release();
        EXPECT_TRUE(tulx7sim::GetStats().liveBuffers == buffers && v->GetAccessControl() == kULMAccessNoControl)
            << c.what;
        v->Release();
    }
}

// MPR: a ramp v = x + 2y + 3z through a ramp table into every channel, read where the plane at eye depth -distance cuts
// it.
TEST_F(VolumeRenderTest, MPRGivesTheRampWhereThePlaneCutsItAtAnyAngleQualityAndMode) {
    for (int i = 0; i < 48 * 40 * 36; ++i)
        s.voxels[i] = static_cast<uint8_t>(i % 48 + 2 * (i / 48 % 40) + 3 * (i / 1920));
    for (int i = 0; i < 256; ++i) table->SetEntry(i, ULMRGBAFloat(i / 255.0f, i / 255.0f, i / 255.0f, i / 255.0f));
    ULMVolume* v = ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
    const struct {
        double tx, ty, distance;
        int quality;
    } views[] = {{0, 0, 0, 1}, {30, 40, 5, 4}, {-150, 70, -3, 3}};
    for (const auto& view : views) {
        Aim(view.tx, view.ty, 1);
        // The samples kept lie within half a slice (1 / quality voxels along the principal axis) of the plane.
        const ULMVector4D ray = s.model.Inverse() * ULMVector4D(0, 0, 1, 0);
        const double tolerance =
            1.6 + std::fabs(ray[0] + 2 * ray[1] + 3 * ray[2]) /
                      (2 * view.quality * std::max({std::fabs(ray[0]), std::fabs(ray[1]), std::fabs(ray[2])}));
        for (int mode = 0, inside = 0, outside = 0; mode < 2; ++mode, inside = outside = 0) {
            std::vector<uint32_t> pixels;
            ASSERT_EQ(MPR(v, view.distance, view.quality, mode, pixels), kULMOK);
            for (int i = 0; i < kSide * kSide; ++i) {
                const ULMVector4D p = s.model.Inverse() * s.projection.Inverse() *
                                      ULMVector4D((i % kSide - 31.5) / 31.5, (i / kSide - 31.5) / 31.5,
                                                  s.projection[2][2] * -view.distance + s.projection[2][3], 1);
                bool in = true, out = false;
                for (int a = 0; a < 3; ++a)
                    in = in && p[a] >= 1.5 && p[a] <= s.size[a] - 2.5, out = out || p[a] < -2 || p[a] > s.size[a] + 1;
                const uint32_t r = pixels[i] & 255,
                               same = r * 0x010101u | (mode == 0 ? 255u : r)
                                                          << 24;  // opaque grey, or v in every channel
                EXPECT_TRUE(!in || (pixels[i] == same && std::fabs(r - (p[0] + 2 * p[1] + 3 * p[2])) <= tolerance))
                    << view.tx << " mode " << mode << " pixel " << i << ": " << std::hex << pixels[i];
                EXPECT_TRUE(!out || pixels[i] == (mode == 0 ? 51 | 102 << 8 | 153 << 16 | 204u << 24 : 0))
                    << view.tx << " mode " << mode << " pixel " << i << ": " << std::hex << pixels[i];
                inside += in, outside += out;
            }
            EXPECT_TRUE(inside > 300 && outside > 300) << inside << " " << outside;
        }
    }
    v->Release();
}

// Refused MPRs leave nothing locked or allocated; two threads rendering one volume's MPRs take turns with its MPR
// buffers, which go with the volume.
TEST_F(VolumeRenderTest, RefusedMPRsLeaveNothingAndTwoThreadsShareTheMPRBuffersThatGoWithTheVolume) {
    Aim(30, 40, 1);
    const int buffers = tulx7sim::GetStats().liveBuffers, objects = LiveObjects();
    ULMContext* full = CloneContext(context);
    for (ULMCutPlane* plane : {ULMCutPlane::Create(ULMVector4D(1, 0, 0, 0), -1e6, 1e6),
                               ULMCutPlane::Create(ULMVector4D(0, 1, 0, 0), -1e6, 1e6),
                               ULMCutPlane::Create(ULMVector4D(0, 0, 1, 0), -1e6, 1e6),
                               ULMCutPlane::Create(ULMVector4D(1, 1, 0, 0), -1e6, 1e6)}) {
        EXPECT_EQ(full->AddCutPlane(plane), kULMOK);
        plane->Release();
    }
    ULMVolume* v = ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8);
    const struct {
        const ULMContext* ctx;
        int quality, mode;
        bool image;
        ULMStatus expected;
    } cases[] = {{context, 0, 0, true, kULMErrArgument},
                 {context, 1, 2, true, kULMErrArgument},
                 {nullptr, 1, 1, true, kULMErrArgument},
                 {context, 1, 0, false, kULMErrBuffer},
                 {full, 2, 1, true, kULMErrCutplaneOverflow}};
    const int held = tulx7sim::GetStats().liveBuffers, live = LiveObjects();
    for (const auto& c : cases) {
        EXPECT_EQ(v->StartRenderMPR(c.ctx, 0, c.quality, ULMVolume::MPRMode(c.mode), c.image ? image : nullptr).Wait(0),
                  c.expected);
        EXPECT_TRUE(tulx7sim::GetStats().liveBuffers == held && LiveObjects() == live &&
                    v->GetAccessControl() == kULMAccessNoControl && full->GetCutPlaneCount() == 4)
            << c.expected;
    }
    image->Release(), full->Release();
    std::vector<uint32_t> alone[2], first, second;
    for (int mode = 0; mode < 2; ++mode) ASSERT_EQ(MPR(v, 2, 2, mode, alone[mode], kULMSystem), kULMOK);
    for (int round = 0; round < 8; ++round) {
        ULMStatus a = kULMOK;
        std::thread other([&] { a = MPR(v, 2, 2, round & 1, first, kULMSystem); });
        const ULMStatus b = MPR(v, 2, 2, 0, second, kULMSystem);
        other.join();
        ASSERT_TRUE(a == kULMOK && b == kULMOK && first == alone[round & 1] && second == alone[0]) << round;
    }
    v->Release();
    ULMRenderCache::Cleanup();  // the converted tables outlive the volume in the shared map
    tulx7sim::WaitForIdle(5000);
    EXPECT_TRUE(tulx7sim::GetStats().liveBuffers == buffers && LiveObjects() == objects);
}

}  // namespace
}  // namespace ulm3
