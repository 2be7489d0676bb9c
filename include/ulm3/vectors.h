// Two-, three- and four-component vectors of doubles.
#pragma once

namespace ulm3 {

// The operations the three vector types share. V is the vector type itself,
// so every operation returns that type; N is its number of components.
//
// Arithmetic faults (an index out of range, a division by a value within the
// library's epsilon of zero) are reported to the error handler with
// kULMErrMath and the operation completes with a harmless result: a bad index
// reads component 0 and a write through it is discarded; a bad division
// leaves the vector unchanged.
template <class V, int N>
class ULMVectorBase {
public:
    double& operator[](int i);
    double operator[](int i) const;

    // The first N elements of the array; a null array changes nothing.
    V& Assign(const double* v);
    V& Assign(const float* v);

    V& operator+=(const V& other);
    V& operator-=(const V& other);
    V& operator*=(double c);
    V& operator/=(double c);

    V operator+(const V& other) const;
    V operator-(const V& other) const;
    V operator-() const;
    V operator*(double c) const;
    V operator/(double c) const;

    // Exact comparison, no tolerance.
    friend bool operator==(const V& a, const V& b) {
        for (int i = 0; i < N; ++i)
            if (a.m_v[i] != b.m_v[i]) return false;
        return true;
    }
    friend bool operator!=(const V& a, const V& b) { return !(a == b); }

    double Length() const;
    double LengthSquared() const;
    // Scales to length `to`; a vector whose squared length is within epsilon
    // of zero is left as it is, without a report.
    V& Normalize(double to);
    double Dot(const V& other) const;

    // The components into consecutive elements (floats narrowed); a null
    // array is ignored.
    void CopyTo(double* out) const;
    void CopyTo(float* out) const;

    double m_v[N] = {};

protected:
    ULMVectorBase() = default;
    V& Self() { return static_cast<V&>(*this); }
    const V& Self() const { return static_cast<const V&>(*this); }
};

class ULMVector2D : public ULMVectorBase<ULMVector2D, 2> {
public:
    ULMVector2D() = default;
    ULMVector2D(double x, double y) : ULMVectorBase() { Assign(x, y); }
    explicit ULMVector2D(const double* v) { Assign(v); }
    explicit ULMVector2D(const float* v) { Assign(v); }

    double& X() { return m_v[0]; }
    double& Y() { return m_v[1]; }
    double X() const { return m_v[0]; }
    double Y() const { return m_v[1]; }

    using ULMVectorBase::Assign;
    ULMVector2D& Assign(double x, double y) {
        m_v[0] = x;
        m_v[1] = y;
        return *this;
    }

    using ULMVectorBase::CopyTo;
    void CopyTo(double* x, double* y) const;
    void CopyTo(float* x, float* y) const;
};

class ULMVector3D : public ULMVectorBase<ULMVector3D, 3> {
public:
    ULMVector3D() = default;
    ULMVector3D(double x, double y, double z) : ULMVectorBase() { Assign(x, y, z); }
    explicit ULMVector3D(const double* v) { Assign(v); }
    explicit ULMVector3D(const float* v) { Assign(v); }

    double& X() { return m_v[0]; }
    double& Y() { return m_v[1]; }
    double& Z() { return m_v[2]; }
    double X() const { return m_v[0]; }
    double Y() const { return m_v[1]; }
    double Z() const { return m_v[2]; }

    using ULMVectorBase::Assign;
    ULMVector3D& Assign(double x, double y, double z) {
        m_v[0] = x;
        m_v[1] = y;
        m_v[2] = z;
        return *this;
    }

    using ULMVectorBase::CopyTo;
    void CopyTo(double* x, double* y, double* z) const;
    void CopyTo(float* x, float* y, float* z) const;
};

class ULMVector4D : public ULMVectorBase<ULMVector4D, 4> {
public:
    ULMVector4D() = default;
    ULMVector4D(double x, double y, double z, double w) : ULMVectorBase() { Assign(x, y, z, w); }
    explicit ULMVector4D(const double* v) { Assign(v); }
    explicit ULMVector4D(const float* v) { Assign(v); }

    double& X() { return m_v[0]; }
    double& Y() { return m_v[1]; }
    double& Z() { return m_v[2]; }
    double& W() { return m_v[3]; }
    double X() const { return m_v[0]; }
    double Y() const { return m_v[1]; }
    double Z() const { return m_v[2]; }
    double W() const { return m_v[3]; }

    using ULMVectorBase::Assign;
    ULMVector4D& Assign(double x, double y, double z, double w) {
        m_v[0] = x;
        m_v[1] = y;
        m_v[2] = z;
        m_v[3] = w;
        return *this;
    }

    using ULMVectorBase::CopyTo;
    void CopyTo(double* x, double* y, double* z, double* w) const;
    void CopyTo(float* x, float* y, float* z, float* w) const;
};

extern template class ULMVectorBase<ULMVector2D, 2>;
extern template class ULMVectorBase<ULMVector3D, 3>;
extern template class ULMVectorBase<ULMVector4D, 4>;

template <class V, int N>
V operator*(double c, const ULMVectorBase<V, N>& v) {
    return v * c;
}

template <class V, int N>
double ULMDot(const ULMVectorBase<V, N>& a, const ULMVectorBase<V, N>& b) {
    return a.Dot(static_cast<const V&>(b));
}

// Euclidean distance between two points, and its square.
double ULMDistance(const ULMVector2D& a, const ULMVector2D& b);
double ULMDistance(const ULMVector3D& a, const ULMVector3D& b);
double ULMDistance(const ULMVector4D& a, const ULMVector4D& b);
double ULMDistanceSquared(const ULMVector2D& a, const ULMVector2D& b);
double ULMDistanceSquared(const ULMVector3D& a, const ULMVector3D& b);
double ULMDistanceSquared(const ULMVector4D& a, const ULMVector4D& b);

// The right-handed cross product; the 4-D form crosses x, y, z and multiplies
// the w components.
ULMVector3D ULMCross(const ULMVector3D& a, const ULMVector3D& b);
ULMVector4D ULMCross(const ULMVector4D& a, const ULMVector4D& b);

}  // namespace ulm3
