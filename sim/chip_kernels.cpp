// The frustum walk and the per-element compositing and writes.
#include "chip_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace tulx7sim::chip {

namespace {

bool DepthTest(uint32_t test, uint32_t d, uint32_t reference) {
    switch (test) {
        case NKW7_Code(NKW7_DepthTest::Fail): return false;
        case NKW7_Code(NKW7_DepthTest::Less): return d < reference;
        case NKW7_Code(NKW7_DepthTest::LessEqual): return d <= reference;
        case NKW7_Code(NKW7_DepthTest::Equal): return d == reference;
        case NKW7_Code(NKW7_DepthTest::GreaterEqual): return d >= reference;
        case NKW7_Code(NKW7_DepthTest::Greater): return d > reference;
        case NKW7_Code(NKW7_DepthTest::NotEqual): return d != reference;
        default: return true;
    }
}

// Initial Accum or Last: the image element inside its init range, else the
// register value.
Rgba Initial(const ChipArray& image, const Fields& fields, bool enabled, const Rgba& value,
             const int64_t (&p)[3], uint64_t& raw, ChipDiagnostics& counts) {
    raw = 0;
    if (!enabled || !image.Bound() || !image.InRange(p)) return value;
    const int64_t offset = image.Locate(p);
    if (offset < 0) {
        ++counts.readsOutsideStorage;
        return value;
    }
    raw = image.Read(offset);
    Rgba colour;
    for (int k = 0; k < 4; ++k)
        colour.c[k] = static_cast<float>(fields.code[k].Read(raw)) / static_cast<float>(kFull);
    return colour;
}

bool Fits64(Wide v) { return v >= INT64_MIN && v <= INT64_MAX; }

// The blend mode of an interior row read from the setup, not fixed.
constexpr uint32_t kAnyBlend = NKW7_BlendModeCount;

}  // namespace

Kernel::Kernel(const Setup& setup, ChipDiagnostics& counts)
    : m_setup(setup), m_counts(counts), m_shader(setup, counts) {
    if (LitRows::Suits(setup)) m_lit = std::make_unique<LitRows>(setup, m_shader, counts);
    if (!setup.plain) return;
    for (int i = 0; i < 4; ++i) {
        if (!setup.fieldNeeded[i]) continue;
        m_field[m_fieldCount++] = i;
        if (setup.voxels.bytes == 1)
            for (uint32_t b = 0; b < 256; ++b) m_byteValue[i][b] = setup.voxelFields.code[i].Read(b);
    }
    // One unsigned field looked up in a 256-entry table: the sample's
    // colour is a function of the entry.
    const int i = m_field[0];
    m_tabled = m_fieldCount == 1 && i != 3 && !setup.bypass[i] && !setup.voxelFields.code[i].isSigned;
    for (size_t e = 0; e < 256 && m_tabled; ++e) {
        Rgba looked[4];
        looked[i] = setup.table[i].entries[e];
        m_emittedTable[e] = Emitted(looked);
    }
    // The vector rows decode one-byte voxels through the table and wider
    // ones by the replications that need no division.
    const FieldCode& code = setup.voxelFields.code[i];
    const int bytes = setup.voxels.bytes;
    m_vector = m_tabled && ActiveIsa() == ChipIsa::kAvx2 && setup.blendAccum >= 2 && setup.blendAccum <= 5 &&
               (bytes == 1 || ((bytes == 2 || bytes == 4) && code.bits != 12));
}

void Kernel::RunElements() {
    const Setup& s = m_setup;
    for (int a = 0; a < 3; ++a)
        if (s.frustumMin[a] > s.frustumMax[a]) return;
    const uint32_t zLast = s.volumeOutput ? s.frustumMax[2] : s.frustumMin[2];
    for (uint32_t zs = s.frustumMin[2]; zs <= zLast; ++zs)
        for (uint32_t ys = s.frustumMin[1]; ys <= s.frustumMax[1]; ++ys)
            for (uint32_t xs = s.frustumMin[0]; xs <= s.frustumMax[0]; ++xs)
                Element(xs, ys, s.volumeOutput ? zs : 0);
}

TileGrid Tiles(const Setup& s, uint32_t rows) {
    TileGrid grid;
    for (int a = 0; a < 3; ++a)
        if (s.frustumMin[a] > s.frustumMax[a]) return grid;
    const int axes = s.volumeOutput ? 3 : 2;
    for (int a = 0; a < 3; ++a) {
        // Rows of 32 keep the vector rows full; 16 of them (32 shaded, each
        // tile costing more) make tiles small enough that eight threads
        // finish together on a 256 x 256 frame.
        grid.size[a] = a >= axes ? 1 : s.volumeOutput ? 16 : a == 0 ? 32 : rows;
        const uint32_t extent = a >= axes ? 1 : s.frustumMax[a] - s.frustumMin[a] + 1;
        grid.count[a] = (extent + grid.size[a] - 1) / grid.size[a];
    }
    return grid;
}

