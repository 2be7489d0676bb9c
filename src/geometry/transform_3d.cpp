// The matrix and vector routines of the perspective geometry.
#include "geometry/transform_3d.h"

#include <cmath>
#include <utility>

#include "foundation/message_log.h"

namespace ulm3 {

void MatInit(Mat44* mat) {
    *mat = Mat44{};
    for (int i = 0; i < 4; ++i) (*mat)(i, i) = 1.0;
}

void MatTrans(Mat44* matrix, double tx, double ty, double tz) {
    (*matrix)(0, 3) = tx;
    (*matrix)(1, 3) = ty;
    (*matrix)(2, 3) = tz;
}

void MatScale(Mat44* matrix, double sx, double sy, double sz) {
    (*matrix)(0, 0) = sx;
    (*matrix)(1, 1) = sy;
    (*matrix)(2, 2) = sz;
}

void MatRotate(Mat44* matrix, char axis, double theta) {
    // The rounded constant keeps rotations identical to the stored views
    // that were made with it.
    const double r = theta * 3.1415926535 / 180.0;
    const double c = std::cos(r);
    const double s = std::sin(r);
    int i = 0;
    int j = 0;
    switch (axis) {
        case 'x': i = 1, j = 2; break;
        case 'y': i = 2, j = 0; break;
        case 'z': i = 0, j = 1; break;
        default: return;
    }
    Mat44& m = *matrix;
    m(i, i) = c;
    m(j, j) = c;
    m(j, i) = s;
    m(i, j) = -s;
}

void MatMultiply(Mat44* matrix3, const Mat44* matrix1, const Mat44* matrix2) {
    const Mat44 a = *matrix1;
    const Mat44 b = *matrix2;
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 4; ++q) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += a(r, k) * b(k, q);
            (*matrix3)(r, q) = sum;
        }
}

void MatMultRound(Mat44* matrix3, const Mat44* matrix1, const Mat44* matrix2) {
    MatMultiply(matrix3, matrix1, matrix2);
    MatRound0(matrix3);
}

void MatCopy(Mat44* matrix2, const Mat44* matrix1) { *matrix2 = *matrix1; }

namespace {
double Round0(double x) { return (x > -1e-5 && x < 1e-5) ? 0.0 : x; }
}  // namespace

void MatRound0(Mat44* mat) {
    for (double& x : mat->v) x = Round0(x);
}

int GaussElim(double* a, double* x, long n) {
    const long w = n + 1;
    for (long i = 0; i < n; ++i) x[i] = 0.0;
    for (long j = 0; j < n - 1; ++j) {
        long i = j;
        while (i < n && a[i * w + j] == 0.0) ++i;
        if (i == n) return 0;
        if (i != j)
            for (long c = 0; c < w; ++c) std::swap(a[i * w + c], a[j * w + c]);
        for (long k = j + 1; k < n; ++k) {
            const double factor = a[k * w + j] / a[j * w + j];
            for (long c = 0; c < w; ++c) a[k * w + c] -= factor * a[j * w + c];
        }
    }
    if (a[(n - 1) * w + n - 1] == 0.0) return 0;
    x[n - 1] = a[(n - 1) * w + n] / a[(n - 1) * w + n - 1];
    for (long i = n - 2; i >= 0; --i) {
        double sum = a[i * w + n];
        for (long k = i + 1; k < n; ++k) sum -= a[i * w + k] * x[k];
        x[i] = sum / a[i * w + i];
    }
    return 1;
}

int MatInvert(Mat44* mat2, const Mat44* mat1) {
    Mat44 result;
    for (int q = 0; q < 4; ++q) {
        double a[20];
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) a[r * 5 + c] = (*mat1)(r, c);
            a[r * 5 + 4] = r == q ? 1.0 : 0.0;
        }
        double x[4];
        if (!GaussElim(a, x, 4)) return 0;
        for (int r = 0; r < 4; ++r) result(r, q) = x[r];
    }
    *mat2 = result;
    return 1;
}

void MatPrint(const Mat44* mat) {
    for (int r = 0; r < 4; ++r)
        ULMOutputMessage("  %12.6g  %12.6g  %12.6g  %12.6g\n", (*mat)(r, 0), (*mat)(r, 1),
                         (*mat)(r, 2), (*mat)(r, 3));
}

