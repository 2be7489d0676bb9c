// The mipmap volume's volume interface: what makes the levels stale (passes
// counted), level 0's operations through the wrapper against the plain
// volume's, the unlock of every level, passes into the wrapper, and two
// threads on one wrapper.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "context/classifier_internal.h"
#include "foundation/enumeration_checks.h"
#include "mipmap_fixture.h"

namespace ulm3::testing {
namespace {

using MipmapSlotsTest = MipmapTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};
const ULMVolumeRange kWhole(256, 12, 12, 0, 0, 0);
const ULMVolumeRange kBox(16, 4, 4, 40, 2, 6);

std::vector<uint8_t> Voxels(const ULMVolumeRange& inRange, int inSeed) {
    std::vector<uint8_t> voxels(size_t(inRange.XSize()) * inRange.YSize() * inRange.ZSize());
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(i * 7 + inSeed);
    return voxels;
}

TEST_F(MipmapSlotsTest, LevelsAreMadeAgainExactlyWhenLevel0Changed) {
    std::vector<uint8_t> voxels = Voxels(kWhole, 1);
    const std::vector<uint8_t> box = Voxels(kBox, 50);
    Held<ULMVolume> v(ULMVolume::Create(8, kWhole, 1, &kByte, voxels.data()));
    ASSERT_NE(Mipmap(v), nullptr);
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    std::vector<uint8_t> otherVoxels = Voxels(kWhole, 9);
    Held<ULMVolumeInternal> other(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, otherVoxels.data()));
    ASSERT_EQ(other->LockVolume(kULMBoard0), kULMOK);
    Held<ULMContext> direct(ULMContext::Create());
    direct->SetClassifier(ULMClassifierInternal::DirectRGBAClassifier());
    direct->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -1) * ULMMatrix::Scale(2 / 255.0, 2 / 11.0,
                                                                                               2 / 11.0));
    const auto map = [&](ULMAccessType access) {
        unsigned char* at = nullptr;
        unsigned sx = 0, sy = 0;
        const ULMStatus status = v->MapVolume(access, at, sx, sy, kULMUseTarget);
        if (status != kULMOK) return status;
        if (ULMAccessIsWrite(access)) at[0] = 99;
        return v->UnmapVolume();
    };
    const struct {
        const char* operation;
        std::function<ULMStatus()> call;
        ULMStatus status;
        bool stale;
    } steps[] = {
        {"read map", [&] { return map(kULMAccessReadShared); }, kULMOK, false},
        {"write map", [&] { return map(kULMAccessWrite); }, kULMOK, true},
        {"refused write map", [&] {
             unsigned short* at = nullptr;
             unsigned sx, sy;
             return v->MapVolume(kULMAccessWrite, at, sx, sy, kULMUseBuffer);
         }, kULMErrArgument, true},
        {"update", [&] { return v->Update(box.data(), kBox); }, kULMOK, true},
        {"field update", [&] { return v->UpdateField(box.data(), kBox, kByte); }, kULMOK, true},
        {"copy", [&] { return v->Update(other, kBox, 0, 0, 0, kULMUseBuffer); }, kULMOK, true},
        {"unload", [&] {
             std::vector<uint8_t> out(box.size());
             return v->Unload(out.data(), kBox, kULMUseTarget);
         }, kULMOK, false},
        {"the same factors", [&] { return v->SetMipmapShrinkFactors(0.5, 0.5, 0.5); }, kULMOK, false},
        {"another interpolation", [&] { return v->SetMipmapInterpolationMode(kULMField0, kULMNearestNeighbor); },
         kULMOK, true},
        {"border value", [&] { return v->SetBorderValue(9); }, kULMOK, false},
        {"sub-volume reset", [&] { return v->SetActiveSubVolumeSize(0, 0, 0); }, kULMOK, false},
        {"resample into it", [&] {
             return other->ResampleBuffer(v, kWhole, kWhole, ULMClassifierInternal::DirectRGBAClassifier());
         }, kULMOK, true},
        {"render into it", [&] { return other->RenderToVolume(direct, v, ULMVolume::kRenderToVolumeNone); }, kULMOK,
         true},
        {"unlock", [&] { return v->UnlockVolume(0); }, kULMOK, false},
        {"update of the source", [&] { return v->Update(box.data(), kBox); }, kULMOK, true},
        {"unlock and lock", [&] {
             const ULMStatus unlocked = v->UnlockVolume(0);
             return unlocked != kULMOK ? unlocked : v->LockVolume(kULMBoard0);
         }, kULMOK, true},
    };
    ASSERT_NE(v->GetMipmapLevel(2), nullptr);
    for (const auto& s : steps) {
        EXPECT_EQ(s.call(), s.status) << s.operation;
        tulx7sim::ClearRequestLog();
        ASSERT_NE(v->GetMipmapLevel(2), nullptr) << s.operation;
        EXPECT_EQ(Passes(), s.stale ? 2u : 0u) << s.operation;
    }
}