bool TilesAreIndependent(const Setup& s) {
    // The slots read or written per element, with whether each is written.
    struct Use {
        const ChipArray* array;
        bool written;
    };
    const bool depthRead[2] = {s.depthUsed && s.initDepth[0], s.depthUsed && s.initDepth[1]};
    const Use uses[] = {{&s.image[0], (s.write & NKW7_Code(NKW7_ImageWrite::Image0)) != 0},
                        {&s.image[1], (s.write & NKW7_Code(NKW7_ImageWrite::Image1)) != 0},
                        {&s.depth[0], s.writeDepth[0]}, {&s.depth[1], s.writeDepth[1]}};
    const bool read[] = {s.initAccum, s.initLast, depthRead[0], depthRead[1]};
    for (size_t i = 0; i < 4; ++i) {
        const ChipArray& array = *uses[i].array;
        if (!array.Bound() || !(uses[i].written || read[i])) continue;
        // A wrapped axis maps two elements to one storage element once the
        // frustum is wider than its modulus.
        for (int a = 0; a < 3 && array.Wrapped(); ++a) {
            const uint32_t extent = s.frustumMax[a] - s.frustumMin[a] + 1;
            if (a < array.Axes() && extent > array.ModulusSpan(a)) return false;
        }
        for (size_t j = 0; j < 4; ++j) {
            const ChipArray& other = *uses[j].array;
            if (j == i || !other.Bound() || !(uses[i].written || uses[j].written)) continue;
            if (other.Source()->bufferId == array.Source()->bufferId) return false;
        }
        // Voxels are read from a snapshot when an image shares the volume's
        // buffer, but not when a depth slot does.
        if (uses[i].written && s.volume.Bound() && s.snapshot.empty() &&
            array.Source()->bufferId == s.volume.Source()->bufferId)
            return false;
    }
    return true;
}

void Kernel::RunTile(const TileGrid& grid, size_t tile) {
    const Setup& s = m_setup;
    uint32_t first[3], last[3];
    size_t rest = tile;
    for (int a = 0; a < 3; ++a) {
        const uint32_t index = static_cast<uint32_t>(rest % grid.count[a]);
        rest /= grid.count[a];
        first[a] = s.frustumMin[a] + index * grid.size[a];
        last[a] = std::min(first[a] + (grid.size[a] - 1), s.volumeOutput || a < 2 ? s.frustumMax[a] : first[a]);
    }
    if (s.volumeOutput) {
        for (uint32_t zs = first[2]; zs <= last[2]; ++zs)
            for (uint32_t ys = first[1]; ys <= last[1]; ++ys)
                for (uint32_t xs = first[0]; xs <= last[0]; ++xs) Element(xs, ys, zs);
        return;
    }
    const uint32_t width = last[0] - first[0] + 1, height = last[1] - first[1] + 1;
    m_rays.resize(size_t{width} * height);
    for (uint32_t j = 0; j < height; ++j)
        for (uint32_t i = 0; i < width; ++i) Begin(first[0] + i, first[1] + j, 0, m_rays[j * width + i]);
    if (m_lit) m_lit->BeginTile(first[0], first[1], width, height);
    if (s.volume.Bound()) {
        const int bytes = s.plain ? s.voxels.bytes : 0;
        const bool plain = bytes == 1 || bytes == 2 || bytes == 4 || bytes == 8;
        if (plain) HoldAccums(m_rays.size());
        switch (plain ? bytes : 0) {
            case 1: Slices<1>(first[0], first[1], width, height); break;
            case 2: Slices<2>(first[0], first[1], width, height); break;
            case 4: Slices<4>(first[0], first[1], width, height); break;
            case 8: Slices<8>(first[0], first[1], width, height); break;
            default: Slices<0>(first[0], first[1], width, height); break;
        }
        if (plain) ReturnAccums(m_rays.size());
    }
    for (uint32_t j = 0; j < height; ++j)
        for (uint32_t i = 0; i < width; ++i) Finish(first[0] + i, first[1] + j, 0, m_rays[j * width + i]);
}

// The slices of a tile in ray order; `Bytes` 0 takes every sample through
// Step or the shaded rows.
template <int Bytes>
void Kernel::Slices(uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
    const Setup& s = m_setup;
    const size_t count = s.slices.size();
    const bool backwards = BlendsBackToFront(s.blendAccum);
    const TileRect tile{x0, y0, width, height};
    for (size_t n = 0; n < count; ++n) {
        // A slice without samples changes no ray: even early termination
        // waits for the next live one.
        const Slice& slice = s.slices[backwards ? count - 1 - n : n];
        if (!slice.live) continue;
        m_next = n + 1 < count ? &s.slices[backwards ? count - 2 - n : n + 1] : nullptr;
        bool anyLeft = false;
        if constexpr (Bytes == 0)
            anyLeft = m_lit ? m_lit->Run(*this, slice, m_rays.data()) : StepRows(slice, tile);
        else
            anyLeft = PlainRows<Bytes>(slice, tile);
        if (!anyLeft) break;
    }
}

