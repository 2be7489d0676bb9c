// Banded and bricked volumes driven through seeded histories of public calls
// on slow boards: renders left pending, updates of the whole volume and of
// boxes, locks and unlocks with and without write-back, buffer offsets. A
// host model keeps the voxels last written, in the application's voxels and
// on the boards; every unload that answers OK must equal it voxel by voxel
// (a refusal is allowed). And once a call that reads or writes the caller's
// block has answered, the boards never touch that block again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

struct Shape {
    const char* name;
    int mode;    // 1 bands, 2 bricks
    int pieces;  // bands or bricks
    int bits;    // 8 or 16
    std::array<int, 3> size;
    bool mipmap = false;  // wrapped in a mipmap volume
};

constexpr Shape kShapes[] = {
    {"bands of 3, 8 bit", 1, 3, 8, {40, 24, 12}},  {"bands of 2, 16 bit", 1, 2, 16, {27, 19, 13}},
    {"bands of 3, 16 bit", 1, 3, 16, {33, 21, 11}}, {"bricks of 2, 8 bit", 2, 2, 8, {40, 24, 12}},
    {"bricks of 3, 8 bit", 2, 3, 8, {29, 23, 15}},  {"bricks of 2, 16 bit", 2, 2, 16, {31, 17, 14}},
    // Large enough for slices of one voxel in X to go through the slab of
    // YZ slices.
    {"bands of 2 with YZ slices", 1, 2, 8, {40, 34, 33}},
    {"bricks of 2 with YZ slices, 16 bit", 2, 2, 16, {37, 34, 35}},
    {"mipmap over bands of 3", 1, 3, 8, {40, 24, 18}, true},
    {"mipmap over bricks of 2", 2, 2, 8, {36, 22, 20}, true},
};

// Never among the voxels the histories write: a block overwritten with it
// shows whether a board read the block after the call answered.
constexpr uint8_t kPatternByte = 0xEE;

struct Platform {
    int boards;
    tulx7sim::QueueMode queues;
};

tulx7sim::SimConfig SlowBoards(const Platform& inPlatform) {
    tulx7sim::SimConfig config = test_support::SimBoards(inPlatform.boards);
    config.latencyMicroseconds = 400;
    config.mode = inPlatform.queues;
    return config;
}

// The voxels of a volume as bytes on the host, with the boxes of the
// public interface.
class HostVolume {
public:
    HostVolume(const std::array<int, 3>& inSize, int inBytes)
        : m_size(inSize), m_bytes(inBytes), m_voxels(size_t(inSize[0]) * inSize[1] * inSize[2] * inBytes) {}
    std::vector<uint8_t>& Bytes() { return m_voxels; }
    const std::vector<uint8_t>& Bytes() const { return m_voxels; }
    ULMVolumeRange Whole() const { return ULMVolumeRange(m_size[0], m_size[1], m_size[2], 0, 0, 0); }
    // The box's voxels, packed.
    std::vector<uint8_t> Box(const ULMVolumeRange& inBox) const {
        std::vector<uint8_t> out(BoxBytes(inBox));
        ForEachRow(inBox, [&](size_t inHost, size_t inPacked, size_t inRow) {
            std::memcpy(&out[inPacked], &m_voxels[inHost], inRow);
        });
        return out;
    }
    void Write(const ULMVolumeRange& inBox, const std::vector<uint8_t>& inPacked) {
        ForEachRow(inBox, [&](size_t inHost, size_t inPacked2, size_t inRow) {
            std::memcpy(&m_voxels[inHost], &inPacked[inPacked2], inRow);
        });
    }
    size_t BoxBytes(const ULMVolumeRange& inBox) const {
        return size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize() * m_bytes;
    }

private:
    template <typename Row>
    void ForEachRow(const ULMVolumeRange& inBox, Row&& inRow) const {
        const size_t row = size_t(inBox.XSize()) * m_bytes;
        size_t packed = 0;
        for (int z = inBox.ZOrigin(); z < inBox.ZOrigin() + inBox.ZSize(); ++z)
            for (int y = inBox.YOrigin(); y < inBox.YOrigin() + inBox.YSize(); ++y, packed += row)
                inRow(((size_t(z) * m_size[1] + y) * m_size[0] + inBox.XOrigin()) * m_bytes, packed, row);
    }

