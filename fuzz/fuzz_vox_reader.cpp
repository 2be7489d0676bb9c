// Opens arbitrary bytes as a volume file in every read mode and exercises
// the reader: unloads, maps, updates and field operations on boxes chosen
// from the volume's size. Besides crashes and sanitizer reports, a finding is
// a mode that breaks its promise: read-only and copy-on-write leave the file
// as it was, read-write changes nothing outside the voxels it was given.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "volume/sub_volume.h"
#include "volume/vox_file_reader.h"

using namespace ulm3;

namespace {

constexpr int64_t kMaxBoxBytes = 1 << 16;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The input as a file in memory, reachable by name.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) {
        m_fd = memfd_create("vox", 0);
        Check(m_fd >= 0);
        Check(size == 0 || write(m_fd, data, size) == static_cast<ssize_t>(size));
        snprintf(m_name, sizeof m_name, "/proc/self/fd/%d", m_fd);
    }
    ~MemoryFile() { close(m_fd); }
    const char* Name() const { return m_name; }
    std::string Contents() const {
        std::string s(static_cast<size_t>(lseek(m_fd, 0, SEEK_END)), '\0');
        Check(pread(m_fd, s.data(), s.size(), 0) == static_cast<ssize_t>(s.size()));
        return s;
    }

private:
    int m_fd = -1;
    char m_name[64] = {};
};

// A box of at most kMaxBoxBytes inside the volume, placed by the seed.
ULMVolumeRange PickBox(const ULMVolumeRange& whole, int voxelBytes, uint32_t seed) {
    ULMVolumeRange box(0, 0, 0, 0, 0, 0);
    int64_t budget = kMaxBoxBytes / voxelBytes;
    for (int a = 0; a < 3; ++a) {
        const int64_t size = whole.m_size[a];
        if (size == 0) return ULMVolumeRange(0, 0, 0, 0, 0, 0);
        const int64_t extent = std::max<int64_t>(1, std::min<int64_t>({size, budget, 1 + (seed >> (a * 8) & 0x3F)}));
        const int64_t origin = (seed >> (a * 5 + 3)) % (size - extent + 1);
        box.m_size[a] = static_cast<int32_t>(extent);
        box.m_origin[a] = static_cast<int32_t>(origin);
        budget = std::max<int64_t>(1, budget / extent);
    }
    return box;
}

void Exercise(ULMVoxFileReader& r, uint32_t seed) {
    const ULMVolumeRange whole = r.GetVolumeSize();
    const int bytes = r.GetVoxelSize() / 8;
    Check(bytes == 1 || bytes == 2 || bytes == 4 || bytes == 8);
    const ULMVolumeRange box = PickBox(whole, bytes, seed);
    const ULMVolumeRange other = PickBox(whole, bytes, seed * 2654435761u + 1);
    int64_t boxBytes = 0;
    Check(BoxBytes(box, bytes, boxBytes) && boxBytes <= kMaxBoxBytes);
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max<int64_t>(boxBytes, 8)), 0x5A);

    r.UnloadVoxels(buffer.data(), box);
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    if (r.MapVoxels(box, 0, &p, &ys, &zs) == kULMOK) {
        void* q = nullptr;
        if (r.MapVoxels(other, 0, &q, &ys, &zs) == kULMOK) r.ReleaseVoxels(q);
        r.ReleaseVoxels(p);
    }
    r.UpdateVoxels(box, buffer.data());
    if (r.MapVoxels(other, 1, &p, &ys, &zs) == kULMOK) r.ReleaseVoxels(p);
    for (int position : {0, 8, 16}) {
        for (int size : {8, 16}) {
            const ULMFieldDescriptor fd(position, size, kULMUnsignedFraction);
            r.UnloadVoxelField(buffer.data(), box, fd);
            r.UpdateVoxelField(buffer.data(), box, fd);
        }
    }
    r.UnloadVoxelField(buffer.data(), box, r.GetFieldDescriptor(kULMField0));
    r.ChangedRange(whole);
    r.ResetChangedRange();
}

// Reopens the file and checks that the box holds what was written, but
// for the bits a widened field gained: those read 0 whatever was written.
void CheckWrittenBack(const char* name, const ULMVolumeRange& box, const std::vector<uint8_t>& written) {
    ULMVoxFileReader* again = new ULMVoxFileReader(name, ULMVoxFileReader::kReadOnly, 0);
    again->AddRef();
    const int bytes = again->GetVoxelSize() / 8;
    Check(bytes > 0);
    std::vector<uint8_t> expected(written);
    const uint64_t declared = again->GetDeclaredBits();
    for (size_t at = 0; at + static_cast<size_t>(bytes) <= expected.size(); at += static_cast<size_t>(bytes)) {
        uint64_t voxel = 0;
        std::memcpy(&voxel, expected.data() + at, static_cast<size_t>(bytes));  // host order, as voxels are served
        voxel &= declared;
        std::memcpy(expected.data() + at, &voxel, static_cast<size_t>(bytes));
    }
    std::vector<uint8_t> out(expected.size());
    Check(again->UnloadVoxels(out.data(), box) == kULMOK && out == expected);
    again->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t seed = size >= 4 ? static_cast<uint32_t>(data[size - 1] | data[size - 2] << 8 | data[size - 3] << 16 |
                                                            static_cast<uint32_t>(data[size - 4]) << 24)
                                    : 0;
    MemoryFile file(data, size);
    const std::string original(reinterpret_cast<const char*>(data), size);
    for (int mode = 0; mode < 4; ++mode) {
        for (int volume = 0; volume < 2; ++volume) {
            ULMVoxFileReader* r = new ULMVoxFileReader(file.Name(), static_cast<ULMVolume::ReadMode>(mode), volume);
            r->AddRef();
            const bool usable = r->GetVoxelSize() != 0;
            if (usable) Exercise(*r, seed);
            r->Release();
            // Exercise writes back only what it read, so even read-write
            // must leave the file byte for byte as it was.
            Check(file.Contents() == original);
        }
    }

    // Read-write: a known pattern written into a box comes back, and the
    // bytes before the volume's voxels stay as they were.
    MemoryFile writable(data, size);
    ULMVoxFileReader* r = new ULMVoxFileReader(writable.Name(), ULMVoxFileReader::kReadWrite, 0);
    r->AddRef();
    if (r->GetVoxelSize() != 0) {
        const int bytes = r->GetVoxelSize() / 8;
        const ULMVolumeRange box = PickBox(r->GetVolumeSize(), bytes, seed);
        int64_t boxBytes = 0;
        BoxBytes(box, bytes, boxBytes);
        std::vector<uint8_t> pattern(static_cast<size_t>(boxBytes));
        for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 37 + seed);
        const int64_t start = r->GetDescription().m_startOfVolume;
        Check(r->UpdateVoxels(box, pattern.data()) == kULMOK);
        r->Release();
        const std::string after = writable.Contents();
        Check(after.size() == original.size());
        Check(after.compare(0, static_cast<size_t>(start), original, 0, static_cast<size_t>(start)) == 0);
        if (!HoldsNoVoxel(box)) CheckWrittenBack(writable.Name(), box, pattern);
    } else {
        r->Release();
    }
    return 0;
}
