// Shaded rows and the planning of their gradient slab.
#include "chip_lit_rows.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "chip_kernels.h"

namespace tulx7sim::chip {

namespace {

bool Fits64(Wide v) { return v >= INT64_MIN && v <= INT64_MAX; }

// Whether the maps a setup lights by hold every entry, so that no read of
// theirs counts.
bool MapsWhole(const Setup& s) {
    constexpr size_t kFullMap = 6 * 64;
    return (s.diffuse == 0.0f || s.diffuseMap.valid >= kFullMap) && (s.specular == 0.0f || s.specularMap.valid >= kFullMap);
}

// A plane's gradients are worth a slab while it holds at most this many
// voxels per sample of the tile (and a margin for its edges).
constexpr int64_t kVoxelsPerSample = 4;
constexpr int64_t kMarginVoxels = 1024;
// A plane with fewer voxels than half the tile's rays is not cut.
constexpr int64_t kCrowded = 2;

}  // namespace

LitRows::LitRows(const Setup& setup, Shader& shader, ChipDiagnostics& counts)
    : m_setup(setup), m_shader(shader), m_counts(counts), m_slab(setup, shader) {
    for (int k = 0; k < 2; ++k) {
        m_bounds.low[k] = m_slab.Low(setup.select[k]);
        m_bounds.high[k] = m_slab.High(setup.select[k]);
    }
    // Slices whose rows or columns step along one volume axis alone lay a
    // tile's samples out in rectangles on the planes, which nothing cuts.
    for (const Slice& slice : setup.slices)
        m_turned = m_turned || ((slice.xy != 0 || slice.yx != 0) && (slice.xx != 0 || slice.yy != 0));
    m_lanes = LanesSuit();
    if (m_lanes) FillLanes();
    // A sample of alpha +0 whose light that alpha weights comes out black
    // and clear, its colours being finite and not negative; and a blend
    // that weights a sample's colour by its alpha adds the same zeros
    // whatever such a colour. Where the maps and modulation count no read,
    // the light of a clear sample need not be worked out then.
    const bool weighted = setup.opacityWeight && (setup.specular == 0.0f || setup.opacityWeightSpecular);
    const bool blendWeighted = setup.blendAccum == NKW7_Code(NKW7_BlendMode::BackToFront) ||
                               setup.blendAccum == NKW7_Code(NKW7_BlendMode::FrontToBack);
    m_clearUnlit = (weighted || blendWeighted) && !setup.alphaCorrection && !setup.outputGradient &&
                     !setup.outputMagnitude && !Shader::ReadsMagnitude(setup) && MapsWhole(setup);
}

bool LitRows::LanesSuit() const {
    const Setup& s = m_setup;
    return ActiveIsa() == ChipIsa::kAvx2 && m_shader.TabledField() >= 0 && !Shader::ReadsMagnitude(s) &&
           !s.alphaCorrection && !s.outputGradient && !s.outputMagnitude &&
           s.blendAccum >= NKW7_Code(NKW7_BlendMode::BackToFront) &&
           s.blendAccum <= NKW7_Code(NKW7_BlendMode::FrontToBackPreWeighted);
}

void LitRows::FillLanes() {
    const Setup& s = m_setup;
    LitRow& row = m_row;
    const int field = m_shader.TabledField();
    row.decode = lanes::FieldDecodeOf(s.voxelFields.code[field], m_shader.TabledValues());
    row.colours = m_shader.RoutedColours();
    row.valid = static_cast<uint32_t>(std::min<size_t>(s.table[field].valid, 256));
    row.interpolate = s.interpolateGradient;
    row.correct = s.correct;
    std::copy(&s.correction[0][0], &s.correction[0][0] + 9, &row.correction[0][0]);
    row.emissive = s.emissive;
    row.diffuse = s.diffuse;
    row.specular = s.specular;
    std::copy(s.eye, s.eye + 3, row.eye);
    std::copy(s.specularColour.c, s.specularColour.c + 3, row.specularColour);
    row.diffuseMap = s.diffuseMap.entries.data();
    row.specularMap = s.specularMap.entries.data();
    row.diffuseValid = static_cast<uint32_t>(s.diffuseMap.valid);
    row.specularValid = static_cast<uint32_t>(s.specularMap.valid);
    row.bypassReflection = s.bypassReflection;
    row.specularFrontOnly = s.specularFrontOnly;
    row.weighted = s.opacityWeight;
    row.weightedSpecular = s.opacityWeightSpecular;
    row.mode = s.blendAccum;
    row.earlyTermination = s.earlyTermination;
    row.threshold = s.terminationThreshold;
    row.leaping = s.spaceLeaping;
    row.emptyThreshold = s.emptyThreshold;
    // Maps short of entries count the reads past them, which a recalled
    // light would not.
    row.mapsWhole = MapsWhole(s);
    const bool diffuse = s.diffuse != 0.0f, specular = s.specular != 0.0f;
    if ((diffuse || specular) && row.mapsWhole) {
        LightInputs inputs;
        inputs.diffuse = diffuse;
        inputs.specular = specular;
        inputs.bypassReflection = s.bypassReflection;
        inputs.specularFrontOnly = s.specularFrontOnly;
        std::copy(s.eye, s.eye + 3, inputs.eye);
        if (diffuse) inputs.diffuseMap = s.diffuseMap.entries;
        if (specular) inputs.specularMap = s.specularMap.entries;
        m_memo.reset(LightMemo::Take(inputs));
        row.memo = m_memo.get();
    }
}

bool LitRows::Suits(const Setup& s) {
    return s.gradient && s.gradientCache && s.voxels.valid && s.voxels.bytes == 1 && !s.volumeOutput &&
           !s.cropOn && !s.anyCut && !s.depthUsed && !s.filter.Any();
}

void LitRows::BeginTile(uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
    const Setup& s = m_setup;
    m_tile = TileRect{x0, y0, width, height};
    m_planned = false;
    // The memo's pauses count tiles of kTileRows rows: a taller tile counts
    // as that many, so that a pause passes over about as many rays.
    if (m_memo)
        for (uint32_t rows = 0; rows < height; rows += kTileRows) m_memo->BeginTile();
    // Each plane's rectangle bounds what the slices reading it (as lower
    // or upper plane) reach of it; rows are cut to it as the slices come.
    m_reads.clear();
    m_slabSlices.assign(s.slices.size(), 0);
    // Each live slice's corners, which its run reads again.
    m_corners.resize(s.slices.size());
    std::vector<std::pair<int64_t, PlaneRect>> rects;
    for (size_t n = 0; n < s.slices.size(); ++n) {
        const Slice& slice = s.slices[n];
        if (!slice.live) continue;
        m_corners[n] = TileCorners(slice, m_tile);
        const int64_t w = Depth(slice) >> 8;
        if (!SlabPlanes(slice, w)) continue;
        const PlaneRect rect = TileRectOn(m_corners[n], s.negate, m_bounds);
        if (rect.Empty()) continue;
        rects.emplace_back(w, rect);
        m_reads.push_back(SliceRead{w, n});
        m_slabSlices[n] = 1;
    }
    if (m_reads.empty()) return;
    std::stable_sort(m_reads.begin(), m_reads.end(), [](const SliceRead& a, const SliceRead& b) { return a.w < b.w; });
    m_first = m_reads.front().w;
    const auto planes = static_cast<size_t>(m_reads.back().w - m_first + 2);
    std::vector<PlaneRect> bounds(planes);
    for (const auto& [w, rect] : rects) {
        bounds[static_cast<size_t>(w - m_first)].Add(rect);
        bounds[static_cast<size_t>(w + 1 - m_first)].Add(rect);
    }
    m_groups.assign(planes - 1, PlaneFootprint{});
    m_grouped.assign(planes - 1, 0);
    m_cut.assign(planes, 0);
    m_planned = m_slab.Plan(m_first, bounds, kVoxelsPerSample * width * height + kMarginVoxels);
}

bool LitRows::SlabPlanes(const Slice& slice, int64_t w) const {
    const int az = m_setup.select[2];
    if (w < m_slab.Low(az)) return false;
    if (w + 1 <= m_slab.High(az)) return true;
    // The plane past the last holds the gradients the element walk gives
    // its voxels (border or edge words); the slab computes them as it does
    // its edge voxels'.
    return m_setup.quietReads && w == m_setup.voxels.high[az] && w == m_slab.High(az) && (Depth(slice) & 255) == 0;
}

const PlaneFootprint& LitRows::Group(int64_t w) {
    static const PlaneFootprint kNone;
    if (w < m_first || w - m_first >= static_cast<int64_t>(m_groups.size())) return kNone;
    const auto at = static_cast<size_t>(w - m_first);
    if (!m_grouped[at]) {
        auto read = std::lower_bound(m_reads.begin(), m_reads.end(), w,
                                     [](const SliceRead& entry, int64_t plane) { return entry.w < plane; });
        for (; read != m_reads.end() && read->w == w; ++read)
            m_groups[at].Add(TileFootprint(m_corners[read->slice], m_setup.negate, m_bounds));
        m_grouped[at] = 1;
    }
    return m_groups[at];
}

void LitRows::CutPlanes(int64_t w) {
    // A tile looking down a volume axis fills its rectangles.
    if (!m_turned) return;
    for (const int64_t plane : {w, w + 1}) {
        const auto at = static_cast<size_t>(plane - m_first);
        if (m_cut[at]) continue;
        m_cut[at] = 1;
        // Where the tile's samples crowd a plane, each of its voxels
        // serves several and what a cut leaves out is worth less than it
        // costs.
        const PlaneRect& rect = m_slab.Rect(plane);
        if (rect.Width() * rect.Height() * kCrowded < int64_t{m_tile.width} * m_tile.height) continue;
        // Plane p is the upper plane of slices of group p - 1 and the lower
        // of those of group p.
        PlaneFootprint cut = Group(plane - 1);
        cut.Add(Group(plane));
        m_slab.Cut(plane, std::move(cut));
    }
}

bool LitRows::Run(Kernel& kernel, const Slice& slice, Ray* rays) {
    const Setup& s = m_setup;
    // The slices the tile planned its slab for, and their corners, as
    // BeginTile found them (a slice from elsewhere is looked at afresh).
    const Slice* slices = s.slices.data();
    const bool ours =
        slice.live && !std::less<>()(&slice, slices) && std::less<>()(&slice, slices + m_slabSlices.size());
    const size_t n = ours ? static_cast<size_t>(&slice - slices) : 0;
    const TileCorners corners = ours ? m_corners[n] : TileCorners(slice, m_tile);
    // A slice the tile's rays miss leaves them to go on.
    if (corners.Trimmed(s.trimMin, s.trimMax)) return true;
    const int64_t w = Depth(slice) >> 8;
    const bool planned = ours ? m_slabSlices[n] != 0
                              : SlabPlanes(slice, w) && !TileRectOn(corners, s.negate, m_bounds).Empty();
    const bool slab = m_planned && planned;
    if (slab) {
        CutPlanes(w);
        m_slab.Ready(w);
    }
    // A tile whose four corners are interior is interior throughout.
    bool interior = slab && m_lanes && corners.fit;
    for (int c = 0; c < 4 && interior; ++c)
        interior = Inside(static_cast<uint64_t>(corners.x[c]), static_cast<uint64_t>(corners.y[c]));
    bool anyLeft = false;
    if (interior && ShadeTile(slice, corners, rays, anyLeft)) return anyLeft;
    for (uint32_t j = 0; j < m_tile.height; ++j)
        anyLeft = Row(kernel, slice, j, rays + j * m_tile.width, slab) || anyLeft;
    return anyLeft;
}

bool LitRows::Inside(uint64_t x, uint64_t y) const {
    const Setup& s = m_setup;
    const int64_t px = static_cast<int64_t>(x) >> 32, py = static_cast<int64_t>(y) >> 32;
    if (px < s.trimMin[0] || px > s.trimMax[0] || py < s.trimMin[1] || py > s.trimMax[1]) return false;
    // The eight voxels from storage and their gradients from the slab,
    // which may hold more than storage does.
    const int64_t bx = (s.negate[0] ? -px - 256 : px) >> 8, by = (s.negate[1] ? -py - 256 : py) >> 8;
    const int ax = s.select[0], ay = s.select[1];
    const DirectBox& box = s.voxels;
    return bx >= std::max(m_slab.Low(ax), box.low[ax]) && bx < std::min(m_slab.High(ax), box.high[ax]) &&
           by >= std::max(m_slab.Low(ay), box.low[ay]) && by < std::min(m_slab.High(ay), box.high[ay]);
}

bool LitRows::Parts(const Slice& slice, Wide xRaw, Wide yRaw, bool slab, uint32_t (&bounds)[4]) const {
    const Setup& s = m_setup;
    const uint32_t width = m_tile.width;
    const Wide span = width - 1;
    // Rows whose ends do not fit in 64 bits take every sample through Step.
    bounds[0] = bounds[1] = bounds[2] = 0;
    bounds[3] = width;
    if (!Fits64(xRaw) || !Fits64(yRaw) || !Fits64(xRaw + span * slice.xx) || !Fits64(yRaw + span * slice.yx))
        return false;
    // The floors along Xv and Yv that pass the trims, and those of them
    // whose voxels and gradients all come from the slab (Inside's tests).
    int64_t low[2][2], high[2][2];
    for (int k = 0; k < 2; ++k) {
        const int axis = s.select[k];
        const int64_t first = std::max(m_slab.Low(axis), s.voxels.low[axis]);
        const int64_t last = std::min(m_slab.High(axis), s.voxels.high[axis]) - 1;
        low[0][k] = s.trimMin[k];
        high[0][k] = s.trimMax[k];
        InteriorFloors(s, k, first, last, low[1][k], high[1][k]);
    }
    // Positions are affine along the row: the samples within each pair of
    // bounds are consecutive, and found in closed form.
    auto within = [&](int b, uint32_t& begin, uint32_t& end) {
        constexpr int64_t kFloor = int64_t{1} << 32;
        int64_t first = 0, last = width - 1;
        // Floors within int32 trims bound positions that fit in 64 bits.
        AffineRun(static_cast<int64_t>(xRaw), slice.xx, low[b][0] * kFloor, high[b][0] * kFloor + (kFloor - 1), first,
                  last);
        AffineRun(static_cast<int64_t>(yRaw), slice.yx, low[b][1] * kFloor, high[b][1] * kFloor + (kFloor - 1), first,
                  last);
        if (first > last) return false;
        begin = static_cast<uint32_t>(first);
        end = static_cast<uint32_t>(last + 1);
        return true;
    };
    if (!within(0, bounds[0], bounds[3])) {
        bounds[0] = bounds[1] = bounds[2] = bounds[3] = width;
        return true;
    }
    if (!slab || !within(1, bounds[1], bounds[2])) bounds[1] = bounds[2] = bounds[3];
    return true;
}

bool LitRows::Row(Kernel& kernel, const Slice& slice, uint32_t row, Ray* ray, bool slab) {
    const Setup& s = m_setup;
    const uint32_t ys = m_tile.y0 + row, x0 = m_tile.x0, width = m_tile.width;
    const Wide xRaw = slice.x0 + Wide{x0} * slice.xx + Wide{ys} * slice.xy;
    const Wide yRaw = slice.y0 + Wide{x0} * slice.yx + Wide{ys} * slice.yy;
    // Samples [b0, b3) pass the trims, [b1, b2) of them are interior.
    uint32_t b[4];
    const bool sides = Parts(slice, xRaw, yRaw, slab, b) && slab;
    // A sample the trims reject only stops its ray under early
    // termination, as Step would.
    auto stop = [&](uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i)
            if (ray[i].accum.c[3] >= s.terminationThreshold) ray[i].done = true;
    };
    if (s.earlyTermination) {
        stop(0, b[0]);
        stop(b[3], width);
    }
    // Samples at the volume's sides blend what gradients the slab holds
    // with those of the voxels past it, one by one.
    auto step = [&](uint32_t from, uint32_t to) {
        if (sides && from < to) {
            ShadeEach<true>(slice, static_cast<uint64_t>(xRaw + Wide{from} * slice.xx),
                            static_cast<uint64_t>(yRaw + Wide{from} * slice.yx), ray + from, to - from);
            return;
        }
        for (uint32_t i = from; i < to; ++i)
            if (!ray[i].done) kernel.Step(slice, xRaw + Wide{i} * slice.xx, yRaw + Wide{i} * slice.yx, x0 + i, ys, ray[i]);
    };
    step(b[0], b[1]);
    if (b[1] < b[2])
        Shade(slice, static_cast<uint64_t>(xRaw + Wide{b[1]} * slice.xx),
              static_cast<uint64_t>(yRaw + Wide{b[1]} * slice.yx), ray + b[1], b[2] - b[1]);
    step(b[2], b[3]);
    bool anyLeft = false;
    for (uint32_t i = 0; i < width; ++i) anyLeft = anyLeft || !ray[i].done;
    return anyLeft;
}

