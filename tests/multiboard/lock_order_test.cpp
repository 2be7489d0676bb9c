// Passes and copies between volumes of every kind, one way and then the
// other: the lock-order check sees each acquisition, so an order that two
// threads could invert fails here on one thread, every run, without waiting
// for the two to meet.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "context/classifier_internal.h"
#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};
constexpr int kSide = 32;

using Kind = VolumeKind;
constexpr Kind kPlain{"plain", false, 0, 0}, kMipmap{"mipmap", true, 0, 0}, kBands{"bands", false, 1, 0},
    kBricks2{"2 bricks", false, 2, 2}, kBricks4{"4 bricks", false, 2, 4}, kMipmapBands{"mipmap over bands", true, 1, 0},
    kMipmapBricks{"mipmap over bricks", true, 2, 2};

class LockOrderTest : public LockOrderCheckedTest {
protected:
    LockOrderTest() : LockOrderCheckedTest(4) {}

    // A locked volume of the kind over inVoxels.
    static ULMVolume* Make(const Kind& inKind, std::vector<uint8_t>& inVoxels) {
        ULMVolume* v = CreateVolumeOfKind(inKind, [&inVoxels] {
            return ULMVolume::Create(8, ULMVolumeRange(kSide, kSide, kSide, 0, 0, 0), 1, &kByte, inVoxels.data());
        });
        EXPECT_NE(v, nullptr);
        if (v != nullptr) {
            ULMVolume* inner = inKind.mipmap ? v->GetMipmapLevel(0) : v;
            const ULMObjectType types[] = {kObjectTypeULMVolumeInternal, kObjectTypeULMMultiboardVolumePhase1,
                                           kObjectTypeULMMultiboardVolumePhase2};
            EXPECT_EQ(IsObjectType(v, kObjectTypeULMMipmapVolume), inKind.mipmap) << inKind.name;
            EXPECT_TRUE(IsObjectType(inner, types[inKind.mode])) << inKind.name;
        }
        if (v != nullptr) {
            EXPECT_EQ(v->LockVolume(kULMAnyBoard), kULMOK) << inKind.name;
        }
        return v;
    }
};

// The lower half of one volume into the upper half of the other, which
// the pass in the other direction does not read.
ULMStatus Pass(ULMVolume* inFrom, ULMVolume* inTo) {
    const ULMVolumeRange lower(kSide, kSide, kSide / 2, 0, 0, 0), upper(kSide, kSide, kSide / 2, 0, 0, kSide / 2);
    return inFrom->ResampleBuffer(inTo, lower, upper, ULMClassifierInternal::DirectRGBAClassifier());
}

// The lower half of one volume's board voxels copied into the upper half of
// the other's.
ULMStatus Copy(ULMVolume* inFrom, ULMVolume* inTo) {
    const ULMVolumeRange upper(kSide, kSide, kSide / 2, 0, 0, kSide / 2);
    return inTo->Update(inFrom, upper, 0, 0, 0, kULMUseBuffer);
}

TEST_F(LockOrderTest, PassesEachWayBetweenEveryPairOfKindsKeepOneLockOrder) {
    const struct Row {
        Kind a, b;
    } rows[] = {
        {kPlain, kPlain},         {kMipmap, kMipmap},        {kBands, kBands},     {kBricks2, kBricks2},
        {kBricks2, kBricks4},     {kPlain, kBands},          {kPlain, kBricks2},   {kMipmap, kBands},
        {kMipmap, kBricks2},      {kBands, kBricks2},        {kBands, kBricks4},   {kMipmapBands, kBricks2},
        {kMipmapBands, kMipmapBricks}, {kMipmap, kMipmapBands}, {kPlain, kMipmapBricks},
    };
    for (const Row& row : rows) {
        const std::string what = std::string(row.a.name) + " <-> " + row.b.name;
        SCOPED_TRACE(what);
        std::vector<uint8_t> voxels[2];
        for (int v = 0; v < 2; ++v) {
            voxels[v].resize(size_t(kSide) * kSide * kSide);
            for (size_t i = 0; i < voxels[v].size(); ++i) voxels[v][i] = uint8_t(i * (v + 3) / 7);
        }
        ULMVolume* a = Make(row.a, voxels[0]);
        ULMVolume* b = Make(row.b, voxels[1]);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        EXPECT_EQ(Pass(a, b), kULMOK);
        EXPECT_EQ(Pass(b, a), kULMOK);
        EXPECT_EQ(ULMLockOrderInversions(), 0u) << ULMFirstLockOrderInversion();
        EXPECT_EQ(Copy(a, b), kULMOK);
        EXPECT_EQ(Copy(b, a), kULMOK);
        EXPECT_EQ(ULMLockOrderInversions(), 0u) << "copies: " << ULMFirstLockOrderInversion();
        ULMClearLockOrder();
        a->Release();
        b->Release();
    }
}

// The pairs that hung: both directions at once from two threads, a few
// rounds each; every pass and copy finishes and succeeds.
TEST_F(LockOrderTest, PassesBothWaysAtOnceBetweenWrappersFinish) {
    const struct Row {
        Kind a, b;
    } rows[] = {{kBricks2, kBands}, {kBricks2, kBricks4}, {kMipmapBands, kMipmapBricks}};
    constexpr int kRounds = 4;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.a.name) + " <-> " + row.b.name);
        std::vector<uint8_t> voxels[2] = {std::vector<uint8_t>(size_t(kSide) * kSide * kSide, 40),
                                          std::vector<uint8_t>(size_t(kSide) * kSide * kSide, 90)};
        ULMVolume* a = Make(row.a, voxels[0]);
        ULMVolume* b = Make(row.b, voxels[1]);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        int failed[2] = {0, 0};
        std::thread other([&] {
            for (int i = 0; i < kRounds; ++i) failed[1] += (Pass(b, a) != kULMOK) + (Copy(b, a) != kULMOK);
        });
        for (int i = 0; i < kRounds; ++i) failed[0] += (Pass(a, b) != kULMOK) + (Copy(a, b) != kULMOK);
        other.join();
        EXPECT_EQ(failed[0] + failed[1], 0);
        EXPECT_EQ(ULMLockOrderInversions(), 0u) << ULMFirstLockOrderInversion();
        a->Release();
        b->Release();
    }
}

}  // namespace
}  // namespace ulm3::testing