    std::array<int, 3> m_size;
    int m_bytes;
    std::vector<uint8_t> m_voxels;
};

class UnloadHistoryTest : public ContextTest, public ::testing::WithParamInterface<Platform> {
protected:
    UnloadHistoryTest() : ContextTest(SlowBoards(GetParam())) {}

    void SetUp() override {
        ContextTest::SetUp();
        m_table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) m_table->SetEntry(i, ULMRGBAFloat(0.5f, 0.5f, 0.5f, i > 40 ? 0.05f : 0.0f));
        m_context.Assign(ULMContext::Create(m_table));
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-30, 30, -30, 30, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Translate(-16, -10, -6));
        camera.SetViewport(0, 0, 32, 32);
    }
    void TearDown() override {
        m_context.Assign(nullptr);
        m_table.Assign(nullptr);
        ContextTest::TearDown();
    }

    // One history's volume: over the application's voxels (the source
    // model's bytes, which it keeps as its own).
    ULMVolume* Make(const Shape& inShape, HostVolume& ioVoxels) {
        const ULMFieldDescriptor field = {0, inShape.bits, kULMUnsignedFraction};
        const bool mip = inShape.mipmap;
        const VolumeKind kind{inShape.name, mip, inShape.mode, inShape.pieces};
        ULMVolume* volume = CreateVolumeOfKind(kind, [&] {
            return ULMVolume::Create(inShape.bits, unsigned(inShape.size[0]), unsigned(inShape.size[1]),
                                     unsigned(inShape.size[2]), 1, &field, ioVoxels.Bytes().data());
        });
        const ULMObjectType type =
            inShape.mode == 2 ? kObjectTypeULMMultiboardVolumePhase2 : kObjectTypeULMMultiboardVolumePhase1;
        EXPECT_TRUE(IsObjectType(mip ? volume->GetMipmapLevel(0) : volume, type));
        return volume;
    }

    // Voxels the histories write: never kPatternByte in any byte.
    static std::vector<uint8_t> Fresh(std::mt19937& ioRandom, size_t inBytes) {
        std::vector<uint8_t> voxels(inBytes);
        for (uint8_t& b : voxels) b = uint8_t(ioRandom() % 200);
        return voxels;
    }

    static ULMVolumeRange SomeBox(std::mt19937& ioRandom, const ULMVolumeRange& inWhole) {
        if (inWhole.YSize() >= 32 && inWhole.ZSize() >= 32 && ioRandom() % 2 == 0)
            return ULMVolumeRange(1, inWhole.YSize(), inWhole.ZSize(), int(ioRandom() % unsigned(inWhole.XSize())), 0,
                                  0);
        int size[3], origin[3];
        const int whole[3] = {inWhole.XSize(), inWhole.YSize(), inWhole.ZSize()};
        for (int a = 0; a < 3; ++a) {
            size[a] = 1 + int(ioRandom() % unsigned(whole[a]));
            origin[a] = int(ioRandom() % unsigned(whole[a] - size[a] + 1));
        }
        return ULMVolumeRange(size[0], size[1], size[2], origin[0], origin[1], origin[2]);
    }

    ULMSyncEvent StartRender(ULMVolume* inVolume) {
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, 32, 32, 32, 4, kRGBA);
        EXPECT_NE(image, nullptr);
        if (image == nullptr) return ULMSyncEvent(kULMErrAlloc);
        m_images.push_back(image);
        EXPECT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        return inVolume->StartRender(m_context, image, nullptr, nullptr, nullptr);
    }

    // Waits for every render the history left pending and lets its images
    // go.
    void SettleRenders() {
        for (const ULMSyncEvent& render : m_renders) render.Wait(-1);
        m_renders.clear();
        for (ULMImageBuffer* image : m_images) image->Release();
        m_images.clear();
    }

    static inline const ULMFieldDescriptor kRGBA[4] = {
        {0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction},
        {24, 8, kULMUnsignedFraction}};
    ReleasablePointer<ULMLookupTable> m_table;
    ReleasablePointer<ULMContext> m_context;
    std::vector<ULMImageBuffer*> m_images;  // one reference each
    std::vector<ULMSyncEvent> m_renders;
};

