// The two versions of the volume file: header records and the parser that
// finds volume n of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/vox_byte_reader.h"
#include "volume/vox_text_stream.h"

namespace ulm3 {

// One "Field" of a volume description.
struct VoxfFieldSpecifier {
    VoxfFieldSpecifier() = default;
    VoxfFieldSpecifier(int32_t inFieldId, int32_t inPosition, int32_t inSize, int32_t inFormat, std::string inName,
                       std::string inDescription = std::string())
        : m_fieldId(inFieldId), m_position(inPosition), m_size(inSize), m_format(inFormat),
          m_name(std::move(inName)), m_description(std::move(inDescription)) {}

    int32_t m_fieldId = 0;
    int32_t m_position = 0;
    int32_t m_size = 0;
    int32_t m_format = 255;  // a ULMFieldFormat value
    float m_offset = 0.0f;
    float m_scale = 1.0f;
    std::string m_name;
    std::string m_description;
};

// One "Attribute" line: a name and its value.
struct VoxfAttribute {
    std::string m_word;
    std::string m_string;
};

// One "Data" line: a trailing block of m_size bytes (none when 0 or less).
struct VoxfTrailingData {
    std::string m_word;
    int32_t m_size = 0;
};

// What a file says about itself and about the volume that was asked for.
struct VoxFileDescription {
    int m_version = 0;  // 1999 or 1997

    // The file header.
    int32_t m_volumeCount = 0;  // 0: not limited
    std::string m_title;
    std::string m_copyright;
    std::vector<VoxfTrailingData> m_trailingData;
    std::vector<VoxfAttribute> m_attribute;
    uint32_t m_fileFormat = 0;  // the field code of a 1997 header

    // The volume.
    int32_t m_sizeX = 0, m_sizeY = 0, m_sizeZ = 0;
    int m_voxelSizeBytes = 0;
    char m_endian = '?';
    bool m_convertEndian = false;
    // Column order: element k is row k % 4, column k / 4.
    double m_modelMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float m_positionX = 0, m_positionY = 0, m_positionZ = 0;
    float m_scaleX = 1, m_scaleY = 1, m_scaleZ = 1;
    std::string m_volumeTitle;
    std::string m_volumeCopyright;
    std::vector<VoxfTrailingData> m_volumeTrailingData;
    std::vector<VoxfAttribute> m_volumeAttribute;
    // Ascending field number; of two with one number the later-defined first.
    std::vector<VoxfFieldSpecifier> m_fieldSpecifiers;
    int64_t m_startOfVolume = 0;  // file offset of the first voxel

    // The first specifier of the field, or null.
    const VoxfFieldSpecifier* FindField(int32_t inFieldId) const;
    // Bytes of the voxel block; fits in 63 bits for every parsed volume.
    int64_t VoxelBlockBytes() const;
};

// 'B' or 'L', read from how this host stores a 32-bit value.
char VoxHostByteOrder();

// Parses a volume file from the start of a byte source. A file is untrusted
// input: every size is checked for overflow before it moves the cursor,
// text that is kept is bounded, and the end of the data always ends the
// parse.
class VoxFileParser {
public:
    static constexpr size_t kMaxLineBytes = size_t{1} << 20;
    // Text and records kept from one header and one description.
    static constexpr size_t kMaxKeptBytes = size_t{16} << 20;

    explicit VoxFileParser(VoxByteReader& inReader, char inHostByteOrder = VoxHostByteOrder())
        : m_reader(inReader), m_hostByteOrder(inHostByteOrder) {}

    // Reads the magic, the header and the description of volume
    // inVolumeNumber; false when the file or that volume is invalid. On
    // success the cursor stands on the volume's first voxel.
    bool Parse(int inVolumeNumber, VoxFileDescription& outDescription);

private:
    enum class Terminator { kNone, kPlain, kFormFeed };
    enum class LineResult { kLine, kEnd, kInvalid };

    bool ReadVox99Header(int inVolumeNumber);
    bool ReadVox99FileHeader();
    bool ReadVox99VolumeDescription(int inWhichVolume, bool inSkip);
    bool ReadVox97Header(int inHowManyBytes);
    // The steps of a volume description: the last one's forgotten, each
    // keyword line read (those of a volume passed over only as far as they
    // say how far to skip), and the volume passed over or kept.
    struct VolumeKeys;
    void ForgetVolumeDescription();
    bool ReadVolumeKeyword(const std::string& inKeyword, bool inSkip, VolumeKeys& ioKeys);
    bool ReadVolumeDetail(const std::string& inKeyword, VolumeKeys& ioKeys);
    bool SkipVolume(const VolumeKeys& inKeys);
    bool KeepVolumeDescription(VolumeKeys& ioKeys);

    // One line of text for the keyword reader: leading spaces dropped,
    // comment and empty lines skipped.
    LineResult SkipCommentLines(std::string& outLine, bool& outHadNewline);
    // Replaces the line stream by the next text line.
    LineResult ClearAndGetOneNewlineInStream();
    // Skips white space, going on to further text lines while the current
    // one holds nothing more; false when the text ends first.
    bool SkipToToken();

    bool ReadKeptText(std::string& ioText);
    bool ReadTrailingData(std::vector<VoxfTrailingData>* ioList, int64_t* ioSum);
    bool ReadAttribute(std::vector<VoxfAttribute>& ioList);
    bool ReadVolumeSize(int32_t& outX, int32_t& outY, int32_t& outZ);
    bool ReadModelMatrix(double outMatrix[16]);
    bool ReadField(int32_t inFieldId, bool inSkip, VoxfFieldSpecifier& outField);
    bool ReadFieldWordArgument(bool inNeedsValue, size_t inMaxLength, bool inStreamWord, std::string& outValue,
                               bool& outEndsField);
    // A real number that fits a float. Inside a field specification it may
    // stand on a later line (inMayGoOn); elsewhere on the keyword's own line.
    bool ReadFloat(float& outValue, bool inMayGoOn);
    bool Keep(size_t inBytes);

    VoxByteReader& m_reader;
    char m_hostByteOrder;
    VoxFileDescription* m_out = nullptr;
    VoxTextStream m_line;
    Terminator m_terminator = Terminator::kNone;
    size_t m_keptBytes = 0;
};

}  // namespace ulm3
