// Renders of a plain volume on the simulated boards against the reference
// model, the shared table cache, the refused renders, MPR renders, and
// space leaping against the same render without it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "foundation/log_capture.h"
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

using Pixels = std::vector<uint32_t>;
constexpr int kSide = 64;
const ULMImageRange kWhole(kSide, kSide, 0, 0);
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

// Byte b of an image: channel b % 4 of pixel b / 4.
int Byte(const Pixels& pixels, int b) { return (pixels[b / 4] >> (8 * (b % 4))) & 255; }

// How far an image lies from the reference, in steps of 1/255.
struct Difference {
    double worst = 0, mean = 0;
    int over3 = 0;  // bytes more than 3 steps off
};

Difference Compare(const Pixels& got, const std::vector<std::array<double, 4>>& expected) {
    Difference d;
    for (int b = 0; b < 4 * kSide * kSide; ++b) {
        const double e = std::fabs(Byte(got, b) - expected[b / 4][b % 4] * 255);
        d.worst = std::max(d.worst, e);
        d.mean += e / (4 * kSide * kSide);
        d.over3 += e > 3.0;
    }
    return d;
}

class VolumeRenderTest : public testing::ContextTest {
protected:
    VolumeRenderTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        std::ranges::copy(std::array{48, 40, 36}, s.size);
        FillVoxels([](int x, int y, int z) {  // an off-centre blob on a ramp along X
            return std::min(255.0, 2 * x + std::max(0.0, 200 - 20 * std::hypot(x - 30.0, y - 14.0, z - 22.0)));
        });
        table = ULMLookupTable::Create(256);
        SetTable([](int i) {  // colours weighted by opacity: every mode stays in range
            const float a = i < 60 ? 0.0f : (i - 60) / 400.0f;
            return ULMRGBAFloat(a * i / 255.0f, a * (1 - i / 255.0f), a * 0.5f, a);
        });
        context = ULMContext::Create(table);
    }
    void TearDown() override {
        context->Release();
        table->Release();
        ContextTest::TearDown();
    }
    void FillVoxels(const std::function<double(int, int, int)>& voxel) {
        const int nx = s.size[0], ny = s.size[1];
        s.voxels.resize(size_t(nx) * ny * s.size[2]);
        for (size_t i = 0; i < s.voxels.size(); ++i) s.voxels[i] = uint8_t(voxel(i % nx, i / nx % ny, i / nx / ny));
    }
    // The table, and the reference's copy of it as the table holds it.
    void SetTable(const std::function<ULMRGBAFloat(int)>& entry) {
        for (int i = 0; i < 256; ++i) {
            ULMRGBAFloat e = entry(i);
            table->SetEntry(i, e);
            table->GetEntry(i, e);
            s.table[i] = {e.m_red, e.m_green, e.m_blue, e.m_alpha};
        }
    }
    ULMVolume* NewVolume() {
        return ULMVolume::Create(1u, s.voxels.data(), s.size[0], s.size[1], s.size[2], ULMVolume::kSliced);
    }
    // Frames the volume turned by (tx, ty) degrees, zoomed by inZoom, and sets the context as the scene says.
    void Aim(double tx, double ty, int k, double inZoom = 1.0) {
        using X = ULMContext;
        const double r = 36.0 * inZoom;
        s.projection = ULMMatrix::Ortho(-r, r, -r, r, -100, 100);
        s.model = ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                  ULMMatrix::Translate((1 - s.size[0]) / 2.0, (1 - s.size[1]) / 2.0, (1 - s.size[2]) / 2.0);
        s.k = k;
        s.viewport[2] = s.viewport[3] = kSide;
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(s.projection);
        camera.SetModelMatrix(s.model);
        camera.SetViewport(0, 0, kSide, kSide);
        ASSERT_EQ(context->SetSamplingLimits(1, 3, s.k, s.k), kULMOK);
        ASSERT_EQ(context->SetBlendMode(ULMBlendMode(s.blendMode)), kULMOK);
        ASSERT_EQ(context->SetRayTermination(std::min(s.termination, 1.0), s.termination < 1), kULMOK);
        for (const auto b : {X::kDepthBuffer0, X::kDepthBuffer1}) {
            ASSERT_EQ(context->SetDepthTest(b, X::DepthTest(s.depthTest[b])), kULMOK);
            ASSERT_EQ(context->SetDepthUpdateFilter(b, X::FilterTest(s.filter[b])), kULMOK);
        }
        ASSERT_EQ(context->SetDepthCombineFunction(X::DepthCombineFunction(s.combine)), kULMOK);
        ASSERT_EQ(context->SetSampleAlphaRange(s.sampleAlpha[0], s.sampleAlpha[1]), kULMOK);
        ASSERT_EQ(context->SetAccumulatedAlphaRange(s.accumAlpha[0], s.accumAlpha[1]), kULMOK);
        ASSERT_EQ(context->SetGradientMagnitudeRange(s.magnitude[0], s.magnitude[1]), kULMOK);
        const auto& slab = s.cropSlabs;
        ULMCrop crop;
        ASSERT_EQ(crop.SetSlabs(slab[0], slab[1], slab[2], slab[3], slab[4], slab[5]), kULMOK);
        ASSERT_EQ(crop.SetFlags(s.cropFlags), kULMOK);
        ASSERT_EQ(context->SetCrop(crop), kULMOK);
        while (context->GetCutPlaneCount() > 0) context->RemoveCutPlane(context->GetCutPlane(0));
        for (const auto& cut : s.cuts) {
            ReleasablePointer<ULMCutPlane> plane(ULMCutPlane::Create(cut.plane, cut.min, cut.max));
            ASSERT_EQ(plane->SetVisibility(cut.keepInside), kULMOK);
            ASSERT_EQ(context->AddCutPlane(plane), kULMOK);
        }
        if (s.lights.empty()) return;
        ULMSetParameter("LightMode", static_cast<uint64_t>(s.lightMode));
        ASSERT_EQ(context->SetGradientModulation(s.modulateOpacity ? 1u : 0u), kULMOK);
        ASSERT_EQ(context->SetReflectionProperties(s.diffuse, s.specular, s.emissive, s.exponent), kULMOK);
    }
    // The volume given, or a new one locked on the board, rendered into a new image there; with depth buffers when
    // outDepth is given, starting from the scene's input depths, on board inDepthAt (-1: the image's).
    ULMStatus Render(ULMLocation board, Pixels& pixels, Pixels* outDepth = nullptr, ULMVolume* inVolume = nullptr,
                     int inDepthAt = -1) {
        ReleasablePointer<ULMVolume> made(inVolume != nullptr ? nullptr : NewVolume());
        ULMVolume* v = inVolume != nullptr ? inVolume : made.GetPointer();
        ULMStatus status = inVolume != nullptr ? kULMOK : v->LockVolume(board);
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(board, kSide, kSide, 32, 4, kRGBA8));
        ReleasablePointer<ULMDepthBuffer> depth[2];
        const ULMLocation depthAt = inDepthAt < 0 ? board : ULMLocation(inDepthAt);
        for (int i = 0; i < 2 && outDepth != nullptr; ++i) {  // cleared to the far plane, or holding the input
            depth[i].Assign(ULMDepthBuffer::Create(depthAt, kSide, kSide));
            depth[i]->SetMigrationMode(kULMMigrationFullCopy);
            depth[i]->Clear(kWhole, 0xFFFFFF);
            if (s.depthIn[i].empty()) continue;
            depth[i]->Update(s.depthIn[i].data(), kWhole, 0, ULMDepthBuffer::kDepth24Low);
            depth[i]->SetInputLimits(kWhole);
        }
        if (status == kULMOK) status = image->SetMigrationMode(kULMMigrationFullCopy);
        if (status == kULMOK) status = image->Clear(kWhole, 0);
        if (status == kULMOK) status = v->Render(context, image, depth[0], nullptr, depth[1]);
        for (int i = 0; i < 2 && outDepth != nullptr; ++i) {
            outDepth[i].assign(kSide * kSide, 0);
            depth[i]->Unload(outDepth[i].data(), kWhole, 0, ULMDepthBuffer::kDepth24Low);
        }
        pixels.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->StartUnload(pixels.data(), kWhole, 0).Wait(-1);
        return status;
    }
    // An MPR of v into a cleared image whose border kMPRAlpha writes where it averages nothing and behind which
    // kMPRRGBA composites (0 there).
    ULMStatus MPR(ULMVolume* v, double distance, int quality, int mode, Pixels& out, ULMLocation where = kULMBoard0) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(where, kSide, kSide, 32, 4, kRGBA8));
        const double border = mode == 0 ? 0.2 : 0.0;
        ULMStatus status = image->SetMigrationMode(kULMMigrationFullCopy);
        if (status == kULMOK) status = image->Clear(kWhole, 0);
        if (status == kULMOK) status = image->SetBorderValue(border, 2 * border, 3 * border, 4 * border);
        if (status == kULMOK)
            status = v->StartRenderMPR(context, distance, quality, ULMVolume::MPRMode(mode), image).Wait(-1);
        out.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->Unload(out.data(), kWhole, 0);
        return status;
    }
    test_support::ReferenceScene s;
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
};

