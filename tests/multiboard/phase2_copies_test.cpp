// Copies between another volume and a bricked volume whose bricks are cut
// along X, or into a grid along X and Y, over boxes wider than the overlap:
// each brick takes (or gives) its own part of the box, at the offset of
// that part on every axis the bricks are cut along. A resample into bricks
// fills every brick's overlap from the bricks that own its voxels.
#include <gtest/gtest.h>

#include <vector>

#include "multiboard/phase2_fixture.h"
#include "ulm3/classifier.h"

namespace ulm3 {
namespace {

using testing::kRGBA8;
using Bytes = std::vector<uint8_t>;

struct Cut {
    const char* name;
    int nx, ny, nz;
    int bricks;
    int xPieces, yPieces;  // the cut the sizes give
};

const Cut kCuts[] = {
    {"two along X", 64, 24, 18, 2, 2, 1},
    {"three along X", 72, 20, 18, 3, 3, 1},
    {"a grid of four", 64, 40, 16, 4, 2, 2},
};

class Phase2CopiesTest : public testing::Phase2Test {
protected:
    Phase2CopiesTest() : Phase2Test(2) {}

    // A plain volume over inVoxels, on board inBoard.
    ULMVolumeInternal* PlainOver(Bytes& inVoxels, int inBoard) {
        ULMVolumeInternal* v = ULMVolumeInternal::CreateSimpleVolume(
            8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1, &kRGBA8[0], inVoxels.data());
        EXPECT_NE(v, nullptr);
        if (v != nullptr) {
            EXPECT_EQ(v->LockVolume(ULMLocation(inBoard)), kULMOK);
        }
        return v;
    }
    // A locked bricked volume of inCount bricks over inVoxels.
    ULMMultiboardVolumePhase2* BrickedOver(Bytes& inVoxels, int inCount) {
        ReleasablePointer<ULMVolumeInternal> plain(ULMVolumeInternal::CreateSimpleVolume(
            8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1, &kRGBA8[0], inVoxels.data()));
        if (plain == nullptr) return nullptr;
        ULMVolume* made = ULMMultiboardVolumePhase2::Create(plain, plain->GetSource(), inCount, plain->GetRange());
        if (made == nullptr) return nullptr;
        auto* bricked = static_cast<ULMMultiboardVolumePhase2*>(made);
        EXPECT_EQ(bricked->LockVolume(kULMAnyBoard), kULMOK);
        return bricked;
    }
    // Other voxels than the fixture's: no voxel copied from a wrong place
    // can hold the right value by chance of a smooth ramp.
    Bytes OtherVoxels() const {
        Bytes out(voxels.size());
        for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i * 37 + i / 251);
        return out;
    }
    size_t At(int x, int y, int z) const { return (size_t(z) * size[1] + y) * size[0] + x; }
    static Bytes Read(const ULMVolume* inVolume, const ULMVolumeRange& r) {
        Bytes out(size_t(r.XSize()) * r.YSize() * r.ZSize(), 0xEE);
        EXPECT_EQ(inVolume->Unload(out.data(), r, kULMUseBuffer), kULMOK);
        return out;
    }
    Bytes Box(const Bytes& inWhole, const ULMVolumeRange& r) const {
        Bytes out;
        for (int z = r.ZOrigin(); z < r.ZOrigin() + r.ZSize(); ++z)
            for (int y = r.YOrigin(); y < r.YOrigin() + r.YSize(); ++y)
                for (int x = r.XOrigin(); x < r.XOrigin() + r.XSize(); ++x) out.push_back(inWhole[At(x, y, z)]);
        return out;
    }
    // A box from a few voxels inside the low end of X and Y to a few inside
    // the high end: it crosses every seam and is wider than the overlap.
    // Twelve slices or more, as a resample between boards takes them.
    ULMVolumeRange Wide() const { return ULMVolumeRange(size[0] - 9, size[1] - 7, size[2] - 4, 5, 3, 2); }

