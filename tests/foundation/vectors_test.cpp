#include <gtest/gtest.h>

#include "foundation/log_capture.h"
#include "foundation/math_fault_fixture.h"
#include "ulm3/vectors.h"

using namespace ulm3;
using ulm3::testing::kOneMathFault;

namespace {

class VectorTest : public ulm3::testing::MathFaultTest {};

TEST_F(VectorTest, BadIndexReportsOnceAndReadsX) {
    const ULMVector3D v(1, 2, 3);
    EXPECT_EQ(v[3], 1.0);
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(v[-1], 1.0);
    EXPECT_EQ(TakeFaults(), kOneMathFault);

    const ULMVector4D v4(7, 8, 9, 10);
    EXPECT_EQ(v4[4], 7.0);
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(v4[3], 10.0);
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(VectorTest, WriteThroughBadIndexLeavesTheVectorAlone) {
    ULMVector3D v(1, 2, 3);
    v[3] = 99.0;
    v[-7] += 5.0;
    EXPECT_EQ(TakeFaults().size(), 2u);
    EXPECT_EQ(v, ULMVector3D(1, 2, 3));
    v[1] = 20.0;
    EXPECT_EQ(v, ULMVector3D(1, 20, 3));
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(VectorTest, FaultWithoutHandlerIsLoggedAndCompletes) {
    ulm3::testing_support::LogToFile log;
    gULMControl.m_errorHandler = nullptr;
    ULMVector3D v(4, 5, 6);
    EXPECT_EQ(v[9], 4.0);
    v[9] = 0.0;
    v /= 0.0;
    EXPECT_EQ(v, ULMVector3D(4, 5, 6));
    EXPECT_NE(log.Contents().find("ULMErrorHandler: Error 1003 at line"), std::string::npos);
}

TEST_F(VectorTest, DivisionByNearZeroReportsAndLeavesUnchanged) {
    ULMVector3D v(2, 4, 6);
    EXPECT_EQ(v / 2, ULMVector3D(1, 2, 3));
    EXPECT_TRUE(TakeFaults().empty());

    EXPECT_EQ(v / 1e-12, v);
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    v /= -1e-12;
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    v /= 0.0;
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(v, ULMVector3D(2, 4, 6));

    v /= 1e-9;
    EXPECT_TRUE(TakeFaults().empty());
    EXPECT_DOUBLE_EQ(v.X(), 2e9);
    EXPECT_DOUBLE_EQ(v.Z(), 6e9);
}

TEST_F(VectorTest, DivisionFollowsTheLibraryEpsilon) {
    gULMControl.m_epsilon = 1e-3;
    ULMVector2D v(1, 1);
    v /= 1e-4;
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(v, ULMVector2D(1, 1));

    gULMControl.m_epsilon = 0.0;
    v /= 0.0;  // an exact zero is refused even without a tolerance
    EXPECT_EQ(TakeFaults(), kOneMathFault);
    EXPECT_EQ(v, ULMVector2D(1, 1));
}

TEST_F(VectorTest, DivisionMultipliesByTheReciprocal) {
    // 3 / 10 and 3 * (1 / 10) round differently; results must match the
    // reciprocal form bit for bit.
    ASSERT_NE(3.0 / 10.0, 3.0 * (1.0 / 10.0));
    ULMVector3D v(3, 0, 0);
    v /= 10.0;
    EXPECT_EQ(v.X(), 3.0 * (1.0 / 10.0));
}

TEST_F(VectorTest, Normalize) {
    ULMVector3D v(3, 4, 0);
    v.Normalize(1);
    EXPECT_DOUBLE_EQ(v.X(), 0.6);
    EXPECT_DOUBLE_EQ(v.Y(), 0.8);
    EXPECT_EQ(v.Z(), 0.0);
    v.Assign(3, 4, 0).Normalize(10);
    EXPECT_DOUBLE_EQ(v.X(), 6.0);
    EXPECT_DOUBLE_EQ(v.Y(), 8.0);

    ULMVector3D zero;
    EXPECT_EQ(zero.Normalize(1), ULMVector3D(0, 0, 0));
    ULMVector3D tiny(1e-6, 0, 0);
    EXPECT_EQ(tiny.Normalize(1), ULMVector3D(1e-6, 0, 0));
    EXPECT_TRUE(TakeFaults().empty());

    ULMVector4D w(0, 0, 0, 2);
    EXPECT_EQ(w.Normalize(1), ULMVector4D(0, 0, 0, 1));
    EXPECT_DOUBLE_EQ(ULMVector2D(5, 12).Normalize(2).Length(), 2.0);
}

TEST_F(VectorTest, ProductsAndDistances) {
    EXPECT_EQ(ULMCross(ULMVector3D(1, 0, 0), ULMVector3D(0, 1, 0)), ULMVector3D(0, 0, 1));
    EXPECT_EQ(ULMCross(ULMVector3D(0, 1, 0), ULMVector3D(1, 0, 0)), ULMVector3D(0, 0, -1));
    EXPECT_EQ(ULMCross(ULMVector3D(2, 3, 4), ULMVector3D(5, 6, 7)), ULMVector3D(-3, 6, -3));
    EXPECT_EQ(ULMCross(ULMVector4D(1, 0, 0, 2), ULMVector4D(0, 1, 0, 3)),
              ULMVector4D(0, 0, 1, 6));

    EXPECT_EQ(ULMDot(ULMVector3D(1, 2, 3), ULMVector3D(4, -5, 6)), 12.0);
    EXPECT_EQ(ULMVector3D(1, 2, 2).Length(), 3.0);

    EXPECT_EQ(ULMDistance(ULMVector2D(0, 0), ULMVector2D(3, 4)), 5.0);
    EXPECT_EQ(ULMDistanceSquared(ULMVector2D(0, 0), ULMVector2D(3, 4)), 25.0);
    EXPECT_EQ(ULMDistanceSquared(ULMVector4D(1, 1, 1, 1), ULMVector4D(1, 1, 1, 3)), 4.0);
}

TEST_F(VectorTest, Arithmetic) {
    const ULMVector3D a(1, 2, 3), b(4, 5, 6);
    EXPECT_EQ(-(b - a) + 2.0 * a, ULMVector3D(-1, 1, 3));
    EXPECT_EQ(a, ULMVector3D(1, 2, 3));  // the binary forms leave their operands alone
    ULMVector3D c(a);
    ((c += b) -= ULMVector3D(1, 1, 1)) *= 0.5;
    EXPECT_EQ(c, ULMVector3D(2, 3, 4));

    EXPECT_NE(ULMVector3D(1, 2, 3), ULMVector3D(1, 2, 3.0000000001));
    EXPECT_NE(ULMVector4D(1, 2, 3, 4), ULMVector4D(1, 2, 3, 5));
    EXPECT_TRUE(TakeFaults().empty());
}

TEST_F(VectorTest, ArraysAndCopies) {
    EXPECT_EQ(ULMVector4D(), ULMVector4D(0, 0, 0, 0));
    const double d[4] = {1.5, 2.5, 3.5, 4.5};
    EXPECT_EQ(ULMVector2D(d), ULMVector2D(1.5, 2.5));
    const float f[3] = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(ULMVector3D(f).Z(), static_cast<double>(0.3f));

    const ULMVector3D v(0.1, -2, 3);
    float out[4] = {9, 9, 9, 9};
    v.CopyTo(out);
    EXPECT_EQ(out[0], 0.1f);
    EXPECT_EQ(out[2], 3.0f);
    EXPECT_EQ(out[3], 9.0f);  // nothing past the last component

    double y = 0;
    v.CopyTo(nullptr, &y, nullptr);
    EXPECT_EQ(y, -2.0);
    float fw = 0;
    ULMVector4D(1, 2, 3, 4).CopyTo(nullptr, nullptr, nullptr, &fw);
    EXPECT_EQ(fw, 4.0f);

    ULMVector3D unchanged(1, 2, 3);
    unchanged.Assign(static_cast<const double*>(nullptr));
    unchanged.CopyTo(static_cast<double*>(nullptr));
    EXPECT_EQ(unchanged, ULMVector3D(1, 2, 3));
}

}  // namespace
