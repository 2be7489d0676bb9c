// Board passes between the same two volumes in opposite directions, from two
// threads at once: each finishes, and with what it gives alone.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "context/classifier_internal.h"
#include "ulm3/context.h"
#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

using OppositePassesTest = VolumePassTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};
constexpr ULMLocation kNone = kULMNoBufferAttached;

// Two volumes made alike each time, locked where a row says (kNone: no
// buffer), and a context whose camera maps a source voxel onto the same
// voxel of a destination of its size.
struct Pair {
    std::vector<uint8_t> memory[2];
    Held<ULMVolumeInternal> volume[2];
    Held<ULMContext> context{ULMContext::Create()};
    Pair(const ULMVolumeRange& inRange, bool inAlike, const ULMLocation inWhere[2]) {
        for (int v = 0; v < 2; ++v) {
            std::mt19937 bytes(inAlike ? 5 : 5 + v);
            memory[v].resize(size_t(inRange.XSize()) * inRange.YSize() * inRange.ZSize());
            for (uint8_t& b : memory[v]) b = uint8_t(bytes());
            volume[v].Assign(ULMVolumeInternal::CreateSimpleVolume(8, inRange, 1, &kByte, memory[v].data()));
            volume[v]->SetCorrectionMatrix(ULMMatrix::Identity());
            EXPECT_EQ(inWhere[v] != kNone ? volume[v]->LockVolume(inWhere[v]) : kULMOK, kULMOK);
        }
        context->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
        const double s = 2.0 / (inRange.XSize() - 1);
        context->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(s, s, s));
    }
    std::vector<uint8_t> Voxels(int inVolume, const ULMVolumeRange& inBox) {
        std::vector<uint8_t> out(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize());
        EXPECT_EQ(volume[inVolume]->Unload(out.data(), inBox, kULMUseBuffer), kULMOK);
        return out;
    }
};

TEST_F(OppositePassesTest, PassesBothWaysAtOnceFinishWithWhatEachGivesAlone) {
    // Resamples read the lower half of one volume and write into the upper
    // half of the other, so that either order gives the same two results;
    // renders into a volume read and write whole volumes, alike to start with.
    const ULMVolumeRange volume(12, 12, 32, 0, 0, 0), lower(12, 12, 16, 0, 0, 0);
    const ULMVolumeRange upper(12, 12, 16, 0, 0, 16), shrunk(12, 12, 12, 0, 0, 16), cube(12, 12, 12, 0, 0, 0);
    const struct Row {
        const char* what;
        bool toVolume;
        ULMVolumeRange range, from, to;
        ULMLocation where[2];
    } rows[] = {
        {"direct, no buffers", false, volume, lower, upper, {kNone, kNone}},
        {"direct, both on board 0", false, volume, lower, upper, {kULMBoard0, kULMBoard0}},
        {"across boards", false, volume, lower, upper, {kULMBoard0, kULMBoard1}},
        {"sectioned, no buffers", false, volume, lower, shrunk, {kNone, kNone}},
        {"sectioned, both on board 1", false, volume, lower, shrunk, {kULMBoard1, kULMBoard1}},
        {"render to volume, no buffers", true, cube, cube, cube, {kNone, kNone}},
        {"render to volume, both on board 0", true, cube, cube, cube, {kULMBoard0, kULMBoard0}},
    };
    constexpr int kRounds = 12;
    const ULMClassifier direct = ULMClassifierInternal::DirectRGBAClassifier();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto pass = [&](Pair& p, int from) {
            ULMVolumeInternal* source = p.volume[from];
            ULMVolumeInternal* destination = p.volume[1 - from];
            return row.toVolume ? source->RenderToVolume(p.context, destination, ULMVolume::kRenderToVolumeNone)
                                : source->ResampleBuffer(destination, row.from, row.to, direct);
        };
        // Alone: one way, then the other.
        Pair alone(row.range, row.toVolume, row.where);
        ASSERT_EQ(pass(alone, 0), kULMOK);
        ASSERT_EQ(pass(alone, 1), kULMOK);
        const std::vector<uint8_t> expected[2] = {alone.Voxels(0, row.range), alone.Voxels(1, row.range)};

        Pair both(row.range, row.toVolume, row.where);
        int failed[2] = {0, 0};
        std::thread other([&] {
            for (int i = 0; i < kRounds; ++i) failed[1] += pass(both, 1) != kULMOK;
        });
        for (int i = 0; i < kRounds; ++i) failed[0] += pass(both, 0) != kULMOK;
        other.join();
        EXPECT_EQ(failed[0] + failed[1], 0);
        EXPECT_EQ(both.Voxels(0, row.range), expected[0]);
        EXPECT_EQ(both.Voxels(1, row.range), expected[1]);
    }
}

// A sectioned resample of a volume into itself goes through a temporary and
// back: its locks are taken in one order, and it gives what the same
// resample into another volume of the same voxels gives.
TEST_F(OppositePassesTest, ASectionedResampleIntoItselfGivesTheResampleIntoAnother) {
    const ULMVolumeRange volume(12, 12, 32, 0, 0, 0), lower(12, 12, 16, 0, 0, 0), shrunk(12, 12, 12, 0, 0, 16);
    const ULMLocation where[2] = {kULMBoard0, kULMBoard0};
    Pair itself(volume, true, where), other(volume, true, where);
    const ULMClassifier direct = ULMClassifierInternal::DirectRGBAClassifier();
    ASSERT_EQ(itself.volume[0]->ResampleBuffer(itself.volume[0], lower, shrunk, direct), kULMOK);
    ASSERT_EQ(other.volume[0]->ResampleBuffer(other.volume[1], lower, shrunk, direct), kULMOK);
    EXPECT_EQ(itself.Voxels(0, volume), other.Voxels(1, volume));
    EXPECT_NE(itself.Voxels(0, volume), itself.memory[0]) << "the resample wrote nothing";
}

}  // namespace
}  // namespace ulm3::testing
