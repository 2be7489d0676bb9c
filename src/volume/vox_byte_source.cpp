#include "volume/vox_byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace ulm3 {

namespace {

// Moves inSize bytes in steps of at most kMaxStep; a step that moves
// nothing or fails ends the transfer.
template <typename Step>
int64_t Transfer(int64_t inOffset, int64_t inSize, Step step) {
    if (inOffset < 0 || inSize < 0 || inSize > INT64_MAX - inOffset) return 0;
    int64_t total = 0;
    while (total < inSize) {
        const int64_t moved = step(inOffset + total, total, std::min(inSize - total, VoxByteSource::kMaxStep));
        if (moved <= 0) break;
        total += moved;
    }
    return total;
}

}  // namespace

int64_t VoxByteSource::ReadFully(int64_t inOffset, void* outBuffer, int64_t inSize) {
    auto* out = static_cast<uint8_t*>(outBuffer);
    return Transfer(inOffset, inSize,
                    [&](int64_t at, int64_t done, int64_t size) { return ReadAt(at, out + done, size); });
}

int64_t VoxByteSource::WriteFully(int64_t inOffset, const void* inBuffer, int64_t inSize) {
    const auto* in = static_cast<const uint8_t*>(inBuffer);
    return Transfer(inOffset, inSize,
                    [&](int64_t at, int64_t done, int64_t size) { return WriteAt(at, in + done, size); });
}

int64_t VoxMemoryByteSource::ReadAt(int64_t inOffset, void* outBuffer, int64_t inSize) {
    if (inOffset < 0 || inSize < 0) return -1;
    if (inOffset >= m_size) return 0;
    const int64_t n = std::min(inSize, m_size - inOffset);
    memcpy(outBuffer, m_data + inOffset, static_cast<size_t>(n));
    return n;
}

VoxFileByteSource::~VoxFileByteSource() { Close(); }

bool VoxFileByteSource::Open(const char* inName, bool inWritable) {
    Close();
    // Non-blocking, so that naming a FIFO cannot stall the caller; only
    // regular files are volume files.
    const int flags = (inWritable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    int fd;
    do {
        fd = ::open(inName, flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    m_fileDescriptor = fd;
    return true;
}

void VoxFileByteSource::Close() {
    if (m_fileDescriptor >= 0) {
        ::close(m_fileDescriptor);
        m_fileDescriptor = -1;
    }
}

int64_t VoxFileByteSource::ReadAt(int64_t inOffset, void* outBuffer, int64_t inSize) {
    if (m_fileDescriptor < 0 || inOffset < 0 || inSize < 0) return -1;
    ssize_t got;
    do {
        got = ::pread(m_fileDescriptor, outBuffer, static_cast<size_t>(inSize), static_cast<off_t>(inOffset));
    } while (got < 0 && errno == EINTR);
    return got;
}

int64_t VoxFileByteSource::WriteAt(int64_t inOffset, const void* inBuffer, int64_t inSize) {
    if (m_fileDescriptor < 0 || inOffset < 0 || inSize < 0) return -1;
    ssize_t put;
    do {
        put = ::pwrite(m_fileDescriptor, inBuffer, static_cast<size_t>(inSize), static_cast<off_t>(inOffset));
    } while (put < 0 && errno == EINTR);
    return put;
}

int64_t VoxFileByteSource::Length() {
    if (m_fileDescriptor < 0) return -1;
    struct stat st;
    if (fstat(m_fileDescriptor, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace ulm3
