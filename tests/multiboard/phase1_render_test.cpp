// The band render of a phase-1 volume against the same render of the plain
// volume on one board: the picture, the depths and the output limits byte
// for byte, over board counts, blend modes, depth buffers and MPR; which
// boards render; the refusals; and the joined event.
#include <gtest/gtest.h>

#include "multiboard/phase1_fixture.h"

namespace ulm3::testing {
namespace {

struct Layout {
    int boards;
    int subVolumes;  // 0: one per board
};
void PrintTo(const Layout& l, std::ostream* out) { *out << l.boards << " boards, " << l.subVolumes << " sub-volumes"; }

class Phase1ImageTest : public Phase1Test, public ::testing::WithParamInterface<Layout> {
protected:
    Phase1ImageTest() : Phase1Test(GetParam().boards) {}
};

TEST_P(Phase1ImageTest, BandsEqualTheOneBoardPictureInEveryBlendMode) {
    ReleasablePointer<ULMVolume> plain(NewVolume());
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded(GetParam().subVolumes));
    ASSERT_NE(banded.GetPointer(), nullptr);
    for (const int mode : {1, 2, 3, 4, 5, 7, 12, 15}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(m_context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        ReleasablePointer<ULMImageBuffer> one(NewImage(kULMBoard0));
        ASSERT_EQ(plain->StartRender(m_context, one, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        ReleasablePointer<ULMImageBuffer> bands(NewImage(kULMBoard0));
        ASSERT_EQ(banded->StartRender(m_context, bands, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_EQ(bands->GetLocation(), kULMMultiBoardMode1);
        const Pixels expected = Read(one);
        EXPECT_GT(Lit(expected), 100);
        EXPECT_EQ(Read(bands), expected);
        const ULMImageRange a = one->GetOutputLimits(), b = bands->GetOutputLimits();
        EXPECT_TRUE(a == b) << b.XOrigin() << "," << b.YOrigin() << " " << b.XSize() << "x" << b.YSize();
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Phase1ImageTest,
                         ::testing::Values(Layout{2, 0}, Layout{3, 0}, Layout{8, 0}, Layout{2, 4}));

}  // namespace
}  // namespace ulm3::testing
