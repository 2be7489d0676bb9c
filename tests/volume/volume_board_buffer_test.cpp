// A volume's board buffer: where it is placed, what is refused before any
// board memory is taken, and the lock's states.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "board/kwb_buffer.h"
#include "tulx7/driver_requests.h"
#include "support/rendered_pixels.h"
#include "volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeBoardBufferTest = VolumeTest;

Held<ULMVolumeInternal> NoDataVolume(const ULMVolumeRange& range) {
    return Held<ULMVolumeInternal>(ULMVolumeInternal::CreateSimpleVolume(16, range, 0, nullptr, nullptr));
}

TEST_F(VolumeBoardBufferTest, AnyBoardVolumesTakeTheBoardsInTurn) {
    std::vector<ULMLocation> boards;
    Held<ULMVolumeInternal> v[3] = {NoDataVolume(ULMVolumeRange(8, 8, 8, 0, 0, 0)),
                                    NoDataVolume(ULMVolumeRange(8, 8, 8, 0, 0, 0)),
                                    NoDataVolume(ULMVolumeRange(8, 8, 8, 0, 0, 0))};
    for (auto& volume : v) {
        ASSERT_EQ(volume->CreateBuffer(kULMAnyBoard), kULMOK);
        boards.push_back(volume->GetBufferLocation());
    }
    EXPECT_EQ(boards, (std::vector<ULMLocation>{kULMBoard0, kULMBoard1, kULMBoard0}));
    // The volume is already on a board, so the turn does not move.
    ASSERT_EQ(v[1]->CreateBuffer(kULMAnyBoard), kULMOK);
    EXPECT_EQ(v[1]->GetBufferLocation(), kULMBoard1);
}

TEST_F(VolumeBoardBufferTest, RefusedCallsChangeNothingAndTakeNoBoardMemory) {
    Held<ULMVolumeInternal> v = NoDataVolume(ULMVolumeRange(8, 8, 8, 0, 0, 0));
    Held<ULMVolumeInternal> odd = NoDataVolume(ULMVolumeRange(8, 8, 8, 1, 0, 0));
    Held<ULMVolumeInternal> far = NoDataVolume(ULMVolumeRange(8, 8, 8, 32762, 0, 0));
    const size_t before = LiveBuffers();
    KWBBoard* const board1 = gULMControl.m_KWBBoard[1];
    const struct {
        std::function<ULMStatus()> call;
        ULMStatus status;
    } cases[] = {
        {[&] { return v->CreateBuffer(kULMBoard2); }, kULMErrArgument},
        {[&] { return v->CreateBuffer(kULMSystem); }, kULMErrArgument},
        {[&] { return v->CreateBuffer(kULMNoBufferAttached); }, kULMErrArgument},
        {[&] { return v->AttachBuffer(5ull << 28); }, kULMErrArgument},
        {[&] { return v->AttachBuffer(0xFFFFFFFFFFFFFFFEull); }, kULMErrUnimplemented},
        {[&] { return odd->CreateBuffer(kULMBoard0); }, kULMErrArgument},
        {[&] { return far->LockVolume(kULMAnyBoard); }, kULMErrArgument},
        {[&] { return v->SetBufferWrap(3, 4, 4); }, kULMErrArgument},
        {[&] { return v->SetBufferOffset(2, 4, 1); }, kULMErrArgument},
        {[&] { return v->ResizeBuffer(4, 4, 4); }, kULMErrVolume},
        {[&] { return v->BoardCopy().Prepare(); }, kULMErrVolume},
        {[&] { return v->Resize(ULMVolumeRange(8, -8, 8, 0, 0, 0), 0); }, kULMErrArgument},
        {[&] {
             gULMControl.m_KWBBoard[1] = nullptr;
             return v->CreateBuffer(kULMBoard1);
         },
         kULMErrHardware},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].call(), cases[i].status) << "case " << i;
    gULMControl.m_KWBBoard[1] = board1;
    EXPECT_EQ(LiveBuffers(), before);
    EXPECT_EQ(v->GetBufferID(), kULMNoBuffer);
}

