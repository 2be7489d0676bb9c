// Classifier register values for the volume layouts the engine meets, and
// the sharing of tables between classifier copies.
#include <gtest/gtest.h>

#include "context/classifier_internal.h"
#include "support/context_fixture.h"
#include "foundation/control.h"
#include "ulm3/lookup_table.h"

namespace ulm3::testing {
namespace {

constexpr ULMFieldDescriptor None() { return ULMFieldDescriptor(); }

struct Layout {
    const char* name;
    ULMFieldDescriptor fields[4];
    ULMVolume::ExtendMode extend[3];
    uint64_t voxelFormat;  // by hand: format << 6 | (size - 4) << 2 | position / 4, 0x0F for none
    uint32_t interpolate;
};

TEST(ClassifierRegisters, DirectRGBAFollowsTheVolumeFields) {
    using V = ULMVolume;
    const Layout layouts[] = {
        {"8-bit, one field", {{0, 8, kULMUnsignedFraction}, None(), None(), None()},
         {V::kExtendWithBorder, V::kExtendWithBorder, V::kExtendWithBorder}, 0x0F0F0F10, 0x1111},
        {"32-bit, four fields",
         {{0, 8, kULMUnsignedFraction}, {8, 8, kULMSignedFraction}, {16, 8, kULMUnsignedInteger},
          {24, 8, kULMUnsignedFraction}},
         {V::kExtendWithBorder, V::kExtendWithEdge, V::kExtendWithBorder}, 0x16D45210, 0x01001111},
    };
    const ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        ULMFieldNumber gradients[3] = {kULMField0, kULMField0, kULMField0};
        ULMClassifierRegisters r;
        ASSERT_EQ(ULMClassifierInternal(direct).ComputeRegisters(l.fields, l.extend, gradients, r), kULMOK);
        EXPECT_EQ(r.voxelFormat, l.voxelFormat);
        EXPECT_EQ(r.interpolateControl, l.interpolate);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r.lutFormat[i], 0x20202020u);
            ASSERT_NE(r.lut[i], nullptr);
            EXPECT_EQ(r.lut[i]->GetSize(), 0u);
        }
        EXPECT_EQ(r.alu[0], 0x503u);
        EXPECT_EQ(r.alu[1], 0x05030000u);
        EXPECT_EQ(r.alu[2], 0x05050303u);
    }
}

