// Renders after board work the application aborted: an update or an unload
// of the volume is queued while the boards are held, aborted, and answers
// aborted once they run again; the volume still holds its voxels (the update
// wrote the same ones), so a render or an MPR render of it in either mode
// that answers OK has written the picture a render of the same volume draws
// on a platform where nothing was aborted. On one board, in bands and in
// bricks, and through a mipmap volume over each.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/road_names.h"
#include "support/context_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};
constexpr int kNX = 9, kNY = 30, kNZ = 11;
constexpr int kSide = 32;

struct Road {
    const char* name;
    int mode;  // 0 one board, 1 bands, 2 bricks
    bool mipmap;
};

enum class Aborted { kUpdate, kUnload };
enum class Drawing { kRender, kMPRAlpha, kMPRRGBA };

struct Case {
    Aborted aborted;
    Drawing drawing;
};

class RenderAfterAbortTest : public testing::ContextTest, public ::testing::WithParamInterface<Road> {
protected:
    RenderAfterAbortTest() : ContextTest(test_support::SimBoards(2)) {}

    void TearDown() override {
        Release();
        ContextTest::TearDown();
    }

    void Fresh(const Road& inRoad) {
        Release();
        CloseEverything();
        UsePlatform(test_support::SimBoards(2));
        ASSERT_EQ(ULMOpen(), kULMOK);
        m_voxels.resize(size_t(kNX) * kNY * kNZ);
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const double x = double(i % kNX), y = double(i / kNX % kNY), z = double(i / kNX / kNY);
            m_voxels[i] = uint8_t(std::fmod(40 + 17 * x + 5 * y + 11 * z + 60 * std::sin(0.3 * y * z), 256.0));
        }
        ULMSetParameter("MipmapMinVolumeSize", inRoad.mipmap ? 16 : 1 << 24);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", inRoad.mode == 2 ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("MultiboardRenderEnable", inRoad.mode != 0 ? 1 : 0);
        m_volume.Assign(ULMVolume::Create(1u, m_voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced));
        ULMSetParameter("MultiboardRenderEnable", 0);
        ASSERT_NE(m_volume.GetPointer(), nullptr);
        ASSERT_EQ(m_volume->LockVolume(inRoad.mode == 0 ? kULMBoard0 : kULMAnyBoard), kULMOK);
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = 0.1f * v;
            table->SetEntry(i, ULMRGBAFloat(v * a, v * a * 0.7f, a * (1 - v), a));
        }
        m_context.Assign(ULMContext::Create(table));
        const double r = 0.55 * std::hypot(kNX, kNY, kNZ);
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetModelMatrix(ULMMatrix::Rotate(20, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - kNX) / 2.0, (1 - kNY) / 2.0, (1 - kNZ) / 2.0));
        camera.SetViewport(0, 0, kSide, kSide);
        const ULMLocation where = inRoad.mode == 1   ? kULMMultiBoardMode1
                                  : inRoad.mode == 2 ? kULMMultiBoardMode2
                                                     : kULMBoard0;
        m_image.Assign(ULMImageBuffer::Create(where, kSide, kSide, 32, 4, kRGBA8));
        ASSERT_NE(m_image.GetPointer(), nullptr);
    }

    void Release() {
        m_image.Assign(nullptr);
        m_context.Assign(nullptr);
        m_volume.Assign(nullptr);
    }

    // The update (of the voxels the volume holds) or the unload queued while
    // the boards are held, and aborted: what its wait answers.
    ULMStatus Abort(Aborted inWhat) {
        const ULMVolumeRange box(kNX, kNY - 4, kNZ - 2, 0, 2, 1);
        std::vector<uint8_t> part(size_t(box.XSize()) * box.YSize() * box.ZSize());
        for (int z = 0; z < box.ZSize(); ++z)
            for (int y = 0; y < box.YSize(); ++y)
                for (int x = 0; x < box.XSize(); ++x)
                    part[(size_t(z) * box.YSize() + y) * box.XSize() + x] =
                        m_voxels[(size_t(z + 1) * kNY + y + 2) * kNX + x];
        for (int b = 0; b < 2; ++b) tulx7sim::PauseBoard(b);
        const ULMSyncEvent queued = inWhat == Aborted::kUpdate ? m_volume->StartUpdate(part.data(), box)
                                                               : m_volume->StartUnload(part.data(), box, kULMUseBuffer);
        queued.Abort();
        for (int b = 0; b < 2; ++b) tulx7sim::ResumeBoard(b);
        return queued.Wait(-1);
    }

    // A pattern written into the image.
    void Fill() {
        std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 + 11);
        EXPECT_EQ(m_image->Update(pixels.data(), ULMImageRange(kSide, kSide, 0, 0), 0), kULMOK);
    }

    // The drawing into the image, which holds the pattern first (written
    // here unless inFilled): its answer and pixels.
    std::pair<ULMStatus, std::vector<uint8_t>> Draw(Drawing inDrawing, bool inFilled = false) {
        const ULMImageRange whole(kSide, kSide, 0, 0);
        if (!inFilled) Fill();
        std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
        const ULMSyncEvent event =
            inDrawing == Drawing::kRender
                ? m_volume->StartRender(m_context, m_image, nullptr, nullptr, nullptr)
                : m_volume->StartRenderMPR(m_context, 1.5, 1,
                                           inDrawing == Drawing::kMPRAlpha ? ULMVolume::kMPRAlpha : ULMVolume::kMPRRGBA,
                                           m_image);
        const ULMStatus status = event.Wait(-1);
        EXPECT_EQ(m_image->Unload(pixels.data(), whole, 0), kULMOK);
        return {status, pixels};
    }

    std::vector<uint8_t> m_voxels;
    ReleasablePointer<ULMVolume> m_volume;
    ReleasablePointer<ULMContext> m_context;
    ReleasablePointer<ULMImageBuffer> m_image;
};

