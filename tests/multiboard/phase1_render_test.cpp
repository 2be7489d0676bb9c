// The band render of a phase-1 volume against the same render of the plain
// volume on one board: the picture, the depths and the output limits byte
// for byte, over board counts, blend modes, depth buffers and MPR; which
// boards render; the refusals; and the joined event.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "foundation/log_capture.h"
#include "multiboard/phase1_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/chip_model.h"
#include "volume/volume_internal.h"
#include "volume/volume_upper_layers.h"

namespace ulm3::testing {
namespace {

struct Layout {
    int boards;
    int subVolumes;  // 0: one per board
};
void PrintTo(const Layout& l, std::ostream* out) { *out << l.boards << " boards, " << l.subVolumes << " sub-volumes"; }

class Phase1ImageTest : public Phase1Test, public ::testing::WithParamInterface<Layout> {
protected:
    Phase1ImageTest() : Phase1Test(GetParam().boards) {}
    void SetUp() override {
        Phase1Test::SetUp();
        plain.Assign(NewVolume());
        ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        banded.Assign(NewBanded(GetParam().subVolumes));
        ASSERT_NE(banded.GetPointer(), nullptr);
    }
    void TearDown() override {
        plain.Assign(nullptr);
        banded.Assign(nullptr);
        Phase1Test::TearDown();
    }
    ReleasablePointer<ULMVolume> plain;
    ReleasablePointer<ULMMultiboardVolumePhase1> banded;
};

TEST_P(Phase1ImageTest, BandsEqualTheOneBoardPictureInEveryBlendMode) {
    for (const int mode : {1, 2, 3, 4, 5, 7, 12, 15}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(m_context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        ReleasablePointer<ULMImageBuffer> one(NewImage(kULMBoard0));
        ASSERT_EQ(plain->StartRender(m_context, one, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        ReleasablePointer<ULMImageBuffer> bands(NewImage(kULMBoard0));
        ASSERT_EQ(banded->StartRender(m_context, bands, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_EQ(bands->GetLocation(), kULMMultiBoardMode1);
        const Pixels expected = Read(one);
        EXPECT_GT(Lit(expected), 100);
        EXPECT_EQ(Read(bands), expected);
        EXPECT_TRUE(one->GetOutputLimits() == bands->GetOutputLimits());
        EXPECT_EQ(bands->GetLastVolumeRendered(), banded->GetObjectID());
    }
}

// Depth 0 tested against a slope of input depths, depth 1 written by the
// farthest samples; image 1 the output.
TEST_P(Phase1ImageTest, DepthBuffersAndImageOneEqualTheOneBoardRender) {
    std::vector<uint32_t> slope(size_t(m_width) * m_height);
    for (size_t i = 0; i < slope.size(); ++i) slope[i] = uint32_t((i % m_width) * 0x30000 + (i / m_width) * 0x1000);
    ASSERT_EQ(m_context->SetDepthTest(ULMContext::kDepthBuffer0, ULMContext::kDepthTestLess), kULMOK);
    ASSERT_EQ(m_context->SetDepthUpdateFilter(ULMContext::kDepthBuffer1, ULMContext::kFilterNone), kULMOK);
    ASSERT_EQ(m_context->SetImageOutputBuffer(ULMContext::kImageBuffer1), kULMOK);
    Pixels out[2][3];
    ULMVolume* const volumes[2] = {plain, banded};
    for (int v = 0; v < 2; ++v) {
        ReleasablePointer<ULMImageBuffer> image0(NewImage(kULMBoard0)), image1(NewImage(kULMBoard0));
        ReleasablePointer<ULMDepthBuffer> depth0(NewDepth(kULMBoard0, &slope)), depth1(NewDepth(kULMBoard0));
        ASSERT_EQ(volumes[v]->StartRender(m_context, image0, depth0, image1, depth1).Wait(-1), kULMOK);
        out[v][0] = Read(image1.GetPointer());
        out[v][1] = Read(depth0.GetPointer());
        out[v][2] = Read(depth1.GetPointer());
        EXPECT_EQ(Lit(Read(image0.GetPointer())), 0) << "image 0 is not the output";
    }
    EXPECT_GT(Lit(out[0][0]), 100);
    EXPECT_NE(out[0][2], Pixels(out[0][2].size(), 0xFFFFFF)) << "depth 1 was written";
    for (int k = 0; k < 3; ++k) EXPECT_EQ(out[1][k], out[0][k]) << k;
}

TEST_P(Phase1ImageTest, MPRBandsEqualTheOneBoardMPR) {
    for (const auto mode : {ULMVolume::kMPRAlpha, ULMVolume::kMPRRGBA}) {
        Pixels out[2];
        ULMVolume* const volumes[2] = {plain, banded};
        for (int v = 0; v < 2; ++v) {
            ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
            ASSERT_EQ(image->SetBorderValue(0.2, 0.4, 0.6, 0.8), kULMOK);
            ASSERT_EQ(volumes[v]->StartRenderMPR(m_context, 2.0, 2, mode, image).Wait(-1), kULMOK);
            out[v] = Read(image.GetPointer());
        }
        EXPECT_GT(Lit(out[0]), 100) << mode;
        EXPECT_EQ(out[1], out[0]) << mode;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Phase1ImageTest,
                         ::testing::Values(Layout{2, 0}, Layout{3, 0}, Layout{8, 0}, Layout{2, 4}));

// Which boards a render reaches, and how its event ends.
class Phase1BandWorkTest : public Phase1Test {
protected:
    explicit Phase1BandWorkTest(int inBoards = 4) : Phase1Test(inBoards) {}

    // Per board, the renders in the request log.
    static std::vector<int> RendersPerBoard() {
        std::vector<int> renders(4, 0);
        for (const auto& entry : tulx7sim::RequestLog())
            if (entry.code == TULX7_DR_RENDER && entry.board >= 0 && entry.board < 4) ++renders[entry.board];
        return renders;
    }
};

TEST_F(Phase1BandWorkTest, OnlyTheBandsTheRenderAreaMeetsCostBoardWork) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    // Four bands of 16 rows: the viewport covers rows 0 to 31, bands 0 and 1.
    Rows(0, 32);
    tulx7sim::ClearRequestLog();
    tulx7sim::ClearChipDiagnostics();
    ASSERT_EQ(banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_EQ(RendersPerBoard(), (std::vector<int>{1, 1, 0, 0}));
    EXPECT_GT(tulx7sim::GetChipDiagnostics(0).samples, 0u);
    EXPECT_EQ(tulx7sim::GetChipDiagnostics(2).samples + tulx7sim::GetChipDiagnostics(3).samples, 0u);
}

class Phase1TwoBoardWorkTest : public Phase1BandWorkTest {
protected:
    Phase1TwoBoardWorkTest() : Phase1BandWorkTest(2) {}
};

// With four sub-volumes on two boards a board renders two bands; the render
// area here meets only bands 2 and 3, so that the boards' first bands do
// not render at all, and the event must not end with the boards' earlier
// work.
TEST_F(Phase1TwoBoardWorkTest, ThePausedBoardsBandsHoldTheEventUntilTheyHaveRun) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded(4));
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    Rows(32, 32);
    // Each board has the tables of this render before it is paused: the
    // render cache loads them, and waits for that, on a board's first render.
    ASSERT_EQ(banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ASSERT_EQ(image->Clear(Whole(), 0), kULMOK);
    tulx7sim::PauseBoard(1);
    const ULMSyncEvent event = banded->StartRender(m_context, image, nullptr, nullptr, nullptr);
    EXPECT_EQ(banded->Render(m_context, image, nullptr, nullptr, nullptr), kULMOK) << "no wait";
    EXPECT_EQ(event.Wait(100), kULMTimeout) << "band 3, on the paused board, has not run";
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(event.Wait(-1), kULMOK);
    const Pixels pixels = Read(image.GetPointer());
    EXPECT_GT(Lit(Pixels(pixels.begin() + 48 * m_width, pixels.end())), 0) << "band 3 is drawn";
}

// Board 1's band fails on the board; board 0's finishes, and so does the
// call, with the failure, without a hang.
TEST_F(Phase1TwoBoardWorkTest, AFailureOnOneBoardFailsTheCallWhileTheOthersFinish) {
    ReleasablePointer<ULMVolume> plain(NewVolume());
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    ReleasablePointer<ULMImageBuffer> one(NewImage(kULMBoard0));
    ASSERT_EQ(plain->StartRender(m_context, one, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    tulx7sim::InjectCompletionFailure(TULX7_DR_RENDER, 2);
    const ULMStatus status = banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1);
    EXPECT_TRUE(ULMFailed(status)) << status;
    const Pixels expected = Read(one.GetPointer()), got = Read(image.GetPointer());
    const size_t half = size_t(m_width) * 32;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + half, expected.begin())) << "board 0's band is drawn";
    EXPECT_EQ(Lit(Pixels(got.begin() + half, got.end())), 0) << "board 1's band is not";
}

TEST_F(Phase1BandWorkTest, AnUnlockedVolumeIsLockedOnEveryBoardBeforeItsBandsRender) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    EXPECT_FALSE(banded->IsLocked());
    ASSERT_EQ(banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_TRUE(banded->IsLocked());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(banded->GetSubvolume(i)->GetBufferLocation(), ULMLocation(i)) << i;
    EXPECT_GT(Lit(Read(image.GetPointer())), 100);
}

// The buffers that cannot be banded: each refusal is named in one message
// and the render is kULMErrBuffer before any band renders.
TEST_F(Phase1BandWorkTest, BuffersThatCannotBeBandedAreRefusedByNumber) {
    ReleasablePointer<ULMImageBuffer> twoBands;
    {
        // An image banded while two bands were configured, for a volume of four.
        ULMSetParameter("MultiboardForceNumberOfVolumes", 2);
        twoBands.Assign(NewImage(kULMMultiBoardMode1));
    }
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ReleasablePointer<ULMImageBuffer> pinned(ULMImageBuffer::Create(kULMBoard0, 64, 64, 32, 4, kRGBA8));
    ReleasablePointer<ULMDepthBuffer> depth(NewDepth(kULMBoard0));
    ASSERT_EQ(depth->SetMigrationMode(kULMMigrationNone), kULMOK);
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const struct {
        ULMImageBuffer* image0;
        ULMImageBuffer* image1;
        ULMDepthBuffer* depth0;
        const char* message;
    } cases[] = {
        {twoBands, nullptr, nullptr, "MB1::StartRender buffer 0 has 2 subbuffers but volume has 4\n"},
        {image, pinned, nullptr, "MB1::StartRender buffer 1 failed ("},
        {image, nullptr, depth, "MB1::StartRender buffer 0 failed ("},
    };
    for (const auto& c : cases) {
        testing_support::LogToFile log;
        tulx7sim::ClearRequestLog();
        const ULMStatus status = banded->StartRender(m_context, c.image0, c.depth0, c.image1, nullptr).Wait(-1);
        EXPECT_EQ(status, kULMErrBuffer) << c.message;
        EXPECT_NE(log.Contents().find(c.message), std::string::npos) << log.Contents();
        EXPECT_EQ(RendersPerBoard(), (std::vector<int>{0, 0, 0, 0})) << c.message;
    }
    // The same buffers banded as they should be render.
    ASSERT_EQ(m_context->SetDepthTest(ULMContext::kDepthBuffer0, ULMContext::kDepthTestLess), kULMOK);
    ReleasablePointer<ULMDepthBuffer> bandedDepth(NewDepth(kULMBoard0));
    EXPECT_EQ(banded->StartRender(m_context, image, bandedDepth, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_EQ(bandedDepth->GetLocation(), kULMMultiBoardMode1);
}

// An engine that answers every band's render but the top band's with an
// empty one, leaving a few pixels of its band in the output's limits or
// none; the top band and the volume's own state are the real engine's. (A
// render that no band draws is empty as a whole, as on one board.)
class EmptyRenders final : public ULMVolumeRenderEngine {
public:
    EmptyRenders(ULMVolumeRenderEngine& inReal, bool inLeftLimits) : m_real(inReal), m_leftLimits(inLeftLimits) {}
    std::unique_ptr<ULMVolumeEngineState> MakeState() override { return m_real.MakeState(); }
    ULMSyncEvent StartRender(ULMVolumeInternal& v, const ULMContext* c, ULMImageBuffer* ioColor0, ULMDepthBuffer* d0,
                             ULMImageBuffer* c1, ULMDepthBuffer* d1) override {
        if (ioColor0->GetAddressParameterY() == 0) return m_real.StartRender(v, c, ioColor0, d0, c1, d1);
        return LeaveEmpty(ioColor0);
    }
    ULMSyncEvent StartRenderMPR(ULMVolumeInternal& v, const ULMContext* c, double d, int q, ULMVolume::MPRMode m,
                                ULMImageBuffer* ioImage) override {
        if (ioImage->GetAddressParameterY() == 0) return m_real.StartRenderMPR(v, c, d, q, m, ioImage);
        return LeaveEmpty(ioImage);
    }
    ULMSyncEvent LeaveEmpty(ULMImageBuffer* ioBand) const {
        const int top = ioBand->GetAddressParameterY();
        ioBand->SetOutputLimits(m_leftLimits ? ULMImageRange(4, 4, 2, top + 2) : ULMImageRange());
        return ULMSyncEvent(kULMErrEmptyRender);
    }
    void InitializeSpaceLeaping(ULMVolumeInternal& v) override { m_real.InitializeSpaceLeaping(v); }
    void ClearSpaceLeaping(ULMVolumeInternal& v) override { m_real.ClearSpaceLeaping(v); }
    ULMStatus SetSpaceLeapingParameters(ULMVolumeInternal& v, ULMVolume::SpaceLeapingMode m,
                                        const double (&t)[4]) override {
        return m_real.SetSpaceLeapingParameters(v, m, t);
    }
    void GetSpaceLeapingParameters(const ULMVolumeInternal& v, ULMVolume::SpaceLeapingMode& m,
                                   double (&t)[4]) override {
        m_real.GetSpaceLeapingParameters(v, m, t);
    }

private:
    ULMVolumeRenderEngine& m_real;
    bool m_leftLimits;
};

TEST_F(Phase1BandWorkTest, AnEmptyBandIsDrawnOnlyWhenItLeftNothingInItsLimits) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    ULMVolumeRenderEngine& real = ULMGetVolumeRenderEngine();
    for (const bool leftLimits : {false, true}) {
        EmptyRenders empty(real, leftLimits);
        ULMRegisterVolumeRenderEngine(empty);
        const ULMStatus render = banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1);
        const ULMStatus mpr = banded->StartRenderMPR(m_context, 0, 1, ULMVolume::kMPRAlpha, image).Wait(-1);
        ULMRegisterVolumeRenderEngine(real);
        EXPECT_EQ(render, leftLimits ? kULMErrEmptyRender : kULMOK);
        EXPECT_EQ(mpr, leftLimits ? kULMErrEmptyRender : kULMOK);
        if (!leftLimits) {
            // The empty bands add nothing: the limits are the top band's.
            const ULMImageRange limits = image->GetOutputLimits();
            EXPECT_FALSE(limits.IsEmpty());
            EXPECT_LE(limits.YOrigin() + limits.YSize(), m_height / 4);
        }
    }
}

// Views the chip cannot subsample (two to three voxels to a pixel; in three
// bands, the last band meets too few of the volume's rows to be enlarged on
// its own) over images that already hold a picture: with ResizeImage on,
// the bands give what one board's resize gives, blended over what was there,
// in each blend mode, into image 1 and by MPR; with it off, both refuse.
class Phase1ResizeTest : public Phase1Test {
protected:
    Phase1ResizeTest() : Phase1Test(3) {}

    // An image holding a ramp, with a border a min mode reads.
    ULMImageBuffer* Painted() const {
        ULMImageBuffer* image = NewImage(kULMBoard0);
        Pixels ramp(size_t(m_width) * m_height);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint32_t(0x40302010u + i * 0x01030507u);
        EXPECT_EQ(image->Update(ramp.data(), Whole(), 0), kULMOK);
        EXPECT_EQ(image->SetBorderValue(0.5, 0.25, 0.75, 1.0), kULMOK);
        return image;
    }

    // The picture of each volume's render (status, output image, limits).
    struct Picture {
        ULMStatus status = kULMOK;
        Pixels pixels;
        ULMImageRange limits;
    };
    template <typename Render>
    Picture Take(const Render& inRender, int inOutput = 0) {
        ReleasablePointer<ULMImageBuffer> images[2] = {ReleasablePointer<ULMImageBuffer>(Painted()),
                                                       ReleasablePointer<ULMImageBuffer>(Painted())};
        Picture p;
        p.status = inRender(images[0].GetPointer(), images[1].GetPointer());
        p.pixels = Read(images[inOutput].GetPointer());
        p.limits = images[inOutput]->GetOutputLimits();
        return p;
    }
};

TEST_F(Phase1ResizeTest, ACoarseViewInBandsIsTheOneBoardResize) {
    ReleasablePointer<ULMVolume> plain(NewVolume());
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ASSERT_NE(banded.GetPointer(), nullptr);
    ULMVolume* const volumes[2] = {plain, banded};
    for (const int side : {24, 33, 29}) {
        Aim(13, 71, side, side);
        // Pixels outside the viewport keep what the image held.
        ASSERT_EQ(m_context->GetCamera().SetViewport(1, 2, side - 3, side - 4), kULMOK);
        const auto render = [&](ULMVolume* inVolume) {
            return [this, inVolume](ULMImageBuffer* inImage0, ULMImageBuffer* inImage1) {
                return inVolume->StartRender(m_context, inImage0, nullptr, inImage1, nullptr).Wait(-1);
            };
        };
        for (const bool resize : {false, true}) {
            gULMControl.m_resizeImage = resize;
            for (const int output : {0, 1}) {
                ASSERT_EQ(m_context->SetImageOutputBuffer(ULMContext::ImageBufferNumber(output)), kULMOK);
                for (const int mode : {2, 4, 8, 15}) {
                    SCOPED_TRACE(::testing::Message()
                                 << side << " resize " << resize << " output " << output << " mode " << mode);
                    ASSERT_EQ(m_context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
                    const Picture one = Take(render(plain), output), bands = Take(render(banded), output);
                    EXPECT_EQ(one.status, resize ? kULMOK : kULMErrCantSubsample);
                    EXPECT_EQ(bands.status, one.status);
                    if (one.status != kULMOK) continue;
                    EXPECT_NE(one.pixels, Take([](ULMImageBuffer*, ULMImageBuffer*) { return kULMOK; }, output).pixels);
                    EXPECT_EQ(bands.pixels, one.pixels);
                    EXPECT_TRUE(bands.limits == one.limits);
                }
            }
        }
        ASSERT_EQ(m_context->SetImageOutputBuffer(ULMContext::kImageBuffer0), kULMOK);
        for (const bool resize : {false, true}) {
            gULMControl.m_resizeImage = resize;
            for (const auto mode : {ULMVolume::kMPRAlpha, ULMVolume::kMPRRGBA}) {
                SCOPED_TRACE(::testing::Message() << side << " MPR resize " << resize << " mode " << mode);
                Picture pictures[2];
                for (int v = 0; v < 2; ++v)
                    pictures[v] = Take([&](ULMImageBuffer* inImage, ULMImageBuffer*) {
                        return volumes[v]->StartRenderMPR(m_context, 2.0, 2, mode, inImage).Wait(-1);
                    });
                EXPECT_EQ(pictures[0].status, resize ? kULMOK : kULMErrCantSubsample);
                EXPECT_EQ(pictures[1].status, pictures[0].status);
                EXPECT_EQ(pictures[1].pixels, pictures[0].pixels);
            }
        }
    }
}

// One banded volume, two threads: one renders a view only the whole-view
// resize can give while the other renders a fine view of its own; each
// gets the one board's picture of its view.
TEST_F(Phase1ResizeTest, AResizedViewAndAFineViewOnTwoThreadsEachGetTheOneBoardPicture) {
    ReleasablePointer<ULMVolume> plain(NewVolume());
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ASSERT_NE(banded.GetPointer(), nullptr);
    gULMControl.m_resizeImage = true;
    Aim(13, 71, 33, 33);
    ReleasablePointer<ULMContext> coarse(CloneContext(m_context));
    const int coarseSide = m_width;
    Aim(30, 40, 64, 64);
    ReleasablePointer<ULMContext> fine(CloneContext(m_context));
    // Each view's picture from one volume; the images are made on this
    // thread, the sizes being the fixture's.
    const auto picture = [&](ULMVolume* inVolume, ULMContext* inContext, int inSide, int inRounds) {
        std::vector<Pixels> got;
        for (int r = 0; r < inRounds; ++r) {
            ReleasablePointer<ULMImageBuffer> image(
                ULMImageBuffer::Create(kULMBoard0, unsigned(inSide), unsigned(inSide), 32, 4, kRGBA8));
            if (image == nullptr || image->SetMigrationMode(kULMMigrationFullCopy) != kULMOK ||
                image->Clear(ULMImageRange(inSide, inSide, 0, 0), 0) != kULMOK)
                return std::vector<Pixels>();
            Pixels pixels(size_t(inSide) * inSide, 0xDEADBEEF);
            if (inVolume->StartRender(inContext, image, nullptr, nullptr, nullptr).Wait(-1) != kULMOK ||
                image->Unload(pixels.data(), ULMImageRange(inSide, inSide, 0, 0), 0) != kULMOK)
                return std::vector<Pixels>();
            got.push_back(pixels);
        }
        return got;
    };
    const std::vector<Pixels> coarseOne = picture(plain, coarse, coarseSide, 1);
    const std::vector<Pixels> fineOne = picture(plain, fine, 64, 1);
    ASSERT_EQ(coarseOne.size(), 1u);
    ASSERT_EQ(fineOne.size(), 1u);
    std::vector<Pixels> fineBands;
    std::thread other([&] { fineBands = picture(banded, fine, 64, 4); });
    const std::vector<Pixels> coarseBands = picture(banded, coarse, coarseSide, 4);
    other.join();
    ASSERT_EQ(coarseBands.size(), 4u);
    ASSERT_EQ(fineBands.size(), 4u);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(coarseBands[r], coarseOne[0]) << r;
        EXPECT_EQ(fineBands[r], fineOne[0]) << r;
    }
}

}  // namespace
}  // namespace ulm3::testing
