// What a failed request leaves behind for the next render of the same
// volume: on every road a render takes (one board, bands, bricks composited
// on a board or on the host, and a mipmap volume over each), each request of
// each kind the render sends is made to fail, first, second, third or
// fourth, while the volume is rendered, or MPR rendered in either mode, into
// an image on a board. A failed drawing whose handle is waited for answers
// the failure or draws what a clean one draws, and the drawing right after
// it, with nothing changed, draws exactly what a clean one draws: nothing
// the failure left half made (a level, a partial image, a table, a moved
// image) is reused as if it were whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/road_names.h"
#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

struct Road {
    const char* name;
    int boards;
    int mode;       // 0 one board, 1 bands, 2 bricks
    int composite;  // Multiboard2ForceRender: 1 on a board, 2 on the host
    bool mipmap;    // a mipmap volume over the road, drawn from its level 1
    ULMLocation image;
    int size[3] = {26, 22, 18};
    int pixels = 36;  // the view's side, 8 pixels short of the image's
    ULMBlendMode blend = kULMBlendFTB;
    bool locked = true;
    bool levelOne = true;  // a mipmap volume drawn from level 1, or from the level the view asks for
    bool perspective = false;
    ULMLocation volumeBoard = kULMNoBufferAttached;  // a plain volume's board: the image's unless named
    bool rendersOnly = false;  // no MPR renders: they take the road of the smaller volumes
};

// How the volume is drawn, and whether its handle is waited for or only
// the answer of the call that queues it (Render, RenderMPR) is taken.
struct Way {
    const char* name;
    bool mpr;
    ULMVolume::MPRMode mode;
    bool waited;
};

const Way kWays[] = {
    {"render, waited", false, ULMVolume::kMPRAlpha, true},
    {"render, queued", false, ULMVolume::kMPRAlpha, false},
    {"alpha MPR, waited", true, ULMVolume::kMPRAlpha, true},
    {"alpha MPR, queued", true, ULMVolume::kMPRAlpha, false},
    {"RGBA MPR, waited", true, ULMVolume::kMPRRGBA, true},
    {"RGBA MPR, queued", true, ULMVolume::kMPRRGBA, false},
};

struct Drawn {
    ULMStatus render = kULMErrArgument;
    ULMStatus unload = kULMErrArgument;
    std::vector<uint8_t> pixels;
    bool OK() const { return render == kULMOK && unload == kULMOK; }
};

class RenderAfterFailureTest : public testing::ContextTest, public ::testing::WithParamInterface<Road> {
protected:
    RenderAfterFailureTest() : ContextTest(test_support::SimBoards(2)) {}

    void TearDown() override {
        Release();
        ContextTest::TearDown();
    }

    static void Fresh(const Road& inRoad) {
        CloseEverything();
        UsePlatform(test_support::SimBoards(inRoad.boards));
        ASSERT_EQ(ULMOpen(), kULMOK);
    }