TEST(ClassifierRegisters, RealTablesClassifyFirstWithNearestFields) {
    const int live = gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed;
    ULMLookupTable* small = ULMLookupTable::Create(256);
    const ULMFieldDescriptor eightBit[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                            {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    ULMLookupTable* large = ULMLookupTable::Create(4096, eightBit);
    {
        ULMClassifier c;
        ASSERT_EQ(c.SetLookupTable(0, small, kULMField1), kULMOK);
        ASSERT_EQ(c.SetLookupTable(3, large, kULMField0), kULMOK);
        ASSERT_EQ(c.SetInterpolationOrder(ULMClassifier::kClassifyFirst), kULMOK);
        ASSERT_EQ(c.SetInterpolationMode(kULMField0, kULMNearestNeighbor), kULMOK);
        ASSERT_EQ(c.SetOperation(2, ULMOperation(kULM_A_Times_B)), kULMOK);
        const ULMFieldDescriptor fields[4] = {
            {0, 12, kULMUnsignedFraction}, {12, 4, kULMUnsignedFraction}, None(), None()};
        const ULMVolume::ExtendMode extend[3] = {};
        ULMFieldNumber gradients[3] = {kULMField0, kULMField0, kULMField0};
        ULMClassifierRegisters r;
        ASSERT_EQ(ULMClassifierInternal(c).ComputeRegisters(fields, extend, gradients, r), kULMOK);
        // Table 0 reads field 1 (4 bits at 12), table 3 field 0; tables 1, 2
        // are absent.
        EXPECT_EQ(r.voxelFormat, 0x200F0F03u);
        // Table 3: nearest (0) | classify first (2); the rest trilinear too.
        EXPECT_EQ(r.interpolateControl, 0x2333u);
        EXPECT_EQ(r.lutFormat[0], 0x2D292521u);  // 12 bits at 4, 20, 36, 52
        EXPECT_EQ(r.lutFormat[3], 0x16141210u);  // 8 bits at 0, 8, 16, 24
        EXPECT_EQ(r.lut[0], small);
        EXPECT_EQ(r.alu[2], 0x20202020u);

        gradients[1] = kULMField2;  // a field the volume lacks
        EXPECT_EQ(ULMClassifierInternal(c).ComputeRegisters(fields, extend, gradients, r), kULMErrClassifier);

        // A 4096-entry table fits only as table 3.
        ASSERT_EQ(c.SetLookupTable(1, large, kULMField0), kULMOK);
        EXPECT_FALSE(c.IsValid());
    }
    EXPECT_EQ(small->Release(), 0);
    EXPECT_EQ(large->Release(), 0);
    EXPECT_EQ(gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed, live);
}

TEST(ClassifierRegisters, BadFieldGivesAnInvalidClassifierWithoutTables) {
    const ULMClassifier bad =
        ULMClassifier::DirectRGBA(kULMField0, kULMField1, static_cast<ULMFieldNumber>(7), kULMField3);
    EXPECT_FALSE(bad.IsValid());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bad.GetLookupTable(i), nullptr);
}

class ClassifierOnVolumes : public ContextTest {};

// The volume's own fields and extend modes reach the words.
TEST_F(ClassifierOnVolumes, ReadsFieldsAndExtendModesOfARealVolume) {
    const ULMFieldDescriptor field(4, 12, kULMUnsignedFraction);
    ULMVolume* volume = ULMVolume::Create(16, 8, 8, 8, 1, &field, nullptr);
    ASSERT_NE(volume, nullptr);
    ASSERT_EQ(volume->SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::kExtendWithBorder,
                                     ULMVolume::kExtendWithEdge),
              kULMOK);
    uint64_t voxelFormat = 0;
    uint32_t interpolate = 0, formats[4], alu[3];
    ULMLookupTable* luts[4];
    ULMFieldNumber gradients[3] = {kULMField0, kULMField0, kULMField0};
    ASSERT_EQ(ULMClassifierInternal(ULMClassifierInternal::DirectRGBAClassifier())
                  .ComputeHardwareRegisters(volume, voxelFormat, interpolate, luts, formats, alu, gradients),
              kULMOK);
    EXPECT_EQ(voxelFormat, 0x0F0F0F21u);
    EXPECT_EQ(interpolate, 0x10101111u);
    EXPECT_EQ(volume->Release(), 0);
}

TEST(LookupTables, SizesEntriesAndRamps) {
    for (unsigned bad : {1u, 255u, 512u, 4095u}) EXPECT_EQ(ULMLookupTable::Create(bad), nullptr);
    ULMLookupTable* t = ULMLookupTable::Create(256);
    ULMRGBAFloat e;
    EXPECT_EQ(t->GetEntry(256, e), kULMErrArgument);
    uint64_t word = 0;
    EXPECT_EQ(t->Update(255, 2, &word), kULMErrArgument);
    ASSERT_EQ(t->SetRamp(kULMChannelGreen, 10, 20, 1.0, 0.0), kULMOK);
    for (unsigned i = 10; i <= 20; ++i) {
        ASSERT_EQ(t->GetEntry(i, e), kULMOK);
        EXPECT_NEAR(e.m_green, 1.0 - (i - 10) / 10.0, 0.5 / 4095 + 1e-6);
    }
    ASSERT_EQ(t->Unload(20, 1, &word), kULMOK);
    EXPECT_EQ(word >> 20 & 0xFFF, 0u);  // green: 12 bits at bit 20
    EXPECT_EQ(t->Release(), 0);
}

}  // namespace
}  // namespace ulm3::testing
