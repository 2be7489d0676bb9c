// Parsing both versions of the volume file from hand-written bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "volume/vox_file_format.h"
#include "vox_test_files.h"

using namespace ulm3;
using namespace ulm3::testing;

namespace {

const std::string kField0 = "Field0 ( Position 0 Size 12 Name density )\n";
const std::string k8L = "VoxelSize 8\nEndian L\n";

// A file with one volume described by the given lines.
std::string OneVolume(const std::string& inDescription, const std::string& inVoxels = std::string()) {
    return "Vox1999a\n##\n" + inDescription + "##\f\n" + inVoxels;
}
std::string Complete(const std::string& inExtra = std::string()) {
    return OneVolume("VolumeSize 4 3 2\nVoxelSize 16\nEndian B\n" + kField0 + inExtra, std::string(48, 'v'));
}
std::string Description(const std::string& size, const std::string& bits) {
    return "##\nVolumeSize " + size + "\nVoxelSize " + bits + "\nEndian L\n" + kField0 + "##\f\n";
}
std::string Field(const std::string& field) { return OneVolume("VolumeSize 1 1 1\nVoxelSize 16\nEndian B\n" + field); }

void ExpectMatrix(const VoxFileDescription& d, const double (&expected)[16]) {
    for (int k = 0; k < 16; ++k) EXPECT_DOUBLE_EQ(d.m_modelMatrix[k], expected[k]) << "element " << k;
}

// Three volumes, each with its own voxels and trailing data, behind a
// header with a data block of its own. Volume 1 has no Endian line and
// lines that only skipping passes over.
std::string ThreeVolumes(const std::string& inVolumeCount = "3") {
    return "Vox1999a\nVolumeCount " + inVolumeCount + "\nData header 5\n##\f\nHHHHH" +
           "##\nVolumeSize 2 2 1\n" + k8L + kField0 + "Data a 3\nData b 0\n##\f\n0000aaa" +
           "##\nTitle skipped\nVoxelSize 16\nVolumeSize 3 1 1\nUnknownKeyword is ignored here\n\t// so is this\n"
           "ModelMatrix (\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1)\nField 0 ( Position 0\n Size 16 Name x )\nData c 2\n"
           "##\f\n111111cc##\nVolumeSize 1 1 2\nVoxelSize 32\nEndian B\n" + kField0 + "##\f\n22222222";
}

}  // namespace