// Depth: buffer 0 and 1's tests against two steps, their combination, both buffers' update filter, where the buffers
// start (-1: on the board).
struct Case {
    int mode = 4;
    double termination = 2;
    unsigned crop = 0;
    int cuts = 0;
    int test0 = 7, test1 = 7, combine = 0, filter = 3, depthAt = -1;
    bool combinedAlpha = false;
};

// The views run as separate tests, so the suite spreads them over its jobs.
struct View {
    double tx, ty;
    int k;
};
void PrintTo(const View& v, std::ostream* out) { *out << "turned " << v.tx << "," << v.ty << " k " << v.k; }
class VolumeRenderViewTest : public VolumeRenderTest, public ::testing::WithParamInterface<View> {};

TEST_P(VolumeRenderViewTest, ImagesMatchTheReferenceInEveryModeAndBoard) {
    using C = ULMCrop;
    using X = ULMContext;
    const double stop = 2048.0 / 4095;  // a ray termination threshold on the chip's 12-bit grid
    const Case cases[] = {
        {.filter = 0},
        {.test0 = 1, .combine = 1},
        {.mode = 3, .test0 = 5, .combine = 1},
        {.mode = 5, .test0 = 6, .combine = 1},
        {.test0 = 1, .test1 = 5, .combine = 2},
        {.mode = 5, .test0 = 2, .test1 = 4, .combine = 3},
        {.test0 = 1, .combine = 1, .filter = 0, .depthAt = kULMSystem},
        {.mode = 2, .filter = 0, .depthAt = kULMMultiBoardMode1},
        {.filter = X::kTestSampleAlpha},
        {.mode = 5, .termination = stop, .filter = X::kTestAccumulatedAlpha},
        {.filter = X::kRejectBackFacing},
        {.mode = 2, .filter = X::kRejectFrontFacing | X::kTestGradientMagnitude},
        {.combinedAlpha = true},
        {.mode = 12},
        {.termination = stop},
        {.crop = C::kEnableX0 | C::kInvert0},
        {.mode = 3, .crop = C::kEnableX0 | C::kEnableY1},
        {.mode = 2, .crop = C::kEnableX0 | C::kEnableY1 | C::kOrSelect},
        {.crop = C::kEnableX0 | C::kEnableY1 | C::kEnableZ2 | C::kOrSelect | C::kInvertOutput, .cuts = 2},
        {.mode = 5, .crop = C::kEnableX0 | C::kEnableY0 | C::kEnableZ0 | C::kInvert1 | C::kEnableZ2 | C::kInvert2},
        {.mode = 2, .cuts = 3}};
    const test_support::ReferenceScene::Cut cuts[] = {
        {{0.6, 0.8, 0, 0}, -5, 9, true}, {{0, 0.28, -0.96, -2}, -4, 4, false}, {{1, 0, 0, 0}, 0, 1000, true}};
    s.cropSlabs = {10.5, 30.5, 8.5, 25.5, 5.5, 20.5};
    s.sampleAlpha = {0.02, 0.2};
    s.accumAlpha = {0.3, 1};
    s.magnitude = {0.05, 1};
    // Alpha the smaller of two tables' (the same table's): the chip, not a table, corrects it.
    const ULMClassifier plain = context->GetClassifier();
    ULMClassifier combined = plain;
    ASSERT_EQ(combined.SetLookupTable(1, table, kULMField0), kULMOK);
    ASSERT_EQ(combined.SetOperation(0, ULMOperation(kULM_A, kULM_A, kULM_A, kULM_A_Min_B)), kULMOK);
    const View view = GetParam();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << &c - cases << " view " << view.tx);
        s.blendMode = c.mode;
        s.termination = c.termination;
        s.cropFlags = c.crop;
        s.cuts.assign(cuts, cuts + c.cuts);
        s.depthTest[0] = c.test0;
        s.depthTest[1] = c.test1;
        s.combine = c.combine;
        s.filter[0] = s.filter[1] = c.filter;
        for (int b = 0; b < 2; ++b) {  // input depths that step half way across, along X for 0, along Y for 1
            s.depthIn[b].clear();
            for (int i = 0; i < kSide * kSide && s.depthTest[b] % 7 != 0; ++i) {
                const bool firstHalf = (b == 0 ? i % kSide : i / kSide) < kSide / 2;
                s.depthIn[b].push_back(firstHalf ? 0x7F0000 + 0x70000 * b : 0x880000 - 0x20000 * b);
            }
        }
        ASSERT_EQ(context->SetClassifier(c.combinedAlpha ? combined : plain), kULMOK);
        Aim(view.tx, view.ty, view.k);
        const auto expected = test_support::ReferenceRender(s, kSide, kSide);
        const bool depthed = c.test0 % 7 + c.test1 % 7 != 0 || c.filter != 3;
        Pixels byBoard[2], depth[2];
        for (int b = 0; b < 2; ++b) {
            tulx7sim::ClearChipDiagnostics();
            ASSERT_EQ(Render(ULMLocation(kULMBoard0 + b), byBoard[b], depthed ? depth : nullptr, nullptr, c.depthAt),
                      kULMOK);
            EXPECT_EQ(tulx7sim::GetChipDiagnostics(b).Total(), 0u);
        }
        EXPECT_EQ(byBoard[0], byBoard[1]);
        // A ray near the threshold, or a sample within 1/256 of a slab's edge, may round either way.
        const Difference d = Compare(byBoard[0], expected);
        EXPECT_LE(d.over3, c.termination > 1 && c.crop == 0 && c.cuts == 0 ? 0 : kSide * kSide / 25);
        EXPECT_LE(d.mean, 0.2);
        // Depths as the reference updates them, within a tenth of a sample step; a sample whose facing, alpha or
        // magnitude lies on a filter's edge may go either way. Head on, the volume spans pixels 10.5-52.5 x
        // 14-49 at depths 0.41-0.59, and the far plane stays off it.
        const bool headOn = c.filter == 0 && c.combine == 0 && view.tx == 0;
        int wrong = 0;
        int off = 0;
        for (int i = 0; i < kSide * kSide && depthed; ++i) {
            const double x = std::fabs(i % kSide - 31.5);
            const double y = std::fabs(i / kSide - 31.5);
            for (int b = 0; b < 2; ++b) {
                const double got = depth[b][i] & 0xFFFFFF;
                wrong += std::fabs(got - s.depthOut[i][b]) > 4000;
                if (headOn && (x > 21.5 || y > 18)) off += got != 0xFFFFFF;
                if (headOn && x < 20.5 && y < 17) off += std::fabs(got / 16777215.0 - (b ? 0.59 : 0.41)) > 0.005;
            }
        }
        EXPECT_LE(wrong, kSide * kSide / 50);
        EXPECT_EQ(off, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Views, VolumeRenderViewTest,
                         ::testing::Values(View{0, 0, 1}, View{30, 40, 2}, View{-150, 70, 2}, View{95, 10, 1}),
                         [](const ::testing::TestParamInfo<View>& info) { return std::to_string(info.index); });