    // A volume of the road's kind, locked, with a context that sees it
    // turned; for a mipmap volume, drawn from level 1.
    void Make(const Road& inRoad) {
        m_pixels = inRoad.pixels + 8;
        const int nx = inRoad.size[0], ny = inRoad.size[1], nz = inRoad.size[2];
        m_voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const double x = double(i % nx), y = double(i / nx % ny), z = double(i / nx / ny);
            const double blob = 230 - 12 * std::hypot(x - 0.6 * nx, y - 0.45 * ny, z - 0.5 * nz);
            m_voxels[i] = uint8_t(std::clamp(std::max(200.0 * x / nx + y, blob), 0.0, 255.0));
        }
        ULMSetParameter("MipmapMinVolumeSize", inRoad.mipmap ? 16 : 1 << 24);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", inRoad.mode == 2 ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("Multiboard2ForceRender", uint64_t(inRoad.composite));
        ULMSetParameter("MultiboardRenderEnable", inRoad.mode != 0 ? 1 : 0);
        m_volume.Assign(ULMVolume::Create(1u, m_voxels.data(), nx, ny, nz, ULMVolume::kSliced));
        ULMSetParameter("MultiboardRenderEnable", 0);
        ASSERT_NE(m_volume.GetPointer(), nullptr);
        if (inRoad.locked) {
            ASSERT_EQ(m_volume->LockVolume(inRoad.mode != 0                              ? kULMAnyBoard
                                                 : inRoad.volumeBoard != kULMNoBufferAttached ? inRoad.volumeBoard
                                                                                              : inRoad.image), kULMOK);
        }
        if (inRoad.mipmap) {
            ASSERT_EQ(m_volume->SetMipmapRange(inRoad.levelOne ? 1 : 0, inRoad.levelOne ? 1 : 3), kULMOK);
        }
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = 0.06f * v;
            table->SetEntry(i, ULMRGBAFloat(v * a, v * a * 0.8f, v * a * 0.6f, a));
        }
        m_context.Assign(ULMContext::Create(table));
        ASSERT_EQ(m_context->SetBlendMode(inRoad.blend), kULMOK);
        const double r = 0.55 * std::hypot(nx, ny, nz);
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(inRoad.perspective ? ULMMatrix::Frustum(-r / 3, r / 3, -r / 3, r / 3, r, 4 * r)
                                                      : ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetViewMatrix(inRoad.perspective ? ULMMatrix::Translate(0, 0, -2 * r) : ULMMatrix());
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - nx) / 2.0, (1 - ny) / 2.0, (1 - nz) / 2.0));
        // The view within the image: the pixels around it keep what the
        // image held, wherever the drawing took it.
        camera.SetViewport(4, 3, inRoad.pixels, inRoad.pixels);
        m_image.Assign(ULMImageBuffer::Create(inRoad.image, m_pixels, m_pixels, 32, 4, kRGBA8));
        ASSERT_NE(m_image.GetPointer(), nullptr);
        // A banded or bricked volume draws into an image on one board by
        // taking it to its own boards and back.
        ASSERT_EQ(m_image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    }

    // What the image holds before a drawing: one of two patterns, so that
    // pixels a drawing leaves as they were show which one it started from.
    std::vector<uint8_t> Start(int inPattern) const {
        std::vector<uint8_t> pixels(size_t(m_pixels) * m_pixels * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(inPattern == 0 ? 0x5A : i * 29 + 3);
        return pixels;
    }

    // The view drawn into the image, which starts as inPattern, and read
    // back; the nth request of inCode from the drawing on fails as it
    // completes.
    Drawn Draw(int inPattern, uint32_t inCode = 0, int inNth = 0) {
        Drawn out;
        std::vector<uint8_t> clear = Start(inPattern);
        EXPECT_EQ(m_image->Update(clear.data(), ULMImageRange(m_pixels, m_pixels, 0, 0), m_pixels), kULMOK);
        if (inNth > 0) tulx7sim::InjectCompletionFailure(inCode, inNth);
        out.render = Start();
        out.pixels.assign(clear.size(), 0xEE);
        out.unload = m_image->Unload(out.pixels.data(), ULMImageRange(m_pixels, m_pixels, 0, 0), m_pixels);
        return out;
    }

    // The drawing the way m_way says: what the call, or the wait, answers.
    ULMStatus Start() {
        const Way& way = *m_way;
        if (way.waited) {
            return (way.mpr ? m_volume->StartRenderMPR(m_context, 1.5, 1, way.mode, m_image)
                            : m_volume->StartRender(m_context, m_image, nullptr, nullptr, nullptr))
                .Wait(-1);
        }
        return way.mpr ? m_volume->RenderMPR(m_context, 1.5, 1, way.mode, m_image)
                       : m_volume->Render(m_context, m_image, nullptr, nullptr, nullptr);
    }

    void Release() {
        m_image.Assign(nullptr);
        m_context.Assign(nullptr);
        m_volume.Assign(nullptr);
    }

    // How many requests of inCode one render sends, the first render of
    // the volume (inWarm false) or a later one.
    int Count(const Road& inRoad, uint32_t inCode, bool inWarm) {
        Fresh(inRoad);
        Make(inRoad);
        if (inWarm) Draw(1);
        std::vector<uint8_t> clear = Start(0);
        m_image->Update(clear.data(), ULMImageRange(m_pixels, m_pixels, 0, 0), m_pixels);
        tulx7sim::ClearRequestLog();
        Start();
        m_image->Unload(clear.data(), ULMImageRange(m_pixels, m_pixels, 0, 0), m_pixels);
        const auto log = tulx7sim::RequestLog();
        Release();
        return int(std::count_if(log.begin(), log.end(), [inCode](const auto& e) {
            return e.code == inCode && e.reachedDriver && e.status == 0;
        }));
    }

    std::vector<uint8_t> m_voxels;
    int m_pixels = 0;
    const Way* m_way = &kWays[0];
    ReleasablePointer<ULMVolume> m_volume;
    ReleasablePointer<ULMContext> m_context;
    ReleasablePointer<ULMImageBuffer> m_image;

    void FailEachRequest(const Road& inRoad);
};

// Each request the render sends, failed in turn on a volume rendered for
// the first time and on one rendered before: the failure is answered or the
// picture is right, and the next render draws the clean picture.
TEST_P(RenderAfterFailureTest, TheRenderAfterAFailedOneDrawsTheCleanPicture) {
    for (const Way& way : kWays) {
        // An MPR slab is a parallel view.
        if (way.mpr && (GetParam().perspective || GetParam().rendersOnly)) continue;
        SCOPED_TRACE(way.name);
        m_way = &way;
        FailEachRequest(GetParam());
        if (HasFatalFailure()) return;
    }
}

