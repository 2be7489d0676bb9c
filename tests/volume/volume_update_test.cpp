// Writing into a locked volume by every road, followed step by step by a host
// copy, and the refusals of updates, unloads and maps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeUpdateTest = VolumePassTest;

constexpr int kX = 64, kY = 48, kZ = 40;

// A host copy of a 16-bit kX x kY x kZ volume.
struct HostVolume {
    std::vector<uint16_t> v;
    explicit HostVolume(const std::vector<uint8_t>& bytes) : v(bytes.size() / 2) { std::memcpy(v.data(), bytes.data(), bytes.size()); }
    uint16_t& At(int x, int y, int z) { return v[(size_t(z) * kY + y) * kX + x]; }
    template <typename F>
    void Box(const ULMVolumeRange& b, F f) {
        for (int z = b.ZOrigin(); z < b.ZOrigin() + b.ZSize(); ++z)
            for (int y = b.YOrigin(); y < b.YOrigin() + b.YSize(); ++y)
                for (int x = b.XOrigin(); x < b.XOrigin() + b.XSize(); ++x) At(x, y, z) = f(x, y, z, At(x, y, z));
    }
};

TEST_F(VolumeUpdateTest, EveryRoadIntoALockedVolumeMovesExactlyItsBox) {
    const ULMVolumeRange whole(kX, kY, kZ, 0, 0, 0);
    LockedVolume a, other;
    Lock(a, 16, whole, kULMBoard0, 1);
    Lock(other, 16, whole, kULMBoard1, 2);
    HostVolume host(a.host), second(other.host);
    ULMVolumeInternal& v = *a.volume;
    auto expectMatches = [&](const char* step) {
        std::vector<uint16_t> back(host.v.size());
        EXPECT_EQ(v.Unload(back.data(), whole, kULMUseBuffer), kULMOK);
        EXPECT_EQ(back, host.v) << step;
    };

    // A box from memory with rows 5 voxels and slices 3 rows longer.
    const ULMVolumeRange box(10, 7, 5, 3, 4, 6);
    std::vector<uint16_t> pitched(size_t(15) * 10 * 5);
    for (size_t i = 0; i < pitched.size(); ++i) pitched[i] = uint16_t(i * 7919);
    ASSERT_EQ(v.BoardCopy().StartWrite(pitched.data(), box, 15, 10).Wait(-1), kULMOK);
    host.Box(box, [&](int x, int y, int z, uint16_t) { return pitched[(size_t(z - 6) * 10 + (y - 4)) * 15 + (x - 3)]; });
    expectMatches("pitched box");

    // Bits 8-15 of each voxel, the low byte kept.
    std::vector<uint8_t> high(size_t(box.XSize()) * box.YSize() * box.ZSize());
    for (size_t i = 0; i < high.size(); ++i) high[i] = uint8_t(i * 31 + 5);
    ASSERT_EQ(v.UpdateField(high.data(), box, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMOK);
    size_t n = 0;
    host.Box(box, [&](int, int, int, uint16_t h) { return uint16_t((h & 0xFF) | high[n++] << 8); });
    expectMatches("field");

    // A write map: the serial moves at map time.
    const uint64_t serial = v.BoardCopy().Serial();
    unsigned short* mapped = nullptr;
    unsigned row = 0, rows = 0;
    ASSERT_EQ(v.MapSubVolume(kULMAccessWrite, box, mapped, row, rows, kULMUseBuffer), kULMOK);
    EXPECT_NE(v.BoardCopy().Serial(), serial);
    for (int z = 0; z < box.ZSize(); ++z)
        for (int y = 0; y < box.YSize(); ++y)
            for (int x = 0; x < box.XSize(); ++x) mapped[(size_t(z) * rows + y) * row + x] = uint16_t(x + 100 * y + 7 * z);
    ASSERT_EQ(v.UnmapVolume(), kULMOK);
    host.Box(box, [&](int x, int y, int z, uint16_t) { return uint16_t(x - 3 + 100 * (y - 4) + 7 * (z - 6)); });
    expectMatches("write map");

    const ULMVolumeRange copied(20, 12, 9, 30, 2, 20);
    ASSERT_EQ(v.Update(other.volume.GetPointer(), copied, 1, 5, 8, kULMUseBuffer), kULMOK);
    host.Box(copied, [&](int x, int y, int z, uint16_t) { return second.At(x - 29, y + 3, z - 12); });
    expectMatches("copy from board 1");

    std::vector<uint16_t> slice(size_t(kY) * kZ);
    for (size_t i = 0; i < slice.size(); ++i) slice[i] = uint16_t(i * 13);
    ASSERT_EQ(v.Update(slice.data(), ULMVolumeRange(1, kY, kZ, 37, 0, 0)), kULMOK);
    host.Box(ULMVolumeRange(1, kY, kZ, 37, 0, 0), [&](int, int y, int z, uint16_t) { return slice[size_t(z) * kY + y]; });
    expectMatches("YZ slice");
    EXPECT_TRUE(v.IsLoaded());
}

// Onto an overlapping place of itself, in the source's memory: every voxel
// comes from before the copy.
TEST_F(VolumeUpdateTest, AnOverlappingSelfCopyReadsNoVoxelItWrote) {
    std::vector<uint8_t> memory = RandomBytes(size_t(kX) * kY * kZ * 2, 5);
    HostVolume host(memory);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, ULMVolumeRange(kX, kY, kZ, 0, 0, 0), 0, nullptr,
                                                                    memory.data()));
    const ULMVolumeRange shifted(20, 20, 20, 14, 12, 12);
    HostVolume before = host;
    ASSERT_EQ(v->Update(v.GetPointer(), shifted, 10, 10, 10, kULMUseSource), kULMOK);
    host.Box(shifted, [&](int x, int y, int z, uint16_t) { return before.At(x - 4, y - 2, z - 2); });
    EXPECT_EQ(HostVolume(memory).v, host.v);
}

