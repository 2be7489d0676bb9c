// Vectors and matrices, with the faults they report to the error handler.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundation/control.h"
#include "log_capture.h"
#include "support/control_snapshot.h"
#include "ulm3/matrix.h"
#include "ulm3/vectors.h"

using namespace ulm3;

namespace {

// Records the faults reported to the error handler, with the library's
// default epsilon; the snapshot puts both back afterwards.
class MathFaultTest : public ::testing::Test, public ULMErrorHandler {
protected:
    void SetUp() override {
        gULMControl.m_errorHandler = this;
        gULMControl.m_epsilon = 1e-10;
    }
    void ErrorNotify(int status, const char*, int) override { m_statuses.push_back(status); }
    // How many faults were reported since the last call, all of them math
    // faults.
    size_t Faults() {
        for (int s : m_statuses) EXPECT_EQ(s, kULMErrMath);
        const size_t n = m_statuses.size();
        m_statuses.clear();
        return n;
    }

    test_support::ControlSnapshot m_snapshot;
    std::vector<int> m_statuses;
};

using VectorTest = MathFaultTest;
using MatrixTest = MathFaultTest;

void ExpectNear(const ULMMatrix& actual, const ULMMatrix& expected, double tolerance = 1e-12) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual.m_matrix[r][c], expected.m_matrix[r][c], tolerance) << "row " << r << " column " << c;
}

const ULMMatrix kCounting(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);

}  // namespace

// A bad index reports once, reads component (or row) 0, and a write through
// it lands in a scratch copy; without a handler the fault is only logged.
TEST_F(VectorTest, BadIndicesReportOnceReadTheFirstComponentAndDiscardWrites) {
    const ULMVector3D v(1, 2, 3);
    const ULMVector4D v4(7, 8, 9, 10);
    EXPECT_TRUE(v[3] == 1.0 && v[-1] == 1.0 && v4[4] == 7.0);
    EXPECT_EQ(Faults(), 3u);
    EXPECT_EQ(v4[3], 10.0);
    EXPECT_EQ(Faults(), 0u);
    ULMVector3D w(1, 2, 3);
    w[3] = 99.0;
    w[-7] += 5.0;
    EXPECT_EQ(Faults(), 2u);
    EXPECT_EQ(w, ULMVector3D(1, 2, 3));
    w[1] = 20.0;
    EXPECT_EQ(w, ULMVector3D(1, 20, 3));

    ULMMatrix m = kCounting;
    EXPECT_EQ(m[4][2], 2.0);
    m[-1][0] = 100.0;
    EXPECT_EQ(m, kCounting);
    const ULMMatrix& cm = m;
    EXPECT_EQ(cm[7][3], 3.0);
    EXPECT_EQ(Faults(), 3u);
    EXPECT_EQ(cm[3][3], 15.0);
    EXPECT_EQ(Faults(), 0u);

    ulm3::testing_support::LogToFile log;
    gULMControl.m_errorHandler = nullptr;
    EXPECT_EQ(w[9], 1.0);
    w[9] = 0.0;
    w /= 0.0;
    m[5][0] = 0.0;
    EXPECT_EQ(w, ULMVector3D(1, 20, 3));
    EXPECT_EQ(m, kCounting);
    EXPECT_NE(log.Contents().find("ULMErrorHandler: Error 1003 at line"), std::string::npos);
}

