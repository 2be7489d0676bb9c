// Banded (and, in perspective, bricked) pictures against the one-board
// picture of the same voxels, as an application sees them through the
// public interface: the bands give the one-board picture byte for byte,
// whatever the background colour, blend mode, sizes and height of the
// picture; bricks in perspective come within a stated tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/sim_library_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

using Pixels = std::vector<uint32_t>;

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

// Pixels that differ, and the largest difference of a channel in steps.
struct Difference {
    int pixels = 0;
    int steps = 0;
};

Difference Compare(const Pixels& inA, const Pixels& inB) {
    Difference d;
    for (size_t i = 0; i < inA.size(); ++i) {
        int worst = 0;
        for (int s = 0; s < 32; s += 8)
            worst = std::max(worst, std::abs(int(inA[i] >> s & 255) - int(inB[i] >> s & 255)));
        d.pixels += worst > 0;
        d.steps = std::max(d.steps, worst);
    }
    return d;
}

int Lit(const Pixels& inPixels) {
    return int(std::count_if(inPixels.begin(), inPixels.end(), [](uint32_t p) { return (p & 0xFFFFFF) != 0; }));
}

struct Releaser {
    void operator()(ULMShareable* inObject) const { inObject->Release(); }
};
using Volume = std::unique_ptr<ULMVolume, Releaser>;

struct Picture {
    ULMStatus status = kULMErrInternal;
    Pixels pixels;
    ULMImageRange limits;
    Pixels depths;  // with a depth buffer 1
};