void Kernel::HoldAccums(size_t count) {
    // Eight rays to spare past each channel's last, each channel starting
    // on a 32-byte boundary so that a full tile's groups load aligned.
    constexpr size_t kLanes = 8, kAlign = 32 / sizeof(float);
    const size_t stride = (count + kLanes + kAlign - 1) / kAlign * kAlign;
    m_accumStore.resize(4 * stride + kAlign);
    float* base = m_accumStore.data();
    base += (kAlign - reinterpret_cast<uintptr_t>(base) / sizeof(float) % kAlign) % kAlign;
    for (size_t k = 0; k < 4; ++k) m_accums.c[k] = base + k * stride;
    for (size_t r = 0; r < count; ++r) m_accums.Set(r, m_rays[r].accum);
}

void Kernel::ReturnAccums(size_t count) {
    for (size_t r = 0; r < count; ++r) m_rays[r].accum = m_accums.Get(r);
}

bool Kernel::StepRows(const Slice& slice, const TileRect& tile) {
    bool anyLeft = false;
    for (uint32_t j = 0; j < tile.height; ++j) {
        const uint32_t ys = tile.y0 + j;
        Wide xRaw = slice.x0 + Wide{tile.x0} * slice.xx + Wide{ys} * slice.xy;
        Wide yRaw = slice.y0 + Wide{tile.x0} * slice.yx + Wide{ys} * slice.yy;
        Ray* ray = &m_rays[j * tile.width];
        for (uint32_t i = 0; i < tile.width; ++i, xRaw += slice.xx, yRaw += slice.yx) {
            if (ray[i].done) continue;
            Step(slice, xRaw, yRaw, tile.x0 + i, ys, ray[i]);
            anyLeft = anyLeft || !ray[i].done;
        }
    }
    return anyLeft;
}

template <int Bytes>
bool Kernel::PlainRows(const Slice& slice, const TileRect& tile) {
    const TileCorners corners(slice, tile);
    // A slice the tile's rays miss leaves them to go on.
    if (corners.Trimmed(m_setup.trimMin, m_setup.trimMax)) return true;
    // So is a tile whose four corners are interior interior throughout.
    bool interior = corners.fit;
    for (int c = 0; c < 4 && interior; ++c) interior = Interior(slice, corners.x[c], corners.y[c]);
    bool anyLeft = false;
    if (interior && m_vector && VectorRows(slice, tile, corners, anyLeft)) return anyLeft;
    if constexpr (VectorVoxels(Bytes))
        if (!interior && m_vector && corners.fit && EdgeRows<Bytes>(slice, tile, corners, anyLeft)) return anyLeft;
    for (uint32_t j = 0; j < tile.height; ++j) anyLeft = PlainRowOf<Bytes>(slice, tile, j, interior) || anyLeft;
    return anyLeft;
}

template <int Bytes>
bool Kernel::EdgeRows(const Slice& slice, const TileRect& tile, const TileCorners& corners, bool& anyLeft) {
    TabledRow row;
    if (!PlaceTileInStorage(m_setup, slice, corners, tile.height, row)) return false;
    // Every position of the tile lies between its corners, which fit in 64
    // bits: the rows step there exactly.
    uint32_t spans[kTileRows][2];
    if (tile.height > kTileRows) return false;
    bool vector = false;
    for (uint32_t j = 0; j < tile.height; ++j) {
        const uint64_t x = row.x + j * row.rowDx, y = row.y + j * row.rowDy;
        uint32_t bounds[6];
        RowParts(slice, x, y, tile.width, bounds);
        spans[j][0] = bounds[2];
        spans[j][1] = bounds[3];
        vector = vector || bounds[2] < bounds[3];
        anyLeft = RowByParts<Bytes>(slice, Wide{static_cast<int64_t>(x)}, Wide{static_cast<int64_t>(y)},
                                    m_accums.From(j * tile.width), bounds, false) ||
                  anyLeft;
    }
    row.spans = spans;
    if (vector) anyLeft = RunTabled(slice, row, m_accums, tile.width) || anyLeft;
    return true;
}

template <int Bytes>
bool Kernel::RowByParts(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, const uint32_t (&bounds)[6],
                        bool withInterior) {
    bool anyLeft = false;
    for (int part = 0; part < 5; ++part) {
        const uint32_t i = bounds[part], count = bounds[part + 1] - i;
        if (count == 0 || (part == 2 && !withInterior)) continue;
        if ((part == 0 || part == 4) && !m_setup.earlyTermination) {
            anyLeft = true;  // no ray stops without early termination
            continue;
        }
        anyLeft = PlainRow<Bytes>(slice, xRaw + Wide{i} * slice.xx, yRaw + Wide{i} * slice.yx, ray.From(i), count,
                                  part != 2) ||
                  anyLeft;
    }
    return anyLeft;
}

