// What a render answers, and what it writes, for every kind of volume the
// public creator makes (plain, mipmap, bands, bricks composited on a board
// or on the host, and mipmap volumes over bands and bricks) on one to three
// boards, against the plain volume on one board with its viewport given:
// - a viewport of no size is the whole picture, in bands too;
// - a view the chip cannot subsample, with ResizeImage on and no viewport
//   given, is rendered larger and shrunk into the whole picture;
// - a view that shows nothing of the volume (it looks elsewhere, or the
//   active sub-volume lies off it or holds no voxel) answers
//   kULMErrEmptyRender, as one board does, leaving every pixel as it was
//   and no output limits (a perspective frame, which one board writes
//   whole all the same, is written so);
// - an image in host memory addressed from negative coordinates gets the
//   picture it gets at the origin, every pixel of it, or is refused and
//   keeps every pixel.
// Render and MPR alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

struct KindCase {
    VolumeKind kind;
    int road;  // Multiboard2ForceRender: 1 composites on a board, 2 on the host
};
constexpr KindCase kKinds[] = {
    {{"plain", false, 0}, 0},
    {{"mipmap", true, 0}, 0},
    {{"bands", false, 1}, 0},
    {{"bricks on a board", false, 2}, 1},
    {{"bricks on the host", false, 2}, 2},
    {{"mipmap over bands", true, 1}, 0},
    {{"mipmap over bricks on a board", true, 2}, 1},
    {{"mipmap over bricks on the host", true, 2}, 2},
};

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

enum Call { kRender, kMPRRGBA, kMPRAlpha };

struct View {
    const char* name;
    unsigned nx, ny, nz;
    int width, height;
    double zoom;  // 1: the volume's diagonal fills the view
    Call call;
    ULMVolumeRange active;        // reset: the whole volume
    bool defaultCamera = false;   // the context's own camera, which shows a box of two voxels at the origin
    double away = 0.0;            // a shift of the view, in view widths
    bool host = false;            // the image in host memory, else where the volume puts it
    int offset[2] = {0, 0};       // the image's addressing
    bool perspective = false;     // seen through a perspective camera three radii off
};

struct Outcome {
    ULMStatus status = kULMOK;
    std::vector<uint32_t> pixels;
    ULMImageRange limits;
};

// What every image holds before a render: no two neighbours alike.
uint32_t Held(size_t i) { return 0x01020304u * uint32_t(i % 61 + 1); }

int Channel(uint32_t inPixel, int inChannel) { return int((inPixel >> (8 * inChannel)) & 0xFF); }

class RenderAnswersTest : public ContextTest, public ::testing::WithParamInterface<int> {
protected:
    RenderAnswersTest() : ContextTest(test_support::SimBoards(GetParam())) {}

    ULMVolume* Make(const KindCase& inCase, const View& inView) {
        m_voxels.resize(size_t(inView.nx) * inView.ny * inView.nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) m_voxels[i] = uint8_t(60 + i % 150);
        ULMSetParameter("Multiboard2ForceRender", uint64_t(inCase.road));
        ULMVolume* volume = CreateVolumeOfKind(inCase.kind, [&] {
            const ULMFieldDescriptor field{0, 8, kULMUnsignedFraction};
            return ULMVolume::Create(8, inView.nx, inView.ny, inView.nz, 1, &field, m_voxels.data());
        });
        EXPECT_NE(volume, nullptr);
        if (volume == nullptr) return nullptr;
        if (!inView.active.IsReset()) {
            EXPECT_EQ(volume->SetActiveSubVolume(inView.active), kULMOK);
        }
        EXPECT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
        return volume;
    }

