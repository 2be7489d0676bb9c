// A read cursor over a byte source, for text that is read a byte at a time.
#pragma once

#include <cstdint>

#include "volume/vox_byte_source.h"

namespace ulm3 {

class VoxByteReader {
public:
    explicit VoxByteReader(VoxByteSource& inSource) : m_source(inSource) {}
    VoxByteReader(const VoxByteReader&) = delete;
    VoxByteReader& operator=(const VoxByteReader&) = delete;

    int64_t Offset() const { return m_offset; }
    // Moves the cursor; a position past the end is allowed (reads there end).
    void SeekTo(int64_t inOffset) { m_offset = inOffset; }

    // The byte at the cursor, which then advances; -1 once no byte can be
    // read (end of the data or a failed read).
    int ReadOneByte();
    // Reads up to inSize bytes at the cursor and advances past them; the
    // count read.
    int64_t ReadBytes(void* outBuffer, int64_t inSize);

private:
    static constexpr int64_t kBufferSize = 4096;

    VoxByteSource& m_source;
    int64_t m_offset = 0;
    // The bytes [m_bufferStart, m_bufferStart + m_bufferFill) of the source.
    uint8_t m_buffer[kBufferSize] = {};
    int64_t m_bufferStart = 0;
    int64_t m_bufferFill = 0;
};

}  // namespace ulm3
