// The 4x4 matrix: element orders, builders, products, determinant, inverse.
#include "ulm3/matrix.h"

#include <cmath>

#include "foundation/diagnostics.h"
#include "foundation/numeric.h"

namespace ulm3 {
namespace {

// One element of A*B, summed left to right.
double RCD(const ULMMatrix& A, const ULMMatrix& B, int i, int j) {
    return A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j] + A[i][3] * B[3][j];
}

// The 3x3 determinant on the given rows and columns, expanded along its
// first row; the order of the terms fixes the rounding.
double MINOR(const ULMMatrix& M, int r0, int r1, int r2, int c0, int c1, int c2) {
    return M[r0][c0] * (M[r1][c1] * M[r2][c2] - M[r2][c1] * M[r1][c2]) -
           M[r0][c1] * (M[r1][c0] * M[r2][c2] - M[r2][c0] * M[r1][c2]) +
           M[r0][c2] * (M[r1][c0] * M[r2][c1] - M[r2][c0] * M[r1][c1]);
}

// Near-zero test for squared lengths, deliberately independent of the
// library's epsilon: a viewing direction is only degenerate when it is
// practically nothing.
bool ZERO_MAG(double x) { return x < 1e-31; }

template <class T>
void FromColumns(double (&m)[4][4], const T* columns) {
    if (!columns) return;
    for (int k = 0; k < 16; ++k) m[k % 4][k / 4] = columns[k];
}

template <class T>
void ToColumns(const double (&m)[4][4], T* columns) {
    if (!columns) return;
    for (int k = 0; k < 16; ++k) columns[k] = static_cast<T>(m[k % 4][k / 4]);
}

// The three indices of 0..3 other than `skip`, ascending.
void OtherThan(int skip, int (&out)[3]) {
    for (int i = 0, n = 0; i < 4; ++i)
        if (i != skip) out[n++] = i;
}

}  // namespace

// ---- construction and access ----