// Level 0's operations through the wrapper answer as the plain volume's do:
// the same statuses, and the same voxels read back from the source and from
// the board.
TEST_F(MipmapSlotsTest, Level0sOperationsAnswerAsThePlainVolumes) {
    std::vector<uint8_t> wrappedVoxels = Voxels(kWhole, 3), plainVoxels = wrappedVoxels;
    Held<ULMVolume> wrapped(ULMVolume::Create(8, kWhole, 1, &kByte, wrappedVoxels.data()));
    Held<ULMVolumeInternal> plain(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, plainVoxels.data()));
    ASSERT_NE(Mipmap(wrapped), nullptr);
    const std::vector<uint8_t> box = Voxels(kBox, 77);
    const struct {
        const char* operation;
        std::function<ULMStatus(ULMVolume*)> call;
    } steps[] = {
        {"update the source", [&](ULMVolume* v) { return v->Update(box.data(), kBox); }},
        {"lock twice", [&](ULMVolume* v) {
             const ULMStatus first = v->LockVolume(kULMBoard1);
             return first != kULMOK ? first : v->LockVolume(kULMBoard1) == kULMErrVolume ? kULMOK : kULMErrInternal;
         }},
        {"update the buffer", [&](ULMVolume* v) { return v->Update(box.data(), {16, 4, 4, 200, 8, 0}); }},
        {"write map of a box", [&](ULMVolume* v) {
             void* at = nullptr;
             unsigned sx = 0, sy = 0;
             const ULMStatus mapped = v->MapSubVolume(kULMAccessWrite, 10, 1, 1, 4, 2, 2, at, sx, sy, kULMUseTarget);
             if (mapped != kULMOK) return mapped;
             static_cast<uint8_t*>(at)[sx * sy + sx + 1] = 201;
             return v->UnmapVolume();
         }},
        {"legacy update out of range", [&](ULMVolume* v) {
             return v->UpdateVolume(kULMVoxelFormatUINT8, box.data(), 250, 0, 0, 16, 4, 4, ULMVolume::kSliced);
         }},
        {"legacy update", [&](ULMVolume* v) {
             return v->UpdateVolume(kULMVoxelFormatUINT8, box.data(), 3, 5, 7, 16, 4, 4, ULMVolume::kSliced);
         }},
        {"unmap without a map", [&](ULMVolume* v) { return v->UnmapVolume(); }},
        {"buffer offset", [&](ULMVolume* v) { return v->SetBufferOffset(2, 0, 0); }},
        {"unlock, unloading", [&](ULMVolume* v) { return v->UnlockVolume(1); }},
        {"unlocked unlock", [&](ULMVolume* v) { return v->UnlockVolume(0); }},
        {"field update of the source", [&](ULMVolume* v) { return v->UpdateField(box.data(), kBox, kByte); }},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.call(wrapped), s.call(plain)) << s.operation;
        for (ULMSource from : {kULMUseSource, kULMUseBuffer}) {
            std::vector<uint8_t> got(wrappedVoxels.size(), 1), want(wrappedVoxels.size(), 1);
            EXPECT_EQ(wrapped->Unload(got.data(), kWhole, from), plain->Unload(want.data(), kWhole, from))
                << s.operation;
            EXPECT_EQ(got, want) << s.operation << " from " << from;
        }
        EXPECT_EQ(wrapped->IsLocked(), plain->IsLocked()) << s.operation;
        EXPECT_EQ(wrapped->GetTarget(), plain->GetTarget()) << s.operation;
        EXPECT_EQ(wrapped->GetBufferLocation(), plain->GetBufferLocation()) << s.operation;
        EXPECT_EQ(wrapped->GetBufferRange(), plain->GetBufferRange()) << s.operation;
        EXPECT_EQ(wrapped->GetBufferAddressParameterX(), plain->GetBufferAddressParameterX()) << s.operation;
    }
}

