// The reference render: plain geometry and compositing in doubles, with
// nothing taken from the library's render engine.
#include "support/render_reference.h"

#include <algorithm>
#include <cmath>

namespace ulm3::test_support {
namespace {

using RGBA = std::array<double, 4>;

double Voxel(const ReferenceScene& s, int x, int y, int z) {
    return x >= 0 && y >= 0 && z >= 0 && x < s.size[0] && y < s.size[1] && z < s.size[2]
               ? s.voxels[(size_t(z) * s.size[1] + y) * s.size[0] + x] / 255.0
               : 0.0;
}

// Trilinear over the voxels, 0 beyond them; nothing outside the cells of
// half a voxel around the voxel centres (at the 1/256 resolution of the grid).
// The gradient interpolates the voxels' central differences alike, those of
// the voxels just beyond the volume included.
bool Sample(const ReferenceScene& s, const double p[3], double& out, double g[3]) {
    out = g[0] = g[1] = g[2] = 0.0;
    for (int a = 0; a < 3; ++a)
        if (std::floor(p[a] * 256) / 256 < -0.5 || std::floor(p[a] * 256) / 256 > s.size[a] - 0.5 - 1.0 / 256)
            return false;
    for (int c = 0; c < 8; ++c) {
        int v[3];
        double w = 1.0;
        for (int a = 0; a < 3; ++a) {
            v[a] = static_cast<int>(std::floor(p[a])) + ((c >> a) & 1);
            w *= std::fabs(1 - ((c >> a) & 1) - (p[a] - std::floor(p[a])));
        }
        if (w <= 0) continue;
        out += w * Voxel(s, v[0], v[1], v[2]);
        for (int a = 0; a < 3; ++a)
            g[a] += w *
                    (Voxel(s, v[0] + (a == 0), v[1] + (a == 1), v[2] + (a == 2)) -
                     Voxel(s, v[0] - (a == 0), v[1] - (a == 1), v[2] - (a == 2))) /
                    2;
    }
    return true;
}

// Crop groups AND their axes' slabs, invert, combine by AND or OR, invert; then the cut planes.
bool Clipped(const ReferenceScene& s, const double p[3]) {
    bool any = false, all = true, active = false;
    for (int g = 0; g < 3; ++g) {
        const unsigned bits = s.cropFlags >> (4 * g);
        if ((bits & 7) == 0) continue;
        active = true;
        bool in = true;
        for (int a = 0; a < 3; ++a)
            if ((bits >> a) & 1)
                in = in && s.cropSlabs[2 * a] <= std::floor(p[a] * 256) / 256 &&
                     std::floor(p[a] * 256) / 256 <= s.cropSlabs[2 * a + 1];
        in = in != ((bits & 8) != 0);
        any = any || in;
        all = all && in;
    }
    if (active && ((s.cropFlags >> 12 & 1) ? any : all) == ((s.cropFlags >> 13 & 1) != 0)) return true;
    for (const ReferenceScene::Cut& c : s.cuts) {
        double w = 0;
        for (int r = 0; r < 4; ++r)
            w += c.plane[r] * (s.model[r][0] * p[0] + s.model[r][1] * p[1] + s.model[r][2] * p[2] + s.model[r][3]);
        if ((c.min <= w && w <= c.max) != c.keepInside) return true;
    }
    return false;
}

RGBA Blend(int mode, RGBA acc, const RGBA& in) {
    const double a = in[3], keep = 1 - acc[3];
    for (int c = 0; c < 3 && mode >= 2 && mode <= 5; ++c)
        acc[c] = mode == 2   ? a * in[c] + (1 - a) * acc[c]
                 : mode == 3 ? in[c] + (1 - a) * acc[c]
                 : mode == 4 ? acc[c] + keep * in[c] * a
                             : acc[c] + keep * in[c];
    if (mode == 2 || mode == 3) acc[3] = a + (1 - a) * acc[3];
    if (mode == 4 || mode == 5) acc[3] += keep * a;
    if (mode == 12 && in[0] > acc[0]) acc = in;
    return acc;
}

// Whether a sample passes update filter f (3 none): its facing, alpha, accumulated alpha and squared magnitude (in
// 1/511 steps).
bool Qualifies(const ReferenceScene& s, int f, bool front, double alpha, double accum, double q2) {
    const auto in = [](double v, const std::array<double, 2>& r) {
        return std::round(r[0] * 4095) <= std::round(v * 4095) && std::round(v * 4095) <= std::round(r[1] * 4095);
    };
    return f != 3 && !((f & 1) && front) && !((f & 2) && !front) && (!(f & 8) || in(alpha, s.sampleAlpha)) &&
           (!(f & 16) || in(accum, s.accumAlpha)) &&
           (!(f & 4) || (std::round(s.magnitude[0] * s.magnitude[0] * 511 * 511) <= q2 &&
                         (s.magnitude[1] >= 1 || q2 <= std::round(s.magnitude[1] * s.magnitude[1] * 511 * 511))));
}

}  // namespace

std::vector<RGBA> ReferenceRender(const ReferenceScene& s, int inWidth, int inHeight) {
    const int vx = s.viewport[0], vy = s.viewport[1], vw = s.viewport[2], vh = s.viewport[3];
    const ULMMatrix toPixels((vw - 1) / 2.0, 0, 0, (vw - 1) / 2.0 + vx, 0, (vh - 1) / 2.0, 0, (vh - 1) / 2.0 + vy, 0, 0,
                             0.5, 0.5, 0, 0, 0, 1);
    const ULMMatrix forward = toPixels * s.projection * s.model, inverse = forward.Inverse(),
                    normals = s.model.Inverse();
    // Window z grows away from the eye: so does the ray parameter. A perspective camera's rays run from the near
    // plane (t = 0) to the far one (t = 1), each stepping along its own principal axis.
    const bool perspective = IsPerspectiveMatrix(s.projection);
    double d[3], eye[3], eye9[3];
    int axis = 0;
    const auto aim = [&](const double (&inDirection)[3]) {
        std::copy(inDirection, inDirection + 3, d);
        const ULMVector4D e = s.model * ULMVector4D(-d[0], -d[1], -d[2], 0);  // towards the eye
        // eye9 as the chip compares facing with it: in volume axes, in 1/511
        const double el = std::hypot(e[0], e[1], e[2]), dl = std::hypot(d[0], d[1], d[2]);
        for (int a = 0; a < 3; ++a) eye[a] = e[a] / el, eye9[a] = std::round(-d[a] / dl * 511);
        axis = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(d[a]) > std::fabs(d[axis])) axis = a;
    };
    const auto unproject = [&](double x, double y, double z, double (&out)[3]) {
        const ULMVector4D p = inverse * ULMVector4D(x, y, z, 1);
        for (int a = 0; a < 3; ++a) out[a] = p[a] / p[3];
    };
    if (!perspective) aim({inverse[0][2], inverse[1][2], inverse[2][2]});
    std::vector<RGBA> image(static_cast<size_t>(inWidth) * inHeight, RGBA{0, 0, 0, 0});
    s.depthOut.assign(image.size(), {0xFFFFFF, 0xFFFFFF});
    for (int y = std::max(vy, 0); y < std::min(vy + vh, inHeight); ++y) {
        for (int x = std::max(vx, 0); x < std::min(vx + vw, inWidth); ++x) {
            // The depth tests' references, and the depths as the filters update them.
            const double ref[2] = {s.depthIn[0].empty() ? 16777215.0 : s.depthIn[0][size_t(y) * inWidth + x],
                                   s.depthIn[1].empty() ? 16777215.0 : s.depthIn[1][size_t(y) * inWidth + x]};
            double out[2] = {ref[0], ref[1]};
            double nearest = 1e300, farthest = -1e300;
            double origin[3];
            for (int a = 0; a < 3; ++a) origin[a] = inverse[a][0] * x + inverse[a][1] * y + inverse[a][3];
            if (perspective) {
                double far[3], ray[3];
                unproject(x, y, 0, origin);
                unproject(x, y, 1, far);
                for (int a = 0; a < 3; ++a) ray[a] = far[a] - origin[a];
                aim(ray);
            }
            // The planes in the order the ray meets them; back to front in modes 2 and 3.
            std::vector<int> planes;
            for (int m = int(std::ceil(-0.5 * s.k)); m <= (s.size[axis] - 0.5 - 1.0 / 256) * s.k; ++m)
                planes.push_back(m);
            if ((d[axis] < 0) != (s.blendMode == 2 || s.blendMode == 3)) std::reverse(planes.begin(), planes.end());
            RGBA acc{0, 0, 0, 0};
            for (const int m : planes) {
                if ((s.blendMode == 4 || s.blendMode == 5) && acc[3] >= s.termination) break;
                const double t = (double(m) / s.k - origin[axis]) / d[axis];
                if (perspective && (t < 0 || t > 1)) continue;
                double p[3], v = 0, g[3];
                for (int a = 0; a < 3; ++a) p[a] = a == axis ? double(m) / s.k : origin[a] + t * d[a];
                if (!Sample(s, p, v, g) || Clipped(s, p)) continue;
                const double w = forward[3][0] * p[0] + forward[3][1] * p[1] + forward[3][2] * p[2] + forward[3][3];
                const double z = std::clamp(
                    std::floor((forward[2][0] * p[0] + forward[2][1] * p[1] + forward[2][2] * p[2] + forward[2][3]) /
                               w * 16777215),
                    0.0, 16777215.0);
                const auto pass = [&](int i) {
                    return std::array<bool, 8>{false, z<ref[i], z <= ref[i], z == ref[i], z >= ref[i], z> ref[i],
                                               z != ref[i], true}[s.depthTest[i]];
                };
                if (s.combine != 0 && !(s.combine == 1   ? pass(0) && pass(1)
                                        : s.combine == 2 ? pass(0) || pass(1)
                                                         : pass(0) != pass(1)))
                    continue;
                RGBA in = s.table[std::clamp(static_cast<int>(std::floor(v * 65535.0 + 0.5)) >> 8, 0, 255)];
                // Opacity per slice where samples are integrated (modes 2 to 6); a pre-weighted colour scales
                // with it, as d = 1 / k at alpha 0.
                if (s.blendMode >= 2 && s.blendMode <= 6) {
                    const double raw = in[3];
                    in[3] = 1.0 - std::pow(1.0 - raw, 1.0 / s.k);
                    if (s.blendMode == 3 || s.blendMode == 5)
                        for (int c = 0; c < 3; ++c) in[c] *= raw > 0 ? in[3] / raw : 1.0 / s.k;
                }
                double n[3], length = 0, lit = 0, shine = 0;  // the normal maps like a plane's coefficients
                for (int a = 0; a < 3; ++a)
                    n[a] = -(normals[0][a] * g[0] + normals[1][a] * g[1] + normals[2][a] * g[2]), length += n[a] * n[a];
                const double g9[3] = {std::round(g[0] * 511), std::round(g[1] * 511), std::round(g[2] * 511)};
                const double q2 = g9[0] * g9[0] + g9[1] * g9[1] + g9[2] * g9[2];
                const double facing = q2 > 0 ? (n[0] * eye[0] + n[1] * eye[1] + n[2] * eye[2]) / std::sqrt(length) : 0;
                const bool front = g9[0] * eye9[0] + g9[1] * eye9[1] + g9[2] * eye9[2] < 0;
                for (const auto& l : s.lights) {  // specular at R = 2 (N.E) N - E
                    const double ll = std::hypot(l[0], l[1], l[2]);
                    const double cosine =
                        q2 > 0 ? (n[0] * l[0] + n[1] * l[1] + n[2] * l[2]) / std::sqrt(length) / ll : 0;
                    const double rl = 2 * facing * cosine - (eye[0] * l[0] + eye[1] * l[1] + eye[2] * l[2]) / ll;
                    lit += l[3] * (s.lightMode == 2 ? std::max(0.0, cosine) : std::fabs(cosine));
                    if (q2 > 0 && (s.lightMode == 0 || front)) shine += l[3] * std::pow(std::max(0.0, rl), s.exponent);
                }
                const double q = std::sqrt(q2);
                if (s.modulateOpacity) in[3] *= std::floor(std::min(4095.0, std::floor(q * 4095 / 511)) / 64) / 63;
                for (int c = 0; c < 3 && !s.lights.empty(); ++c)
                    in[c] = in[c] * (s.emissive + s.diffuse * std::min(lit, 1.0)) + s.specular * std::min(shine, 1.0);
                if (Qualifies(s, s.filter[0], front, in[3], acc[3], q2) && t < nearest) {
                    nearest = t;
                    out[0] = z;
                }
                if (Qualifies(s, s.filter[1], front, in[3], acc[3], q2) && t > farthest) {
                    farthest = t;
                    out[1] = z;
                }
                acc = Blend(s.blendMode, acc, in);
            }
            for (double& c : acc) c = std::clamp(c, 0.0, 1.0);  // as the image stores it
            image[static_cast<size_t>(y) * inWidth + x] = acc;
            s.depthOut[size_t(y) * inWidth + x] = {uint32_t(out[0]), uint32_t(out[1])};
        }
    }
    return image;
}

}  // namespace ulm3::test_support
