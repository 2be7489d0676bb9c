// Renders of a plain volume on the simulated boards against the reference
// model, the shared table cache, and the refused renders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "render/render_cache.h"
#include "support/context_fixture.h"
#include "support/render_reference.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

constexpr int kSide = 64;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

class VolumeRenderTest : public testing::ContextTest {
protected:
    tulx7sim::SimConfig Config() const override { return test_support::SimBoards(2); }
    void SetUp() override {
        ContextTest::SetUp();
        // An off-centre blob on a ramp along X.
        s.size[0] = 48, s.size[1] = 40, s.size[2] = 36;
        for (int z = 0; z < 36; ++z)
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 48; ++x) {
                    const double r = std::hypot(x - 30.0, y - 14.0, z - 22.0);
                    s.voxels.push_back(static_cast<uint8_t>(std::min(255.0, 2 * x + std::max(0.0, 200 - 20 * r))));
                }
        table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i) {
            // Colours weighted by opacity, so that every mode stays in range.
            const float a = i < 60 ? 0.0f : (i - 60) / 400.0f;
            table->SetEntry(i, ULMRGBAFloat(a * i / 255.0f, a * (1 - i / 255.0f), a * 0.5f, a));
            ULMRGBAFloat e;
            table->GetEntry(i, e);  // as the table holds it
            s.table[i] = {e.m_red, e.m_green, e.m_blue, e.m_alpha};
        }
        context = ULMContext::Create(table);
    }
    void TearDown() override {
        context->Release();
        table->Release();
        ContextTest::TearDown();
    }
    ULMVolume* MakeVolume(ULMLocation board) {
        ULMVolume* v = ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
        if (board != kULMAnyBoard) {
            EXPECT_EQ(v->LockVolume(board), kULMOK);
        }
        return v;
    }
    // Frames the volume turned by (tx, ty) degrees, zoomed by inZoom.
    void Aim(double tx, double ty, int k, double inZoom = 1.0) {
        const double r = 36.0 * inZoom;
        s.projection = ULMMatrix::Ortho(-r, r, -r, r, -100, 100);
        s.model = ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                  ULMMatrix::Translate(-23.5, -19.5, -17.5);
        s.k = k;
        ULMCamera camera;
        camera.SetProjectionMatrix(s.projection);
        camera.SetModelMatrix(s.model);
        camera.SetViewport(0, 0, kSide, kSide);
        s.viewport[2] = s.viewport[3] = kSide;
        ASSERT_EQ(context->SetCamera(camera), kULMOK);
        ASSERT_EQ(context->SetSamplingLimits(1, 3, k, k), kULMOK);
        ASSERT_EQ(context->SetBlendMode(static_cast<ULMBlendMode>(s.blendMode)), kULMOK);
    }
    ULMStatus Render(ULMVolume* v, ULMLocation board, std::vector<uint32_t>& pixels) {
        ULMImageBuffer* image = ULMImageBuffer::Create(board, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        image->Clear(whole, 0);
        ULMStatus status = v->Render(context, image, nullptr, nullptr, nullptr);
        pixels.assign(kSide * kSide, 0);
        if (status == kULMOK) status = image->StartUnload(pixels.data(), whole, 0).Wait(-1);
        image->Release();
        return status;
    }
    test_support::ReferenceScene s;
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
};