// What the volume holds, as the application sees it: the source's voxels
// (the application's array) and, while locked, the boards' voxels.
struct Model {
    HostVolume source;
    HostVolume boards;
    bool locked = false;
    const HostVolume& Read(ULMSource inFrom) const { return inFrom == kULMUseBuffer && locked ? boards : source; }
};

// A piece of a banded or bricked volume: its copy or brick.
ULMVolume* Piece(ULMVolume* inVolume, unsigned inWhich) {
    if (IsObjectType(inVolume, kObjectTypeULMMipmapVolume)) inVolume = inVolume->GetMipmapLevel(0);
    if (IsObjectType(inVolume, kObjectTypeULMMultiboardVolumePhase1)) {
        auto* bands = static_cast<ULMMultiboardVolumePhase1*>(inVolume);
        return bands->GetSubvolume(int(inWhich % unsigned(bands->GetNumberRealVolumes()))).GetVolume();
    }
    auto* bricks = static_cast<ULMMultiboardVolumePhase2*>(inVolume);
    return bricks->Brick(int(inWhich % unsigned(bricks->GetNumberOfVolumes()))).GetVolume();
}

// Unloads of the whole volume and of a box from the buffer and from the
// source; each that answers OK holds the model's voxels.
void CheckUnloads(const ULMVolume& inVolume, const Model& inModel, const ULMVolumeRange& inBox,
                  const std::string& inWhen) {
    for (const ULMSource from : {kULMUseBuffer, kULMUseSource}) {
        for (const ULMVolumeRange& box : {inModel.source.Whole(), inBox}) {
            const HostVolume& expected = inModel.Read(from);
            std::vector<uint8_t> out(expected.BoxBytes(box), kPatternByte);
            const ULMStatus status = inVolume.Unload(out.data(), box, from);
            if (status != kULMOK) continue;  // refused: nothing claimed
            const std::vector<uint8_t> want = expected.Box(box);
            size_t wrong = 0;
            for (size_t i = 0; i < want.size(); ++i) wrong += out[i] != want[i];
            EXPECT_EQ(wrong, 0u) << inWhen << ": bytes of an OK unload from the "
                                 << (from == kULMUseBuffer ? "buffer" : "source") << " that differ, box at z "
                                 << box.ZOrigin() << " of " << box.ZSize() << " slices";
        }
    }
}

