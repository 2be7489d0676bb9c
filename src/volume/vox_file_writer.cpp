#include "volume/vox_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ulm3 {

namespace {

// Voxels are staged through a buffer of this size when they need swapping.
constexpr size_t kChunkBytes = size_t{1} << 16;

const char* FormatWord(int32_t format) {
    switch (format) {
        case 0: return "uf";
        case 1: return "sf";
        case 2: return "ub";
        case 3: return "ui";
        case 16: return "si";
        case 17: return "f";
        case 255: return "unknown";
        default: return nullptr;
    }
}

// Names are always written quoted, so that blanks and a closing
// parenthesis stay part of them.
bool Quotable(const std::string& s) { return !s.empty() && s.find_first_of("\"\n") == std::string::npos; }

bool LineSafe(const std::string& s) { return s.find('\n') == std::string::npos; }

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char buffer[512];
    va_list ap;
    va_start(ap, format);
    const int n = vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    return std::string(buffer, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

// One "Title" or "Copyright" line per line of the text.
void AppendTextLines(std::string& out, const char* keyword, const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out += keyword;
        out += ' ';
        out.append(text, start, end - start);
        out += '\n';
        start = end + 1;
    }
}

void AppendAttributes(std::string& out, const std::vector<VoxfAttribute>& attributes) {
    for (const VoxfAttribute& a : attributes) out += "Attribute \"" + a.m_word + "\" " + a.m_string + "\n";
}

void AppendData(std::string& out, const std::vector<VoxDataBlock>& data) {
    for (const VoxDataBlock& d : data) out += "Data \"" + d.m_name + "\" " + std::to_string(d.m_bytes.size()) + "\n";
}

bool CheckAttributes(const std::vector<VoxfAttribute>& attributes) {
    for (const VoxfAttribute& a : attributes) {
        if (!Quotable(a.m_word) || !LineSafe(a.m_string)) return false;
    }
    return true;
}

bool CheckData(const std::vector<VoxDataBlock>& data) {
    for (const VoxDataBlock& d : data) {
        if (!Quotable(d.m_name) || d.m_bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
    }
    return true;
}

bool WriteVoxels(const VoxVolumeToWrite& v, const VoxFileWriter::Sink& sink) {
    const int64_t total = v.VoxelBytes();
    if (total <= 0) return true;
    const size_t bytes = static_cast<size_t>(v.m_voxelBits / 8);
    const auto* in = static_cast<const uint8_t*>(v.m_voxels);
    if (v.m_endian == VoxHostByteOrder() || (bytes != 2 && bytes != 4)) {
        return sink(in, static_cast<size_t>(total));
    }
    uint8_t chunk[kChunkBytes];
    for (int64_t done = 0; done < total;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(total - done, kChunkBytes));
        for (size_t i = 0; i < n; i += bytes) {
            for (size_t b = 0; b < bytes; ++b) chunk[i + b] = in[done + static_cast<int64_t>(i + bytes - 1 - b)];
        }
        if (!sink(chunk, n)) return false;
        done += static_cast<int64_t>(n);
    }
    return true;
}

}  // namespace

int64_t VoxVolumeToWrite::VoxelBytes() const {
    VoxFileDescription d;
    d.m_sizeX = m_sizeX;
    d.m_sizeY = m_sizeY;
    d.m_sizeZ = m_sizeZ;
    d.m_voxelSizeBytes = m_voxelBits / 8;
    return d.VoxelBlockBytes();
}

void VoxFileWriter::AddAttribute(std::string inName, std::string inValue) {
    m_attributes.push_back(VoxfAttribute{std::move(inName), std::move(inValue)});
}

void VoxFileWriter::AddData(std::string inName, std::string inBytes) {
    m_data.push_back(VoxDataBlock{std::move(inName), std::move(inBytes)});
}

ULMStatus VoxFileWriter::Check() const {
    if (!CheckAttributes(m_attributes) || !CheckData(m_data)) return kULMErrArgument;
    for (const VoxVolumeToWrite& v : m_volumes) {
        if (v.m_voxelBits != 8 && v.m_voxelBits != 16 && v.m_voxelBits != 32 && v.m_voxelBits != 64) {
            return kULMErrArgument;
        }
        if (v.m_endian != 'B' && v.m_endian != 'L') return kULMErrArgument;
        const int64_t bytes = v.VoxelBytes();
        if (bytes < 0 || (bytes > 0 && v.m_voxels == nullptr)) return kULMErrArgument;
        bool haveField0 = false;
        for (const VoxfFieldSpecifier& f : v.m_fields) {
            if (!Quotable(f.m_name) || !FormatWord(f.m_format)) return kULMErrArgument;
            if (!f.m_description.empty() && !Quotable(f.m_description)) return kULMErrArgument;
            if (!std::isfinite(f.m_offset) || !std::isfinite(f.m_scale)) return kULMErrArgument;
            haveField0 = haveField0 || f.m_fieldId == 0;
        }
        for (double m : v.m_modelMatrix) {
            if (!std::isfinite(m)) return kULMErrArgument;
        }
        if (!haveField0 || !CheckAttributes(v.m_attributes) || !CheckData(v.m_data)) return kULMErrArgument;
    }
    return kULMOK;
}

