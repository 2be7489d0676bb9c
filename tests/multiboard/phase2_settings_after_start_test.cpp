// The application's output image is its own again once a start returns: a
// change of its addressing, border or fields made before the render is
// waited for does not reach the bricked volume's last write into it, which
// may still be to come (a blend on the host, or a composite behind a copy
// through the host). On one thread the picture is the one-board render's
// with the same calls; on two, the change and the wait do not race.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "multiboard/phase2_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr int kSide = 48;
// Red and alpha change places: the colours are grey, the opacity not.
const ULMFieldDescriptor kAGBR8[4] = {{24, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {0, 8, kULMUnsignedFraction}};

// What the application changes on its output between the start and the wait.
enum class Change { kOffset, kBorder, kFields };
// Pixels at which two pictures differ.
size_t Differing(const std::vector<uint32_t>& inA, const std::vector<uint32_t>& inB) {
    if (inA.size() != inB.size()) return std::max(inA.size(), inB.size());
    size_t count = 0;
    for (size_t i = 0; i < inA.size(); ++i) count += inA[i] != inB[i];
    return count;
}

const char* NameOf(Change inChange) {
    return inChange == Change::kOffset ? "offset" : inChange == Change::kBorder ? "border" : "fields";
}
void Apply(Change inChange, ULMImageBuffer* ioImage) {
    switch (inChange) {
        case Change::kOffset:
            ASSERT_EQ(ioImage->SetAddressParameters(kULMOffsetAddress, 8, 6), kULMOK);
            break;
        case Change::kBorder:
            ASSERT_EQ(ioImage->SetBorderValue(0.25, 0.5, 0.75, 1.0), kULMOK);
            break;
        case Change::kFields:
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(ioImage->SetFieldDescriptor(static_cast<ULMChannel>(k), kAGBR8[k]), kULMOK);
            break;
    }
}

// Board jobs wait a little, so that the bricks' work is still queued when
// the start returns and the last write is a step still to run.
tulx7sim::SimConfig SlowBoards(int inBoards) {
    tulx7sim::SimConfig config = test_support::SimBoards(inBoards);
    config.latencyMicroseconds = 2000;
    config.mode = tulx7sim::QueueMode::kThreeQueues;
    return config;
}

// Two boards that are peers, and three, where a brick's partial image
// reaches the compositing board through the host.
class Phase2SettingsAfterStart : public testing::Phase2Test, public ::testing::WithParamInterface<int> {
protected:
    Phase2SettingsAfterStart() : Phase2Test(SlowBoards(GetParam())) {}

    void SetUp() override {
        Phase2Test::SetUp();
        Aim(10, 20, kSide);
    }

    // Every pixel the image's addressing reaches now.
    static std::vector<uint32_t> Window(ULMImageBuffer* inImage) {
        std::vector<uint32_t> out(size_t(kSide) * kSide);
        const ULMImageRange window(kSide, kSide, inImage->GetAddressParameterX(), inImage->GetAddressParameterY());
        EXPECT_EQ(inImage->Unload(out.data(), window, kSide), kULMOK);
        return out;
    }

    // When the change is made: before the start, after the wait, or in
    // between (on another thread while this one waits, or on this one).
    enum class When { kBeforeStart, kAfterWait, kBetween, kBetweenOnAnotherThread };

    std::vector<uint32_t> Picture(ULMVolume* inVolume, bool inMPR, Change inChange, When inWhen) {
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, kSide));
        if (inWhen == When::kBeforeStart) Apply(inChange, image);
        const ULMSyncEvent event = inMPR ? inVolume->StartRenderMPR(context, 2.0, 2, ULMVolume::kMPRAlpha, image)
                                         : inVolume->StartRender(context, image, nullptr, nullptr, nullptr);
        EXPECT_FALSE(ULMFailed(event.Status()));
        if (inWhen == When::kBetweenOnAnotherThread) {
            ULMStatus waited = kULMErrArgument;
            std::thread waiter([&event, &waited] { waited = event.Wait(-1); });
            Apply(inChange, image);
            waiter.join();
            EXPECT_EQ(waited, kULMOK);
        } else {
            if (inWhen == When::kBetween) Apply(inChange, image);
            EXPECT_EQ(event.Wait(-1), kULMOK);
            if (inWhen == When::kAfterWait) Apply(inChange, image);
        }
        return Window(image);
    }
};

// Both roads, renders and MPRs, each change, on this thread and on
// another: the picture is the one rendered with the settings the start
// saw, the change made after the wait.
TEST_P(Phase2SettingsAfterStart, AChangeAfterTheStartDoesNotReachTheRender) {
    for (const int road : {1, 2}) {
        ULMSetParameter("Multiboard2ForceRender", uint64_t(road));
        ReleasablePointer<ULMVolume> bricked(Bricked(GetParam()));
        ASSERT_NE(bricked, nullptr);
        for (const bool mpr : {false, true}) {
            for (const Change change : {Change::kOffset, Change::kBorder, Change::kFields}) {
                SCOPED_TRACE(::testing::Message() << "road " << road << (mpr ? ", MPR" : ", render") << ", "
                                                  << NameOf(change) << " changed");
                const std::vector<uint32_t> want = Picture(bricked, mpr, change, When::kAfterWait);
                // The change matters to the picture: made before the start,
                // it gives another one. (The board's composite of an MPR
                // draws no border: there only a race would show.)
                if (!(mpr && road == 1 && change == Change::kBorder)) {
                    EXPECT_NE(Differing(want, Picture(bricked, mpr, change, When::kBeforeStart)), 0u);
                }
                EXPECT_EQ(Differing(Picture(bricked, mpr, change, When::kBetween), want), 0u);
                EXPECT_EQ(Differing(Picture(bricked, mpr, change, When::kBetweenOnAnotherThread), want), 0u)
                    << "while another thread waits";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PeersAndThroughTheHost, Phase2SettingsAfterStart, ::testing::Values(2, 3));

}  // namespace
}  // namespace ulm3