TEST_F(VolumeRenderTest, ImagesMatchTheReferenceInEveryModeViewAndBoard) {
    struct View { double tx, ty; int k; } views[] = {{0, 0, 1}, {30, 40, 2}, {-150, 70, 2}};
    double worst = 0, meanError = 0;
    for (const View& view : views) {
        for (int mode : {4, 5, 2, 3, 12}) {
            s.blendMode = mode;
            Aim(view.tx, view.ty, view.k);
            const auto expected = test_support::ReferenceRender(s, kSide, kSide);
            std::vector<uint32_t> byBoard[2];
            for (int b = 0; b < 2; ++b) {
                tulx7sim::ClearChipDiagnostics();
                ULMVolume* v = MakeVolume(static_cast<ULMLocation>(kULMBoard0 + b));
                ASSERT_EQ(Render(v, static_cast<ULMLocation>(kULMBoard0 + b), byBoard[b]), kULMOK);
                v->Release();
                EXPECT_EQ(tulx7sim::GetChipDiagnostics(b).Total(), 0u);
            }
            EXPECT_EQ(byBoard[0], byBoard[1]) << "mode " << mode;
            double sum = 0, caseWorst = 0;
            for (int i = 0; i < kSide * kSide; ++i)
                for (int c = 0; c < 4; ++c) {
                    const double e = std::fabs(((byBoard[0][i] >> (8 * c)) & 255) - expected[i][c] * 255);
                    caseWorst = std::max(caseWorst, e);
                    sum += e;
                }
            worst = std::max(worst, caseWorst);
            meanError = std::max(meanError, sum / (4 * kSide * kSide));
            EXPECT_LE(caseWorst, 3.0) << "mode " << mode << " view " << view.tx;
            EXPECT_LE(sum / (4 * kSide * kSide), 0.5) << "mode " << mode << " view " << view.tx;
        }
    }
    std::printf("reference error: worst %.2f, mean %.3f (8-bit steps)\n", worst, meanError);
}

TEST_F(VolumeRenderTest, TwoVolumesShareOneTableLoadAndAChangeReloads) {
    Aim(30, 40, 1);
    std::vector<uint32_t> pixels;
    ULMVolume* a = MakeVolume(kULMBoard0);
    ULMVolume* b = MakeVolume(kULMBoard0);
    ASSERT_EQ(Render(a, kULMBoard0, pixels), kULMOK);
    ASSERT_EQ(Render(b, kULMBoard0, pixels), kULMOK);
    EXPECT_EQ(ULMRenderCache::LookupTablesMap().size(), 1u);
    table->SetEntry(0, ULMRGBAFloat(1, 1, 1, 1));
    ASSERT_EQ(Render(b, kULMBoard0, pixels), kULMOK);
    EXPECT_EQ(ULMRenderCache::LookupTablesMap().size(), 2u);
    a->Release();
    b->Release();
    tulx7sim::WaitForIdle(5000);
    const int before = tulx7sim::GetStats().liveBuffers;
    ULMRenderCache::Cleanup();
    EXPECT_TRUE(ULMRenderCache::LookupTablesMap().empty());
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, before - 2);
}

TEST_F(VolumeRenderTest, RefusedRendersFinishAndLeaveNothingBehind) {
    const struct { const char* what; ULMStatus expected; } cases[] = {
        {"no data", kULMErrVolume}, {"no output", kULMErrBuffer}, {"singular", kULMErrTransform},
{"subsample", kULMErrCantSubsample}, {"outside", kULMErrEmptyRender}};
    for (const auto& c : cases) {
        Aim(30, 40, 1, std::string(c.what) == "subsample" ? 3.0 : 1.0);
        ULMVolume* v = std::string(c.what) == "no data"
                           ? ULMVolume::Create(8, ULMVolumeRange(8, 8, 8, 0, 0, 0), 1, kRGBA8, nullptr)
                           : ULMVolume::Create(1u, s.voxels.data(), 48, 40, 36, ULMVolume::kSliced);
        ULMContext* ctx = CloneContext(context);
        ULMCamera camera = ctx->GetCamera();
        if (std::string(c.what) == "no output") ctx->SetImageOutputBuffer(ULMContext::kImageBufferNone);
        if (std::string(c.what) == "singular") camera.SetModelMatrix(ULMMatrix::Scale(1, 0, 1));
        if (std::string(c.what) == "outside") camera.SetModelMatrix(ULMMatrix::Translate(500, 0, 0));
        ctx->SetCamera(camera);
        const int buffers = tulx7sim::GetStats().liveBuffers;
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMSystem, kSide, kSide, 32, 4, kRGBA8);
        image->SetMigrationMode(kULMMigrationNoCopy);
        const ULMSyncEvent event = v->StartRender(ctx, image, nullptr, nullptr, nullptr);
        EXPECT_EQ(event.Status(), c.expected) << c.what;
        EXPECT_EQ(event.Wait(0), c.expected) << c.what;
        image->Release();
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers) << c.what;
        EXPECT_EQ(v->GetAccessControl(), kULMAccessNoControl) << c.what;
        ctx->Release();
        v->Release();
    }
}

}  // namespace
}  // namespace ulm3
