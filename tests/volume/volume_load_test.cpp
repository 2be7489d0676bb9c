// Loads of voxels into a volume's board buffer: every method from every kind
// of voxel data, the chunk plans, lazy reloads, and host memory kept alive
// while the board still reads it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tulx7/driver_requests.h"
#include "volume/vox_file_reader.h"
#include "volume_fixture.h"
#include "vox_test_files.h"

namespace ulm3::testing {
namespace {

using VolumeLoadTest = VolumeTest;

std::string VoxFile(const ULMVolumeRange& r, int bits, const std::vector<uint8_t>& voxels) {
    return "Vox1999a\n##\nVolumeSize " + std::to_string(r.XSize()) + " " + std::to_string(r.YSize()) + " " +
           std::to_string(r.ZSize()) + "\nVoxelSize " + std::to_string(bits) +
           "\nEndian L\nField0 ( Position 0 Size 8 Name v )\n##\f\n" + std::string(voxels.begin(), voxels.end());
}

// A volume over `source`, which keeps only the volume's reference.
ULMVolumeInternal* Over(ULMVolumeSource* source) {
    source->AddRef();
    ULMVolumeInternal* volume = ULMVolumeInternal::CreateSimpleVolume(source);
    source->Release();
    return volume;
}

// The Z extents of the loads the driver was asked for, in order.
std::vector<int> LoadedSlices() {
    std::vector<int> slices;
    for (const tulx7sim::RequestLogEntry& e : tulx7sim::RequestLog())
        if (e.code == TULX7_DR_BUFFER_LOAD) slices.push_back(e.boxMax[2] - e.boxMin[2] + 1);
    return slices;
}

// 13 slices of up to 240,800 bytes: four chunks under a 1 MiB limit.
const ULMVolumeRange kWhole(301, 200, 13, 0, 0, 0);

TEST_F(VolumeLoadTest, EveryMethodLoadsExactlyTheSourceVoxels) {
    SetChunkLimit(1 << 20);
    enum Kind { kMemory, kApplication, kCallerMemory, kFile };  // then files in modes 0..3
    TempFile file;
    for (int bits : {8, 16, 32}) {
        const int bytes = bits / 8;
        std::vector<uint8_t> voxels = RandomBytes(size_t(kWhole.XSize()) * kWhole.YSize() * kWhole.ZSize() * bytes,
                                                  uint32_t(bits));
        file.Write(VoxFile(kWhole, bits, voxels));
        // The same voxels in rows of X + 5 voxels and slices of Y + 1 rows,
        // one voxel past the start of the block.
        const int row = kWhole.XSize() + 5, rows = kWhole.YSize() + 1;
        std::vector<uint8_t> pitched(size_t(row) * rows * kWhole.ZSize() * bytes + bytes);
        for (int z = 0; z < kWhole.ZSize(); ++z)
            for (int y = 0; y < kWhole.YSize(); ++y)
                std::memcpy(&pitched[((size_t(z) * rows + y) * row + 1) * bytes],
                            &voxels[(size_t(z) * kWhole.YSize() + y) * kWhole.XSize() * bytes],
                            size_t(kWhole.XSize()) * bytes);
        for (int method = eMethodMin; method <= eMethodMax; ++method) {
            SetMethod(static_cast<UpdateMethod>(method));
            for (int kind = kMemory; kind <= kFile + 3; ++kind) {
                SCOPED_TRACE(::testing::Message() << bits << " bits, method " << method << ", kind " << kind);
                PitchedSource* application = new PitchedSource(bits, kWhole, voxels);
                application->AddRef();
                Held<PitchedSource> holdApplication(application);
                ULMVolumeInternal* volume = nullptr;
                if (kind == kMemory)
                    volume = ULMVolumeInternal::CreateSimpleVolume(bits, kWhole, 0, nullptr, voxels.data());
                else if (kind == kApplication)
                    volume = Over(application);
                else if (kind == kCallerMemory)
                    volume = ULMVolumeInternal::CreateSimpleVolume(bits, kWhole, 0, nullptr, nullptr);
                else  // the file in read modes 0..3
                    volume = Over(new ULMVoxFileReader(file.Path(), ULMVolume::ReadMode(kind - kFile), 0));
                Held<ULMVolumeInternal> v(volume);
                ASSERT_NE(volume, nullptr);
                if (kind == kCallerMemory) {
                    ASSERT_EQ(v->CreateBuffer(kULMAnyBoard), kULMOK);
                    ASSERT_EQ(v->BoardCopy().Loader().FromMemory(kWhole, &pitched[bytes], row, rows).Wait(-1), kULMOK);
                } else if (kind == kApplication) {
                    // A new buffer of a volume with voxels holds them at once.
                    ASSERT_EQ(v->CreateBuffer(kULMAnyBoard), kULMOK);
                } else {
                    ASSERT_EQ(v->LockVolume(kULMAnyBoard), kULMOK);
                }
                EXPECT_TRUE(BoardVoxels(*v, kWhole) == voxels);
                EXPECT_EQ(application->liveMaps, 0);
            }
        }
    }
    EXPECT_EQ(tulx7sim::GetStats().hostBuffersFreedInUse, 0);
}

TEST_F(VolumeLoadTest, LoadsAreCutIntoChunksOfWholeSlices) {
    SetMethod(eMethodCopy);
    const struct {
        int x, y, z, bits, limit;
        std::vector<int> chunks;
    } cases[] = {
        {64, 64, 12, 8, 8 << 20, {6, 6}},
        {64, 64, 11, 8, 8 << 20, {6, 5}},
        {64, 64, 10, 8, 8 << 20, {10}},
        {384, 400, 12, 16, 1 << 20, {3, 3, 3, 3}},
    };
    for (const auto& c : cases) {
        SetChunkLimit(c.limit);
        const ULMVolumeRange whole(c.x, c.y, c.z, 0, 0, 0);
        std::vector<uint8_t> voxels(size_t(c.x) * c.y * c.z * c.bits / 8);
        Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(c.bits, whole, 0, nullptr, voxels.data()));
        tulx7sim::ClearRequestLog();
        ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
        EXPECT_EQ(LoadedSlices(), c.chunks) << c.x << "x" << c.y << "x" << c.z;
    }
}

TEST_F(VolumeLoadTest, PrepareLoadsOnlyWhatIsMissingOrChanged) {
    const ULMVolumeRange whole(32, 32, 16, 0, 0, 0);
    std::vector<uint8_t> voxels = RandomBytes(32 * 32 * 16, 7);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(8, whole, 0, nullptr, voxels.data()));
    ASSERT_EQ(v->BoardCopy().Prepare(), kULMOK);
    ASSERT_EQ(v->BoardCopy().WaitForLoad(), kULMOK);
    EXPECT_TRUE(BoardVoxels(*v, whole) == voxels);
    ASSERT_EQ(v->BoardCopy().Finish(), kULMOK);
    EXPECT_EQ(v->GetBufferID(), kULMNoBuffer) << "a buffer the render took stays";