// Each file with the volume asked for, and whether it describes one.
TEST(VoxFileFormat, WhatIsAcceptedAndWhatIsRefused) {
    // A carriage return makes every terminator ordinary text.
    const std::string complete = Complete();
    const size_t headerEnd = complete.find("##\f") + 4;
    std::string crlf;
    for (size_t i = 0; i < complete.size(); ++i) {
        if (complete[i] == '\n' && i < headerEnd) {
            crlf += '\r';
        }
        crlf += complete[i];
    }
    // With data blocks in the header, the plain terminator cannot end it and
    // the description must start with one.
    const std::string withData = "Vox1999a\nData d 2\n##\f\nDD##\nVolumeSize 2 1 1\n" + k8L + kField0 + "##\f\nvv";
    std::string plainEnd = withData, noLead = withData;
    plainEnd.replace(plainEnd.find("##\f\n"), 4, "##\n");
    noLead.erase(noLead.find("DD") + 2, 3);
    // Each description starts from nothing: a skipped one may not borrow
    // the size or voxel size of the one before.
    const std::string last = "##\nVolumeSize 1 1 1\n" + k8L + kField0 + "##\f\nx";
    const std::string noSize = "Vox1999a\n" + Description("2 1 1", "8") + "vv##\n" + k8L + kField0 + "##\f\nww" + last;
    const std::string noBits = "Vox1999a\n##\nVolumeSize 2 1 1\nEndian L\n" + kField0 + "##\f\nvv" + last;
    std::string badBits = noBits;
    badBits.insert(badBits.find("Endian"), "VoxelSize 12\n");
    std::string manyData = "Vox1999a\n";
    for (int i = 0; i < 5; ++i) manyData += "Data d 2147483647\n";
    const std::string longLine(VoxFileParser::kMaxLineBytes + 1, 'x');
    std::string manyTitles;
    const std::string title = "Title " + std::string(VoxFileParser::kMaxLineBytes - 16, 't') + "\n";
    for (size_t kept = 0; kept <= VoxFileParser::kMaxKeptBytes; kept += title.size()) manyTitles += title;
    std::string noColon = Vox97("BigEndian 1 1 1 1 1 1 8 20000"), nul = noColon;
    noColon[255] = ' ';
    nul[40] = '\0';  // a NUL in the padding is not the end of the text

    struct Case {
        bool valid;
        std::string file;
        int volume = 0;
    };
    std::vector<Case> cases = {
        {false, crlf}, {false, Complete("\t// a tab is no blank, so this is a keyword\n")},
        {false, Complete("/ not a comment\n")}, {false, Complete("title lower case\n")},
        {false, Complete("Unknown 1\n")},
        // End of file before a terminator, and wrong magic.
        {false, "Vox1999a\nVolumeCount 1\n// last line without newline"}, {false, "Vox1999a\nVolumeCount 1\n"},
        {false, "Vox1999a\n##\nVolumeSize 4 3 2\n" + k8L + kField0},
        {false, "Vox1999a\n##\nVolumeSize 4 3 2\n" + k8L + kField0 + "##\f"},
        {false, "Vox1999"}, {false, ""}, {false, "Vox2000a\n##\n"},
        // A description needs its size, voxel size, byte order and field 0.
        {true, OneVolume("VolumeSize 1 1 1\n" + k8L + kField0)}, {false, OneVolume(k8L + kField0)},
        {false, OneVolume("VolumeSize 1 1 1\nEndian L\n" + kField0)},
        {false, OneVolume("VolumeSize 1 1 1\nVoxelSize 8\n" + kField0)},
        {false, OneVolume("VolumeSize 1 1 1\n" + k8L + "Field1 ( Position 0 Size 8 Name other )\n")},
        {false, OneVolume("VolumeSize 1 1\n" + k8L + kField0)},
        {false, OneVolume("VolumeSize 1 -1 1\n" + k8L + kField0)}, {false, Complete("VolumeScale 1 2\n")},
        {false, Complete("VolumeScale 1 2\n3\n")},  // the numbers stand on the keyword's line
        {false, Complete("VolumePosition 1 2 x\n")}, {false, Complete("Data name\n")},
        {false, Complete("Data \"unclosed 12\n")}, {false, Complete("Attribute\n")},
        {false, Complete("Field2 ( Name n) Position 0 Size 4 )\n")},  // a word ending in ')' closes the field
        {true, Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(31, 'x') + " )\n")},
        {false, Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(32, 'x') + " )\n")},
        {false, Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 )\n")},
        {false, Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 0 )\n")},
        {false, Complete("ModelMatrix 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n")},
        {false, Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1e\n)\n")},
        // Header lines and terminators.
        {true, withData}, {false, plainEnd}, {false, noLead},
        {true, "Vox1999a\n##\f\nVolumeSize 2 1 1\n" + k8L + kField0 + "##\f\nvv"},
        {false, "Vox1999a\nVolumeCount\n##\n"}, {false, "Vox1999a\nVolumeSize 1 1 1\n##\n"},
        {false, "Vox1999a\nData big 2147483648\n##\f\n"},
        // Skipped volumes must say how large they are.
        {true, noSize, 0}, {false, noSize, 2}, {false, noBits, 1}, {false, badBits, 1},
        // Sizes that do not fit; a size of 0 is legal, and so is skipping it.
        {true, "Vox1999a\n" + Description("2147483647 1 1", "8")},
        {false, "Vox1999a\n" + Description("2147483648 1 1", "8")},
        {false, "Vox1999a\n" + Description("4294967297 1 1", "8")},
        {false, "Vox1999a\n" + Description("99999999999999999999999 1 1", "8")},
        {false, "Vox1999a\n" + Description("2147483647 2147483647 2147483647", "64")},
        {true, "Vox1999a\n" + Description("0 0 0", "8") + last, 1},
        {false, "Vox1999a\n" + Description("2147483647 2147483647 2147483647", "8") + last, 1},
        {false, manyData + "##\f\n" + last},
        // Kept text is bounded; a comment of any length is passed over.
        {false, Complete("Title " + longLine + "\n")}, {true, Complete("//" + longLine + "\n")},
        {false, Complete(manyTitles)},
        // Which volumes there are: a negative number is not volume 0.
        {true, ThreeVolumes(), 2}, {true, ThreeVolumes(), 0}, {false, ThreeVolumes(), 1}, {false, ThreeVolumes(), 3},
        {false, ThreeVolumes("2"), 2}, {true, ThreeVolumes("0"), 2}, {false, ThreeVolumes(), -1},
        // The older header: only volume 0, the 248th byte ':', and a NUL in
        // the padding is not the end of the text.
        {false, noColon}, {false, Vox97("BigEndian 1 1 1 1 1 1 8 20000").substr(0, 255)},
        {false, Vox97("BigEndian 1 1 1 1 1 1 8 20000"), 1}, {true, nul},
        {false, Vox97(std::string("BigEndian 1 1 1\0 1 1 1 8 20000", 31))},
    };
    for (const std::string bits : {"12", "-8", "128", "eight"})
        cases.push_back({false, OneVolume("VolumeSize 1 1 1\nVoxelSize " + bits + "\nEndian L\n" + kField0)});
    for (const std::string endian : {"X", "Little", "l", ""})
        cases.push_back({false, OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian " + endian + "\n" + kField0)});
    const char* brokenFields[] = {
        "( Position 0 Size 12 )", "( Size 12 Name d )", "( Position 0 Name d )", "( Position 0 Size 12 Name \"\" )",
        "( Position 0 Size 12 Name \"d )", "( Position 0 Size 12 Name )", "( Position zero Size 12 Name d )",
        "( Position 0 Size 12 Name d Colour red )", "\n( Position 0 Size 12 Name d )" /* '(' not on the field's line */,
        "Position 0 Size 12 Name d )", "( Position 0 Size 12 Name d", "( Position 0 Size 12 Name d Offset 1e99999 )"};
    for (const char* field : brokenFields) cases.push_back({false, Field("Field0 " + std::string(field) + "\n")});
    cases.push_back({false, Field("Field10 ( Position 0 Size 12 Name d )\n")});  // one digit only when joined
    cases.push_back({false, Field("Field ( Position 0 Size 12 Name d )\n")});
    for (const char* fields : {"MiddleEndian 1 1 1 1 1 1 8 20000", "BigEndian 1 1 1 1 1 1 8 1030000",
                               "BigEndian 1 1 1 1 1 1 8", "BigEndian 1 1 1 1 1 1 16 20000",
                               "BigEndian 1 1 1 1 1 1 32 20000", "BigEndian 1 1 1 1 1 8 20000",
                               "BigEndian -1 1 1 1 1 1 8 20000", "BigEndian 2147483648 1 1 1 1 1 8 20000",
                               "BigEndian 1 1 x 1 1 1 8 20000"})
        cases.push_back({false, Vox97(fields)});
    for (const Case& c : cases) {
        EXPECT_EQ(ParsesAsVolume(c.file, c.volume), c.valid)
            << "volume " << c.volume << " of " << ::testing::PrintToString(c.file.substr(0, 300));
    }
}

TEST(VoxFileFormat, EveryDescriptionKeywordIsKept) {
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(Complete("VolumeScale 0.5 2 1e1\nVolumePosition -1 -2.5 3\nTitle first line\nTitle second\n"
                                  "Copyright (c) us\nAttribute \"patient id\"   1234 5678\nAttribute modality\tCT\n"
                                  "Data \"extra block\" 0\nData raw -5\n"),
                         0, d));
    EXPECT_EQ(std::vector<float>({d.m_scaleX, d.m_scaleY, d.m_scaleZ, d.m_positionX, d.m_positionY, d.m_positionZ}),
              std::vector<float>({0.5f, 2.0f, 10.0f, -1.0f, -2.5f, 3.0f}));
    EXPECT_EQ(d.m_volumeTitle, " first line\n second\n");
    EXPECT_EQ(d.m_volumeCopyright, " (c) us\n");
    ASSERT_EQ(d.m_volumeAttribute.size(), 2u);
    EXPECT_EQ(d.m_volumeAttribute[0].m_word, "patient id");
    EXPECT_EQ(d.m_volumeAttribute[0].m_string, "1234 5678");
    // A tab does not end a word argument.
    EXPECT_EQ(d.m_volumeAttribute[1].m_word, "modality\tCT");
    EXPECT_EQ(d.m_volumeAttribute[1].m_string, "");
    ASSERT_EQ(d.m_volumeTrailingData.size(), 2u);
    EXPECT_EQ(d.m_volumeTrailingData[0].m_word, "extra block");
    EXPECT_EQ(d.m_volumeTrailingData[1].m_size, -5);
}