void LitRows::SideGradient(const int64_t (&position)[3], const int64_t (&f)[3], float (&g)[3]) {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    const int ax = s.select[0], ay = s.select[1], az = s.select[2];
    const int64_t base[3] = {position[0] >> 8, position[1] >> 8, position[2] >> 8};
    const int64_t across = m_slab.Corners()[1 << az];
    // The voxel one up along the axes of `up`: from the slab where it holds
    // it (its lower plane is the sample's, its upper the next); a step past
    // a range that is storage along one axis, from the edge voxel beside
    // it; else as the element walk computes it, counts and all.
    auto voxel = [&](int up) {
        const int64_t p[3] = {base[0] + (up & 1), base[1] + (up >> 1 & 1), base[2] + (up >> 2 & 1)};
        const int64_t plane = (up >> az & 1) != 0 ? across : 0;
        int outside = -1, count = 0;
        for (const int k : {ax, ay})
            if (p[k] < m_slab.Low(k) || p[k] > m_slab.High(k)) {
                outside = k;
                ++count;
            }
        if (count == 0) return m_slab.Entry(p[ax], p[ay])[plane];
        if (count == 1 && s.quietReads && (p[outside] == box.low[outside] - 1 || p[outside] == box.high[outside] + 1) &&
            p[az] >= box.low[az] && p[az] <= box.high[az]) {
            int64_t q[3] = {p[0], p[1], p[2]};
            const bool above = p[outside] > box.high[outside];
            q[outside] = above ? box.high[outside] : box.low[outside];
            return m_shader.GradientPastEdge(outside, above, m_slab.Entry(q[ax], q[ay])[plane],
                                             *box.At(q[0], q[1], q[2]));
        }
        float one[3];
        m_shader.VoxelGradient(p[0], p[1], p[2], one);
        return Float4{one[0], one[1], one[2], 0.0f};
    };
    Float4 value;
    if (s.interpolateGradient) {
        // Neighbours of weight 0 are not read.
        Float4 corners[8] = {};
        for (int c = 0; c < 8; ++c)
            if (((c & 1) == 0 || f[0] != 0) && ((c & 2) == 0 || f[1] != 0) && ((c & 4) == 0 || f[2] != 0))
                corners[c] = voxel(c);
        value = LerpCorners(corners, f);
    } else {
        value = voxel((f[0] >= 128 ? 1 : 0) | (f[1] >= 128 ? 2 : 0) | (f[2] >= 128 ? 4 : 0));
    }
    for (int k = 0; k < 3; ++k) g[k] = value[k];
}

