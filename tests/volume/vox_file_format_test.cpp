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

// A file with one volume described by the given lines.
std::string OneVolume(const std::string& inDescription, const std::string& inVoxels = std::string()) {
    return "Vox1999a\n##\n" + inDescription + "##\f\n" + inVoxels;
}

std::string Complete(const std::string& inExtra = std::string()) {
    return OneVolume("VolumeSize 4 3 2\nVoxelSize 16\nEndian B\n" + kField0 + inExtra, std::string(48, 'v'));
}

void ExpectMatrix(const VoxFileDescription& d, const double (&expected)[16]) {
    for (int k = 0; k < 16; ++k) EXPECT_DOUBLE_EQ(d.m_modelMatrix[k], expected[k]) << "element " << k;
}

}  // namespace

TEST(VoxFileFormat, MinimalFileWithCommentsBlankAndIndentedLines) {
    const std::string text =
        "Vox1999a\n"
        "// a comment right after the magic\n"
        "\n"
        "   VolumeCount 1\n"
        "      \n"
        "##\n"
        "VolumeSize 4 3 2\n"
        "    // indented comment\n"
        "VoxelSize 16\n"
        "\n"
        "   Endian B\n" +
        kField0 + "  ##\f\n";
    const std::string file = text + std::string(48, 'v');
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(file, 0, d));
    EXPECT_EQ(d.m_version, 1999);
    EXPECT_EQ(d.m_startOfVolume, static_cast<int64_t>(text.size()));
    EXPECT_EQ(d.m_volumeCount, 1);
    EXPECT_EQ(std::vector<int>({d.m_sizeX, d.m_sizeY, d.m_sizeZ, d.m_voxelSizeBytes}), std::vector<int>({4, 3, 2, 2}));
    EXPECT_TRUE(d.m_endian == 'B' && d.m_convertEndian);
    EXPECT_EQ(d.VoxelBlockBytes(), 48);
    ASSERT_EQ(d.m_fieldSpecifiers.size(), 1u);
    EXPECT_EQ(d.m_fieldSpecifiers[0].m_size, 12);
    EXPECT_EQ(d.m_fieldSpecifiers[0].m_name, "density");
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(d, identity);
}