TEST(VoxFileFormat, FieldSyntaxVariantsAndArguments) {
    const char* forms[] = {
        "Field0 ( Position 0 Size 8 Name density )\n",
        "Field 0 ( Position 0 Size 8 Name \"density\" )\n",
        "Field 0 (\n  Position 0\n// comment inside\n\n Size\n 8\n Name density\n )\n",
        "Field0 (Size 8 Name density Position 0)\n",
        "Field0 ( Position 0 Size 8 Name density)\n",
    };
    VoxFileDescription d;
    for (const char* form : forms) {
        ASSERT_TRUE(ParseVox(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian B\n" + std::string(form)), 0, d)) << form;
        ASSERT_EQ(d.m_fieldSpecifiers.size(), 1u) << form;
        const VoxfFieldSpecifier& f = d.m_fieldSpecifiers[0];
        EXPECT_EQ(std::vector<int>({f.m_fieldId, f.m_position, f.m_size, f.m_format}), std::vector<int>({0, 0, 8, 0}));
        EXPECT_EQ(f.m_name, "density") << form;
        EXPECT_FLOAT_EQ(f.m_offset, 0.0f);
        EXPECT_FLOAT_EQ(f.m_scale, 1.0f);
    }

    ASSERT_TRUE(ParseVox(Complete("Field1 ( Position 8 Size 8 Name \"grad mag\" Description \"a (b)\" "
                                  "Offset -0.5 Scale 2e0 Format sf)\n"),
                         0, d));
    const VoxfFieldSpecifier* f = d.FindField(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->m_name, "grad mag");
    EXPECT_EQ(f->m_description, "a (b)");
    EXPECT_FLOAT_EQ(f->m_offset, -0.5f);
    EXPECT_FLOAT_EQ(f->m_scale, 2.0f);
    EXPECT_EQ(f->m_format, 1);
    const std::pair<const char*, int> formats[] = {{"u", 0},  {"uf", 0}, {"sf", 1}, {"ui", 3},     {"si", 16},
                                                   {"ub", 2}, {"f", 17}, {"F", 255}, {"float", 255}};
    for (const auto& [word, value] : formats) {
        ASSERT_TRUE(ParseVox(Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(word) + " )\n"), 0, d));
        EXPECT_EQ(d.FindField(2)->m_format, value) << word;
    }

    // Fields are kept in ascending number; a repeated number goes first.
    ASSERT_TRUE(ParseVox(OneVolume("VolumeSize 1 1 1\nVoxelSize 32\nEndian L\n"
                                   "Field 3 ( Position 24 Size 8 Name three )\n"
                                   "Field0 ( Position 0 Size 8 Name first )\nField1 ( Position 8 Size 8 Name one )\n"
                                   "Field0 ( Position 16 Size 8 Name second )\n"),
                         0, d));
    std::vector<std::string> names;
    for (const VoxfFieldSpecifier& s : d.m_fieldSpecifiers) names.push_back(s.m_name);
    EXPECT_EQ(names, (std::vector<std::string>{"second", "first", "one", "three"}));
    EXPECT_EQ(d.FindField(0)->m_position, 16);
    EXPECT_EQ(d.FindField(2), nullptr);
}

TEST(VoxFileFormat, ModelMatrixIsColumnMajorWhateverItsLayout) {
    const double expected[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
    const char* forms[] = {
        "ModelMatrix ( 2 0 0 0 0 2 0 0 0 0 2 0 1 2 3 1 )\n",
        "ModelMatrix (2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1)\n",
        "ModelMatrix\n(\n 2.0 0 0 0,\n 0 2 0 0,\n// columns\n 0 0 2e0 0,\n 1 2 3 1\n)\n",
        "ModelMatrix (2,0,0,0 0,2,0,0 0,0,2,0 1,2,3,1 )\n",
    };
    for (const char* form : forms) {
        VoxFileDescription d;
        ASSERT_TRUE(ParseVox(Complete(form), 0, d)) << form;
        ExpectMatrix(d, expected);
    }
}
