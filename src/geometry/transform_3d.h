// 4x4 double matrices and homogeneous 4-vectors of the perspective geometry,
// with their free routines and the copies to and from the public matrix.
#pragma once

#include "ulm3/matrix.h"

namespace ulm3 {

// Position 4r + q is row r, column q of an operator on column vectors, the
// same order as ULMMatrix's rows.
struct Mat44 {
    double v[16] = {};

    double& operator()(int r, int q) { return v[4 * r + q]; }
    double operator()(int r, int q) const { return v[4 * r + q]; }
};

struct Vect4 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;
};

void MatInit(Mat44* mat);
// Write only their own entries.
void MatTrans(Mat44* matrix, double tx, double ty, double tz);
void MatScale(Mat44* matrix, double sx, double sy, double sz);
// theta in degrees; axis 'x', 'y' or 'z', anything else writes nothing.
void MatRotate(Mat44* matrix, char axis, double theta);
// matrix3 = matrix1 * matrix2 (matrix2 acts first); matrix3 may be an input.
void MatMultiply(Mat44* matrix3, const Mat44* matrix1, const Mat44* matrix2);
void MatMultRound(Mat44* matrix3, const Mat44* matrix1, const Mat44* matrix2);
void MatCopy(Mat44* matrix2, const Mat44* matrix1);
void MatRound0(Mat44* mat);
// 1 and mat2 = inverse of mat1; 0 with mat2 untouched when a pivot is zero.
int MatInvert(Mat44* mat2, const Mat44* mat1);
// Solves the n x (n + 1) augmented system in a (destroyed) into x; 0 on a
// zero pivot.
int GaussElim(double* a, double* x, long n);
void MatPrint(const Mat44* mat);

void VectNormalize(Vect4* vect);
void VectHomNorm(Vect4* vect);
void VectSubtract(Vect4* a, const Vect4* b);
void VectAdd(Vect4* a, const Vect4* b);
void VectRound0(Vect4* vect);
// out = M * in; out must not alias in.
void VectMultiply(Vect4* out, const Mat44* mat, const Vect4* in);
void TransVect(Vect4* out, const Mat44* mat, const Vect4* in);
void VectMultRound(Vect4* out, const Mat44* mat, const Vect4* in);
void TransVectHom(Vect4* out, const Mat44* mat, const Vect4* in);

// Element (r, c) of the public matrix is element 4r + c here, both ways.
Mat44 ULMMatToMat44(const ULMMatrix& in);
ULMMatrix Mat44ToULMMat(const Mat44& in);

// The inverse of a matrix whose overall scale does not matter to its users
// (homogeneous maps). The matrix is divided by its largest entry first, so a
// map with voxel-sized and pixel-sized terms is not mistaken for a singular
// one; the division is undone on the result. False, with out untouched and
// nothing reported, when the matrix is truly singular or not finite.
bool InvertHomogeneous(const ULMMatrix& in, ULMMatrix& out);

}  // namespace ulm3