// The voxels a buffer holds keep their coordinates when it moves (step 0, 1) or the change is refused (2); a buffer
// made for part of the volume holds that part (3), grown it gets the rest before a render (4); and an unlock that is
// asked to brings the board's updates back into the volume's own voxels.
TEST_F(VolumeBoardBufferTest, BufferVoxelsKeepTheirCoordinatesAndTheBookkeepingFollows) {
    const ULMVolumeRange whole(32, 16, 8, 0, 0, 0), half(16, 16, 8, 0, 0, 0), moved(30, 14, 8, 2, 2, 0);
    std::vector<uint8_t> voxels = RandomBytes(32 * 16 * 8 * 2, 3), none(voxels.size());
    for (int step = 0; step < 5; ++step) {
        std::vector<uint8_t> own = voxels, got(own.size()), want(got);
        Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, own.data()));
        ASSERT_EQ(step < 3 ? v->LockVolume(kULMBoard0) : v->CreateBuffer(kULMBoard0, half), kULMOK);
        EXPECT_EQ(step == 0   ? v->ResizeBuffer(moved)
                  : step == 1 ? v->SetBufferOffset(2, 2, 0)
                  : step == 2 ? v->SetBufferWrap(16, 16, 8) - kULMErrArgument
                  : step == 3 ? kULMOK
                              : (v->ResizeBuffer(whole) == kULMOK ? v->BoardCopy().Prepare() : kULMErrAccess),
                  kULMOK);
        const ULMVolumeRange kept = step < 2 ? moved : step == 3 ? half : whole;
        ASSERT_TRUE(v->BoardCopy().WaitForLoad() == kULMOK && v->Unload(want.data(), kept, kULMUseSource) == kULMOK &&
                    v->Unload(got.data(), kept, kULMUseBuffer) == kULMOK);
        EXPECT_TRUE(got == want) << step;
    }
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, voxels.data()));
    EXPECT_TRUE(v->LockVolume(kULMBoard1) == kULMOK && v->Update(none.data(), whole) == kULMOK &&
                v->UnlockVolume(1) == kULMOK && voxels == none);
}

TEST_F(VolumeBoardBufferTest, LockHoldsTheWholeVolumeUntilUnlocked) {
    const ULMVolumeRange whole(16, 8, 4, 0, 0, 0);
    std::vector<uint8_t> voxels = RandomBytes(16 * 8 * 4 * 2, 5);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, voxels.data()));
    EXPECT_EQ(v->UnlockVolume(0), kULMErrVolume);
    ASSERT_EQ(v->LockVolume(kULMBoard1), kULMOK);
    EXPECT_EQ(v->LockVolume(kULMBoard1), kULMErrVolume);
    EXPECT_TRUE(v->IsLoaded());
    EXPECT_EQ(v->GetTarget(), kULMBuffer);
    EXPECT_TRUE(BoardVoxels(*v, whole) == voxels);
    ASSERT_EQ(v->UnlockVolume(0), kULMOK);
    EXPECT_EQ(v->GetBufferID(), kULMNoBuffer);
    EXPECT_EQ(v->GetTarget(), kULMSource);

    // A lock whose load fails leaves neither the lock nor a buffer.
    const size_t before = LiveBuffers();
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    EXPECT_TRUE(ULMFailed(v->LockVolume(kULMBoard0)));
    EXPECT_FALSE(v->IsLocked());
    EXPECT_EQ(v->GetBufferID(), kULMNoBuffer);
    EXPECT_EQ(LiveBuffers(), before);

    // Memory the application owns cannot be resized: nothing changes.
    EXPECT_EQ(v->Resize(ULMVolumeRange(8, 8, 4, 0, 0, 0), 1), kULMErrCantResize);
    EXPECT_EQ(v->GetRange(), whole);
}

TEST_F(VolumeBoardBufferTest, AVolumeAttachesAnotherVolumesBufferOfItsVoxelSize) {
    Held<ULMVolumeInternal> owner = NoDataVolume(ULMVolumeRange(12, 10, 6, 0, 0, 0));
    Held<ULMVolumeInternal> sharer = NoDataVolume(ULMVolumeRange(4, 4, 4, 0, 0, 0));
    Held<ULMVolumeInternal> narrow(
        ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(4, 4, 4, 0, 0, 0), 0, nullptr, nullptr));
    ASSERT_EQ(owner->CreateBuffer(kULMBoard1), kULMOK);
    ASSERT_EQ(owner->SetBufferPermission(kULMPermissionReadWrite), kULMOK);
    const unsigned long long id = owner->GetBufferID();
    EXPECT_EQ(narrow->AttachBuffer(id), kULMErrArgument);
    EXPECT_EQ(narrow->GetBufferID(), kULMNoBuffer);
    ASSERT_EQ(sharer->AttachBuffer(id), kULMOK);
    EXPECT_EQ(sharer->GetBufferLocation(), kULMBoard1);
    EXPECT_EQ(sharer->GetBufferRange(), ULMVolumeRange(12, 10, 6, 0, 0, 0));
    tulx7sim::BufferInfo info;
    ASSERT_TRUE(tulx7sim::GetBufferInfo(uint32_t(id), info));
    EXPECT_EQ(info.attachments, 2) << "the refused attachment was not given back";
    EXPECT_EQ(sharer->ReleaseBuffer(), kULMOK);
    ASSERT_TRUE(tulx7sim::GetBufferInfo(uint32_t(id), info));
    EXPECT_EQ(info.attachments, 1);
}