TEST_P(UnloadHistoryTest, AnOKUnloadAfterAnyHistoryHoldsTheVoxelsLastWritten) {
    for (const Shape& shape : kShapes) {
        for (unsigned seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(std::string(shape.name) + ", seed " + std::to_string(seed));
            std::mt19937 random(seed * 7919u + unsigned(shape.size[0]));
            const int bytes = shape.bits / 8;
            Model model{HostVolume(shape.size, bytes), HostVolume(shape.size, bytes), false};
            HostVolume app(shape.size, bytes);
            app.Bytes() = model.source.Bytes() = Fresh(random, app.Bytes().size());
            ReleasablePointer<ULMVolume> volume(Make(shape, app));
            ASSERT_NE(volume, nullptr);
            const ULMVolumeRange whole = app.Whole();
            std::string history;
            for (int step = 0; step < 14; ++step) {
                const unsigned op = random() % 8;
                history += std::to_string(op);
                if (op == 0 || op == 1) {  // a render left pending; it locks an unlocked volume
                    m_renders.push_back(StartRender(volume));
                } else if (op == 2 || op == 3) {  // the whole volume, or a box, written
                    const ULMVolumeRange box = op == 2 ? whole : SomeBox(random, whole);
                    const std::vector<uint8_t> voxels = Fresh(random, app.BoxBytes(box));
                    if (volume->Update(voxels.data(), box) == kULMOK)
                        (volume->IsLocked() ? model.boards : model.source).Write(box, voxels);
                } else if (op == 4) {
                    if (volume->LockVolume(kULMAnyBoard) != kULMOK) continue;
                } else if (op == 5 || op == 6) {  // unlocked without and with write-back
                    if (volume->UnlockVolume(op - 5) == kULMOK && op == 6) model.source = model.boards;
                } else {
                    const int offset = int(random() % 2) * 2;
                    volume->SetBufferOffset(offset, 0, offset);
                }
                const bool lockedNow = volume->IsLocked();
                if (lockedNow && !model.locked) model.boards = model.source;
                model.locked = lockedNow;
                EXPECT_EQ(app.Bytes(), model.source.Bytes()) << "after " << history;
            }
            CheckUnloads(*volume, model, SomeBox(random, whole), "pending renders, history " + history);
            SettleRenders();
            CheckUnloads(*volume, model, SomeBox(random, whole), "settled, history " + history);
            // The history that was found: a render pending, the whole
            // volume written, unlocked without write-back, read back.
            m_renders.push_back(StartRender(volume));
            const std::vector<uint8_t> voxels = Fresh(random, app.BoxBytes(whole));
            if (volume->Update(voxels.data(), whole) == kULMOK)
                (volume->IsLocked() ? model.boards : model.source).Write(whole, voxels);
            if (volume->UnlockVolume(0) == kULMOK) model.locked = false;
            CheckUnloads(*volume, model, SomeBox(random, whole), "render, update, unlock, history " + history);
            SettleRenders();
        }
    }
}

// A piece locked or unlocked apart from its volume holds other voxels than
// the volume put there: a locked volume's unload from the buffers reads
// none of it (bands: another copy serves; bricks: refused), and an
// unlocked volume's reads the voxels of its own.
TEST_P(UnloadHistoryTest, APieceLockedOrUnlockedOnItsOwnNeverServesTheVolumesUnload) {
    for (const Shape& shape : kShapes) {
        for (unsigned piece = 0; piece < unsigned(shape.pieces); ++piece) {
            SCOPED_TRACE(std::string(shape.name) + ", piece " + std::to_string(piece));
            std::mt19937 random(piece + 11u * unsigned(shape.size[1]));
            const int bytes = shape.bits / 8;
            Model model{HostVolume(shape.size, bytes), HostVolume(shape.size, bytes), false};
            HostVolume app(shape.size, bytes);
            app.Bytes() = model.source.Bytes() = Fresh(random, app.Bytes().size());
            ReleasablePointer<ULMVolume> volume(Make(shape, app));
            ASSERT_NE(volume, nullptr);
            const ULMVolumeRange whole = app.Whole();
            m_renders.push_back(StartRender(volume));  // locks the volume
            ASSERT_TRUE(volume->IsLocked());
            model.locked = true;
            model.boards = model.source;
            const std::vector<uint8_t> voxels = Fresh(random, app.BoxBytes(whole));
            ASSERT_EQ(volume->Update(voxels.data(), whole), kULMOK);
            model.boards.Write(whole, voxels);
            ULMVolume* apart = Piece(volume, piece);
            ASSERT_EQ(apart->UnlockVolume(0), kULMOK);
            model.locked = volume->IsLocked();
            CheckUnloads(*volume, model, SomeBox(random, whole), "piece unlocked");
            if (apart->LockVolume(kULMAnyBoard) == kULMOK) {
                model.locked = volume->IsLocked();
                CheckUnloads(*volume, model, SomeBox(random, whole), "piece locked again");
            }
            SettleRenders();
            EXPECT_EQ(app.Bytes(), model.source.Bytes());
        }
    }
}

