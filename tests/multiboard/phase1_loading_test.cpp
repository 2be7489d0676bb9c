// The phase-1 volume's copies kept alike: the lock's chunked loads onto
// every board and its undo, a second lock, updates and copies into every
// copy, unloads taken from the copies in turn, and maps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "multiboard/phase1_fixture.h"
#include "tulx7/driver_requests.h"
#include "volume/volume_source_memory.h"

namespace ulm3::testing {
namespace {

// A volume of 16-bit voxels: v(x, y, z) = x + 3y + 5z, as the tests compute it.
uint16_t Voxel(int x, int y, int z) { return uint16_t(x + 3 * y + 5 * z); }

std::vector<uint16_t> Voxels(const ULMVolumeRange& inBox) {
    std::vector<uint16_t> voxels;
    voxels.reserve(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize());
    for (int z = inBox.ZOrigin(); z < inBox.ZOrigin() + inBox.ZSize(); ++z)
        for (int y = inBox.YOrigin(); y < inBox.YOrigin() + inBox.YSize(); ++y)
            for (int x = inBox.XOrigin(); x < inBox.XOrigin() + inBox.XSize(); ++x) voxels.push_back(Voxel(x, y, z));
    return voxels;
}

class Phase1LoadTest : public Phase1Test {
protected:
    explicit Phase1LoadTest(int inBoards = 2) : Phase1Test(inBoards) {}

    // A banded 16-bit volume over m_data (null: no host voxels).
    ULMMultiboardVolumePhase1* NewBanded16(const ULMVolumeRange& inRange, bool inWithData = true,
                                          int inSubVolumes = 0) {
        m_data = inWithData ? Voxels(inRange) : std::vector<uint16_t>();
        const ULMFieldDescriptor field(0, 16, kULMUnsignedFraction);
        Banded(true, inSubVolumes);
        ULMVolume* v = ULMVolume::Create(16, inRange, 1, &field, inWithData ? m_data.data() : nullptr);
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_TRUE(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase1));
        return static_cast<ULMMultiboardVolumePhase1*>(v);
    }

    // Copy i's board buffer over inBox.
    static std::vector<uint16_t> OnBoard(ULMMultiboardVolumePhase1& inVolume, int inCopy, const ULMVolumeRange& inBox) {
        std::vector<uint16_t> voxels(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize(), 0xDEAD);
        EXPECT_EQ(inVolume.GetSubvolume(inCopy)->Unload(voxels.data(), inBox, kULMUseBuffer), kULMOK) << inCopy;
        return voxels;
    }

    // The load requests per board, each as the Z slices it covers.
    struct Load {
        int board;
        int zMin, zMax;
    };
    static std::vector<Load> Loads() {
        std::vector<Load> loads;
        for (const auto& e : tulx7sim::RequestLog())
            if (e.code == TULX7_DR_BUFFER_LOAD && e.status == 0) loads.push_back({e.board, e.boxMin[2], e.boxMax[2]});
        return loads;
    }

    static bool NoCopyHoldsABuffer(ULMMultiboardVolumePhase1& inVolume) {
        for (int i = 0; i < inVolume.GetNumberRealVolumes(); ++i)
            if (inVolume.GetSubvolume(i)->GetBufferLocation() != kULMNoBufferAttached ||
                inVolume.GetSubvolume(i)->IsLocked())
                return false;
        return true;
    }