// A buffer one volume lets go and another keeps alive: re-attached after the
// first volume's addressing changed (or the keeper's), by an attachment, a
// buffer or a lock, the voxels it held read back and render at their own
// coordinates, whether the volume has voxels of its own or only the board's.
TEST_F(VolumeBoardBufferTest, ASharedBufferReattachedAfterAnAddressingChangeHoldsTheVoxelsWhereTheyWere) {
    const ULMVolumeRange whole(16, 16, 8, 0, 0, 0), moved(16, 16, 8, 2, 2, 0);
    const ULMFieldDescriptor byte{0, 8, kULMUnsignedFraction};
    const std::vector<uint8_t> voxels = RandomBytes(16 * 16 * 8, 11);
    Held<ULMContext> context(ULMContext::Create());
    context->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField0));
    const double s = 2 / 17.0;
    context->GetCamera().SetProjectionMatrix(ULMMatrix::Translate(-1, -1, -0.5) * ULMMatrix::Scale(s, s, 0.1));
    const auto render = [&](ULMVolume* v) { return test_support::RenderedPixels(v, context, 20); };
    std::vector<uint8_t> copy = voxels;
    Held<ULMVolumeInternal> plain(ULMVolumeInternal::CreateSimpleVolume(8, whole, 1, &byte, copy.data()));
    const std::vector<uint32_t> want = render(plain);
    enum Again { kAttach, kCreate, kLock };
    const struct {
        bool ownVoxels, keeperMoves;
        Again again;
        bool movedFirst = false;  // the volume moved to (2, 2, 0) while attached, and back to 0 while not
    } cases[] = {{true, false, kAttach},       {false, false, kAttach},     {false, false, kCreate},
                 {true, false, kLock},         {false, false, kLock},       {false, true, kAttach},
                 {true, true, kCreate},        {false, false, kAttach, true}, {true, false, kAttach, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "own " << c.ownVoxels << " keeper moves " << c.keeperMoves << " again "
                                          << c.again << " moved first " << c.movedFirst);
        std::vector<uint8_t> own = voxels;
        Held<ULMVolumeInternal> v(
            ULMVolumeInternal::CreateSimpleVolume(8, whole, 1, &byte, c.ownVoxels ? own.data() : nullptr));
        Held<ULMVolumeInternal> keeper(ULMVolumeInternal::CreateSimpleVolume(8, whole, 1, &byte, nullptr));
        ASSERT_EQ(v->CreateBuffer(kULMBoard0), kULMOK);
        ASSERT_EQ(c.ownVoxels ? kULMOK : v->SetTarget(kULMBuffer), kULMOK);
        ASSERT_EQ(c.ownVoxels ? kULMOK : v->Update(voxels.data(), whole), kULMOK);
        const unsigned long long id = v->GetBufferID();
        ASSERT_EQ(c.movedFirst ? v->SetBufferOffset(2, 2, 0) : kULMOK, kULMOK);
        ASSERT_EQ(keeper->AttachBuffer(id), kULMOK);
        ASSERT_EQ(v->ReleaseBuffer(), kULMOK);
        const int to = c.movedFirst ? 0 : 2;
        ASSERT_EQ(c.keeperMoves ? keeper->SetBufferOffset(2, 2, 0) : v->SetBufferOffset(to, to, 0), kULMOK);
        ASSERT_EQ(c.again == kAttach ? v->AttachBuffer(id)
                  : c.again == kCreate ? v->CreateBuffer(kULMBoard0, c.keeperMoves ? whole : moved)
                                       : v->LockVolume(kULMBoard0),
                  kULMOK);
        EXPECT_EQ(v->GetBufferID(), id);
        // What the buffer holds of the volume now, and the voxels there; the
        // volume's own move dropped what its window left out, unless the
        // volume has voxels of its own that a new buffer or a lock loads.
        const bool reloaded = c.ownVoxels && c.again != kAttach;
        const ULMVolumeRange kept = reloaded || c.keeperMoves ? whole : ULMVolumeRange::Intersect(moved, whole);
        const ULMVolumeRange held = ULMVolumeRange::Intersect(v->GetBufferRange(), kept);
        std::vector<uint8_t> got(size_t(held.XSize()) * held.YSize() * held.ZSize()), expected;
        ASSERT_EQ(v->Unload(got.data(), held, kULMUseBuffer), kULMOK);
        for (int z = held.ZOrigin(); z < held.ZOrigin() + held.ZSize(); ++z)
            for (int y = held.YOrigin(); y < held.YOrigin() + held.YSize(); ++y)
                for (int x = held.XOrigin(); x < held.XOrigin() + held.XSize(); ++x)
                    expected.push_back(voxels[(size_t(z) * 16 + y) * 16 + x]);
        EXPECT_TRUE(got == expected);
        EXPECT_TRUE(held != whole || render(v) == want);
        EXPECT_EQ(c.again == kLock ? v->UnlockVolume(0) : kULMOK, kULMOK);
    }
}