TEST(VoxFileFormat, LinesThatAreNotWhatTheyLookLike) {
    // A carriage return makes every terminator ordinary text.
    std::string crlf = Complete();
    for (size_t at = crlf.find('\n'); at != std::string::npos && at < crlf.find("##\f") + 4;
         at = crlf.find('\n', at + 2)) {
        crlf.insert(at, "\r");
    }
    EXPECT_FALSE(ParsesAsVolume(crlf));
    // A tab is not a blank: a tab-indented comment is read as a keyword.
    EXPECT_FALSE(ParsesAsVolume(Complete("\t// comment\n")));
    // A single slash is text, and no keyword.
    EXPECT_FALSE(ParsesAsVolume(Complete("/ not a comment\n")));
    // Keywords are case-sensitive.
    EXPECT_FALSE(ParsesAsVolume(Complete("title lower case\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("Unknown 1\n")));
}

TEST(VoxFileFormat, EndOfFileBeforeATerminatorIsInvalid) {
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\nVolumeCount 1\n// last line without newline"));
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\nVolumeCount 1\n"));
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\n##\nVolumeSize 4 3 2\nVoxelSize 8\nEndian B\n" + kField0));
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\n##\nVolumeSize 4 3 2\nVoxelSize 8\nEndian B\n" + kField0 + "##\f"));
    EXPECT_FALSE(ParsesAsVolume("Vox1999"));
    EXPECT_FALSE(ParsesAsVolume(""));
    EXPECT_FALSE(ParsesAsVolume("Vox2000a\n##\n"));
}

TEST(VoxFileFormat, DescriptionNeedsSizeVoxelSizeEndianAndField0) {
    EXPECT_TRUE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian L\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VoxelSize 8\nEndian L\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nEndian L\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian L\n"
                                          "Field1 ( Position 0 Size 8 Name other )\n")));
    for (const char* bits : {"12", "0", "-8", "128", "eight"}) {
        EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize " + std::string(bits) +
                                              "\nEndian L\n" + kField0)))
            << bits;
    }
    for (const char* endian : {"X", "Little", "l", ""}) {
        EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian " + std::string(endian) +
                                              "\n" + kField0)))
            << endian;
    }
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1\nVoxelSize 8\nEndian L\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 -1 1\nVoxelSize 8\nEndian L\n" + kField0)));
    EXPECT_FALSE(ParsesAsVolume(Complete("VolumeScale 1 2\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("VolumeScale 1 2\n3\n"))) << "the numbers stand on the keyword's line";
    EXPECT_FALSE(ParsesAsVolume(Complete("VolumePosition 1 2 x\n")));
}

TEST(VoxFileFormat, EveryDescriptionKeywordIsKept) {
    const std::string file = Complete(
        "VolumeScale 0.5 2 1e1\n"
        "VolumePosition -1 -2.5 3\n"
        "Title first line\n"
        "Title second\n"
        "Copyright (c) us\n"
        "Attribute \"patient id\"   1234 5678\n"
        "Attribute modality\tCT\n"
        "Data \"extra block\" 0\n"
        "Data raw -5\n");
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(file, 0, d));
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
    // Data without a name or a size says nothing usable.
    EXPECT_FALSE(ParsesAsVolume(Complete("Data name\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("Data \"unclosed 12\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("Attribute\n")));
}

TEST(VoxFileFormat, FieldSyntaxVariantsGiveTheSameField) {
    const std::string forms[] = {
        "Field0 ( Position 0 Size 8 Name density )\n",
        "Field 0 ( Position 0 Size 8 Name \"density\" )\n",
        "Field 0 (\n  Position 0\n// comment inside\n\n Size\n 8\n Name density\n )\n",
        "Field0 (Size 8 Name density Position 0)\n",
        "Field0 ( Position 0 Size 8 Name density)\n",
    };
    for (const std::string& form : forms) {
        VoxFileDescription d;
        ASSERT_TRUE(ParseVox(OneVolume("VolumeSize 1 1 1\nVoxelSize 8\nEndian B\n" + form), 0, d)) << form;
        ASSERT_EQ(d.m_fieldSpecifiers.size(), 1u) << form;
        const VoxfFieldSpecifier& f = d.m_fieldSpecifiers[0];
        EXPECT_EQ(f.m_fieldId, 0) << form;
        EXPECT_EQ(f.m_position, 0) << form;
        EXPECT_EQ(f.m_size, 8) << form;
        EXPECT_EQ(f.m_name, "density") << form;
        EXPECT_EQ(f.m_format, 0) << form;
        EXPECT_FLOAT_EQ(f.m_offset, 0.0f);
        EXPECT_FLOAT_EQ(f.m_scale, 1.0f);
    }
}

TEST(VoxFileFormat, FieldArgumentsAndTheirEnds) {
    VoxFileDescription d;
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

    const std::pair<const char*, int> formats[] = {{"u", 0}, {"uf", 0}, {"sf", 1}, {"ui", 3}, {"si", 16},
                                                   {"ub", 2}, {"f", 17}, {"F", 255}, {"float", 255}};
    for (const auto& [word, value] : formats) {
        ASSERT_TRUE(ParseVox(Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(word) + " )\n"), 0, d));
        EXPECT_EQ(d.FindField(2)->m_format, value) << word;
    }
    // A word ending in ')' closes the field, so nothing may follow it.
    EXPECT_FALSE(ParsesAsVolume(Complete("Field2 ( Name n) Position 0 Size 4 )\n")));
    // Format words are at most 31 characters.
    EXPECT_TRUE(ParsesAsVolume(Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(31, 'x') + " )\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("Field2 ( Position 0 Size 4 Name n Format " + std::string(32, 'x') + " )\n")));
}

TEST(VoxFileFormat, BrokenFieldsMakeTheVolumeInvalid) {
    const char* broken[] = {
        "Field0 ( Position 0 Size 12 )\n",                 // no Name
        "Field0 ( Size 12 Name d )\n",                     // no Position
        "Field0 ( Position 0 Name d )\n",                  // no Size
        "Field0 ( Position 0 Size 12 Name \"\" )\n",       // empty name
        "Field0 ( Position 0 Size 12 Name \"d )\n",        // unclosed quote
        "Field0 ( Position 0 Size 12 Name )\n",            // ')' is no name
        "Field0 ( Position zero Size 12 Name d )\n",       // bad number
        "Field0 ( Position 0 Size 12 Name d Colour red )\n",  // unknown sub-keyword
        "Field0\n( Position 0 Size 12 Name d )\n",         // '(' not on the field's line
        "Field0 Position 0 Size 12 Name d )\n",            // no '('
        "Field10 ( Position 0 Size 12 Name d )\n",         // one digit only when joined
        "Field ( Position 0 Size 12 Name d )\n",           // no number
        "Field0 ( Position 0 Size 12 Name d\n",            // never closed
        "Field0 ( Position 0 Size 12 Name d Offset 1e99999 )\n",
    };
    for (const char* field : broken) {
        EXPECT_FALSE(ParsesAsVolume(OneVolume("VolumeSize 1 1 1\nVoxelSize 16\nEndian B\n" + std::string(field))))
            << field;
    }
}

TEST(VoxFileFormat, FieldsAreOrderedAndTheLaterDefinitionWins) {
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(OneVolume("VolumeSize 1 1 1\nVoxelSize 32\nEndian L\n"
                                   "Field 3 ( Position 24 Size 8 Name three )\n"
                                   "Field0 ( Position 0 Size 8 Name first )\n"
                                   "Field1 ( Position 8 Size 8 Name one )\n"
                                   "Field0 ( Position 16 Size 8 Name second )\n"),
                         0, d));
    ASSERT_EQ(d.m_fieldSpecifiers.size(), 4u);
    EXPECT_EQ(d.m_fieldSpecifiers[0].m_name, "second");
    EXPECT_EQ(d.m_fieldSpecifiers[1].m_name, "first");
    EXPECT_EQ(d.m_fieldSpecifiers[2].m_name, "one");
    EXPECT_EQ(d.m_fieldSpecifiers[3].m_name, "three");
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
    EXPECT_FALSE(ParsesAsVolume(Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 )\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 0 )\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("ModelMatrix 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n")));
    EXPECT_FALSE(ParsesAsVolume(Complete("ModelMatrix ( 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1e\n)\n")));
}

TEST(VoxFileFormat, HeaderKeywordsAndTrailingData) {
    const std::string data = "0123456789";
    const std::string file =
        "Vox1999a\nTitle The file\nTitle again\nCopyright nobody\nAttribute site Lab 3\n"
        "Data first 4\nData \"second one\" 6\nData empty 0\nData negative -7\n##\f\n" +
        data + "##\nVolumeSize 2 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nvv";
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(file, 0, d));
    EXPECT_EQ(d.m_title, " The file\n again\n");
    EXPECT_EQ(d.m_copyright, " nobody\n");
    ASSERT_EQ(d.m_attribute.size(), 1u);
    EXPECT_EQ(d.m_attribute[0].m_string, "Lab 3");
    ASSERT_EQ(d.m_trailingData.size(), 4u);
    EXPECT_EQ(d.m_trailingData[1].m_word, "second one");
    EXPECT_EQ(d.m_startOfVolume, static_cast<int64_t>(file.size() - 2));
    EXPECT_FALSE(d.m_convertEndian);

    // With data blocks, the plain terminator cannot end the header...
    std::string plain = file;
    plain.replace(plain.find("##\f\n"), 4, "##\n");
    EXPECT_FALSE(ParsesAsVolume(plain));
    // ... and the description must start with one.
    std::string noLead = file;
    noLead.erase(noLead.find(data) + data.size(), 3);
    EXPECT_FALSE(ParsesAsVolume(noLead));
    // Without them either terminator ends the header.
    EXPECT_TRUE(ParsesAsVolume("Vox1999a\n##\f\nVolumeSize 2 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nvv"));

    EXPECT_FALSE(ParsesAsVolume("Vox1999a\nVolumeCount\n##\n"));
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\nVolumeSize 1 1 1\n##\n"));
    EXPECT_FALSE(ParsesAsVolume("Vox1999a\nData big 2147483648\n##\f\n"));
}

namespace {

// Three volumes, each with its own voxels and trailing data, behind a
// header with a data block of its own.
std::string ThreeVolumes(const std::string& inVolumeCount = "3") {
    std::string f = "Vox1999a\nVolumeCount " + inVolumeCount + "\nData header 5\n##\f\nHHHHH";
    f += "##\nVolumeSize 2 2 1\nVoxelSize 8\nEndian L\n" + kField0 + "Data a 3\nData b 0\n##\f\n";
    f += "0000" "aaa";
    f += "##\nTitle skipped\nVoxelSize 16\nVolumeSize 3 1 1\nUnknownKeyword is ignored here\n"
         "\t// so is this\n"
         "ModelMatrix (\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1)\n"
         "Field 0 ( Position 0\n Size 16 Name x )\nData c 2\n##\f\n";
    f += "111111" "cc";
    f += "##\nVolumeSize 1 1 2\nVoxelSize 32\nEndian B\n" + kField0 + "##\f\n";
    f += "22222222";
    return f;
}

}  // namespace

TEST(VoxFileFormat, LaterVolumesAreFoundPastEarlierVoxelsAndData) {
    const std::string file = ThreeVolumes();
    VoxFileDescription d;
    ASSERT_TRUE(ParseVox(file, 2, d));
    EXPECT_EQ(d.m_startOfVolume, static_cast<int64_t>(file.size() - 8));
    EXPECT_EQ(d.m_sizeZ, 2);
    EXPECT_EQ(d.m_voxelSizeBytes, 4);
    ASSERT_TRUE(ParseVox(file, 0, d));
    EXPECT_EQ(file.substr(static_cast<size_t>(d.m_startOfVolume), 4), "0000");
    // Volume 1 has no Endian line: skipping it is fine, reading it is not.
    EXPECT_FALSE(ParseVox(file, 1, d));
    EXPECT_FALSE(ParseVox(file, 3, d));
    EXPECT_FALSE(ParseVox(ThreeVolumes("2"), 2, d));
    EXPECT_TRUE(ParseVox(ThreeVolumes("0"), 2, d));
    // A negative volume number is not volume 0.
    EXPECT_FALSE(ParseVox(file, -1, d));
}

TEST(VoxFileFormat, SkippedVolumesMustSayHowLargeTheyAre) {
    // Each description starts from nothing: volume 1 may not borrow the
    // size of volume 0.
    const std::string file = "Vox1999a\n##\nVolumeSize 2 1 1\nVoxelSize 8\nEndian L\n" + kField0 +
                             "##\f\nvv##\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nww##\nVolumeSize 1 1 1\n" +
                             "VoxelSize 8\nEndian L\n" + kField0 + "##\f\nx";
    EXPECT_TRUE(ParsesAsVolume(file, 0));
    EXPECT_FALSE(ParsesAsVolume(file, 2));
    const std::string noVoxelSize = "Vox1999a\n##\nVolumeSize 2 1 1\nEndian L\n" + kField0 +
                                    "##\f\nvv##\nVolumeSize 1 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nx";
    EXPECT_FALSE(ParsesAsVolume(noVoxelSize, 1));
    // A skipped volume with a bad voxel size cannot be passed over either.
    std::string badBits = noVoxelSize;
    badBits.insert(badBits.find("Endian"), "VoxelSize 12\n");
    EXPECT_FALSE(ParsesAsVolume(badBits, 1));
}

TEST(VoxFileFormat, SizesThatDoNotFitAreRefused) {
    const auto volume = [](const std::string& size, const std::string& bits) {
        return "Vox1999a\n##\nVolumeSize " + size + "\nVoxelSize " + bits + "\nEndian L\n" + kField0 + "##\f\n";
    };
    EXPECT_TRUE(ParsesAsVolume(volume("2147483647 1 1", "8")));
    EXPECT_FALSE(ParsesAsVolume(volume("2147483648 1 1", "8")));
    EXPECT_FALSE(ParsesAsVolume(volume("4294967297 1 1", "8")));
    EXPECT_FALSE(ParsesAsVolume(volume("99999999999999999999999 1 1", "8")));
    // 2^31-1 cubed times 8 bytes overflows 64 bits.
    EXPECT_FALSE(ParsesAsVolume(volume("2147483647 2147483647 2147483647", "64")));
    // A volume of size 0 is legal, and so is skipping one.
    const std::string empty = volume("0 0 0", "8");
    EXPECT_TRUE(ParsesAsVolume(empty));
    const std::string two = empty + "##\nVolumeSize 1 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nx";
    EXPECT_TRUE(ParsesAsVolume(two, 1));
    // A skip that would run beyond any file offset is refused, not wrapped.
    const std::string huge = volume("2147483647 2147483647 2147483647", "8") +
                             "##\nVolumeSize 1 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nx";
    EXPECT_FALSE(ParsesAsVolume(huge, 1));
    // A data sum beyond 63 bits too.
    std::string manyData = "Vox1999a\n";
    for (int i = 0; i < 5; ++i) manyData += "Data d 2147483647\n";
    manyData += "##\f\n##\nVolumeSize 1 1 1\nVoxelSize 8\nEndian L\n" + kField0 + "##\f\nx";
    EXPECT_FALSE(ParsesAsVolume(manyData));
}

TEST(VoxFileFormat, KeptTextIsBounded) {
    const std::string longLine(VoxFileParser::kMaxLineBytes + 1, 'x');
    EXPECT_FALSE(ParsesAsVolume(Complete("Title " + longLine + "\n")));
    // A comment of any length is passed over.
    EXPECT_TRUE(ParsesAsVolume(Complete("//" + longLine + "\n")));
    std::string manyTitles;
    const std::string title = "Title " + std::string(VoxFileParser::kMaxLineBytes - 16, 't') + "\n";
    for (size_t kept = 0; kept <= VoxFileParser::kMaxKeptBytes; kept += title.size()) manyTitles += title;
    EXPECT_FALSE(ParsesAsVolume(Complete(manyTitles)));
}

TEST(VoxFileFormat, ByteOrderDecidesSwappingOnEitherHost) {
    const auto swapped = [](const std::string& endian, const std::string& bits, char host) {
        VoxFileDescription d;
        EXPECT_TRUE(ParseVox(OneVolume("VolumeSize 1 1 1\nVoxelSize " + bits + "\nEndian " + endian + "\n" + kField0),
                             0, d, host));
        return d.m_convertEndian;
    };
    EXPECT_FALSE(swapped("B", "16", 'B'));
    EXPECT_TRUE(swapped("L", "32", 'B'));
    EXPECT_FALSE(swapped("L", "8", 'B'));
    EXPECT_EQ(VoxHostByteOrder(), 'L');
}

TEST(VoxFileFormat, Version1997Header) {
    VoxFileDescription d;
    const std::string voxels = Be16({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(ParseVox(Vox97("BigEndian 3 2 1 0.5 0 2.5 16 1040000", voxels), 0, d));
    EXPECT_EQ(d.m_version, 1997);
    EXPECT_EQ(d.m_startOfVolume, 256);
    EXPECT_EQ(std::vector<int>({d.m_sizeX, d.m_sizeY, d.m_sizeZ, d.m_voxelSizeBytes}), std::vector<int>({3, 2, 1, 2}));
    EXPECT_TRUE(d.m_endian == 'B' && d.m_convertEndian);
    EXPECT_EQ(d.m_fileFormat, 0x1040000u);
    ASSERT_NE(d.FindField(0), nullptr);
    EXPECT_EQ(std::vector<int>({d.FindField(0)->m_position, d.FindField(0)->m_size, d.FindField(0)->m_format}),
              std::vector<int>({4, 12, 0}));
    const double scale[16] = {0.5, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2.5, 0, 0, 0, 0, 1};
    ExpectMatrix(d, scale);

    ASSERT_TRUE(ParseVox(Vox97("  LittleEndian\t2 2 2 0 0 0 8 20000   trailing words are not read"), 0, d));
    EXPECT_FALSE(d.m_convertEndian);
    EXPECT_EQ(d.FindField(0)->m_size, 8);
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(d, identity);
    ASSERT_TRUE(ParseVox(Vox97("BigEndian 1 1 1 1 1 1 16 0x1030000"), 0, d));
    EXPECT_EQ(d.FindField(0)->m_position, 0);
    EXPECT_EQ(d.FindField(0)->m_size, 12);
}

TEST(VoxFileFormat, BrokenVersion1997Headers) {
    const char* broken[] = {
        "MiddleEndian 1 1 1 1 1 1 8 20000",
        "BigEndian 1 1 1 1 1 1 8 1030000",   // code of a 16-bit voxel
        "BigEndian 1 1 1 1 1 1 16 20000",
        "BigEndian 1 1 1 1 1 1 32 20000",
        "BigEndian 1 1 1 1 1 1 8",           // no code
        "BigEndian 1 1 1 1 1 8 20000",       // a unit short
        "BigEndian -1 1 1 1 1 1 8 20000",
        "BigEndian 2147483648 1 1 1 1 1 8 20000",
        "BigEndian 1 1 x 1 1 1 8 20000",
    };
    for (const char* fields : broken) EXPECT_FALSE(ParsesAsVolume(Vox97(fields))) << fields;
    // The 248th header byte must be ':'.
    std::string noColon = Vox97("BigEndian 1 1 1 1 1 1 8 20000");
    noColon[255] = ' ';
    EXPECT_FALSE(ParsesAsVolume(noColon));
    EXPECT_FALSE(ParsesAsVolume(Vox97("BigEndian 1 1 1 1 1 1 8 20000").substr(0, 255)));
    // Only volume 0 exists.
    EXPECT_FALSE(ParsesAsVolume(Vox97("BigEndian 1 1 1 1 1 1 8 20000"), 1));
    // A NUL in the padding is not the end of the text.
    std::string nul = Vox97("BigEndian 1 1 1 1 1 1 8 20000");
    nul[40] = '\0';
    EXPECT_TRUE(ParsesAsVolume(nul));
    EXPECT_FALSE(ParsesAsVolume(Vox97(std::string("BigEndian 1 1 1\0 1 1 1 8 20000", 31))));
}
