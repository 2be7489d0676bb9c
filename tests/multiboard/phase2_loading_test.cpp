// The bricked volume's voxels: every brick holds the base over its loaded
// range after a lock (in several chunks too), updates and copies reach every
// brick that loads a voxel, unloads read each voxel from its owner, maps
// write back, and the refusals leave everything as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "multiboard/phase2_fixture.h"

namespace ulm3 {
namespace {

using Bytes = std::vector<uint8_t>;

class Phase2LoadingTest : public testing::Phase2Test {
protected:
    Phase2LoadingTest() : Phase2Test(2) {}

    // The base voxels of a box, X fastest.
    Bytes Expected(const ULMVolumeRange& r) const {
        Bytes out;
        for (int z = r.ZOrigin(); z < r.ZOrigin() + r.ZSize(); ++z)
            for (int y = r.YOrigin(); y < r.YOrigin() + r.YSize(); ++y)
                for (int x = r.XOrigin(); x < r.XOrigin() + r.XSize(); ++x)
                    out.push_back(voxels[(size_t(z) * size[1] + y) * size[0] + x]);
        return out;
    }
    static Bytes Read(const ULMVolume* inVolume, const ULMVolumeRange& r, ULMSource inSource = kULMUseBuffer) {
        Bytes out(size_t(r.XSize()) * r.YSize() * r.ZSize(), 0xEE);
        EXPECT_EQ(inVolume->Unload(out.data(), r, inSource), kULMOK);
        return out;
    }
    // A box that crosses the seam between bricks 0 and 1 of a Y cut.
    ULMVolumeRange AcrossSeam(const ULMMultiboardVolumePhase2& inVolume) const {
        const int seam = inVolume.Brick(1).m_unloadRange.YOrigin();
        return ULMVolumeRange(7, 10, 4, 3, seam - 5, 6);
    }
};

// Several bricks on two boards, and a volume larger than one load chunk:
// each brick holds the base over all it loads.
TEST_F(Phase2LoadingTest, LockFillsEveryBrickOverItsLoadedRange) {
    for (const int bricks : {2, 3, 5}) {
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(bricks));
        ASSERT_NE(bricked, nullptr);
        EXPECT_EQ(bricked->GetBufferLocation(), kULMMultiBoardMode2);
        for (int i = 0; i < bricks; ++i) {
            const auto& brick = bricked->Brick(i);
            EXPECT_EQ(brick->GetBufferLocation(), brick.m_location);
            EXPECT_EQ(Read(brick.GetVolume(), brick.m_loadRange), Expected(brick.m_loadRange)) << bricks << ": " << i;
        }
    }
    FillVoxels(512, 256, 160);  // 20 MiB: two chunks of whole slices
    ReleasablePointer<ULMMultiboardVolumePhase2> big(Bricked(2));
    ASSERT_NE(big, nullptr);
    for (int i = 0; i < 2; ++i) {
        const auto& brick = big->Brick(i);
        const ULMVolumeRange last(512, brick.m_loadRange.YSize(), 40, 0, brick.m_loadRange.YOrigin(), 120);
        EXPECT_TRUE(Read(brick.GetVolume(), last) == Expected(last)) << i;
    }
}

// New voxels over the seam reach both bricks; then each brick is given
// other voxels there, and an unload reads every voxel from its owner.
TEST_F(Phase2LoadingTest, UpdatesReachEveryBrickAndUnloadsReadTheOwner) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    const ULMVolumeRange box = AcrossSeam(*bricked);
    Bytes fresh(size_t(box.XSize()) * box.YSize() * box.ZSize());
    std::iota(fresh.begin(), fresh.end(), uint8_t{1});
    ASSERT_EQ(bricked->Update(fresh.data(), box), kULMOK);
    for (int i = 0; i < 2; ++i) {
        const auto& brick = bricked->Brick(i);
        ASSERT_TRUE(brick.m_loadRange.Contains(box)) << "the box lies in the overlap";
        EXPECT_EQ(Read(brick.GetVolume(), box), fresh) << i;
    }
    EXPECT_EQ(Expected(box), Read(bricked, box, kULMUseSource)) << "the base keeps its voxels";