    ASSERT_EQ(v->LockVolume(kULMBoard1), kULMOK);
    const ULMVolumeRange box(4, 5, 3, 6, 7, 8);
    const std::vector<uint8_t> changed = RandomBytes(4 * 5 * 3, 8);
    ASSERT_EQ(v->GetSource()->UpdateVoxels(box, changed.data()), kULMOK);
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(v->BoardCopy().Prepare(), kULMOK);
    ASSERT_EQ(v->BoardCopy().WaitForLoad(), kULMOK);
    std::vector<tulx7sim::RequestLogEntry> loads;
    for (const auto& e : tulx7sim::RequestLog())
        if (e.code == TULX7_DR_BUFFER_LOAD) loads.push_back(e);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(std::vector<int>(loads[0].boxMin, loads[0].boxMin + 3), (std::vector<int>{6, 7, 8}));
    EXPECT_EQ(std::vector<int>(loads[0].boxMax, loads[0].boxMax + 3), (std::vector<int>{9, 11, 10}));
    EXPECT_TRUE(BoardVoxels(*v, whole) == voxels);
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(v->BoardCopy().Prepare(), kULMOK);
    ASSERT_EQ(v->BoardCopy().Finish(), kULMOK);
    EXPECT_TRUE(LoadedSlices().empty());
    EXPECT_NE(v->GetBufferID(), kULMNoBuffer) << "a locked volume keeps its buffer";
}

// Four chunks over two slots: the third chunk may not overwrite the first
// slot's memory, and no driver host buffer may go, before the board has read
// it. The board runs nothing until two loads are queued.
TEST_F(VolumeLoadTest, HostMemoryOutlivesTheLoadsThatReadIt) {
    SetChunkLimit(1 << 20);
    std::vector<uint8_t> voxels = RandomBytes(size_t(kWhole.XSize()) * kWhole.YSize() * kWhole.ZSize() * 4, 3);
    for (UpdateMethod method : {eMethodCopy, eMethodKernel, eMethodMapCopy}) {
        SetMethod(method);
        Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(32, kWhole, 0, nullptr, voxels.data()));
        tulx7sim::PauseBoard(0);
        std::atomic<bool> locked{false};
        std::thread resume([&] {
            while (!locked && tulx7sim::GetStats().pendingJobs < 2) std::this_thread::yield();
            tulx7sim::ResumeBoard(0);
        });
        EXPECT_EQ(v->LockVolume(kULMBoard0), kULMOK) << method;
        locked = true;
        resume.join();
        EXPECT_TRUE(BoardVoxels(*v, kWhole) == voxels) << method;
    }
    EXPECT_EQ(tulx7sim::GetStats().hostBuffersFreedInUse, 0);
}

TEST_F(VolumeLoadTest, DirectLoadFailsWithoutFallbackAndKernelSlicesAreBounded) {
    const ULMVolumeRange whole(512, 512, 2, 0, 0, 0);
    std::vector<uint8_t> voxels(512 * 512 * 2 * 4);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(32, whole, 0, nullptr, nullptr));
    ASSERT_EQ(v->CreateBuffer(kULMBoard0), kULMOK);
    SetMethod(eMethodOneMap);
    tulx7sim::ClearRequestLog();
    tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_LOAD, 1, TULX7_DR_STATUS_HW_ERROR);
    EXPECT_TRUE(ULMFailed(v->BoardCopy().Loader().FromMemory(whole, voxels.data(), 0, 0).Wait(-1)));
    EXPECT_EQ(LoadedSlices().size(), 1u) << "the direct method fell back";
    EXPECT_EQ(v->BoardCopy().Loader().Kernel(whole, voxels.data(), 512, 512).Status(), kULMErrTooLarge);
}

}  // namespace
}  // namespace ulm3::testing