template <int Bytes>
bool Kernel::PlainRowOf(const Slice& slice, const TileRect& tile, uint32_t j, bool interiorTile) {
    const uint32_t ys = tile.y0 + j, width = tile.width, x0 = tile.x0;
    Wide xRaw = slice.x0 + Wide{x0} * slice.xx + Wide{ys} * slice.xy;
    Wide yRaw = slice.y0 + Wide{x0} * slice.yx + Wide{ys} * slice.yy;
    const RayAccums ray = m_accums.From(j * width);
    if (interiorTile) return PlainRow<Bytes>(slice, xRaw, yRaw, ray, width, false);
    const Wide span = width - 1;
    const Wide xEnd = xRaw + span * slice.xx, yEnd = yRaw + span * slice.yx;
    bool anyLeft = false;
    if (Fits64(xRaw) && Fits64(yRaw) && Fits64(xEnd) && Fits64(yEnd)) {
        if constexpr (VectorVoxels(Bytes))
            if (m_vector) {
                // The samples that pass the trims, and the interior ones
                // among them, are consecutive: the interior ones run as
                // vectors, the others that pass the trims checked, and those
                // that do not only stop their rays under early termination.
                // Between two positions that fit in 64 bits they step there
                // exactly.
                uint32_t bounds[6];
                RowParts(slice, static_cast<uint64_t>(xRaw), static_cast<uint64_t>(yRaw), width, bounds);
                return RowByParts<Bytes>(slice, xRaw, yRaw, ray, bounds, true);
            }
        const bool interior = Interior(slice, xRaw, yRaw) && Interior(slice, xEnd, yEnd);
        return PlainRow<Bytes>(slice, xRaw, yRaw, ray, width, !interior);
    }
    // The general step takes the ray whole, its accumulator too; it stops
    // a ray whose alpha has reached the threshold.
    for (uint32_t i = 0; i < width; ++i, xRaw += slice.xx, yRaw += slice.yx) {
        Ray& whole = m_rays[j * width + i];
        whole.accum = ray.Get(i);
        PlainStep<Bytes>(slice, xRaw, yRaw, x0 + i, ys, whole);
        ray.Set(i, whole.accum);
        anyLeft = anyLeft || !whole.done;
    }
    return anyLeft;
}

Rgba Kernel::Emitted(const Rgba (&looked)[4]) const {
    const Setup& s = m_setup;
    Rgba colour;
#pragma GCC unroll 4
    for (int c = 0; c < 4; ++c) colour.c[c] = s.route[c] < 0 ? s.constant[c] : looked[s.route[c]].c[c];
    return Emissive(colour);
}

Rgba Kernel::Emissive(Rgba colour) const {
    const Setup& s = m_setup;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        colour.c[k] = colour.c[k] * s.emissive;
        if (s.opacityWeight) colour.c[k] = colour.c[k] * colour.c[3];
    }
    return colour;
}

template <int Bytes, bool Tabled>
Rgba Kernel::PlainColour(const uint8_t* at, const int64_t (&corner)[8], const int64_t (&f)[3]) {
    uint64_t words[8];
#pragma GCC unroll 8
    for (int c = 0; c < 8; ++c) words[c] = ChipArray::ReadAt(at + corner[c], Bytes);
    auto value = [&](int i) __attribute__((always_inline)) {
        int32_t v[8];
#pragma GCC unroll 8
        for (int c = 0; c < 8; ++c) v[c] = FieldValue<Bytes>(i, words[c]);
        // A weight of 0 leaves its first operand, as the element walk's
        // skipped neighbours do.
        const int32_t u0 = Shader::Lerp(v[0], v[1], f[0]), u1 = Shader::Lerp(v[2], v[3], f[0]);
        const int32_t u2 = Shader::Lerp(v[4], v[5], f[0]), u3 = Shader::Lerp(v[6], v[7], f[0]);
        return Shader::Lerp(Shader::Lerp(u0, u1, f[1]), Shader::Lerp(u2, u3, f[1]), f[2]);
    };
    if constexpr (Tabled) {
        const uint32_t index = static_cast<uint32_t>(value(m_field[0])) >> 8;
        if (index >= m_setup.table[m_field[0]].valid) ++m_counts.unboundTableReads;
        return m_emittedTable[index];
    } else {
        Rgba looked[4];
        for (int n = 0; n < m_fieldCount; ++n) looked[m_field[n]] = m_shader.Look(m_field[n], value(m_field[n]));
        return Emitted(looked);
    }
}

template <int Bytes>
void Kernel::PlainStep(const Slice& slice, Wide xRaw, Wide yRaw, uint32_t xs, uint32_t ys, Ray& ray) {
    const Setup& s = m_setup;
    if (s.earlyTermination && ray.accum.c[3] >= s.terminationThreshold) {
        ray.done = true;
        return;
    }
    const Wide x256 = xRaw >> 32, y256 = yRaw >> 32;
    if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1]) return;
    const int64_t permuted[3] = {static_cast<int64_t>(x256), static_cast<int64_t>(y256), slice.z256};
    int64_t position[3];
    for (int a = 0; a < 3; ++a) position[s.select[a]] = s.negate[a] ? -permuted[a] - 256 : permuted[a];
    const int64_t base[3] = {position[0] >> 8, position[1] >> 8, position[2] >> 8};
    const DirectBox& box = s.voxels;
    if (!box.Contains(base[0], base[1], base[2]) || !box.Contains(base[0] + 1, base[1] + 1, base[2] + 1)) {
        Step(slice, xRaw, yRaw, xs, ys, ray);  // the border, edges or storage limits
        return;
    }
    const int64_t f[3] = {position[0] & 255, position[1] & 255, position[2] & 255};
    int64_t corner[8];
    box.Corners(corner);
    Blend(s.blendAccum, ray.accum, PlainColour<Bytes, false>(box.At(base[0], base[1], base[2]), corner, f));
    ++m_counts.samples;
}

