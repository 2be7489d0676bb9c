// Screen-to-face maps of the perspective geometry.
#include "geometry/dual_hyper.h"

#include <cmath>

namespace ulm3 {
namespace {

constexpr double kFar = 1e9;

bool Tiny(double x) { return x >= -1e-9 && x <= 1e-9; }

}  // namespace

DualHyper::DualHyper(const Mat44& M, int inSide, double inSlice) {
    if (inSide < 0 || inSide > 5) {
        D.c = 1.0;
        return;
    }
    const int A = inSide / 2;
    const double c = inSlice;
    const double den = M(A, 2) - c * M(3, 2);
    const double r = Tiny(den) ? kFar : 1.0 / den;
    const double e0 = (c * M(3, 0) - M(A, 0)) * r;
    const double e1 = (c * M(3, 1) - M(A, 1)) * r;
    const double e3 = (c * M(3, 3) - M(A, 3)) * r;
    auto row = [&](int R) {
        return Linear2D{M(R, 0) + M(R, 2) * e0, M(R, 1) + M(R, 2) * e1, M(R, 3) + M(R, 2) * e3};
    };
    S = row(A == 0 ? 2 : 0);
    T = row(A == 1 ? 2 : 1);
    D = row(3);
}

DualHyper::DualHyper(const PolygonST3H& inPoly) {
    PointST3H p[3] = {inPoly[0], inPoly[1], inPoly[2]};
    for (PointST3H& q : p) {
        if (q.w != 0.0) q.w = 1.0 / q.w;
        q.s *= q.w;
        q.t *= q.w;
    }
    const PointST3H e1 = p[1] - p[0], e2 = p[0] - p[1], e3 = p[2] - p[1];
    const double det = e1.y * e3.x - e1.x * e3.y;
    backFacing = det >= 0.0;
    skipFace = std::fabs(det) < 0.2;
    if (skipFace) {
        // No plane through three nearly collinear points: the zero map.
        D.c = 1.0;
        return;
    }
    const double r = 1.0 / det;
    auto form = [&](double PointST3H::*f) {
        Linear2D l;
        l.x = (e2.*f * e3.y - e3.*f * e2.y) * r;
        l.y = (e3.*f * e2.x - e2.*f * e3.x) * r;
        l.c = p[0].*f - p[0].x * l.x - p[0].y * l.y;
        return l;
    };
    D = form(&PointST3H::w);
    S = form(&PointST3H::s);
    T = form(&PointST3H::t);
}

DualHyper::operator ULMMatrix() const {
    return ULMMatrix(S.x, S.y, 0, S.c, T.x, T.y, 0, T.c, 0, 0, 1, 0, D.x, D.y, 0, D.c);
}

PointST DualHyper::Eval(double x, double y) const {
    const double den = D(x, y);
    if (Tiny(den)) return {kFar, kFar};
    return {S(x, y) / den, T(x, y) / den};
}

PointST3H DualHyper::EvalST(const PointST3H& p) const {
    const PointST st = Eval(p.x, p.y);
    PointST3H out = p;
    out.s = st.s;
    out.t = st.t;
    return out;
}

void DualHyper::GradST(double inX, double inY, double& outGradS, double& outGradT,
                       double inScaleX, double inScaleY) const {
    const double den = D(inX, inY);
    const double den2 = den * den;
    if (den2 <= 1e-9) {
        outGradS = outGradT = kFar;
        return;
    }
    const double kx = inScaleX == 0.0 ? kFar : 1.0 / inScaleX;
    const double ky = inScaleY == 0.0 ? kFar : 1.0 / inScaleY;
    auto grad = [&](const Linear2D& f) {
        const double n = f(inX, inY);
        const double dx = std::fabs((den * f.x - n * D.x) / den2 * kx);
        const double dy = std::fabs((den * f.y - n * D.y) / den2 * ky);
        return std::fmax(dx, dy) + 0.5 * std::fmin(dx, dy);
    };
    outGradS = grad(S);
    outGradT = grad(T);
}

}  // namespace ulm3
