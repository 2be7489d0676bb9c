// Whether numbers, vectors and matrices are finite: the check every value
// object runs before it stores what an application hands it.
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

}  // namespace ulm3