void Kernel::RowParts(const Slice& slice, uint64_t x, uint64_t y, uint32_t width, uint32_t (&bounds)[6]) const {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    // Along each permuted axis, the floors that pass the trims, and those
    // of them whose voxel and its neighbour up lie in the box.
    int64_t low[2][2], high[2][2];
    for (int a = 0; a < 2; ++a) {
        const int64_t first = box.low[s.select[a]], last = box.high[s.select[a]] - 1;
        low[0][a] = s.trimMin[a];
        high[0][a] = s.trimMax[a];
        InteriorFloors(s, a, first, last, low[1][a], high[1][a]);
    }
    const auto dx = static_cast<uint64_t>(slice.xx), dy = static_cast<uint64_t>(slice.yx);
    // The samples within bounds `b` from `from` to `to`.
    auto span = [&](int b, uint32_t from, uint32_t to, uint32_t& begin, uint32_t& end) {
        auto within = [&](uint32_t k) {
            const int64_t px = static_cast<int64_t>(x + k * dx) >> 32, py = static_cast<int64_t>(y + k * dy) >> 32;
            return (px >= low[b][0]) & (px <= high[b][0]) & (py >= low[b][1]) & (py <= high[b][1]);
        };
        ConsecutiveRun(from, to, within, begin, end);
    };
    uint32_t kept[2], interior[2];
    span(0, 0, width, kept[0], kept[1]);
    const int64_t w = Depth(slice) >> 8;
    if (w >= box.low[s.select[2]] && w < box.high[s.select[2]])
        span(1, kept[0], kept[1], interior[0], interior[1]);
    else
        interior[0] = interior[1] = kept[1];
    const uint32_t parts[6] = {0, kept[0], interior[0], interior[1], kept[1], width};
    std::copy(parts, parts + 6, bounds);
}

bool Kernel::Interior(const Slice& slice, Wide xRaw, Wide yRaw) const {
    const Setup& s = m_setup;
    const Wide x256 = xRaw >> 32, y256 = yRaw >> 32;
    if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1]) return false;
    return Interior(slice, static_cast<int64_t>(x256), static_cast<int64_t>(y256));
}

bool Kernel::Interior(const Slice& slice, int64_t x256, int64_t y256) const {
    const Setup& s = m_setup;
    if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1]) return false;
    const int64_t permuted[3] = {x256, y256, slice.z256};
    int64_t base[3];
    for (int a = 0; a < 3; ++a) base[s.select[a]] = (s.negate[a] ? -permuted[a] - 256 : permuted[a]) >> 8;
    return s.voxels.Contains(base[0], base[1], base[2]) && s.voxels.Contains(base[0] + 1, base[1] + 1, base[2] + 1);
}

bool Kernel::VectorRow(const Slice& slice, Wide xStart, Wide yStart, RayAccums ray, uint32_t width, bool& anyLeft) {
    TabledRow row;
    if (!PlaceRow(m_setup, Depth(slice), static_cast<uint64_t>(xStart), static_cast<uint64_t>(yStart),
                  static_cast<uint64_t>(slice.xx), static_cast<uint64_t>(slice.yx), width, row))
        return false;
    anyLeft = RunTabled(slice, row, ray, width);
    return true;
}

bool Kernel::VectorRows(const Slice& slice, const TileRect& tile, const TileCorners& corners, bool& anyLeft) {
    TabledRow row;
    if (!PlaceTile(m_setup, slice, corners, tile.height, row)) return false;
    anyLeft = RunTabled(slice, row, m_accums, tile.width);
    return true;
}

bool Kernel::RunTabled(const Slice& slice, TabledRow& row, RayAccums ray, uint32_t width) {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    const int az = s.select[2];
    // The plane of voxels the next slice reads that this one does not.
    if (m_next != nullptr) {
        const int64_t w = Depth(slice) >> 8, next = Depth(*m_next) >> 8;
        const int64_t plane = next < w ? next : next + 1;
        if (plane < w || plane > w + 1) row.ahead = (plane - w) * box.stride[az];
        for (int c = 0, k = 0; c < 8; ++c)
            if (((c >> az) & 1) == 0) row.planeCorner[k++] = row.corner[c];
    }
    row.bytes = box.bytes;
    const int field = m_field[0];
    row.decode = lanes::FieldDecodeOf(s.voxelFields.code[field], m_byteValue[field]);
    row.emitted = m_emittedTable;
    row.valid = static_cast<uint32_t>(std::min<size_t>(s.table[field].valid, 256));
    row.mode = s.blendAccum;
    row.earlyTermination = s.earlyTermination;
    row.threshold = s.terminationThreshold;
    const RowOutcome outcome = TabledRowAvx2(row, ray, width);
    m_counts.samples += outcome.samples;
    m_counts.unboundTableReads += outcome.unboundReads;
    return outcome.anyLeft;
}

