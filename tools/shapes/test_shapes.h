// The synthetic volumes the tools and benchmarks make: a soft ball, a ramp
// and the 3-D Shepp-Logan head phantom, as values in 0..1 per voxel.
#pragma once

#include <span>
#include <string>

namespace ulm3tools {

// One ellipsoid of the head phantom: its intensity, its semi-axes along its
// own x, y and z, its centre, and its turn about z (phi + psi; theta is 0
// for all ten) in degrees; in the cube [-1, 1]^3 the phantom fills.
struct PhantomEllipsoid {
    double a, sa, sb, sc, x0, y0, z0, turn;
};

// The ten ellipsoids, with the intensities modified for contrast: each adds
// its intensity to every point inside it.
std::span<const PhantomEllipsoid> PhantomEllipsoids();

// The point's distance from the ellipsoid's centre in units of its own
// semi-axes: at most 1 inside.
double EllipsoidRadius(const PhantomEllipsoid& inEllipsoid, double inX, double inY, double inZ);

// Whether ShapeValue knows the shape's name ("sphere", "ramp", "phantom").
bool IsKnownShape(const std::string& inShape);

// The value in 0..1 of voxel (x, y, z) of an sx x sy x sz volume of the
// shape; an unknown name gives the sphere.
double ShapeValue(const std::string& inShape, int x, int y, int z, int sx, int sy, int sz);

}  // namespace ulm3tools
