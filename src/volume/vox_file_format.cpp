#include "volume/vox_file_format.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

namespace ulm3 {

namespace {

constexpr int kVox97HeaderBytes = 248;
// What one kept record costs beyond its text.
constexpr size_t kRecordBytes = 64;

bool CheckedAdd(int64_t a, int64_t b, int64_t& out) { return !__builtin_add_overflow(a, b, &out) && out >= 0; }

// sizeX * sizeY * sizeZ * bytes, when it fits in 63 bits.
bool BlockBytes(int32_t x, int32_t y, int32_t z, int bytes, int64_t& out) {
    if (x < 0 || y < 0 || z < 0 || bytes < 0) return false;
    int64_t n = 0;
    return !__builtin_mul_overflow(int64_t{x}, int64_t{y}, &n) && !__builtin_mul_overflow(n, int64_t{z}, &n) &&
           !__builtin_mul_overflow(n, int64_t{bytes}, &out);
}

int32_t FormatFromWord(const std::string& word) {
    if (word == "u" || word == "uf") return 0;
    if (word == "sf") return 1;
    if (word == "ui") return 3;
    if (word == "si") return 16;
    if (word == "ub") return 2;
    if (word == "f") return 17;
    return 255;
}

bool EndsWithParenthesis(std::string& ioWord) {
    if (ioWord.empty() || ioWord.back() != ')') return false;
    ioWord.pop_back();
    return true;
}

}  // namespace

char VoxHostByteOrder() {
    const uint32_t probe = 0x12345678;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 0x12 ? 'B' : 'L';
}

const VoxfFieldSpecifier* VoxFileDescription::FindField(int32_t inFieldId) const {
    for (const VoxfFieldSpecifier& f : m_fieldSpecifiers) {
        if (f.m_fieldId == inFieldId) return &f;
    }
    return nullptr;
}

int64_t VoxFileDescription::VoxelBlockBytes() const {
    int64_t bytes = 0;
    return BlockBytes(m_sizeX, m_sizeY, m_sizeZ, m_voxelSizeBytes, bytes) ? bytes : -1;
}

bool VoxFileParser::Keep(size_t inBytes) {
    if (inBytes > kMaxKeptBytes - m_keptBytes) return false;
    m_keptBytes += inBytes;
    return true;
}

bool VoxFileParser::Parse(int inVolumeNumber, VoxFileDescription& outDescription) {
    outDescription = VoxFileDescription();
    m_out = &outDescription;
    m_keptBytes = 0;
    m_terminator = Terminator::kNone;
    if (inVolumeNumber < 0) return false;

    char magic[8];
    m_reader.SeekTo(0);
    if (m_reader.ReadBytes(magic, sizeof magic) != static_cast<int64_t>(sizeof magic)) return false;
    bool ok;
    if (memcmp(magic, "Vox1999a", 8) == 0) {
        outDescription.m_version = 1999;
        ok = ReadVox99Header(inVolumeNumber);
    } else if (memcmp(magic, "Vox1997a", 8) == 0) {
        outDescription.m_version = 1997;
        ok = inVolumeNumber == 0 && ReadVox97Header(kVox97HeaderBytes);
    } else {
        ok = false;
    }
    if (!ok) return false;
    // Every voxel of the volume must have an offset that a file can hold.
    const int64_t block = outDescription.VoxelBlockBytes();
    int64_t end = 0;
    return block >= 0 && CheckedAdd(outDescription.m_startOfVolume, block, end);
}

VoxFileParser::LineResult VoxFileParser::SkipCommentLines(std::string& outLine, bool& outHadNewline) {
    for (;;) {
        outLine.clear();
        outHadNewline = false;
        int c = m_reader.ReadOneByte();
        while (c == ' ') c = m_reader.ReadOneByte();
        if (c < 0) return LineResult::kEnd;
        if (c == '\n') continue;
        if (c == '/') {
            const int d = m_reader.ReadOneByte();
            if (d == '/') {
                // Comments are never kept, however long they are.
                do {
                    c = m_reader.ReadOneByte();
                } while (c >= 0 && c != '\n');
                if (c < 0) return LineResult::kEnd;
                continue;
            }
            outLine.push_back('/');
            c = d;
        }
        while (c >= 0 && c != '\n') {
            if (outLine.size() >= kMaxLineBytes) return LineResult::kInvalid;
            outLine.push_back(static_cast<char>(c));
            c = m_reader.ReadOneByte();
        }
        outHadNewline = c == '\n';
        return LineResult::kLine;
    }
}

VoxFileParser::LineResult VoxFileParser::ClearAndGetOneNewlineInStream() {
    std::string line;
    bool hadNewline = false;
    const LineResult r = SkipCommentLines(line, hadNewline);
    m_terminator = Terminator::kNone;
    if (r != LineResult::kLine) {
        m_line.Assign(std::string());
        return r;
    }
    // A terminator is exactly these bytes up to a real newline; a carriage
    // return or anything else makes it ordinary text.
    if (hadNewline && line == "##") m_terminator = Terminator::kPlain;
    if (hadNewline && line == "##\f") m_terminator = Terminator::kFormFeed;
    line.push_back('\n');
    m_line.Assign(std::move(line));
    return LineResult::kLine;
}

bool VoxFileParser::SkipToToken() {
    for (;;) {
        m_line.SkipWhite();
        if (!m_line.AtEnd()) return true;
        if (ClearAndGetOneNewlineInStream() != LineResult::kLine) return false;
    }
}

bool VoxFileParser::ReadVox99Header(int inVolumeNumber) {
    if (!ReadVox99FileHeader()) return false;
    for (int k = 0; k < inVolumeNumber; ++k) {
        if (!ReadVox99VolumeDescription(k, true)) return false;
    }
    if (!ReadVox99VolumeDescription(inVolumeNumber, false)) return false;
    m_out->m_startOfVolume = m_reader.Offset();
    return true;
}

bool VoxFileParser::ReadKeptText(std::string& ioText) {
    // The blank after the keyword belongs to the text.
    std::string text = m_line.RestOfLine();
    text.push_back('\n');
    if (!Keep(text.size())) return false;
    ioText += text;
    return true;
}

bool VoxFileParser::ReadTrailingData(std::vector<VoxfTrailingData>* ioList, int64_t* ioSum) {
    VoxfTrailingData data;
    int64_t size = 0;
    if (!m_line.ReadWordOrQuotedString(data.m_word)) return false;
    if (!m_line.ReadInteger(INT32_MIN, INT32_MAX, size)) return false;
    data.m_size = static_cast<int32_t>(size);
    if (ioSum && size > 0 && !CheckedAdd(*ioSum, size, *ioSum)) return false;
    if (ioList) {
        if (!Keep(data.m_word.size() + kRecordBytes)) return false;
        ioList->push_back(std::move(data));
    }
    return true;
}

bool VoxFileParser::ReadAttribute(std::vector<VoxfAttribute>& ioList) {
    VoxfAttribute attribute;
    if (!m_line.ReadWordOrQuotedString(attribute.m_word)) return false;
    m_line.ReadRestOfLine(attribute.m_string);
    if (!Keep(attribute.m_word.size() + attribute.m_string.size() + kRecordBytes)) return false;
    ioList.push_back(std::move(attribute));
    return true;
}

bool VoxFileParser::ReadVox99FileHeader() {
    VoxFileDescription& out = *m_out;
    std::string title;
    std::string copyright;
    for (;;) {
        if (ClearAndGetOneNewlineInStream() != LineResult::kLine) return false;
        if (m_terminator != Terminator::kNone) break;
        std::string keyword;
        if (m_line.ReadWord(keyword, 79) != VoxTextStream::Word::kOK) return false;
        if (keyword == "VolumeCount") {
            int64_t count = 0;
            if (!m_line.ReadInteger(INT32_MIN, INT32_MAX, count)) return false;
            out.m_volumeCount = static_cast<int32_t>(count);
        } else if (keyword == "Title") {
            if (!ReadKeptText(title)) return false;
        } else if (keyword == "Copyright") {
            if (!ReadKeptText(copyright)) return false;
        } else if (keyword == "Data") {
            if (!ReadTrailingData(&out.m_trailingData, nullptr)) return false;
        } else if (keyword == "Attribute") {
            if (!ReadAttribute(out.m_attribute)) return false;
        } else {
            return false;
        }
    }
    if (m_terminator == Terminator::kPlain && !out.m_trailingData.empty()) return false;
    int64_t skip = 0;
    for (const VoxfTrailingData& d : out.m_trailingData) {
        if (d.m_size > 0 && !CheckedAdd(skip, d.m_size, skip)) return false;
    }
    int64_t next = 0;
    if (!CheckedAdd(m_reader.Offset(), skip, next)) return false;
    m_reader.SeekTo(next);
    out.m_title = std::move(title);
    out.m_copyright = std::move(copyright);
    return true;
}

bool VoxFileParser::ReadVolumeSize(int32_t& outX, int32_t& outY, int32_t& outZ) {
    int64_t x = 0, y = 0, z = 0;
    // Sizes beyond the signed 32-bit range of a volume range are refused
    // rather than wrapped.
    if (!m_line.ReadInteger(0, INT32_MAX, x, false) || !m_line.ReadInteger(0, INT32_MAX, y, false) ||
        !m_line.ReadInteger(0, INT32_MAX, z, false)) {
        return false;
    }
    outX = static_cast<int32_t>(x);
    outY = static_cast<int32_t>(y);
    outZ = static_cast<int32_t>(z);
    return true;
}

bool VoxFileParser::ReadFloat(float& outValue, bool inMayGoOn) {
    double value = 0;
    if ((inMayGoOn && !SkipToToken()) || !m_line.ReadReal(value)) return false;
    if (value > FLT_MAX || value < -FLT_MAX) return false;
    outValue = static_cast<float>(value);
    return true;
}

bool VoxFileParser::ReadModelMatrix(double outMatrix[16]) {
    if (!SkipToToken() || m_line.Peek() != '(') return false;
    m_line.Advance();
    for (int k = 0; k < 16; ++k) {
        if (!SkipToToken() || !m_line.ReadReal(outMatrix[k])) return false;
        if (!SkipToToken()) return false;
        if (m_line.Peek() == ',') m_line.Advance();
    }
    if (!SkipToToken() || m_line.Peek() != ')') return false;
    m_line.Advance();
    return true;
}

bool VoxFileParser::ReadFieldWordArgument(bool inNeedsValue, size_t inMaxLength, bool inStreamWord,
                                          std::string& outValue, bool& outEndsField) {
    outEndsField = false;
    if (inStreamWord) {
        if (!SkipToToken() || m_line.ReadWord(outValue, inMaxLength) != VoxTextStream::Word::kOK) return false;
        outEndsField = EndsWithParenthesis(outValue);
        return true;
    }
    bool quoted = false;
    if (!m_line.ReadWordOrQuotedString(outValue, &quoted)) return false;
    if (!quoted) outEndsField = EndsWithParenthesis(outValue);
    return !(inNeedsValue && outValue.empty());
}

bool VoxFileParser::ReadField(int32_t inFieldId, bool inSkip, VoxfFieldSpecifier& outField) {
    if (!m_line.IsFirstNoBlankChar('(')) return false;
    outField = VoxfFieldSpecifier();
    outField.m_fieldId = inFieldId;
    outField.m_format = 0;
    bool havePosition = false, haveSize = false, haveName = false;
    for (;;) {
        if (!SkipToToken()) return false;
        if (m_line.Peek() == ')') {
            m_line.Advance();
            break;
        }
        std::string key;
        if (m_line.ReadWord(key, 127) != VoxTextStream::Word::kOK) return false;
        bool ends = false;
        int64_t number = 0;
        if (key == "Position" || key == "Size") {
            if (!SkipToToken() || !m_line.ReadInteger(INT32_MIN, INT32_MAX, number)) return false;
            (key == "Position" ? outField.m_position : outField.m_size) = static_cast<int32_t>(number);
            (key == "Position" ? havePosition : haveSize) = true;
        } else if (key == "Name") {
            if (!ReadFieldWordArgument(true, 0, false, outField.m_name, ends)) return false;
            haveName = true;
        } else if (key == "Format") {
            std::string word;
            if (!ReadFieldWordArgument(false, 31, true, word, ends)) return false;
            outField.m_format = FormatFromWord(word);
        } else if (key == "Description") {
            if (!ReadFieldWordArgument(true, 0, false, outField.m_description, ends)) return false;
        } else if (key == "Offset") {
            if (!ReadFloat(outField.m_offset, true)) return false;
        } else if (key == "Scale") {
            if (!ReadFloat(outField.m_scale, true)) return false;
        } else {
            return false;
        }
        if (ends) break;
    }
    if (!inSkip && !(havePosition && haveSize && haveName)) return false;
    return Keep(outField.m_name.size() + outField.m_description.size() + kRecordBytes);
}

// What a volume description has said so far.
struct VoxFileParser::VolumeKeys {
    bool haveSize = false, haveVoxelSize = false, haveEndian = false;
    int64_t dataBytes = 0;
    std::string title;
    std::string copyright;
    // Definition order; sorted by field number at the end.
    std::vector<VoxfFieldSpecifier> fields;
};

bool VoxFileParser::ReadVox99VolumeDescription(int inWhichVolume, bool inSkip) {
    VoxFileDescription& out = *m_out;
    ForgetVolumeDescription();
    if (out.m_volumeCount != 0 && inWhichVolume >= out.m_volumeCount) return false;

    if (ClearAndGetOneNewlineInStream() != LineResult::kLine) return false;
    if (m_terminator == Terminator::kPlain) {
        if (ClearAndGetOneNewlineInStream() != LineResult::kLine) return false;
    } else if (!out.m_trailingData.empty()) {
        return false;
    }

    VolumeKeys keys;
    while (m_terminator != Terminator::kFormFeed) {
        std::string keyword;
        if (m_line.ReadWord(keyword, 79) != VoxTextStream::Word::kOK) {
            if (!inSkip) return false;
            keyword.clear();
        }
        if (!ReadVolumeKeyword(keyword, inSkip, keys)) return false;
        if (ClearAndGetOneNewlineInStream() != LineResult::kLine) return false;
    }
    return inSkip ? SkipVolume(keys) : KeepVolumeDescription(keys);
}

// Nothing of an earlier description may stand in for this one.
void VoxFileParser::ForgetVolumeDescription() {
    VoxFileDescription& out = *m_out;
    out.m_sizeX = out.m_sizeY = out.m_sizeZ = 0;
    out.m_voxelSizeBytes = 0;
    out.m_endian = '?';
    out.m_convertEndian = false;
    const VoxFileDescription defaults;
    std::copy(std::begin(defaults.m_modelMatrix), std::end(defaults.m_modelMatrix), out.m_modelMatrix);
    out.m_volumeTrailingData.clear();
    out.m_volumeAttribute.clear();
    out.m_fieldSpecifiers.clear();
    out.m_volumeTitle.clear();
    out.m_volumeCopyright.clear();
}

bool VoxFileParser::ReadVolumeKeyword(const std::string& inKeyword, bool inSkip, VolumeKeys& ioKeys) {
    VoxFileDescription& out = *m_out;
    int32_t fieldId = -1;
    bool isField = false;
    if (inKeyword == "Field") {
        int64_t n = 0;
        if (!m_line.ReadInteger(INT32_MIN, INT32_MAX, n)) return false;
        fieldId = static_cast<int32_t>(n);
        isField = true;
    } else if (inKeyword.size() == 6 && inKeyword.compare(0, 5, "Field") == 0 && inKeyword[5] >= '0' &&
               inKeyword[5] <= '9') {
        fieldId = inKeyword[5] - '0';
        isField = true;
    }

    if (inKeyword == "VolumeSize") {
        if (!ReadVolumeSize(out.m_sizeX, out.m_sizeY, out.m_sizeZ)) return false;
        ioKeys.haveSize = true;
    } else if (inKeyword == "VoxelSize") {
        int64_t bits = 0;
        if (!m_line.ReadInteger(INT32_MIN, INT32_MAX, bits)) return false;
        if (bits != 8 && bits != 16 && bits != 32 && bits != 64) return false;
        out.m_voxelSizeBytes = static_cast<int>(bits / 8);
        ioKeys.haveVoxelSize = true;
    } else if (inKeyword == "ModelMatrix") {
        double matrix[16];
        if (!ReadModelMatrix(matrix)) return false;
        if (!inSkip) std::copy(matrix, matrix + 16, out.m_modelMatrix);
    } else if (isField) {
        VoxfFieldSpecifier field;
        if (!ReadField(fieldId, inSkip, field)) return false;
        if (!inSkip) ioKeys.fields.push_back(std::move(field));
    } else if (inKeyword == "Data") {
        if (!ReadTrailingData(inSkip ? nullptr : &out.m_volumeTrailingData, &ioKeys.dataBytes)) return false;
    } else if (inSkip) {
        // Nothing else of a volume that is passed over matters.
    } else {
        return ReadVolumeDetail(inKeyword, ioKeys);
    }
    return true;
}

// The keywords only a volume that is read keeps.
bool VoxFileParser::ReadVolumeDetail(const std::string& inKeyword, VolumeKeys& ioKeys) {
    VoxFileDescription& out = *m_out;
    if (inKeyword == "VolumeScale" || inKeyword == "VolumePosition") {
        const bool scale = inKeyword == "VolumeScale";
        return ReadFloat(scale ? out.m_scaleX : out.m_positionX, false) &&
               ReadFloat(scale ? out.m_scaleY : out.m_positionY, false) &&
               ReadFloat(scale ? out.m_scaleZ : out.m_positionZ, false);
    }
    if (inKeyword == "Endian") {
        std::string word;
        if (m_line.ReadWord(word, 31) != VoxTextStream::Word::kOK) return false;
        if (word != "L" && word != "B") return false;
        out.m_endian = word[0];
        ioKeys.haveEndian = true;
        return true;
    }
    if (inKeyword == "Title") return ReadKeptText(ioKeys.title);
    if (inKeyword == "Copyright") return ReadKeptText(ioKeys.copyright);
    if (inKeyword == "Attribute") return ReadAttribute(out.m_volumeAttribute);
    return false;
}

bool VoxFileParser::SkipVolume(const VolumeKeys& inKeys) {
    // A volume without its size would be passed over by a wrong amount.
    if (!inKeys.haveSize || !inKeys.haveVoxelSize) return false;
    const int64_t block = m_out->VoxelBlockBytes();
    int64_t next = 0;
    if (block < 0 || !CheckedAdd(m_reader.Offset(), block, next) || !CheckedAdd(next, inKeys.dataBytes, next)) {
        return false;
    }
    m_reader.SeekTo(next);
    return true;
}

bool VoxFileParser::KeepVolumeDescription(VolumeKeys& ioKeys) {
    VoxFileDescription& out = *m_out;
    // Later definitions of one number come first, so that a search finds
    // the last one.
    std::vector<VoxfFieldSpecifier>& fields = ioKeys.fields;
    std::reverse(fields.begin(), fields.end());
    std::stable_sort(fields.begin(), fields.end(),
                     [](const VoxfFieldSpecifier& a, const VoxfFieldSpecifier& b) { return a.m_fieldId < b.m_fieldId; });
    out.m_fieldSpecifiers = std::move(fields);
    out.m_volumeTitle = std::move(ioKeys.title);
    out.m_volumeCopyright = std::move(ioKeys.copyright);
    out.m_convertEndian = ioKeys.haveEndian && out.m_endian != m_hostByteOrder && out.m_voxelSizeBytes != 1;
    return ioKeys.haveSize && ioKeys.haveVoxelSize && ioKeys.haveEndian && out.FindField(0) != nullptr;
}

bool VoxFileParser::ReadVox97Header(int inHowManyBytes) {
    VoxFileDescription& out = *m_out;
    std::string text(static_cast<size_t>(inHowManyBytes), '\0');
    if (m_reader.ReadBytes(text.data(), inHowManyBytes) != inHowManyBytes) return false;
    if (text.back() != ':') return false;
    text.pop_back();
    VoxTextStream s(std::move(text));

    std::string order;
    if (s.ReadWord(order, static_cast<size_t>(inHowManyBytes)) != VoxTextStream::Word::kOK) return false;
    if (order == "LittleEndian") {
        out.m_endian = 'L';
    } else if (order == "BigEndian") {
        out.m_endian = 'B';
    } else {
        return false;
    }
    int64_t size[3] = {0, 0, 0};
    for (int64_t& v : size) {
        if (!s.ReadInteger(0, INT32_MAX, v, false)) return false;
    }
    double unit[3] = {0, 0, 0};
    for (double& u : unit) {
        if (!s.ReadReal(u)) return false;
        if (u == 0.0) u = 1.0;
    }
    int64_t bits = 0;
    uint32_t code = 0;
    if (!s.ReadInteger(INT32_MIN, INT32_MAX, bits) || !s.ReadHex(code)) return false;

    VoxfFieldSpecifier field;
    field.m_fieldId = 0;
    field.m_format = 0;
    if (bits == 8 && code == 0x20000) {
        field.m_position = 0;
        field.m_size = 8;
    } else if (bits == 16 && code == 0x1030000) {
        field.m_position = 0;
        field.m_size = 12;
    } else if (bits == 16 && code == 0x1040000) {
        field.m_position = 4;
        field.m_size = 12;
    } else {
        return false;
    }
    out.m_sizeX = static_cast<int32_t>(size[0]);
    out.m_sizeY = static_cast<int32_t>(size[1]);
    out.m_sizeZ = static_cast<int32_t>(size[2]);
    out.m_voxelSizeBytes = static_cast<int>(bits / 8);
    for (int k = 0; k < 16; ++k) out.m_modelMatrix[k] = 0.0;
    out.m_modelMatrix[0] = unit[0];
    out.m_modelMatrix[5] = unit[1];
    out.m_modelMatrix[10] = unit[2];
    out.m_modelMatrix[15] = 1.0;
    out.m_fileFormat = code;
    out.m_convertEndian = out.m_endian != m_hostByteOrder && bits != 8;
    out.m_fieldSpecifiers.push_back(field);
    out.m_startOfVolume = m_reader.Offset();
    return true;
}

}  // namespace ulm3
