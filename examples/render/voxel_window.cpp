// Histogram, automatic window and table fill of ulm3_render.
#include "render/voxel_window.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

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
// The data box leaves out regions of fewer voxels than this share of the
// largest region's, and regions of at most kSpeckVoxels (unless none is
// larger): noise makes specks and small clusters, never a thousandth of an
// object.
constexpr uint64_t kRegionShare = 1000;
constexpr uint64_t kSpeckVoxels = 8;
// The most regions the data box follows (a few tens of bytes each); noisier
// data is framed on all its voxels above the level.
constexpr size_t kMostRegions = size_t{1} << 22;

// Regions of touching voxels, found a slice at a time: every voxel above the
// level takes the region of a neighbour met before it (in its own slice or
// the one before) and joins the regions of the others.
class Regions {
public:
    // The region of a voxel that meets none seen before; 0 when there are
    // too many.
    uint32_t Start() {
        if (m_parent.size() > kMostRegions) return 0;
        m_parent.push_back(static_cast<uint32_t>(m_parent.size()));
        m_box.push_back(Box{});
        return m_parent.back();
    }
    uint32_t Root(uint32_t inRegion) {
        while (m_parent[inRegion] != inRegion) inRegion = m_parent[inRegion] = m_parent[m_parent[inRegion]];
        return inRegion;
    }
    void Join(uint32_t inA, uint32_t inB) {
        inA = Root(inA), inB = Root(inB);
        if (inA != inB) m_parent[std::max(inA, inB)] = std::min(inA, inB);
    }
    void Add(uint32_t inRegion, int inX, int inY, int inZ) {
        Box& box = m_box[inRegion];
        const int at[3] = {inX, inY, inZ};
        for (int a = 0; a < 3; ++a) box.lo[a] = std::min(box.lo[a], at[a]), box.hi[a] = std::max(box.hi[a], at[a]);
        ++box.voxels;
    }
    // The box of the regions the data is made of, relative to the box read;
    // false when no voxel was added.
    bool DataBox(int outLo[3], int outHi[3]) {
        // Each region's voxels and box gathered in its root.
        for (uint32_t r = static_cast<uint32_t>(m_parent.size()); r-- > 1;) {
            const uint32_t root = Root(r);
            if (root == r) continue;
            Box& into = m_box[root];
            const Box& from = m_box[r];
            for (int a = 0; a < 3; ++a) into.lo[a] = std::min(into.lo[a], from.lo[a]), into.hi[a] = std::max(into.hi[a], from.hi[a]);
            into.voxels += from.voxels;
        }
        uint64_t largest = 0;
        for (uint32_t r = 1; r < m_parent.size(); ++r)
            if (m_parent[r] == r) largest = std::max(largest, m_box[r].voxels);
        if (largest == 0) return false;
        const uint64_t least = std::max(largest / kRegionShare, std::min(largest, kSpeckVoxels + 1));
        for (int a = 0; a < 3; ++a) outLo[a] = INT32_MAX, outHi[a] = -1;
        for (uint32_t r = 1; r < m_parent.size(); ++r) {
            if (m_parent[r] != r || m_box[r].voxels < least) continue;
            for (int a = 0; a < 3; ++a) outLo[a] = std::min(outLo[a], m_box[r].lo[a]), outHi[a] = std::max(outHi[a], m_box[r].hi[a]);
        }
        return true;
    }

private:
    struct Box {
        uint64_t voxels = 0;
        int lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
        int hi[3] = {-1, -1, -1};
    };
    // Region 0 stands for no region.
    std::vector<uint32_t> m_parent{0};
    std::vector<Box> m_box{Box{}};
};

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

// The histogram taken in at most kWindowSteps steps from 0 to the highest
// value: step s holds the values nearest s / (steps - 1) of the highest, one
// value a step when there are few, as many as 8-bit data would have. Values
// that are all multiples of one unit (8-bit data scaled into 16 bits) are
// counted in that unit: steps finer than it would leave some of them empty,
// and the background's noise would seem to end at the first.
struct StepHistogram {
    explicit StepHistogram(const FieldHistogram& inHistogram)
        : unit(CommonUnit(inHistogram)),
          highest(std::max(1u, inHistogram.highest / unit)),
          steps(std::min(kWindowSteps, highest + 1)),
          counts(steps, 0) {
        for (size_t v = 0; v < inHistogram.counts.size() && v <= inHistogram.highest; ++v)
            counts[static_cast<size_t>(std::lround(static_cast<double>(v / unit) * (steps - 1) / highest))] +=
                inHistogram.counts[v];
    }
    static unsigned CommonUnit(const FieldHistogram& inHistogram) {
        unsigned unit = 0;
        for (size_t v = 1; v < inHistogram.counts.size(); ++v)
            if (inHistogram.counts[v] != 0) unit = std::gcd(unit, static_cast<unsigned>(v));
        return std::max(1u, unit);
    }
    unsigned ValueOf(unsigned inStep) const {
        return static_cast<unsigned>(std::lround(static_cast<double>(inStep) * highest / (steps - 1))) * unit;
    }
    // The background is the commonest step; its noise ends at the last step
    // up from it whose count is still kBackgroundTail of the background's.
    // Where that reaches the highest step (values spread evenly, as in a
    // ramp), no step is the background, and the noise starts and ends at 0.
    void Noise(unsigned& outBackground, unsigned& outEnd) const {
        const auto background = static_cast<unsigned>(std::max_element(counts.begin(), counts.end()) - counts.begin());
        unsigned end = background;
        const double tail = static_cast<double>(counts[background]) * kBackgroundTail;
        while (end + 1 < steps && static_cast<double>(counts[end + 1]) >= tail) ++end;
        const bool none = end + 1 == steps && background + 1 < steps;
        outBackground = none ? 0 : background;
        outEnd = none ? 0 : end;
    }

