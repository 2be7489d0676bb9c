// Planes of voxel gradients, computed as the element walk computes each
// voxel's: the same fractions of the same bytes, the same differences.
#include "chip_gradient_slab.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "chip_shading.h"
#include "chip_vector_rows.h"

namespace tulx7sim::chip {

void ByteFractions(const Setup& s, float (&fraction)[3][256]) {
    for (int a = 0; a < 3; ++a) {
        const bool read = s.gradientField[a] >= 0;
        const FieldCode& code = s.voxelFields.code[read ? s.gradientField[a] : 0];
        for (uint32_t b = 0; b < 256; ++b)
            fraction[a][b] = read ? static_cast<float>(code.Read(b)) / static_cast<float>(kFull) : 0.0f;
    }
}

void PlaneRect::Add(const PlaneRect& other) {
    if (other.Empty()) return;
    if (Empty()) {
        *this = other;
        return;
    }
    for (int k = 0; k < 2; ++k) {
        low[k] = std::min(low[k], other.low[k]);
        high[k] = std::max(high[k], other.high[k]);
    }
}

void PlaneFootprint::Fill(const PlaneRect& whole) {
    rect = whole;
    rows.assign(static_cast<size_t>(whole.Height()), Run{whole.low[0], whole.high[0]});
}

void PlaneFootprint::Add(PlaneFootprint&& other) {
    if (Empty()) {
        if (!other.Empty()) *this = std::move(other);
        return;
    }
    Add(static_cast<const PlaneFootprint&>(other));
}

void PlaneFootprint::Add(const PlaneFootprint& other) {
    if (other.Empty()) return;
    if (Empty()) {
        *this = other;
        return;
    }
    PlaneRect both = rect;
    both.Add(other.rect);
    // Rows addressed from a rectangle that starts lower or ends higher
    // move; otherwise the other's runs merge in place.
    if (both.low[1] != rect.low[1] || both.high[1] != rect.high[1] ||
        rows.size() != static_cast<size_t>(rect.Height())) {
        std::vector<Run> moved(static_cast<size_t>(both.Height()), Run{});
        std::copy(rows.begin(), rows.end(), moved.begin() + (rect.low[1] - both.low[1]));
        rows = std::move(moved);
    }
    for (size_t r = 0; r < other.rows.size(); ++r) {
        const Run& run = other.rows[r];
        if (run.low > run.high) continue;
        Run& into = rows[static_cast<size_t>(other.rect.low[1] - both.low[1]) + r];
        if (into.low > into.high) {
            into = run;
            continue;
        }
        into.low = std::min(into.low, run.low);
        into.high = std::max(into.high, run.high);
    }
    rect = both;
}

namespace {

// A raw position's floor in 1/256 voxel, kept within reach of int64 (a
// position that far out is outside every volume anyway).
int64_t Floor256(Wide raw) {
    constexpr Wide kReach = Wide{1} << 40;
    return static_cast<int64_t>(std::clamp<Wide>(raw >> 32, -kReach, kReach));
}

// A sample's position in 1/256 voxel is the floor of an affine function of
// its ray, so it lies within one of the quadrilateral of the tile's corner
// samples; the rest of the slack covers the rounding of doubles, exact
// enough while positions stay within kExactReach.
constexpr double kSlack = 2.0;
constexpr int64_t kExactReach = int64_t{1} << 36;

// The voxel of a position in 1/256 voxel, rounded down (no library call).
int64_t VoxelBelow(double position) {
    const double voxels = position * (1.0 / 256.0);
    const auto whole = static_cast<int64_t>(voxels);
    return static_cast<double>(whole) > voxels ? whole - 1 : whole;
}

// A convex quadrilateral, its corners in order around it.
struct Quad {
    double x[4] = {}, y[4] = {};
    double across[4] = {};  // per edge 1 / its rise in y, 0 when level

