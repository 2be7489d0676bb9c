// Planes of voxel gradients, computed as the element walk computes each
// voxel's: the same fractions of the same bytes, the same differences.
#include "chip_gradient_slab.h"

#include <algorithm>

#include "chip_shading.h"

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

GradientSlab::GradientSlab(const Setup& s, Shader& shader) : m_setup(s), m_shader(shader) {
    ByteFractions(s, m_fraction);
    for (int a = 0; a < 3; ++a) {
        m_axis[a] = s.select[a];
        m_component[a] = !s.zeroGradient && s.gradientField[a] >= 0;
    }
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
    m_rects = rects;
    // One row stride for both slots keeps the step between a plane and
    // the next the same for every voxel of a slice.
    m_stride = width;
    m_capacity = width * height;
    if (m_entries.size() < static_cast<size_t>(2 * m_capacity)) m_entries.resize(static_cast<size_t>(2 * m_capacity));
    m_held[0] = m_held[1] = false;
    return true;
}

void GradientSlab::Ready(int64_t w) {
    const int lowerSlot = static_cast<int>(w & 1), upperSlot = lowerSlot ^ 1;
    for (const int64_t plane : {w, w + 1}) {
        const int slot = static_cast<int>(plane & 1);
        if (m_held[slot] && m_plane[slot] == plane) continue;
        Compute(slot, plane, m_rects[static_cast<size_t>(plane - m_first)]);
        m_plane[slot] = plane;
        m_held[slot] = true;
    }
    const PlaneRect& lower = m_rects[static_cast<size_t>(w - m_first)];
    const PlaneRect& upper = m_rects[static_cast<size_t>(w + 1 - m_first)];
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

// A row of entries from the voxels at `at` on: each component the fractions
// ahead and behind along its axis, halved for central differences (exactly,
// as the division by 2 is). A component without a field reads a table of
// zeros at a step of 0, and gives 0 as the element walk's does.
template <bool Central>
void EntryRow(const uint8_t* at, int64_t stepAlong, const int64_t (&step)[3], const float* const (&table)[3],
              Float4* row, int64_t count) {
    for (int64_t a = 0; a < count; ++a, at += stepAlong) {
        float g[3];
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const float ahead = table[k][at[step[k]]];
            const float behind = table[k][Central ? at[-step[k]] : at[0]];
            g[k] = Central ? (ahead - behind) * 0.5f : ahead - behind;
        }
        row[a] = Float4{g[0], g[1], g[2], 0.0f};
    }
}

}  // namespace

void GradientSlab::Compute(int slot, int64_t w, const PlaneRect& rect) {
    static const float kZeros[256] = {};
    const DirectBox& box = m_setup.voxels;
    Float4* out = m_entries.data() + slot * m_capacity;
    int64_t step[3];
    const float* table[3];
    for (int k = 0; k < 3; ++k) {
        step[k] = m_component[k] ? box.stride[k] : 0;
        table[k] = m_component[k] ? m_fraction[k] : kZeros;
    }
    const int ax = m_axis[0], ay = m_axis[1], az = m_axis[2];
    const bool planeDirect = w >= m_directLow[az] && w <= m_directHigh[az];
    for (int64_t b = rect.low[1]; b <= rect.high[1]; ++b) {
        Float4* row = out + (b - rect.low[1]) * m_stride;
        int64_t p[3];
        p[ax] = rect.low[0];
        p[ay] = b;
        p[az] = w;
        // Voxels whose neighbours lie in storage take the row loop; the
        // edges of the volume, one by one.
        int64_t first = rect.low[0], last = rect.high[0];
        if (!planeDirect || b < m_directLow[ay] || b > m_directHigh[ay]) first = last + 1;
        first = std::max(first, m_directLow[ax]);
        last = std::min(last, m_directHigh[ax]);
        if (first > last) {
            ComputeEdge(row, p, rect.Width());
            continue;
        }
        ComputeEdge(row, p, first - rect.low[0]);
        p[ax] = first;
        const uint8_t* at = box.At(p[0], p[1], p[2]);
        if (m_setup.forward)
            EntryRow<false>(at, box.stride[ax], step, table, row + (first - rect.low[0]), last - first + 1);
        else
            EntryRow<true>(at, box.stride[ax], step, table, row + (first - rect.low[0]), last - first + 1);
        p[ax] = last + 1;
        ComputeEdge(row + (last + 1 - rect.low[0]), p, rect.high[0] - last);
    }
}

void GradientSlab::ComputeEdge(Float4* row, const int64_t (&first)[3], int64_t count) const {
    int64_t p[3] = {first[0], first[1], first[2]};
    for (int64_t a = 0; a < count; ++a, ++p[m_axis[0]]) {
        float g[3];
        m_shader.VoxelGradient(p[0], p[1], p[2], g);
        row[a] = Float4{g[0], g[1], g[2], 0.0f};
    }
}

}  // namespace tulx7sim::chip
