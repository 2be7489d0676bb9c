// The phase-1 volume as an object: which copies it makes for which boards,
// when volume creation makes one, and how it ends.
#include <gtest/gtest.h>

#include "multiboard/phase1_fixture.h"
#include "volume/volume_internal.h"
#include "volume/volume_source_memory.h"

namespace ulm3::testing {
namespace {

struct Placement {
    int boards;
    int forced;  // MultiboardForceNumberOfVolumes
    int subVolumes;
    int copies;
};
void PrintTo(const Placement& p, std::ostream* out) { *out << p.boards << " boards, forced " << p.forced; }

class Phase1PlacementTest : public Phase1Test, public ::testing::WithParamInterface<Placement> {
protected:
    Phase1PlacementTest() : Phase1Test(GetParam().boards) {}
};

// Sub-volume i has location i and the copy on board (i mod boards): the
// first copies are distinct, the rest shared; after a lock each copy's
// buffer is on its board and no other board holds one.
TEST_P(Phase1PlacementTest, CopiesGoToTheBoardsOfTheirSubVolumes) {
    const Placement& p = GetParam();
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded(p.forced));
    ASSERT_NE(banded.GetPointer(), nullptr);
    EXPECT_EQ(banded->GetNumberOfVolumes(), p.subVolumes);
    EXPECT_EQ(banded->GetNumberRealVolumes(), p.copies);
    EXPECT_EQ(banded->GetSubvolume(0).GetVolume(), banded->GetBaseVolume());
    for (int i = 0; i < p.subVolumes; ++i) {
        const auto& record = banded->GetSubvolume(i);
        EXPECT_EQ(record.m_location, ULMLocation(i)) << i;
        EXPECT_TRUE(record.m_range == banded->GetRange()) << i;
        EXPECT_EQ(record.GetVolume(), banded->GetSubvolume(i % p.boards).GetVolume()) << i;
        for (int j = 0; j < i && i < p.copies; ++j) EXPECT_NE(record.GetVolume(), banded->GetSubvolume(j).GetVolume());
        EXPECT_EQ(record->GetVoxelSize(), 8);
        EXPECT_TRUE(record->GetFieldDescriptor(kULMField0) == banded->GetFieldDescriptor(kULMField0));
    }
    ASSERT_EQ(banded->LockVolume(kULMBoard3), kULMOK);
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    for (int b = 0; b < p.boards; ++b) {
        EXPECT_EQ(stats.boardBytesAllocated[b] > 0, b < p.copies) << "board " << b;
        if (b < p.copies) {
            EXPECT_EQ(banded->GetSubvolume(b)->GetBufferLocation(), ULMLocation(b));
        }
    }
    EXPECT_EQ(banded->GetBufferLocation(), kULMMultiBoardMode1);
}

INSTANTIATE_TEST_SUITE_P(Placements, Phase1PlacementTest,
                         ::testing::Values(Placement{3, 0, 3, 3}, Placement{2, 4, 4, 2}, Placement{4, 2, 2, 2},
                                           Placement{8, 0, 8, 8}));

class Phase1OneBoardTest : public Phase1Test {
protected:
    Phase1OneBoardTest() : Phase1Test(1) {}
};

// One board and no count: one sub-volume, served by the base itself.
TEST_F(Phase1OneBoardTest, OneBoardMakesOneSubVolumeOnTheBase) {
    ReleasablePointer<ULMVolume> base(NewVolume());
    ASSERT_TRUE(IsObjectType(base, kObjectTypeULMVolumeInternal)) << "creation bands nothing on one board";
    ULMVolumeSource* source = static_cast<ULMVolumeInternal*>(base.GetPointer())->GetSource();
    ReleasablePointer<ULMVolume> made(ULMMultiboardVolumePhase1::Create(base, source, 0));
    ASSERT_TRUE(IsObjectType(made, kObjectTypeULMMultiboardVolumePhase1));
    auto* banded = static_cast<ULMMultiboardVolumePhase1*>(made.GetPointer());
    EXPECT_EQ(banded->GetNumberOfVolumes(), 1);
    EXPECT_EQ(banded->GetNumberRealVolumes(), 1);
    EXPECT_EQ(banded->GetSubvolume(0).GetVolume(), base.GetPointer());
    EXPECT_EQ(base->RefCount(), 3) << "the caller's, the object's and its sub-volume's";
}

class Phase1ObjectTest : public Phase1Test {
protected:
    Phase1ObjectTest() : Phase1Test(2) {}
};

// A source the boards cannot hold (24-bit voxels) makes no copy: no object,
// and every reference taken is given back.
TEST_F(Phase1ObjectTest, NoCopyMeansNoObjectAndNothingHeld) {
    ReleasablePointer<ULMVolume> base(NewVolume());
    std::vector<uint8_t> bytes(3 * 8 * 8 * 8);
    auto* unusable = new ULMVolumeSourceMemory(24, bytes.data(), ULMVolumeRange(8, 8, 8, 0, 0, 0));
    unusable->AddRef();
    const int baseRefs = base->RefCount(), sourceRefs = unusable->RefCount();
    const int objects = LiveObjects();
    EXPECT_EQ(ULMMultiboardVolumePhase1::Create(base, unusable, 0), nullptr);
    EXPECT_EQ(ULMMultiboardVolumePhase1::Create(nullptr, unusable, 0), nullptr);
    EXPECT_EQ(ULMMultiboardVolumePhase1::Create(base, nullptr, 0), nullptr);
    EXPECT_EQ(base->RefCount(), baseRefs);
    EXPECT_EQ(unusable->RefCount(), sourceRefs);
    EXPECT_EQ(LiveObjects(), objects);
    unusable->Release();
}

// Volume creation wraps only when banding is on, the mode is 1 and a side
// reaches the minimum size.
TEST_F(Phase1ObjectTest, CreationWrapsOnlyWhatTheConfigurationAsks) {
    const struct {
        bool on;
        int mode;
        int minimum;
        bool wrapped;
    } cases[] = {{true, 1, 48, true}, {true, 1, 49, false}, {false, 1, 2, false}, {true, 2, 2, false}};
    for (const auto& c : cases) {
        ULMSetParameter("MultiboardMinVolumeSize", static_cast<uint64_t>(c.minimum));
        ULMSetParameter("MultiboardRenderMode", static_cast<uint64_t>(c.mode));
        ULMSetParameter("MultiboardRenderEnable", c.on ? 1 : 0);
        ReleasablePointer<ULMVolume> v(NewVolume());
        ASSERT_NE(v.GetPointer(), nullptr);
        EXPECT_EQ(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase1), c.wrapped)
            << c.on << " mode " << c.mode << " minimum " << c.minimum;
        EXPECT_EQ(v->RefCount(), 1);
    }
    ULMSetParameter("MultiboardRenderEnable", 0);
}

