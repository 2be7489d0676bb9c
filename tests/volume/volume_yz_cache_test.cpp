// YZ slices through the slab of a locked volume: one fill serves
// neighbouring slices, the write-back moves exactly the slices written, and
// volumes the slab cannot serve take the general road.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeYZCacheTest = VolumePassTest;

// An 8-bit locked volume and its host copy, voxel (x, y, z) of the box.
struct Slab8 : VolumePassTest::LockedVolume {
    ULMVolumeRange whole;
    Slab8(const ULMVolumeRange& range, uint32_t seed) : whole(range) { VolumePassTest::Lock(*this, 8, range, kULMBoard0, seed); }
    uint8_t& At(int x, int y, int z) {
        return host[(size_t(z - whole.ZOrigin()) * whole.YSize() + (y - whole.YOrigin())) * whole.XSize() +
                    (x - whole.XOrigin())];
    }
    std::vector<uint8_t> Slice(int x, int ySize, int zSize, int seed) {
        std::vector<uint8_t> s(size_t(ySize) * zSize);
        for (size_t i = 0; i < s.size(); ++i) s[i] = uint8_t(i * 7 + seed);
        for (int z = 0; z < zSize; ++z)
            for (int y = 0; y < ySize; ++y) At(x, whole.YOrigin() + y, whole.ZOrigin() + z) = s[size_t(z) * ySize + y];
        return s;
    }
};

std::vector<uint8_t> All(const Slab8& s) {
    std::vector<uint8_t> out(s.host.size());
    EXPECT_EQ(s.volume->Unload(out.data(), s.whole, kULMUseBuffer), kULMOK);
    return out;
}

// The slab starts at a multiple of 32 voxels from the volume's own X origin (132 here).
TEST_F(VolumeYZCacheTest, NeighbouringSlicesShareOneFillAndAreWrittenBackBeforeABoxUnload) {
    Slab8 s(ULMVolumeRange(128, 64, 64, 100, 0, 0), 5);
    tulx7sim::ClearRequestLog();
    for (int x : {140, 141, 142}) {
        const std::vector<uint8_t> slice = s.Slice(x, 64, 64, x);
        ASSERT_EQ(s.volume->Update(slice.data(), ULMVolumeRange(1, 64, 64, x, 0, 0)), kULMOK);
    }
    EXPECT_EQ(Renders(), 1u) << "one fill of the slab over 132..163";
    EXPECT_EQ(All(s), s.host);
    EXPECT_EQ(Renders(), 2u) << "the box unload wrote the slab back first";
}

TEST_F(VolumeYZCacheTest, AVolumeNarrowerThanTheSlabUsesNoSlab) {
    Slab8 s(ULMVolumeRange(16, 64, 64, 0, 0, 0), 8);
    tulx7sim::ClearRequestLog();
    const std::vector<uint8_t> slice = s.Slice(9, 64, 64, 3);
    ASSERT_EQ(s.volume->Update(slice.data(), ULMVolumeRange(1, 64, 64, 9, 0, 0)), kULMOK);
    EXPECT_EQ(All(s), s.host);
    EXPECT_EQ(Renders(), 0u);
}

// A source that hands out no maps sends a copy from its volume through host
// memory, one slice wide, into the slab road of a locked volume.
TEST_F(VolumeYZCacheTest, ASliceCopiedFromAVolumeWhoseSourceRefusesMapsTakesTheSlab) {
    Slab8 s(ULMVolumeRange(64, 64, 64, 0, 0, 0), 9);
    const std::vector<uint8_t> theirs = RandomBytes(64 * 64 * 64, 10);
    Held<ULMVolumeSource> source(new RefusingSource(false, false, 8, s.whole, theirs));
    source->AddRef();
    Held<ULMVolumeInternal> other(ULMVolumeInternal::CreateSimpleVolume(source));
    ASSERT_NE(other.GetPointer(), nullptr);
    ASSERT_EQ(s.volume->Update(other.GetPointer(), ULMVolumeRange(1, 64, 64, 33, 0, 0), 5, 0, 0, kULMUseSource),
              kULMOK);
    for (int z = 0; z < 64; ++z)
        for (int y = 0; y < 64; ++y) s.At(33, y, z) = theirs[(size_t(z) * 64 + y) * 64 + 5];
    EXPECT_EQ(All(s), s.host);
    EXPECT_EQ(s.volume->GetAccessControl(), kULMAccessNoControl);
}

// One thread writes YZ slices while another maps the volume to read it: each call is granted or refused with
// kULMErrAccess, and every slice granted reads back.
TEST_F(VolumeYZCacheTest, SlicesWrittenWhileAnotherThreadMapsAreGrantedOrRefused) {
    Slab8 s(ULMVolumeRange(64, 32, 32, 0, 0, 0), 3);
    std::atomic<bool> writing{true};
    std::thread reader([&] {  // a map of the source holds its access briefly, so it meets each update's steps
        void* address = nullptr;
        unsigned row = 0, rows = 0;
        for (int i = 0; i < 10000000 && writing.load(); ++i) {
            const ULMStatus mapped = s.volume->MapVolume(kULMAccessReadShared, address, row, rows, kULMUseSource);
            EXPECT_EQ(mapped == kULMOK ? s.volume->UnmapVolume() : mapped, mapped == kULMOK ? kULMOK : kULMErrAccess);
        }
    });
    for (int i = 0; i < 5000; ++i) {
        const std::vector<uint8_t> slice(32 * 32, uint8_t(i));
        const ULMStatus status = s.volume->Update(slice.data(), ULMVolumeRange(1, 32, 32, 32 + i % 32, 0, 0));
        EXPECT_TRUE(status == kULMOK || status == kULMErrAccess) << status;
        for (int yz = 0; yz < 32 * 32 && status == kULMOK; ++yz) s.At(32 + i % 32, yz % 32, yz / 32) = uint8_t(i);
    }
    writing = false;
    reader.join();
    EXPECT_EQ(All(s), s.host);
}

}  // namespace
}  // namespace ulm3::testing
