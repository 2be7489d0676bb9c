// Set operations of volume and image ranges, one axis at a time.
#include "ulm3/ranges.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace ulm3 {
namespace {

// Ends are computed in 64 bits so that origin + size never overflows; a
// result that does not fit 32 bits saturates.
int64_t End(int32_t origin, int32_t size) { return int64_t{origin} + size; }

int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Negative sizes are treated like 0: the axis holds nothing.
bool AxisEmpty(int32_t size) { return size <= 0; }

// The overlap of two axes; without overlap the size is 0 at the larger origin.
void IntersectAxis(int32_t& origin, int32_t& size, int32_t otherOrigin, int32_t otherSize) {
    const int64_t end = std::min(End(origin, size), End(otherOrigin, otherSize));
    origin = std::max(origin, otherOrigin);
    size = end > origin ? static_cast<int32_t>(end - origin) : 0;
}

// Containment on one axis, asked only where the inner axis is not empty.
bool AxisContains(int32_t origin, int32_t size, int32_t innerOrigin, int32_t innerSize) {
    if (innerSize == 0) return true;
    const int64_t end = End(origin, size);
    const int64_t innerEnd = End(innerOrigin, innerSize);
    return !(origin > innerOrigin || end < innerEnd || end < origin || innerEnd < innerOrigin);
}

template <int N>
bool AllContain(const int32_t (&origin)[N], const int32_t (&size)[N],
                const int32_t (&innerOrigin)[N], const int32_t (&innerSize)[N]) {
    for (int i = 0; i < N; ++i)
        if (!AxisContains(origin[i], size[i], innerOrigin[i], innerSize[i])) return false;
    return true;
}

template <int N>
bool AnyEmpty(const int32_t (&size)[N]) {
    return std::any_of(size, size + N, AxisEmpty);
}

template <int N>
bool AllZero(const int32_t (&size)[N]) {
    return std::all_of(size, size + N, [](int32_t s) { return s == 0; });
}

template <int N>
bool SameBox(const int32_t (&oa)[N], const int32_t (&sa)[N], const int32_t (&ob)[N],
             const int32_t (&sb)[N]) {
    return std::equal(oa, oa + N, ob) && std::equal(sa, sa + N, sb);
}

}  // namespace

// ---- ULMVolumeRange ----

void ULMVolumeRange::Reset() {
    for (int i = 0; i < 3; ++i) m_origin[i] = m_size[i] = 0;
}

bool ULMVolumeRange::IsReset() const { return AllZero(m_size); }

bool ULMVolumeRange::IsEmpty() const { return AnyEmpty(m_size); }

bool ULMVolumeRange::operator==(const ULMVolumeRange& other) const {
    return SameBox(m_origin, m_size, other.m_origin, other.m_size);
}

ULMVolumeRange& ULMVolumeRange::Union(const ULMVolumeRange& other) {
    for (int i = 0; i < 3; ++i) {
        if (AxisEmpty(other.m_size[i])) continue;
        if (AxisEmpty(m_size[i])) {
            m_origin[i] = other.m_origin[i];
            m_size[i] = other.m_size[i];
            continue;
        }
        const int64_t end = std::max(End(m_origin[i], m_size[i]),
                                     End(other.m_origin[i], other.m_size[i]));
        m_origin[i] = std::min(m_origin[i], other.m_origin[i]);
        m_size[i] = Saturate(end - m_origin[i]);
    }
    return *this;
}

ULMVolumeRange& ULMVolumeRange::Intersect(const ULMVolumeRange& other) {
    for (int i = 0; i < 3; ++i) IntersectAxis(m_origin[i], m_size[i], other.m_origin[i], other.m_size[i]);
    return *this;
}

bool ULMVolumeRange::Contains(const ULMVolumeRange& other) const {
    return AllContain(m_origin, m_size, other.m_origin, other.m_size);
}

ULMVolumeRange ULMVolumeRange::Union(const ULMVolumeRange& inA, const ULMVolumeRange& inB) {
    ULMVolumeRange result(inA);
    return result.Union(inB);
}

ULMVolumeRange ULMVolumeRange::Intersect(const ULMVolumeRange& inA, const ULMVolumeRange& inB) {
    ULMVolumeRange result(inA);
    return result.Intersect(inB);
}

// ---- ULMImageRange ----

void ULMImageRange::Reset() {
    for (int i = 0; i < 2; ++i) m_origin[i] = m_size[i] = 0;
}

bool ULMImageRange::IsReset() const { return AllZero(m_size); }

bool ULMImageRange::IsEmpty() const { return AnyEmpty(m_size); }

bool ULMImageRange::operator==(const ULMImageRange& other) const {
    return SameBox(m_origin, m_size, other.m_origin, other.m_size);
}

bool Contains(const ULMImageRange& a, const ULMImageRange& b) {
    return AllContain(a.m_origin, a.m_size, b.m_origin, b.m_size);
}

ULMImageRange Union(const ULMImageRange& inA, const ULMImageRange& inB) {
    ULMImageRange result;
    for (int i = 0; i < 2; ++i) {
        int64_t a0 = inA.m_origin[i], a1 = End(inA.m_origin[i], inA.m_size[i]);
        int64_t b0 = inB.m_origin[i], b1 = End(inB.m_origin[i], inB.m_size[i]);
        // An empty side collapses onto the other side's origin, so it adds
        // nothing to the extent; when both are empty, inB's origin wins.
        if (a1 <= a0)
            a0 = a1 = b0;
        else if (b1 <= b0)
            b0 = b1 = a0;
        const int64_t origin = std::min(a0, b0);
        const int64_t end = std::max(a1, b1);
        result.m_origin[i] = static_cast<int32_t>(origin);
        result.m_size[i] = end > origin ? Saturate(end - origin) : 0;
    }
    return result;
}

ULMImageRange Intersect(const ULMImageRange& inA, const ULMImageRange& inB) {
    ULMImageRange result(inA);
    for (int i = 0; i < 2; ++i)
        IntersectAxis(result.m_origin[i], result.m_size[i], inB.m_origin[i], inB.m_size[i]);
    return result;
}

}  // namespace ulm3
