// The 4x4 transform of the library.
#pragma once

#include "ulm3/vectors.h"

namespace ulm3 {

// Vectors are columns: a matrix maps p to M*p, the translation sits in
// column 3, and A*B applies B first. Storage is row by row, m_matrix[r][c].
//
// Two element orders are in use. The 16-value constructor and Assign take
// their arguments row by row (a00, a01, a02, a03, a10, ...). Arrays, the way
// graphics interfaces pass matrices, are column by column: element k is
// [k % 4][k / 4]; that holds for the array constructors, the array Assign
// forms and CopyTo.
//
// Arithmetic faults (a row index out of range, the inverse of a singular
// matrix, a rotation about a zero axis) are reported to the error handler
// with kULMErrMath and the operation completes with a harmless result.
class ULMMatrix {
public:
    // The identity.
    ULMMatrix();
    ULMMatrix(double a00, double a01, double a02, double a03, double a10, double a11,
              double a12, double a13, double a20, double a21, double a22, double a23,
              double a30, double a31, double a32, double a33);
    // Column order; a null array leaves the identity.
    explicit ULMMatrix(const double* columns);
    explicit ULMMatrix(const float* columns);

    ULMMatrix& Assign(double a00, double a01, double a02, double a03, double a10, double a11,
                      double a12, double a13, double a20, double a21, double a22, double a23,
                      double a30, double a31, double a32, double a33);
    // Column order; a null array changes nothing.
    ULMMatrix& Assign(const double* columns);
    ULMMatrix& Assign(const float* columns);
    // Column order (floats narrowed); a null array is ignored.
    void CopyTo(double* columns) const;
    void CopyTo(float* columns) const;

    // Row r as four doubles. A row outside 0..3 is reported; the result then
    // reads as row 0, and writes through it are discarded.
    double* operator[](int r);
    const double* operator[](int r) const;

    static ULMMatrix Identity();
    // Right-hand rotation about the axis, the angle in degrees.
    static ULMMatrix Rotate(double inDegrees, const ULMVector3D& inAxis);
    static ULMMatrix Scale(double inX, double inY, double inZ);
    static ULMMatrix Translate(double inX, double inY, double inZ);
    // Viewing matrix from the eye, the centre of attention and the up
    // direction; the third row points from the centre towards the eye. An eye
    // on the centre gives the identity.
    static ULMMatrix LookAt(const ULMVector3D& eye, const ULMVector3D& coa,
                            const ULMVector3D& inup);
    static ULMMatrix Ortho(double inLeft, double inRight, double inBottom, double inTop,
                           double inNear, double inFar);
    static ULMMatrix Frustum(double inLeft, double inRight, double inBottom, double inTop,
                             double inNegativeNear, double inNegativeFar);
    // Field of view in degrees.
    static ULMMatrix Perspective(double inFieldOfViewY, double inAspectRatio,
                                 double inNegativeNear, double inNegativeFar);

    // this = this * M.
    ULMMatrix& operator*=(const ULMMatrix& M);
    ULMMatrix operator*(const ULMMatrix& M) const;
    ULMMatrix& operator*=(double c);
    ULMMatrix operator*(double c) const;
    ULMVector4D operator*(const ULMVector4D& v) const;
    void Transform(const ULMVector4D& in, ULMVector4D& out) const;
    // Rows 0..2 with the translation; row 3 is ignored (no projective divide).
    void TransformPoint(const ULMVector3D& in, ULMVector3D& out) const;
    // Rows 0..2 without the translation.
    void TransformVector(const ULMVector3D& in, ULMVector3D& out) const;

    // Exact comparison, no tolerance.
    bool operator==(const ULMMatrix& other) const;
    bool operator!=(const ULMMatrix& other) const { return !(*this == other); }

    ULMMatrix Transpose() const;
    double Determinant() const;
    // The classical adjoint (transposed cofactors).
    ULMMatrix Adjoint() const;
    // The adjoint divided by the determinant; a determinant within epsilon of
    // zero is reported and the adjoint comes back undivided.
    ULMMatrix Inverse() const;
    bool IsSingular() const;

    double m_matrix[4][4];
};

ULMMatrix operator*(double c, const ULMMatrix& M);

// True when the bottom row is not exactly (0, 0, 0, 1).
bool IsPerspectiveMatrix(ULMMatrix matrix);

}  // namespace ulm3