// The object ends an open map first: the base's source map is given back.
TEST_F(Phase1ObjectTest, TheEndClosesAnOpenMap) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ULMVolume* base = banded->GetBaseVolume();
    base->AddRef();
    void* p = nullptr;
    unsigned sx = 0, sy = 0;
    ASSERT_EQ(banded->MapSubVolume(kULMAccessWrite, ULMVolumeRange(4, 4, 4, 0, 0, 0), p, sx, sy, kULMUseSource),
              kULMOK);
    EXPECT_NE(base->GetAccessControl(), kULMAccessNoControl);
    banded.Assign(nullptr);
    EXPECT_EQ(base->GetAccessControl(), kULMAccessNoControl);
    EXPECT_EQ(base->UnmapVolume(), kULMErrVolume);
    base->Release();
}

// Nothing of a locked and rendered volume stays on a board once it, its
// picture and its context's table are let go.
TEST_F(Phase1ObjectTest, NoBufferOutlivesTheVolume) {
    ASSERT_TRUE(tulx7sim::WaitForIdle(10000));
    const int before = tulx7sim::GetStats().liveBuffers;
    {
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.2), kULMOK);
        ReleasablePointer<ULMContext> context(ULMContext::Create(table));
        context->SetCamera(m_context->GetCamera());
        ASSERT_EQ(context->SetDepthUpdateFilter(ULMContext::kDepthBuffer0, ULMContext::kFilterNone), kULMOK);
        ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded(4));
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        ReleasablePointer<ULMDepthBuffer> depth(NewDepth(kULMBoard0));
        ASSERT_EQ(banded->StartRender(context, image, depth, nullptr, nullptr).Wait(-1), kULMOK);
        ASSERT_EQ(banded->StartRenderMPR(context, 1.0, 1, ULMVolume::kMPRAlpha, image).Wait(-1), kULMOK);
        EXPECT_GT(tulx7sim::GetStats().liveBuffers, before);
    }
    ASSERT_TRUE(tulx7sim::WaitForIdle(10000));
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, before);
}

}  // namespace
}  // namespace ulm3::testing
