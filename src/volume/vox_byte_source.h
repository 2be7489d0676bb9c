// Where the bytes of a volume file come from: a file descriptor with
// explicit 64-bit offsets, or a block of memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulm3 {

// Every transfer names its own offset, so no shared file position can drift
// between the header parser, the voxel reads and the write-back.
class VoxByteSource {
public:
    virtual ~VoxByteSource() = default;

    // Reads up to inSize bytes at inOffset: the count read, 0 at the end of
    // the data, -1 on failure.
    virtual int64_t ReadAt(int64_t inOffset, void* outBuffer, int64_t inSize) = 0;
    // Writes up to inSize bytes at inOffset: the count written, -1 on failure.
    virtual int64_t WriteAt(int64_t inOffset, const void* inBuffer, int64_t inSize) = 0;
    // The current length in bytes, or -1 when it cannot be told.
    virtual int64_t Length() = 0;

    // Full transfers, cut into steps of at most kMaxStep bytes; the result is
    // the number of bytes moved, short only at the end of the data or on a
    // failure.
    int64_t ReadFully(int64_t inOffset, void* outBuffer, int64_t inSize);
    int64_t WriteFully(int64_t inOffset, const void* inBuffer, int64_t inSize);

    static constexpr int64_t kMaxStep = int64_t{1} << 30;
};

class VoxMemoryByteSource : public VoxByteSource {
public:
    VoxMemoryByteSource(const void* inData, size_t inSize)
        : m_data(static_cast<const uint8_t*>(inData)), m_size(static_cast<int64_t>(inSize)) {}

    int64_t ReadAt(int64_t inOffset, void* outBuffer, int64_t inSize) override;
    // The block is the caller's and read-only.
    int64_t WriteAt(int64_t, const void*, int64_t) override { return -1; }
    int64_t Length() override { return m_size; }

private:
    const uint8_t* m_data;
    int64_t m_size;
};

class VoxFileByteSource : public VoxByteSource {
public:
    VoxFileByteSource() = default;
    ~VoxFileByteSource() override;
    VoxFileByteSource(const VoxFileByteSource&) = delete;
    VoxFileByteSource& operator=(const VoxFileByteSource&) = delete;

    // Opens for reading, or for reading and writing; false when the file
    // cannot be opened or is not a regular file.
    bool Open(const char* inName, bool inWritable);
    void Close();
    bool IsOpen() const { return m_fileDescriptor >= 0; }

    int64_t ReadAt(int64_t inOffset, void* outBuffer, int64_t inSize) override;
    int64_t WriteAt(int64_t inOffset, const void* inBuffer, int64_t inSize) override;
    int64_t Length() override;

private:
    int m_fileDescriptor = -1;
};

}  // namespace ulm3