TEST_F(VolumeRenderTest, LitSphereMatchesTheReferenceAndItsMapsFollowOnlyTheirInputs) {
    FillVoxels([](int x, int y, int z) {  // a ball whose value falls linearly from its centre
        return std::lround(255 * std::max(0.0, 1 - std::hypot(x - 23.5, y - 19.5, z - 17.5) / 16));
    });
    ReleasablePointer<ULMLight> light(ULMLight::Create(ULMVector3D(0.3, 0.5, 0.8)));
    ASSERT_EQ(context->AddLight(light), kULMOK);
    ReleasablePointer<ULMVolume> v(NewVolume());
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    // First builds and rebuilds; a listener of first builds renders the same volume again, and reads the maps.
    struct Listener {
        std::function<ULMStatus(Pixels&)> render;
        int builds = 0, rebuilds = 0;
        ULMStatus again = kULMErrInternal;
        uint64_t word = 0;
        Pixels pixels = {};
    } listener{
        [this, volume = static_cast<ULMVolume*>(v)](Pixels& out) { return Render(kULMBoard0, out, nullptr, volume); }};
    const auto onMap = [](ULMEventBase* e, void* data) {
        auto* l = static_cast<Listener*>(data);
        if (e->EventType() == kULMEventLightMapChange) {
            ++l->rebuilds;
            return;
        }
        ++l->builds;
        l->word = *static_cast<const uint64_t*>(static_cast<ULMEventLightMap*>(e)->pointerToMap1);
        l->again = l->render(l->pixels);
    };
    context->SetNotifyCallback(kULMEventLightMap, onMap, &listener);
    context->SetNotifyCallback(kULMEventLightMapChange, onMap, &listener);
    // Each step changes one input from the step before, each render against the reference: the view, a coefficient,
    // the exponent, the light, the light mode, a shell translucent enough that its back faces show through its front,
    // an anisotropic correction, opacity modulation. The inputs up to the light mode are the maps' own.
    enum Input { kTurnX, kTurnY, kExponent, kIntensity, kLightX, kLightMode, kSlices, kModulate, kSpecular, kDiffuse,
                 kEmissive, kAlpha, kCorrected, kInputs };
    std::array<double, kInputs> in = {0, 0, 2, 1, 0.3, 0, 1, 0, 0, 0.8, 0.2, 0.9, 0};
    const struct {
        Input input;
        double value;
    } steps[] = {{kSlices, 2},    {kTurnX, 30},    {kTurnY, 40},     {kSlices, 1},     {kSpecular, 0.3},
                 {kExponent, 8},  {kDiffuse, 0.5}, {kEmissive, 0.4}, {kSpecular, 0.5}, {kIntensity, 0.6},
                 {kLightX, -0.6}, {kTurnX, -150},  {kLightMode, 2},  {kLightMode, 1},  {kAlpha, 0.25},
                 {kLightMode, 0}, {kLightMode, 2}, {kCorrected, 1},  {kModulate, 1}};
    // Maps follow the model matrix, the exponent, the light and the light mode, not the coefficients; a scaling
    // correction corrects gradients instead.
    int rebuilds = -1;
    Pixels pixels, last;
    std::vector<std::array<double, 4>> before;
    for (const auto& step : steps) {
        SCOPED_TRACE(::testing::Message() << "step " << &step - steps);
        rebuilds += &step == steps || step.input <= kLightMode;
        // Light modes 0 and 1 read the same maps: between them only the back faces' highlights change.
        const bool swap = step.input == kLightMode && in[kLightMode] + step.value == 1;
        in[step.input] = step.value;
        s.lightMode = int(in[kLightMode]);
        s.modulateOpacity = in[kModulate] != 0;
        s.specular = in[kSpecular];
        s.diffuse = in[kDiffuse];
        s.emissive = in[kEmissive];
        s.exponent = in[kExponent];
        s.lights = {{in[kLightX], 0.5, 0.8, in[kIntensity]}};
        ASSERT_EQ(light->SetDirection(ULMVector3D(in[kLightX], 0.5, 0.8)), kULMOK);
        ASSERT_EQ(light->SetIntensity(in[kIntensity]), kULMOK);
        // A white shell two voxels thick half way out.
        SetTable([a = float(in[kAlpha])](int e) { return ULMRGBAFloat(1, 1, 1, e >= 128 && e < 160 ? a : 0.0f); });
        const ULMMatrix correction = in[kCorrected] != 0 ? ULMMatrix::Scale(1, 1.25, 0.8) : ULMMatrix();
        ASSERT_EQ(v->SetCorrectionMatrix(correction), kULMOK);
        Aim(in[kTurnX], in[kTurnY], int(in[kSlices]));
        s.model = s.model * correction;
        const auto reference = test_support::ReferenceRender(s, kSide, kSide);
        auto expected = reference;  // after a swap: the last render changed as the reference changes
        for (int b = 0; swap && b < 4 * kSide * kSide; ++b)
            expected[b / 4][b % 4] += Byte(last, b) / 255.0 - before[b / 4][b % 4];
        ASSERT_EQ(Render(kULMBoard0, pixels, nullptr, v), kULMOK);
        EXPECT_EQ(listener.rebuilds, rebuilds);
        // A map cell spans 0.125 either way of its centre: N.L read there is off by at most about 0.18.
        const Difference d = Compare(pixels, expected);
        EXPECT_LE(d.worst, swap ? 3.0 : 0.18 * 255 * (s.diffuse + s.specular));
        EXPECT_LT(d.mean, 0.002 * 255);
        last = pixels;
        before = reference;
    }
    context->GetCamera().SetViewMatrix(ULMMatrix::Rotate(10, ULMVector3D(0, 0, 1)));
    EXPECT_EQ(Render(kULMBoard0, pixels, nullptr, v), kULMOK);
    EXPECT_EQ(listener.rebuilds, rebuilds);  // a new view alone builds nothing
    EXPECT_TRUE(listener.builds == 1 && listener.again == kULMOK && listener.word != 0) << listener.builds;
    ULMSetParameter("LightMode", 0);
}