    // The volume turned and centred, seen whole at the view's zoom; the
    // viewport the whole image, or none.
    static ULMContext* Aim(const View& inView, ULMLookupTable* inTable, bool inViewport) {
        ULMContext* context = ULMContext::Create(inTable);
        if (inView.defaultCamera) return context;
        const double r = 0.55 * std::hypot(double(inView.nx), double(inView.ny), double(inView.nz)) / inView.zoom;
        ULMCamera camera;
        EXPECT_EQ(camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -4 * r, 4 * r)), kULMOK);
        if (inView.perspective) {
            EXPECT_EQ(camera.SetProjectionMatrix(ULMMatrix::Perspective(40, 1.0, r, 8 * r)), kULMOK);
            EXPECT_EQ(camera.SetViewMatrix(ULMMatrix::Translate(0, 0, -3 * r)), kULMOK);
        }
        EXPECT_EQ(camera.SetModelMatrix(ULMMatrix::Translate(2 * r * inView.away, 0, 0) *
                                        ULMMatrix::Rotate(30, ULMVector3D(1, 0, 0)) *
                                        ULMMatrix::Rotate(40, ULMVector3D(0, 1, 0)) *
                                        ULMMatrix::Translate((1.0 - inView.nx) / 2, (1.0 - inView.ny) / 2,
                                                             (1.0 - inView.nz) / 2)),
                  kULMOK);
        if (inViewport) {
            EXPECT_EQ(camera.SetViewport(0, 0, inView.width, inView.height), kULMOK);
        }
        EXPECT_EQ(context->SetCamera(camera), kULMOK);
        return context;
    }

    // The render, or MPR, of inCase's volume into an image where such a
    // volume puts it, holding Held() before.
    Outcome Take(const KindCase& inCase, const View& inView, bool inViewport) {
        Outcome out;
        ReleasablePointer<ULMVolume> volume(Make(inCase, inView));
        if (volume == nullptr) return out;
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        EXPECT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.3), kULMOK);
        for (const ULMChannel c : {kULMChannelRed, kULMChannelGreen, kULMChannelBlue}) {
            EXPECT_EQ(table->SetRamp(c, 0, 255, 0, 1), kULMOK);
        }
        ReleasablePointer<ULMContext> context(Aim(inView, table, inViewport));
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(
            inView.host ? kULMSystem : volume->GetBufferLocation(), inView.width, inView.height, 32, 4, kRGBA8));
        EXPECT_NE(image, nullptr);
        if (image == nullptr) return out;
        EXPECT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        EXPECT_EQ(image->SetOffset(inView.offset[0], inView.offset[1]), kULMOK);
        const ULMImageRange whole(inView.width, inView.height, inView.offset[0], inView.offset[1]);
        std::vector<uint32_t> held(size_t(inView.width) * inView.height);
        for (size_t i = 0; i < held.size(); ++i) held[i] = Held(i);
        EXPECT_EQ(image->Update(held.data(), whole, 0), kULMOK);
        out.status = inView.call == kRender ? volume->Render(context, image, nullptr, nullptr, nullptr)
                     : volume->RenderMPR(context, 0.0, 2,
                                         inView.call == kMPRAlpha ? ULMVolume::kMPRAlpha : ULMVolume::kMPRRGBA, image);
        out.pixels.assign(held.size(), 0xDEADBEEFu);
        EXPECT_EQ(image->Unload(out.pixels.data(), whole, 0), kULMOK);
        out.limits = image->GetOutputLimits();
        return out;
    }

    static int Unchanged(const Outcome& inOutcome) {
        int count = 0;
        for (size_t i = 0; i < inOutcome.pixels.size(); ++i) count += inOutcome.pixels[i] == Held(i);
        return count;
    }

    // The largest difference of a channel; bricks composited front to
    // back round each partial picture to 8 bits, one step per brick.
    static int Farthest(const Outcome& inA, const Outcome& inB) {
        int most = 0;
        for (size_t i = 0; i < inA.pixels.size() && i < inB.pixels.size(); ++i)
            for (int c = 0; c < 4; ++c)
                most = std::max(most, std::abs(Channel(inA.pixels[i], c) - Channel(inB.pixels[i], c)));
        return most;
    }
    int Allowed(const KindCase& inCase) const { return inCase.kind.mode == 2 ? GetParam() : 0; }

    // Every kind with no viewport against the plain volume with its
    // viewport given: the same answer, picture and limits.
    void ExpectEveryKindAsOneBoard(const View& inView) {
        SCOPED_TRACE(inView.name);
        const Outcome reference = Take(kKinds[0], inView, true);
        ASSERT_EQ(reference.status, kULMOK);
        EXPECT_EQ(Unchanged(reference), 0) << "a render of the whole picture writes every pixel";
        for (const KindCase& c : kKinds) {
            SCOPED_TRACE(c.kind.name);
            const Outcome got = Take(c, inView, false);
            EXPECT_EQ(got.status, kULMOK);
            EXPECT_EQ(Unchanged(got), 0) << "of " << got.pixels.size() << " pixels";
            EXPECT_LE(Farthest(got, reference), Allowed(c));
            EXPECT_EQ(got.limits, reference.limits);
        }
    }

private:
    std::vector<uint8_t> m_voxels;
};

TEST_P(RenderAnswersTest, NoViewportIsTheWholePicture) {
    ULMSetParameter("ResizeImage", 0);
    for (const Call call : {kRender, kMPRRGBA}) {
        ExpectEveryKindAsOneBoard({call == kRender ? "20x20x8 into 64x48" : "20x20x8 into 64x48 by MPR", 20, 20, 8, 64,
                                   48, 1.0, call, ULMVolumeRange()});
    }
}