    void Edges() {
        for (int k = 0; k < 4; ++k) {
            const double rise = y[(k + 1) & 3] - y[k];
            across[k] = rise == 0.0 ? 0.0 : 1.0 / rise;
        }
    }
    // The least and greatest x over lowY <= y <= highY; low > high when it
    // misses.
    void Span(double lowY, double highY, double& low, double& high) const {
        low = std::numeric_limits<double>::infinity();
        high = -low;
        for (int k = 0; k < 4; ++k) {
            const int n = (k + 1) & 3;
            double t0 = 0.0, t1 = 1.0;
            if (across[k] == 0.0) {
                if (y[k] < lowY || y[k] > highY) continue;
            } else {
                double s0 = (lowY - y[k]) * across[k], s1 = (highY - y[k]) * across[k];
                if (s0 > s1) std::swap(s0, s1);
                t0 = std::max(t0, s0);
                t1 = std::min(t1, s1);
                if (t0 > t1) continue;
            }
            for (const double t : {t0, t1}) {
                const double along = x[k] + (x[n] - x[k]) * t;
                low = std::min(low, along);
                high = std::max(high, along);
            }
        }
    }
};

}  // namespace

PlaneRect TileRectOn(const TileCorners& corners, const bool (&negate)[3], const PlaneRect& bounds) {
    PlaneRect rect;
    for (int corner = 0; corner < 4; ++corner) {
        const int64_t p[2] = {Floor256(corners.x[corner]), Floor256(corners.y[corner])};
        PlaneRect one;
        for (int k = 0; k < 2; ++k) {
            // The voxel below the sample and the one above it.
            one.low[k] = (negate[k] ? -p[k] - 256 : p[k]) >> 8;
            one.high[k] = one.low[k] + 1;
        }
        rect.Add(one);
    }
    for (int k = 0; k < 2; ++k) {
        rect.low[k] = std::max(rect.low[k], bounds.low[k]);
        rect.high[k] = std::min(rect.high[k], bounds.high[k]);
    }
    return rect;
}

PlaneFootprint TileFootprint(const TileCorners& corners, const bool (&negate)[3], const PlaneRect& bounds) {
    PlaneFootprint plane;
    plane.Fill(TileRectOn(corners, negate, bounds));
    if (plane.Empty()) return plane;
    // The corners around the quadrilateral, mirrored as the samples' voxels are.
    static constexpr int kAround[4] = {0, 1, 3, 2};
    Quad quad;
    for (int k = 0; k < 4; ++k) {
        const Wide p[2] = {corners.x[kAround[k]] >> 32, corners.y[kAround[k]] >> 32};
        for (int a = 0; a < 2; ++a) {
            if (p[a] < -kExactReach || p[a] > kExactReach) return plane;
            const auto at = static_cast<int64_t>(p[a]);
            (a == 0 ? quad.x : quad.y)[k] = static_cast<double>(negate[a] ? -at - 256 : at);
        }
    }
    quad.Edges();
    const PlaneRect& rect = plane.rect;
    for (size_t r = 0; r < plane.rows.size(); ++r) {
        // Voxel row b is read by the samples whose voxel row is b - 1 or b,
        // and each reads the voxel after its own along the row too.
        const auto b = static_cast<double>(rect.low[1] + static_cast<int64_t>(r));
        double low, high;
        quad.Span(256.0 * (b - 1.0) - kSlack, 256.0 * (b + 1.0) - 1.0 + kSlack, low, high);
        PlaneFootprint::Run& run = plane.rows[r];
        if (low > high) {
            run = PlaneFootprint::Run{};
            continue;
        }
        run.low = std::max(rect.low[0], VoxelBelow(low - kSlack));
        run.high = std::min(rect.high[0], VoxelBelow(high + kSlack) + 1);
    }
    return plane;
}

GradientSlab::GradientSlab(const Setup& s, Shader& shader) : m_setup(s), m_shader(shader) {
    ByteFractions(s, m_fraction);
    for (int a = 0; a < 3; ++a) {
        m_axis[a] = s.select[a];
        m_component[a] = !s.zeroGradient && s.gradientField[a] >= 0;
        if (!m_component[a]) continue;
        const FieldCode& code = s.voxelFields.code[s.gradientField[a]];
        std::fill_n(m_border[a], 256, static_cast<float>(code.Read(s.voxelBorder)) / static_cast<float>(kFull));
    }
    m_lanes = FractionLanesFor(s, m_fraction, m_component);
    // Along each axis, voxels read alike but for the first and the last.
    for (int k = 0; k < 3; ++k) {
        const int64_t at[3] = {s.voxels.low[k], s.voxels.low[k] + 1, s.voxels.high[k]};
        for (int c = 0; c < 3; ++c) m_known[k][c] = ReadsAlong(k, at[c], m_reads[k][c]);
    }
    m_useLanes = m_lanes.exact && ActiveIsa() == ChipIsa::kAvx2;
    // A component reads the voxel ahead along its axis and, for central
    // differences, the one behind.
    for (int a = 0; a < 3; ++a) {
        m_directLow[a] = s.voxels.low[a] + (m_component[a] && !s.forward ? 1 : 0);
        m_directHigh[a] = s.voxels.high[a] - (m_component[a] ? 1 : 0);
        m_low[a] = s.quietReads ? s.voxels.low[a] : m_directLow[a];
        m_high[a] = s.quietReads ? s.voxels.high[a] : m_directHigh[a];
    }
}

bool GradientSlab::Plan(int64_t first, const std::vector<PlaneRect>& rects, int64_t limit) {
    int64_t width = 0, height = 0;
    for (const PlaneRect& rect : rects) {
        if (rect.Width() * rect.Height() > limit) return false;
        width = std::max(width, rect.Width());
        height = std::max(height, rect.Height());
    }
    m_first = first;
    m_planes.resize(rects.size());
    for (size_t k = 0; k < rects.size(); ++k) {
        m_planes[k].rect = rects[k];
        m_planes[k].rows.clear();
    }
    // One row stride for both slots keeps the step between a plane and
    // the next the same for every voxel of a slice.
    m_stride = width;
    m_capacity = width * height;
    if (m_entries.size() < static_cast<size_t>(2 * m_capacity)) m_entries.resize(static_cast<size_t>(2 * m_capacity));
    m_held[0] = m_held[1] = false;
    return true;
}

void GradientSlab::Cut(int64_t w, PlaneFootprint&& plane) {
    PlaneFootprint& planned = m_planes[static_cast<size_t>(w - m_first)];
    // Rows addressed from another rectangle would be read in the wrong place.
    const PlaneRect& a = planned.rect;
    const PlaneRect& b = plane.rect;
    if (a.low[0] != b.low[0] || a.low[1] != b.low[1] || a.high[0] != b.high[0] || a.high[1] != b.high[1]) return;
    planned.rows = std::move(plane.rows);
}

void GradientSlab::Ready(int64_t w) {
    const int lowerSlot = static_cast<int>(w & 1), upperSlot = lowerSlot ^ 1;
    for (const int64_t plane : {w, w + 1}) {
        const int slot = static_cast<int>(plane & 1);
        if (m_held[slot] && m_plane[slot] == plane) continue;
        Compute(slot, plane, m_planes[static_cast<size_t>(plane - m_first)]);
        m_plane[slot] = plane;
        m_held[slot] = true;
    }
    const PlaneRect& lower = m_planes[static_cast<size_t>(w - m_first)].rect;
    const PlaneRect& upper = m_planes[static_cast<size_t>(w + 1 - m_first)].rect;
    m_lower = m_entries.data() + lowerSlot * m_capacity;
    m_lowerRect = lower;
    // Entries from a voxel of the lower plane to the same voxel of the
    // upper one, which has its own corner.
    const int64_t across = (upperSlot - lowerSlot) * m_capacity - (upper.low[1] - lower.low[1]) * m_stride -
                           (upper.low[0] - lower.low[0]);
    int64_t step[3];
    step[m_axis[0]] = 1;
    step[m_axis[1]] = m_stride;
    step[m_axis[2]] = across;
    for (int c = 0; c < 8; ++c)
        m_corner[c] = (c & 1 ? step[0] : 0) + (c & 2 ? step[1] : 0) + (c & 4 ? step[2] : 0);
}

namespace {

// What a component without a field reads: 0 for every byte.
const float kZeros[256] = {};

// A row of entries from the voxels at `at` on: each component the fraction
// ahead less the one behind, halved for central differences (exactly, as
// the division by 2 is).
// `Plain`: each component reads one table ahead and behind, behind as far
// as ahead (the voxel itself for forward differences), as the voxels
// between the volume's edges do; fewer values to hold through the loop.
template <bool Central, bool Plain>
void EntryRow(const uint8_t* at, int64_t stepAlong, const EntryReads& reads, Float4* row, int64_t count) {
    const float* table[2][3];
    int64_t step[2][3];
    for (int k = 0; k < 3; ++k) {
        const ComponentReads& c = reads.component[k];
        table[0][k] = c.table[0];
        table[1][k] = Plain ? c.table[0] : c.table[1];
        step[0][k] = c.step[0];
        step[1][k] = !Plain ? c.step[1] : Central ? -c.step[0] : 0;
    }
    for (int64_t a = 0; a < count; ++a, at += stepAlong) {
        float g[3];
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const float ahead = table[0][k][at[step[0][k]]];
            const float behind = table[1][k][at[step[1][k]]];
            g[k] = Central ? (ahead - behind) * 0.5f : ahead - behind;
        }
        row[a] = Float4{g[0], g[1], g[2], 0.0f};
    }
}

template <bool Central>
void EntryRow(const uint8_t* at, int64_t stepAlong, const EntryReads& reads, Float4* row, int64_t count) {
    bool plain = true;
    for (const ComponentReads& c : reads.component)
        plain = plain && c.table[0] == c.table[1] && c.step[1] == (Central ? -c.step[0] : 0);
    if (plain)
        EntryRow<Central, true>(at, stepAlong, reads, row, count);
    else
        EntryRow<Central, false>(at, stepAlong, reads, row, count);
}

}  // namespace

