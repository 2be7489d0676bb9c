// The synthetic shapes of test_shapes.h.
#include "test_shapes.h"

#include <algorithm>
#include <cmath>

namespace ulm3tools {

namespace {

// The ten ellipsoids with the modified intensities: the original ones leave
// too little contrast between brain and ventricles to see.
constexpr PhantomEllipsoid kPhantom[] = {
    {1.0, 0.6900, 0.920, 0.810, 0, 0, 0, 0},
    {-0.8, 0.6624, 0.874, 0.780, 0, -0.0184, 0, 0},
    {-0.2, 0.1100, 0.310, 0.220, 0.22, 0, 0, -18 + 10},
    {-0.2, 0.1600, 0.410, 0.280, -0.22, 0, 0, 18 + 10},
    {0.1, 0.2100, 0.250, 0.410, 0, 0.35, -0.15, 0},
    {0.1, 0.0460, 0.046, 0.050, 0, 0.1, 0.25, 0},
    {0.1, 0.0460, 0.046, 0.050, 0, -0.1, 0.25, 0},
    {0.1, 0.0460, 0.023, 0.050, -0.08, -0.605, 0, 0},
    {0.1, 0.0230, 0.023, 0.020, 0, -0.606, 0, 0},
    {0.1, 0.0230, 0.046, 0.020, 0.06, -0.605, 0, 0},
};

// EllipsoidRadius with the cosine and sine of the ellipsoid's turn.
double TurnedRadius(const PhantomEllipsoid& e, double c, double s, double x, double y, double z) {
    const double dx = x - e.x0, dy = y - e.y0, dz = z - e.z0;
    // The point in the ellipsoid's own axes: turned back by its turn.
    const double u = (c * dx + s * dy) / e.sa, v = (-s * dx + c * dy) / e.sb, w = dz / e.sc;
    return std::sqrt(u * u + v * v + w * w);
}

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// The share of the voxel centred at (px, py, pz), half a voxel wide by
// (hx, hy, hz), that lies inside the ellipsoid. A voxel the surface misses
// is wholly in or out; one it crosses is sampled at 4 x 4 x 4 points, so
// that the thin shells of the phantom show no steps.
double ShareInside(const PhantomEllipsoid& e, double px, double py, double pz, double hx, double hy, double hz) {
    const double c = std::cos(e.turn * kDegree), s = std::sin(e.turn * kDegree);
    const auto radius = [&](double x, double y, double z) { return TurnedRadius(e, c, s, x, y, z); };
    const double reach = std::sqrt(hx * hx + hy * hy + hz * hz) / std::min({e.sa, e.sb, e.sc});
    const double r = radius(px, py, pz);
    if (r - reach > 1.0) return 0.0;
    if (r + reach < 1.0) return 1.0;
    constexpr int kSteps = 4;
    int inside = 0;
    for (int k = 0; k < kSteps; ++k)
        for (int j = 0; j < kSteps; ++j)
            for (int i = 0; i < kSteps; ++i) {
                const auto at = [&](int n, double h) { return (2.0 * n + 1.0 - kSteps) / kSteps * h; };
                inside += radius(px + at(i, hx), py + at(j, hy), pz + at(k, hz)) <= 1.0;
            }
    return static_cast<double>(inside) / (kSteps * kSteps * kSteps);
}

}  // namespace

std::span<const PhantomEllipsoid> PhantomEllipsoids() { return kPhantom; }

double EllipsoidRadius(const PhantomEllipsoid& e, double x, double y, double z) {
    return TurnedRadius(e, std::cos(e.turn * kDegree), std::sin(e.turn * kDegree), x, y, z);
}

bool IsKnownShape(const std::string& inShape) {
    return inShape == "sphere" || inShape == "ramp" || inShape == "phantom";
}

double ShapeValue(const std::string& shape, int x, int y, int z, int sx, int sy, int sz) {
    if (shape == "ramp") return sx > 1 ? double(x) / (sx - 1) : 0.0;
    if (shape == "phantom") {
        // Voxel i of n covers [2i/n - 1, 2(i + 1)/n - 1].
        double sum = 0.0;
        for (const PhantomEllipsoid& e : kPhantom) {
            sum += e.a * ShareInside(e, (2.0 * x + 1.0) / sx - 1.0, (2.0 * y + 1.0) / sy - 1.0,
                                     (2.0 * z + 1.0) / sz - 1.0, 1.0 / sx, 1.0 / sy, 1.0 / sz);
        }
        return std::clamp(sum, 0.0, 1.0);
    }
    const double dx = (x + 0.5) / sx - 0.5, dy = (y + 0.5) / sy - 0.5, dz = (z + 0.5) / sz - 0.5;
    const double r = 2.0 * std::sqrt(dx * dx + dy * dy + dz * dz);  // 0 at the centre, 1 at the faces
    if (r > 1.0) return 0.0;
    const double shell = std::exp(-std::pow((r - 0.8) / 0.06, 2.0));
    return std::min(1.0, 0.35 * (1.0 - r) + shell);
}

}  // namespace ulm3tools
