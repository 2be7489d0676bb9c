// Arithmetic of the vector family, instantiated for two, three and four
// components.
#include "ulm3/vectors.h"

#include <initializer_list>

#include "foundation/diagnostics.h"
#include "foundation/numeric.h"

namespace ulm3 {

template <class V, int N>
double& ULMVectorBase<V, N>::operator[](int i) {
    if (i >= 0 && i < N) return m_v[i];
    ULM_REPORT_FAULT(kULMErrMath);
    // A bad index must read as x, but a write through it must not land on x
    // (or anywhere else that matters): hand out a per-thread copy.
    thread_local double scratch;
    scratch = m_v[0];
    return scratch;
}

template <class V, int N>
double ULMVectorBase<V, N>::operator[](int i) const {
    if (i >= 0 && i < N) return m_v[i];
    ULM_REPORT_FAULT(kULMErrMath);
    return m_v[0];
}

template <class V, int N>
V& ULMVectorBase<V, N>::Assign(const double* v) {
    if (v)
        for (int i = 0; i < N; ++i) m_v[i] = v[i];
    return Self();
}

template <class V, int N>
V& ULMVectorBase<V, N>::Assign(const float* v) {
    if (v)
        for (int i = 0; i < N; ++i) m_v[i] = v[i];
    return Self();
}

template <class V, int N>
V& ULMVectorBase<V, N>::operator+=(const V& other) {
    for (int i = 0; i < N; ++i) m_v[i] += other[i];
    return Self();
}

template <class V, int N>
V& ULMVectorBase<V, N>::operator-=(const V& other) {
    for (int i = 0; i < N; ++i) m_v[i] -= other[i];
    return Self();
}

template <class V, int N>
V& ULMVectorBase<V, N>::operator*=(double c) {
    for (int i = 0; i < N; ++i) m_v[i] *= c;
    return Self();
}

template <class V, int N>
V& ULMVectorBase<V, N>::operator/=(double c) {
    if (ULMIsZero(c)) {
        ULM_REPORT_FAULT(kULMErrMath);
        return Self();
    }
    return *this *= 1.0 / c;
}

template <class V, int N>
V ULMVectorBase<V, N>::operator+(const V& other) const {
    V result(Self());
    return result += other;
}

template <class V, int N>
V ULMVectorBase<V, N>::operator-(const V& other) const {
    V result(Self());
    return result -= other;
}

template <class V, int N>
V ULMVectorBase<V, N>::operator-() const {
    V result;
    for (int i = 0; i < N; ++i) result.m_v[i] = -m_v[i];
    return result;
}

template <class V, int N>
V ULMVectorBase<V, N>::operator*(double c) const {
    V result(Self());
    return result *= c;
}

template <class V, int N>
V ULMVectorBase<V, N>::operator/(double c) const {
    V result(Self());
    return result /= c;
}

template <class V, int N>
double ULMVectorBase<V, N>::LengthSquared() const {
    return Dot(Self());
}

template <class V, int N>
double ULMVectorBase<V, N>::Length() const {
    return ULMSqrt(LengthSquared());
}

template <class V, int N>
V& ULMVectorBase<V, N>::Normalize(double to) {
    const double s = LengthSquared();
    if (ULMIsZero(s)) return Self();
    return *this *= ULMInverseSqrt(s) * to;
}

template <class V, int N>
double ULMVectorBase<V, N>::Dot(const V& other) const {
    double sum = m_v[0] * other.m_v[0];
    for (int i = 1; i < N; ++i) sum += m_v[i] * other.m_v[i];
    return sum;
}

template <class V, int N>
void ULMVectorBase<V, N>::CopyTo(double* out) const {
    if (out)
        for (int i = 0; i < N; ++i) out[i] = m_v[i];
}

template <class V, int N>
void ULMVectorBase<V, N>::CopyTo(float* out) const {
    if (out)
        for (int i = 0; i < N; ++i) out[i] = static_cast<float>(m_v[i]);
}

template class ULMVectorBase<ULMVector2D, 2>;
template class ULMVectorBase<ULMVector3D, 3>;
template class ULMVectorBase<ULMVector4D, 4>;

namespace {

// Writes each component to its own out-parameter; null ones are skipped.
template <class T, class V>
void CopyComponents(const V& v, std::initializer_list<T*> out) {
    int i = 0;
    for (T* target : out) {
        if (target) *target = static_cast<T>(v.m_v[i]);
        ++i;
    }
}

template <class V, int N>
double DistanceSquared(const ULMVectorBase<V, N>& a, const ULMVectorBase<V, N>& b) {
    double sum = 0.0;
    for (int i = 0; i < N; ++i) {
        sum += ULMSquare(a.m_v[i] - b.m_v[i]);
    }
    return sum;
}

}  // namespace

void ULMVector2D::CopyTo(double* x, double* y) const { CopyComponents<double>(*this, {x, y}); }
void ULMVector2D::CopyTo(float* x, float* y) const { CopyComponents<float>(*this, {x, y}); }
void ULMVector3D::CopyTo(double* x, double* y, double* z) const {
    CopyComponents<double>(*this, {x, y, z});
}
void ULMVector3D::CopyTo(float* x, float* y, float* z) const {
    CopyComponents<float>(*this, {x, y, z});
}
void ULMVector4D::CopyTo(double* x, double* y, double* z, double* w) const {
    CopyComponents<double>(*this, {x, y, z, w});
}
void ULMVector4D::CopyTo(float* x, float* y, float* z, float* w) const {
    CopyComponents<float>(*this, {x, y, z, w});
}

double ULMDistanceSquared(const ULMVector2D& a, const ULMVector2D& b) { return DistanceSquared(a, b); }
double ULMDistanceSquared(const ULMVector3D& a, const ULMVector3D& b) { return DistanceSquared(a, b); }
double ULMDistanceSquared(const ULMVector4D& a, const ULMVector4D& b) { return DistanceSquared(a, b); }
double ULMDistance(const ULMVector2D& a, const ULMVector2D& b) { return ULMSqrt(DistanceSquared(a, b)); }
double ULMDistance(const ULMVector3D& a, const ULMVector3D& b) { return ULMSqrt(DistanceSquared(a, b)); }
double ULMDistance(const ULMVector4D& a, const ULMVector4D& b) { return ULMSqrt(DistanceSquared(a, b)); }

ULMVector3D ULMCross(const ULMVector3D& a, const ULMVector3D& b) {
    return ULMVector3D(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                       a[0] * b[1] - a[1] * b[0]);
}

ULMVector4D ULMCross(const ULMVector4D& a, const ULMVector4D& b) {
    return ULMVector4D(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                       a[0] * b[1] - a[1] * b[0], a[3] * b[3]);
}

}  // namespace ulm3
