// Histogram, automatic window and table fill of ulm3_render.
#include "render/voxel_window.h"

#include <algorithm>
#include <bit>
#include <cmath>
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
// The most steps the window is chosen in.
constexpr unsigned kWindowSteps = 256;

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

// The window on a histogram of steps: background, its noise, percentile.
void WindowOfSteps(const std::vector<uint64_t>& h, unsigned& outLo, unsigned& outHi) {
    const auto top = static_cast<unsigned>(h.size() - 1);
    const auto background = static_cast<unsigned>(std::max_element(h.begin(), h.end()) - h.begin());
    unsigned lo = background;
    const double tail = static_cast<double>(h[background]) * kBackgroundTail;
    while (lo < top && static_cast<double>(h[lo + 1]) >= tail) ++lo;
    uint64_t rest = 0;
    for (unsigned v = lo + 1; v <= top; ++v) rest += h[v];
    unsigned hi = lo + 1;
    const auto keep = static_cast<uint64_t>(static_cast<double>(rest) * (1.0 - kTopShare));
    uint64_t seen = 0;
    for (unsigned v = lo + 1; v <= top && seen < keep; ++v) {
        seen += h[v];
        hi = v;
    }
    outLo = lo;
    outHi = std::min(hi, top);
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
    outHistogram.box = range;
    const int sizes[3] = {range.XSize(), range.YSize(), range.ZSize()};
    for (int a = 0; a < 3; ++a) outHistogram.planeHighest[a].assign(static_cast<size_t>(sizes[a]), 0);
    std::vector<unsigned>& alongX = outHistogram.planeHighest[0];
    std::vector<unsigned>& alongY = outHistogram.planeHighest[1];
    const unsigned mask = (1u << field.m_size) - 1;
    // A slice at a time: the histogram needs no copy of the whole volume.
    const size_t sliceVoxels = static_cast<size_t>(range.XSize()) * range.YSize();
    std::vector<uint8_t> voxels(sliceVoxels * voxelBytes);
    for (int z = 0; z < range.ZSize(); ++z) {
        const int atZ = range.ZOrigin() + z;
        const ULMVolumeRange one(range.XSize(), range.YSize(), 1, range.XOrigin(), range.YOrigin(), atZ);
        const ULMStatus status = inVolume.Unload(voxels.data(), one, kULMUseSource);
        if (status != kULMOK) return status;
        unsigned sliceHighest = 0;
        size_t i = 0;
        for (int y = 0; y < range.YSize(); ++y) {
            unsigned rowHighest = 0;
            for (int x = 0; x < range.XSize(); ++x, ++i) {
                const unsigned v = ReadWord(&voxels[i * voxelBytes], voxelBytes) >> field.m_position & mask;
                ++outHistogram.counts[v];
                rowHighest = std::max(rowHighest, v);
                alongX[static_cast<size_t>(x)] = std::max(alongX[static_cast<size_t>(x)], v);
            }
            alongY[static_cast<size_t>(y)] = std::max(alongY[static_cast<size_t>(y)], rowHighest);
            sliceHighest = std::max(sliceHighest, rowHighest);
        }
        outHistogram.planeHighest[2][static_cast<size_t>(z)] = sliceHighest;
        outHistogram.highest = std::max(outHistogram.highest, sliceHighest);
    }
    return kULMOK;
}

FieldReading ChooseReading(const FieldHistogram& inHistogram, int inFieldBits) {
    const int present = std::max(1, static_cast<int>(std::bit_width(inHistogram.highest)));
    FieldReading reading;
    reading.bits = std::min(inFieldBits, std::max(8, (present + 3) / 4 * 4));
    reading.entries = reading.bits <= 8 ? 256 : 4096;
    return reading;
}

VoxelWindow ChooseWindow(const FieldHistogram& inHistogram) {
    // Step s holds the values nearest s / (steps - 1) of the highest: one
    // value a step when there are few, as many as 8-bit data would have.
    const unsigned highest = std::max(1u, inHistogram.highest);
    const unsigned steps = std::min(kWindowSteps, highest + 1);
    const auto stepOf = [&](size_t v) {
        return static_cast<size_t>(std::lround(static_cast<double>(v) * (steps - 1) / highest));
    };
    std::vector<uint64_t> h(steps, 0);
    for (size_t v = 0; v < inHistogram.counts.size() && v <= highest; ++v) h[stepOf(v)] += inHistogram.counts[v];
    unsigned lo = 0, hi = 1;
    WindowOfSteps(h, lo, hi);
    const auto valueOf = [&](unsigned s) {
        return static_cast<unsigned>(std::lround(static_cast<double>(s) * highest / (steps - 1)));
    };
    VoxelWindow window{valueOf(lo), valueOf(hi)};
    if (window.hi <= window.lo) window.hi = window.lo + 1;
    return window;
}

ULMVolumeRange VoxelsAbove(const FieldHistogram& inHistogram, unsigned inLevel) {
    int first[3] = {0, 0, 0}, last[3] = {-1, -1, -1};
    for (int a = 0; a < 3; ++a) {
        const std::vector<unsigned>& planes = inHistogram.planeHighest[a];
        for (size_t i = 0; i < planes.size(); ++i) {
            if (planes[i] <= inLevel) continue;
            if (last[a] < 0) first[a] = static_cast<int>(i);
            last[a] = static_cast<int>(i);
        }
        if (last[a] < 0) return ULMVolumeRange();
    }
    const ULMVolumeRange& box = inHistogram.box;
    return ULMVolumeRange(last[0] - first[0] + 1, last[1] - first[1] + 1, last[2] - first[2] + 1,
                          box.XOrigin() + first[0], box.YOrigin() + first[1], box.ZOrigin() + first[2]);
}

ULMStatus FillTable(const VoxelWindow& inWindow, int inBits, double inOpacity, ULMLookupTable& ioTable) {
    const unsigned entries = ioTable.GetSize();
    const int indexBits = std::bit_width(entries - 1);
    // The entry the classifier reads a value through: a field wider than the
    // index by its top bits, a narrower one at its place on the widened scale.
    const auto entryOf = [&](double inValue) {
        if (inBits > indexBits) return std::floor(inValue / static_cast<double>(1u << (inBits - indexBits)));
        return inValue * (entries - 1) / static_cast<double>((1u << inBits) - 1);
    };
    // Ramps between the entries that the window's ends read, so that a voxel
    // at lo gets exactly 0 and one at hi exactly the top.
    const double lo = entryOf(inWindow.lo), hi = entryOf(inWindow.hi);
    std::vector<ULMRGBAFloat> colors(entries);
    for (unsigned e = 0; e < entries; ++e) {
        const double t = hi > lo ? std::clamp((e - lo) / (hi - lo), 0.0, 1.0) : e >= hi ? 1.0 : 0.0;
        const auto grey = static_cast<float>(t);
        colors[e] = ULMRGBAFloat(grey, grey, grey, static_cast<float>(t * inOpacity));
    }
    return ioTable.SetEntries(0, entries, colors.data());
}

}  // namespace ulm3_render