    ULMMultiboardVolumePhase2* BrickedAs(const Cut& inCut) {
        FillVoxels(inCut.nx, inCut.ny, inCut.nz);
        ULMMultiboardVolumePhase2* bricked = Bricked(inCut.bricks);
        EXPECT_NE(bricked, nullptr);
        if (bricked == nullptr) return nullptr;
        const auto& pieces = bricked->Division().Pieces();
        EXPECT_EQ(pieces[0], inCut.xPieces);
        EXPECT_EQ(pieces[1], inCut.yPieces);
        const ULMVolumeRange wide = Wide();
        for (int i = 0; i < inCut.bricks; ++i) {
            const ULMVolumeRange& load = bricked->Brick(i).m_loadRange;
            EXPECT_FALSE(load.Contains(wide)) << "brick " << i << " holds the whole box";
        }
        return bricked;
    }
};

// Update from another volume, its box at another place of the source: every
// brick holds the copy over all it loads, and the owners read back as the
// host copy of the same voxels.
TEST_F(Phase2CopiesTest, UpdateFromAnotherVolumeReachesEveryBrickAtItsOffset) {
    for (const Cut& cut : kCuts) {
        SCOPED_TRACE(cut.name);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(BrickedAs(cut));
        ASSERT_NE(bricked, nullptr);
        Bytes other = OtherVoxels();
        ReleasablePointer<ULMVolumeInternal> source(PlainOver(other, 1));
        ASSERT_NE(source, nullptr);
        const ULMVolumeRange box = Wide();
        const int sx = 2, sy = 4, sz = 1;
        for (const ULMSource from : {kULMUseSource, kULMUseBuffer}) {
            SCOPED_TRACE(from);
            FillVoxels(cut.nx, cut.ny, cut.nz);
            ASSERT_EQ(bricked->Update(voxels.data(), bricked->GetRange()), kULMOK);
            ASSERT_EQ(bricked->Update(source, box, sx, sy, sz, from), kULMOK);
            Bytes expected = voxels;
            for (int z = 0; z < box.ZSize(); ++z)
                for (int y = 0; y < box.YSize(); ++y)
                    for (int x = 0; x < box.XSize(); ++x)
                        expected[At(box.XOrigin() + x, box.YOrigin() + y, box.ZOrigin() + z)] =
                            other[At(sx + x, sy + y, sz + z)];
            EXPECT_TRUE(Read(bricked, bricked->GetRange()) == expected);
            for (int i = 0; i < cut.bricks; ++i) {
                const ULMVolumeRange& load = bricked->Brick(i).m_loadRange;
                EXPECT_TRUE(Read(bricked->Brick(i).GetVolume(), load) == Box(expected, load)) << "brick " << i;
            }
        }
    }
}

// A resample at one to one from the bricks into a plain volume, and into a
// second bricked volume cut the same way, against the same resample from a
// plain volume on one board.
TEST_F(Phase2CopiesTest, ResampleFromBricksEqualsTheOneBoardResample) {
    const ULMClassifier copy = ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField0);
    for (const Cut& cut : kCuts) {
        SCOPED_TRACE(cut.name);
        ReleasablePointer<ULMMultiboardVolumePhase2> bricked(BrickedAs(cut));
        ASSERT_NE(bricked, nullptr);
        const ULMVolumeRange from = Wide();
        const ULMVolumeRange to(from.XSize(), from.YSize(), from.ZSize(), 3, 2, 1);

        Bytes blank(voxels.size(), 0);
        ReleasablePointer<ULMVolumeInternal> plain(PlainOver(voxels, 0));
        ReleasablePointer<ULMVolumeInternal> want(PlainOver(blank, 0));
        ASSERT_EQ(plain->ResampleBuffer(want, from, to, copy), kULMOK);
        const Bytes expected = Read(want, want->GetRange());
        EXPECT_TRUE(Box(expected, to) == Box(voxels, from)) << "one to one copies the voxels";

        Bytes blank2(voxels.size(), 0);
        ReleasablePointer<ULMVolumeInternal> got(PlainOver(blank2, 1));
        ASSERT_EQ(bricked->ResampleBuffer(got, from, to, copy), kULMOK);
        EXPECT_TRUE(Read(got, got->GetRange()) == expected);

        Bytes blank3(voxels.size(), 0);
        ReleasablePointer<ULMMultiboardVolumePhase2> paired(BrickedOver(blank3, cut.bricks));
        ASSERT_NE(paired, nullptr);
        ASSERT_EQ(bricked->ResampleBuffer(paired, from, to, copy), kULMOK);
        EXPECT_TRUE(Read(paired, paired->GetRange()) == expected) << "into bricks";
    }
}

// A resample into a second bricked volume whose box lies a few voxels off
// the source's: on the side the box moves to, a brick's pair reaches short
// of the overlap its destination brick loads, on the other side it reaches
// all of it. Every brick then holds what the owners of its voxels hold, so
// that no seam shows in a render of the result: its picture is the
// one-board picture of the one-board resample.
TEST_F(Phase2CopiesTest, ResampleIntoBricksFillsEveryBricksOverlapFromItsOwners) {
    const ULMClassifier copy = ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField0);
    const struct {
        const char* name;
        int shift[3];  // destination origin less the source's
    } shifts[] = {{"towards the low end", {-2, -2, -1}}, {"towards the high end", {3, 2, 1}}};
    for (const Cut& cut : kCuts) {
        for (const auto& shift : shifts) {
            SCOPED_TRACE(::testing::Message() << cut.name << ", " << shift.name);
            ReleasablePointer<ULMMultiboardVolumePhase2> bricked(BrickedAs(cut));
            ASSERT_NE(bricked, nullptr);
            const ULMVolumeRange from = Wide();
            const ULMVolumeRange to(from.XSize(), from.YSize(), from.ZSize(), from.XOrigin() + shift.shift[0],
                                    from.YOrigin() + shift.shift[1], from.ZOrigin() + shift.shift[2]);
            Bytes blank(voxels.size(), 0);
            ReleasablePointer<ULMVolumeInternal> plain(PlainOver(voxels, 0));
            ReleasablePointer<ULMVolumeInternal> want(PlainOver(blank, 0));
            ASSERT_EQ(plain->ResampleBuffer(want, from, to, copy), kULMOK);
            Bytes expected = Read(want, want->GetRange());

            Bytes blank2(voxels.size(), 0);
            ReleasablePointer<ULMMultiboardVolumePhase2> paired(BrickedOver(blank2, cut.bricks));
            ASSERT_NE(paired, nullptr);
            ASSERT_EQ(bricked->ResampleBuffer(paired, from, to, copy), kULMOK);
            for (int i = 0; i < cut.bricks; ++i) {
                const ULMVolumeRange& load = paired->Brick(i).m_loadRange;
                EXPECT_TRUE(Read(paired->Brick(i).GetVolume(), load) == Box(expected, load)) << "brick " << i;
            }
            // The result's maximum: the one-board picture of the same voxels.
            voxels = expected;
            PureGrey(1);
            ASSERT_EQ(context->SetBlendMode(kULMBlendMaxRed), kULMOK);
            Aim(30, 40, 72);
            EXPECT_EQ(Bricks(paired, 72), OneBoard(72));
        }
    }
}

}  // namespace
}  // namespace ulm3