template <int Bytes>
bool Kernel::PlainRow(const Slice& slice, Wide xRaw, Wide yRaw, RayAccums ray, uint32_t width, bool checked) {
    bool anyLeft = false;
    if (m_vector && !checked && VectorRow(slice, xRaw, yRaw, ray, width, anyLeft)) return anyLeft;
#define CHIP_PLAIN_ROW_FIELDS(mode, checked)                                                       \
    return m_tabled ? PlainRow<Bytes, mode, checked, true>(slice, xRaw, yRaw, ray, width) \
                             : PlainRow<Bytes, mode, checked, false>(slice, xRaw, yRaw, ray, width)
#define CHIP_PLAIN_ROW(mode)                        \
    if (checked) CHIP_PLAIN_ROW_FIELDS(mode, true); \
    CHIP_PLAIN_ROW_FIELDS(mode, false)
    switch (m_setup.blendAccum) {
        case NKW7_Code(NKW7_BlendMode::BackToFront):
            CHIP_PLAIN_ROW(NKW7_Code(NKW7_BlendMode::BackToFront));
        case NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted):
            CHIP_PLAIN_ROW(NKW7_Code(NKW7_BlendMode::BackToFrontPreWeighted));
        case NKW7_Code(NKW7_BlendMode::FrontToBack):
            CHIP_PLAIN_ROW(NKW7_Code(NKW7_BlendMode::FrontToBack));
        case NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted):
            CHIP_PLAIN_ROW(NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted));
        default: CHIP_PLAIN_ROW(kAnyBlend);
    }
#undef CHIP_PLAIN_ROW
#undef CHIP_PLAIN_ROW_FIELDS
}

template <int Bytes, uint32_t Mode, bool Checked, bool Tabled>
bool Kernel::PlainRow(const Slice& slice, Wide xStart, Wide yStart, RayAccums ray, uint32_t width) {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    // Wide to 64 bits keeps the low bits, the only ones the sums need.
    auto xRaw = static_cast<uint64_t>(xStart), yRaw = static_cast<uint64_t>(yStart);
    const auto dx = static_cast<uint64_t>(slice.xx), dy = static_cast<uint64_t>(slice.yx);
    const int ax = s.select[0], ay = s.select[1], az = s.select[2];
    // A mirrored axis takes P to -P - 256, which is ~P - 255.
    const int64_t flipX = s.negate[0] ? -1 : 0, flipY = s.negate[1] ? -1 : 0;
    const int64_t qz = s.negate[2] ? -slice.z256 - 256 : slice.z256;
    // The voxel and its neighbours up along each axis lie in the box.
    const bool zInside = (qz >> 8) >= box.low[az] && (qz >> 8) < box.high[az];
    int64_t f[3];
    f[az] = qz & 255;
    const int64_t sliceOffset = ((qz >> 8) - box.origin[az]) * box.stride[az] - box.origin[ax] * box.stride[ax] -
                                box.origin[ay] * box.stride[ay];
    const int64_t strideX = box.stride[ax], strideY = box.stride[ay];
    int64_t corner[8];
    box.Corners(corner);
    const uint8_t* data = box.data;
    uint64_t samples = 0;
    bool anyLeft = false;
    for (uint32_t i = 0; i < width; ++i, xRaw += dx, yRaw += dy) {
        if (s.earlyTermination && ray.c[3][i] >= s.terminationThreshold) continue;
        anyLeft = true;
        const int64_t px = static_cast<int64_t>(xRaw) >> 32, py = static_cast<int64_t>(yRaw) >> 32;
        const int64_t qx = (px ^ flipX) + (flipX & -255), qy = (py ^ flipY) + (flipY & -255);
        if constexpr (Checked) {
            if (px < s.trimMin[0] || px > s.trimMax[0] || py < s.trimMin[1] || py > s.trimMax[1]) continue;
            if (!zInside || (qx >> 8) < box.low[ax] || (qx >> 8) >= box.high[ax] || (qy >> 8) < box.low[ay] ||
                (qy >> 8) >= box.high[ay]) {
                // The border, edges or storage limits: the fetch stage's
                // general reads, the rest of a plain step as here.
                int64_t position[3];
                position[ax] = qx;
                position[ay] = qy;
                position[az] = qz;
                Rgba accum = ray.Get(i);
                Blend(Mode == kAnyBlend ? s.blendAccum : Mode, accum, Emissive(m_shader.Classify(position)));
                ray.Set(i, accum);
                ++samples;
                continue;
            }
        }
        f[ax] = qx & 255;
        f[ay] = qy & 255;
        const uint8_t* at = data + (sliceOffset + (qx >> 8) * strideX + (qy >> 8) * strideY);
        Rgba accum = ray.Get(i);
        Blend(Mode == kAnyBlend ? s.blendAccum : Mode, accum, PlainColour<Bytes, Tabled>(at, corner, f));
        ray.Set(i, accum);
        ++samples;
    }
    m_counts.samples += samples;
    return anyLeft;
}