TEST_F(VectorTest, DivisionByWhatTheEpsilonCallsZeroReportsAndLeavesTheVector) {
    // Otherwise it multiplies by the reciprocal, which rounds differently
    // from dividing: results must match that form bit for bit.
    ASSERT_NE(3.0 / 10.0, 3.0 * (1.0 / 10.0));
    ULMVector3D tenth(3, 0, 0);
    tenth /= 10.0;
    EXPECT_EQ(tenth.X(), 3.0 * (1.0 / 10.0));
    EXPECT_EQ(ULMVector3D(2, 4, 6) / 2, ULMVector3D(1, 2, 3));

    const struct {
        double epsilon, divisor;
        bool refused;
    } cases[] = {{1e-10, 1e-12, true}, {1e-10, -1e-12, true}, {1e-10, 0.0, true}, {1e-10, 1e-9, false},
                 {1e-3, 1e-4, true},   {0.0, 0.0, true} /* an exact zero even without a tolerance */};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.divisor << " with epsilon " << c.epsilon);
        gULMControl.m_epsilon = c.epsilon;
        ULMVector3D v(2, 4, 6);
        ULMVector2D v2(1, 1);
        EXPECT_EQ(v / c.divisor, c.refused ? v : v * (1.0 / c.divisor));
        v /= c.divisor;
        v2 /= c.divisor;
        EXPECT_EQ(Faults(), c.refused ? 3u : 0u);
        EXPECT_TRUE(!c.refused || (v == ULMVector3D(2, 4, 6) && v2 == ULMVector2D(1, 1)));
    }
}

TEST_F(VectorTest, NormalizeProductsAndArithmetic) {
    ULMVector3D v(3, 4, 0);
    v.Normalize(1);
    EXPECT_DOUBLE_EQ(v.X(), 0.6);
    EXPECT_DOUBLE_EQ(v.Y(), 0.8);
    EXPECT_EQ(v.Z(), 0.0);
    v.Assign(3, 4, 0).Normalize(10);
    EXPECT_DOUBLE_EQ(v.Y(), 8.0);
    // The squared length is what is tested against the epsilon.
    ULMVector3D zero, tiny(1e-6, 0, 0);
    EXPECT_EQ(zero.Normalize(1), ULMVector3D(0, 0, 0));
    EXPECT_EQ(tiny.Normalize(1), ULMVector3D(1e-6, 0, 0));
    EXPECT_EQ(Faults(), 0u);
    ULMVector4D w(0, 0, 0, 2);
    EXPECT_EQ(w.Normalize(1), ULMVector4D(0, 0, 0, 1));
    EXPECT_DOUBLE_EQ(ULMVector2D(5, 12).Normalize(2).Length(), 2.0);

    EXPECT_EQ(ULMCross(ULMVector3D(0, 1, 0), ULMVector3D(1, 0, 0)), ULMVector3D(0, 0, -1));
    EXPECT_EQ(ULMCross(ULMVector3D(2, 3, 4), ULMVector3D(5, 6, 7)), ULMVector3D(-3, 6, -3));
    EXPECT_EQ(ULMCross(ULMVector4D(1, 0, 0, 2), ULMVector4D(0, 1, 0, 3)), ULMVector4D(0, 0, 1, 6));
    EXPECT_EQ(ULMDot(ULMVector3D(1, 2, 3), ULMVector3D(4, -5, 6)), 12.0);
    EXPECT_EQ(ULMDistance(ULMVector2D(0, 0), ULMVector2D(3, 4)), 5.0);
    EXPECT_EQ(ULMDistanceSquared(ULMVector4D(1, 1, 1, 1), ULMVector4D(1, 1, 1, 3)), 4.0);

    const ULMVector3D a(1, 2, 3), b(4, 5, 6);
    EXPECT_EQ(-(b - a) + 2.0 * a, ULMVector3D(-1, 1, 3));
    EXPECT_EQ(a, ULMVector3D(1, 2, 3));  // the binary forms leave their operands alone
    ULMVector3D c(a);
    ((c += b) -= ULMVector3D(1, 1, 1)) *= 0.5;
    EXPECT_EQ(c, ULMVector3D(2, 3, 4));
    EXPECT_NE(ULMVector3D(1, 2, 3), ULMVector3D(1, 2, 3.0000000001));  // no tolerance
    EXPECT_NE(ULMVector4D(1, 2, 3, 4), ULMVector4D(1, 2, 3, 5));
}