// Once a start's wait has answered, or a synchronous call has, the boards
// are done with the caller's block: overwritten then, it never reaches the
// volume, and an unload's block keeps what the caller put there after.
class CallerBlock {
public:
    explicit CallerBlock(size_t inBytes) : m_bytes(inBytes) {}
    uint8_t* Data() { return m_bytes.data(); }
    std::vector<uint8_t>& Bytes() { return m_bytes; }
    void Overwrite() { std::fill(m_bytes.begin(), m_bytes.end(), kPatternByte); }
    size_t Touched() const {
        size_t touched = 0;
        for (uint8_t b : m_bytes) touched += b != kPatternByte;
        return touched;
    }

private:
    std::vector<uint8_t> m_bytes;
};

// After the answer: the block overwritten, the boards idle; what the
// volume's buffers hold is then read back whole.
std::vector<uint8_t> AfterAnswer(const ULMVolume& inVolume, CallerBlock& ioBlock, const HostVolume& inShape,
                                 ULMStatus& outUnloaded) {
    ioBlock.Overwrite();
    EXPECT_TRUE(tulx7sim::WaitForIdle(20000));
    std::vector<uint8_t> held(inShape.BoxBytes(inShape.Whole()));
    outUnloaded = inVolume.Unload(held.data(), inShape.Whole(), kULMUseBuffer);
    return held;
}

// Voxels of inBox in inHeld that are neither inOld's nor inNew's there.
size_t NeitherOldNorNew(const HostVolume& inOld, const std::vector<uint8_t>& inNew, const ULMVolumeRange& inBox,
                        const std::vector<uint8_t>& inHeld, int inBytes) {
    HostVolume held = inOld;
    held.Bytes() = inHeld;
    const std::vector<uint8_t> got = held.Box(inBox), old = inOld.Box(inBox);
    size_t wrong = 0;
    for (size_t v = 0; v < got.size(); v += size_t(inBytes))
        wrong += std::memcmp(&got[v], &old[v], size_t(inBytes)) != 0 &&
                 std::memcmp(&got[v], &inNew[v], size_t(inBytes)) != 0;
    return wrong;
}

TEST_P(UnloadHistoryTest, AfterTheAnswerTheBoardsLeaveTheCallersBlockAlone) {
    for (const Shape& shape : kShapes) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(std::string(shape.name) + ", seed " + std::to_string(seed));
            std::mt19937 random(seed * 104729u + unsigned(shape.size[2]));
            const int bytes = shape.bits / 8;
            HostVolume app(shape.size, bytes), boards(shape.size, bytes);
            app.Bytes() = Fresh(random, app.Bytes().size());
            ReleasablePointer<ULMVolume> volume(Make(shape, app));
            ASSERT_NE(volume, nullptr);
            ASSERT_EQ(volume->LockVolume(kULMAnyBoard), kULMOK);
            boards = app;
            const ULMVolumeRange whole = app.Whole();
            for (int step = 0; step < 8; ++step) {
                const unsigned op = random() % 6;
                const bool abort = op % 2 == 1;
                SCOPED_TRACE("step " + std::to_string(step) + ", op " + std::to_string(op));
                if (random() % 2 == 0) m_renders.push_back(StartRender(volume));
                const ULMVolumeRange box = random() % 2 == 0 ? whole : SomeBox(random, whole);
                CallerBlock block(app.BoxBytes(box));
                ULMStatus unloaded = kULMOK;
                if (op < 4) {  // an update, started or not, aborted or not
                    const std::vector<uint8_t> voxels = Fresh(random, block.Bytes().size());
                    block.Bytes() = voxels;
                    ULMStatus answer = kULMOK;
                    if (op < 2) {
                        const ULMSyncEvent update = volume->StartUpdate(block.Data(), box);
                        if (abort) update.Abort();
                        answer = update.Wait(-1);
                    } else {
                        answer = volume->Update(block.Data(), box);
                    }
                    const std::vector<uint8_t> held = AfterAnswer(*volume, block, app, unloaded);
                    ASSERT_EQ(unloaded, kULMOK);
                    if (answer == kULMOK) {
                        boards.Write(box, voxels);
                        EXPECT_EQ(held, boards.Bytes()) << "an update answered OK";
                    } else {
                        EXPECT_EQ(NeitherOldNorNew(boards, voxels, box, held, bytes), 0u)
                            << "an update answered " << answer;
                        boards.Bytes() = held;
                    }
                } else {  // an unload, started and waited for, aborted or not
                    block.Overwrite();
                    const ULMSyncEvent unload = volume->StartUnload(block.Data(), box, kULMUseBuffer);
                    if (abort) unload.Abort();
                    const ULMStatus answer = unload.Wait(-1);
                    if (answer == kULMOK) {
                        EXPECT_EQ(block.Bytes(), boards.Box(box)) << "an unload answered OK";
                    }
                    const std::vector<uint8_t> held = AfterAnswer(*volume, block, app, unloaded);
                    EXPECT_EQ(block.Touched(), 0u) << "bytes an unload wrote after it answered " << answer;
                    EXPECT_EQ(unloaded, kULMOK);
                    EXPECT_EQ(held, boards.Bytes());
                }
            }
            SettleRenders();
        }
    }
}