void RenderAfterFailureTest::FailEachRequest(const Road& road) {
    Fresh(road);
    Make(road);
    // The clean drawing over either start, each drawn twice.
    Drawn clean[2];
    for (int p = 0; p < 2; ++p) {
        clean[p] = Draw(p);
        ASSERT_TRUE(clean[p].OK()) << clean[p].render << " " << clean[p].unload;
        ASSERT_TRUE(clean[p].pixels != Start(p)) << "the clean drawing draws something";
        const Drawn again = Draw(p);
        ASSERT_TRUE(again.OK() && again.pixels == clean[p].pixels) << "a clean drawing draws the same twice";
    }
    Release();
    for (const bool warm : {false, true}) {
        for (const uint32_t code : {uint32_t(TULX7_DR_RENDER), uint32_t(TULX7_DR_BUFFER_LOAD),
                                    uint32_t(TULX7_DR_BUFFER_UNLOAD), uint32_t(TULX7_DR_BUFFER_BOARD2BOARD)}) {
            const int count = std::min(4, Count(road, code, warm));
            for (int nth = 1; nth <= count; ++nth) {
                SCOPED_TRACE(::testing::Message() << (warm ? "rendered before, " : "first render, ") << testing::RequestKindName(code)
                                                  << " " << nth << " of " << count);
                Fresh(road);
                Make(road);
                if (warm) {
                    ASSERT_TRUE(Draw(1).OK());
                }
                const Drawn failed = Draw(0, code, nth);
                ASSERT_TRUE(tulx7sim::WaitForIdle(10000));
                // Render and RenderMPR answer OK while the work runs: only
                // a waited handle answers for how it ended.
                if (tulx7sim::GetStats().jobsFailed > 0 && m_way->waited) {
                    EXPECT_FALSE(failed.OK()) << "the failure is answered";
                }
                if (failed.OK() && m_way->waited) {
                    EXPECT_TRUE(failed.pixels == clean[0].pixels) << "an OK drawing drew the clean picture";
                }
                const Drawn next = Draw(1);
                EXPECT_EQ(next.render, kULMOK);
                EXPECT_EQ(next.unload, kULMOK);
                EXPECT_TRUE(next.pixels == clean[1].pixels) << "the next drawing draws the clean picture";
                Release();
            }
        }
    }
}

const Road kRoads[] = {
    {"plain", 1, 0, 0, false, kULMBoard0},
    {"plain on board 1", 2, 0, 0, false, kULMBoard1},
    {"plain on board 0 into board 1", 2, 0, 0, false, kULMBoard1, {26, 22, 18}, 36, kULMBlendFTB, true, true, false,
     kULMBoard0},
    {"bands", 2, 1, 0, false, kULMBoard1},
    {"bricks composited on a board", 2, 2, 1, false, kULMBoard1},
    {"bricks composited on the host", 2, 2, 2, false, kULMBoard1},
    {"mipmap over plain", 1, 0, 0, true, kULMBoard0},
    {"mipmap over plain on board 1", 2, 0, 0, true, kULMBoard1},
    {"mipmap over bands", 2, 1, 0, true, kULMBoard1},
    {"mipmap over bricks composited on a board", 2, 2, 1, true, kULMBoard1},
    {"mipmap over bricks composited on the host", 2, 2, 2, true, kULMBoard1},
    {"mipmap over bricks of a long volume", 2, 2, 1, true, kULMBoard1, {256, 28, 26}, 120, kULMBlendFTB, true, true,
     false, kULMNoBufferAttached, true},
    {"mipmap over bricks of a long volume, level of the view", 2, 2, 0, true, kULMBoard1, {256, 28, 26}, 100,
     kULMBlendFTB, true, false, false, kULMNoBufferAttached, true},
    {"mipmap over bricks, maximum", 2, 2, 0, true, kULMBoard1, {26, 22, 18}, 36, kULMBlendMaxAlpha},
    {"mipmap over bricks, composite chosen", 2, 2, 0, true, kULMBoard1},
    {"mipmap over bricks, unlocked", 2, 2, 0, true, kULMBoard1, {26, 22, 18}, 36, kULMBlendFTB, false},
    {"mipmap over bricks, level of the view", 2, 2, 0, true, kULMBoard1, {40, 36, 30}, 24, kULMBlendFTB, true,
     false},
    {"mipmap over bands, level of the view", 2, 1, 0, true, kULMBoard1, {40, 36, 30}, 24, kULMBlendFTB, true,
     false},
    {"perspective over bricks", 2, 2, 1, false, kULMBoard1, {26, 22, 18}, 36, kULMBlendFTB, true, true, true},
    {"mipmap over bricks in perspective", 2, 2, 1, true, kULMBoard1, {26, 22, 18}, 36, kULMBlendFTB, true, false,
     true},
    {"mipmap over plain in perspective", 1, 0, 0, true, kULMBoard0, {26, 22, 18}, 36, kULMBlendFTB, true, false,
     true},
    {"mipmap over plain, maximum, unlocked", 2, 0, 0, true, kULMBoard1, {26, 22, 18}, 36, kULMBlendMaxAlpha,
     false},
};

INSTANTIATE_TEST_SUITE_P(Roads, RenderAfterFailureTest, ::testing::ValuesIn(kRoads), testing::NameOfParam());

}  // namespace
}  // namespace ulm3
