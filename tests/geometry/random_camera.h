// Random perspective cameras around a voxel box, with fixed seeds, for the
// invariant tests of the perspective geometry and planner.
#pragma once

#include <random>

#include "geometry/transform_3d.h"
#include "geometry/points.h"

namespace ulm3::test_support {

enum class EyeAt { kOutsideFace, kNearEdge, kInside };

struct RandomCamera {
    ULMMatrix corr, model, view, proj;
    int viewW = 0, viewH = 0;                   // viewport origin (0, 0)
    int wpMinX = 0, wpMinY = 0, wpMaxX = 0, wpMaxY = 0;  // inclusive
    Point3D volMin, volMax, eye;                // voxel space

    Mat44 Pmv() const { return ULMMatToMat44(proj * view * model * corr); }
};

// face: 0..5 in the near-side numbering (0 = beyond the maximum x face).
inline RandomCamera MakeCamera(std::mt19937& rng, EyeAt where, int face) {
    auto uni = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    RandomCamera c;
    const double n[3] = {uni(16, 96), uni(16, 96), uni(16, 96)};
    c.volMax = {n[0], n[1], n[2]};
    c.corr = ULMMatrix::Scale(uni(0.5, 2), uni(0.5, 2), uni(0.5, 2)) *
             ULMMatrix::Translate(-n[0] / 2, -n[1] / 2, -n[2] / 2);
    double e[3] = {uni(0.1, 0.9) * n[0], uni(0.1, 0.9) * n[1], uni(0.1, 0.9) * n[2]};
    double target[3] = {n[0] / 2 + uni(-5, 5), n[1] / 2 + uni(-5, 5), n[2] / 2 + uni(-5, 5)};
    const int axis = face / 2;
    const double beyond = uni(1.2, 3.0) * n[axis];
    if (where != EyeAt::kInside) e[axis] = face % 2 == 0 ? n[axis] + beyond : -beyond;
    if (where == EyeAt::kNearEdge) {
        const int other = (axis + 1) % 3;
        e[other] = n[other] + uni(0.5, 1.0) * n[other];
    }
    if (where == EyeAt::kInside)
        for (double& t : target) t = uni(-100, 200);
    c.eye = {e[0], e[1], e[2]};
    const ULMMatrix toWorld = c.model * c.corr;
    ULMVector3D eyeW, targetW;
    toWorld.TransformPoint(ULMVector3D(e[0], e[1], e[2]), eyeW);
    toWorld.TransformPoint(ULMVector3D(target[0], target[1], target[2]), targetW);
    c.view = ULMMatrix::LookAt(eyeW, targetW, ULMVector3D(uni(-1, 1), 1, uni(-1, 1)));
    c.viewW = int(uni(64, 256));
    c.viewH = int(uni(64, 256));
    c.proj = ULMMatrix::Perspective(uni(30, 90), double(c.viewW) / c.viewH, 1.0, 10000.0);
    c.wpMinX = int(uni(0, 0.2) * c.viewW);
    c.wpMinY = int(uni(0, 0.2) * c.viewH);
    c.wpMaxX = c.viewW - 1 - int(uni(0, 0.2) * c.viewW);
    c.wpMaxY = c.viewH - 1 - int(uni(0, 0.2) * c.viewH);
    return c;
}

}  // namespace ulm3::test_support
