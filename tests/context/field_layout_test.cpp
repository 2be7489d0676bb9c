// Field layouts: the classifier's register values for the volume layouts the
// engine meets, lookup tables, and where base-plane pixel formats put each channel.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "context/classifier_internal.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "support/context_fixture.h"
#include "ulm3/lookup_table.h"
#include "ulm3/pixel_format.h"

namespace ulm3::testing {
namespace {

// Register words worked out by hand: a voxel-format byte is format << 6 | (size - 4) << 2 | position / 4, 0x0F for
// none; an interpolation nibble is mode | classify first << 1, and edge extension sets bit 20 + 4 * axis.
class ClassifierTest : public ContextTest {};

TEST_F(ClassifierTest, RealTablesClassifyFirstWithNearestFields) {
    ULMLookupTable* small = ULMLookupTable::Create(256);
    ULMFieldDescriptor eightBit[4];
    ULMGetPixelFormatInfo(kULMPixelFormatRGBA8, eightBit);
    ULMLookupTable* large = ULMLookupTable::Create(4096, eightBit);
    ULMClassifier classifier;
    ASSERT_EQ(classifier.SetLookupTable(0, small, kULMField1), kULMOK);
    ASSERT_EQ(classifier.SetLookupTable(3, large, kULMField0), kULMOK);
    ASSERT_EQ(classifier.SetInterpolationOrder(ULMClassifier::kClassifyFirst), kULMOK);
    ASSERT_EQ(classifier.SetInterpolationMode(kULMField0, kULMNearestNeighbor), kULMOK);
    ASSERT_EQ(classifier.SetOperation(2, ULMOperation(kULM_A_Times_B)), kULMOK);
    const ULMFieldDescriptor fields[4] = {{0, 12, kULMUnsignedFraction}, {12, 4, kULMUnsignedFraction}, {}, {}};
    const ULMVolume::ExtendMode extend[3] = {};
    ULMFieldNumber gradients[3] = {kULMField0, kULMField0, kULMField0};
    ULMClassifierRegisters r;
    ASSERT_EQ(ULMClassifierInternal(classifier).ComputeRegisters(fields, extend, gradients, r), kULMOK);
    // Table 0 reads field 1 (4 bits at 12), table 3 field 0; tables 1 and 2 are absent.
    EXPECT_EQ(r.voxelFormat, 0x200F0F03u);
    // Table 3 nearest, all four classify first.
    EXPECT_EQ(r.interpolateControl, 0x2333u);
    EXPECT_EQ(r.lutFormat[0], 0x2D292521u);  // 12 bits at 4, 20, 36, 52
    EXPECT_EQ(r.lutFormat[3], 0x16141210u);  // 8 bits at 0, 8, 16, 24
    EXPECT_EQ(r.alu[2], 0x20202020u);

    gradients[1] = kULMField2;  // a field the volume lacks
    EXPECT_EQ(ULMClassifierInternal(classifier).ComputeRegisters(fields, extend, gradients, r), kULMErrClassifier);

    // A 4096-entry table fits only as table 3.
    ASSERT_EQ(classifier.SetLookupTable(1, large, kULMField0), kULMOK);
    EXPECT_FALSE(classifier.IsValid());
    classifier = ULMClassifier();  // gives its holds on the tables back
    EXPECT_EQ(small->Release(), 0);
    EXPECT_EQ(large->Release(), 0);
}

// The volume's own fields and extend modes reach the words; direct RGBA bypasses all four tables.
TEST_F(ClassifierTest, DirectRGBAReadsFieldsAndExtendModesOfARealVolume) {
    const ULMFieldDescriptor field(4, 12, kULMUnsignedFraction);
    ULMVolume* volume = ULMVolume::Create(16, 8, 8, 8, 1, &field, nullptr);
    ASSERT_NE(volume, nullptr);
    const ULMVolume::ExtendMode edge = ULMVolume::kExtendWithEdge;
    ASSERT_EQ(volume->SetExtendModes(edge, edge, ULMVolume::kExtendWithBorder), kULMOK);
    uint64_t voxelFormat = 0;
    uint32_t interpolate = 0;
    uint32_t formats[4];
    uint32_t alu[3];
    ULMLookupTable* tables[4];
    ULMFieldNumber gradients[3] = {kULMField0, kULMField0, kULMField0};
    const ULMClassifierInternal direct(ULMClassifierInternal::DirectRGBAClassifier());
    ASSERT_EQ(direct.ComputeHardwareRegisters(volume, voxelFormat, interpolate, tables, formats, alu, gradients),
              kULMOK);
    EXPECT_EQ(voxelFormat, 0x0F0F0F21u);
    EXPECT_EQ(interpolate, 0x01101111u);
    EXPECT_EQ(formats[3], 0x20202020u);
    ASSERT_NE(tables[3], nullptr);
    EXPECT_EQ(tables[3]->GetSize(), 0u);
    EXPECT_EQ(volume->Release(), 0);
}

TEST(LookupTables, SizesEntriesAndRamps) {
    for (unsigned bad : {1u, 255u, 512u, 4095u}) EXPECT_EQ(ULMLookupTable::Create(bad), nullptr);
    ULMLookupTable* table = ULMLookupTable::Create(256);
    ULMRGBAFloat entry;
    EXPECT_EQ(table->GetEntry(256, entry), kULMErrArgument);
    uint64_t word = 0;
    EXPECT_EQ(table->Update(255, 2, &word), kULMErrArgument);
    ASSERT_EQ(table->SetRamp(kULMChannelGreen, 10, 20, 1.0, 0.0), kULMOK);
    for (unsigned i = 10; i <= 20; ++i) {
        ASSERT_EQ(table->GetEntry(i, entry), kULMOK);
        EXPECT_NEAR(entry.m_green, 1.0 - (i - 10) / 10.0, 0.5 / 4095 + 1e-6);
    }
    ASSERT_EQ(table->Unload(20, 1, &word), kULMOK);
    EXPECT_EQ(word >> 20 & 0xFFF, 0u);  // green: 12 bits at bit 20
    EXPECT_EQ(table->Release(), 0);
}

// The pixel word as this host stores it.
std::string InMemory(uint64_t word, int pixelBits) {
    std::string memory(pixelBits / 8, '\0');
    for (size_t b = 0; b < memory.size(); ++b) {
        const size_t shift = 8 * (std::endian::native == std::endian::little ? b : memory.size() - 1 - b);
        memory[b] = static_cast<char>(word >> shift);
    }
    return memory;
}

// The unit of memory the k-th named channel occupies, all ones: byte k, nibble k from the top of the 16-bit pixel,
// or the top 12 bits of 16-bit lane k.
std::string Expected(size_t channels, size_t k, int bits) {
    std::string memory(bits == 4 ? 2 : channels * (bits == 8 ? 1 : 2), '\0');
    if (bits == 8) memory[k] = '\xFF';
    const uint16_t unit = bits == 4 ? uint16_t(0xF000 >> (4 * k)) : uint16_t(0xFFF0);
    if (bits != 8) std::memcpy(&memory[bits == 4 ? 0 : 2 * k], &unit, 2);
    return memory;
}

TEST(PixelFormats, EachChannelLandsWhereTheNameSaysOnThisHost) {
    const char* orders[] = {"RGBA", "BGRA", "ARGB", "ABGR", "LA"};
    const int widths[] = {8, 4, 12};
    for (int format = kULMPixelFormatRGBA8; format <= kULMPixelFormatLA12; ++format) {
        const std::string order = orders[format < 12 ? format % 4 : 4];
        const int bits = format < 12 ? widths[format / 4] : format == kULMPixelFormatLA8 ? 8 : 12;
        SCOPED_TRACE(order + std::to_string(bits));
        ULMFieldDescriptor fields[4];
        const int pixelBits = ULMGetPixelFormatInfo(static_cast<ULMPixelFormat>(format), fields);
        for (size_t k = 0; k < order.size(); ++k) {
            const int channel = order[k] == 'L' ? 0 : static_cast<int>(std::string("RGBA").find(order[k]));
            const uint64_t word = ConvertDoubleToField(1.0, fields[channel], pixelBits);
            EXPECT_EQ(InMemory(word, pixelBits), Expected(order.size(), k, bits)) << "channel " << order[k];
        }
        EXPECT_TRUE(order != "LA" || fields[1] == ULMFieldDescriptor());  // luminance only in red
    }
    EXPECT_EQ(ULMGetPixelFormatInfo(static_cast<ULMPixelFormat>(14), nullptr), 0);
}

}  // namespace
}  // namespace ulm3::testing