// A copy out of another volume's buffer takes only voxels that buffer holds:
// after its window moved away and back, the edge it dropped comes from its
// own voxels (both boards alike), or, for a volume without voxels of its own,
// the copy is refused and the destination keeps its voxels.
TEST_F(VolumeBoardBufferTest, ACopyOutOfABufferTakesOnlyTheVoxelsItHolds) {
    const ULMVolumeRange whole(32, 16, 8, 0, 0, 0);
    const std::vector<uint8_t> fresh(size_t(8) * 16 * 8 * 2, 0x64);
    for (ULMLocation board : {kULMBoard0, kULMBoard1}) {
        for (bool ownVoxels : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "destination on board " << board << ", own voxels " << ownVoxels);
            std::vector<uint8_t> own = RandomBytes(32 * 16 * 8 * 2, 21), other = RandomBytes(32 * 16 * 8 * 2, 22);
            Held<ULMVolumeInternal> from(
                ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, ownVoxels ? own.data() : nullptr));
            ASSERT_EQ(ownVoxels ? from->LockVolume(kULMBoard0) : from->CreateBuffer(kULMBoard0), kULMOK);
            ASSERT_EQ(from->SetTarget(kULMBuffer), kULMOK);
            ASSERT_EQ(from->Update(ownVoxels ? fresh.data() : own.data(), ownVoxels ? ULMVolumeRange(8, 16, 8, 0, 0, 0)
                                                                                    : whole),
                      kULMOK);
            ASSERT_EQ(from->SetBufferOffset(4, 0, 0), kULMOK);
            ASSERT_EQ(from->SetBufferOffset(0, 0, 0), kULMOK);
            Held<ULMVolumeInternal> to(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, other.data()));
            ASSERT_EQ(to->LockVolume(board), kULMOK);
            const ULMStatus copied = to->Update(from.GetPointer(), whole, 0, 0, 0, kULMUseBuffer);
            // What the buffer kept (the fresh voxels beyond the edge), and the
            // volume's own at the edge.
            std::vector<uint8_t> want = own;
            for (int z = 0; z < 8; ++z)
                for (int y = 0; y < 16; ++y) std::memset(&want[((size_t(z) * 16 + y) * 32 + 4) * 2], 0x64, 4 * 2);
            if (!ownVoxels) {
                EXPECT_EQ(copied, kULMErrVolume);
                EXPECT_TRUE(BoardVoxels(*to, whole) == other) << "a refused copy changed the destination";
                continue;
            }
            EXPECT_EQ(copied, kULMOK);
            EXPECT_TRUE(BoardVoxels(*to, whole) == want);
        }
    }
}

