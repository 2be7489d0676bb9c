// Histories of a locked volume's buffer addressing (an offset window, a wrap,
// one after the other, a window moved away and back), with updates between,
// on every kind of volume the creator makes. After each step every unload,
// map and render of the buffer is the host model of the voxels the header
// says the buffer keeps (what an offset window drops comes back from the
// volume's own voxels when it is read again), or a refusal with
// kULMErrVolume, logged, of a box the buffer does not hold; never a voxel
// of another coordinate or one never written. A mipmap volume's level 1 is
// the host's means of the same voxels, or refused before any work.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "foundation/log_capture.h"
#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "tulx7sim/chip_model.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

constexpr int kX = 40, kY = 24, kZ = 24, kSide = 48;
const ULMVolumeRange kWhole(kX, kY, kZ, 0, 0, 0);

// The voxels the buffer holds at their own coordinates, and what each
// voxel reads as: the last value written where it is held, else the
// volume's own, which a read loads first.
class HostModel {
public:
    HostModel(const std::vector<uint8_t>& inOwn, const std::array<int, 3>& inSizes)
        : m_own(inOwn), m_value(inOwn), m_held(inOwn.size(), 1), m_sizes(inSizes) {}

    void Offset(const std::array<int, 3>& inOffset) {
        const std::array<int, 3>& inSizes = m_sizes;
        m_wrap = false;
        m_parameters = inOffset;
        ForEach(kWhole, [&](int x, int y, int z, size_t i) {
            const int p[3] = {x, y, z};
            for (int a = 0; a < 3; ++a)
                if (p[a] < inOffset[a] || p[a] >= inOffset[a] + inSizes[a]) Drop(i);
        });
    }
    void Wrap(const std::array<int, 3>& inModuli) {
        m_wrap = true;
        m_parameters = inModuli;
    }
    // Under wrap the held voxels that share an element with a written one
    // are gone.
    void Write(const ULMVolumeRange& inBox, uint8_t inValue) {
        if (m_wrap)
            ForEach(kWhole, [&](int x, int y, int z, size_t i) {
                const int p[3] = {x, y, z};
                bool shares = !Inside(inBox, x, y, z);
                for (int a = 0; a < 3 && shares; ++a) {
                    const int m = m_parameters[a], r = p[a] % m;
                    bool hit = false;
                    for (int w = inBox.m_origin[a]; w < inBox.m_origin[a] + inBox.m_size[a]; ++w) hit |= w % m == r;
                    shares = hit;
                }
                if (shares) Drop(i);
            });
        ForEach(inBox, [&](int, int, int, size_t i) {
            m_value[i] = inValue;
            m_held[i] = 1;
        });
    }
    void Read(const ULMVolumeRange& inBox) {
        ForEach(inBox, [&](int, int, int, size_t i) { m_held[i] = 1; });
    }
    bool Holds(const ULMVolumeRange& inBox) const {
        bool all = true;
        ForEach(inBox, [&](int, int, int, size_t i) { all = all && m_held[i] != 0; });
        return all;
    }
    std::vector<uint8_t> Box(const ULMVolumeRange& inBox) const {
        std::vector<uint8_t> out;
        ForEach(inBox, [&](int, int, int, size_t i) { out.push_back(m_value[i]); });
        return out;
    }
    const std::vector<uint8_t>& Values() const { return m_value; }
    // What a render draws: the volume, within an offset window.
    ULMVolumeRange Drawn() const { return m_wrap ? kWhole : ULMVolumeRange::Intersect(kWhole, Window()); }
    // An update outside an offset window is refused, and changes nothing.
    bool Takes(const ULMVolumeRange& inBox) const { return m_wrap || Window().Contains(inBox); }

    template <typename Visit>
    static void ForEach(const ULMVolumeRange& inBox, Visit&& inVisit) {
        for (int z = inBox.ZOrigin(); z < inBox.ZOrigin() + inBox.ZSize(); ++z)
            for (int y = inBox.YOrigin(); y < inBox.YOrigin() + inBox.YSize(); ++y)
                for (int x = inBox.XOrigin(); x < inBox.XOrigin() + inBox.XSize(); ++x)
                    inVisit(x, y, z, (size_t(z) * kY + y) * kX + x);
    }

private:
    ULMVolumeRange Window() const {
        return ULMVolumeRange(m_sizes[0], m_sizes[1], m_sizes[2], m_parameters[0], m_parameters[1], m_parameters[2]);
    }
    static bool Inside(const ULMVolumeRange& inBox, int x, int y, int z) {
        return ULMVolumeRange(inBox).Contains(ULMVolumeRange(1, 1, 1, x, y, z));
    }
    void Drop(size_t i) {
        m_held[i] = 0;
        m_value[i] = m_own[i];
    }

