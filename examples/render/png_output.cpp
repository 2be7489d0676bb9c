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

// What went wrong while libpng wrote: the system's error of a failed write,
// or libpng's own message. libpng's errors come back here instead of being
// printed, so that a failed run says one thing, once.
struct WriteState {
    FILE* file = nullptr;
    int error = 0;
    std::string message;
};

void WriteData(png_structp inPng, png_bytep inData, size_t inLength) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(inPng));
    if (std::fwrite(inData, 1, inLength, state->file) != inLength) {
        state->error = errno != 0 ? errno : EIO;
        png_error(inPng, "write");
    }
}

void FlushData(png_structp inPng) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(inPng));
    if (std::fflush(state->file) != 0) {
        state->error = errno != 0 ? errno : EIO;
        png_error(inPng, "write");
    }
}

void Error(png_structp inPng, png_const_charp inMessage) {
    auto* state = static_cast<WriteState*>(png_get_error_ptr(inPng));
    if (state->message.empty()) state->message = inMessage;
    png_longjmp(inPng, 1);
}

void Warning(png_structp, png_const_charp) {}

// Nothing with a destructor lives inside the setjmp scope: libpng's errors
// leave it by longjmp.
bool WriteRows(WriteState& ioState, const std::vector<uint32_t>& inPixels, unsigned inSize,
               std::vector<png_byte>& ioRow) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ioState, Error, Warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &ioState, WriteData, FlushData);
        png_set_IHDR(png, info, inSize, inSize, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (unsigned y = 0; y < inSize; ++y) {
            const uint32_t* src = &inPixels[static_cast<size_t>(inSize - 1 - y) * inSize];
            for (unsigned x = 0; x < inSize; ++x)
                for (int c = 0; c < 3; ++c) ioRow[3 * x + c] = static_cast<png_byte>(src[x] >> (8 * c));
            png_write_row(png, ioRow.data());
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
    WriteState state;
    state.file = m_file;
    std::vector<png_byte> row(3 * static_cast<size_t>(inSize));
    const bool written = WriteRows(state, inPixels, inSize, row);
    const int closed = std::fclose(m_file);
    const int closeError = errno;
    m_file = nullptr;
    if (!written || closed != 0) {
        if (state.error != 0) outReason = std::strerror(state.error);
        else if (closed != 0) outReason = std::strerror(closeError);
        else outReason = "the picture could not be encoded: " + state.message;
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