    std::vector<uint16_t> m_data;
};

class Phase1ThreeBoardLoadTest : public Phase1LoadTest {
protected:
    Phase1ThreeBoardLoadTest() : Phase1LoadTest(3) {}
};

// The loads of a lock run as chunks of whole slices of at most 16 MiB, each
// chunk issued to every board before the next: consecutive loads of one
// board form one chunk, and the chunks cover the volume in order.
TEST_F(Phase1LoadTest, TheLockLoadsEveryBoardChunkByChunk) {
    const struct {
        ULMVolumeRange range;
        int slicesPerChunk;
    } cases[] = {
        {ULMVolumeRange(256, 256, 512, 0, 0, 0), 128},  // 128 KiB slices, 64 MiB
        {ULMVolumeRange(4096, 2050, 3, 0, 0, 0), 1},    // slices of more than 16 MiB
        {ULMVolumeRange(40, 30, 20, 0, 0, 4), 20},      // one chunk
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range.XSize());
        ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(c.range));
        tulx7sim::ClearRequestLog();
        ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
        EXPECT_TRUE(banded->IsLoaded());
        // Runs of one board's loads.
        std::vector<Load> runs;
        for (const Load& load : Loads()) {
            if (!runs.empty() && runs.back().board == load.board && load.zMin <= runs.back().zMax + 1)
                runs.back().zMax = std::max(runs.back().zMax, load.zMax);
            else
                runs.push_back(load);
        }
        const int end = c.range.ZOrigin() + c.range.ZSize();
        const int chunks = (c.range.ZSize() + c.slicesPerChunk - 1) / c.slicesPerChunk;
        ASSERT_EQ(runs.size(), size_t(2 * chunks));
        for (int k = 0; k < chunks; ++k)
            for (int b = 0; b < 2; ++b) {
                const Load& run = runs[size_t(2 * k + b)];
                EXPECT_EQ(run.board, b) << k;
                EXPECT_EQ(run.zMin, c.range.ZOrigin() + k * c.slicesPerChunk) << k;
                EXPECT_EQ(run.zMax, std::min(end, c.range.ZOrigin() + (k + 1) * c.slicesPerChunk) - 1) << k;
            }
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(OnBoard(*banded, i, c.range) == m_data) << i;
    }
}

// Every chunk reaches a paused board while the lock is still running: no
// load waits for another before all are queued.
TEST_F(Phase1LoadTest, EveryChunkIsQueuedBeforeAnyLoadIsWaitedFor) {
    const ULMVolumeRange range(256, 256, 512, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    tulx7sim::ClearRequestLog();
    tulx7sim::PauseBoard(1);
    std::atomic<ULMStatus> locked{kULMInProgress};
    std::thread locker([&] { locked = banded->LockVolume(kULMAnyBoard); });
    // The slices of the loads queued on board 1 so far.
    const auto queuedOnBoard1 = [] {
        int slices = 0;
        for (const Load& load : Loads()) slices += load.board == 1 ? load.zMax - load.zMin + 1 : 0;
        return slices;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (queuedOnBoard1() < range.ZSize() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(queuedOnBoard1(), range.ZSize());
    EXPECT_EQ(locked.load(), kULMInProgress) << "the lock waits for the paused board's loads";
    tulx7sim::ResumeBoard(1);
    locker.join();
    EXPECT_EQ(locked.load(), kULMOK);
    EXPECT_TRUE(OnBoard(*banded, 1, range) == m_data);
}

TEST_F(Phase1LoadTest, AVolumeWithoutHostVoxelsIsLockedWithoutLoads) {
    const ULMVolumeRange range(64, 64, 16, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range, false));
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    EXPECT_TRUE(Loads().empty());
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(banded->GetSubvolume(i)->IsLocked()) << i;
        EXPECT_EQ(banded->GetSubvolume(i)->GetBufferLocation(), ULMLocation(i));
    }
}

// A lock that fails on board 1, when its buffer is made or when the first
// chunk loads there while the later chunks succeed, leaves no copy locked
// and no buffer on any board, and a later lock succeeds.
TEST_F(Phase1LoadTest, ALockThatFailsOnBoardOneUndoesEveryCopy) {
    const ULMVolumeRange range(256, 256, 512, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    // A chunk's load comes in pieces, as many on each board: a lock counts
    // them, so that the fault can hit the last piece of board 1's first
    // chunk (the board layer reports a transfer by its last piece).
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    int board0First = 0;
    for (const Load& load : Loads()) {
        if (load.board != 0) break;
        ++board0First;
    }
    ASSERT_EQ(banded->UnlockVolume(0), kULMOK);
    const int buffersBefore = tulx7sim::GetStats().liveBuffers;
    for (int fault = 0; fault < 2; ++fault) {
        SCOPED_TRACE(fault == 0 ? "board 1's buffer" : "board 1's first chunk");
        tulx7sim::ClearRequestLog();
        if (fault == 0)
            tulx7sim::InjectSubmitFailure(TULX7_DR_BUFFER_ALLOCATE, 2, 6);
        else
            tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 2 * board0First);
        EXPECT_TRUE(ULMFailed(banded->LockVolume(kULMAnyBoard)));
        EXPECT_FALSE(banded->IsLocked());
        EXPECT_TRUE(NoCopyHoldsABuffer(*banded));
        ASSERT_TRUE(tulx7sim::WaitForIdle(10000));
        EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffersBefore);
    }
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    EXPECT_TRUE(OnBoard(*banded, 1, range) == m_data);
}

