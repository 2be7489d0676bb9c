// Base planes drawn into ulm3_render's picture: the road for the views whose
// footprint the chip cannot subsample.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "ulm3.h"

namespace ulm3_render {

using namespace ulm3;

// Draws base planes into a square RGBA8 picture the way a texture-mapping
// program would: every picture pixel inside the hexagon reads the plane,
// bilinear, at the point the hexagon's affine map gives it.
class PictureGraphics : public ULMGraphicsContext {
public:
    explicit PictureGraphics(std::vector<uint32_t>& ioPixels, unsigned inSize) : m_pixels(ioPixels), m_size(inSize) {}

    ULMStatus DrawBasePlane(const ULMBasePlaneInfo& in) override {
        if (in.pixelFormat != kULMPixelFormatRGBA8 || in.numberOfVertices < 3) return kULMErrArgument;
        // The widest triangle of the hexagon gives the map most precisely.
        int best[3] = {0, 1, 2};
        double area = 0.0;
        for (int i = 0; i < in.numberOfVertices; ++i)
            for (int j = i + 1; j < in.numberOfVertices; ++j)
                for (int k = j + 1; k < in.numberOfVertices; ++k) {
                    const double a = std::fabs(Cross(in.hexagon[i], in.hexagon[j], in.hexagon[k]));
                    if (a > area) area = a, best[0] = i, best[1] = j, best[2] = k;
                }
        if (area <= 0.0) return kULMErrArgument;
        const ULMVector2D &p0 = in.hexagon[best[0]], &p1 = in.hexagon[best[1]], &p2 = in.hexagon[best[2]];
        const ULMVector2D &t0 = in.texCoords[best[0]], &t1 = in.texCoords[best[1]], &t2 = in.texCoords[best[2]];
        const double det = Cross(p0, p1, p2);
        for (unsigned y = 0; y < m_size; ++y) {
            for (unsigned x = 0; x < m_size; ++x) {
                const ULMVector2D q(x, y);
                if (!Inside(in, q)) continue;
                const double b1 = Cross(p0, q, p2) / det, b2 = Cross(p0, p1, q) / det;
                const double u = (t0[0] + b1 * (t1[0] - t0[0]) + b2 * (t2[0] - t0[0])) * in.imageWidth;
                const double v = (t0[1] + b1 * (t1[1] - t0[1]) + b2 * (t2[1] - t0[1])) * in.imageHeight;
                m_pixels[static_cast<size_t>(y) * m_size + x] = Bilinear(in, u, v);
            }
        }
        return kULMOK;
    }

private:
    // Twice the signed area of (a, b, c).
    static double Cross(const ULMVector2D& a, const ULMVector2D& b, const ULMVector2D& c) {
        return (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
    }
    // The hexagon runs counter-clockwise; a point on its edge is inside.
    static bool Inside(const ULMBasePlaneInfo& in, const ULMVector2D& q) {
        for (int i = 0; i < in.numberOfVertices; ++i)
            if (Cross(in.hexagon[i], in.hexagon[(i + 1) % in.numberOfVertices], q) < -1e-9) return false;
        return true;
    }
    static uint32_t Bilinear(const ULMBasePlaneInfo& in, double u, double v) {
        const auto* texels = static_cast<const uint32_t*>(in.pixels);
        const double fu = u - std::floor(u), fv = v - std::floor(v);
        const long u0 = std::lround(u - fu), v0 = std::lround(v - fv);
        auto at = [&](long i, long j, int c) -> double {
            const bool inPlane = i >= 0 && j >= 0 && i < in.basePlaneWidth && j < in.basePlaneHeight;
            return inPlane ? (texels[j * in.imageWidth + i] >> (8 * c)) & 255 : 0.0;
        };
        uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            const double value = (1 - fv) * ((1 - fu) * at(u0, v0, c) + fu * at(u0 + 1, v0, c)) +
                                 fv * ((1 - fu) * at(u0, v0 + 1, c) + fu * at(u0 + 1, v0 + 1, c));
            out |= static_cast<uint32_t>(std::lround(value)) << (8 * c);
        }
        return out;
    }

    std::vector<uint32_t>& m_pixels;
    unsigned m_size;
};

}  // namespace ulm3_render