// A write into the bands that one board fails leaves the copies holding
// different voxels unless they are made alike again: then unloads, which
// take their chunks from the copies in turn, would each answer OK with
// another mix of old and new.
TEST_P(UnloadHistoryTest, AWriteOneBoardFailsLeavesEveryCopyAlike) {
    for (const Shape& shape : kShapes) {
        if (shape.mode != 1) continue;
        SCOPED_TRACE(shape.name);
        std::mt19937 random(unsigned(shape.size[0] * shape.size[2]));
        const int bytes = shape.bits / 8;
        HostVolume app(shape.size, bytes), boards(shape.size, bytes);
        app.Bytes() = Fresh(random, app.Bytes().size());
        ReleasablePointer<ULMVolume> volume(Make(shape, app));
        ASSERT_NE(volume, nullptr);
        ASSERT_EQ(volume->LockVolume(kULMAnyBoard), kULMOK);
        const ULMVolumeRange whole = app.Whole();
        const std::vector<uint8_t> voxels = Fresh(random, app.BoxBytes(whole));
        tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 2);
        const ULMStatus written = volume->StartUpdate(voxels.data(), whole).Wait(-1);
        if (written == kULMOK) boards.Bytes() = voxels;
        std::vector<uint8_t> first(app.BoxBytes(whole));
        ASSERT_EQ(volume->Unload(first.data(), whole, kULMUseBuffer), kULMOK);
        if (written == kULMOK) {
            EXPECT_EQ(first, voxels);
            continue;
        }
        EXPECT_EQ(NeitherOldNorNew(app, voxels, whole, first, bytes), 0u);
        // Slice by slice, twice over: one-slice unloads move the turn on
        // by one copy each, so every slice is read from several copies.
        HostVolume held = app;
        held.Bytes() = first;
        int parted = 0;
        for (int pass = 0; pass < 2; ++pass)
            for (int z = 0; z < whole.ZSize(); ++z) {
                const ULMVolumeRange slice(whole.XSize(), whole.YSize(), 1, 0, 0, z);
                std::vector<uint8_t> next(app.BoxBytes(slice));
                ASSERT_EQ(volume->Unload(next.data(), slice, kULMUseBuffer), kULMOK);
                parted += next != held.Box(slice);
            }
        EXPECT_EQ(parted, 0) << "slices read back otherwise than the whole volume was";
    }
}