    const Bytes zeros(fresh.size(), 0), ones(fresh.size(), 0xFF);
    ASSERT_EQ(bricked->Brick(0)->Update(zeros.data(), box), kULMOK);
    ASSERT_EQ(bricked->Brick(1)->Update(ones.data(), box), kULMOK);
    const Bytes got = Read(bricked, box);
    const int seam = bricked->Brick(1).m_unloadRange.YOrigin();
    for (size_t i = 0; i < got.size(); ++i) {
        const int y = box.YOrigin() + int(i / size_t(box.XSize()) % size_t(box.YSize()));
        ASSERT_EQ(got[i], y < seam ? 0 : 0xFF) << i;
    }
}

// A copy from another volume over the seam, and one between two places of
// the bricked volume itself whose boxes overlap: against the same copy of
// the voxels on the host.
TEST_F(Phase2LoadingTest, CopiesReachEveryBrick) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    ReleasablePointer<ULMVolumeInternal> other(Plain());
    const ULMVolumeRange box = AcrossSeam(*bricked);
    ASSERT_EQ(bricked->Update(other, box, 20, 1, 2, kULMUseSource), kULMOK);
    const Bytes copied = Expected(ULMVolumeRange(box.XSize(), box.YSize(), box.ZSize(), 20, 1, 2));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Read(bricked->Brick(i).GetVolume(), box), copied) << i;

    const Bytes before = Read(bricked, bricked->GetRange());
    const ULMVolumeRange from(20, 30, 5, 4, 8, 3), to(20, 30, 5, 6, 14, 4);  // overlapping, across the seam
    ASSERT_EQ(bricked->Update(bricked.GetPointer(), to, from.XOrigin(), from.YOrigin(), from.ZOrigin(), kULMUseBuffer),
              kULMOK);
    Bytes expected = before;
    for (int z = 0; z < 5; ++z)
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 20; ++x)
                expected[(size_t(z + 4) * size[1] + y + 14) * size[0] + x + 6] =
                    before[(size_t(z + 3) * size[1] + y + 8) * size[0] + x + 4];
    EXPECT_EQ(Read(bricked, bricked->GetRange()), expected);
    for (int i = 0; i < 2; ++i) {
        const auto& brick = bricked->Brick(i);
        const Bytes held = Read(brick.GetVolume(), brick.m_loadRange);
        size_t at = 0;
        for (int z = 0; z < brick.m_loadRange.ZSize(); ++z)
            for (int y = 0; y < brick.m_loadRange.YSize(); ++y)
                for (int x = 0; x < brick.m_loadRange.XSize(); ++x, ++at)
                    ASSERT_EQ(held[at], expected[(size_t(z) * size[1] + y + brick.m_loadRange.YOrigin()) * size[0] + x])
                        << i;
    }
}

// A field the boards cannot write is refused before any brick is touched;
// a box outside the volume too.
TEST_F(Phase2LoadingTest, RefusedUpdatesWriteNothing) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    const ULMVolumeRange box = AcrossSeam(*bricked);
    const Bytes fresh(size_t(box.XSize()) * box.YSize() * box.ZSize(), 0x5A);
    EXPECT_EQ(bricked->UpdateField(fresh.data(), box, ULMFieldDescriptor(0, 4, kULMUnsignedFraction)), kULMErrFormat);
    ULMVolumeRange outside = box;
    outside.XOrigin() = size[0] - 3;
    EXPECT_EQ(bricked->Update(fresh.data(), outside), kULMErrArgument);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Read(bricked->Brick(i).GetVolume(), box), Expected(box)) << i;
    EXPECT_EQ(bricked->Update(nullptr, box), kULMErrArgument);
}