TEST_F(VectorTest, ArraysAndCopies) {
    const double d[4] = {1.5, 2.5, 3.5, 4.5};
    EXPECT_EQ(ULMVector2D(d), ULMVector2D(1.5, 2.5));
    const float f[3] = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(ULMVector3D(f).Z(), static_cast<double>(0.3f));
    float out[4] = {9, 9, 9, 9};
    ULMVector3D(0.1, -2, 3).CopyTo(out);
    EXPECT_TRUE(out[0] == 0.1f && out[2] == 3.0f && out[3] == 9.0f);  // nothing past the last component
    double y = 0;
    float w = 0;
    ULMVector3D(0.1, -2, 3).CopyTo(nullptr, &y, nullptr);
    ULMVector4D(1, 2, 3, 4).CopyTo(nullptr, nullptr, nullptr, &w);
    EXPECT_TRUE(y == -2.0 && w == 4.0f);
    ULMVector3D unchanged(1, 2, 3);
    unchanged.Assign(static_cast<const double*>(nullptr));
    unchanged.CopyTo(static_cast<double*>(nullptr));
    EXPECT_EQ(unchanged, ULMVector3D(1, 2, 3));
}

TEST_F(MatrixTest, ValuesAreRowOrderArraysAreColumnOrder) {
    EXPECT_EQ(kCounting[0][1], 1.0);
    EXPECT_EQ(kCounting[1][0], 4.0);
    double array[16];
    for (int k = 0; k < 16; ++k) array[k] = k;
    EXPECT_EQ(ULMMatrix(array), kCounting.Transpose());
    double out[16];
    kCounting.CopyTo(out);
    const double expected[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    for (int k = 0; k < 16; ++k) EXPECT_EQ(out[k], expected[k]) << k;

    float floats[16], back[16];
    for (int k = 0; k < 16; ++k) floats[k] = 0.1f * static_cast<float>(k);
    ULMMatrix m(floats);
    EXPECT_EQ(m[2][1], static_cast<double>(floats[6]));
    m.CopyTo(back);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(back[k], floats[k]) << k;
    EXPECT_EQ(m.Assign(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), kCounting);
    EXPECT_EQ(ULMMatrix(static_cast<const double*>(nullptr)), ULMMatrix::Identity());
    EXPECT_EQ(ULMMatrix(), ULMMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));
}

