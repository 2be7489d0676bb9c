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
