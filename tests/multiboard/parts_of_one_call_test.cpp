// Calls made of parts on several boards (the chunks of a banded unload, the
// chunks of a load into each copy or brick) never leave a part working on
// the caller's memory once they have answered: a refused call aborts or
// waits for the parts it had queued, and once the wait of an aborted call
// has answered nothing of it still reads the caller's block. The boards are
// paused while the call queues its parts, so that every part is still
// queued when it answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "foundation/sync_event.h"
#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

const ULMFieldDescriptor kGrey{0, 8, kULMUnsignedFraction};

class PartsOfOneCall : public testing::ContextTest, public ::testing::WithParamInterface<int> {
protected:
    PartsOfOneCall() : ContextTest(test_support::SimBoards(GetParam())) {}
    void TearDown() override {
        ResumeAll();
        ContextTest::TearDown();
    }

    // A volume of nx x ny x nz voxels of inValue, made as inMode says
    // (0 plain, 1 bands, 2 bricks) in inPieces pieces, locked.
    static ULMVolume* NewLocked(int inMode, int inPieces, unsigned nx, unsigned ny, unsigned nz, uint8_t inValue) {
        ULMSetParameter("MipmapMinVolumeSize", 1 << 24);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", inMode == 2 ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", static_cast<uint64_t>(inPieces));
        ULMSetParameter("MultiboardRenderEnable", inMode != 0 ? 1 : 0);
        std::vector<uint8_t> voxels(size_t(nx) * ny * nz, inValue);
        ULMVolume* volume = ULMVolume::Create(8, nx, ny, nz, 1, &kGrey, voxels.data());
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_NE(volume, nullptr);
        if (volume != nullptr) {
            EXPECT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
        }
        return volume;
    }
    void PauseAll() const {
        for (int b = 0; b < GetParam(); ++b) tulx7sim::PauseBoard(b);
    }
    void ResumeAll() const {
        for (int b = 0; b < GetParam(); ++b) tulx7sim::ResumeBoard(b);
    }
};

// A banded unload refused whole (the buffer's window starts six slices into
// the volume, so it does not reach the last slices) or part way (the driver
// refuses a later chunk after the chunks before it are queued) answers the
// refusal, and no chunk writes into the caller's block after that.
TEST_P(PartsOfOneCall, ARefusedUnloadLeavesTheCallersBlockAlone) {
    constexpr unsigned nx = 24, ny = 13, nz = 31;
    ReleasablePointer<ULMVolume> volume(NewLocked(1, 2, nx, ny, nz, 0x42));
    ASSERT_NE(volume, nullptr);
    const ULMVolumeRange whole = volume->GetRange();
    const struct {
        const char* name;
        ULMStatus (*call)(ULMVolume&, void*, const ULMVolumeRange&);
    } calls[] = {
        {"Unload", [](ULMVolume& v, void* out, const ULMVolumeRange& r) { return v.Unload(out, r, kULMUseBuffer); }},
        {"StartUnload",
         [](ULMVolume& v, void* out, const ULMVolumeRange& r) {
             return v.StartUnload(out, r, kULMUseBuffer).Status();
         }},
        {"StartUnloadField",
         [](ULMVolume& v, void* out, const ULMVolumeRange& r) {
             return v.StartUnloadField(out, r, kGrey, kULMUseBuffer).Status();
         }},
    };
    const struct {
        const char* name;
        int offsetZ;
        bool refuseSecondChunk;
    } refusals[] = {{"window short of the volume", -6, false}, {"second chunk refused", 0, true}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        ASSERT_EQ(volume->SetBufferOffset(0, 0, refusal.offsetZ), kULMOK);
        for (const auto& c : calls) {
            SCOPED_TRACE(c.name);
            std::vector<uint8_t> block(size_t(nx) * ny * nz, 0xEE);
            PauseAll();
            if (refusal.refuseSecondChunk)
                tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_UNLOAD, 2, TULX7_DR_STATUS_ARG_BAD);
            EXPECT_TRUE(ULMFailed(c.call(*volume, block.data(), whole)));
            ResumeAll();
            ASSERT_TRUE(tulx7sim::WaitForIdle(5000));
            EXPECT_EQ(std::count_if(block.begin(), block.end(), [](uint8_t b) { return b != 0xEE; }), 0)
                << "bytes written into the block after the call answered";
        }
    }
}