void GradientSlab::Compute(int slot, int64_t w, const PlaneFootprint& plane) {
    const int ax = m_axis[0], ay = m_axis[1], az = m_axis[2];
    const PlaneRect& rect = plane.rect;
    // Each component reads as its own axis's coordinate has it: along Zv
    // alike throughout the plane, along Yv throughout a row.
    EntryReads reads;
    bool known = ReadsAt(az, w, reads);
    for (int64_t b = rect.low[1]; b <= rect.high[1]; ++b) {
        const PlaneFootprint::Run run =
            plane.rows.empty() ? PlaneFootprint::Run{rect.low[0], rect.high[0]} : plane.rows[static_cast<size_t>(b - rect.low[1])];
        if (run.low > run.high) continue;
        Float4* row = m_entries.data() + slot * m_capacity + (b - rect.low[1]) * m_stride + (run.low - rect.low[0]);
        const bool rowKnown = known && ReadsAt(ay, b, reads);
        int64_t p[3];
        p[ay] = b;
        p[az] = w;
        // Voxels whose neighbours along the row lie in storage read alike
        // and take the row loop; those at the volume's edge, one by one.
        const int64_t first = std::max(run.low, m_directLow[ax]), last = std::min(run.high, m_directHigh[ax]);
        auto voxels = [&](int64_t from, int64_t count) {
            p[ax] = from;
            ComputeRun(p, reads, rowKnown && ReadsAt(ax, from, reads), row + (from - run.low), count);
        };
        for (int64_t a = run.low; a <= std::min(first - 1, run.high); ++a) voxels(a, 1);
        if (first <= last) voxels(first, last - first + 1);
        for (int64_t a = std::max(last + 1, run.low); a <= run.high; ++a) voxels(a, 1);
    }
}

