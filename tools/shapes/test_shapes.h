// The synthetic volumes the tools and benchmarks make: a soft ball, a ramp
// and the 3-D Shepp-Logan head phantom, as values in 0..1 per voxel.
#pragma once

#include <string>

namespace ulm3tools {

// Whether ShapeValue knows the shape's name ("sphere", "ramp", "phantom").
bool IsKnownShape(const std::string& inShape);

// The value in 0..1 of voxel (x, y, z) of an sx x sy x sz volume of the
// shape; an unknown name gives the sphere.
double ShapeValue(const std::string& inShape, int x, int y, int z, int sx, int sy, int sz);

}  // namespace ulm3tools
