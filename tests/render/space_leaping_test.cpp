// Space leaping against the same render without it: the bytes must not
// change, only the samples the chip composites.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/volume_render_state.h"
#include "support/context_fixture.h"
#include "tulx7sim/chip_model.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr int kX = 70, kY = 50, kZ = 40, kSide = 80;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};
const ULMFieldDescriptor kGrey8 = {0, 8, kULMUnsignedFraction};

struct Result {
    std::vector<uint32_t> pixels;
    uint64_t samples = 0;
    int trims = 0;  // widths of the three trim ranges added, 1/256 voxel
};

class SpaceLeapingTest : public testing::ContextTest {
protected:
    SpaceLeapingTest() : ContextTest(test_support::SimBoards(1)) {}
    void SetUp() override {
        ContextTest::SetUp();
        voxels.assign(kX * kY * kZ, 30);  // a transparent background with a ball in one corner
        AddBall(48, 40, 30);
        table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i)
            table->SetEntry(i, ULMRGBAFloat(i / 255.0f, 0.5f, 1 - i / 255.0f, i < 60 ? 0.0f : (i - 60) / 300.0f));
        context = ULMContext::Create(table);
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-45, 45, -45, 45, -100, 100));
        camera.SetViewport(0, 0, kSide, kSide);
    }
    void TearDown() override {
        context->Release(), table->Release();
        ContextTest::TearDown();
    }
    void AddBall(double cx, double cy, double cz) {
        for (int i = 0; i < kX * kY * kZ; ++i)
            voxels[i] = static_cast<uint8_t>(
                std::max<double>(voxels[i], 250 - 16 * std::hypot(i % kX - cx, i / kX % kY - cy, i / (kX * kY) - cz)));
    }
    void Aim(double tx, double ty) {
        context->GetCamera().SetModelMatrix(ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) *
                                            ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                                            ULMMatrix::Translate(-kX / 2.0, -kY / 2.0, -kZ / 2.0));
    }
    Result Render(ULMVolume* v, bool leap) {
        Result r;
        EXPECT_EQ(v->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(leap), -1, -1, -1, -1), kULMOK);
        ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8);
        const ULMImageRange whole(kSide, kSide, 0, 0);
        tulx7sim::ClearChipDiagnostics();
        r.pixels.assign(kSide * kSide, 0);
        EXPECT_TRUE(image->Clear(whole, 0) == kULMOK &&
                    v->Render(context, image, nullptr, nullptr, nullptr) == kULMOK &&
                    image->StartUnload(r.pixels.data(), whole, 0).Wait(-1) == kULMOK);
        r.samples = tulx7sim::GetChipDiagnostics(0).samples;
        const ULMAllRenderRegisters& regs = static_cast<ULMVolumeInternal*>(v)->RenderState().m_regs;
        r.trims = int32_t(regs.m_TrimRangeXmax - regs.m_TrimRangeXmin + regs.m_TrimRangeYmax - regs.m_TrimRangeYmin +
                          regs.m_TrimRangeZmax - regs.m_TrimRangeZmin);
        image->Release();
        return r;
    }
    ULMVolume* Volume() { return ULMVolume::Create(1u, voxels.data(), kX, kY, kZ, ULMVolume::kSliced); }

    std::vector<uint8_t> voxels;
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
};

TEST_F(SpaceLeapingTest, OnlyPlainModesLeapAndTheBytesStay) {
    ULMVolume* v = Volume();
    ASSERT_EQ(v->LockVolume(kULMBoard0), kULMOK);
    const struct { double tx, ty; } views[] = {{0, 0}, {160, -35}, {-40, 110}};
    for (const auto& view : views) {
        Aim(view.tx, view.ty);
        for (const ULMBlendMode mode : {kULMBlendBTF, kULMBlendFTB, kULMBlendBTFPreWeighted, kULMBlendFTBPreWeighted}) {
            ASSERT_EQ(context->SetBlendMode(mode), kULMOK);
            const Result plain = Render(v, false), leapt = Render(v, true);
            const bool leaps = mode == kULMBlendBTF || mode == kULMBlendFTB;
            EXPECT_EQ(plain.pixels, leapt.pixels) << mode << " " << view.tx;
            EXPECT_TRUE(leaps ? leapt.samples < plain.samples && leapt.trims < plain.trims
                              : leapt.samples == plain.samples && leapt.trims == plain.trims)
                << mode << " " << view.tx;
        }
    }
    v->Release();
}