void Kernel::Element(uint32_t xs, uint32_t ys, uint32_t zs) {
    const Setup& s = m_setup;
    Ray ray;
    Begin(xs, ys, zs, ray);
    auto step = [&](const Slice& slice) {
        Step(slice, slice.x0 + Wide{xs} * slice.xx + Wide{ys} * slice.xy,
             slice.y0 + Wide{xs} * slice.yx + Wide{ys} * slice.yy, xs, ys, ray);
    };
    if (s.volume.Bound()) {
        const size_t count = s.slices.size();
        if (s.volumeOutput) {
            step(s.slices[zs - s.frustumMin[2]]);
        } else if (BlendsBackToFront(s.blendAccum)) {
            for (size_t i = count; i-- > 0;) step(s.slices[i]);
        } else {
            for (size_t i = 0; i < count; ++i) step(s.slices[i]);
        }
    }
    Finish(xs, ys, zs, ray);
}

void Kernel::Begin(uint32_t xs, uint32_t ys, uint32_t zs, Ray& ray) {
    const Setup& s = m_setup;
    const int64_t element[3] = {xs, ys, zs};
    ray = Ray{};
    ray.accum = Initial(s.image[0], s.imageFields[0], s.initAccum, s.accumValue, element, ray.accumRaw, m_counts);
    ray.last = Initial(s.image[1], s.imageFields[1], s.initLast, s.lastValue, element, ray.lastRaw, m_counts);
    if (!s.depthUsed) return;
    for (int slot = 0; slot < 2; ++slot) {
        uint32_t d = s.depthInitValue[slot];
        const ChipArray& depth = s.depth[slot];
        if (s.initDepth[slot] && depth.Bound() && depth.InRange(element)) {
            const int64_t offset = depth.Locate(element);
            if (offset < 0)
                ++m_counts.readsOutsideStorage;
            else
                d = static_cast<uint32_t>(depth.Read(offset) & 0xFFFFFF);
        }
        ray.depthReference[slot] = ray.depth[slot] = d;
    }
}

void Kernel::Finish(uint32_t xs, uint32_t ys, uint32_t zs, const Ray& ray) {
    const Setup& s = m_setup;
    const int64_t element[3] = {xs, ys, zs};
    Rgba result = ray.accum;
    if (LastModeCombines(s.blendLast))
        Blend(s.blendLast, result, ray.last);
    for (int slot = 0; slot < 2; ++slot) {
        if ((s.write & (1u << slot)) == 0) continue;
        const bool lastMode = s.blendLast != NKW7_Code(NKW7_BlendMode::None);
        const uint64_t background = slot == 1 && lastMode ? ray.lastRaw : ray.accumRaw;
        Store(slot, element, background, result);
    }
    for (int slot = 0; slot < 2; ++slot)
        if (s.writeDepth[slot]) StoreDepth(slot, element, ray.depth[slot]);
}

bool Kernel::Cropped(const int64_t (&permuted)[3]) const {
    const Setup& s = m_setup;
    bool any = false, combined = !s.cropOr;
    for (int k = 0; k < 3; ++k) {
        bool active = false, in = true;
        for (int a = 0; a < 3; ++a) {
            if (!s.cropEnable[k][a]) continue;
            active = true;
            in = in && permuted[a] >= s.cropMin[a] && permuted[a] <= s.cropMax[a];
        }
        if (!active) continue;
        in = in != s.cropInvert[k];
        combined = s.cropOr ? combined || in : combined && in;
        any = true;
    }
    return any && combined == s.cropInvertOut;  // kept when combined XOR invertOut
}

bool Kernel::DepthPasses(uint32_t d, const Ray& ray) const {
    const Setup& s = m_setup;
    const bool first = DepthTest(s.testFirst, d, ray.depthReference[0]);
    const bool last = DepthTest(s.testLast, d, ray.depthReference[1]);
    switch (s.depthAction) {
        case NKW7_Code(NKW7_DepthCombine::And): return first && last;
        case NKW7_Code(NKW7_DepthCombine::Or): return first || last;
        default: return first != last;
    }
}

bool Kernel::Passes(const SampleTests& tests, const Sample& sample, const Rgba& accum) const {
    const Setup& s = m_setup;
    const bool front = sample.hasNormal && sample.facing > 0.0f;
    if ((tests.direction & NKW7_Code(NKW7_DirectionFilter::RejectFrontFacing)) && front) return false;
    if ((tests.direction & NKW7_Code(NKW7_DirectionFilter::RejectBackFacing)) && !front) return false;
    if (tests.sampleAlpha) {
        const uint32_t q = Quantise12(sample.colour.c[3]);
        if (q < s.sampleAlphaMin || q > s.sampleAlphaMax) return false;
    }
    if (tests.accumulatedAlpha) {
        const uint32_t q = Quantise12(accum.c[3]);
        if (q < s.accumAlphaMin || q > s.accumAlphaMax) return false;
    }
    if (tests.gradientMagnitude && (sample.magnitude2 < s.magnitudeMin || sample.magnitude2 > s.magnitudeMax))
        return false;
    return true;
}

