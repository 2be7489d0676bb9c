// Mipmap levels of volumes spread over the boards, seen through the public
// interface: every level of a bricked or banded volume holds, voxel for
// voxel, what the level of the same voxels on one board holds, down to the
// small last level, on boards that halve Z in one pass and on boards that
// resample Z in sections.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

struct Releaser {
    void operator()(ULMVolume* inVolume) const { inVolume->Release(); }
};
using HeldVolume = std::unique_ptr<ULMVolume, Releaser>;

struct Spread {
    const char* name;
    int mode;   // MultiboardRenderMode: 0 one board, 1 bands, 2 bricks
    int count;  // bricks or bands
};

class MultiboardLevelsTest : public testing::ContextTest {
protected:
    explicit MultiboardLevelsTest(int inPciRevision = 1) : ContextTest(Boards(inPciRevision)) {}

    static tulx7sim::SimConfig Boards(int inPciRevision) {
        tulx7sim::SimConfig config = test_support::SimBoards(4);
        config.pciRev = inPciRevision;
        return config;
    }

    // Voxels that differ from every neighbour, so that a level voxel made
    // of other voxels, or of the same at other weights, shows.
    void Fill(int nx, int ny, int nz) {
        m_size[0] = nx, m_size[1] = ny, m_size[2] = nz;
        m_voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) m_voxels[i] = uint8_t((i * 2654435761u) >> 11);
    }

    // A mipmap volume over the voxels, its level 0 spread as inSpread says.
    ULMVolume* NewVolume(const Spread& inSpread) {
        ULMSetParameter("MipmapMinVolumeSize", 32);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", uint64_t(inSpread.mode == 0 ? 2 : inSpread.mode));
        ULMSetParameter("MultiboardForceNumberOfVolumes", uint64_t(inSpread.count));
        ULMSetParameter("MultiboardRenderEnable", inSpread.mode == 0 ? 0 : 1);
        ULMVolume* volume = ULMVolume::Create(1u, m_voxels.data(), unsigned(m_size[0]), unsigned(m_size[1]),
                                              unsigned(m_size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        return volume;
    }

    // Level inLevel's voxels read back from the boards; empty when the
    // volume has no such level.
    static std::vector<uint8_t> Level(ULMVolume* inVolume, int inLevel, ULMVolumeRange& outRange) {
        ULMVolume* level = inVolume->GetMipmapLevel(inLevel);
        if (level == nullptr) return {};
        outRange = level->GetRange();
        std::vector<uint8_t> voxels(size_t(outRange.XSize()) * outRange.YSize() * outRange.ZSize(), 0xEE);
        EXPECT_EQ(level->Unload(voxels.data(), outRange, kULMUseBuffer), kULMOK);
        return voxels;
    }

    // Every level of every spread against the one-board levels; the number
    // of levels compared.
    int CompareLevels(const Spread* inSpreads, size_t inCount) {
        const HeldVolume one(NewVolume({"one board", 0, 0}));
        EXPECT_NE(one, nullptr);
        if (one == nullptr) return 0;
        std::vector<std::vector<uint8_t>> want;
        std::vector<ULMVolumeRange> ranges;
        for (int l = 1;; ++l) {
            ULMVolumeRange range;
            std::vector<uint8_t> voxels = Level(one.get(), l, range);
            if (voxels.empty()) break;
            want.push_back(std::move(voxels));
            ranges.push_back(range);
        }
        for (size_t c = 0; c < inCount; ++c) {
            const Spread& spread = inSpreads[c];
            SCOPED_TRACE(spread.name);
            const HeldVolume spreadVolume(NewVolume(spread));
            EXPECT_NE(spreadVolume, nullptr);
            if (spreadVolume == nullptr) continue;
            for (size_t l = 0; l < want.size(); ++l) {
                SCOPED_TRACE(l + 1);
                ULMVolumeRange range;
                const std::vector<uint8_t> got = Level(spreadVolume.get(), int(l + 1), range);
                EXPECT_EQ(got.size(), want[l].size()) << "the level is made as on one board";
                if (got.size() != want[l].size()) continue;
                EXPECT_EQ(range, ranges[l]);
                size_t differ = 0;
                for (size_t i = 0; i < got.size(); ++i) differ += got[i] != want[l][i];
                EXPECT_EQ(differ, 0u) << "of " << got.size() << " voxels";
            }
        }
        return int(want.size());
    }

    // What inResample makes, through a resample into a volume on board 1,
    // from 2, 3 and 4 bricks against from one board, voxel for voxel.
    template <typename Resample>
    void ExpectBricksResampleAsOneBoard(const Resample& inResample, const char* inWhat) {
        const HeldVolume one(NewVolume({"one board", 0, 0}));
        ASSERT_NE(one, nullptr);
        ASSERT_EQ(one->LockVolume(kULMBoard0), kULMOK);
        const std::vector<uint8_t> want = inResample(one.get());
        for (const int bricks : {2, 3, 4}) {
            SCOPED_TRACE(::testing::Message() << bricks << " bricks, " << inWhat);
            const HeldVolume bricked(NewVolume({"bricks", 2, bricks}));
            ASSERT_NE(bricked, nullptr);
            ASSERT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
            const std::vector<uint8_t> got = inResample(bricked.get());
            ASSERT_EQ(got.size(), want.size());
            size_t differ = 0;
            for (size_t i = 0; i < got.size(); ++i) differ += got[i] != want[i];
            EXPECT_EQ(differ, 0u) << "of " << got.size() << " voxels";
        }
    }

    // inFrom of inSource resampled into inTo of a volume of inSize voxels
    // on board 1, read back whole.
    static std::vector<uint8_t> ResampledOnBoard1(ULMVolume* inSource, const ULMVolumeRange& inFrom,
                                                  const ULMVolumeRange& inTo, const int (&inSize)[3]) {
        const ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
        std::vector<uint8_t> out(size_t(inSize[0]) * inSize[1] * inSize[2], 0xEE);
        const HeldVolume into(ULMVolume::Create(1u, out.data(), unsigned(inSize[0]), unsigned(inSize[1]),
                                                unsigned(inSize[2]), ULMVolume::kSliced));
        EXPECT_NE(into, nullptr);
        if (into == nullptr) return out;
        EXPECT_EQ(into->LockVolume(kULMBoard1), kULMOK);
        EXPECT_EQ(inSource->ResampleBuffer(into.get(), inFrom, inTo, direct), kULMOK);
        EXPECT_EQ(into->Unload(out.data(), into->GetRange(), kULMUseBuffer), kULMOK);
        return out;
    }

    int m_size[3] = {0, 0, 0};
    std::vector<uint8_t> m_voxels;
};

const Spread kSpreads[] = {
    {"2 bricks", 2, 2}, {"3 bricks", 2, 3}, {"4 bricks", 2, 4}, {"3 bands", 1, 3},
};

// Sides from 67 down to the last level of 12 (67 -> 34 -> 18 -> 12, 64 ->
// 32 -> 16 -> 12): spacings of 2, of 67/34 and of 4/3.
TEST_F(MultiboardLevelsTest, LevelsEqualTheOneBoardLevels) {
    Fill(67, 64, 48);
    EXPECT_EQ(CompareLevels(kSpreads, std::size(kSpreads)), 3);
}

// A bricked volume resampled into a volume on one board, shrunk and
// enlarged in X and Y: each voxel what the resample on one board makes.
TEST_F(MultiboardLevelsTest, ResamplesIntoOneVolumeAsOnOneBoard) {
    Fill(45, 52, 30);
    const ULMVolumeRange whole(45, 52, 30, 0, 0, 0);
    const int sizes[][3] = {{23, 26, 30}, {30, 40, 30}, {60, 70, 30}};
    for (const auto& size : sizes) {
        const ULMVolumeRange range(size[0], size[1], size[2], 0, 0, 0);
        ExpectBricksResampleAsOneBoard(
            [&](ULMVolume* inSource) { return ResampledOnBoard1(inSource, whole, range, size); },
            (std::to_string(size[0]) + "x" + std::to_string(size[1])).c_str());
    }
}

// Boxes at other places in the source and the destination, shrunk 2:1 and
// enlarged, from bricks cut along X, along Y and into a grid: each voxel of
// the destination, inside the box and out, what the resample on one board
// makes. Every axis starts elsewhere in the destination than in the source,
// so that a sample placed from the wrong one of the two origins shows.
TEST_F(MultiboardLevelsTest, ResamplesBoxesAtOtherPlacesAsOnOneBoard) {
    struct Row {
        const char* name;
        ULMVolumeRange from, to;
    };
    struct Shape {
        const char* cut;
        int size[3];
        Row rows[2];
    };
    const Shape shapes[] = {
        {"along X",
         {70, 30, 28},
         {{"shrunk 2:1", {60, 26, 24, 4, 2, 3}, {30, 13, 12, 9, 11, 5}},
          {"enlarged", {36, 16, 14, 20, 7, 9}, {54, 24, 20, 3, 4, 2}}}},
        {"along Y",
         {40, 64, 28},
         {{"shrunk 2:1", {26, 60, 24, 2, 3, 1}, {13, 30, 12, 20, 9, 10}},
          {"enlarged", {16, 36, 14, 7, 20, 8}, {24, 54, 20, 11, 4, 3}}}},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.cut);
        Fill(shape.size[0], shape.size[1], shape.size[2]);
        for (const Row& row : shape.rows)
            ExpectBricksResampleAsOneBoard(
                [&](ULMVolume* inSource) { return ResampledOnBoard1(inSource, row.from, row.to, m_size); },
                row.name);
    }
}

// Boards that do not halve Z in one pass take every level's Z through X.
class MultiboardLevelsInSectionsTest : public MultiboardLevelsTest {
protected:
    MultiboardLevelsInSectionsTest() : MultiboardLevelsTest(2) {}
};

TEST_F(MultiboardLevelsInSectionsTest, LevelsEqualTheOneBoardLevels) {
    Fill(50, 67, 40);
    EXPECT_GE(CompareLevels(kSpreads, std::size(kSpreads)), 2);
}

}  // namespace
}  // namespace ulm3
