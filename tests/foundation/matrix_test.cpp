#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "foundation/math_fault_fixture.h"
#include "ulm3/matrix.h"

using namespace ulm3;
using ulm3::testing::kOneMathFault;

namespace {

class MatrixTest : public ulm3::testing::MathFaultTest {};

void ExpectNear(const ULMMatrix& actual, const ULMMatrix& expected, double tolerance = 1e-12) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual.m_matrix[r][c], expected.m_matrix[r][c], tolerance)
                << "row " << r << " column " << c;
}

const ULMMatrix kCounting(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);

TEST_F(MatrixTest, ValuesAreRowOrderArraysAreColumnOrder) {
    EXPECT_EQ(kCounting[0][1], 1.0);
    EXPECT_EQ(kCounting[1][0], 4.0);

    double array[16];
    for (int k = 0; k < 16; ++k) array[k] = k;
    const ULMMatrix fromArray(array);
    EXPECT_EQ(fromArray[0][1], 4.0);
    EXPECT_EQ(fromArray[1][0], 1.0);
    EXPECT_EQ(fromArray, kCounting.Transpose());

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

TEST_F(MatrixTest, BadRowReportsOnceReadsRowZeroAndDiscardsWrites) {
    ULMMatrix m = kCounting;
    EXPECT_EQ(m[4][2], 2.0);
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    m[-1][0] = 100.0;
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(m, kCounting);

    const ULMMatrix& cm = m;
    EXPECT_EQ(cm[7][3], 3.0);
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(cm[3][3], 15.0);
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, TransformsAndCompositionOrder) {
    const ULMMatrix t = ULMMatrix::Translate(1, 2, 3);
    ULMVector3D p;
    t.TransformPoint(ULMVector3D(0, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(1, 2, 3));
    t.TransformVector(ULMVector3D(0, 0, 0), p);
    EXPECT_EQ(p, ULMVector3D(0, 0, 0));

    const ULMMatrix ts = ULMMatrix::Translate(1, 0, 0) * ULMMatrix::Scale(2, 2, 2);
    ts.TransformPoint(ULMVector3D(1, 0, 0), p);
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
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, ProductsWithItselfAndScalars) {
    ULMMatrix m = kCounting;
    m *= m;
    EXPECT_EQ(m[0][0], 56.0);  // row 0 . column 0 = 0 + 4 + 16 + 36
    EXPECT_EQ(m[3][2], 452.0);  // 12*2 + 13*6 + 14*10 + 15*14
    EXPECT_EQ(m, kCounting * kCounting);
    EXPECT_EQ((2.0 * kCounting)[3][3], 30.0);
    EXPECT_NE(kCounting, kCounting * 1.0000001);
}

TEST_F(MatrixTest, DeterminantAndAdjoint) {
    EXPECT_EQ(ULMMatrix::Scale(2, 4, 8).Determinant(), 64.0);
    EXPECT_EQ(kCounting.Determinant(), 0.0);

    const ULMMatrix a(2, -1, 0, 3, 1, 3, -2, 0, 0, 4, 1, -1, 5, 0, 2, 1);
    EXPECT_EQ(a.Determinant(), -142.0);
    const ULMMatrix swapped(1, 3, -2, 0, 2, -1, 0, 3, 0, 4, 1, -1, 5, 0, 2, 1);
    EXPECT_EQ(swapped.Determinant(), 142.0);
    EXPECT_EQ(a.Transpose().Determinant(), -142.0);

    // A * adj(A) = det(A) * I, exact for small integers.
    EXPECT_EQ(a * a.Adjoint(), -142.0 * ULMMatrix::Identity());
    EXPECT_EQ(a.Adjoint() * a, -142.0 * ULMMatrix::Identity());
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, Inverse) {
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
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, SingularInverseReportsAndGivesTheAdjoint) {
    const ULMMatrix nearly = ULMMatrix::Scale(1e-4, 1e-4, 1e-4);  // determinant 1e-12
    EXPECT_TRUE(nearly.IsSingular());
    EXPECT_EQ(nearly.Inverse(), nearly.Adjoint());
    EXPECT_EQ(TakeFaults(), kOneMathFault);

    EXPECT_EQ(kCounting.Inverse(), kCounting.Adjoint());
    EXPECT_EQ(TakeFaults(), kOneMathFault);

    EXPECT_TRUE(ULMMatrix::Scale(1e-4, 1e-4, 1e-3).IsSingular());
    EXPECT_FALSE(ULMMatrix::Scale(1e-3, 1e-3, 1e-3).IsSingular());
    gULMControl.m_epsilon = 1e-8;
    EXPECT_TRUE(ULMMatrix::Scale(1e-3, 1e-3, 1e-3).IsSingular());
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, Rotate) {
    const ULMMatrix r = ULMMatrix::Rotate(90, ULMVector3D(0, 0, 1));
    ULMVector3D p;
    r.TransformPoint(ULMVector3D(1, 0, 0), p);
    EXPECT_NEAR(p.X(), 0.0, 1e-15);
    EXPECT_NEAR(p.Y(), 1.0, 1e-15);
    EXPECT_EQ(p.Z(), 0.0);
    EXPECT_EQ(ULMMatrix::Rotate(90, ULMVector3D(0, 0, 5)), r);

    // Right-hand rule about x: y turns into z.
    ULMMatrix::Rotate(90, ULMVector3D(2, 0, 0)).TransformPoint(ULMVector3D(0, 1, 0), p);
    ExpectNear(ULMMatrix::Translate(p.X(), p.Y(), p.Z()), ULMMatrix::Translate(0, 0, 1), 1e-15);

    const ULMVector3D axis(1, 2, 3);
    const ULMMatrix a = ULMMatrix::Rotate(37, axis);
    ExpectNear(a * a.Transpose(), ULMMatrix::Identity(), 1e-15);
    a.TransformVector(axis, p);
    EXPECT_NEAR(ULMDistance(p, axis), 0.0, 1e-14);
    EXPECT_NEAR(a.Determinant(), 1.0, 1e-14);
    EXPECT_TRUE(TakeFaults().empty());

    const double c = std::cos(30 * 0.017453292519943295);
    EXPECT_EQ(ULMMatrix::Rotate(30, ULMVector3D(0, 0, 0)), ULMMatrix::Scale(c, c, c));
    EXPECT_EQ(TakeFaults(), kOneMathFault);
}

TEST_F(MatrixTest, LookAt) {
    const ULMMatrix view = ULMMatrix::LookAt(ULMVector3D(0, 0, 5), ULMVector3D(0, 0, 0),
                                             ULMVector3D(0, 1, 0));
    EXPECT_EQ(view, ULMMatrix::Translate(0, 0, -5));
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(0, 0, 5), ULMVector3D(0, 0, 0), ULMVector3D(0, 0, 1)),
              view);
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(1, 2, 3), ULMVector3D(1, 2, 3), ULMVector3D(0, 1, 0)),
              ULMMatrix::Identity());

    // Looking down y with up along y: neither up nor the y fallback works,
    // so z serves as up.
    EXPECT_EQ(ULMMatrix::LookAt(ULMVector3D(0, 5, 0), ULMVector3D(0, 0, 0), ULMVector3D(0, 3, 0)),
              ULMMatrix(-1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, -5, 0, 0, 0, 1));

    // In general the eye goes to the origin and the centre onto -z.
    const ULMVector3D eye(3, -4, 7), coa(1, 1, 1);
    const ULMMatrix m = ULMMatrix::LookAt(eye, coa, ULMVector3D(0.3, 1, 0.2));
    ULMVector3D p;
    m.TransformPoint(eye, p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 0, 0)), 0.0, 1e-12);
    m.TransformPoint(coa, p);
    EXPECT_NEAR(ULMDistance(p, ULMVector3D(0, 0, -ULMDistance(eye, coa))), 0.0, 1e-12);
    EXPECT_NEAR(m.Determinant(), 1.0, 1e-12);
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(MatrixTest, Projections) {
    EXPECT_EQ(ULMMatrix::Ortho(-1, 1, -1, 1, -1, 1), ULMMatrix::Scale(1, 1, -1));
    EXPECT_EQ(ULMMatrix::Ortho(0, 4, 0, 2, 1, 3),
              ULMMatrix(0.5, 0, 0, -1, 0, 1, 0, -1, 0, 0, -1, -2, 0, 0, 0, 1));
    const ULMMatrix flat = ULMMatrix::Ortho(2, 2, -1, 1, -1, 1);
    EXPECT_EQ(flat[0][0], 0.0);
    EXPECT_EQ(flat[0][3], 0.0);

    const ULMMatrix f = ULMMatrix::Frustum(-1, 1, -1, 1, 1, 10);
    ExpectNear(f, ULMMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -11.0 / 9, -20.0 / 9, 0, 0, -1, 0));
    const ULMMatrix offCentre = ULMMatrix::Frustum(0, 2, 1, 2, 2, 4);
    ExpectNear(offCentre, ULMMatrix(2, 0, 1, 0, 0, 4, 3, 0, 0, 0, -3, -8, 0, 0, -1, 0));
    const ULMMatrix zeroDepth = ULMMatrix::Frustum(-1, 1, -1, 1, 3, 3);
    EXPECT_EQ(zeroDepth[2][2], 0.0);
    EXPECT_EQ(zeroDepth[2][3], 0.0);

    ExpectNear(ULMMatrix::Perspective(90, 2, 1, 10), ULMMatrix::Frustum(-2, 2, -1, 1, 1, 10));
    EXPECT_TRUE(TakeFaults().empty());

    EXPECT_TRUE(IsPerspectiveMatrix(f));
    EXPECT_FALSE(IsPerspectiveMatrix(ULMMatrix::Ortho(-3, 5, 0, 1, 2, 9)));
    EXPECT_FALSE(IsPerspectiveMatrix(ULMMatrix::Rotate(10, ULMVector3D(1, 1, 0))));
    EXPECT_TRUE(IsPerspectiveMatrix(ULMMatrix::Scale(1, 1, 1) * 2.0));
}

}  // namespace