// Two volumes share one table load, and a changed table replaces it. Each render of a volume that holds no buffer
// prepares one and lets it go again, and its MPRs take turns with its MPR buffers; two threads doing either at once
// must not lose them to each other. The tables and the MPR buffers go with the last volume and the cache's cleanup.
TEST_F(VolumeRenderTest, RendersShareTablesAndTwoThreadsRenderAndMPROneVolumeThatHoldsNoBuffer) {
    Aim(30, 40, 1);
    const int buffers = tulx7sim::GetStats().liveBuffers;
    const int objects = LiveObjects();
    Pixels pixels;
    ASSERT_EQ(Render(kULMBoard0, pixels), kULMOK);
    ASSERT_EQ(Render(kULMBoard0, pixels), kULMOK);
    EXPECT_EQ(ULMRenderCache::LookupTablesMap().size(), 1u);
    table->SetEntry(0, ULMRGBAFloat(1, 1, 1, 1));
    std::thread flip([&] { for (int i = 0; i < 400; ++i) table->SetRamp(kULMChannelGreen, 0, 255, i % 2, 1 - i % 2); });
    for (uint64_t i = 0, w[256]; i < 20000; ++i)  // renders in other threads read it whole: one ramp or the other
        EXPECT_EQ(table->Unload(0, 256, w) + ((w[0] ^ w[255]) >> 20 & 0xFFF), 0xFFFu);
    flip.join();
    ASSERT_EQ(Render(kULMBoard0, pixels), kULMOK);  // the old state goes once no render reads it
    ASSERT_EQ(ULMRenderCache::LookupTablesMap().size(), 1u);
    EXPECT_EQ(ULMRenderCache::LookupTablesMap().begin()->first.serial, table->GetSerial());
    ReleasablePointer<ULMVolume> v(NewVolume());
    // An MPR in mode 0 or 1, a render (2), or, in the other thread only, a lock and unlock (3) or a buffer made
    // and released (4), which wait for a render to be queued.
    const auto render = [&](int what, Pixels& out) {
        out.clear();
        unsigned char* map = nullptr;  // a typed map and an unload meet the other thread's renders and locks
        unsigned x = 0, y = 0;
        const ULMStatus m = what > 2 ? v->MapVolume(kULMAccessReadShared, map, x, y, kULMUseSource) : kULMOK;
        if (map != nullptr ? v->UnmapVolume() != kULMOK : m != kULMOK && m != kULMErrVolume) return kULMErrInternal;
        std::vector<uint8_t> got(s.voxels.size());
        if (v->Unload(got.data(), v->GetRange(), kULMUseTarget) || got != s.voxels) return kULMErrRead;
        const ULMStatus made = what == 3 ? v->LockVolume(kULMBoard1) : what == 4 ? v->CreateBuffer(kULMBoard1) : kULMOK;
        if (what > 2) return made != kULMOK ? made : what == 3 ? v->UnlockVolume(0) : v->ReleaseBuffer();
        return what < 2 ? MPR(v, 2, 2, what, out, kULMSystem) : Render(kULMSystem, out, nullptr, v);
    };
    Pixels alone[5], first, second;
    for (int what = 0; what < 5; ++what) ASSERT_EQ(render(what, alone[what]), kULMOK);
    for (int round = 0; round < 45; ++round) {  // every pair three times
        ULMStatus a = kULMOK;
        std::thread other([&] { a = render(round % 5, first); });
        const ULMStatus b = render(round / 5 % 3, second);
        other.join();
        ASSERT_TRUE(a == kULMOK && b == kULMOK && first == alone[round % 5] && second == alone[round / 5 % 3]) << round;
    }
    v.Assign(nullptr);
    ULMRenderCache::Cleanup();  // the converted tables outlive the volume in the shared map
    tulx7sim::WaitForIdle(5000);
    EXPECT_TRUE(ULMRenderCache::LookupTablesMap().empty());
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
    EXPECT_EQ(LiveObjects(), objects);
}