// A host copy mapped for writing reaches every brick when unmapped; another
// map while it is open is refused and leaves it to be written back; a lock
// while mapped, and a second lock, are refused.
TEST_F(Phase2LoadingTest, MapsWriteBackAndRefuseMixing) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2));
    ASSERT_NE(bricked, nullptr);
    EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMErrVolume);
    const ULMVolumeRange box = AcrossSeam(*bricked);
    void* mapped = nullptr;
    unsigned rows = 0, slices = 0;
    ASSERT_EQ(bricked->MapSubVolume(kULMAccessWrite, box, mapped, rows, slices, kULMUseTarget), kULMOK);
    ASSERT_EQ(rows, unsigned(box.XSize()));
    auto* bytes = static_cast<uint8_t*>(mapped);
    for (size_t i = 0; i < size_t(box.XSize()) * box.YSize() * box.ZSize(); ++i) bytes[i] = uint8_t(3 * i);
    const Bytes written(bytes, bytes + size_t(box.XSize()) * box.YSize() * box.ZSize());

    void* other = nullptr;
    EXPECT_EQ(bricked->MapSubVolume(kULMAccessReadShared, box, other, rows, slices, kULMUseSource), kULMErrTooMany);
    EXPECT_EQ(bricked->MapSubVolume(kULMAccessReadShared, box, other, rows, slices, kULMUseBuffer), kULMErrTooMany);
    EXPECT_EQ(bricked->UnlockVolume(0), kULMErrVolume);
    ASSERT_EQ(bricked->UnmapVolume(), kULMOK);
    EXPECT_EQ(bricked->UnmapVolume(), kULMErrVolume);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Read(bricked->Brick(i).GetVolume(), box), written) << i;

    unsigned char* typed = nullptr;
    ASSERT_EQ(bricked->MapVolume(kULMAccessReadShared, typed, rows, slices, kULMUseSource), kULMOK);
    EXPECT_EQ(typed[5], voxels[5]);
    EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMErrVolume);
    unsigned short* wide = nullptr;
    EXPECT_EQ(bricked->MapVolume(kULMAccessReadShared, wide, rows, slices, kULMUseSource), kULMErrArgument);
    EXPECT_EQ(bricked->UnmapVolume(), kULMOK);
}

// Voxels written into the source through a map of it reach the bricks at
// the next render; an unlocked volume is put on its boards by a render.
TEST_F(Phase2LoadingTest, SourceWritesReachTheBricksAtTheNextRender) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(2, false));
    ASSERT_NE(bricked, nullptr);
    Aim(10, 20, 96);
    ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, 96));
    ASSERT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_TRUE(bricked->IsLocked());
    const ULMVolumeRange box = AcrossSeam(*bricked);
    void* mapped = nullptr;
    unsigned rows = 0, slices = 0;
    ASSERT_EQ(bricked->MapSubVolume(kULMAccessWrite, box, mapped, rows, slices, kULMUseSource), kULMOK);
    for (int z = 0; z < box.ZSize(); ++z)
        for (int y = 0; y < box.YSize(); ++y)
            std::memset(static_cast<uint8_t*>(mapped) + (size_t(z) * slices + y) * rows, 0x77, size_t(box.XSize()));
    ASSERT_EQ(bricked->UnmapVolume(), kULMOK);
    ASSERT_EQ(bricked->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Read(bricked->Brick(i).GetVolume(), box), Bytes(size_t(box.XSize()) * box.YSize() * box.ZSize(), 0x77))
            << i;
}

// A brick that refuses to unlock does not keep the others locked: all are
// unlocked, the first refusal is told, and the volume counts as unlocked.
TEST_F(Phase2LoadingTest, UnlockVisitsEveryBrick) {
    ReleasablePointer<ULMMultiboardVolumePhase2> bricked(Bricked(3));
    ASSERT_NE(bricked, nullptr);
    void* held = nullptr;
    unsigned rows = 0, slices = 0;
    ULMVolume* first = bricked->Brick(0).GetVolume();
    ASSERT_EQ(first->MapVolume(kULMAccessReadShared, held, rows, slices, kULMUseBuffer), kULMOK);
    EXPECT_EQ(bricked->UnlockVolume(0), kULMErrVolume);
    EXPECT_FALSE(bricked->IsLocked());
    EXPECT_EQ(bricked->GetBufferLocation(), kULMNoBufferAttached);
    for (int i = 1; i < 3; ++i) EXPECT_FALSE(bricked->Brick(i)->IsLocked()) << i;
    EXPECT_EQ(first->UnmapVolume(), kULMOK);
    // Brick 0 is still locked: the lock fails and leaves every brick unlocked.
    EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMErrVolume);
    EXPECT_FALSE(first->IsLocked());
    EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
    // With the write-back too (what it keeps: UnlockWriteBackTest).
    EXPECT_EQ(bricked->UnlockVolume(1), kULMOK);
    EXPECT_EQ(bricked->UnlockVolume(1), kULMErrVolume);
    EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
    EXPECT_EQ(bricked->UnlockVolume(0), kULMOK);
    EXPECT_EQ(bricked->UnlockVolume(0), kULMErrVolume);
}

}  // namespace
}  // namespace ulm3