ULMMatrix::ULMMatrix()
    : m_matrix{{1.0, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, {0.0, 0.0, 1.0, 0.0},
               {0.0, 0.0, 0.0, 1.0}} {}

ULMMatrix::ULMMatrix(double a00, double a01, double a02, double a03, double a10, double a11,
                     double a12, double a13, double a20, double a21, double a22, double a23,
                     double a30, double a31, double a32, double a33)
    : m_matrix{{a00, a01, a02, a03}, {a10, a11, a12, a13}, {a20, a21, a22, a23},
               {a30, a31, a32, a33}} {}

ULMMatrix::ULMMatrix(const double* columns) : ULMMatrix() { FromColumns(m_matrix, columns); }

ULMMatrix::ULMMatrix(const float* columns) : ULMMatrix() { FromColumns(m_matrix, columns); }

ULMMatrix& ULMMatrix::Assign(double a00, double a01, double a02, double a03, double a10,
                             double a11, double a12, double a13, double a20, double a21,
                             double a22, double a23, double a30, double a31, double a32,
                             double a33) {
    return *this = ULMMatrix(a00, a01, a02, a03, a10, a11, a12, a13, a20, a21, a22, a23, a30,
                             a31, a32, a33);
}

ULMMatrix& ULMMatrix::Assign(const double* columns) {
    FromColumns(m_matrix, columns);
    return *this;
}

ULMMatrix& ULMMatrix::Assign(const float* columns) {
    FromColumns(m_matrix, columns);
    return *this;
}

void ULMMatrix::CopyTo(double* columns) const { ToColumns(m_matrix, columns); }

void ULMMatrix::CopyTo(float* columns) const { ToColumns(m_matrix, columns); }

double* ULMMatrix::operator[](int r) {
    if (r >= 0 && r < 4) return m_matrix[r];
    ULM_REPORT_FAULT(kULMErrMath);
    // Reads must see row 0, but writes through a bad row must not reach it:
    // hand out a per-thread copy.
    thread_local double scratch[4];
    for (int c = 0; c < 4; ++c) scratch[c] = m_matrix[0][c];
    return scratch;
}

const double* ULMMatrix::operator[](int r) const {
    if (r >= 0 && r < 4) return m_matrix[r];
    ULM_REPORT_FAULT(kULMErrMath);
    return m_matrix[0];
}

// ---- builders ----

ULMMatrix ULMMatrix::Identity() { return ULMMatrix(); }

ULMMatrix ULMMatrix::Rotate(double inDegrees, const ULMVector3D& inAxis) {
    double s2 = inAxis.LengthSquared();
    if (s2 == 0.0) {
        ULM_REPORT_FAULT(kULMErrMath);
        s2 = 1.0;
    }
    const double k = ULMInverseSqrt(s2);
    const double x = inAxis.X() * k, y = inAxis.Y() * k, z = inAxis.Z() * k;
    const double radians = ULMRadians(inDegrees);
    const double s = std::sin(radians), c = std::cos(radians), t = 1.0 - c;
    return ULMMatrix(x * x + (1.0 - x * x) * c, x * y * t - z * s, x * z * t + y * s, 0.0,
                     x * y * t + z * s, y * y + (1.0 - y * y) * c, y * z * t - x * s, 0.0,
                     x * z * t - y * s, y * z * t + x * s, z * z + (1.0 - z * z) * c, 0.0,
                     0.0, 0.0, 0.0, 1.0);
}

ULMMatrix ULMMatrix::Scale(double inX, double inY, double inZ) {
    return ULMMatrix(inX, 0.0, 0.0, 0.0, 0.0, inY, 0.0, 0.0, 0.0, 0.0, inZ, 0.0, 0.0, 0.0, 0.0,
                     1.0);
}

ULMMatrix ULMMatrix::Translate(double inX, double inY, double inZ) {
    return ULMMatrix(1.0, 0.0, 0.0, inX, 0.0, 1.0, 0.0, inY, 0.0, 0.0, 1.0, inZ, 0.0, 0.0, 0.0,
                     1.0);
}

ULMMatrix ULMMatrix::LookAt(const ULMVector3D& eye, const ULMVector3D& coa,
                            const ULMVector3D& inup) {
    ULMVector3D f = eye - coa;
    double d = f.LengthSquared();
    if (ZERO_MAG(d)) return Identity();
    f *= ULMInverseSqrt(d);

    // Up is made orthogonal to the viewing line; when it runs along that
    // line, y and then z stand in for it.
    ULMVector3D u = inup - f * inup.Dot(f);
    d = u.LengthSquared();
    if (ZERO_MAG(d)) {
        u = ULMVector3D(0.0, 1.0, 0.0) - f * f.Y();
        d = u.LengthSquared();
        if (ZERO_MAG(d)) {
            u = ULMVector3D(0.0, 0.0, 1.0) - f * f.Z();
            d = u.LengthSquared();
        }
    }
    u *= ULMInverseSqrt(d);
    const ULMVector3D s = ULMCross(u, f);

    return ULMMatrix(s.X(), s.Y(), s.Z(), -eye.Dot(s), u.X(), u.Y(), u.Z(), -eye.Dot(u), f.X(),
                     f.Y(), f.Z(), -eye.Dot(f), 0.0, 0.0, 0.0, 1.0);
}

ULMMatrix ULMMatrix::Ortho(double inLeft, double inRight, double inBottom, double inTop,
                           double inNear, double inFar) {
    // A zero extent leaves its elements 0 rather than dividing by it.
    double a = inRight - inLeft, b = inTop - inBottom, c = inFar - inNear;
    if (a != 0.0) a = 2.0 / a;
    if (b != 0.0) b = 2.0 / b;
    if (c != 0.0) c = -2.0 / c;
    return ULMMatrix(a, 0.0, 0.0, (inLeft + inRight) * (-0.5) * a, 0.0, b, 0.0,
                     (inBottom + inTop) * (-0.5) * b, 0.0, 0.0, c, (inNear + inFar) * 0.5 * c,
                     0.0, 0.0, 0.0, 1.0);
}

ULMMatrix ULMMatrix::Frustum(double inLeft, double inRight, double inBottom, double inTop,
                             double inNegativeNear, double inNegativeFar) {
    const double l = inLeft, r = inRight, b = inBottom, t = inTop;
    const double n = inNegativeNear, f = inNegativeFar;
    const double ia = r - l != 0.0 ? 1.0 / (r - l) : 0.0;
    const double ib = t - b != 0.0 ? 1.0 / (t - b) : 0.0;
    const double ic = f - n != 0.0 ? 1.0 / (f - n) : 0.0;
    return ULMMatrix((n + n) * ia, 0.0, (r + l) * ia, 0.0, 0.0, (n + n) * ib, (t + b) * ib, 0.0,
                     0.0, 0.0, -(f + n) * ic, f * (-2.0) * n * ic, 0.0, 0.0, -1.0, 0.0);
}

ULMMatrix ULMMatrix::Perspective(double inFieldOfViewY, double inAspectRatio,
                                 double inNegativeNear, double inNegativeFar) {
    const double y = inNegativeNear * std::tan(ULMRadians(inFieldOfViewY * 0.5));
    return Frustum(-y * inAspectRatio, y * inAspectRatio, -y, y, inNegativeNear, inNegativeFar);
}

// ---- arithmetic and transforms ----

ULMMatrix& ULMMatrix::operator*=(const ULMMatrix& M) { return *this = *this * M; }

ULMMatrix ULMMatrix::operator*(const ULMMatrix& M) const {
    // Every element goes to the new matrix first, so M may be this matrix.
    ULMMatrix result;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) result.m_matrix[i][j] = RCD(*this, M, i, j);
    return result;
}

