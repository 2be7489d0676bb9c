// The small value types of the perspective geometry: points, a linear form in
// two variables and the homogeneous plane.
#pragma once

namespace ulm3 {

struct Point2D {
    double x = 0.0;
    double y = 0.0;
};

struct Point2Di {
    int x = 0;
    int y = 0;
};

// Also used as a per-axis factor triple.
struct Point3D {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// The form x * X + y * Y + c in the two variables X, Y.
struct Linear2D {
    double x = 0.0;
    double y = 0.0;
    double c = 0.0;

    double operator()(double X, double Y) const { return x * X + y * Y + c; }
};

}  // namespace ulm3