// A field written into voxels an offset window dropped and took back joins
// the other fields the volume's own voxels give them; a volume without
// voxels of its own refuses it and keeps its buffer as it was.
TEST_F(VolumeBoardBufferTest, AFieldWrittenIntoDroppedVoxelsJoinsTheirOwnOtherFields) {
    const ULMVolumeRange whole(16, 8, 4, 0, 0, 0), written(8, 8, 4, 0, 0, 0);
    const ULMFieldDescriptor low{0, 8, kULMUnsignedFraction};
    const std::vector<uint8_t> lows(8 * 8 * 4, 0x3C);
    for (bool ownVoxels : {true, false}) {
        SCOPED_TRACE(::testing::Message() << "own voxels " << ownVoxels);
        std::vector<uint8_t> own = RandomBytes(16 * 8 * 4 * 2, 31);
        const std::vector<uint8_t> original = own;
        Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, ownVoxels ? own.data()
                                                                                                      : nullptr));
        ASSERT_EQ(ownVoxels ? v->LockVolume(kULMBoard0) : v->CreateBuffer(kULMBoard0), kULMOK);
        ASSERT_EQ(v->SetTarget(kULMBuffer), kULMOK);
        ASSERT_EQ(ownVoxels ? kULMOK : v->Update(own.data(), whole), kULMOK);
        ASSERT_EQ(v->SetBufferOffset(4, 0, 0), kULMOK);
        ASSERT_EQ(v->SetBufferOffset(0, 0, 0), kULMOK);
        const std::vector<uint8_t> before = BoardVoxels(*v, whole);
        const ULMStatus status = v->UpdateField(lows.data(), written, low);
        if (!ownVoxels) {
            EXPECT_EQ(status, kULMErrVolume);
            EXPECT_TRUE(BoardVoxels(*v, whole) == before);
            continue;
        }
        ASSERT_EQ(status, kULMOK);
        std::vector<uint8_t> want = original;
        for (int z = 0; z < 4; ++z)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) want[((size_t(z) * 8 + y) * 16 + x) * 2] = 0x3C;
        EXPECT_TRUE(BoardVoxels(*v, whole) == want);
    }
}

// A write into a buffer that its offset window cannot take whole is refused
// before any of its chunks is queued: none is left reading the caller's
// memory (or the staged copy of it) after the call has answered, whatever the
// load method, and the buffer keeps its voxels.
TEST_F(VolumeBoardBufferTest, AWriteTheWindowCannotTakeWholeQueuesNoChunk) {
    const ULMVolumeRange whole(32, 16, 16, 0, 0, 0), past(32, 16, 8, 0, 0, 4);
    const ULMFieldDescriptor low{0, 8, kULMUnsignedFraction};
    std::vector<uint8_t> own = RandomBytes(32 * 16 * 16 * 2, 41);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, own.data()));
    Held<ULMVolumeInternal> other(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, own.data()));
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    ASSERT_EQ(v->ResizeBuffer(ULMVolumeRange(32, 16, 8, 0, 0, 0)), kULMOK);  // slices 0..7 of 4..11
    const std::vector<uint8_t> before = BoardVoxels(*v, ULMVolumeRange(32, 16, 8, 0, 0, 0));
    SetChunkLimit(32 * 16 * 2 * 2);  // two slices a chunk
    const std::vector<uint8_t> block(32 * 16 * 8 * 2, 0x77);
    for (UpdateMethod method : {eMethodMap, eMethodCopy, eMethodKernel, eMethodOneCopy}) {
        SetMethod(method);
        SCOPED_TRACE(::testing::Message() << "method " << method);
        tulx7sim::ClearRequestLog();
        EXPECT_EQ(v->Update(block.data(), past), kULMErrArgument);
        EXPECT_EQ(v->UpdateField(block.data(), past, low), kULMErrArgument);
        EXPECT_EQ(v->Update(other.GetPointer(), past, 0, 0, 4, kULMUseSource), kULMErrArgument);
        EXPECT_EQ(v->StartReloadFromSource(past).Wait(-1), kULMErrArgument);
        for (const auto& e : tulx7sim::RequestLog())
            EXPECT_NE(e.code, uint32_t(TULX7_DR_BUFFER_LOAD)) << "a chunk of a refused write was queued";
    }
    EXPECT_TRUE(BoardVoxels(*v, ULMVolumeRange(32, 16, 8, 0, 0, 0)) == before);
}

// A volume released while mapped ends its map as an unmap would, and the board's mapping goes with it.
TEST_F(VolumeBoardBufferTest, ReleasingAMappedVolumeEndsItsMap) {
    Held<ULMVolumeInternal> mapped = NoDataVolume(ULMVolumeRange(8, 8, 8, 0, 0, 0));
    ASSERT_EQ(mapped->CreateBuffer(kULMBoard1), kULMOK);
    unsigned short* voxels = nullptr;
    unsigned row = 0, rows = 0;
    ASSERT_EQ(mapped->MapVolume(kULMAccessWrite, voxels, row, rows, kULMUseBuffer), kULMOK);
    mapped.Assign(nullptr);
    EXPECT_EQ(tulx7sim::GetStats().liveMappings, 0);
}