void LitRows::SlabGradient(int64_t a, int64_t b, const int64_t (&f)[3], float (&g)[3]) const {
    const Float4* at = m_slab.Entry(a, b);
    const int64_t(&corner)[8] = m_slab.Corners();
    Float4 value;
    if (m_setup.interpolateGradient) {
        Float4 corners[8];
        for (int c = 0; c < 8; ++c) corners[c] = at[corner[c]];
        value = LerpCorners(corners, f);
    } else {
        // The nearest voxel: one up along each axis whose weight rounds up.
        int64_t offset = 0;
        for (int axis = 0; axis < 3; ++axis) offset += f[axis] >= 128 ? corner[1 << axis] : 0;
        value = at[offset];
    }
    for (int k = 0; k < 3; ++k) g[k] = value[k];
}

void LitRows::Shade(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count) {
    if (!m_lanes || !ShadeLanes(slice, x, y, ray, count)) ShadeEach<false>(slice, x, y, ray, count);
}

bool LitRows::ShadeLanes(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count) {
    LitRow& row = m_row;
    if (!PlaceRow(m_setup, Depth(slice), x, y, static_cast<uint64_t>(slice.xx), static_cast<uint64_t>(slice.yx), count,
                  row))
        return false;
    row.rows = 1;
    if (!OnLastPlane(Depth(slice), row)) return false;
    RunLanes(row, ray, count);
    return true;
}