    std::vector<uint8_t> m_own, m_value;
    std::vector<char> m_held;
    std::array<int, 3> m_sizes;
    bool m_wrap = false;
    std::array<int, 3> m_parameters{0, 0, 0};
};

enum Op { kOffset, kWrap, kUpdate };
struct Step {
    Op op;
    std::array<int, 3> a{0, 0, 0};  // offsets or moduli
    ULMVolumeRange box{};           // an update's box
    uint8_t value = 0;
    // The answer of a wrap (kULMErrArgument: too narrow for the voxels held,
    // and nothing changes); bricks answer kULMErrUnimplemented to every wrap.
    ULMStatus answer = kULMOK;
};
struct History {
    const char* name;
    std::vector<Step> steps;
    // A box the buffer keeps at the end, read back as it stands.
    ULMVolumeRange kept;
    // Whether the whole volume reads back at the end (plain, mipmap and
    // bands: the volume's own voxels fill what the buffer dropped), and
    // level 1 can be made.
    bool wholeReads, levelMade;
};

Step Offset(int x, int y, int z) { return {kOffset, {x, y, z}}; }
Step Wrap(int x, int y, int z, ULMStatus inAnswer = kULMOK) { return {kWrap, {x, y, z}, {}, 0, inAnswer}; }
Step Update(const ULMVolumeRange& inBox, uint8_t inValue) { return {kUpdate, {}, inBox, inValue}; }

// The offsets move along X and Z, which two bricks of this volume are not
// cut along.
const History kHistories[] = {
    {"offset",
     {Update({8, kY, kZ, 0, 0, 0}, 100), Offset(4, 0, 2), Update({4, 20, kZ - 4, 8, 4, 2}, 150)},
     {kX - 4, kY, kZ - 2, 4, 0, 2},
     false,
     false},
    {"wrap",
     {Update({8, kY, kZ, 0, 0, 0}, 100), Wrap(64, 32, 32), Update({4, kY, 8, 8, 0, 6}, 150)},
     kWhole,
     true,
     true},
    // The window keeps x 16..39, which a wrap of 16 cannot hold apart and
    // one of 32 can; the update at x 0..3 then takes the elements of x 32..35.
    {"offset then wrap",
     {Offset(16, 0, 0), Update({4, kY, kZ, 20, 0, 0}, 150), Wrap(16, 32, 32, kULMErrArgument), Wrap(32, 32, 32),
      Update({4, kY, kZ, 0, 0, 0}, 77)},
     {16, kY, kZ, 16, 0, 0},
     false,
     false},
    {"wrap then offset",
     {Update({8, kY, kZ, 0, 0, 0}, 100), Wrap(64, 32, 32), Update({4, kY, kZ, 32, 0, 0}, 150), Offset(-4, 0, 0),
      Update({4, 8, 8, 0, 0, 0}, 33)},
     {kX - 4, kY, kZ, 0, 0, 0},
     false,
     false},
    {"away and back",
     {Update({8, kY, kZ, 0, 0, 0}, 100), Offset(4, 0, 0), Update({4, kY, kZ, 4, 0, 0}, 150), Offset(0, 0, 0),
      Update({2, 4, 4, 10, 10, 10}, 200)},
     {kX - 4, kY, kZ, 4, 0, 0},
     true,
     true},
};

constexpr VolumeKind kKinds[] = {{"plain", false, 0}, {"mipmap", true, 0}, {"bands", false, 1}, {"bricks", false, 2}};

class AddressHistoryTest : public ContextTest {
protected:
    AddressHistoryTest() : ContextTest(test_support::SimBoards(2)) {}

