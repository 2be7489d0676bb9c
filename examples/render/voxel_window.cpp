// Histogram, automatic window and table fill of ulm3_render.
#include "render/voxel_window.h"

#include <algorithm>
#include <bit>
#include <cstring>

using namespace ulm3;

namespace ulm3_render {

namespace {

// The background's noise ends where its value count falls below this share
// of the background's own count.
constexpr double kBackgroundTail = 1.0 / 32.0;
// The top of the window leaves out this share of the voxels above the
// background: a few outliers should not darken everything else.
constexpr double kTopShare = 0.005;

unsigned ReadWord(const uint8_t* inVoxel, int inBytes) {
    if (inBytes == 1) return *inVoxel;
    if (inBytes == 2) {
        uint16_t v = 0;
        std::memcpy(&v, inVoxel, 2);
        return v;
    }
    uint32_t v = 0;
    std::memcpy(&v, inVoxel, 4);
    return v;
}

}  // namespace

ULMStatus CountField0(const ULMVolume& inVolume, FieldHistogram& outHistogram) {
    const ULMFieldDescriptor field = inVolume.GetFieldDescriptor(kULMField0);
    const int voxelBytes = inVolume.GetVoxelSize() / 8;
    const bool unsignedField = field.m_format == kULMUnsignedFraction || field.m_format == kULMUnsignedInteger;
    const bool wordSize = voxelBytes == 1 || voxelBytes == 2 || voxelBytes == 4;
    if (!unsignedField || !wordSize || field.m_size < 1 || field.m_size > 16) return kULMErrFormat;
    ULMVolumeRange range = inVolume.GetActiveSubVolume();
    if (range.XSize() <= 0 || range.YSize() <= 0 || range.ZSize() <= 0) range = inVolume.GetRange();
    outHistogram = FieldHistogram();
    outHistogram.counts.assign(size_t{1} << field.m_size, 0);
    const unsigned mask = (1u << field.m_size) - 1;
    // A slice at a time: the histogram needs no copy of the whole volume.
    const size_t sliceVoxels = static_cast<size_t>(range.XSize()) * range.YSize();
    std::vector<uint8_t> voxels(sliceVoxels * voxelBytes);
    for (int z = 0; z < range.ZSize(); ++z) {
        const int atZ = range.ZOrigin() + z;
        const ULMVolumeRange one(range.XSize(), range.YSize(), 1, range.XOrigin(), range.YOrigin(), atZ);
        const ULMStatus status = inVolume.Unload(voxels.data(), one, kULMUseSource);
        if (status != kULMOK) return status;
        for (size_t i = 0; i < sliceVoxels; ++i)
            ++outHistogram.counts[ReadWord(&voxels[i * voxelBytes], voxelBytes) >> field.m_position & mask];
    }
    for (size_t v = 0; v < outHistogram.counts.size(); ++v) {
        if (outHistogram.counts[v] != 0) outHistogram.highest = static_cast<unsigned>(v);
    }
    return kULMOK;
}

int SignificantBits(const FieldHistogram& inHistogram) {
    return std::max(8, static_cast<int>(std::bit_width(inHistogram.highest)));
}

VoxelWindow ChooseWindow(const FieldHistogram& inHistogram) {
    const std::vector<uint64_t>& h = inHistogram.counts;
    const auto top = static_cast<unsigned>(h.size() - 1);
    const auto background = static_cast<unsigned>(std::max_element(h.begin(), h.end()) - h.begin());
    VoxelWindow window;
    window.lo = background;
    const double tail = static_cast<double>(h[background]) * kBackgroundTail;
    while (window.lo < top && static_cast<double>(h[window.lo + 1]) >= tail) ++window.lo;
    uint64_t rest = 0;
    for (unsigned v = window.lo + 1; v <= top; ++v) rest += h[v];
    window.hi = window.lo + 1;
    const auto keep = static_cast<uint64_t>(static_cast<double>(rest) * (1.0 - kTopShare));
    uint64_t seen = 0;
    for (unsigned v = window.lo + 1; v <= top && seen < keep; ++v) {
        seen += h[v];
        window.hi = v;
    }
    if (window.hi > top) window.hi = top;
    if (window.lo >= window.hi) window.lo = window.hi - 1;
    return window;
}

ULMStatus FillTable(const VoxelWindow& inWindow, int inBits, double inOpacity, ULMLookupTable& ioTable) {
    const unsigned entries = ioTable.GetSize();
    const double highest = static_cast<double>((1u << inBits) - 1);
    const double width = static_cast<double>(inWindow.hi) - static_cast<double>(inWindow.lo);
    std::vector<ULMRGBAFloat> colors(entries);
    for (unsigned e = 0; e < entries; ++e) {
        // The value the entry stands for, in the voxels' own units.
        const double value = highest * e / (entries - 1);
        const double t = width > 0.0 ? std::clamp((value - inWindow.lo) / width, 0.0, 1.0) : 0.0;
        const auto grey = static_cast<float>(t);
        colors[e] = ULMRGBAFloat(grey, grey, grey, static_cast<float>(t * inOpacity));
    }
    return ioTable.SetEntries(0, entries, colors.data());
}

}  // namespace ulm3_render