bool LitRows::ShadeTile(const Slice& slice, const TileCorners& corners, Ray* rays, bool& anyLeft) {
    LitRow& row = m_row;
    if (!PlaceTile(m_setup, slice, corners, m_tile.height, row) || !OnLastPlane(Depth(slice), row)) return false;
    anyLeft = RunLanes(row, rays, m_tile.width);
    return true;
}

bool LitRows::OnLastPlane(int64_t depth, LitRow& row) const {
    // On the last plane of storage the plane past it has weight 0 and is
    // not there to read: its corners read the plane's own voxels, which
    // give the same values.
    const DirectBox& box = m_setup.voxels;
    const int az = m_setup.select[2];
    if ((depth >> 8) < box.high[az]) return true;
    for (int c = 0; c < 8; ++c)
        if (c & (1 << az)) row.corner[c] = row.corner[c & ~(1 << az)];
    // The lanes load each voxel with the next along u as one pair, whatever
    // its weight: where u is the depth axis, the pair of the plane's last
    // voxel may end past the end of storage, and then the plane's samples
    // take the one-by-one step.
    if (az != 0) return true;
    return box.At(box.high[0], box.high[1], box.high[2]) + 2 * box.bytes <= box.end;
}

bool LitRows::RunLanes(LitRow& row, Ray* ray, uint32_t width) {
    row.slab = m_slab.Entry(row.firstX, row.firstY);
    row.slabStrideY = static_cast<int32_t>(m_slab.Stride());
    for (int c = 0; c < 8; ++c) row.slabCorner[c] = static_cast<int32_t>(m_slab.Corners()[c]);
    const RowOutcome outcome = LitRowAvx2(row, ray, width);
    m_counts.samples += outcome.samples;
    m_counts.unboundTableReads += outcome.unboundReads;
    return outcome.anyLeft;
}

