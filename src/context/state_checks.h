// Argument checks shared by the state objects and the context.
#pragma once

#include <cmath>
#include <initializer_list>

#include "ulm3/matrix.h"
#include "ulm3/vectors.h"

namespace ulm3 {

inline bool AllFinite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

inline bool IsFinite(const ULMVector3D& v) { return AllFinite({v.X(), v.Y(), v.Z()}); }
inline bool IsFinite(const ULMVector4D& v) { return AllFinite({v.X(), v.Y(), v.Z(), v.W()}); }

inline bool IsFinite(const ULMMatrix& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m[r][c])) return false;
    return true;
}

// A finite range inside [0, 1], min not above max.
inline bool IsUnitRange(double inMin, double inMax) {
    return AllFinite({inMin, inMax}) && inMin >= 0.0 && inMin <= inMax && inMax <= 1.0;
}

inline bool IsFraction(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

}  // namespace ulm3