void VectNormalize(Vect4* vect) {
    const double len = std::sqrt(vect->x * vect->x + vect->y * vect->y + vect->z * vect->z);
    if (len <= 0.0001) return;
    vect->x /= len;
    vect->y /= len;
    vect->z /= len;
}

void VectHomNorm(Vect4* vect) {
    if (vect->w == 0.0) return;
    const double r = 1.0 / vect->w;
    vect->x *= r;
    vect->y *= r;
    vect->z *= r;
}

void VectSubtract(Vect4* a, const Vect4* b) {
    a->x -= b->x;
    a->y -= b->y;
    a->z -= b->z;
    a->w -= b->w;
}

void VectAdd(Vect4* a, const Vect4* b) {
    a->x += b->x;
    a->y += b->y;
    a->z += b->z;
    a->w += b->w;
}

void VectRound0(Vect4* vect) {
    vect->x = Round0(vect->x);
    vect->y = Round0(vect->y);
    vect->z = Round0(vect->z);
    vect->w = Round0(vect->w);
}

void VectMultiply(Vect4* out, const Mat44* mat, const Vect4* in) {
    const Mat44& m = *mat;
    out->x = m(0, 0) * in->x + m(0, 1) * in->y + m(0, 2) * in->z + m(0, 3) * in->w;
    out->y = m(1, 0) * in->x + m(1, 1) * in->y + m(1, 2) * in->z + m(1, 3) * in->w;
    out->z = m(2, 0) * in->x + m(2, 1) * in->y + m(2, 2) * in->z + m(2, 3) * in->w;
    out->w = m(3, 0) * in->x + m(3, 1) * in->y + m(3, 2) * in->z + m(3, 3) * in->w;
}

void TransVect(Vect4* out, const Mat44* mat, const Vect4* in) { VectMultiply(out, mat, in); }

void VectMultRound(Vect4* out, const Mat44* mat, const Vect4* in) {
    VectMultiply(out, mat, in);
    VectRound0(out);
}

void TransVectHom(Vect4* out, const Mat44* mat, const Vect4* in) {
    TransVect(out, mat, in);
    if (out->w == 0.0) return;
    out->x /= out->w;
    out->y /= out->w;
    out->z /= out->w;
    out->w = 1.0;
}

Mat44 ULMMatToMat44(const ULMMatrix& in) {
    Mat44 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out(r, c) = in.m_matrix[r][c];
    return out;
}

ULMMatrix Mat44ToULMMat(const Mat44& in) {
    ULMMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m_matrix[r][c] = in(r, c);
    return out;
}

bool InvertHomogeneous(const ULMMatrix& in, ULMMatrix& out) {
    double scale = 0.0;
    for (const auto& row : in.m_matrix)
        for (double x : row) {
            if (!std::isfinite(x)) return false;
            scale = std::fmax(scale, std::fabs(x));
        }
    if (scale == 0.0) return false;
    // Gauss-Jordan with partial pivoting on [A / scale | I].
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) a[r][c] = c < 4 ? in.m_matrix[r][c] / scale : (c - 4 == r);
    for (int j = 0; j < 4; ++j) {
        int p = j;
        for (int i = j + 1; i < 4; ++i)
            if (std::fabs(a[i][j]) > std::fabs(a[p][j])) p = i;
        // Entries are at most 1 here, so this bound is relative to the matrix.
        if (!(std::fabs(a[p][j]) > 1e-14)) return false;
        std::swap(a[p], a[j]);
        const double inv = 1.0 / a[j][j];
        for (double& x : a[j]) x *= inv;
        for (int i = 0; i < 4; ++i) {
            if (i == j) continue;
            const double f = a[i][j];
            for (int c = 0; c < 8; ++c) a[i][c] -= f * a[j][c];
        }
    }
    ULMMatrix result;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            result.m_matrix[r][c] = a[r][c + 4] / scale;
            if (!std::isfinite(result.m_matrix[r][c])) return false;
        }
    out = result;
    return true;
}

}  // namespace ulm3
