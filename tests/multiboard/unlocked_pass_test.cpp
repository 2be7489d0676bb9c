// A resample between volumes of every kind that are not locked, or of
// which only one is. A plain volume locks a source without a buffer for the
// length of the pass and gives a destination without one a buffer beside
// the source, which keeps the result: read back from that buffer, and kept
// by a later lock and written back by its unlock. Every pair does the
// same, or is refused with kULMErrVolume, logged, and the destination's
// voxels left as they were; none answers OK with the result lost.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/locks.h"
#include "foundation/log_capture.h"
#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

constexpr int kSide = 40;

using Kind = VolumeKind;
constexpr Kind kKinds[] = {
    {"plain", false, 0}, {"mipmap", true, 0},           {"bands", false, 1},
    {"bricks", false, 2}, {"mipmap over bands", true, 1}, {"mipmap over bricks", true, 2},
};

class UnlockedPassTest : public LockOrderCheckedTest {
protected:
    UnlockedPassTest() : LockOrderCheckedTest(3) {}

    static ULMVolume* Make(const Kind& inKind, std::vector<uint8_t>& inVoxels) {
        return CreateVolumeOfKind(inKind, [&inVoxels] {
            return ULMVolume::Create(1u, inVoxels.data(), kSide, kSide, kSide, ULMVolume::kSliced);
        });
    }
};

std::vector<uint8_t> Voxels(int inSeed) {
    std::vector<uint8_t> voxels(size_t(kSide) * kSide * kSide);
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t((i * (inSeed + 3) + inSeed * 71) / 7);
    return voxels;
}

// The destination's voxels with the source's box copied into them.
std::vector<uint8_t> Copied(const std::vector<uint8_t>& inFrom, std::vector<uint8_t> inTo,
                            const ULMVolumeRange& inBox) {
    for (int z = inBox.ZOrigin(); z < inBox.ZOrigin() + inBox.ZSize(); ++z)
        for (int y = inBox.YOrigin(); y < inBox.YOrigin() + inBox.YSize(); ++y)
            for (int x = inBox.XOrigin(); x < inBox.XOrigin() + inBox.XSize(); ++x) {
                const size_t i = (size_t(z) * kSide + y) * kSide + x;
                inTo[i] = inFrom[i];
            }
    return inTo;
}

int Differences(const std::vector<uint8_t>& inA, const std::vector<uint8_t>& inB) {
    int count = 0;
    for (size_t i = 0; i < inA.size(); ++i) count += inA[i] != inB[i];
    return count;
}

TEST_F(UnlockedPassTest, EveryPairOfKindsKeepsThePlainResultOrRefusesWithoutLosingIt) {
    const ULMVolumeRange box(24, 24, 24, 4, 4, 4), whole(kSide, kSide, kSide, 0, 0, 0);
    const ULMClassifier copy = ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField0);
    const std::vector<uint8_t> from = Voxels(0), to = Voxels(1);
    const std::vector<uint8_t> expected = Copied(from, to, box);
    ASSERT_GT(Differences(expected, to), 10000);
    const struct Locks {
        const char* name;
        bool source, destination;
    } lockings[] = {{"neither locked", false, false},
                    {"only the source locked", true, false},
                    {"only the destination locked", false, true}};
    for (const Locks& locks : lockings) {
        for (const Kind& a : kKinds) {
            for (const Kind& b : kKinds) {
                const std::string what = std::string(a.name) + " -> " + b.name + ", " + locks.name;
                SCOPED_TRACE(what);
                std::vector<uint8_t> voxelsA = from, voxelsB = to;
                ReleasablePointer<ULMVolume> va(Make(a, voxelsA)), vb(Make(b, voxelsB));
                ASSERT_TRUE(va != nullptr && vb != nullptr);
                if (locks.source) {
                    ASSERT_EQ(va->LockVolume(kULMAnyBoard), kULMOK);
                }
                if (locks.destination) {
                    ASSERT_EQ(vb->LockVolume(kULMAnyBoard), kULMOK);
                }
                // Only a multiboard destination that is not locked, itself
                // or under a mipmap volume, may be refused.
                const bool mayRefuse = b.mode != 0 && !locks.destination;
                ULMStatus resampled = kULMOK;
                std::string logged;
                {
                    testing_support::LogToFile log;
                    resampled = va->ResampleBuffer(vb, box, box, copy);
                    logged = log.Contents();
                }
                std::vector<uint8_t> out(to.size(), 0);
                if (mayRefuse) {
                    EXPECT_EQ(resampled, kULMErrVolume);
                    EXPECT_NE(logged.find("not locked"), std::string::npos) << logged;
                    EXPECT_FALSE(vb->IsLocked());
                    EXPECT_EQ(vb->Unload(out.data(), whole, kULMUseSource), kULMOK);
                    EXPECT_EQ(Differences(out, to), 0) << "the refused destination changed";
                    EXPECT_EQ(Differences(voxelsB, to), 0);
                    continue;
                }
                EXPECT_EQ(resampled, kULMOK);
                if (resampled != kULMOK) continue;
                EXPECT_EQ(vb->Unload(out.data(), whole, kULMUseBuffer), kULMOK);
                EXPECT_EQ(Differences(out, expected), 0) << "voxels the destination's buffer does not hold";
                if (!vb->IsLocked()) {
                    EXPECT_EQ(vb->LockVolume(kULMAnyBoard), kULMOK);
                }
                EXPECT_EQ(vb->UnlockVolume(1), kULMOK);
                EXPECT_EQ(Differences(voxelsB, expected), 0) << "voxels the application's array does not hold";
                // The source is as it was, and no longer on a board unless
                // it was locked there.
                EXPECT_EQ(va->IsLocked(), locks.source);
                EXPECT_EQ(Differences(voxelsA, from), 0);
            }
        }
    }
    EXPECT_EQ(ULMLockOrderInversions(), 0u) << ULMFirstLockOrderInversion();
}

}  // namespace
}  // namespace ulm3::testing