ULMStatus VoxFileWriter::Write(const Sink& inSink) const {
    const ULMStatus check = Check();
    if (ULMFailed(check)) return check;
    const auto put = [&](const std::string& s) { return s.empty() || inSink(s.data(), s.size()); };

    std::string header = "Vox1999a\n";
    if (m_declareVolumeCount) header += "VolumeCount " + std::to_string(m_volumes.size()) + "\n";
    AppendTextLines(header, "Title", m_title);
    AppendTextLines(header, "Copyright", m_copyright);
    AppendAttributes(header, m_attributes);
    AppendData(header, m_data);
    header += m_data.empty() ? "##\n" : "##\f\n";
    if (!put(header)) return kULMErrWrite;
    for (const VoxDataBlock& d : m_data) {
        if (!put(d.m_bytes)) return kULMErrWrite;
    }

    for (const VoxVolumeToWrite& v : m_volumes) {
        std::string text;
        if (!m_data.empty()) text += "##\n";
        text += Printf("VolumeSize %d %d %d\n", v.m_sizeX, v.m_sizeY, v.m_sizeZ);
        text += Printf("VoxelSize %d\n", v.m_voxelBits);
        text += Printf("Endian %c\n", v.m_endian);
        for (const VoxfFieldSpecifier& f : v.m_fields) {
            text += Printf("Field %d ( Position %d Size %d Format %s Offset %.9g Scale %.9g", f.m_fieldId,
                           f.m_position, f.m_size, FormatWord(f.m_format), static_cast<double>(f.m_offset),
                           static_cast<double>(f.m_scale));
            text += " Name \"" + f.m_name + "\"";
            if (!f.m_description.empty()) text += " Description \"" + f.m_description + "\"";
            text += " )\n";
        }
        if (v.m_hasModelMatrix) {
            text += "ModelMatrix (";
            for (double m : v.m_modelMatrix) text += Printf(" %.17g", m);
            text += " )\n";
        }
        AppendTextLines(text, "Title", v.m_title);
        AppendTextLines(text, "Copyright", v.m_copyright);
        AppendAttributes(text, v.m_attributes);
        AppendData(text, v.m_data);
        text += "##\f\n";
        if (!put(text) || !WriteVoxels(v, inSink)) return kULMErrWrite;
        for (const VoxDataBlock& d : v.m_data) {
            if (!put(d.m_bytes)) return kULMErrWrite;
        }
    }
    return kULMOK;
}

ULMStatus VoxFileWriter::WriteToString(std::string& outBytes) const {
    outBytes.clear();
    return Write([&](const void* bytes, size_t size) {
        outBytes.append(static_cast<const char*>(bytes), size);
        return true;
    });
}

ULMStatus VoxFileWriter::WriteToFile(const char* inFileName, std::string* outReason) const {
    if (inFileName == nullptr || *inFileName == '\0') return kULMErrArgument;
    const ULMStatus check = Check();
    if (ULMFailed(check)) return check;
    int error = 0;
    const auto failed = [&](int inError) {
        if (outReason != nullptr) *outReason = std::strerror(inError);
        return kULMErrWrite;
    };
    // A name of our own, made with O_EXCL rather than mkstemp: the file then
    // takes the usual mode through the process's umask, which a library
    // must not change even for a moment.
    static std::atomic<unsigned> s_serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = std::string(inFileName) + "." + std::to_string(::getpid()) + "." +
                    std::to_string(s_serial.fetch_add(1)) + ".part";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return failed(errno);
    }
    if (fd < 0) return failed(EEXIST);
    ULMStatus status = Write([fd, &error](const void* bytes, size_t size) {
        const auto* p = static_cast<const uint8_t*>(bytes);
        while (size > 0) {
            const ssize_t n = ::write(fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    });
    if (::close(fd) != 0 && status == kULMOK) {
        error = errno;
        status = kULMErrWrite;
    }
    if (status == kULMOK && std::rename(temporary.c_str(), inFileName) != 0) {
        error = errno;
        status = kULMErrWrite;
    }
    if (status == kULMOK) return kULMOK;
    ::unlink(temporary.c_str());
    return status == kULMErrWrite ? failed(error != 0 ? error : EIO) : status;
}

}  // namespace ulm3