// 17 slices load in two chunks per copy or brick; the abort drops them all,
// the wait says so, and what the caller then writes into its block never
// reaches the volume.
TEST_P(PartsOfOneCall, AnAbortedUpdateReadsNothingOnceItsWaitHasAnswered) {
    constexpr unsigned nx = 33, ny = 20, nz = 17;
    const struct {
        const char* name;
        int mode;
        int pieces;
    } kinds[] = {{"plain", 0, 0}, {"bands", 1, 2}, {"one brick", 2, 1}, {"two bricks", 2, 2}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        ReleasablePointer<ULMVolume> volume(NewLocked(kind.mode, kind.pieces, nx, ny, nz, 10));
        ASSERT_NE(volume, nullptr);
        const ULMVolumeRange whole = volume->GetRange();
        std::vector<uint8_t> block(size_t(nx) * ny * nz, 20);
        PauseAll();
        const ULMSyncEvent update = volume->StartUpdate(block.data(), whole);
        EXPECT_EQ(update.Abort(), kULMOK);
        ResumeAll();
        EXPECT_EQ(update.Wait(-1), kULMErrAborted);
        std::fill(block.begin(), block.end(), uint8_t{99});
        ASSERT_TRUE(tulx7sim::WaitForIdle(5000));
        std::vector<uint8_t> held(block.size());
        ASSERT_EQ(volume->Unload(held.data(), whole, kULMUseBuffer), kULMOK);
        EXPECT_EQ(std::count(held.begin(), held.end(), uint8_t{99}), 0) << "voxels read after the wait answered";
        EXPECT_EQ(std::count(held.begin(), held.end(), uint8_t{20}), 0) << "voxels of the dropped update";
    }
}

// An unload of a host image that a banded render still writes, aborted:
// its wait answers kULMErrAborted, or kULMOK with every pixel there, and
// keeps doing so once the table of combined events has gone round (the
// updates below take a slot each).
TEST_P(PartsOfOneCall, AnAbortedImageUnloadNeverAnswersOKWithPixelsMissing) {
    constexpr unsigned nx = 33, ny = 20, nz = 17;
    constexpr int kSide = 48;
    ReleasablePointer<ULMVolume> volume(NewLocked(1, 2, nx, ny, nz, 120));
    ASSERT_NE(volume, nullptr);
    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.5), kULMOK);
    ReleasablePointer<ULMContext> context(ULMContext::Create(table));
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-30, 30, -30, 30, -60, 60));
    camera.SetModelMatrix(ULMMatrix::Translate(-16, -9.5, -8));
    camera.SetViewport(0, 0, kSide, kSide);
    ASSERT_EQ(context->SetCamera(camera), kULMOK);
    const ULMFieldDescriptor rgba[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                        {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMSystem, kSide, kSide, 32, 4, rgba));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    const ULMImageRange whole(kSide, kSide, 0, 0);
    ASSERT_EQ(image->Clear(whole, 0), kULMOK);

    PauseAll();
    const ULMSyncEvent render = volume->StartRenderMPR(context, 1.0, 1, ULMVolume::kMPRRGBA, image);
    std::vector<uint32_t> pixels(size_t(kSide) * kSide, 0xDEADBEEFu);
    const ULMSyncEvent unload = image->StartUnload(pixels.data(), whole, 0);
    EXPECT_EQ(unload.Abort(), kULMOK);
    ResumeAll();
    EXPECT_EQ(render.Wait(-1), kULMOK);

    const std::vector<uint8_t> slice(size_t(nx) * ny, 120);
    for (int i = 0; i <= kMultiEventSlots; ++i) {
        PauseAll();
        const ULMSyncEvent update = volume->StartUpdate(slice.data(), ULMVolumeRange(nx, ny, 1, 0, 0, i % nz));
        ResumeAll();
        ASSERT_EQ(update.Wait(-1), kULMOK);
    }
    const ULMStatus waited = unload.Wait(-1);
    const auto missing = std::count(pixels.begin(), pixels.end(), 0xDEADBEEFu);
    EXPECT_EQ(waited, kULMErrAborted) << missing << " pixels missing";
    EXPECT_EQ(unload.Wait(0), waited) << "asked again";
}

INSTANTIATE_TEST_SUITE_P(OneToThreeBoards, PartsOfOneCall, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& inInfo) {
                             return std::to_string(inInfo.param) + "Boards";
                         });

}  // namespace
}  // namespace ulm3
