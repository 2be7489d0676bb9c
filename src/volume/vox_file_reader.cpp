#include "volume/vox_file_reader.h"

#include <cstring>
#include <new>

#include "foundation/diagnostics.h"
#include "foundation/message_log.h"
#include "foundation/shareable.h"
#include "volume/sub_volume.h"
#include "volume/vox_byte_reader.h"

namespace ulm3 {

namespace {

// inCount bits from bit inFirst up, within a 64-bit voxel.
uint64_t BitRange(int64_t inFirst, int64_t inCount) {
    if (inFirst < 0 || inCount <= 0 || inFirst >= 64) return 0;
    const uint64_t upward = ~uint64_t{0} << inFirst;
    return inFirst + inCount >= 64 ? upward : upward & ~(~uint64_t{0} << (inFirst + inCount));
}

template <typename Word>
void ClearBits(uint8_t* ioVoxels, int64_t inCount, uint64_t inKept) {
    for (int64_t i = 0; i < inCount; ++i, ioVoxels += sizeof(Word)) {
        Word v;
        memcpy(&v, ioVoxels, sizeof v);
        v = static_cast<Word>(v & inKept);
        memcpy(ioVoxels, &v, sizeof v);
    }
}

template <typename Word>
void MergeBits(const uint8_t* inSaved, uint8_t* ioFile, int64_t inCount, uint64_t inSavedBits) {
    for (int64_t i = 0; i < inCount; ++i, inSaved += sizeof(Word), ioFile += sizeof(Word)) {
        Word saved, file;
        memcpy(&saved, inSaved, sizeof saved);
        memcpy(&file, ioFile, sizeof file);
        file = static_cast<Word>((saved & inSavedBits) | (file & ~inSavedBits));
        memcpy(ioFile, &file, sizeof file);
    }
}

}  // namespace

ULMVoxFileReader::ULMVoxFileReader(const char* fname, ULMVolume::ReadMode inReadMode, int inVolumeNumber) : m_readMode(inReadMode) {
    if (!Construct(fname, inVolumeNumber)) m_voxelSizeBits = 0;
}

bool ULMVoxFileReader::Construct(const char* fname, int inVolumeNumber) {
    if (m_readMode < kReadOnly || m_readMode > kReadWriteBuffer || fname == nullptr || *fname == '\0') return false;
    m_filename = fname;
    if (!m_file.Open(fname, m_readMode == kReadWrite)) return false;
    {
        VoxByteReader reader(m_file);
        VoxFileParser parser(reader);
        if (!parser.Parse(inVolumeNumber, m_description)) return false;
    }
    m_wholeRange = ULMVolumeRange(m_description.m_sizeX, m_description.m_sizeY, m_description.m_sizeZ, 0, 0, 0);
    m_voxelSizeBytes = m_description.m_voxelSizeBytes;
    m_convertEndian = m_description.m_convertEndian;
    m_startOfVolume = m_description.m_startOfVolume;
    m_modelMatrix = ULMMatrix(m_description.m_modelMatrix);
    WidenFields();

    if (m_readMode == kReadWrite || m_readMode == kCopyOnWrite) {
        // A short file could declare any size: its voxels must be there
        // before memory is set aside for them.
        if (!BoxInFile(m_wholeRange) || !AllocateLoaded(GetRangeSizeBytes(m_wholeRange))) return false;
        m_loadedRange = m_wholeRange;
        if (ULMFailed(ReadVoxels(m_wholeRange, m_loadedBase.get()))) {
            m_loadedRange.Reset();
            return false;
        }
        m_fullyLoaded = true;
        m_readOnly = false;
    } else {
        m_readOnly = m_readMode == kReadOnly;
    }
    m_writeToFile = m_readMode == kReadWrite;
    m_modifiedRange = m_wholeRange;
    SetObjectType(this, kObjectTypeULMVoxFileReader);
    m_voxelSizeBits = m_voxelSizeBytes * 8;
    return true;
}

ULMVoxFileReader::~ULMVoxFileReader() {
    if (m_file.IsOpen()) {
        if (m_writeToFile && !HoldsNoVoxel(m_writeRange)) {
            const ULMStatus status = WriteVoxels();
            // The caller has no status to look at any more; the log is the
            // only place left to say that changes were lost.
            if (ULMFailed(status)) {
                ULMOutputMessage("ULMVoxFileReader: changes to \"%s\" were not written back: %s (%d)\n",
                                 m_filename.c_str(), UlmGetStatusString(status), static_cast<int>(status));
            }
        }
        m_file.Close();
    }
}

void ULMVoxFileReader::WidenFields() {
    const int voxelBits = m_voxelSizeBytes * 8;
    // The bits each field number claims; of two with one number, the one
    // the file defined last (the first FindField finds).
    const auto claimed = [this](int32_t inExcept) {
        uint64_t bits = 0;
        for (const VoxfFieldSpecifier& f : m_description.m_fieldSpecifiers)
            if (f.m_fieldId != inExcept && m_description.FindField(f.m_fieldId) == &f)
                bits |= BitRange(f.m_position, f.m_size);
        return bits;
    };
    for (int i = 0; i < kServedFields; ++i) {
        const VoxfFieldSpecifier* f = m_description.FindField(i);
        if (f == nullptr) {
            m_fields[i] = ULMFieldDescriptor();
            continue;
        }
        m_fields[i] = ULMFieldDescriptor(f->m_position, f->m_size, static_cast<ULMFieldFormat>(f->m_format));
        // A signed field cannot gain bits above its sign.
        const bool unsignedField = f->m_format == kULMUnsignedFraction || f->m_format == kULMUnsignedInteger;
        if (!unsignedField || f->m_size < 1 || f->m_size > 15 || f->m_size % 4 == 0) continue;
        const int32_t wide = (f->m_size + 3) / 4 * 4;
        if (f->m_position < 0 || f->m_position % 4 != 0 || int64_t{f->m_position} + wide > voxelBits) continue;
        const uint64_t gained = BitRange(int64_t{f->m_position} + f->m_size, wide - f->m_size);
        if ((gained & claimed(i)) != 0) continue;
        m_fields[i].m_size = wide;
        m_declaredBits &= ~gained;
    }
}

void ULMVoxFileReader::ClearUndeclaredBits(uint8_t* ioVoxels, int64_t inCount) const {
    if (m_voxelSizeBytes == 1) ClearBits<uint8_t>(ioVoxels, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 2) ClearBits<uint16_t>(ioVoxels, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 4) ClearBits<uint32_t>(ioVoxels, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 8) ClearBits<uint64_t>(ioVoxels, inCount, m_declaredBits);
}

void ULMVoxFileReader::KeepUndeclaredBits(const uint8_t* inSaved, uint8_t* ioFile, int64_t inCount) const {
    if (m_voxelSizeBytes == 1) MergeBits<uint8_t>(inSaved, ioFile, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 2) MergeBits<uint16_t>(inSaved, ioFile, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 4) MergeBits<uint32_t>(inSaved, ioFile, inCount, m_declaredBits);
    if (m_voxelSizeBytes == 8) MergeBits<uint64_t>(inSaved, ioFile, inCount, m_declaredBits);
}

ULMFieldDescriptor ULMVoxFileReader::GetFieldDescriptor(ULMFieldNumber inField) const {
    if (inField < 0 || inField >= kServedFields) return ULMFieldDescriptor();
    return m_fields[inField];
}

int64_t ULMVoxFileReader::GetVoxelOffset(const ULMVolumeRange& inRange, int inX, int inY, int inZ) const {
    ULM_ASSERT(inX >= inRange.XOrigin() && inX < inRange.XOrigin() + inRange.XSize());
    ULM_ASSERT(inY >= inRange.YOrigin() && inY < inRange.YOrigin() + inRange.YSize());
    ULM_ASSERT(inZ >= inRange.ZOrigin() && inZ < inRange.ZOrigin() + inRange.ZSize());
    return VoxelIndex(inRange, inX, inY, inZ) * m_voxelSizeBytes;
}

int64_t ULMVoxFileReader::GetRangeSizeBytes(const ULMVolumeRange& inRange) const {
    int64_t bytes = 0;
    return BoxBytes(inRange, m_voxelSizeBytes, bytes) ? bytes : -1;
}

bool ULMVoxFileReader::BoxInFile(const ULMVolumeRange& inBox) {
    if (HoldsNoVoxel(inBox)) return true;
    // X varies fastest, so the box's last voxel is its farthest byte.
    const int64_t last = GetVoxelOffset(m_wholeRange, inBox.XOrigin() + inBox.XSize() - 1,
                                        inBox.YOrigin() + inBox.YSize() - 1, inBox.ZOrigin() + inBox.ZSize() - 1);
    const int64_t length = m_file.Length();
    return length >= 0 && m_startOfVolume + last + m_voxelSizeBytes <= length;
}

bool ULMVoxFileReader::AllocateLoaded(int64_t inBytes) {
    if (inBytes < 0 || static_cast<uint64_t>(inBytes) > static_cast<uint64_t>(PTRDIFF_MAX)) return false;
    m_loadedBase.reset(new (std::nothrow) uint8_t[inBytes > 0 ? static_cast<size_t>(inBytes) : 1]);
    m_loadedSize = m_loadedBase ? inBytes : 0;
    return m_loadedBase != nullptr;
}

void ULMVoxFileReader::ConvertEndian(uint8_t* ioBuffer, int64_t inCount) const {
    ConvertEndian(ioBuffer, ioBuffer, inCount);
}

void ULMVoxFileReader::ConvertEndian(const uint8_t* inSource, uint8_t* outDestination, int64_t inCount) const {
    if (m_voxelSizeBytes == 2) {
        for (int64_t i = 0; i < inCount; ++i, inSource += 2, outDestination += 2) {
            const uint8_t a = inSource[0], b = inSource[1];
            outDestination[0] = b;
            outDestination[1] = a;
        }
    } else if (m_voxelSizeBytes == 4) {
        for (int64_t i = 0; i < inCount; ++i, inSource += 4, outDestination += 4) {
            const uint8_t a = inSource[0], b = inSource[1], c = inSource[2], d = inSource[3];
            outDestination[0] = d;
            outDestination[1] = c;
            outDestination[2] = b;
            outDestination[3] = a;
        }
    } else if (inSource != outDestination) {
        // Other sizes are handed over as stored.
        memmove(outDestination, inSource, static_cast<size_t>(inCount * m_voxelSizeBytes));
    }
}

ULMStatus ULMVoxFileReader::ReadVoxels(const ULMVolumeRange& inRange, uint8_t* outBuffer) {
    if (!IsInsideVolume(m_wholeRange, inRange)) return kULMErrArgument;
    if (HoldsNoVoxel(inRange)) return kULMOK;
    uint8_t* const start = outBuffer;
    const int64_t rowBytes = int64_t{inRange.XSize()} * m_voxelSizeBytes;
    const auto read = [&](int y, int z, int64_t bytes) {
        const int64_t at = m_startOfVolume + GetVoxelOffset(m_wholeRange, inRange.XOrigin(), y, z);
        if (m_file.ReadFully(at, outBuffer, bytes) != bytes) return false;
        outBuffer += bytes;
        return true;
    };
    bool ok = true;
    const int x0 = inRange.XOrigin(), y0 = inRange.YOrigin(), z0 = inRange.ZOrigin();
    if (x0 == 0 && inRange.XSize() == m_wholeRange.XSize()) {
        if (y0 == 0 && inRange.YSize() == m_wholeRange.YSize()) {
            ok = read(0, z0, rowBytes * inRange.YSize() * inRange.ZSize());
        } else {
            for (int z = z0; ok && z < z0 + inRange.ZSize(); ++z) ok = read(y0, z, rowBytes * inRange.YSize());
        }
    } else {
        for (int z = z0; ok && z < z0 + inRange.ZSize(); ++z) {
            for (int y = y0; ok && y < y0 + inRange.YSize(); ++y) ok = read(y, z, rowBytes);
        }
    }
    if (!ok) return kULMErrRead;
    const int64_t count = (outBuffer - start) / m_voxelSizeBytes;
    if (m_convertEndian) ConvertEndian(start, count);
    if (m_declaredBits != ~uint64_t{0}) ClearUndeclaredBits(start, count);
    return kULMOK;
}

ULMStatus ULMVoxFileReader::WriteVoxels() {
    if (HoldsNoVoxel(m_writeRange)) return kULMOK;
    const int64_t count = m_writeRange.XSize();
    const int64_t rowBytes = count * m_voxelSizeBytes;
    // Bits that no field declares were cleared on reading: the file's own
    // go back in their place.
    const bool merge = m_declaredBits != ~uint64_t{0};
    std::unique_ptr<uint8_t[]> row;
    if (m_convertEndian || merge) {
        row.reset(new (std::nothrow) uint8_t[static_cast<size_t>(rowBytes)]);
        if (!row) return kULMErrAlloc;
    }
    const int x0 = m_writeRange.XOrigin();
    for (int z = m_writeRange.ZOrigin(); z < m_writeRange.ZOrigin() + m_writeRange.ZSize(); ++z) {
        for (int y = m_writeRange.YOrigin(); y < m_writeRange.YOrigin() + m_writeRange.YSize(); ++y) {
            const int64_t at = m_startOfVolume + GetVoxelOffset(m_wholeRange, x0, y, z);
            const uint8_t* data = m_loadedBase.get() + GetVoxelOffset(m_loadedRange, x0, y, z);
            if (merge) {
                if (m_file.ReadFully(at, row.get(), rowBytes) != rowBytes) return kULMErrRead;
                if (m_convertEndian) ConvertEndian(row.get(), count);
                KeepUndeclaredBits(data, row.get(), count);
                if (m_convertEndian) ConvertEndian(row.get(), count);
                data = row.get();
            } else if (m_convertEndian) {
                ConvertEndian(data, row.get(), count);
                data = row.get();
            }
            if (m_file.WriteFully(at, data, rowBytes) != rowBytes) return kULMErrWrite;
        }
    }
    return kULMOK;
}

void ULMVoxFileReader::MarkChanged(const ULMVolumeRange& inSubVol) {
    m_modifiedRange.Union(inSubVol);
    if (m_writeToFile) m_writeRange.Union(inSubVol);
    IncSerial();
}

ULMStatus ULMVoxFileReader::MapVoxels(const ULMVolumeRange& inSubVol, int inMayWrite, void** outVoxels,
                                      unsigned* outYStride, unsigned* outZStride) {
    if (!IsInsideVolume(m_wholeRange, inSubVol)) return kULMErrArgument;
    if (outVoxels == nullptr || outYStride == nullptr || outZStride == nullptr) return kULMErrArgument;
    if (inMayWrite && (m_readMode == kReadOnly || m_readMode == kReadWriteBuffer)) return kULMErrReadOnly;

    if (m_loadedBase && IsInsideVolume(m_loadedRange, inSubVol)) {
        *outYStride = static_cast<unsigned>(m_loadedRange.XSize());
        *outZStride = static_cast<unsigned>(m_loadedRange.YSize());
        *outVoxels = m_loadedBase.get() +
                     GetVoxelOffset(m_loadedRange, inSubVol.XOrigin(), inSubVol.YOrigin(), inSubVol.ZOrigin());
    } else if (m_mappedCount < 1) {
        // Reading past the end would fail anyway; finding out first keeps a
        // short file from making us set aside memory for what it lacks.
        if (!BoxInFile(inSubVol)) return kULMErrRead;
        const int64_t need = GetRangeSizeBytes(inSubVol);
        if (need > m_loadedSize || !m_loadedBase) {
            m_loadedBase.reset();
            m_loadedSize = 0;
            m_loadedRange.Reset();
            if (!AllocateLoaded(need)) return kULMErrAlloc;
        }
        const ULMStatus status = ReadVoxels(inSubVol, m_loadedBase.get());
        if (ULMFailed(status)) {
            m_loadedRange.Reset();
            return status;
        }
        m_loadedRange = inSubVol;
        *outYStride = static_cast<unsigned>(inSubVol.XSize());
        *outZStride = static_cast<unsigned>(inSubVol.YSize());
        *outVoxels = m_loadedBase.get();
    } else {
        // The buffer is lent out and cannot be refilled for this box.
        return kULMErrAlloc;
    }
    ++m_mappedCount;
    if (inMayWrite) MarkChanged(inSubVol);
    return kULMOK;
}

ULMStatus ULMVoxFileReader::ReleaseVoxels(void*) {
    ULM_ASSERT(m_mappedCount > 0);
    --m_mappedCount;
    return kULMOK;
}

ULMStatus ULMVoxFileReader::UnloadVoxels(void* outVoxels, const ULMVolumeRange& inSubVol) {
    if (!IsInsideVolume(m_wholeRange, inSubVol) || outVoxels == nullptr) return kULMErrArgument;
    if (HoldsNoVoxel(inSubVol)) return kULMOK;
    if (!m_loadedBase || !IsInsideVolume(m_loadedRange, inSubVol)) {
        return ReadVoxels(inSubVol, static_cast<uint8_t*>(outVoxels));
    }
    auto* out = static_cast<uint8_t*>(outVoxels);
    const size_t rowBytes = static_cast<size_t>(inSubVol.XSize()) * static_cast<size_t>(m_voxelSizeBytes);
    const int x0 = inSubVol.XOrigin(), y0 = inSubVol.YOrigin();
    for (int z = inSubVol.ZOrigin(); z < inSubVol.ZOrigin() + inSubVol.ZSize(); ++z) {
        if (inSubVol.XSize() == m_loadedRange.XSize()) {
            const size_t sliceBytes = rowBytes * static_cast<size_t>(inSubVol.YSize());
            memcpy(out, m_loadedBase.get() + GetVoxelOffset(m_loadedRange, x0, y0, z), sliceBytes);
            out += sliceBytes;
            continue;
        }
        for (int y = y0; y < y0 + inSubVol.YSize(); ++y) {
            memcpy(out, m_loadedBase.get() + GetVoxelOffset(m_loadedRange, x0, y, z), rowBytes);
            out += rowBytes;
        }
    }
    return kULMOK;
}

ULMStatus ULMVoxFileReader::UpdateVoxels(const ULMVolumeRange& inSubVol, const void* inVoxels) {
    if (inVoxels == nullptr || !m_loadedBase || !IsInsideVolume(m_loadedRange, inSubVol)) return kULMErrArgument;
    if (m_readMode == kReadOnly || m_readMode == kReadWriteBuffer) return kULMErrReadOnly;
    const auto* in = static_cast<const uint8_t*>(inVoxels);
    if (!HoldsNoVoxel(inSubVol)) {
        const size_t rowBytes = static_cast<size_t>(inSubVol.XSize()) * static_cast<size_t>(m_voxelSizeBytes);
        const int x0 = inSubVol.XOrigin();
        for (int z = inSubVol.ZOrigin(); z < inSubVol.ZOrigin() + inSubVol.ZSize(); ++z) {
            for (int y = inSubVol.YOrigin(); y < inSubVol.YOrigin() + inSubVol.YSize(); ++y) {
                memcpy(m_loadedBase.get() + GetVoxelOffset(m_loadedRange, x0, y, z), in, rowBytes);
                in += rowBytes;
            }
        }
    }
    MarkChanged(inSubVol);
    return kULMOK;
}

ULMVolumeRange ULMVoxFileReader::ChangedRange(const ULMVolumeRange& inVolumeRange) const {
    return ULMVolumeRange::Intersect(m_modifiedRange, inVolumeRange);
}

}  // namespace ulm3
