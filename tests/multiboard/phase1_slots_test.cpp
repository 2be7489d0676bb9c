// The phase-1 volume's answers by rule: forwarded setters reach every copy
// and advance the serials they name, queries are the base's, fixed answers
// stay fixed; and the passes that pair each copy with a destination.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "context/classifier_internal.h"
#include "multiboard/phase1_fixture.h"
#include "tulx7/driver_requests.h"
#include "volume/volume_board_copy.h"
#include "volume/volume_internal.h"

namespace ulm3::testing {
namespace {

enum class Moves { kNone, kVolume, kState, kBoth };

struct SetterRow {
    const char* name;
    std::function<ULMStatus(ULMVolume&)> set;
    std::function<bool(const ULMVolume&)> holds;  // what every copy shows afterwards
    Moves moves;
    ULMStatus status = kULMOK;
};

class Phase1SlotsTest : public Phase1Test {
protected:
    explicit Phase1SlotsTest(int inBoards = 3) : Phase1Test(inBoards) {}
};

const ULMVolumeRange kBox(8, 6, 4, 2, 2, 2);
const ULMMatrix kScaled = ULMMatrix::Scale(1.0, 2.0, 0.5);

TEST_F(Phase1SlotsTest, ForwardedSettersReachEveryCopyAndAdvanceTheirSerials) {
    const std::vector<SetterRow> rows = {
        {"SetCorrectionMatrix", [](ULMVolume& v) { return v.SetCorrectionMatrix(kScaled); },
         [](const ULMVolume& c) { return c.GetCorrectionMatrix() == kScaled; }, Moves::kState},
        {"SetModelMatrix", [](ULMVolume& v) { return v.SetModelMatrix(kScaled); },
         [](const ULMVolume& c) { return c.GetModelMatrix() == kScaled; }, Moves::kState},
        {"SetActiveSubVolume", [](ULMVolume& v) { return v.SetActiveSubVolume(kBox); },
         [](const ULMVolume& c) { return c.GetActiveSubVolume() == kBox; }, Moves::kState},
        {"SetActiveSubVolumeSize", [](ULMVolume& v) { return v.SetActiveSubVolumeSize(10, 12, 14); },
         [](const ULMVolume& c) { return c.GetActiveSubVolumeSizeY() == 12; }, Moves::kState},
        {"SetBorderValue", [](ULMVolume& v) { return v.SetBorderValue(77); },
         [](const ULMVolume& c) { return c.GetBorderValue() == 77; }, Moves::kState},
        {"SetExtendModes",
         [](ULMVolume& v) {
             return v.SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::kExtendWithBorder, ULMVolume::kExtendWithEdge);
         },
         [](const ULMVolume& c) { return c.GetExtendModeZ() == ULMVolume::kExtendWithEdge; }, Moves::kState},
        {"SetSpaceLeapingParameters",
         [](ULMVolume& v) { return v.SetSpaceLeapingParameters(ULMVolume::kSpaceLeapingOn, 0.1, 0.2, 0.3, 0.4); },
         [](const ULMVolume& c) {
             ULMVolume::SpaceLeapingMode m;
             double t[4];
             c.GetSpaceLeapingParameters(m, t[0], t[1], t[2], t[3]);
             return m == ULMVolume::kSpaceLeapingOn && t[3] == 0.4;
         },
         Moves::kState},
        {"SetTarget", [](ULMVolume& v) { return v.SetTarget(kULMBuffer); },
         [](const ULMVolume& c) { return c.GetTarget() == kULMBuffer; }, Moves::kState},
        {"SetFieldDescriptor", [](ULMVolume& v) { return v.SetFieldDescriptor(kULMField0, {0, 4, kULMUnsignedFraction}); },
         [](const ULMVolume& c) { return c.GetFieldDescriptor(kULMField0).m_size == 4; }, Moves::kBoth},
        {"CreateBuffer", [](ULMVolume& v) { return v.CreateBuffer(kULMBoard2); },
         [](const ULMVolume& c) { return c.GetBufferLocation() != kULMNoBufferAttached; }, Moves::kVolume},
        {"SetBufferOffset", [](ULMVolume& v) { return v.SetBufferOffset(2, 4, 6); },
         [](const ULMVolume& c) { return c.GetBufferAddressParameterZ() == 6; }, Moves::kBoth},
        {"SetBufferWrap", [](ULMVolume& v) { return v.SetBufferWrap(64, 64, 64); },
         [](const ULMVolume& c) { return c.GetBufferAddressMode() == kULMWrapAddress; }, Moves::kBoth},
        {"SetBufferPermission", [](ULMVolume& v) { return v.SetBufferPermission(ULMPermission(3)); },
         [](const ULMVolume& c) { return c.GetBufferPermission() == ULMPermission(3); }, Moves::kState},
        // A copy's refusal is the answer; the serials moved all the same.
        {"Resize", [](ULMVolume& v) { return v.Resize(40, 40, 40, 0); },
         [](const ULMVolume& c) { return c.GetSizeX() == 48; }, Moves::kVolume, kULMErrCantResize},
        {"SetMipmapRange", [](ULMVolume& v) { return v.SetMipmapRange(0, 2); },
         [](const ULMVolume&) { return true; }, Moves::kBoth, kULMErrUnimplemented},
        {"StartGenerateMipmapLevel",
         [](ULMVolume& v) { return v.StartGenerateMipmapLevel(1, 0, 0.5, 0.5, 0.5).Wait(-1); },
         [](const ULMVolume&) { return true; }, Moves::kBoth, kULMErrUnimplemented},
    };
    for (const SetterRow& row : rows) {
        SCOPED_TRACE(row.name);
        ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
        if (std::string(row.name) != "CreateBuffer") {
            ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
        }
        const uint64_t volume = banded->GetVolumeSerial(), state = banded->GetStateSerial();
        EXPECT_EQ(row.set(*banded), row.status);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(row.holds(*banded->GetSubvolume(i).GetVolume())) << "copy " << i;
        const bool volumeMoves = row.moves == Moves::kVolume || row.moves == Moves::kBoth;
        const bool stateMoves = row.moves == Moves::kState || row.moves == Moves::kBoth;
        EXPECT_EQ(banded->GetVolumeSerial(), volume + (volumeMoves ? 1 : 0));
        EXPECT_EQ(banded->GetStateSerial(), state + (stateMoves ? 1 : 0));
        // The base answers the queries.
        EXPECT_TRUE(row.holds(*banded));
    }
}

// Each copy's buffer goes on its own board whatever the location asked.
TEST_F(Phase1SlotsTest, CreateBufferPutsEveryCopyOnItsBoard) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    ASSERT_EQ(banded->CreateBuffer(kULMBoard2, ULMVolumeRange(16, 16, 16, 0, 0, 0)), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(banded->GetSubvolume(i)->GetBufferLocation(), ULMLocation(i));
    ASSERT_EQ(banded->ReleaseBuffer(), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(banded->GetSubvolume(i)->GetBufferLocation(), kULMNoBufferAttached);
}

TEST_F(Phase1SlotsTest, AFieldDescriptorMovesTheSerialsOnlyWhenItChanges) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    const uint64_t volume = banded->GetVolumeSerial(), state = banded->GetStateSerial();
    uint64_t copySerials[3];
    for (int i = 0; i < 3; ++i) copySerials[i] = banded->GetSubvolume(i)->GetSerial();
    // The same descriptor again: no copy is asked.
    EXPECT_EQ(banded->SetFieldDescriptor(kULMField0, banded->GetFieldDescriptor(kULMField0)), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(banded->GetSubvolume(i)->GetSerial(), copySerials[i]);
    // A field without a format over one without: the copies answer, the
    // serials stay.
    const ULMFieldDescriptor other(4, 0, kULMUnknownFormat);
    const ULMStatus refused = banded->SetFieldDescriptor(kULMField3, other);
    EXPECT_EQ(refused, banded->GetSubvolume(0)->SetFieldDescriptor(kULMField3, other));
    EXPECT_EQ(banded->GetVolumeSerial(), volume);
    EXPECT_EQ(banded->GetStateSerial(), state);
}

TEST_F(Phase1SlotsTest, FixedAnswersAndTheBuffersAsOne) {
    ReleasablePointer<ULMMultiboardVolumePhase1> banded(NewBanded());
    EXPECT_EQ(banded->GetBufferID(), kULMNoBuffer);
    EXPECT_EQ(banded->GetBufferLocation(), kULMNoBufferAttached);
    ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
    EXPECT_EQ(banded->GetBufferID(), kMultiboardBufferID);
    EXPECT_EQ(banded->GetBufferID(), ~1ull) << "every bit but the lowest";
    EXPECT_EQ(banded->GetBufferLocation(), kULMMultiBoardMode1);
    EXPECT_EQ(banded->AttachBuffer(banded->GetSubvolume(1)->GetBufferID()), kULMErrUnimplemented);
    EXPECT_EQ(banded->GetMipmapLevel(0), nullptr);
    EXPECT_EQ(banded->CreateMipmapLevel(1, kULMBoard0, kBox), kULMErrUnimplemented);
    EXPECT_EQ(banded->GetNumberMipmapLevels(), 1);
    EXPECT_EQ(banded->Reserved27(), kULMErrUnimplemented);
    EXPECT_EQ(banded->GetVoxelSize(), 8);
    EXPECT_TRUE(banded->GetRange() == banded->GetBaseVolume()->GetRange());
    ASSERT_EQ(banded->UnlockVolume(1), kULMOK);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(banded->GetSubvolume(i)->IsLocked());
    EXPECT_EQ(banded->UnlockVolume(0), kULMErrVolume) << "the copies' answer for an unlocked volume";
}

class Phase1PairedTest : public Phase1SlotsTest {
protected:
    Phase1PairedTest() : Phase1SlotsTest(3) {}

    static std::vector<int> PassesPerBoard() {
        std::vector<int> passes(3, 0);
        for (const auto& e : tulx7sim::RequestLog())
            if (e.code == TULX7_DR_RENDER && e.board >= 0 && e.board < 3) ++passes[e.board];
        return passes;
    }
    static std::vector<uint8_t> OnBoard(ULMVolume& inVolume, const ULMVolumeRange& inBox) {
        std::vector<uint8_t> voxels(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize(), 0);
        EXPECT_EQ(inVolume.Unload(voxels.data(), inBox, kULMUseBuffer), kULMOK);
        return voxels;
    }
    ULMVolume* NewPlain() {
        Banded(false);
        return NewVolume();
    }
};

// Into a phase-1 volume of as many copies each board resamples its own
// copy; into a plain volume the copy on its board does, copy 0 when it has
// no board; an empty range does nothing.
TEST_F(Phase1PairedTest, ResamplesPairTheCopiesOnEachBoard) {
    const ULMClassifier direct = ULMClassifierInternal::DirectRGBAClassifier();
    const ULMVolumeRange from(24, 20, 16, 4, 4, 4), to(24, 20, 16, 10, 12, 14);
    // The reference: the same resample between plain volumes on one board.
    ReleasablePointer<ULMVolume> plainSource(NewPlain()), plainTarget(NewPlain());
    ASSERT_EQ(plainSource->LockVolume(kULMBoard0), kULMOK);
    ASSERT_EQ(plainTarget->LockVolume(kULMBoard0), kULMOK);
    ASSERT_EQ(plainSource->ResampleBuffer(plainTarget, from, to, direct), kULMOK);
    const std::vector<uint8_t> expected = OnBoard(*plainTarget, to);
    ASSERT_NE(expected, OnBoard(*plainSource, to));

    ReleasablePointer<ULMMultiboardVolumePhase1> source(NewBanded()), target(NewBanded());
    ASSERT_EQ(source->LockVolume(kULMAnyBoard), kULMOK);
    ASSERT_EQ(target->LockVolume(kULMAnyBoard), kULMOK);
    const uint64_t serial = target->GetVolumeSerial();
    tulx7sim::ClearRequestLog();
    ASSERT_EQ(source->ResampleBuffer(target, from, to, direct), kULMOK);
    EXPECT_EQ(PassesPerBoard(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(target->GetVolumeSerial(), serial + 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(OnBoard(*target->GetSubvolume(i).GetVolume(), to), expected) << i;

    const struct {
        ULMLocation at;
        std::vector<int> passes;
    } plains[] = {{kULMBoard1, {0, 1, 0}}, {kULMBoard2, {0, 0, 1}}, {kULMNoBufferAttached, {1, 0, 0}}};
    for (const auto& p : plains) {
        ReleasablePointer<ULMVolume> plain(NewPlain());
        if (p.at != kULMNoBufferAttached) {
            ASSERT_EQ(plain->LockVolume(p.at), kULMOK);
        }
        tulx7sim::ClearRequestLog();
        const ULMStatus status = source->ResampleBuffer(plain, from, to, direct);
        EXPECT_EQ(PassesPerBoard(), p.passes) << p.at;
        if (p.at != kULMNoBufferAttached) {
            EXPECT_EQ(status, kULMOK);
            EXPECT_EQ(OnBoard(*plain, to), expected) << p.at;
        }
    }
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(source->StartResampleBuffer(target, ULMVolumeRange(), to, direct).Wait(-1), kULMOK);
    EXPECT_EQ(source->StartResampleBuffer(target, from, ULMVolumeRange(0, 4, 4, 0, 0, 0), direct).Wait(-1), kULMOK);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

// A render into a plain volume on a board that holds no copy, into a
// phase-1 volume of more copies, or into nothing is refused at once.
TEST_F(Phase1PairedTest, RendersIntoVolumesNoCopyCanReachAreRefused) {
    ReleasablePointer<ULMMultiboardVolumePhase1> two(NewBanded(2)), three(NewBanded(3));
    ReleasablePointer<ULMVolume> plain(NewPlain());
    ASSERT_EQ(plain->LockVolume(kULMBoard2), kULMOK);
    tulx7sim::ClearRequestLog();
    EXPECT_EQ(two->StartRenderToVolume(m_context, plain, ULMVolume::kOutputGradient).Wait(-1), kULMErrVolume);
    EXPECT_EQ(two->StartRenderToVolume(m_context, three, ULMVolume::kOutputGradient).Wait(-1), kULMErrVolume);
    EXPECT_EQ(two->RenderToVolume(m_context, nullptr, ULMVolume::kOutputGradient), kULMErrVolume);
    EXPECT_TRUE(tulx7sim::RequestLog().empty());
}

}  // namespace
}  // namespace ulm3::testing