TEST_F(VolumeBoardBufferTest, ARenderLoadsOnlyTheActiveSubVolume) {
    const ULMVolumeRange whole(16, 16, 16, 0, 0, 0);
    std::vector<uint8_t> voxels = RandomBytes(16 * 16 * 16 * 2, 9);
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, voxels.data()));
    ASSERT_EQ(v->SetActiveSubVolumeSize(8, 6, 4), kULMOK);
    ASSERT_EQ(v->SetActiveSubVolumeOrigin(4, 2, 2), kULMOK);
    ASSERT_EQ(v->BoardCopy().Prepare(), kULMOK);
    ASSERT_EQ(v->BoardCopy().WaitForLoad(), kULMOK);
    const KWBRange valid = v->BoardCopy().Buffer()->GetRange();
    EXPECT_EQ(valid, KWBRange(4, 2, 2, 11, 7, 5));
    int loaded = 0;
    for (const auto& e : tulx7sim::RequestLog()) {
        if (e.code != TULX7_DR_BUFFER_LOAD) continue;
        ++loaded;
        EXPECT_EQ(std::vector<int>(e.boxMin, e.boxMin + 3), (std::vector<int>{4, 2, 2}));
    }
    EXPECT_EQ(loaded, 1);
    EXPECT_FALSE(v->IsLoaded());
    EXPECT_EQ(v->BoardCopy().Finish(), kULMOK);
}

// Voxels written into the buffer are newer than the volume's own; a render that finds part of its box missing from
// the buffer loads that part alone, not the whole box over them: after a move that dropped and took back an edge of
// a locked volume (0), and after a write map of part of a buffer made for half the volume that then grows (1).
TEST_F(VolumeBoardBufferTest, APrepareLoadsOnlyWhatTheBufferLacksAndKeepsWhatWasWrittenThere) {
    const ULMVolumeRange whole(32, 16, 8, 0, 0, 0), half(16, 16, 8, 0, 0, 0), written(6, 5, 4, 8, 6, 2);
    for (int step = 0; step < 2; ++step) {
        std::vector<uint8_t> own = RandomBytes(32 * 16 * 8 * 2, 11), fresh = RandomBytes(6 * 5 * 4 * 2, 12);
        Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(16, whole, 0, nullptr, own.data()));
        if (step == 0) {
            ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
            ASSERT_EQ(v->SetBufferOffset(2, 2, 0), kULMOK);
            ASSERT_EQ(v->Update(fresh.data(), written), kULMOK);
            ASSERT_EQ(v->SetBufferOffset(0, 0, 0), kULMOK);
        } else {
            ASSERT_EQ(v->CreateBuffer(kULMBoard0, half), kULMOK);
            unsigned short* mapped = nullptr;
            unsigned row = 0, rows = 0;
            ASSERT_EQ(v->MapSubVolume(kULMAccessWrite, written, mapped, row, rows, kULMUseBuffer), kULMOK);
            for (int z = 0; z < written.ZSize(); ++z)
                for (int y = 0; y < written.YSize(); ++y)
                    std::memcpy(&mapped[(size_t(z) * rows + y) * row], &fresh[(size_t(z) * 5 + y) * 6 * 2], 6 * 2);
            ASSERT_EQ(v->UnmapVolume(), kULMOK);
            ASSERT_EQ(v->ResizeBuffer(whole), kULMOK);
        }
        ASSERT_EQ(v->BoardCopy().Prepare(), kULMOK);
        ASSERT_EQ(v->BoardCopy().WaitForLoad(), kULMOK);
        // The volume's own voxels, the written box replaced.
        std::vector<uint8_t> want = own;
        for (int z = 0; z < written.ZSize(); ++z)
            for (int y = 0; y < written.YSize(); ++y)
                std::memcpy(&want[((size_t(z + 2) * 16 + y + 6) * 32 + 8) * 2], &fresh[(size_t(z) * 5 + y) * 6 * 2],
                            6 * 2);
        EXPECT_TRUE(BoardVoxels(*v, whole) == want) << step;
        EXPECT_EQ(v->BoardCopy().Finish(), kULMOK);
    }
}

}  // namespace
}  // namespace ulm3::testing
