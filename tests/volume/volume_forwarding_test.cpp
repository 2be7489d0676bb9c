// The helpers a wrapping volume forwards its calls with: a setter to each
// volume until the first failure, starts into a table of eight slots whose
// events are all joined, and the answer when there is no volume to ask.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "volume/volume_fixture.h"
#include "volume/volume_forwarding.h"

namespace ulm3::testing {
namespace {

using VolumeForwardingTest = VolumeTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

// Three plain volumes, each locked on a board so that its updates are board
// transfers.
struct ThreeVolumes {
    std::vector<uint8_t> voxels = std::vector<uint8_t>(16 * 16 * 16, 3);
    Held<ULMVolumeInternal> held[3];
    ULMVolume* volumes[3] = {};
    ThreeVolumes() {
        for (int i = 0; i < 3; ++i) {
            held[i].Assign(ULMVolumeInternal::CreateSimpleVolume(8, {16, 16, 16, 0, 0, 0}, 1, &kByte, voxels.data()));
            EXPECT_EQ(held[i]->LockVolume(ULMLocation(i % 2)), kULMOK);
            volumes[i] = held[i];
        }
    }
};

TEST_F(VolumeForwardingTest, ASetterGoesToEachVolumeUntilTheFirstFailure) {
    ThreeVolumes three;
    const struct {
        std::vector<ULMStatus> answers;  // what each volume answers, in turn
        size_t volumes;
        ULMStatus result;
        size_t asked;
    } cases[] = {
        {{kULMOK, kULMOK, kULMOK}, 3, kULMOK, 3},
        {{kULMOK, kULMInProgress, kULMOK}, 2, kULMInProgress, 2},  // the last one's answer
        {{kULMOK, kULMErrVolume, kULMOK}, 3, kULMErrVolume, 2},
        {{kULMErrArgument, kULMOK, kULMOK}, 3, kULMErrArgument, 1},
        {{}, 0, kULMErrVolume, 0},  // none to ask: the caller's answer
    };
    for (const auto& c : cases) {
        std::vector<ULMVolume*> asked;
        const ULMStatus result = ULMForwardSetter(std::span(three.volumes, c.volumes), kULMErrVolume,
                                                  [&](ULMVolume& v, int i) {
                                                      EXPECT_EQ(&v, three.volumes[i]);
                                                      asked.push_back(&v);
                                                      return c.answers[size_t(i)];
                                                  });
        EXPECT_EQ(result, c.result) << &c - cases;
        EXPECT_EQ(asked.size(), c.asked) << &c - cases;
    }
}

// Work put in a slot that already holds some is kept beside it: a failure of
// the earlier work still fails the join, though the later work succeeded.
TEST_F(VolumeForwardingTest, TheEventTableKeepsEveryEventItWasGiven) {
    ThreeVolumes three;
    const std::vector<uint8_t> box(8 * 8 * 8, 9);
    ULMEventTable empty;
    EXPECT_EQ(empty.Join().Wait(-1), kULMOK);
    EXPECT_EQ(empty.Last(5).Status(), kULMErrArgument) << "a slot nobody used";
    EXPECT_FALSE(empty.Used(5));

    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    ULMEventTable table;
    table.Put(0, three.volumes[0]->StartUpdate(box.data(), {8, 8, 8, 0, 0, 0}));
    const ULMSyncEvent later = three.volumes[0]->StartUpdate(box.data(), {8, 8, 8, 8, 8, 8});
    table.Put(0, later);
    table.Put(1, three.volumes[1]->StartUpdate(box.data(), {8, 8, 8, 0, 0, 0}));
    EXPECT_EQ(later.Wait(-1), kULMOK);
    EXPECT_EQ(table.Last(0), later);
    EXPECT_TRUE(table.Used(1));
    EXPECT_NE(table.Join().Wait(-1), kULMOK) << "the replaced load failed";

    // A finished failure put first is not hidden by a later success either.
    ULMEventTable finished;
    finished.Put(2, ULMSyncEvent(kULMErrVolume));
    finished.Put(2, ULMSyncEvent(kULMOK));
    EXPECT_EQ(finished.Join().Wait(-1), kULMErrVolume);
}

// A start that fails at once ends the walk with its failure; otherwise the
// join completes only when every volume's work has, on every board.
TEST_F(VolumeForwardingTest, StartsGoToEveryVolumeAndAreJoined) {
    ThreeVolumes three;
    const std::vector<uint8_t> box(8 * 8 * 8, 9);
    std::vector<int> started;
    const auto update = [&](const ULMVolumeRange& inRange) {
        return [&, inRange](ULMVolume& v, int i) {
            started.push_back(i);
            return v.StartUpdate(box.data(), inRange);
        };
    };
    EXPECT_EQ(ULMForwardStart({}, kULMErrVolume, update({8, 8, 8, 0, 0, 0})).Wait(-1), kULMErrVolume);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(ULMForwardStart(three.volumes, kULMErrVolume, update({8, 8, 8, 12, 0, 0})).Wait(-1), kULMErrArgument);
    EXPECT_EQ(started, std::vector<int>{0}) << "the first refusal ends the walk";

    started.clear();
    tulx7sim::PauseBoard(1);
    const ULMSyncEvent joined = ULMForwardStart(three.volumes, kULMErrVolume, update({8, 8, 8, 0, 0, 0}));
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(joined.IsDone()) << "volume 1's board holds its load";
    tulx7sim::ResumeBoard(1);
    EXPECT_EQ(joined.Wait(-1), kULMOK);
}

}  // namespace
}  // namespace ulm3::testing