    void SetUp() override {
        ContextTest::SetUp();
        m_own.resize(size_t(kX) * kY * kZ);
        for (size_t i = 0; i < m_own.size(); ++i) {
            const int x = int(i % kX), y = int(i / kX % kY), z = int(i / kX / kY);
            m_own[i] = uint8_t(20 + 4 * x + 2 * y + z + int((i * 2654435761u) >> 29));
        }
        m_table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = 0.06f * v;
            m_table->SetEntry(i, ULMRGBAFloat(a * v, a * (1 - v), a * 0.5f, a));
        }
        m_context.Assign(ULMContext::Create(m_table));
        const double r = 0.6 * std::hypot(kX, kY, kZ);
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetModelMatrix(ULMMatrix::Rotate(20, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - kX) / 2.0, (1 - kY) / 2.0, (1 - kZ) / 2.0));
        camera.SetViewport(0, 0, kSide, kSide);
    }
    void TearDown() override {
        m_context.Assign(nullptr);
        m_table.Assign(nullptr);
        ContextTest::TearDown();
    }

    ULMVolume* Locked(const VolumeKind& inKind, std::vector<uint8_t>& ioVoxels) const {
        ULMVolume* volume = CreateVolumeOfKind(
            inKind, [&] { return ULMVolume::Create(1u, ioVoxels.data(), kX, kY, kZ, ULMVolume::kSliced); });
        EXPECT_NE(volume, nullptr);
        if (volume != nullptr) {
            EXPECT_EQ(volume->LockVolume(inKind.mode == 0 ? kULMBoard0 : kULMAnyBoard), kULMOK);
        }
        return volume;
    }

    std::vector<uint32_t> Picture(const VolumeKind& inKind, ULMVolume* ioVolume, ULMStatus& outStatus) const {
        const ULMFieldDescriptor rgba[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                            {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
        const ULMLocation where = inKind.mode == 1   ? kULMMultiBoardMode1
                                  : inKind.mode == 2 ? kULMMultiBoardMode2
                                                     : kULMBoard0;
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(where, kSide, kSide, 32, 4, rgba));
        EXPECT_EQ(image->Clear({kSide, kSide, 0, 0}, 0), kULMOK);
        outStatus = ioVolume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1);
        std::vector<uint32_t> pixels(size_t(kSide) * kSide);
        EXPECT_EQ(image->Unload(pixels.data(), {kSide, kSide, 0, 0}, 0), kULMOK);
        return pixels;
    }

    // A read that answers OK shows the model; a refusal is logged and is
    // only for a box the buffer does not hold.
    void Read(ULMVolume* ioVolume, HostModel& ioModel, const ULMVolumeRange& inBox, bool inMap) const {
        SCOPED_TRACE(inMap ? "map" : "unload");
        std::vector<uint8_t> got(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize(), 0xEE);
        ULMStatus status = kULMOK;
        std::string logged;
        {
            testing_support::LogToFile log;
            if (!inMap) {
                status = ioVolume->Unload(got.data(), inBox, kULMUseBuffer);
            } else {
                void* mapped = nullptr;
                unsigned sx = 0, sy = 0;
                status = ioVolume->MapSubVolume(kULMAccessReadShared, inBox, mapped, sx, sy, kULMUseBuffer);
                if (status == kULMOK) {
                    for (int z = 0; z < inBox.ZSize(); ++z)
                        for (int y = 0; y < inBox.YSize(); ++y)
                            for (int x = 0; x < inBox.XSize(); ++x)
                                got[(size_t(z) * inBox.YSize() + y) * inBox.XSize() + x] =
                                    static_cast<uint8_t*>(mapped)[(size_t(z) * sy + y) * sx + x];
                    EXPECT_EQ(ioVolume->UnmapVolume(), kULMOK);
                }
            }
            logged = log.Contents();
        }
        if (status == kULMOK) {
            EXPECT_TRUE(got == ioModel.Box(inBox)) << "a voxel of another coordinate, or one never written";
            ioModel.Read(inBox);
            return;
        }
        EXPECT_EQ(status, kULMErrVolume);
        EXPECT_FALSE(ioModel.Holds(inBox)) << "a box the buffer holds was refused";
        EXPECT_NE(logged.find("not on the board"), std::string::npos) << logged;
    }

    // The picture is that of a volume of the model's voxels drawn over what
    // an offset window holds, or the render is refused.
    void Render(const VolumeKind& inKind, ULMVolume* ioVolume, HostModel& ioModel) const {
        SCOPED_TRACE("render");
        const ULMVolumeRange drawn = ioModel.Drawn();
        ULMStatus status = kULMOK;
        const std::vector<uint32_t> got = Picture(inKind, ioVolume, status);
        if (status != kULMOK) {
            EXPECT_EQ(status, kULMErrVolume);
            EXPECT_FALSE(ioModel.Holds(drawn)) << "a render of voxels the buffer holds was refused";
            return;
        }
        std::vector<uint8_t> voxels = ioModel.Values();
        ReleasablePointer<ULMVolume> reference(Locked(inKind, voxels));
        ASSERT_EQ(reference->SetActiveSubVolume(drawn), kULMOK);
        ULMStatus referenceStatus = kULMOK;
        EXPECT_TRUE(got == Picture(inKind, reference, referenceStatus));
        EXPECT_EQ(referenceStatus, kULMOK);
        ioModel.Read(drawn);
    }

    // Level 1 halves every axis: the means of the model's 2 x 2 x 2 blocks,
    // made from all of level 0 or not at all.
    void Level(ULMVolume* ioVolume, HostModel& ioModel, bool inMade) const {
        SCOPED_TRACE("level 1");
        tulx7sim::ClearChipDiagnostics();
        const ULMStatus status = ioVolume->GenerateMipmapLevel(1, 0, 0.5, 0.5, 0.5);
        EXPECT_EQ(status, inMade ? kULMOK : kULMErrVolume);
        ULMVolume* level = ioVolume->GetMipmapLevel(1);
        if (status != kULMOK) {
            EXPECT_EQ(level, nullptr) << "a refused generation made a level";
            return;
        }
        ioModel.Read(kWhole);
        ASSERT_NE(level, nullptr);
        const ULMVolumeRange half(kX / 2, kY / 2, kZ / 2, 0, 0, 0);
        std::vector<uint8_t> got(size_t(kX / 2) * (kY / 2) * (kZ / 2));
        ASSERT_EQ(level->Unload(got.data(), half, kULMUseBuffer), kULMOK);
        const std::vector<uint8_t>& v = ioModel.Values();
        int off = 0;
        HostModel::ForEach(half, [&](int x, int y, int z, size_t) {
            int sum = 0;
            for (int k = 0; k < 8; ++k)
                sum += v[(size_t(2 * z + (k >> 2)) * kY + 2 * y + ((k >> 1) & 1)) * kX + 2 * x + (k & 1)];
            off += std::abs(8 * got[(size_t(z) * (kY / 2) + y) * (kX / 2) + x] - sum) > 8;
        });
        EXPECT_EQ(off, 0) << "level 1 voxels off the means of their blocks";
        for (int board = 0; board < 2; ++board)
            EXPECT_EQ(tulx7sim::GetChipDiagnostics(board).readsOutsideStorage, 0u) << "board " << board;
    }

    std::vector<uint8_t> m_own;
    ReleasablePointer<ULMLookupTable> m_table;
    ReleasablePointer<ULMContext> m_context;
};