// A second lock, or a lock of a mapped volume, is refused before anything
// changes: the copies keep their buffers and what was written into them.
TEST_F(Phase1LoadTest, LockingALockedOrMappedVolumeChangesNothing) {
    const ULMVolumeRange range(64, 48, 20, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const ULMVolumeRange box(8, 8, 4, 10, 10, 6);
    const std::vector<uint16_t> written(size_t(8 * 8 * 4), 0x1234);
    ASSERT_EQ(banded->Update(written.data(), box), kULMOK);
    unsigned long long ids[2];
    for (int i = 0; i < 2; ++i) ids[i] = banded->GetSubvolume(i)->GetBufferID();
    EXPECT_EQ(banded->LockVolume(kULMAnyBoard), kULMErrVolume);
    void* mapped = nullptr;
    unsigned sx = 0, sy = 0;
    ASSERT_EQ(banded->MapSubVolume(kULMAccessReadShared, box, mapped, sx, sy, kULMUseSource), kULMOK);
    EXPECT_EQ(banded->LockVolume(kULMAnyBoard), kULMErrVolume);
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(banded->GetSubvolume(i)->IsLocked());
        EXPECT_EQ(banded->GetSubvolume(i)->GetBufferID(), ids[i]);
        EXPECT_TRUE(OnBoard(*banded, i, box) == written) << i;
    }
}