// A volume without a buffer goes where its output cannot move from, the same every time; a render whose output may
// not come to the volume's board says which buffer and what lets it move; released tables leave no board copies.
TEST_F(VolumeRenderTest, PlacementFollowsOutputsThatStayRefusalsSayWhyAndReleasedTablesLeaveNoCopies) {
    Aim(30, 40, 1);
    ReleasablePointer<ULMVolume> v(NewVolume());
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard1, kSide, kSide, 32, 4, kRGBA8));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(v->Render(context, image, nullptr, nullptr, nullptr), kULMOK) << i;
        EXPECT_EQ(v->RenderMPR(context, 2, 1, ULMVolume::kMPRRGBA, image), kULMOK) << i;
        ReleasablePointer<ULMLookupTable> made(ULMLookupTable::Create(256));
        ReleasablePointer<ULMContext> other(ULMContext::Create(i == 0 ? made.GetPointer() : nullptr));
        other->GetCamera() = context->GetCamera();
        EXPECT_EQ(v->StartRender(other, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    }
    for (const auto& entry : ULMRenderCache::LookupTablesMap()) EXPECT_EQ(entry.first.table, table->GetObjectID());
    testing_support::LogToFile log;
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    EXPECT_EQ(v->Render(context, image, nullptr, nullptr, nullptr), kULMErrBuffer);
    EXPECT_NE(log.Contents().find("image buffer 0 is at location 1"), std::string::npos) << log.Contents();
    EXPECT_NE(log.Contents().find("SetMigrationMode(kULMMigrationFullCopy)"), std::string::npos);
}