TEST_P(RenderAnswersTest, ACoarseViewWithoutAViewportIsRenderedLargerAndShrunk) {
    const View views[] = {
        {"20x20x8 into 16x16", 20, 20, 8, 16, 16, 1.0, kRender, ULMVolumeRange()},
        {"37x23x11 into 13x17 by MPR", 37, 23, 11, 13, 17, 1.0, kMPRRGBA, ULMVolumeRange()},
        {"40x24x12 into 31x12", 40, 24, 12, 31, 12, 1.0, kRender, ULMVolumeRange()},
    };
    for (const View& view : views) {
        // The chip cannot take the view as it is.
        ULMSetParameter("ResizeImage", 0);
        EXPECT_EQ(Take(kKinds[0], view, true).status, kULMErrCantSubsample) << view.name;
        ULMSetParameter("ResizeImage", 1);
        ExpectEveryKindAsOneBoard(view);
    }
}

TEST_P(RenderAnswersTest, AViewOfNothingIsEmptyAndLeavesTheImage) {
    const ULMVolumeRange offView(21, 2, 2, 9, 4, 1), noRows(21, 0, 2, 9, 6, 1);
    View views[] = {
        {"the context's own camera, the sub-volume off it", 40, 24, 12, 31, 12, 1.0, kRender, offView, true},
        {"the context's own camera, the sub-volume off it, MPR alpha", 40, 24, 12, 31, 12, 1.0, kMPRAlpha, offView,
         true},
        {"a view beside the volume", 40, 24, 12, 31, 12, 1.0, kRender, ULMVolumeRange(), false, 2.0},
        {"a view beside the volume, MPR", 40, 24, 12, 31, 12, 1.0, kMPRRGBA, ULMVolumeRange(), false, -2.0},
        {"a sub-volume of no rows, near", 40, 24, 12, 31, 12, 4.0, kRender, noRows},
        {"a sub-volume of no rows, far", 40, 24, 12, 31, 12, 2.0, kRender, noRows},
    };
    for (const View& view : views) {
        SCOPED_TRACE(view.name);
        for (const KindCase& c : kKinds) {
            SCOPED_TRACE(c.kind.name);
            for (const bool viewport : {false, true}) {
                SCOPED_TRACE(viewport ? "viewport given" : "no viewport");
                const Outcome got = Take(c, view, viewport);
                EXPECT_EQ(got.status, kULMErrEmptyRender);
                EXPECT_EQ(Unchanged(got), int(got.pixels.size()));
                EXPECT_TRUE(got.limits.IsEmpty());
            }
        }
    }
    // A perspective frame is written whole on one board, where the volume
    // shows or not, and so by every kind.
    View beside{"a perspective view beside the volume", 40, 24, 12, 32, 32, 1.0, kRender, ULMVolumeRange(), false, 4.0};
    beside.perspective = true;
    ExpectEveryKindAsOneBoard(beside);
}

TEST_P(RenderAnswersTest, AnImageAtNegativeCoordinatesIsWrittenWholeOrRefused) {
    for (const Call call : {kMPRAlpha, kMPRRGBA, kRender}) {
        for (const auto& offset : {std::array<int, 2>{-4, 64}, std::array<int, 2>{-8, -6}}) {
            SCOPED_TRACE(::testing::Message() << "call " << call << ", offset " << offset[0] << ", " << offset[1]);
            // The same picture, to the last bit, where the image's negative
            // coordinates are made 0: its pixels' positions.
            View view{"40x24x12 into 40x40 in host memory", 40, 24, 12, 40, 40, 1.2, call, ULMVolumeRange()};
            view.host = true;
            view.offset[0] = std::max(offset[0], 0), view.offset[1] = std::max(offset[1], 0);
            const Outcome shifted = Take(kKinds[0], view, false);
            ASSERT_EQ(shifted.status, kULMOK);
            ASSERT_EQ(Unchanged(shifted), 0);
            view.offset[0] = offset[0], view.offset[1] = offset[1];
            for (const KindCase& c : kKinds) {
                SCOPED_TRACE(c.kind.name);
                const Outcome got = Take(c, view, false);
                // The boards address no negative pixel: only the MPR's
                // sums, the library's own, can be moved to where they can.
                if (c.kind.mode == 0 && call == kMPRAlpha) {
                    EXPECT_EQ(got.status, kULMOK);
                }
                if (got.status != kULMOK) {
                    EXPECT_EQ(got.status, kULMErrBuffer);
                    EXPECT_EQ(Unchanged(got), int(got.pixels.size()));
                    continue;
                }
                EXPECT_EQ(Unchanged(got), 0) << "of " << got.pixels.size() << " pixels";
                EXPECT_LE(Farthest(got, shifted), Allowed(c));
                EXPECT_EQ(got.limits, ULMImageRange(view.width, view.height, offset[0], offset[1]));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OneToThreeBoards, RenderAnswersTest, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& inInfo) {
                             return std::to_string(inInfo.param) + (inInfo.param == 1 ? "Board" : "Boards");
                         });

}  // namespace
}  // namespace ulm3::testing