TEST_F(AddressHistoryTest, EveryReadAfterAnAddressHistoryIsTheHeldVoxelsOrRefused) {
    for (const VolumeKind& kind : kKinds) {
        for (const History& history : kHistories) {
            SCOPED_TRACE(std::string(kind.name) + ", " + history.name);
            std::vector<uint8_t> voxels = m_own;
            ReleasablePointer<ULMVolume> volume(Locked(kind, voxels));
            ASSERT_NE(volume, nullptr);
            // A multiboard volume's window is its base volume's size.
            unsigned sx = kX, sy = kY, sz = kZ;
            if (kind.mode == 0) volume->GetBufferSize(sx, sy, sz);
            const std::array<int, 3> sizes{int(sx), int(sy), int(sz)};
            HostModel model(m_own, sizes);
            for (size_t s = 0; s < history.steps.size(); ++s) {
                const Step& step = history.steps[s];
                SCOPED_TRACE("after step " + std::to_string(s));
                if (step.op == kUpdate) {
                    const std::vector<uint8_t> block(size_t(step.box.XSize()) * step.box.YSize() * step.box.ZSize(),
                                                     step.value);
                    const bool takes = model.Takes(step.box);
                    ASSERT_EQ(volume->Update(block.data(), step.box), takes ? kULMOK : kULMErrArgument);
                    if (takes) model.Write(step.box, step.value);
                } else if (step.op == kOffset) {
                    ASSERT_EQ(volume->SetBufferOffset(step.a[0], step.a[1], step.a[2]), kULMOK);
                    model.Offset(step.a);
                } else {
                    const ULMStatus answer = kind.mode == 2 ? kULMErrUnimplemented : step.answer;
                    ASSERT_EQ(volume->SetBufferWrap(step.a[0], step.a[1], step.a[2]), answer);
                    if (answer == kULMOK) model.Wrap(step.a);
                }
                Read(volume, model, kWhole, false);
                Read(volume, model, ULMVolumeRange(6, 5, 4, 10, 6, 8), true);
                Render(kind, volume, model);
            }
            // The end: what the buffer keeps reads back; the whole volume
            // too where the volume's own voxels can fill what it dropped.
            Read(volume, model, history.kept, false);
            EXPECT_TRUE(model.Holds(history.kept));
            // Bricks have no voxels of their own to fill from.
            const bool wholeReads = model.Holds(kWhole) || (history.wholeReads && kind.mode != 2);
            std::vector<uint8_t> whole(size_t(kX) * kY * kZ);
            EXPECT_EQ(volume->Unload(whole.data(), kWhole, kULMUseBuffer), wholeReads ? kULMOK : kULMErrVolume);
            if (kind.mipmap) Level(volume, model, history.levelMade);
        }
    }
}