TEST_F(VolumeUpdateTest, RefusalsMoveNothing) {
    const ULMVolumeRange whole(kX, kY, kZ, 0, 0, 0);
    LockedVolume a, eight;
    Lock(a, 16, whole, kULMBoard0, 3);
    Lock(eight, 8, whole, kULMBoard0, 4);
    ULMVolumeInternal& v = *a.volume;
    Held<ULMVolumeSource> readOnlySource(new RefusingSource(true, true, 16, whole, a.memory));
    readOnlySource->AddRef();
    Held<ULMVolumeInternal> readOnly(ULMVolumeInternal::CreateSimpleVolume(readOnlySource));
    std::vector<uint16_t> voxels(size_t(kX) * kY * kZ);
    const ULMVolumeRange box(8, 8, 8, 0, 0, 0);
    void* address = nullptr;
    unsigned char* bytes = nullptr;
    unsigned short* words = nullptr;
    unsigned row = 0, rows = 0;
    tulx7sim::ClearRequestLog();

    EXPECT_EQ(v.Update(voxels.data(), ULMVolumeRange(8, 8, 8, 60, 0, 0)), kULMErrArgument);
    EXPECT_EQ(v.Update(voxels.data(), ULMVolumeRange(8, -5, 8, 0, 0, 0)), kULMErrArgument);
    EXPECT_EQ(v.Update(a.volume.GetPointer(), ULMVolumeRange(8, 8, -5, 0, 0, 8), 0, 0, 0, kULMUseBuffer),
              kULMErrArgument);
    EXPECT_EQ(v.Update(nullptr, box), kULMErrArgument);
    EXPECT_EQ(v.Update(eight.volume.GetPointer(), box, 0, 0, 0, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(v.UpdateField(voxels.data(), box, ULMFieldDescriptor(4, 8, kULMUnsignedFraction)), kULMErrFormat);
    EXPECT_EQ(readOnly->Update(voxels.data(), box), kULMErrReadOnly);
    EXPECT_EQ(readOnly->MapSubVolume(kULMAccessWrite, box, address, row, rows, kULMUseSource), kULMErrReadOnly);
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, ULMVolumeRange(0, 8, 8, 0, 0, 0), address, row, rows, kULMUseBuffer),
              kULMErrArgument);
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, box, bytes, row, rows, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(readOnly->MapSubVolume(kULMAccessReadShared, box, words, row, rows, kULMUseSource), kULMErrVolume);
    EXPECT_EQ(v.UnmapVolume(), kULMErrVolume);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());

    ASSERT_EQ(v.MapSubVolume(kULMAccessReadShared, box, words, row, rows, kULMUseBuffer), kULMOK);
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, box, words, row, rows, kULMUseBuffer), kULMErrTooMany);
    EXPECT_EQ(v.Update(voxels.data(), box), kULMErrAccess);
    // Shared reads of the source are granted beside it.
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, box, address, row, rows, kULMUseSource), kULMOK);
    EXPECT_EQ(v.UnmapVolume(), kULMOK);
    EXPECT_EQ(v.UnmapVolume(), kULMOK);
    EXPECT_EQ(v.GetAccessControl(), kULMAccessNoControl) << "the refused second map kept no access";
}

}  // namespace
}  // namespace ulm3::testing