// Refused renders and MPRs finish at once and leave nothing locked or allocated; an empty one leaves its image no
// output limits.
TEST_F(VolumeRenderTest, RefusedRendersFinishAndLeaveNothingBehind) {
    // depth: 1 depth 0 written but not given, 2 given on the other board and kept there. mpr: an MPR's mode (2 none
    // such), -1 a render, whose cut planes stand in the context already.
    const struct {
        const char* what;
        ULMStatus expected;
        ULMMatrix model = ULMMatrix();
        double zoom = 1;
        int depth = 0;
        int mpr = -1;
        int quality = 1;
        int cuts = 0;
        bool context = true;
    } cases[] = {
        {.what = "no data", .expected = kULMErrVolume},
        {.what = "no output", .expected = kULMErrBuffer},
        {.what = "singular camera", .expected = kULMErrTransform, .model = ULMMatrix::Scale(1, 0, 1)},
        {.what = "two voxels per pixel", .expected = kULMErrCantSubsample, .zoom = 3},
        {.what = "outside", .expected = kULMErrEmptyRender, .model = ULMMatrix::Translate(500, 0, 0)},
        {.what = "MPR outside", .expected = kULMErrEmptyRender, .model = ULMMatrix::Translate(500, 0, 0), .mpr = 0},
        {.what = "no depth buffer", .expected = kULMErrBuffer, .depth = 1},
        {.what = "depth buffer elsewhere", .expected = kULMErrBuffer, .depth = 2},
        {.what = "MPR of quality 0", .expected = kULMErrArgument, .mpr = 0, .quality = 0},
        {.what = "MPR mode 2", .expected = kULMErrArgument, .mpr = 2},
        {.what = "MPR without a context", .expected = kULMErrArgument, .mpr = 1, .context = false},
        {.what = "MPR without an image", .expected = kULMErrBuffer, .mpr = 0},
        {.what = "MPR past the cut planes", .expected = kULMErrCutplaneOverflow, .mpr = 1, .quality = 2, .cuts = 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        s.cuts.assign(c.cuts, {ULMVector4D(1, 0, 0, 0), -1e6, 1e6, true});
        Aim(30, 40, 1, c.zoom);
        const auto filter = c.depth != 0 ? ULMContext::kFilterNone : ULMContext::kAlwaysFail;
        ASSERT_EQ(context->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, filter), kULMOK);
        ReleasablePointer<ULMVolume> v(c.expected == kULMErrVolume
                                           ? ULMVolume::Create(8, ULMVolumeRange(8, 8, 8, 0, 0, 0), 1, kRGBA8, nullptr)
                                           : NewVolume());
        Pixels earlier;  // an earlier MPR leaves the volume the slab and buffers it keeps for the next
        EXPECT_EQ(c.expected == kULMErrEmptyRender && c.mpr >= 0 ? MPR(v, 0, 1, c.mpr, earlier) : kULMOK, kULMOK);
        if (c.model != ULMMatrix()) context->GetCamera().SetModelMatrix(c.model);
        context->SetImageOutputBuffer(c.expected == kULMErrBuffer ? ULMContext::kImageBufferNone
                                                                  : ULMContext::kImageBuffer0);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        const int objects = LiveObjects();
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMSystem, kSide, kSide, 32, 4, kRGBA8));
        image->SetMigrationMode(kULMMigrationNoCopy);  // onto whichever board the volume takes
        ReleasablePointer<ULMDepthBuffer> depth;       // migration none: it stays
        if (c.depth == 2 && v->LockVolume(kULMBoard0) == kULMOK)
            depth.Assign(ULMDepthBuffer::Create(kULMBoard1, kSide, kSide));
        ULMImageBuffer* mprImage = c.expected == kULMErrBuffer ? nullptr : image.GetPointer();
        ASSERT_EQ(image->SetOutputLimits(kWhole), kULMOK);  // as an earlier render left them
        const ULMVolume::MPRMode mode = ULMVolume::MPRMode(c.mpr);
        EXPECT_EQ(c.mpr < 0 ? v->StartRender(context, image, depth, nullptr, nullptr).Wait(0)
                            : v->StartRenderMPR(c.context ? context : nullptr, 0, c.quality, mode, mprImage).Wait(0),
                  c.expected);
        EXPECT_EQ(image->GetOutputLimits().IsEmpty(), c.expected == kULMErrEmptyRender);  // nothing was drawn
        if (depth != nullptr) v->UnlockVolume(0);
        depth.Assign(nullptr);
        const ULMSampleSpace& space = ULMRenderStateOf(*static_cast<ULMVolumeInternal*>(v.GetPointer())).m_sampleSpace;
        double fx = 0, fy = 0;  // a refused subsample keeps what a coarser road needs
        space.GetSubSampleTests(fx, fy);
        EXPECT_TRUE(c.expected != kULMErrCantSubsample ||
                    (std::max(fx, fy) > 2 && !space.GetVolumeFrustum().IsEmpty()));
        image.Assign(nullptr);
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);
        EXPECT_EQ(LiveObjects(), objects);
        EXPECT_EQ(v->GetAccessControl(), kULMAccessNoControl);
        EXPECT_EQ(context->GetCutPlaneCount(), c.cuts);
    }
}