// Generation gives levels a buffer without locking them: the wrapper's
// unlock unlocks level 0 and answers for it, and unlocks a level above only
// when something locked it. Such a level gives its buffer up with the lock
// and is made again when next wanted. A wrapper that is not locked answers
// as level 0.
TEST_F(MipmapSlotsTest, UnlockUnlocksLevel0AndOnlyTheLevelsThatAreLocked) {
    std::vector<uint8_t> voxels = Voxels(kWhole, 5);
    Held<ULMVolume> v(ULMVolume::Create(8, kWhole, 1, &kByte, voxels.data()));
    ULMMipmapVolume* m = Mipmap(v);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(v->GetMipmapLevel(2), nullptr);
    ULMVolume* level1 = m->GetLevelInfo(1).volume;
    ULMVolume* level2 = m->GetLevelInfo(2).volume;
    ASSERT_EQ(level2->LockVolume(level2->GetBufferLocation()), kULMOK);
    ASSERT_TRUE(v->IsLocked());
    EXPECT_EQ(v->UnlockVolume(0), kULMOK);
    EXPECT_FALSE(v->IsLocked());
    EXPECT_EQ(v->GetBufferID(), kULMNoBuffer) << "level 0's buffer went";
    EXPECT_EQ(v->GetTarget(), kULMSource);
    EXPECT_NE(level1->GetBufferID(), kULMNoBuffer) << "a level nobody locked keeps its voxels";
    EXPECT_EQ(m->GetLevelInfo(2).volume, nullptr) << "a level unlocked has none left";
    tulx7sim::ClearRequestLog();
    ASSERT_NE(v->GetMipmapLevel(2), nullptr);
    EXPECT_EQ(Passes(), 1u) << "only level 2 is made again";
    ASSERT_EQ(v->UnlockVolume(0), kULMOK);
    EXPECT_EQ(v->UnlockVolume(0), kULMErrVolume);
}

// Voxels written into the source while the wrapper is unlocked reach the
// levels made before: level 0 draws them from its next load, and so must
// the levels.
TEST_F(MipmapSlotsTest, AnUpdateOfTheSourceReachesLevelsMadeBefore) {
    std::vector<uint8_t> voxels(size_t(256) * 12 * 12, 10);
    Held<ULMVolume> v(ULMVolume::Create(8, kWhole, 1, &kByte, voxels.data()));
    ASSERT_NE(v->GetMipmapLevel(1), nullptr);
    ASSERT_EQ(v->UnlockVolume(0), kULMOK);
    const std::vector<uint8_t> bright(size_t(256) * 12 * 12, 250);
    ASSERT_EQ(v->Update(bright.data(), kWhole), kULMOK);
    ULMVolume* level1 = v->GetMipmapLevel(1);
    ASSERT_NE(level1, nullptr);
    std::vector<uint8_t> got(size_t(128) * 12 * 12);
    ASSERT_EQ(level1->Unload(got.data(), level1->GetRange(), kULMUseBuffer), kULMOK);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], 250) << i;
}

// One thread renders through the levels while another writes voxels and
// moves the level range: every call succeeds, and the wrapper stays whole.
TEST_F(MipmapSlotsTest, TwoThreadsRenderAndChangeOneWrapper) {
    std::vector<uint8_t> voxels = Voxels(kWhole, 11);
    Held<ULMVolume> v(ULMVolume::Create(8, kWhole, 1, &kByte, voxels.data()));
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    Held<ULMContext> context(ULMContext::Create());
    context->SetCamera(FittingCamera(256, 16, 12, 64, 64));
    Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 64, 64, 32, 4, kMipmapRGBA));
    ASSERT_EQ(v->SetMipmapRange(0, 3), kULMOK);
    const std::vector<uint8_t> box = Voxels(kBox, 3);
    std::vector<ULMStatus> rendered, changed;
    std::thread renderer([&] {
        for (int i = 0; i < 12; ++i) rendered.push_back(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1));
    });
    std::thread writer([&] {
        for (int i = 0; i < 12; ++i) {
            changed.push_back(v->Update(box.data(), kBox));
            changed.push_back(v->SetMipmapRange(i % 3, 3));
            changed.push_back(v->SetBorderValue(unsigned(i)));
        }
    });
    renderer.join();
    writer.join();
    for (size_t i = 0; i < rendered.size(); ++i) EXPECT_EQ(rendered[i], kULMOK) << "render " << i;
    for (size_t i = 0; i < changed.size(); ++i) EXPECT_EQ(changed[i], kULMOK) << "change " << i;
    EXPECT_NE(v->GetMipmapLevel(2), nullptr);
}

}  // namespace
}  // namespace ulm3::testing
