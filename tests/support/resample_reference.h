// The host reference of the board's resampling, shared by the resample
// passes' tests: steps and first positions kept to 17 fraction bits, centre
// on centre, positions resolved to 1/256, then linear on each axis.
#pragma once

#include <cmath>

namespace ulm3::testing {

struct RefAxis {
    double step, origin;  // source pixels, 17 fraction bits as the passes keep them
    double At(int i) const { return std::floor((origin + i * step) * 256.0) / 256.0; }
};

// inStep 0: the ratio of the sizes.
inline RefAxis RefAxisOf(int sourceOrigin, int sourceSize, int destinationOrigin, int destinationSize,
                         double inStep = 0) {
    auto keep17 = [](double v) { return std::floor(v * 131072.0) / 131072.0; };
    const double s = keep17(inStep != 0 ? inStep : double(sourceSize) / destinationSize);
    return {s, keep17(((sourceSize - 1) - (destinationSize - 1) * s) * 0.5 + sourceOrigin - destinationOrigin * s)};
}

template <class At>
double RefLinear(At at, double position) {
    const int i = static_cast<int>(std::floor(position));
    const double f = position - i;
    return f == 0 ? at(i) : at(i) * (1 - f) + at(i + 1) * f;
}

// Output (x, y, z) from at(u, v, w) of the source; a 2-D pass has z 0 and
// az {1, 0}.
template <class At>
double RefSample(At at, const RefAxis& ax, const RefAxis& ay, const RefAxis& az, int x, int y, int z) {
    return RefLinear([&](int w) {
        return RefLinear([&](int v) { return RefLinear([&](int u) { return at(u, v, w); }, ax.At(x)); }, ay.At(y));
    }, az.At(z));
}

}  // namespace ulm3::testing