// MPR: a ramp v = x + 2y + 3z through a ramp table into every channel, read where the plane at eye depth -distance
// cuts it.
TEST_F(VolumeRenderTest, MPRGivesTheRampWhereThePlaneCutsItAtAnyAngleQualityAndMode) {
    FillVoxels([](int x, int y, int z) { return x + 2 * y + 3 * z; });
    SetTable([](int i) { return ULMRGBAFloat(i / 255.0f, i / 255.0f, i / 255.0f, i / 255.0f); });
    ReleasablePointer<ULMVolume> v(NewVolume());
    const struct {
        double tx, ty, distance;
        int quality;
    } views[] = {{0, 0, 0, 1}, {30, 40, 5, 4}, {-150, 70, -3, 3}};
    for (const auto& view : views) {
        Aim(view.tx, view.ty, 1);
        // The samples kept lie within half a slice (1 / quality voxels along the principal axis) of the plane.
        const ULMVector4D ray = s.model.Inverse() * ULMVector4D(0, 0, 1, 0);
        const double principal = std::max({std::fabs(ray[0]), std::fabs(ray[1]), std::fabs(ray[2])});
        const double tolerance = 1.6 + std::fabs(ray[0] + 2 * ray[1] + 3 * ray[2]) / (2 * view.quality * principal);
        const ULMMatrix toVoxels = s.model.Inverse() * s.projection.Inverse();
        const double windowZ = s.projection[2][2] * -view.distance + s.projection[2][3];
        for (int mode = 0; mode < 2; ++mode) {
            SCOPED_TRACE(::testing::Message() << "view " << view.tx << " mode " << mode);
            Pixels pixels;
            ASSERT_EQ(MPR(v, view.distance, view.quality, mode, pixels), kULMOK);
            int inside = 0, outside = 0;
            for (int i = 0; i < kSide * kSide; ++i) {
                const ULMVector4D p =
                    toVoxels * ULMVector4D((i % kSide - 31.5) / 31.5, (i / kSide - 31.5) / 31.5, windowZ, 1);
                bool in = true, out = false;
                for (int a = 0; a < 3; ++a) {
                    in = in && p[a] >= 1.5 && p[a] <= s.size[a] - 2.5;
                    out = out || p[a] < -2 || p[a] > s.size[a] + 1;
                }
                const uint32_t r = pixels[i] & 255;
                const uint32_t same = r * 0x010101u | (mode == 0 ? 255u : r) << 24;  // opaque grey, or v everywhere
                const double value = p[0] + 2 * p[1] + 3 * p[2];
                EXPECT_TRUE(!in || (pixels[i] == same && std::fabs(r - value) <= tolerance)) << i << ": " << pixels[i];
                EXPECT_TRUE(!out || pixels[i] == (mode == 0 ? 51 | 102 << 8 | 153 << 16 | 204u << 24 : 0)) << i;
                inside += in;
                outside += out;
            }
            EXPECT_GT(inside, 300);
            EXPECT_GT(outside, 300);
        }
    }
}