template <bool Sides>
void LitRows::ShadeEach(const Slice& slice, uint64_t x, uint64_t y, Ray* ray, uint32_t count) {
    const Setup& s = m_setup;
    const auto dx = static_cast<uint64_t>(slice.xx), dy = static_cast<uint64_t>(slice.yx);
    const int ax = s.select[0], ay = s.select[1], az = s.select[2];
    int64_t position[3], f[3];
    position[az] = Depth(slice);
    f[az] = position[az] & 255;
    uint64_t samples = 0;
    for (uint32_t i = 0; i < count; ++i, x += dx, y += dy) {
        Ray& r = ray[i];
        if (r.done) continue;
        if (s.earlyTermination && r.accum.c[3] >= s.terminationThreshold) {
            r.done = true;
            continue;
        }
        const int64_t px = static_cast<int64_t>(x) >> 32, py = static_cast<int64_t>(y) >> 32;
        position[ax] = s.negate[0] ? -px - 256 : px;
        position[ay] = s.negate[1] ? -py - 256 : py;
        f[ax] = position[ax] & 255;
        f[ay] = position[ay] & 255;
        const Rgba c = m_shader.Classify(position);
        // A clear sample whose light shows nothing stays black and clear,
        // without its gradient too where that counts no read (at the sides,
        // voxels past the slab may read outside storage).
        Sample sample;
        const bool unlit = m_clearUnlit && c.c[3] == 0.0f && !std::signbit(c.c[3]) && (!Sides || s.quietReads);
        if (!unlit) {
            float g[3];
            if constexpr (Sides)
                SideGradient(position, f, g);
            else
                SlabGradient(position[ax] >> 8, position[ay] >> 8, f, g);
            m_shader.Light(c, g, sample);
        }
        if (s.spaceLeaping && sample.colour.c[3] <= s.emptyThreshold) continue;
        Blend(s.blendAccum, r.accum, sample.colour);
        ++samples;
    }
    m_counts.samples += samples;
}

}  // namespace tulx7sim::chip