// An unlocked volume renders from its host data, so each change below must
// reach the bricks: a stale brick would cut the new content away.
TEST_F(SpaceLeapingTest, AChangedVolumeTableOrRangeRebuildsTheBricks) {
    Aim(25, 30);
    ASSERT_EQ(context->SetBlendMode(kULMBlendFTB), kULMOK);
    auto* v = static_cast<ULMVolumeInternal*>(Volume());
    ASSERT_EQ(v->SetSpaceLeapingRange(ULMVolumeRange(36, kY, kZ, 0, 0, 0)), kULMOK);  // the half without the ball
    const int wideTrims = Render(v, true).trims;
    ASSERT_EQ(v->SetSpaceLeapingRange(ULMVolumeRange()), kULMOK);
    EXPECT_LT(Render(v, true).trims, wideTrims);

    AddBall(9, 9, 9);  // into a brick that was empty
    std::vector<uint8_t> box;
    for (int i = 0; i < 24 * 24 * 24; ++i) box.push_back(voxels[(i / 576 * kY + i / 24 % 24) * kX + i % 24]);
    ASSERT_EQ(v->Update(box.data(), ULMVolumeRange(24, 24, 24, 0, 0, 0)), kULMOK);
    EXPECT_EQ(Render(v, true).pixels, Render(v, false).pixels);

    table->SetEntry(30, ULMRGBAFloat(1, 1, 1, 0.02f));  // the background shows
    const Result leapt = Render(v, true), plain = Render(v, false);
    EXPECT_TRUE(leapt.pixels == plain.pixels && leapt.trims == plain.trims);
    v->Release();
}

// Bad parameters are refused and change nothing; a volume whose voxels live
// only in its board buffer renders without leaping.
TEST_F(SpaceLeapingTest, BadParametersAndVolumesWithoutHostData) {
    ULMVolume* v = Volume();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        int mode;
        double red, alpha;
        ULMStatus status;
    } cases[] = {{1, 0.25, 0.5, kULMOK},       {2, -1, -1, kULMErrArgument},    {-1, -1, -1, kULMErrArgument},
                 {1, 1.5, 0, kULMErrArgument}, {1, 0, 1.0001, kULMErrArgument}, {1, 0, nan, kULMErrArgument}};
    for (const auto& c : cases) {
        EXPECT_EQ(v->SetSpaceLeapingParameters(static_cast<ULMVolume::SpaceLeapingMode>(c.mode), c.red, 0, 0, c.alpha),
                  c.status);
        ULMVolume::SpaceLeapingMode mode;
        double t[4];
        v->GetSpaceLeapingParameters(mode, t[0], t[1], t[2], t[3]);
        EXPECT_TRUE(mode == ULMVolume::kSpaceLeapingOn && t[0] == 0.25 && t[3] == 0.5) << c.mode;
    }
    v->Release();

    Aim(0, 0);
    ULMVolume* bare = ULMVolume::Create(8, kX, kY, kZ, 1, &kGrey8, nullptr);
    ASSERT_TRUE(bare->LockVolume(kULMBoard0) == kULMOK &&
                bare->Update(voxels.data(), ULMVolumeRange(kX, kY, kZ, 0, 0, 0)) == kULMOK);
    const Result plain = Render(bare, false), leapt = Render(bare, true);
    EXPECT_TRUE(plain.pixels == leapt.pixels && plain.samples == leapt.samples && plain.trims == leapt.trims);
    bare->Release();
}

}  // namespace
}  // namespace ulm3