const char* Name(Drawing inDrawing) {
    return inDrawing == Drawing::kRender ? "render" : inDrawing == Drawing::kMPRAlpha ? "alpha MPR" : "RGBA MPR";
}

TEST_P(RenderAfterAbortTest, ADrawingAfterAnAbortedTransferWritesThePicture) {
    const Road& road = GetParam();
    for (const Drawing drawing : {Drawing::kRender, Drawing::kMPRAlpha, Drawing::kMPRRGBA}) {
        Fresh(road);
        const auto reference = Draw(drawing);
        ASSERT_EQ(reference.first, kULMOK) << Name(drawing);
        for (const Aborted aborted : {Aborted::kUpdate, Aborted::kUnload}) {
            SCOPED_TRACE(::testing::Message() << Name(drawing) << " after an aborted "
                                              << (aborted == Aborted::kUpdate ? "update" : "unload"));
            Fresh(road);
            // The aborted transfer is the newest on its boards when the
            // drawing starts.
            Fill();
            EXPECT_EQ(Abort(aborted), kULMErrAborted);
            const auto drawn = Draw(drawing, true);
            EXPECT_EQ(drawn.first, kULMOK);
            if (drawn.first == kULMOK) {
                EXPECT_TRUE(drawn.second == reference.second) << "an OK drawing wrote the picture";
            }
            const auto again = Draw(drawing);
            EXPECT_EQ(again.first, kULMOK);
            EXPECT_TRUE(again.second == reference.second) << "the next drawing writes the picture";
        }
    }
}

const Road kRoads[] = {
    {"plain", 0, false}, {"bands", 1, false}, {"bricks", 2, false},
    {"mipmap over plain", 0, true}, {"mipmap over bands", 1, true}, {"mipmap over bricks", 2, true},
};

INSTANTIATE_TEST_SUITE_P(Roads, RenderAfterAbortTest, ::testing::ValuesIn(kRoads), testing::NameOfParam());

}  // namespace
}  // namespace ulm3