// A buffer made smaller than its volume keeps an offset window of its own
// size. The board's storage is allocated in whole blocks and would take the
// voxels of an update reaching past that window's edge, but nothing reads
// them back there: such an update is refused and changes nothing, on every
// kind that resizes its buffer, and an unlock's write-back returns every
// voxel an update inside the window wrote.
class ResizedBufferWrites : public ContextTest, public ::testing::WithParamInterface<int> {
protected:
    ResizedBufferWrites() : ContextTest(test_support::SimBoards(GetParam())) {}
};

TEST_P(ResizedBufferWrites, AnUpdatePastTheWindowIsRefusedAndOneInsideComesBackWithTheUnlock) {
    const VolumeKind kinds[] = {{"plain", false, 0}, {"bands", false, 1}};
    {
        for (const VolumeKind& kind : kinds) {
            SCOPED_TRACE(kind.name);
            constexpr int X = 23, Y = 16, Z = 24;
            std::vector<uint8_t> own(size_t(X) * Y * Z, 166);
            ReleasablePointer<ULMVolume> volume(CreateVolumeOfKind(
                kind, [&] { return ULMVolume::Create(1u, own.data(), X, Y, Z, ULMVolume::kSliced); }));
            ASSERT_NE(volume, nullptr);
            ASSERT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
            ASSERT_EQ(volume->ResizeBuffer(17, 12, 18), kULMOK);
            const ULMVolumeRange past(15, 11, 4, 3, 0, 11), inside(14, 11, 4, 3, 0, 11);
            std::vector<uint8_t> update(size_t(past.XSize()) * past.YSize() * past.ZSize(), 91);
            {
                testing_support::LogToFile log;
                EXPECT_EQ(volume->Update(update.data(), past), kULMErrArgument);
            }
            // Neither the buffer nor the volume's own voxels took any of it.
            for (const auto& [box, from] : {std::pair{inside, kULMUseBuffer}, std::pair{past, kULMUseSource}}) {
                std::vector<uint8_t> read(update.size());
                ASSERT_EQ(volume->Unload(read.data(), box, from), kULMOK);
                EXPECT_EQ(std::count(read.begin(), read.begin() + box.XSize() * box.YSize() * box.ZSize(), 166),
                          box.XSize() * box.YSize() * box.ZSize())
                    << "the refusal wrote";
            }
            ASSERT_EQ(volume->Update(update.data(), inside), kULMOK);
            ASSERT_EQ(volume->UnlockVolume(1), kULMOK);
            size_t written = 0, elsewhere = 0;
            for (int z = 0; z < Z; ++z)
                for (int y = 0; y < Y; ++y)
                    for (int x = 0; x < X; ++x) {
                        const bool in = x >= 3 && x < 17 && y < 11 && z >= 11 && z < 15;
                        const uint8_t v = own[(size_t(z) * Y + y) * X + x];
                        written += in && v == 91;
                        elsewhere += !in && v != 166;
                    }
            EXPECT_EQ(written, size_t(inside.XSize()) * inside.YSize() * inside.ZSize());
            EXPECT_EQ(elsewhere, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, ResizedBufferWrites, ::testing::Values(1, 3));

}  // namespace
}  // namespace ulm3::testing