void GradientSlab::ComputeRun(const int64_t (&p)[3], const EntryReads& reads, bool known, Float4* row,
                              int64_t count) const {
    const DirectBox& box = m_setup.voxels;
    if (!known) {
        int64_t at[3] = {p[0], p[1], p[2]};
        for (int64_t a = 0; a < count; ++a, ++at[m_axis[0]]) {
            float g[3];
            m_shader.VoxelGradient(at[0], at[1], at[2], g);
            row[a] = Float4{g[0], g[1], g[2], 0.0f};
        }
        return;
    }
    const uint8_t* at = box.At(p[0], p[1], p[2]);
    const int64_t along = box.stride[m_axis[0]];
    if (m_useLanes && along == 1 && count >= 8)
        EntryRowLanes(!m_setup.forward, at, reads, m_lanes, row, count);
    else if (m_setup.forward)
        EntryRow<false>(at, along, reads, row, count);
    else
        EntryRow<true>(at, along, reads, row, count);
}

bool GradientSlab::ReadsAlong(int k, int64_t at, ComponentReads& reads) const {
    const Setup& s = m_setup;
    const DirectBox& box = s.voxels;
    reads = ComponentReads{{0, 0}, {kZeros, kZeros}};
    if (!box.valid || at < box.low[k] || at > box.high[k]) return false;
    if (!m_component[k]) return true;
    const int64_t neighbour[2] = {1, s.forward ? 0 : -1};
    for (int n = 0; n < 2; ++n) {
        const int64_t there = at + neighbour[n];
        reads.table[n] = m_fraction[k];
        if (there >= box.low[k] && there <= box.high[k])
            reads.step[n] = neighbour[n] * box.stride[k];
        else if (!s.quietReads)
            return false;
        // Past the edge of a volume that fills its storage: the edge voxel
        // itself when edges extend, else the border word.
        else if (!s.extend[k])
            reads.table[n] = m_border[k];
    }
    return true;
}

}  // namespace tulx7sim::chip