TEST_F(MatrixTest, TransformsAndProducts) {
    const ULMMatrix t = ULMMatrix::Translate(1, 2, 3);
    ULMVector3D p;
    t.TransformPoint(ULMVector3D(0, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(1, 2, 3));
    t.TransformVector(ULMVector3D(0, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(0, 0, 0));
    // The right-hand matrix acts first.
    (ULMMatrix::Translate(1, 0, 0) * ULMMatrix::Scale(2, 2, 2)).TransformPoint(ULMVector3D(1, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(3, 0, 0));
    ULMMatrix st = ULMMatrix::Scale(2, 2, 2);
    st *= ULMMatrix::Translate(1, 0, 0);
    st.TransformPoint(ULMVector3D(1, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(4, 0, 0));

    // Row 3 plays no part in TransformPoint; the full product uses it.
    ULMMatrix projective = t;
    projective[3][2] = -1.0;
    projective.TransformPoint(ULMVector3D(1, 1, 1), p);
    EXPECT_EQ(p, ULMVector3D(2, 3, 4));
    EXPECT_EQ(projective * ULMVector4D(1, 1, 1, 1), ULMVector4D(2, 3, 4, 0));
    ULMVector4D q(1, 1, 1, 1);
    projective.Transform(q, q);
    EXPECT_EQ(q, ULMVector4D(2, 3, 4, 0));
    p.Assign(1, 2, 3);
    ULMMatrix::Scale(2, 3, 4).TransformPoint(p, p);  // in and out may be one vector
    EXPECT_EQ(p, ULMVector3D(2, 6, 12));

    // A product with itself goes through a temporary.
    ULMMatrix m = kCounting;
    m *= m;
    EXPECT_EQ(m[0][0], 56.0);   // row 0 . column 0 = 0 + 4 + 16 + 36
    EXPECT_EQ(m[3][2], 452.0);  // 12*2 + 13*6 + 14*10 + 15*14
    EXPECT_EQ(m, kCounting * kCounting);
    EXPECT_EQ((2.0 * kCounting)[3][3], 30.0);
    EXPECT_NE(kCounting, kCounting * 1.0000001);
    EXPECT_EQ(Faults(), 0u);
}

TEST_F(MatrixTest, DeterminantAdjointAndInverse) {
    EXPECT_EQ(ULMMatrix::Scale(2, 4, 8).Determinant(), 64.0);
    EXPECT_EQ(kCounting.Determinant(), 0.0);
    const ULMMatrix a(2, -1, 0, 3, 1, 3, -2, 0, 0, 4, 1, -1, 5, 0, 2, 1);
    EXPECT_EQ(a.Determinant(), -142.0);
    EXPECT_EQ(ULMMatrix(1, 3, -2, 0, 2, -1, 0, 3, 0, 4, 1, -1, 5, 0, 2, 1).Determinant(), 142.0);  // rows 0, 1 swapped
    EXPECT_EQ(a.Transpose().Determinant(), -142.0);
    // A * adj(A) = det(A) * I, exact for small integers.
    EXPECT_EQ(a * a.Adjoint(), -142.0 * ULMMatrix::Identity());
    EXPECT_EQ(a.Adjoint() * a, -142.0 * ULMMatrix::Identity());

    EXPECT_EQ(ULMMatrix::Scale(2, 4, 8).Inverse(), ULMMatrix::Scale(0.5, 0.25, 0.125));
    ExpectNear(ULMMatrix::Translate(1, -2, 3).Inverse(), ULMMatrix::Translate(-1, 2, -3));
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    for (int trial = 0; trial < 50; ++trial) {
        ULMMatrix m;
        for (auto& row : m.m_matrix)
            for (double& e : row) e = value(rng);
        if (std::fabs(m.Determinant()) < 1e-3) continue;
        ExpectNear(m * m.Inverse(), ULMMatrix::Identity(), 1e-9);
        ExpectNear(m.Inverse() * m, ULMMatrix::Identity(), 1e-9);
    }
    EXPECT_EQ(Faults(), 0u);

    // A singular matrix reports and gives its adjoint.
    const ULMMatrix nearly = ULMMatrix::Scale(1e-4, 1e-4, 1e-4);  // determinant 1e-12
    EXPECT_TRUE(nearly.IsSingular());
    EXPECT_EQ(nearly.Inverse(), nearly.Adjoint());
    EXPECT_EQ(Faults(), 1u);
    EXPECT_EQ(kCounting.Inverse(), kCounting.Adjoint());
    EXPECT_EQ(Faults(), 1u);
    EXPECT_TRUE(ULMMatrix::Scale(1e-4, 1e-4, 1e-3).IsSingular());
    EXPECT_FALSE(ULMMatrix::Scale(1e-3, 1e-3, 1e-3).IsSingular());
    gULMControl.m_epsilon = 1e-8;
    EXPECT_TRUE(ULMMatrix::Scale(1e-3, 1e-3, 1e-3).IsSingular());
    EXPECT_EQ(Faults(), 0u);
}

TEST_F(MatrixTest, RotateAndLookAt) {
    const ULMMatrix r = ULMMatrix::Rotate(90, ULMVector3D(0, 0, 1));
    ULMVector3D p;
    r.TransformPoint(ULMVector3D(1, 0, 0), p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 1, 0)), 0.0, 1e-15);
    EXPECT_EQ(ULMMatrix::Rotate(90, ULMVector3D(0, 0, 5)), r);
    // Right-hand rule about x: y turns into z.
    ULMMatrix::Rotate(90, ULMVector3D(2, 0, 0)).TransformPoint(ULMVector3D(0, 1, 0), p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 0, 1)), 0.0, 1e-15);
    const ULMVector3D axis(1, 2, 3);
    const ULMMatrix a = ULMMatrix::Rotate(37, axis);
    ExpectNear(a * a.Transpose(), ULMMatrix::Identity(), 1e-15);
    a.TransformVector(axis, p);
    EXPECT_NEAR(ULMDistance(p, axis), 0.0, 1e-14);
    EXPECT_EQ(Faults(), 0u);
    const double c = std::cos(30 * 0.017453292519943295);
    EXPECT_EQ(ULMMatrix::Rotate(30, ULMVector3D(0, 0, 0)), ULMMatrix::Scale(c, c, c));
    EXPECT_EQ(Faults(), 1u);

    const ULMMatrix view = ULMMatrix::LookAt(ULMVector3D(0, 0, 5), ULMVector3D(0, 0, 0), ULMVector3D(0, 1, 0));
    EXPECT_EQ(view, ULMMatrix::Translate(0, 0, -5));
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(0, 0, 5), ULMVector3D(0, 0, 0), ULMVector3D(0, 0, 1)), view);
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(1, 2, 3), ULMVector3D(1, 2, 3), ULMVector3D(0, 1, 0)),
              ULMMatrix::Identity());
    // Looking down y with up along y: neither up nor the y fallback works,
    // so z serves as up.
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(0, 5, 0), ULMVector3D(0, 0, 0), ULMVector3D(0, 3, 0)),
              ULMMatrix(-1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, -5, 0, 0, 0, 1));
    // In general the eye goes to the origin and the centre onto -z.
    const ULMVector3D eye(3, -4, 7), coa(1, 1, 1);
    const ULMMatrix m = ULMMatrix::LookAt(eye, coa, ULMVector3D(0.3, 1, 0.2));
    m.TransformPoint(eye, p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 0, 0)), 0.0, 1e-12);
    m.TransformPoint(coa, p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 0, -ULMDistance(eye, coa))), 0.0, 1e-12);
    EXPECT_NEAR(m.Determinant(), 1.0, 1e-12);
    EXPECT_EQ(Faults(), 0u);
}

