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

// The host copy of a 16-bit volume of kX x kY x kZ at the origin.
struct HostVolume {
    std::vector<uint16_t> v;
    uint16_t& At(int x, int y, int z) { return v[(size_t(z) * kY + y) * kX + x]; }
    void Box(const ULMVolumeRange& b, const std::function<void(int, int, int, uint16_t&)>& f) {
        for (int z = b.ZOrigin(); z < b.ZOrigin() + b.ZSize(); ++z)
            for (int y = b.YOrigin(); y < b.YOrigin() + b.YSize(); ++y)
                for (int x = b.XOrigin(); x < b.XOrigin() + b.XSize(); ++x) f(x, y, z, At(x, y, z));
    }
};

std::vector<uint16_t> Unloaded(const ULMVolume& volume, const ULMVolumeRange& box) {
    std::vector<uint16_t> out(size_t(box.XSize()) * box.YSize() * box.ZSize());
    EXPECT_EQ(volume.Unload(out.data(), box, kULMUseBuffer), kULMOK);
    return out;
}

TEST_F(VolumeUpdateTest, EveryRoadIntoALockedVolumeMovesExactlyItsBox) {
    const ULMVolumeRange whole(kX, kY, kZ, 0, 0, 0);
    LockedVolume a, other;
    Lock(a, 16, whole, kULMBoard0, 1);
    Lock(other, 16, whole, kULMBoard1, 2);
    HostVolume host{std::vector<uint16_t>(size_t(kX) * kY * kZ)};
    std::memcpy(host.v.data(), a.host.data(), a.host.size());
    HostVolume second{std::vector<uint16_t>(host.v.size())};
    std::memcpy(second.v.data(), other.host.data(), other.host.size());
    ULMVolumeInternal& v = *a.volume;
    auto expectMatches = [&](const char* step) { EXPECT_EQ(Unloaded(v, whole), host.v) << step; };

    // A box from memory with rows 5 voxels and slices 3 rows longer.
    const ULMVolumeRange box(10, 7, 5, 3, 4, 6);
    std::vector<uint16_t> pitched(size_t(15) * 10 * 5);
    for (size_t i = 0; i < pitched.size(); ++i) pitched[i] = uint16_t(i * 7919);
    ASSERT_EQ(v.StartUpdateInternal(pitched.data(), box, 15, 10).Wait(-1), kULMOK);
    host.Box(box, [&](int x, int y, int z, uint16_t& h) { h = pitched[(size_t(z - 6) * 10 + (y - 4)) * 15 + (x - 3)]; });
    expectMatches("pitched box");

    // Bits 8-15 of each voxel, the low byte kept.
    std::vector<uint8_t> high(size_t(box.XSize()) * box.YSize() * box.ZSize());
    for (size_t i = 0; i < high.size(); ++i) high[i] = uint8_t(i * 31 + 5);
    ASSERT_EQ(v.UpdateField(high.data(), box, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMOK);
    size_t n = 0;
    host.Box(box, [&](int, int, int, uint16_t& h) { h = uint16_t((h & 0xFF) | high[n++] << 8); });
    expectMatches("field");

    // A write map: the serial moves at map time.
    const uint64_t serial = v.GetBufferSerial();
    unsigned short* mapped = nullptr;
    unsigned row = 0, rows = 0;
    ASSERT_EQ(v.MapSubVolume(kULMAccessWrite, box, mapped, row, rows, kULMUseBuffer), kULMOK);
    EXPECT_NE(v.GetBufferSerial(), serial);
    for (int z = 0; z < box.ZSize(); ++z)
        for (int y = 0; y < box.YSize(); ++y)
            for (int x = 0; x < box.XSize(); ++x) mapped[(size_t(z) * rows + y) * row + x] = uint16_t(x + 100 * y + 7 * z);
    ASSERT_EQ(v.UnmapVolume(), kULMOK);
    host.Box(box, [&](int x, int y, int z, uint16_t& h) { h = uint16_t(x - 3 + 100 * (y - 4) + 7 * (z - 6)); });
    expectMatches("write map");

    // From the other board.
    const ULMVolumeRange copied(20, 12, 9, 30, 2, 20);
    ASSERT_EQ(v.Update(other.volume.GetPointer(), copied, 1, 5, 8, kULMUseBuffer), kULMOK);
    host.Box(copied, [&](int x, int y, int z, uint16_t& h) { h = second.At(x - 29, y + 3, z - 12); });
    expectMatches("copy from board 1");

    // Onto an overlapping place of itself: every voxel comes from before the copy.
    const ULMVolumeRange shifted(20, 20, 20, 10, 10, 10);
    const HostVolume before = host;
    ASSERT_EQ(v.Update(&v, shifted, 14, 12, 10, kULMUseBuffer), kULMOK);
    host.Box(shifted, [&](int x, int y, int z, uint16_t& h) { h = HostVolume(before).At(x + 4, y + 2, z); });
    expectMatches("overlapping self-copy");

    // YZ slices through the slab, read back through it and then as a box.
    for (int x : {37, 38}) {
        std::vector<uint16_t> slice(size_t(kY) * kZ);
        for (size_t i = 0; i < slice.size(); ++i) slice[i] = uint16_t(i * 13 + x);
        ASSERT_EQ(v.Update(slice.data(), ULMVolumeRange(1, kY, kZ, x, 0, 0)), kULMOK);
        host.Box(ULMVolumeRange(1, kY, kZ, x, 0, 0), [&](int, int y, int z, uint16_t& h) { h = slice[size_t(z) * kY + y]; });
    }
    const ULMVolumeRange slice37(1, kY, kZ, 37, 0, 0);
    std::vector<uint16_t> expected;
    host.Box(slice37, [&](int, int, int, uint16_t& h) { expected.push_back(h); });
    EXPECT_EQ(Unloaded(v, slice37), expected);
    expectMatches("YZ slices");
    EXPECT_TRUE(v.IsLoaded());
}

// A source that is read-only, and one whose maps are refused.
class FixedSource : public PitchedSource {
public:
    FixedSource(bool readOnly, bool maps, const ULMVolumeRange& range, const std::vector<uint8_t>& bytes)
        : PitchedSource(16, range, bytes), m_readOnly(readOnly), m_maps(maps) {}
    bool IsReadOnly() const override { return m_readOnly; }
    ULMStatus MapVoxels(const ULMVolumeRange& box, int w, void** out, unsigned* ys, unsigned* zs) override {
        return m_maps ? PitchedSource::MapVoxels(box, w, out, ys, zs) : kULMErrInternal;
    }

private:
    bool m_readOnly, m_maps;
};

TEST_F(VolumeUpdateTest, RefusalsMoveNothing) {
    const ULMVolumeRange whole(kX, kY, kZ, 0, 0, 0);
    LockedVolume a, eight;
    Lock(a, 16, whole, kULMBoard0, 3);
    Lock(eight, 8, whole, kULMBoard0, 4);
    ULMVolumeInternal& v = *a.volume;
    Held<ULMVolumeSource> readOnlySource(new FixedSource(true, true, whole, a.memory));
    readOnlySource->AddRef();
    Held<ULMVolumeInternal> readOnly(ULMVolumeInternal::CreateSimpleVolume(readOnlySource));
    Held<ULMVolumeInternal> noBuffer(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, nullptr));
    std::vector<uint16_t> voxels(size_t(kX) * kY * kZ);
    const ULMVolumeRange box(8, 8, 8, 0, 0, 0);
    ULMFieldDescriptor byte4(4, 8, kULMUnsignedFraction);
    void* address = nullptr;
    unsigned char* bytes = nullptr;
    unsigned short* words = nullptr;
    unsigned row = 0, rows = 0;
    tulx7sim::ClearRequestLog();

    EXPECT_EQ(v.Update(voxels.data(), ULMVolumeRange(8, 8, 8, 60, 0, 0)), kULMErrArgument);
    EXPECT_EQ(v.Update(nullptr, box), kULMErrArgument);
    EXPECT_EQ(v.Update(eight.volume.GetPointer(), box, 0, 0, 0, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(v.UpdateField(voxels.data(), box, byte4), kULMErrFormat);
    EXPECT_EQ(readOnly->Update(voxels.data(), box), kULMErrReadOnly);
    EXPECT_EQ(readOnly->Update(voxels.data(), ULMVolumeRange()), kULMOK);
    EXPECT_EQ(readOnly->MapSubVolume(kULMAccessWrite, box, address, row, rows, kULMUseSource), kULMErrReadOnly);
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, ULMVolumeRange(0, 8, 8, 0, 0, 0), address, row, rows,
                             kULMUseBuffer),
              kULMErrArgument);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(v.MapSubVolume(kULMAccessReadShared, box, bytes, row, rows, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(noBuffer->MapSubVolume(kULMAccessReadShared, box, words, row, rows, kULMUseSource), kULMErrVolume);
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