// A YZ slice written through the slab reaches the renders and MPRs of the buffer: each shows what it shows again once
// an unload has written the slab back.
TEST_F(VolumeRenderTest, RendersAndMPRsSeeYZSlicesWrittenThroughTheSlab) {
    Aim(20, 30, 1);
    ReleasablePointer<ULMVolume> v(NewVolume());
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    Pixels pixels[4];
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(v->Update(std::vector<uint8_t>(40 * 36, 250).data(), {1, 40, 36, 22 + i / 2, 0, 0}), kULMOK);
        ASSERT_TRUE(i % 2 == 0 || v->Unload(Pixels(1).data(), {1, 1, 1, 0, 0, 0}, kULMUseBuffer) == kULMOK);
        ASSERT_EQ(i < 2 ? Render(kULMBoard0, pixels[i], nullptr, v) : MPR(v, 0, 1, 0, pixels[i]), kULMOK);
        EXPECT_TRUE(i % 2 == 0 || pixels[i] == pixels[i - 1]) << i;
    }
}

// Space leaping against the same render without it: the bytes must not change, only the samples the chip composites,
// fewer in the modes that leap. An unlocked volume renders from its host data, so a changed range, voxels or table
// must reach its bricks, which would otherwise cut the new content away; a volume without host data does not leap.
TEST_F(VolumeRenderTest, SpaceLeapingKeepsTheBytesAndLeapsOnlyInPlainModesOverVolumesWithHostData) {
    std::ranges::copy(std::array{70, 50, 40}, s.size);
    FillVoxels([](int x, int y, int z) {  // a transparent background with a ball in one corner
        return std::max(30.0, 250 - 16 * std::hypot(x - 48.0, y - 40.0, z - 30.0));
    });
    ReleasablePointer<ULMVolume> v(NewVolume());
    auto* internal = static_cast<ULMVolumeInternal*>(v.GetPointer());
    int trims = 0;                               // the leaping render's three trim ranges' widths added, 1/256 voxel
    const auto leapt = [&](ULMVolume* volume) {  // the samples leapt over, on whichever board
        Pixels pixels[2];
        uint64_t samples[2];
        for (int leap = 0; leap < 2; ++leap) {
            EXPECT_EQ(volume->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(leap), -1, -1, -1, -1), kULMOK);
            tulx7sim::ClearChipDiagnostics();
            EXPECT_EQ(Render(kULMBoard0, pixels[leap], nullptr, volume), kULMOK);
            samples[leap] = tulx7sim::GetChipDiagnostics(0).samples + tulx7sim::GetChipDiagnostics(1).samples;
        }
        const ULMAllRenderRegisters& r = ULMRenderStateOf(*static_cast<ULMVolumeInternal*>(volume)).m_regs;
        trims = int32_t(r.m_TrimRangeXmax - r.m_TrimRangeXmin + r.m_TrimRangeYmax - r.m_TrimRangeYmin +
                        r.m_TrimRangeZmax - r.m_TrimRangeZmin);
        EXPECT_EQ(pixels[0], pixels[1]);
        return int64_t(samples[0]) - int64_t(samples[1]);
    };
    const struct { double tx, ty; } views[] = {{0, 0}, {160, -35}, {-40, 110}};
    for (const auto& view : views) {
        for (const ULMBlendMode mode : {kULMBlendBTF, kULMBlendFTB, kULMBlendBTFPreWeighted, kULMBlendFTBPreWeighted}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " view " << view.tx);
            s.blendMode = mode;
            Aim(view.tx, view.ty, 1);
            const int64_t skipped = leapt(v);
            EXPECT_TRUE(mode == kULMBlendBTF || mode == kULMBlendFTB ? skipped > 0 : skipped == 0) << skipped;
        }
    }
    s.blendMode = kULMBlendFTB;
    Aim(25, 30, 1);
    leapt(v);
    const int wholeTrims = trims;
    ASSERT_EQ(internal->SetSpaceLeapingRange(ULMVolumeRange(36, 50, 40, 0, 0, 0)),
              kULMOK);  // the half without the ball
    leapt(v);
    EXPECT_GT(trims, wholeTrims);
    ASSERT_EQ(internal->SetSpaceLeapingRange(ULMVolumeRange()), kULMOK);
    leapt(v);                                            // the bricks as they were, before the voxels change
    const std::vector<uint8_t> cube(12 * 12 * 12, 200);  // into bricks that were empty
    ASSERT_EQ(v->Update(cube.data(), ULMVolumeRange(12, 12, 12, 2, 2, 2)), kULMOK);
    EXPECT_GT(leapt(v), 0);
    table->SetEntry(30, ULMRGBAFloat(1, 1, 1, 0.02f));  // the background shows
    leapt(v);
    ReleasablePointer<ULMVolume> bare(ULMVolume::Create(8, 70, 50, 40, 1, kRGBA8, nullptr));
    ASSERT_EQ(bare->LockVolume(kULMBoard0), kULMOK);
    ASSERT_EQ(bare->Update(s.voxels.data(), ULMVolumeRange(70, 50, 40, 0, 0, 0)), kULMOK);
    EXPECT_EQ(leapt(bare), 0);
}

}  // namespace
}  // namespace ulm3