// A blob on a ramp, turned (30, 40) degrees, seen in parallel or in
// perspective; the picture cleared to a colour no render writes first.
class PictureScene : public test_support::SimLibraryTest {
protected:
    explicit PictureScene(int inBoards) : SimLibraryTest(test_support::SimBoards(inBoards)) {}
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
        ULMSetParameter("MipmapMinVolumeSize", 1u << 30);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        // One board renders two bands, one after the other.
        ULMSetParameter("MultiboardForceNumberOfVolumes", m_settings.boards == 1 ? 2 : 0);
        m_table = ULMLookupTable::Create(256);
        ASSERT_NE(m_table, nullptr);
        m_context = ULMContext::Create(m_table);
        ASSERT_NE(m_context, nullptr);
    }
    void TearDown() override {
        if (m_context != nullptr) m_context->Release();
        if (m_table != nullptr) m_table->Release();
        SimLibraryTest::TearDown();
    }

    // Colours weighted by opacity, which rises with the voxel above 40 up
    // to inOpacity.
    void MakeVoxels(int nx, int ny, int nz, double inOpacity = 0.43) {
        m_size[0] = nx, m_size[1] = ny, m_size[2] = nz;
        m_voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const double x = double(i % nx), y = double(i / nx % ny), z = double(i / nx / ny);
            const double blob = 230 - 12 * std::hypot(x - 0.6 * nx, y - 0.4 * ny, z - 0.55 * nz);
            m_voxels[i] = uint8_t(std::clamp(std::max(1.5 * x + y, blob), 0.0, 255.0));
        }
        for (int i = 0; i < 256; ++i) {
            const float a = i < 40 ? 0.0f : float(inOpacity * (i - 40) / 215.0);
            m_table->SetEntry(i, ULMRGBAFloat(a * float(i) / 255.0f, a * (1 - float(i) / 255.0f), a * 0.6f, a));
        }
    }

    // The volume's centre inShift of the frame's half height above the
    // middle; inPixels: one voxel a pixel, else the volume's diagonal in
    // the frame; inFieldOfView 0 for a parallel view.
    void Aim(int inWidth, int inHeight, double inShift = 0.0, bool inPixels = false, double inFieldOfView = 0.0) {
        m_width = inWidth, m_height = inHeight;
        const double r = inPixels ? inHeight / 2.0 : 0.55 * std::hypot(m_size[0], m_size[1], m_size[2]);
        const double aspect = double(inWidth) / inHeight;
        ULMMatrix model = ULMMatrix::Translate(0, inShift * r, 0) * ULMMatrix::Rotate(30, ULMVector3D(1, 0, 0)) *
                          ULMMatrix::Rotate(40, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate((1 - m_size[0]) / 2.0, (1 - m_size[1]) / 2.0, (1 - m_size[2]) / 2.0);
        ULMCamera camera;
        if (inFieldOfView > 0) {
            const double distance = r / std::tan(inFieldOfView * M_PI / 360.0) + r;
            model = ULMMatrix::Translate(0, 0, -distance) * model;
            camera.SetProjectionMatrix(ULMMatrix::Perspective(inFieldOfView, aspect, distance - r, distance + r));
        } else {
            camera.SetProjectionMatrix(ULMMatrix::Ortho(-r * aspect, r * aspect, -r, r, -2 * r, 2 * r));
        }
        camera.SetModelMatrix(model);
        camera.SetViewport(0, 0, inWidth, inHeight);
        ASSERT_EQ(m_context->SetCamera(camera), kULMOK);
    }

    // A volume spread over the boards (render mode 1 bands, 2 bricks), or
    // with inMode 0 a plain one on board 0; locked.
    Volume NewVolume(int inMode) {
        if (inMode != 0) ULMSetParameter("MultiboardRenderMode", uint64_t(inMode));
        ULMSetParameter("MultiboardRenderEnable", inMode != 0 ? 1 : 0);
        ULMVolume* volume = ULMVolume::Create(1u, m_voxels.data(), unsigned(m_size[0]), unsigned(m_size[1]),
                                              unsigned(m_size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_NE(volume, nullptr);
        if (volume != nullptr) {
            EXPECT_EQ(volume->LockVolume(inMode != 0 ? kULMAnyBoard : kULMBoard0), kULMOK);
        }
        return Volume(volume);
    }

    // The picture of inVolume in an image where its voxels lie, with
    // inBackground (red, green, blue, alpha) as its border value; an MPR
    // slab two voxels deep when inMPR.
    Picture Render(const Volume& inVolume, const double* inBackground = nullptr,
                   const ULMVolume::MPRMode* inMPR = nullptr, bool inDepth = false) const {
        Picture picture;
        picture.pixels.assign(size_t(m_width) * m_height, 0xDEADBEEF);
        const ULMLocation at = inVolume->GetBufferLocation();
        ULMImageBuffer* image = ULMImageBuffer::Create(at == kULMMultiBoardMode1 || at == kULMMultiBoardMode2 ? at
                                                                                                           : kULMBoard0,
                                                       unsigned(m_width), unsigned(m_height), 32, 4, kRGBA8);
        if (image == nullptr) {
            picture.status = kULMErrAlloc;
            return picture;
        }
        const ULMImageRange whole(m_width, m_height, 0, 0);
        picture.status = image->Clear(whole, 0x11223344);
        if (picture.status == kULMOK && inBackground != nullptr)
            picture.status =
                image->SetBorderValue(inBackground[0], inBackground[1], inBackground[2], inBackground[3]);
        ULMDepthBuffer* depth = nullptr;
        if (inDepth) {
            depth = ULMDepthBuffer::Create(image->GetLocation(), unsigned(m_width), unsigned(m_height));
            if (depth == nullptr || depth->Clear(whole, 0xFFFFFF) != kULMOK) picture.status = kULMErrAlloc;
        }
        if (picture.status == kULMOK)
            picture.status = (inMPR != nullptr ? inVolume->StartRenderMPR(m_context, 2.0, 2, *inMPR, image)
                                               : inVolume->StartRender(m_context, image, nullptr, nullptr, depth))
                                 .Wait(-1);
        // A render that answers a failure still shows what it left.
        const ULMStatus unloaded = image->Unload(picture.pixels.data(), whole, 0);
        if (picture.status == kULMOK) picture.status = unloaded;
        if (depth != nullptr) {
            picture.depths.assign(picture.pixels.size(), 0xDEADBEEF);
            if (picture.status == kULMOK)
                picture.status = depth->Unload(picture.depths.data(), whole, 0, ULMDepthBuffer::kDepth24Low);
            depth->Release();
        }
        picture.limits = image->GetOutputLimits();
        image->Release();
        return picture;
    }

    int m_size[3] = {};
    std::vector<uint8_t> m_voxels;
    ULMLookupTable* m_table = nullptr;
    ULMContext* m_context = nullptr;
    int m_width = 0, m_height = 0;
};

class BandsTest : public PictureScene, public ::testing::WithParamInterface<int> {
protected:
    BandsTest() : PictureScene(GetParam()) {}
};

// The volume off centre, so that some bands show none of it and are
// written only with the background.
struct ParallelCase {
    int volume[3];
    int width, height;
    double shift;
};

TEST_P(BandsTest, BandsGiveTheOneBoardPictureWithAndWithoutBackgroundInEveryBlendModeAndMPR) {
    const ParallelCase cases[] = {{{67, 53, 41}, 112, 112, 0.6}, {{21, 17, 13}, 50, 38, -0.7}};
    const double background[4] = {0.2, 0.4, 0.6, 0.8};
    for (const ParallelCase& c : cases) {
        MakeVoxels(c.volume[0], c.volume[1], c.volume[2]);
        Aim(c.width, c.height, c.shift);
        const Volume one = NewVolume(0), bands = NewVolume(1);
        ASSERT_TRUE(one != nullptr && bands != nullptr);
        EXPECT_EQ(bands->GetBufferLocation(), kULMMultiBoardMode1);
        for (const int mode : {1, 5, 8, 15}) {
            for (const double* colour : {static_cast<const double*>(nullptr), background}) {
                SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", mode " << mode
                                                  << (colour ? ", background" : ", no background"));
                ASSERT_EQ(m_context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
                const Picture expected = Render(one, colour);
                const Picture got = Render(bands, colour);
                ASSERT_EQ(expected.status, kULMOK);
                ASSERT_EQ(got.status, kULMOK);
                // A minimum over a black background is black.
                if (mode != 8 || colour != nullptr) {
                    EXPECT_GT(Lit(expected.pixels), 200);
                }
                const Difference d = Compare(expected.pixels, got.pixels);
                EXPECT_EQ(d.pixels, 0) << "up to " << d.steps << " steps";
                EXPECT_TRUE(got.limits == expected.limits);
            }
        }
        ASSERT_EQ(m_context->SetBlendMode(kULMBlendFTBPreWeighted), kULMOK);
        for (const ULMVolume::MPRMode mpr : {ULMVolume::kMPRAlpha, ULMVolume::kMPRRGBA}) {
            SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", MPR " << mpr);
            const Picture expected = Render(one, background, &mpr);
            const Picture got = Render(bands, background, &mpr);
            ASSERT_EQ(expected.status, kULMOK);
            ASSERT_EQ(got.status, kULMOK);
            EXPECT_GT(Lit(expected.pixels), 200);
            EXPECT_EQ(Compare(expected.pixels, got.pixels).pixels, 0);
        }
    }
}

// Views that miss the volume entirely, above or below the frame, whatever
// the blend mode: one board leaves a parallel picture as it was (and fills
// a perspective frame with the background), and the bands give that
// picture and its limits. Each band left empty counts as drawn, so the
// bands may answer success where one board answers an empty render.
TEST_P(BandsTest, AViewThatMissesTheVolumeLeavesThePictureAsOneBoardDoes) {
    MakeVoxels(21, 17, 13);
    const Volume one = NewVolume(0), bands = NewVolume(1);
    ASSERT_TRUE(one != nullptr && bands != nullptr);
    const double background[4] = {0.2, 0.4, 0.6, 0.8};
    const struct {
        double shift;
        double fieldOfView;
    } views[] = {{3.0, 0.0}, {-3.0, 0.0}, {4.0, 30.0}};
    for (const auto& view : views) {
        Aim(50, 38, view.shift, false, view.fieldOfView);
        for (const int mode : {1, 5, 8, 15}) {
            SCOPED_TRACE(::testing::Message() << "shift " << view.shift << ", field of view " << view.fieldOfView
                                              << ", mode " << mode);
            ASSERT_EQ(m_context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
            const Picture expected = Render(one, background);
            const Picture got = Render(bands, background);
            EXPECT_TRUE(got.status == kULMOK || got.status == expected.status) << got.status;
            if (view.fieldOfView == 0.0) {
                EXPECT_EQ(expected.pixels, Pixels(expected.pixels.size(), 0x11223344)) << "one board draws nothing";
            }
            EXPECT_EQ(Compare(expected.pixels, got.pixels).pixels, 0);
            EXPECT_TRUE(got.limits == expected.limits);
        }
    }
}

// At one voxel a pixel, pictures of every height from 1 to 130 rows: each
// has its bands (fewer than the boards where its rows are few) and its
// render answers as one board's, with the same picture.
TEST_P(BandsTest, EveryHeightHasBandsAndTheOneBoardPicture) {
    MakeVoxels(14, 12, 10);
    const Volume one = NewVolume(0), bands = NewVolume(1);
    ASSERT_TRUE(one != nullptr && bands != nullptr);
    for (int height = 1; height <= 130; ++height) {
        SCOPED_TRACE(height);
        Aim(16, height, 0.0, true);
        const Picture expected = Render(one);
        const Picture got = Render(bands);
        EXPECT_NE(got.status, kULMErrAlloc);
        ASSERT_EQ(got.status, expected.status);
        EXPECT_EQ(Compare(expected.pixels, got.pixels).pixels, 0);
    }
    // Tall pictures too: every height a board takes can be banded.
    for (const unsigned height : {131u, 258u, 1001u, 4095u, 4096u}) {
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMMultiBoardMode1, 2, height, 32, 4, kRGBA8);
        EXPECT_NE(image, nullptr) << height;
        if (image != nullptr) image->Release();
    }
}

// Pixels move into bands and out of them whole, however few the rows.
TEST_P(BandsTest, FewRowsMoveIntoBandsAndBackWhole) {
    for (const int height : {1, 2, 3, 5, 18, 66}) {
        SCOPED_TRACE(height);
        const ULMImageRange whole(5, height, 0, 0);
        Pixels pixels(size_t(5) * height);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint32_t(0x01020304u * (i + 1));
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, 5, unsigned(height), 32, 4, kRGBA8);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        EXPECT_EQ(image->Update(pixels.data(), whole, 0), kULMOK);
        for (const ULMLocation to : {kULMMultiBoardMode1, ULMLocation(GetParam() - 1)}) {
            EXPECT_EQ(image->Migrate(to), kULMOK) << to;
            Pixels got(pixels.size(), 0);
            EXPECT_EQ(image->Unload(got.data(), whole, 0), kULMOK);
            EXPECT_EQ(got, pixels) << to;
        }
        image->Release();
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, BandsTest, ::testing::Range(1, 9));

class PerspectiveTest : public PictureScene, public ::testing::WithParamInterface<int> {
protected:
    PerspectiveTest() : PictureScene(GetParam()) {}
};

// Bands render their rows of one plan of the frame: the one-board picture.
// Bricks share the plan too, but each brick's partial frame is warped on
// its own and composited in 8 bits, where one board warps the whole: the
// picture comes within two steps, over up to three fifths of what shows.
TEST_P(PerspectiveTest, BandsGiveTheOneBoardPictureAndBricksComeWithinTwoSteps) {
    MakeVoxels(67, 53, 41, 0.1);
    Aim(112, 112, 0.0, false, 40.0);
    const Picture expected = Render(NewVolume(0));
    ASSERT_EQ(expected.status, kULMOK);
    const int lit = Lit(expected.pixels);
    EXPECT_GT(lit, 1000);
    for (const int mode : {1, 2}) {
        SCOPED_TRACE(mode == 1 ? "bands" : "bricks");
        const Volume spread = NewVolume(mode);
        ASSERT_NE(spread, nullptr);
        EXPECT_EQ(spread->GetBufferLocation(), mode == 1 ? kULMMultiBoardMode1 : kULMMultiBoardMode2);
        const Picture got = Render(spread);
        ASSERT_EQ(got.status, kULMOK);
        const Difference d = Compare(expected.pixels, got.pixels);
        if (mode == 1) {
            EXPECT_EQ(d.pixels, 0) << "up to " << d.steps << " steps";
            // The farthest samples' depths, written by every band.
            ASSERT_EQ(m_context->SetDepthUpdateFilter(ULMContext::kDepthBuffer1, ULMContext::kFilterNone), kULMOK);
            const Picture deep = Render(spread, nullptr, nullptr, true);
            const Picture oneDeep = Render(NewVolume(0), nullptr, nullptr, true);
            ASSERT_EQ(m_context->SetDepthUpdateFilter(ULMContext::kDepthBuffer1, ULMContext::kAlwaysFail), kULMOK);
            ASSERT_EQ(deep.status, kULMOK);
            ASSERT_EQ(oneDeep.status, kULMOK);
            EXPECT_NE(oneDeep.depths, Pixels(oneDeep.depths.size(), 0xFFFFFF));
            EXPECT_EQ(deep.depths, oneDeep.depths);
            EXPECT_EQ(deep.pixels, oneDeep.pixels);
        } else {
            // Measured: 404 (2 bricks) and 789 (3 bricks) of 1450 lit
            // pixels, up to 2 steps.
            EXPECT_LE(d.steps, 2) << d.pixels << " pixels of " << lit;
            EXPECT_LE(d.pixels, lit * 3 / 5) << "up to " << d.steps << " steps";
        }
    }
}

// A cube at the centre of a perspective frame turned only about the
// vertical: the tile edge through its centre falls on the frame's middle
// row, a row of pixel centres, which in a picture of an odd height over two
// bands is the first band's last. The tile below that edge reaches the row
// only once its corners are rounded to the warp's grid, a hair's breadth
// from where they lie; the band must still draw it, and the bands give
// the one-board picture.
TEST_P(PerspectiveTest, ARowATileReachesOnlyByRoundingIsDrawnInItsBand) {
    MakeVoxels(64, 64, 64, 0.3);
    const Volume one = NewVolume(0), bands = NewVolume(1);
    ASSERT_TRUE(one != nullptr && bands != nullptr);
    const struct {
        double turn;
        int height;
    } views[] = {{20, 71}, {20, 75}, {35, 59}, {35, 63}, {35, 83}};
    for (const auto& view : views) {
        SCOPED_TRACE(::testing::Message() << "turned " << view.turn << ", " << view.height << " rows");
        m_width = 64, m_height = view.height;
        const double r = 0.55 * std::hypot(m_size[0], m_size[1], m_size[2]);
        const double distance = r / std::tan(40.0 * M_PI / 360.0) + r;
        ULMCamera camera;
        camera.SetProjectionMatrix(
            ULMMatrix::Perspective(40.0, double(m_width) / m_height, distance - r, distance + r));
        camera.SetModelMatrix(ULMMatrix::Translate(0, 0, -distance) * ULMMatrix::Rotate(view.turn, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - m_size[0]) / 2.0, (1 - m_size[1]) / 2.0, (1 - m_size[2]) / 2.0));
        camera.SetViewport(0, 0, m_width, m_height);
        ASSERT_EQ(m_context->SetCamera(camera), kULMOK);
        const Picture expected = Render(one);
        const Picture got = Render(bands);
        ASSERT_EQ(expected.status, kULMOK);
        ASSERT_EQ(got.status, kULMOK);
        EXPECT_GT(Lit(expected.pixels), m_width * m_height / 8);
        const Difference d = Compare(expected.pixels, got.pixels);
        EXPECT_EQ(d.pixels, 0) << "up to " << d.steps << " steps";
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, PerspectiveTest, ::testing::Values(2, 3));

}  // namespace
}  // namespace ulm3::testing