// Voxels holding the pattern a caller's block was overwritten with after
// an answer: voxels the boards read from the block too late.
size_t PatternVoxels(const std::vector<uint8_t>& inVoxels, int inBytes) {
    size_t found = 0;
    for (size_t v = 0; v < inVoxels.size(); v += size_t(inBytes)) {
        bool pattern = true;
        for (int b = 0; b < inBytes; ++b) pattern = pattern && inVoxels[v + size_t(b)] == kPatternByte;
        found += pattern;
    }
    return found;
}

// The same with locks, unlocks (with and without write-back) and renders
// between a start and its wait.
TEST_P(UnloadHistoryTest, AfterTheAnswerNoInterleavedCallLetsTheBoardsAtTheBlock) {
    for (const Shape& shape : kShapes) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(std::string(shape.name) + ", seed " + std::to_string(seed));
            std::mt19937 random(seed * 15485863u + unsigned(shape.size[1]));
            const int bytes = shape.bits / 8;
            HostVolume app(shape.size, bytes);
            app.Bytes() = Fresh(random, app.Bytes().size());
            ReleasablePointer<ULMVolume> volume(Make(shape, app));
            ASSERT_NE(volume, nullptr);
            const ULMVolumeRange whole = app.Whole();
            std::string history;
            for (int step = 0; step < 12; ++step) {
                const bool update = random() % 2 == 0, abort = random() % 3 == 0;
                const unsigned between = random() % 9;
                history += (update ? "u" : "d") + std::string(abort ? "a" : "") + std::to_string(between) + " ";
                if (random() % 2 == 0) m_renders.push_back(StartRender(volume));
                const ULMVolumeRange box = random() % 3 == 0 ? whole : SomeBox(random, whole);
                CallerBlock block(app.BoxBytes(box));
                if (update) block.Bytes() = Fresh(random, block.Bytes().size());
                else block.Overwrite();
                const ULMSyncEvent started = update ? volume->StartUpdate(block.Data(), box)
                                                    : volume->StartUnload(block.Data(), box, kULMUseBuffer);
                if (between == 0) volume->UnlockVolume(0);
                if (between == 1) volume->UnlockVolume(1);
                if (between == 2) volume->LockVolume(kULMAnyBoard);
                if (between == 3) m_renders.push_back(StartRender(volume));
                if (between == 6) volume->SetBufferOffset(2, 0, 2);
                if (between == 7) volume->SetBufferOffset(0, 0, 0);
                if (between == 8) {
                    if (abort) started.Abort();
                    volume->UnlockVolume(int(random() % 2));
                    volume->LockVolume(kULMAnyBoard);
                }
                if (abort) started.Abort();
                const ULMStatus answer = started.Wait(-1);
                block.Overwrite();
                ASSERT_TRUE(tulx7sim::WaitForIdle(20000));
                EXPECT_EQ(block.Touched(), 0u) << "bytes of the block written after the answer " << answer << ", "
                                               << history;
                EXPECT_EQ(PatternVoxels(app.Bytes(), bytes), 0u) << "the application's voxels, " << history;
                std::vector<uint8_t> held(app.BoxBytes(whole), 0);
                if (volume->Unload(held.data(), whole, kULMUseBuffer) == kULMOK) {
                    EXPECT_EQ(PatternVoxels(held, bytes), 0u) << "the buffers' voxels, " << history;
                }
            }
            SettleRenders();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, UnloadHistoryTest,
                         ::testing::Values(Platform{1, tulx7sim::QueueMode::kSerial},
                                           Platform{2, tulx7sim::QueueMode::kSerial},
                                           Platform{2, tulx7sim::QueueMode::kThreeQueues},
                                           Platform{3, tulx7sim::QueueMode::kThreeQueues}),
                         [](const ::testing::TestParamInfo<Platform>& inInfo) {
                             return std::to_string(inInfo.param.boards) + "Boards" +
                                    (inInfo.param.queues == tulx7sim::QueueMode::kSerial ? "Serial" : "ThreeQueues");
                         });

}  // namespace
}  // namespace ulm3::testing
