// Pictures of a bricked volume seen through the public interface, against
// the picture of the same voxels on one board: minimum and maximum byte for
// byte, front to back within one 8-bit step per brick, at the finest level
// and through a coarser one, for bricks on two to four boards, volumes of
// odd sides and several turns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/bricked_mipmap.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

template <typename T>
struct Releaser {
    void operator()(T* inObject) const { inObject->Release(); }
};
template <typename T>
using Held = std::unique_ptr<T, Releaser<T>>;

struct View {
    int size[3];
    double tx, ty;
    int bricks;
    int level;    // the mipmap level rendered
    double zoom;  // the view's width over the volume's diagonal
};

class BrickedPicturesTest : public testing::ContextTest {
protected:
    BrickedPicturesTest() : ContextTest(test_support::SimBoards(4)) {}

    void SetUp() override {
        ContextTest::SetUp();
        m_table.reset(ULMLookupTable::Create(256));
        m_context.reset(ULMContext::Create(m_table.get()));
        ASSERT_NE(m_context, nullptr);
    }
    void TearDown() override {
        m_context.reset();
        m_table.reset();
        ContextTest::TearDown();
    }

    // A blob on a ramp with a ripple along Z: keys that tie and colours
    // that do not, once lit.
    void Fill(const int (&inSize)[3]) {
        std::copy(inSize, inSize + 3, m_size);
        const int nx = inSize[0], ny = inSize[1], nz = inSize[2];
        m_voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const double x = double(i % nx), y = double(i / nx % ny), z = double(i / nx / ny);
            const double blob = 230 - 9 * std::hypot(x - 0.6 * nx, y - 0.45 * ny, z - 0.5 * nz);
            m_voxels[i] = uint8_t(std::clamp(std::max(1.5 * x + 0.8 * y + 30 * std::sin(0.7 * z), blob), 0.0, 255.0));
        }
    }

    // Grey the voxel's value under an alpha that reaches 1 early (a
    // minimum or a maximum keyed on alpha: many samples tie, their colours
    // do not), or grey rising with a little opacity (front to back).
    void Classify(bool inExtreme) {
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f;
            const float a = inExtreme ? std::min(1.0f, 1.6f * v) : 0.04f * v;
            m_table->SetEntry(i, inExtreme ? ULMRGBAFloat(v, v, v, a) : ULMRGBAFloat(v * a, v * a, v * a, a));
        }
    }

    void Aim(double tx, double ty, double inZoom, int inSide) {
        const double r = 0.5 * inZoom * std::hypot(m_size[0], m_size[1], m_size[2]);
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetModelMatrix(ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - m_size[0]) / 2.0, (1 - m_size[1]) / 2.0,
                                                   (1 - m_size[2]) / 2.0));
        camera.SetViewport(0, 0, inSide, inSide);
    }

    // A mipmap volume over the voxels, in inBricks bricks (0: on one board).
    ULMVolume* NewVolume(int inBricks) { return testing::NewMipmapOverBricks(m_voxels.data(), m_size, inBricks); }

    std::vector<uint32_t> Picture(ULMVolume* inVolume, int inLevel, bool inBricked, int inSide, double inBorder) {
        EXPECT_EQ(inVolume->SetMipmapRange(inLevel, inLevel), kULMOK);
        const Held<ULMImageBuffer> image(ULMImageBuffer::Create(inBricked ? kULMMultiBoardMode2 : kULMBoard0,
                                                                unsigned(inSide), unsigned(inSide), 32, 4, kRGBA8));
        std::vector<uint32_t> pixels(size_t(inSide) * inSide, 0xDEADBEEF);
        EXPECT_NE(image, nullptr);
        if (image == nullptr) return pixels;
        image->SetBorderValue(inBorder, inBorder, inBorder, inBorder);
        EXPECT_EQ(inVolume->StartRender(m_context.get(), image.get(), nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_EQ(image->Unload(pixels.data(), ULMImageRange(inSide, inSide, 0, 0), unsigned(inSide)), kULMOK);
        return pixels;
    }

    int m_size[3] = {0, 0, 0};
    std::vector<uint8_t> m_voxels;
    Held<ULMLookupTable> m_table;
    Held<ULMContext> m_context;
};

struct Mode {
    const char* name;
    ULMBlendMode mode;
    double border;      // where no sample lands
    int stepsPerBrick;  // the largest difference allowed per brick
};

TEST_F(BrickedPicturesTest, BricksShowTheOneBoardPicture) {
    const View views[] = {
        {{67, 58, 45}, 30, 40, 2, 0, 1.1},   {{67, 58, 45}, 10, 100, 3, 0, 1.1}, {{67, 58, 45}, 200, 60, 4, 0, 1.1},
        {{45, 52, 31}, -20, 125, 2, 0, 1.1}, {{45, 52, 31}, 70, 10, 4, 0, 1.1},  {{45, 52, 31}, 30, 40, 3, 0, 0.3},
        {{67, 58, 45}, 30, 40, 2, 1, 1.1},   {{67, 58, 45}, 10, 100, 3, 1, 1.1}, {{67, 58, 45}, 200, 60, 4, 1, 1.1},
    };
    const Mode modes[] = {
        {"maximum", kULMBlendMaxAlpha, 0.0, 0},
        {"minimum", kULMBlendMinAlpha, 1.0, 0},
        {"front to back", kULMBlendFTB, 0.0, 1},
    };
    constexpr int kSide = 96;
    for (const View& view : views) {
        SCOPED_TRACE(::testing::Message() << view.size[0] << "x" << view.size[1] << "x" << view.size[2] << " turned "
                                        << view.tx << "," << view.ty << ", " << view.bricks << " bricks, level "
                                        << view.level);
        Fill(view.size);
        const Held<ULMVolume> one(NewVolume(0)), bricked(NewVolume(view.bricks));
        ASSERT_NE(one, nullptr);
        ASSERT_NE(bricked, nullptr);
        Aim(view.tx, view.ty, view.zoom, kSide);
        for (const Mode& mode : modes) {
            SCOPED_TRACE(mode.name);
            ASSERT_EQ(m_context->SetBlendMode(mode.mode), kULMOK);
            Classify(mode.stepsPerBrick == 0);
            const std::vector<uint32_t> want = Picture(one.get(), view.level, false, kSide, mode.border);
            const std::vector<uint32_t> got = Picture(bricked.get(), view.level, true, kSide, mode.border);
            const uint32_t blank = mode.border == 0.0 ? 0u : 0xFFFFFFFFu;
            int worst = 0, differ = 0, shown = 0;
            for (size_t i = 0; i < want.size(); ++i) {
                shown += want[i] != blank;
                int d = 0;
                for (int b = 0; b < 32; b += 8) d = std::max(d, std::abs(int(got[i] >> b & 255) - int(want[i] >> b & 255)));
                worst = std::max(worst, d);
                differ += d != 0;
            }
            EXPECT_GT(shown, kSide * kSide / 8) << "the volume fills a good part of the view";
            EXPECT_LE(worst, mode.stepsPerBrick * view.bricks) << differ << " pixels differ";
        }
    }
}

// An MPR's mean alpha through the same wrappers: a mipmap volume over
// bricks, at the finest level and through a coarser one, gives the
// one-board MPR byte for byte, the rays whose samples cross a seam too.
TEST_F(BrickedPicturesTest, BricksShowTheOneBoardMeanAlpha) {
    const View views[] = {
        {{67, 58, 45}, 30, 40, 2, 0, 1.1},
        {{45, 52, 31}, -20, 125, 3, 0, 1.1},
        {{67, 58, 45}, 10, 100, 4, 1, 1.1},
    };
    constexpr int kSide = 96;
    Classify(false);
    for (const View& view : views) {
        SCOPED_TRACE(::testing::Message() << view.size[0] << "x" << view.size[1] << "x" << view.size[2] << ", "
                                          << view.bricks << " bricks, level " << view.level);
        Fill(view.size);
        const Held<ULMVolume> one(NewVolume(0)), bricked(NewVolume(view.bricks));
        ASSERT_NE(one, nullptr);
        ASSERT_NE(bricked, nullptr);
        Aim(view.tx, view.ty, view.zoom, kSide);
        std::vector<uint32_t> pictures[2];
        for (const bool inBricks : {false, true}) {
            ULMVolume* volume = inBricks ? bricked.get() : one.get();
            ASSERT_EQ(volume->SetMipmapRange(view.level, view.level), kULMOK);
            const Held<ULMImageBuffer> image(ULMImageBuffer::Create(inBricks ? kULMMultiBoardMode2 : kULMBoard0,
                                                                    unsigned(kSide), unsigned(kSide), 32, 4, kRGBA8));
            ASSERT_NE(image, nullptr);
            ASSERT_EQ(volume->StartRenderMPR(m_context.get(), 1.5, 4, ULMVolume::kMPRAlpha, image.get()).Wait(-1),
                      kULMOK);
            pictures[inBricks].assign(size_t(kSide) * kSide, 0xDEADBEEF);
            ASSERT_EQ(image->Unload(pictures[inBricks].data(), ULMImageRange(kSide, kSide, 0, 0), unsigned(kSide)),
                      kULMOK);
        }
        int differ = 0, shown = 0;
        for (size_t i = 0; i < pictures[0].size(); ++i) {
            shown += pictures[0][i] != 0;
            differ += pictures[1][i] != pictures[0][i];
        }
        EXPECT_GT(shown, kSide * kSide / 8) << "the plane crosses a good part of the view";
        EXPECT_EQ(differ, 0);
    }
}

}  // namespace
}  // namespace ulm3
