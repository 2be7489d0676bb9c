// The reference render: plain geometry and compositing in doubles, with
// nothing taken from the library's render engine.
#include "support/render_reference.h"

#include <algorithm>
#include <cmath>

namespace ulm3::test_support {
namespace {

using RGBA = std::array<double, 4>;

double Voxel(const ReferenceScene& s, int x, int y, int z) {
    if (x < 0 || y < 0 || z < 0 || x >= s.size[0] || y >= s.size[1] || z >= s.size[2]) return 0.0;
    return s.voxels[(static_cast<size_t>(z) * s.size[1] + y) * s.size[0] + x] / 255.0;
}

double Trilinear(const ReferenceScene& s, const double p[3]) {
    const int i = static_cast<int>(std::floor(p[0])), j = static_cast<int>(std::floor(p[1])),
              k = static_cast<int>(std::floor(p[2]));
    const double fx = p[0] - i, fy = p[1] - j, fz = p[2] - k;
    double v = 0.0;
    for (int c = 0; c < 8; ++c) {
        const int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1;
        const double w = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy) * (dz ? fz : 1 - fz);
        if (w > 0.0) v += w * Voxel(s, i + dx, j + dy, k + dz);
    }
    return v;
}

// Each voxel owns the cell of half a voxel around its centre.
bool Inside(const ReferenceScene& s, const double p[3]) {
    for (int a = 0; a < 3; ++a) {
        const double q = std::floor(p[a] * 256.0) / 256.0;
        if (q < -0.5 || q > s.size[a] - 0.5 - 1.0 / 256.0) return false;
    }
    return true;
}

RGBA Blend(int mode, const RGBA& acc, const RGBA& in) {
    RGBA r = acc;
    const double a = in[3];
    switch (mode) {
        case 2:
            for (int c = 0; c < 3; ++c) r[c] = a * in[c] + (1 - a) * acc[c];
            r[3] = a + (1 - a) * acc[3];
            break;
        case 3:
            for (int c = 0; c < 3; ++c) r[c] = in[c] + (1 - a) * acc[c];
            r[3] = a + (1 - a) * acc[3];
            break;
        case 4:
            for (int c = 0; c < 3; ++c) r[c] = acc[c] + (1 - acc[3]) * in[c] * a;
            r[3] = acc[3] + (1 - acc[3]) * a;
            break;
        case 5:
            for (int c = 0; c < 3; ++c) r[c] = acc[c] + (1 - acc[3]) * in[c];
            r[3] = acc[3] + (1 - acc[3]) * a;
            break;
        case 12:
            if (in[0] > acc[0]) r = in;
            break;
        default: break;
    }
    return r;
}

}  // namespace

std::vector<RGBA> ReferenceRender(const ReferenceScene& s, int inWidth, int inHeight) {
    const int vx = s.viewport[0], vy = s.viewport[1], vw = s.viewport[2], vh = s.viewport[3];
    const ULMMatrix toPixels((vw - 1) / 2.0, 0, 0, (vw - 1) / 2.0 + vx, 0, (vh - 1) / 2.0, 0,
                             (vh - 1) / 2.0 + vy, 0, 0, 0.5, 0.5, 0, 0, 0, 1);
    const ULMMatrix inverse = (toPixels * s.projection * s.view * s.model).Inverse();
    // Window z grows away from the eye: so does the ray parameter.
    const double d[3] = {inverse[0][2], inverse[1][2], inverse[2][2]};
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(d[a]) > std::fabs(d[axis])) axis = a;

    std::vector<RGBA> image(static_cast<size_t>(inWidth) * inHeight, RGBA{0, 0, 0, 0});
    const double lo = -0.5, hi = s.size[axis] - 0.5 - 1.0 / 256.0;
    const int mFirst = static_cast<int>(std::ceil(lo * s.k)), mLast = static_cast<int>(std::floor(hi * s.k));
    const bool backToFront = s.blendMode == 2 || s.blendMode == 3;
    for (int y = std::max(vy, 0); y < std::min(vy + vh, inHeight); ++y) {
        for (int x = std::max(vx, 0); x < std::min(vx + vw, inWidth); ++x) {
            double origin[3];
            for (int a = 0; a < 3; ++a) origin[a] = inverse[a][0] * x + inverse[a][1] * y + inverse[a][3];
            // The plane crossings in the order the ray meets them.
            std::vector<double> ts;
            for (int m = mFirst; m <= mLast; ++m) ts.push_back((double(m) / s.k - origin[axis]) / d[axis]);
            std::sort(ts.begin(), ts.end());
            if (backToFront) std::reverse(ts.begin(), ts.end());
            RGBA acc{0, 0, 0, 0};
            for (const double t : ts) {
                double p[3];
                for (int a = 0; a < 3; ++a) p[a] = origin[a] + t * d[a];
                p[axis] = std::round(p[axis] * s.k) / s.k;
                if (!Inside(s, p)) continue;
                const double v = Trilinear(s, p);
                const int index = static_cast<int>(std::floor(v * 65535.0 + 0.5)) >> 8;
                RGBA in = s.table[std::clamp(index, 0, 255)];
                in[3] = 1.0 - std::pow(1.0 - in[3], 1.0 / s.k);
                acc = Blend(s.blendMode, acc, in);
            }
            for (double& c : acc) c = std::clamp(c, 0.0, 1.0);  // as the image stores it
            image[static_cast<size_t>(y) * inWidth + x] = acc;
        }
    }
    return image;
}

}  // namespace ulm3::test_support