    unsigned unit;     // every value present is a multiple of it
    unsigned highest;  // in units
    unsigned steps;
    std::vector<uint64_t> counts;
};

// The window on a histogram of steps: background, its noise, percentile.
void WindowOfSteps(const StepHistogram& inSteps, unsigned& outLo, unsigned& outHi) {
    const std::vector<uint64_t>& h = inSteps.counts;
    const unsigned top = inSteps.steps - 1;
    unsigned background = 0, lo = 0;
    inSteps.Noise(background, lo);
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
    const StepHistogram steps(inHistogram);
    unsigned lo = 0, hi = 1;
    WindowOfSteps(steps, lo, hi);
    VoxelWindow window{steps.ValueOf(lo), steps.ValueOf(hi)};
    if (window.hi <= window.lo) window.hi = window.lo + 1;
    return window;
}

unsigned NoiseTop(const FieldHistogram& inHistogram, const VoxelWindow& inWindow) {
    const StepHistogram steps(inHistogram);
    unsigned background = 0, end = 0;
    steps.Noise(background, end);
    // A bell-shaped count falls off with the square of the distance from its
    // peak: where it is 1/32 of the peak at the noise's end, at twice that
    // distance it is about a millionth, which even a large scan's air hardly
    // reaches.
    const unsigned top = steps.ValueOf(std::min(steps.steps - 1, end + (end - background)));
    const unsigned middle = inWindow.lo + (inWindow.hi - inWindow.lo) / 2;
    return std::max(inWindow.lo, std::min(top, middle));
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

ULMStatus DataBox(const ULMVolume& inVolume, const FieldHistogram& inHistogram, unsigned inLevel, ULMVolumeRange& outBox) {
    outBox = ULMVolumeRange();
    const ULMVolumeRange& range = inHistogram.box;
    if (VoxelsAbove(inHistogram, inLevel).XSize() <= 0) return kULMOK;
    const ULMFieldDescriptor field = inVolume.GetFieldDescriptor(kULMField0);
    const int voxelBytes = inVolume.GetVoxelSize() / 8;
    if (field.m_size < 1 || field.m_size > 16 || (voxelBytes != 1 && voxelBytes != 2 && voxelBytes != 4))
        return kULMErrFormat;
    const unsigned mask = (1u << field.m_size) - 1;
    const int width = range.XSize(), height = range.YSize();
    const size_t sliceVoxels = static_cast<size_t>(width) * height;
    std::vector<uint8_t> voxels(sliceVoxels * voxelBytes);
    // The regions of this slice's voxels and the last one's, 0 where none.
    std::vector<uint32_t> here(sliceVoxels, 0), before(sliceVoxels, 0);
    Regions regions;
    for (int z = 0; z < range.ZSize(); ++z) {
        const ULMVolumeRange one(width, height, 1, range.XOrigin(), range.YOrigin(), range.ZOrigin() + z);
        const ULMStatus status = inVolume.Unload(voxels.data(), one, kULMUseSource);
        if (status != kULMOK) return status;
        std::swap(here, before);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y) * width + x;
                here[i] = 0;
                if ((ReadWord(&voxels[i * voxelBytes], voxelBytes) >> field.m_position & mask) <= inLevel) continue;
                // The neighbours met before: the row below in this slice and
                // the voxel to the left, then the nine of the slice before.
                uint32_t region = 0;
                const auto meet = [&](const std::vector<uint32_t>& inSlice, int inX, int inY) {
                    if (inX < 0 || inX >= width || inY < 0 || inY >= height) return;
                    const uint32_t other = inSlice[static_cast<size_t>(inY) * width + inX];
                    if (other == 0) return;
                    if (region == 0) region = other;
                    else regions.Join(region, other);
                };
                meet(here, x - 1, y);
                for (int dx = -1; dx <= 1; ++dx) meet(here, x + dx, y - 1);
                if (z > 0)
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) meet(before, x + dx, y + dy);
                if (region == 0) region = regions.Start();
                if (region == 0) {
                    // Too many regions to follow.
                    outBox = VoxelsAbove(inHistogram, inLevel);
                    return kULMOK;
                }
                here[i] = region;
                regions.Add(region, x, y, z);
            }
    }
    int lo[3], hi[3];
    if (!regions.DataBox(lo, hi)) return kULMOK;
    outBox = ULMVolumeRange(hi[0] - lo[0] + 1, hi[1] - lo[1] + 1, hi[2] - lo[2] + 1, range.XOrigin() + lo[0],
                            range.YOrigin() + lo[1], range.ZOrigin() + lo[2]);
    return kULMOK;
}

ULMStatus FrameBox(const ULMVolume& inVolume, const FieldHistogram& inHistogram, unsigned inLevel,
                   unsigned inNoiseTop, ULMVolumeRange& outBox) {
    ULMStatus status = DataBox(inVolume, inHistogram, inLevel, outBox);
    if (status != kULMOK || inNoiseTop <= inLevel || outBox.XSize() <= 0) return status;
    ULMVolumeRange core;
    status = DataBox(inVolume, inHistogram, inNoiseTop, core);
    if (status != kULMOK || core.XSize() <= 0) return status;
    const ULMVolumeRange near(core.XSize() + 2 * kEdgeVoxels, core.YSize() + 2 * kEdgeVoxels,
                              core.ZSize() + 2 * kEdgeVoxels, core.XOrigin() - kEdgeVoxels,
                              core.YOrigin() - kEdgeVoxels, core.ZOrigin() - kEdgeVoxels);
    const ULMVolumeRange held = ULMVolumeRange::Intersect(outBox, near);
    if (!held.IsEmpty()) outBox = held;
    return kULMOK;
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
