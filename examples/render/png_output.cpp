// PNG writing of ulm3_render through libpng.
#include "render/png_output.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ulm3_render {

namespace {

bool WriteRows(FILE* ioFile, const std::vector<uint32_t>& inPixels, unsigned inSize) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, ioFile);
        png_set_IHDR(png, info, inSize, inSize, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<png_byte> row(3 * inSize);
        for (unsigned y = 0; y < inSize; ++y) {
            const uint32_t* src = &inPixels[static_cast<size_t>(inSize - 1 - y) * inSize];
            for (unsigned x = 0; x < inSize; ++x)
                for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<png_byte>(src[x] >> (8 * c));
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return ok;
}

}  // namespace

PngOutput::~PngOutput() {
    if (m_file != nullptr) std::fclose(m_file);
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
}

bool PngOutput::Open(const std::string& inTarget, std::string& outReason) {
    m_target = inTarget;
    std::string name = inTarget + ".XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        outReason = std::strerror(errno);
        return false;
    }
    m_temporary = name;
    m_file = ::fdopen(fd, "wb");
    if (m_file == nullptr) {
        outReason = std::strerror(errno);
        ::close(fd);
        return false;
    }
    return true;
}

bool PngOutput::Commit(const std::vector<uint32_t>& inPixels, unsigned inSize, std::string& outReason) {
    const bool written = WriteRows(m_file, inPixels, inSize);
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (!written || closed != 0) {
        outReason = closed != 0 ? std::strerror(errno) : "the picture could not be encoded";
        return false;
    }
    // mkstemp makes the file private; a picture is for anyone who may read the folder.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(m_temporary.c_str(), 0666 & ~mask);
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        outReason = std::strerror(errno);
        return false;
    }
    m_temporary.clear();
    return true;
}

}  // namespace ulm3_render
