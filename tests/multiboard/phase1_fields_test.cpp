// Bands over a volume of four fields, drawn by classifiers that read fields
// 1 to 3 and never field 0: every band's copy must hold the base's field
// layout, or the bands on the other boards read the wrong bits.
#include <gtest/gtest.h>

#include "multiboard/phase1_fixture.h"
#include "ulm3/classifier.h"

namespace ulm3::testing {
namespace {

class Phase1FieldsTest : public Phase1Test {
protected:
    Phase1FieldsTest() : Phase1Test(3) {}

    void SetUp() override {
        Phase1Test::SetUp();
        // Field 0 is noise that no classifier reads; the others are shapes of
        // the scene, each another function of it.
        m_packed.resize(m_voxels.size());
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const uint32_t v = m_voxels[i];
            const uint32_t noise = uint32_t(i * 2654435761u >> 24);
            m_packed[i] = noise | v << 8 | (255 - v) << 16 | (v < 60 ? 0u : (v - 60) / 2) << 24;
        }
    }

    ULMVolume* NewFourFields() {
        return ULMVolume::Create(32, unsigned(m_size[0]), unsigned(m_size[1]), unsigned(m_size[2]), 4, kRGBA8,
                                 m_packed.data());
    }

    std::vector<uint32_t> m_packed;
};

// Field 1 as red, 2 as green and 3 as blue and alpha straight through; then
// tables looking up fields 1 and 2.
TEST_F(Phase1FieldsTest, BandsReadTheFieldsTheClassifierNames) {
    ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField1, kULMField2, kULMField3, kULMField3);
    ULMClassifier tables = ULMClassifier::DirectRGBA(kULMField1, kULMField2, kULMField3, kULMField3);
    ASSERT_EQ(tables.SetLookupTable(0, m_table, kULMField1), kULMOK);
    ASSERT_EQ(tables.SetLookupTable(1, m_table, kULMField2), kULMOK);
    const struct {
        const char* name;
        const ULMClassifier* classifier;
    } cases[] = {{"fields 1, 2, 3 direct", &direct}, {"tables of fields 1 and 2", &tables}};

    Banded(false);
    ReleasablePointer<ULMVolume> plain(NewFourFields());
    ASSERT_NE(plain.GetPointer(), nullptr);
    ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
    Banded(true);
    ReleasablePointer<ULMVolume> banded(NewFourFields());
    ULMSetParameter("MultiboardRenderEnable", 0);
    ASSERT_TRUE(IsObjectType(banded, kObjectTypeULMMultiboardVolumePhase1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.classifier->IsValid());
        ASSERT_EQ(m_context->SetClassifier(*c.classifier), kULMOK);
        ReleasablePointer<ULMImageBuffer> one(NewImage(kULMBoard0));
        ASSERT_EQ(plain->StartRender(m_context, one, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        ReleasablePointer<ULMImageBuffer> bands(NewImage(kULMBoard0));
        ASSERT_EQ(banded->StartRender(m_context, bands, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        const Pixels expected = Read(one);
        EXPECT_GT(Lit(expected), m_width * m_height / 4);
        EXPECT_EQ(Read(bands), expected);
    }
}

}  // namespace
}  // namespace ulm3::testing
