#include "volume/vox_byte_reader.h"

namespace ulm3 {

int VoxByteReader::ReadOneByte() {
    if (m_offset < 0) return -1;
    if (m_offset < m_bufferStart || m_offset >= m_bufferStart + m_bufferFill) {
        const int64_t got = m_source.ReadAt(m_offset, m_buffer, kBufferSize);
        if (got <= 0) {
            m_bufferFill = 0;
            return -1;
        }
        m_bufferStart = m_offset;
        m_bufferFill = got;
    }
    const int byte = m_buffer[m_offset - m_bufferStart];
    ++m_offset;
    return byte;
}

int64_t VoxByteReader::ReadBytes(void* outBuffer, int64_t inSize) {
    if (m_offset < 0 || inSize <= 0) return 0;
    const int64_t got = m_source.ReadFully(m_offset, outBuffer, inSize);
    m_offset += got;
    return got;
}

}  // namespace ulm3
