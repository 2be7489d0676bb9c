#include "sequence/sequence_world.h"

#include "sequence/sequence_oracles.h"

#include <cstdio>
#include <cstring>

namespace seqtest {

uint32_t VolumeSlot::HostVoxel(size_t i) const { return ReadVoxel(voxels.data(), i, Bytes()); }

World::~World() { ReleaseAll(); }

void World::Log(const std::string& line) {
    m_lines.push_back(line);
    if (m_print) std::fprintf(stderr, "  %s\n", line.c_str());
}

void World::ReleaseVolume(int slot) {
    VolumeSlot& v = volumes[slot];
    if (v.volume != nullptr) v.volume->Release();
    v = VolumeSlot{};
}

void World::ReleaseImage(int slot) {
    if (images[slot].image != nullptr) images[slot].image->Release();
    images[slot] = ImageSlot{};
}

void World::ReleaseDepth(int slot) {
    if (depths[slot].depth != nullptr) depths[slot].depth->Release();
    depths[slot] = DepthSlot{};
}

void World::ReleaseAll() {
    // Blocks of pending calls go only once their calls are waited for.
    for (auto& p : pending) {
        if (p) p->event.Wait(-1);
        p.reset();
    }
    for (int i = 0; i < kVolumeSlots; ++i) ReleaseVolume(i);
    for (int i = 0; i < kImageSlots; ++i) ReleaseImage(i);
    for (int i = 0; i < kDepthSlots; ++i) ReleaseDepth(i);
    for (auto& c : contexts) {
        if (c != nullptr) c->Release();
        c = nullptr;
    }
    for (auto& t : tables) {
        if (t != nullptr) t->Release();
        t = nullptr;
    }
}

size_t VoxelIndex(const VolumeSlot& v, int x, int y, int z) {
    return (size_t(z) * v.size[1] + size_t(y)) * v.size[0] + size_t(x);
}

bool InsideVolume(const VolumeSlot& v, const ULMVolumeRange& r) {
    for (int a = 0; a < 3; ++a) {
        if (r.m_size[a] <= 0 || r.m_origin[a] < 0) return false;
        if (int64_t(r.m_origin[a]) + r.m_size[a] > int64_t(v.size[a])) return false;
    }
    return true;
}

uint32_t ReadVoxel(const uint8_t* block, size_t i, int bytes) {
    if (bytes == 1) return block[i];
    uint16_t value;
    std::memcpy(&value, block + 2 * i, 2);
    return value;
}

void WriteVoxel(uint8_t* block, size_t i, int bytes, uint32_t value) {
    if (bytes == 1) {
        block[i] = uint8_t(value);
        return;
    }
    const uint16_t word = uint16_t(value);
    std::memcpy(block + 2 * i, &word, 2);
}

std::vector<int32_t> ModelOf(const VolumeSlot& v, const ULMVolumeRange& r) {
    std::vector<int32_t> out;
    out.reserve(size_t(r.XSize()) * r.YSize() * r.ZSize());
    for (int z = 0; z < r.ZSize(); ++z)
        for (int y = 0; y < r.YSize(); ++y)
            for (int x = 0; x < r.XSize(); ++x)
                out.push_back(v.model[VoxelIndex(v, r.XOrigin() + x, r.YOrigin() + y, r.ZOrigin() + z)]);
    return out;
}

void StoreModel(VolumeSlot& v, const ULMVolumeRange& r, const uint8_t* block, bool inKnown) {
    ++v.writes;
    v.failedJobsAtWrite = FailedJobs();
    ULMVolumeRange inside = r;
    const ULMVolumeRange whole(int(v.size[0]), int(v.size[1]), int(v.size[2]), 0, 0, 0);
    inside.Intersect(whole);
    if (inside.IsEmpty()) return;
    for (int z = 0; z < inside.ZSize(); ++z)
        for (int y = 0; y < inside.YSize(); ++y)
            for (int x = 0; x < inside.XSize(); ++x) {
                const int vx = inside.XOrigin() + x, vy = inside.YOrigin() + y, vz = inside.ZOrigin() + z;
                const size_t at = (size_t(vz - r.ZOrigin()) * r.YSize() + size_t(vy - r.YOrigin())) * r.XSize() +
                                  size_t(vx - r.XOrigin());
                v.model[VoxelIndex(v, vx, vy, vz)] =
                    inKnown && block != nullptr ? int32_t(ReadVoxel(block, at, v.Bytes())) : kUnknown;
            }
}

void ForgetBoardOnly(VolumeSlot& v) {
    ++v.writes;
    v.failedJobsAtWrite = FailedJobs();
    for (size_t i = 0; i < v.model.size(); ++i) {
        if (!v.hostVoxels || v.model[i] != int32_t(v.HostVoxel(i))) v.model[i] = kUnknown;
    }
}

std::string RangeText(const ULMVolumeRange& r) {
    char text[96];
    std::snprintf(text, sizeof text, "%dx%dx%d@%d,%d,%d", r.XSize(), r.YSize(), r.ZSize(), r.XOrigin(),
                  r.YOrigin(), r.ZOrigin());
    return text;
}

std::string ImageRangeText(const ULMImageRange& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%dx%d@%d,%d", r.XSize(), r.YSize(), r.XOrigin(), r.YOrigin());
    return text;
}

const char* KindText(VolumeKind k) {
    switch (k) {
        case VolumeKind::kPlain: return "plain";
        case VolumeKind::kBands: return "bands";
        case VolumeKind::kBricksOnBoard: return "bricks-board";
        case VolumeKind::kBricksOnHost: return "bricks-host";
    }
    return "?";
}

std::string LocationText(ULMLocation l) {
    switch (l) {
        case kULMSystem: return "host";
        case kULMAnyBoard: return "any";
        case kULMMultiBoardMode1: return "mb1";
        case kULMMultiBoardMode2: return "mb2";
        default: return "board" + std::to_string(int(l));
    }
}

}  // namespace seqtest