// Writes into the locked volume reach every copy: voxels, one field, and a
// box moved within the volume on each board.
TEST_F(Phase1ThreeBoardLoadTest, UpdatesAndCopiesReachEveryCopy) {
    const ULMVolumeRange range(64, 48, 20, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const ULMVolumeRange box(6, 5, 4, 2, 3, 1);
    std::vector<uint16_t> voxels(size_t(6 * 5 * 4));
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint16_t(0x8000 + i);
    const uint64_t serial = banded->GetVolumeSerial();
    ASSERT_EQ(banded->StartUpdate(voxels.data(), box).Wait(-1), kULMOK);
    std::vector<uint8_t> high(voxels.size(), 0x5A);
    ASSERT_EQ(banded->UpdateField(high.data(), box, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMOK);
    for (uint16_t& v : voxels) v = uint16_t((v & 0xFF) | 0x5A00);
    const ULMVolumeRange moved(6, 5, 4, 40, 30, 12);
    ASSERT_EQ(banded->Update(banded, moved, box.XOrigin(), box.YOrigin(), box.ZOrigin(), kULMUseBuffer), kULMOK);
    EXPECT_EQ(banded->GetVolumeSerial(), serial + 3);
    for (int i = 0; i < banded->GetNumberRealVolumes(); ++i) {
        EXPECT_TRUE(OnBoard(*banded, i, box) == voxels) << i;
        EXPECT_TRUE(OnBoard(*banded, i, moved) == voxels) << i;
    }
}

struct Turn {
    int boards;
    int slices;
    std::vector<std::array<int, 2>> chunks;  // board and slices of each chunk of the first unload
};

class Phase1UnloadTest : public Phase1LoadTest, public ::testing::WithParamInterface<Turn> {
protected:
    Phase1UnloadTest() : Phase1LoadTest(GetParam().boards) {}
};

// Chunks of at most eight slices, a copy's share at most, from the copies in
// turn; a second unload goes on with the turn.
TEST_P(Phase1UnloadTest, UnloadsTakeChunksFromTheCopiesInTurn) {
    const Turn& t = GetParam();
    const ULMVolumeRange range(32, 24, t.slices + 4, 0, 0, 0), box(30, 20, t.slices, 1, 2, 3);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    std::vector<std::array<int, 2>> expected = t.chunks;
    for (int round = 0; round < 2; ++round) {
        tulx7sim::ClearRequestLog();
        std::vector<uint16_t> out(size_t(30 * 20) * t.slices, 0xDEAD);
        ASSERT_EQ(banded->Unload(out.data(), box, kULMUseBuffer), kULMOK);
        EXPECT_TRUE(out == Voxels(box));
        std::vector<std::array<int, 2>> chunks;
        for (const auto& e : tulx7sim::RequestLog())
            if (e.code == TULX7_DR_BUFFER_UNLOAD) chunks.push_back({e.board, e.boxMax[2] - e.boxMin[2] + 1});
        EXPECT_EQ(chunks, expected) << "round " << round;
        // The turn goes on from the board after the last one used.
        const int next = (expected.back()[0] + 1) % t.boards;
        for (size_t k = 0; k < expected.size(); ++k) expected[k][0] = (next + int(k)) % t.boards;
    }
}

INSTANTIATE_TEST_SUITE_P(Turns, Phase1UnloadTest,
                         ::testing::Values(Turn{3, 20, {{1, 7}, {2, 7}, {0, 6}}},
                                           Turn{2, 100, {{1, 8}, {0, 8}, {1, 8}, {0, 8}, {1, 8}, {0, 8}, {1, 8},
                                                         {0, 8}, {1, 8}, {0, 8}, {1, 8}, {0, 8}, {1, 4}}}));

TEST_F(Phase1LoadTest, NarrowAndRefusedUnloads) {
    const ULMVolumeRange range(32, 24, 16, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    tulx7sim::ClearRequestLog();
    const ULMVolumeRange column(1, 24, 16, 5, 0, 0);
    std::vector<uint16_t> out(24 * 16);
    ASSERT_EQ(banded->Unload(out.data(), column, kULMUseBuffer), kULMOK);
    EXPECT_TRUE(out == Voxels(column));
    for (const auto& e : tulx7sim::RequestLog()) EXPECT_EQ(e.board, 0) << "a column is read from copy 0 alone";
    EXPECT_EQ(banded->Unload(out.data(), ULMVolumeRange(4, 4, 4, 30, 0, 0), kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(banded->StartUnloadField(out.data(), ULMVolumeRange(4, 4, 4, 0, 0, 14),
                                       ULMFieldDescriptor(0, 8, kULMUnsignedFraction), kULMUseBuffer)
                  .Wait(-1),
              kULMErrArgument);
    // The source side is the base volume's.
    const ULMVolumeRange box(4, 4, 4, 3, 3, 3);
    ASSERT_EQ(banded->Unload(out.data(), box, kULMUseSource), kULMOK);
    EXPECT_TRUE(std::vector<uint16_t>(out.begin(), out.begin() + 64) == Voxels(box));
    std::vector<uint8_t> low(64);
    ASSERT_EQ(banded->UnloadField(low.data(), box, ULMFieldDescriptor(0, 8, kULMUnsignedFraction), kULMUseTarget),
              kULMOK);
    const std::vector<uint16_t> expected = Voxels(box);
    for (size_t i = 0; i < low.size(); ++i) EXPECT_EQ(low[i], expected[i] & 0xFF) << i;
}

// A map of the boards is a host copy of the copies' voxels; writing it
// reaches every copy when it ends.
TEST_F(Phase1ThreeBoardLoadTest, ASimulatedWriteMapReachesEveryCopy) {
    const ULMVolumeRange range(32, 24, 16, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const ULMVolumeRange box(10, 6, 5, 4, 8, 2);
    unsigned short* mapped = nullptr;
    unsigned sx = 0, sy = 0;
    ASSERT_EQ(banded->MapSubVolume(kULMAccessWrite, box, mapped, sx, sy, kULMUseBuffer), kULMOK);
    EXPECT_EQ(sx, 10u);
    EXPECT_EQ(sy, 6u);
    ASSERT_TRUE(std::vector<uint16_t>(mapped, mapped + 300) == Voxels(box));
    for (int i = 0; i < 300; ++i) mapped[i] = uint16_t(0xF000 + i);
    const std::vector<uint16_t> written(mapped, mapped + 300);
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(OnBoard(*banded, i, box) == written) << i;
    // A reading map writes nothing back.
    ASSERT_EQ(banded->MapVolume(kULMAccessReadShared, mapped, sx, sy, kULMUseTarget), kULMOK);
    mapped[0] = 0;
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    EXPECT_EQ(OnBoard(*banded, 2, ULMVolumeRange(1, 1, 1, 0, 0, 0))[0], Voxel(0, 0, 0));
}

TEST_F(Phase1LoadTest, MapsThatCannotBeMadeAreRefused) {
    const ULMVolumeRange range(16, 16, 8, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const ULMVolumeRange box(4, 4, 4, 0, 0, 0);
    void* p = nullptr;
    unsigned char* bytes = nullptr;
    unsigned sx = 0, sy = 0;
    const auto map = [&](ULMAccessType access, const ULMVolumeRange& r, ULMSource source) {
        return banded->MapSubVolume(access, r, p, sx, sy, source);
    };
    EXPECT_EQ(map(kULMAccessReadShared, ULMVolumeRange(0, 4, 4, 0, 0, 0), kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(map(ULMAccessType(9), box, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(map(kULMAccessReadShared, box, ULMSource(7)), kULMErrArgument);
    EXPECT_EQ(map(kULMAccessReadShared, ULMVolumeRange(4, 4, 4, 14, 0, 0), kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(banded->MapVolume(kULMAccessReadShared, bytes, sx, sy, kULMUseBuffer), kULMErrArgument);
    EXPECT_EQ(banded->UnmapVolume(), kULMErrVolume);
    // One kind of map at a time; several simple maps may be open.
    ASSERT_EQ(map(kULMAccessReadShared, box, kULMUseSource), kULMOK);
    ASSERT_EQ(map(kULMAccessReadShared, box, kULMUseSource), kULMOK);
    EXPECT_EQ(map(kULMAccessReadShared, box, kULMUseBuffer), kULMErrTooMany);
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    ASSERT_EQ(map(kULMAccessReadShared, box, kULMUseBuffer), kULMOK);
    EXPECT_EQ(map(kULMAccessReadShared, box, kULMUseSource), kULMErrTooMany);
    EXPECT_EQ(map(kULMAccessReadShared, box, kULMUseBuffer), kULMErrTooMany);
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    ULMSetParameter("SimulateMap", 0);
    EXPECT_EQ(map(kULMAccessReadShared, box, kULMUseBuffer), kULMErrUnimplemented);
    ULMSetParameter("SimulateMap", 1);
    EXPECT_EQ(banded->UnmapVolume(), kULMErrVolume);
}

// A source the application keeps read-only.
class ReadOnlyMemory final : public ULMVolumeSourceMemory {
public:
    using ULMVolumeSourceMemory::ULMVolumeSourceMemory;
    bool IsReadOnly() const override { return true; }
};

TEST_F(Phase1LoadTest, AReadOnlyVolumeRefusesWritingMaps) {
    std::vector<uint8_t> bytes(size_t(16) * 16 * 8, 7);
    auto* source = new ReadOnlyMemory(8, bytes.data(), ULMVolumeRange(16, 16, 8, 0, 0, 0));
    source->AddRef();
    Banded(true);
    ReleasablePointer<ULMVolume> v(ULMVolume::CreateFromSource(source));
    ULMSetParameter("MultiboardRenderEnable", 0);
    ASSERT_TRUE(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase1));
    ASSERT_EQ(v->LockVolume(kULMAnyBoard), kULMOK);
    void* p = nullptr;
    unsigned sx = 0, sy = 0;
    const ULMVolumeRange box(4, 4, 4, 0, 0, 0);
    for (const ULMSource where : {kULMUseSource, kULMUseBuffer})
        EXPECT_EQ(v->MapSubVolume(kULMAccessWrite, box, p, sx, sy, where), kULMErrReadOnly) << where;
    ASSERT_EQ(v->MapSubVolume(kULMAccessReadShared, box, p, sx, sy, kULMUseBuffer), kULMOK);
    EXPECT_EQ(static_cast<uint8_t*>(p)[0], 7);
    EXPECT_EQ(v->UnmapVolume(), kULMOK);
    v.Assign(nullptr);
    source->Release();
}

// The application writes the source through a simple map of the locked
// volume: the next render brings every board up to date, not only the
// first copy to see the change.
TEST_F(Phase1ThreeBoardLoadTest, AChangeOfTheSharedSourceReachesEveryBoard) {
    const ULMVolumeRange range(32, 24, 16, 0, 0, 0);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded16(range));
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    const ULMVolumeRange box(8, 4, 3, 20, 10, 5);
    unsigned short* mapped = nullptr;
    unsigned sx = 0, sy = 0;
    ASSERT_EQ(banded->MapSubVolume(kULMAccessWrite, box, mapped, sx, sy, kULMUseSource), kULMOK);
    for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) mapped[(z * sy + y) * sx + x] = 0x7777;
    ASSERT_EQ(banded->UnmapVolume(), kULMOK);
    ReleasablePointer<ULMImageBuffer> image(NewImage(kULMMultiBoardMode1));
    ASSERT_EQ(banded->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(OnBoard(*banded, i, box) == std::vector<uint16_t>(96, 0x7777)) << i;
}

}  // namespace
}  // namespace ulm3::testing