ULMMatrix& ULMMatrix::operator*=(double c) {
    for (auto& row : m_matrix)
        for (double& e : row) e *= c;
    return *this;
}

ULMMatrix ULMMatrix::operator*(double c) const {
    ULMMatrix result(*this);
    return result *= c;
}

ULMMatrix operator*(double c, const ULMMatrix& M) { return M * c; }

ULMVector4D ULMMatrix::operator*(const ULMVector4D& v) const {
    ULMVector4D result;
    for (int r = 0; r < 4; ++r)
        result.m_v[r] = m_matrix[r][0] * v.m_v[0] + m_matrix[r][1] * v.m_v[1] +
                        m_matrix[r][2] * v.m_v[2] + m_matrix[r][3] * v.m_v[3];
    return result;
}

void ULMMatrix::Transform(const ULMVector4D& in, ULMVector4D& out) const { out = *this * in; }

void ULMMatrix::TransformPoint(const ULMVector3D& in, ULMVector3D& out) const {
    ULMVector3D result;
    for (int r = 0; r < 3; ++r)
        result.m_v[r] = m_matrix[r][0] * in.m_v[0] + m_matrix[r][1] * in.m_v[1] +
                        m_matrix[r][2] * in.m_v[2] + m_matrix[r][3];
    out = result;
}

void ULMMatrix::TransformVector(const ULMVector3D& in, ULMVector3D& out) const {
    ULMVector3D result;
    for (int r = 0; r < 3; ++r)
        result.m_v[r] = m_matrix[r][0] * in.m_v[0] + m_matrix[r][1] * in.m_v[1] +
                        m_matrix[r][2] * in.m_v[2];
    out = result;
}

bool ULMMatrix::operator==(const ULMMatrix& other) const {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m_matrix[r][c] != other.m_matrix[r][c]) return false;
    return true;
}

ULMMatrix ULMMatrix::Transpose() const {
    ULMMatrix result;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) result.m_matrix[r][c] = m_matrix[c][r];
    return result;
}

// ---- determinant and inverse ----

double ULMMatrix::Determinant() const {
    const ULMMatrix& M = *this;
    return M[0][0] * MINOR(M, 1, 2, 3, 1, 2, 3) - M[0][1] * MINOR(M, 1, 2, 3, 0, 2, 3) +
           M[0][2] * MINOR(M, 1, 2, 3, 0, 1, 3) - M[0][3] * MINOR(M, 1, 2, 3, 0, 1, 2);
}

ULMMatrix ULMMatrix::Adjoint() const {
    ULMMatrix result;
    for (int i = 0; i < 4; ++i) {
        int cols[3];
        OtherThan(i, cols);
        for (int j = 0; j < 4; ++j) {
            int rows[3];
            OtherThan(j, rows);
            const double minor =
                MINOR(*this, rows[0], rows[1], rows[2], cols[0], cols[1], cols[2]);
            result.m_matrix[i][j] = (i + j) % 2 == 0 ? minor : -minor;
        }
    }
    return result;
}

ULMMatrix ULMMatrix::Inverse() const {
    double d = Determinant();
    if (ULMIsZero(d)) {
        ULM_REPORT_FAULT(kULMErrMath);
        d = 1.0;
    }
    return Adjoint() * (1.0 / d);
}

bool ULMMatrix::IsSingular() const { return ULMIsZero(Determinant()); }

bool IsPerspectiveMatrix(ULMMatrix matrix) {
    const double* bottom = matrix.m_matrix[3];
    return bottom[0] != 0.0 || bottom[1] != 0.0 || bottom[2] != 0.0 || bottom[3] != 1.0;
}

}  // namespace ulm3