TEST_F(MatrixTest, Projections) {
    EXPECT_EQ(ULMMatrix::Ortho(-1, 1, -1, 1, -1, 1), ULMMatrix::Scale(1, 1, -1));
    EXPECT_EQ(ULMMatrix::Ortho(0, 4, 0, 2, 1, 3), ULMMatrix(0.5, 0, 0, -1, 0, 1, 0, -1, 0, 0, -1, -2, 0, 0, 0, 1));
    const ULMMatrix flat = ULMMatrix::Ortho(2, 2, -1, 1, -1, 1);
    EXPECT_TRUE(flat[0][0] == 0.0 && flat[0][3] == 0.0);
    const ULMMatrix f = ULMMatrix::Frustum(-1, 1, -1, 1, 1, 10);
    ExpectNear(f, ULMMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -11.0 / 9, -20.0 / 9, 0, 0, -1, 0));
    ExpectNear(ULMMatrix::Frustum(0, 2, 1, 2, 2, 4), ULMMatrix(2, 0, 1, 0, 0, 4, 3, 0, 0, 0, -3, -8, 0, 0, -1, 0));
    const ULMMatrix zeroDepth = ULMMatrix::Frustum(-1, 1, -1, 1, 3, 3);
    EXPECT_TRUE(zeroDepth[2][2] == 0.0 && zeroDepth[2][3] == 0.0);
    ExpectNear(ULMMatrix::Perspective(90, 2, 1, 10), ULMMatrix::Frustum(-2, 2, -1, 1, 1, 10));
    EXPECT_EQ(Faults(), 0u);

    EXPECT_TRUE(IsPerspectiveMatrix(f));
    EXPECT_FALSE(IsPerspectiveMatrix(ULMMatrix::Ortho(-3, 5, 0, 1, 2, 9)));
    EXPECT_FALSE(IsPerspectiveMatrix(ULMMatrix::Rotate(10, ULMVector3D(1, 1, 0))));
    EXPECT_TRUE(IsPerspectiveMatrix(ULMMatrix::Scale(1, 1, 1) * 2.0));
}
