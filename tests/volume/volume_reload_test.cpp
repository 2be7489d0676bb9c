// A buffer recorded as holding the volume without a load, and the volume's
// own source loaded into it again without a wait: the two steps with which
// several volumes over one source are filled on their boards at once.
#include <gtest/gtest.h>

#include "volume/volume_fixture.h"

namespace ulm3::testing {
namespace {

const ULMVolumeRange kWhole(40, 30, 24, 0, 0, 0);
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

size_t Loads() {
    size_t n = 0;
    for (const auto& e : tulx7sim::RequestLog()) n += e.code == TULX7_DR_BUFFER_LOAD;
    return n;
}

// The buffer holds the volume by the record alone: a lock then loads
// nothing, and the reload brings the voxels; the buffer still counts as
// holding the host data, as a lock's own load leaves it.
TEST_F(VolumeTest, AnAllocatedBufferLoadsOnlyWhenReloaded) {
    std::vector<uint8_t> voxels = RandomBytes(size_t(40) * 30 * 24, 3);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, voxels.data()));
    ASSERT_EQ(v->AllocateBuffer(kULMBoard1), kULMOK);
    EXPECT_EQ(v->GetBufferLocation(), kULMBoard1);
    EXPECT_TRUE(v->IsLoaded());
    ASSERT_EQ(v->LockVolume(kULMBoard1), kULMOK);
    EXPECT_EQ(Loads(), 0u);
    const ULMVolumeRange half(40, 30, 12, 0, 0, 6);
    ASSERT_EQ(v->StartUpdate(v, half, 0, 0, 6, kULMUseSource).Wait(-1), kULMOK);
    EXPECT_GT(Loads(), 0u);
    const std::vector<uint8_t> board = BoardVoxels(*v, half);
    EXPECT_TRUE(std::equal(board.begin(), board.end(), voxels.begin() + 40 * 30 * 6));
    EXPECT_TRUE(v->HostDataMatchesBuffer()) << "a reload is no write";
    // A write is.
    ASSERT_EQ(v->Update(voxels.data(), ULMVolumeRange(4, 4, 4, 0, 0, 0)), kULMOK);
    EXPECT_FALSE(v->HostDataMatchesBuffer());
}

// The reload is queued and returned without a wait: a paused board holds
// it, and the caller still gets its event at once.
TEST_F(VolumeTest, AReloadDoesNotWaitForItsBoard) {
    std::vector<uint8_t> voxels = RandomBytes(size_t(40) * 30 * 24, 4);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, voxels.data()));
    ASSERT_EQ(v->AllocateBuffer(kULMBoard0), kULMOK);
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    tulx7sim::PauseBoard(0);
    const ULMSyncEvent first = v->StartUpdate(v, kWhole, 0, 0, 0, kULMUseSource);
    const ULMSyncEvent second = v->StartReloadFromSource(ULMVolumeRange(40, 30, 2, 0, 0, 22));
    EXPECT_EQ(first.Wait(0), kULMTimeout) << "queued behind the pause";
    EXPECT_EQ(second.Wait(0), kULMTimeout);
    tulx7sim::ResumeBoard(0);
    EXPECT_EQ(first.Wait(-1), kULMOK);
    EXPECT_EQ(second.Wait(-1), kULMOK);
    EXPECT_EQ(BoardVoxels(*v, kWhole), voxels);
}

TEST_F(VolumeTest, AReloadNeedsABufferHostVoxelsAndARangeInside) {
    std::vector<uint8_t> voxels = RandomBytes(size_t(40) * 30 * 24, 5);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, voxels.data()));
    Held<ULMVolumeInternal> empty(ULMVolumeInternal::CreateSimpleVolume(8, kWhole, 1, &kByte, nullptr));
    ASSERT_EQ(empty->AllocateBuffer(kULMBoard0), kULMOK);
    EXPECT_EQ(v->StartReloadFromSource(kWhole).Wait(-1), kULMErrVolume) << "no buffer";
    EXPECT_EQ(empty->StartReloadFromSource(kWhole).Wait(-1), kULMErrVolume) << "no host voxels";
    ASSERT_EQ(v->AllocateBuffer(kULMBoard0), kULMOK);
    EXPECT_EQ(v->StartReloadFromSource(ULMVolumeRange(4, 4, 4, 38, 0, 0)).Wait(-1), kULMErrArgument);
    EXPECT_EQ(v->StartReloadFromSource(ULMVolumeRange(4, -1, 4, 0, 0, 0)).Wait(-1), kULMErrArgument);
    EXPECT_EQ(v->StartReloadFromSource(ULMVolumeRange(0, 4, 4, 0, 0, 0)).Wait(-1), kULMOK);
    EXPECT_EQ(v->AllocateBuffer(ULMLocation(5)), kULMErrArgument);
    EXPECT_EQ(Loads(), 0u);
}

// A source that lends no memory is read through staging memory instead.
TEST_F(VolumeTest, ASourceThatLendsNoMemoryIsReloadedAllTheSame) {
    const std::vector<uint8_t> voxels = RandomBytes(size_t(40) * 30 * 24, 6);
    auto* source = new RefusingSource(false, false, 8, kWhole, voxels);
    source->AddRef();
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(source));
    ASSERT_NE(v.GetPointer(), nullptr);
    ASSERT_EQ(v->AllocateBuffer(kULMBoard0), kULMOK);
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    ASSERT_EQ(v->StartUpdate(v, kWhole, 0, 0, 0, kULMUseSource).Wait(-1), kULMOK);
    EXPECT_EQ(BoardVoxels(*v, kWhole), voxels);
    v.Assign(nullptr);
    EXPECT_EQ(source->liveMaps, 0);
    source->Release();
}

}  // namespace
}  // namespace ulm3::testing