void Kernel::Step(const Slice& slice, Wide xRaw, Wide yRaw, uint32_t xs, uint32_t ys, Ray& ray) {
    const Setup& s = m_setup;
    if (ray.done) return;
    if (s.earlyTermination && ray.accum.c[3] >= s.terminationThreshold) {
        ray.done = true;
        return;
    }
    if (!slice.live) return;
    const Wide x256 = xRaw >> 32, y256 = yRaw >> 32;
    if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1]) return;
    const int64_t permuted[3] = {static_cast<int64_t>(x256), static_cast<int64_t>(y256), slice.z256};
    if (s.cropOn && Cropped(permuted)) return;
    float soft[4];
    int softCount = 0;
    if (s.anyCut) {
        for (int k = 0; k < 4; ++k) {
            const CutPlane& plane = s.cut[k];
            if (!plane.enabled) continue;
            // Over the position, c counts 1/256 of the grid's unit.
            const Wide unit = plane.positional ? 256 : 1;
            const Wide c = plane.positional
                               ? x256 * plane.dXs + y256 * plane.dYs + Wide{slice.z256} * plane.dZs
                               : Wide{xs} * plane.dXs + Wide{ys} * plane.dYs + slice.cut[k];
            const Wide min = unit * plane.min, max = unit * plane.max;
            if (!plane.soft) {
                if ((c >= min && c <= max) != plane.visibility) return;
                continue;
            }
            const Wide d = std::min(c - min, max - c);
            const float inside = static_cast<float>(std::clamp<Wide>(d, 0, 65536 * unit)) /
                                 (plane.positional ? 16777216.0f : 65536.0f);
            soft[softCount++] = plane.visibility ? inside : 1.0f - inside;
        }
    }
    uint32_t d = 0;
    if (s.depthUsed) {
        const Wide depth = (slice.depth + s.dDepthX * xs + s.dDepthY * ys) >> 32;
        d = static_cast<uint32_t>(std::clamp<Wide>(depth, 0, 0xFFFFFF));
        if (s.depthAction != NKW7_Code(NKW7_DepthCombine::Off) && !DepthPasses(d, ray)) return;
    }
    int64_t position[3];
    for (int a = 0; a < 3; ++a) position[s.select[a]] = s.negate[a] ? -permuted[a] - 256 : permuted[a];
    Sample sample;
    m_shader.Shade(position, soft, softCount, sample);
    if (s.spaceLeaping && sample.colour.c[3] <= s.emptyThreshold) return;
    if (s.writeDepth[0] && Passes(s.updateFirst, sample, ray.accum) && (!ray.firstSet || slice.zs < ray.firstZs)) {
        ray.depth[0] = d;
        ray.firstZs = slice.zs;
        ray.firstSet = true;
    }
    if (s.writeDepth[1] && Passes(s.updateLast, sample, ray.accum) && (!ray.lastSet || slice.zs > ray.lastZs)) {
        ray.depth[1] = d;
        ray.lastZs = slice.zs;
        ray.lastSet = true;
    }
    if (s.filter.Any() && !Passes(s.filter, sample, ray.accum)) return;
    Blend(s.blendAccum, ray.accum, sample.colour);
    ++m_counts.samples;
}

int64_t Kernel::Target(const ChipArray& array, uint32_t maskBit, const int64_t (&p)[3]) {
    if ((m_setup.writeMask & maskBit) == 0) {
        ++m_counts.writesOutsideMask;
        return -1;
    }
    const int64_t offset = array.Locate(p);
    if (offset < 0) ++m_counts.droppedWrites;
    return offset;
}

void Kernel::Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour) {
    const ChipArray& image = m_setup.image[slot];
    const int64_t offset = Target(image, 1u << slot, p);
    if (offset < 0) return;
    const int bits = image.ElementBits();
    uint64_t word = bits >= 64 ? background : background & ((uint64_t{1} << bits) - 1);
    for (int k = 0; k < 4; ++k) {
        const FieldCode& code = m_setup.imageFields[slot].code[k];
        double v = static_cast<double>(colour.c[k]);
        // Gradient components go into unsigned fields biased to 0..1.
        if (m_setup.outputGradient && k < 3 && !code.isSigned) v = (v + 1.0) / 2.0;
        code.Write(v, word, bits);
    }
    image.Write(offset, word);
}

void Kernel::StoreDepth(int slot, const int64_t (&p)[3], uint32_t depth) {
    const ChipArray& buffer = m_setup.depth[slot];
    const int64_t offset = Target(buffer, 4u << slot, p);
    if (offset < 0) return;
    const int bits = buffer.ElementBits();
    buffer.Write(offset, bits >= 32 ? depth : depth & ((uint32_t{1} << bits) - 1));
}

}  // namespace tulx7sim::chip
