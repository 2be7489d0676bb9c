// The host warp of mini-frustum base planes into the perspective frame.
#include "geometry/post_warp.h"

#include <cmath>
#include <vector>

namespace ulm3 {

int ULMPostWarp::FastFloor(float x) {
    // Saturated, so a stray position cannot overflow the conversion.
    if (!(x > -1e9f)) return -1000000000;
    if (x > 1e9f) return 1000000000;
    const int i = static_cast<int>(x);
    return (x < 0.0f && static_cast<float>(i) != x) ? i - 1 : i;
}

namespace {

// One edge chain of the polygon, walked from the top corner downwards.
struct EdgeChain {
    const ULMVector2D* pts;
    int n;
    int step;
    int cur;
    bool newEdge = true;
    double slope = 0.0;
    double x = 0.0;

    int Next() const { return (cur + step + n) % n; }
    // x of the chain on scanline y (not above the polygon's bottom).
    double At(double y) {
        for (int moves = 0; moves < n && pts[Next()].Y() <= y; ++moves) {
            cur = Next();
            newEdge = true;
        }
        if (newEdge) {
            const ULMVector2D& a = pts[cur];
            const ULMVector2D& b = pts[Next()];
            const double dy = b.Y() - a.Y();
            slope = dy > 0.0 ? (b.X() - a.X()) / dy : 0.0;
            x = a.X() + (y - a.Y()) * slope;
            newEdge = false;
        } else {
            x += slope;
        }
        return x;
    }
};

// Every base-plane position of the span lies inside the plane.
bool SpanInside(float u, float v, float w, float uLast, float vLast, float wLast, float maxU,
                float maxV) {
    if (w > 0.0f) {
        return wLast > 0.0f && u >= 0.0f && v >= 0.0f && uLast >= 0.0f && vLast >= 0.0f &&
               u < maxU * w && v < maxV * w && uLast < maxU * wLast && vLast < maxV * wLast;
    }
    return w != 0.0f && wLast < 0.0f && u <= 0.0f && v <= 0.0f && uLast <= 0.0f &&
           vLast <= 0.0f && u > maxU * w && v > maxV * w && uLast > maxU * wLast &&
           vLast > maxV * wLast;
}

int Clamp(int i, int hi) { return i < 0 ? 0 : (i > hi ? hi : i); }

constexpr double kCornerGrid = 1024.0;

}  // namespace

void ULMPostWarp::WarpBasePlane(const void* inBasePlane, const uint32_t* inBasePlaneDepth0,
                                const uint32_t* inBasePlaneDepth1, int inBasePlaneWidth,
                                int inBasePlaneHeight, void* inCanvas, uint32_t* inCanvasDepth0,
                                uint32_t* inCanvasDepth1, int inCanvasWidth, int inCanvasHeight,
                                int inElementSize, const ULMFieldDescriptor* /*inFields*/,
                                const ULMVector2D* inGeometry, int inNumPoints,
                                const ULMMatrix& inMatrix) {
    m_pBasePlane = inBasePlane;
    m_pBasePlaneDepth0 = inBasePlaneDepth0;
    m_pBasePlaneDepth1 = inBasePlaneDepth1;
    m_iBasePlaneWidth = inBasePlaneWidth;
    m_iBasePlaneHeight = inBasePlaneHeight;
    m_pCanvas = inCanvas;
    m_pCanvasDepth0 = inCanvasDepth0;
    m_pCanvasDepth1 = inCanvasDepth1;
    m_iCanvasWidth = inCanvasWidth;
    m_iCanvasHeight = inCanvasHeight;
    m_matrix = inMatrix;

    // A depth plane without its source, or colour without both ends, is
    // skipped rather than read through null.
    if (!m_pBasePlane || !m_pCanvas) m_pBasePlane = nullptr;
    if (!m_pBasePlaneDepth0) m_pCanvasDepth0 = nullptr;
    if (!m_pBasePlaneDepth1) m_pCanvasDepth1 = nullptr;
    if (!inGeometry || inNumPoints < 3 || inCanvasWidth <= 0 || inCanvasHeight <= 0 ||
        inBasePlaneWidth <= 0 || inBasePlaneHeight <= 0)
        return;
    // Corners on a grid of 1/1024 pixel: neighbouring mini-frustums compute
    // the edge they share each on its own, a rounding error apart, and the
    // fill rule gives a pixel centre on that edge to exactly one of them
    // only when both see the same edge.
    std::vector<ULMVector2D> corners(inGeometry, inGeometry + inNumPoints);
    for (ULMVector2D& c : corners) {
        if (!std::isfinite(c.X()) || !std::isfinite(c.Y())) return;
        c = ULMVector2D(std::round(c.X() * kCornerGrid) / kCornerGrid, std::round(c.Y() * kCornerGrid) / kCornerGrid);
    }
    FillPolygon(corners.data(), inNumPoints, inElementSize);
}

void ULMPostWarp::FillPolygon(const ULMVector2D* inCorners, int inNumPoints, int inElementSize) {
    int top = 0;
    int bottom = 0;
    for (int i = 0; i < inNumPoints; ++i) {
        if (inCorners[i].Y() < inCorners[top].Y()) top = i;
        if (inCorners[i].Y() > inCorners[bottom].Y()) bottom = i;
    }

    double y = std::ceil(std::fmax(inCorners[top].Y(), 0.0));
    const double lastY = std::fmin(std::ceil(std::fmax(inCorners[bottom].Y(), 0.0)), m_iCanvasHeight);
    if (y >= lastY) return;
    int iY = static_cast<int>(y);
    const int iMaxY = static_cast<int>(lastY);
    const float maxX = static_cast<float>(m_iCanvasWidth);
    const float maxU = static_cast<float>(m_iBasePlaneWidth);
    const float maxV = static_cast<float>(m_iBasePlaneHeight);

    // The way the left chain runs follows the polygon's winding. A clipped
    // tile may repeat a corner, or put one on the line between two others,
    // right beside the top corner, where the corners around it would tell
    // nothing; the signed area over all of them always tells.
    double area = 0.0;
    for (int i = 0; i < inNumPoints; ++i) {
        const ULMVector2D& a = inCorners[i];
        const ULMVector2D& b = inCorners[(i + 1) % inNumPoints];
        area += a.X() * b.Y() - b.X() * a.Y();
    }
    const int leftStep = area > 0.0 ? -1 : 1;
    EdgeChain left{inCorners, inNumPoints, leftStep, top};
    EdgeChain right{inCorners, inNumPoints, -leftStep, top};

    const ULMMatrix& M = m_matrix;
    const float dux = float(M[0][0]), duy = float(M[0][1]), cu = float(M[0][3]);
    const float dvx = float(M[1][0]), dvy = float(M[1][1]), cv = float(M[1][3]);
    const float dwx = float(M[3][0]), dwy = float(M[3][1]), cw = float(M[3][3]);

    for (; iY < iMaxY; ++iY, y += 1.0) {
        const double xL = left.At(y);
        const double xR = right.At(y);
        const float xFirst = std::fmax(float(std::ceil(xL)), 0.0f);
        const float xLast = std::fmin(float(std::ceil(xR)), maxX);
        if (!(xFirst < xLast)) continue;
        const float fy = float(y);
        const float u = dux * xFirst + duy * fy + cu;
        const float v = dvx * xFirst + dvy * fy + cv;
        const float w = dwx * xFirst + dwy * fy + cw;
        const float span = xLast - xFirst - 1.0f;
        if (!SpanInside(u, v, w, u + span * dux, v + span * dvx, w + span * dwx, maxU, maxV))
            continue;
        const int iXFirst = FastFTOL(xFirst);
        const int iXLast = FastFTOL(xLast);
        const unsigned startOfLine = unsigned(iY) * unsigned(m_iCanvasWidth);
        if (inElementSize > 32) {
            FilterScanline48(u, v, w, dux, dvx, dwx, iXFirst, startOfLine, iXLast);
        } else {
            FilterScanline32(u, v, w, dux, dvx, dwx, iXFirst, startOfLine, iXLast);
        }
    }
}

void ULMPostWarp::FilterScanline32(float u, float v, float w, float uInc, float vInc, float wInc,
                                   int ix, unsigned startOfLine, int istopx) {
    FilterScanline<uint32_t, 8>(u, v, w, uInc, vInc, wInc, ix, startOfLine, istopx);
}

void ULMPostWarp::FilterScanline48(float u, float v, float w, float uInc, float vInc, float wInc,
                                   int ix, unsigned startOfLine, int istopx) {
    FilterScanline<uint64_t, 12>(u, v, w, uInc, vInc, wInc, ix, startOfLine, istopx);
}

template <class Pixel, int Bits>
void ULMPostWarp::FilterScanline(float u, float v, float w, float uInc, float vInc, float wInc,
                                 int ix, unsigned startOfLine, int istopx) {
    const Pixel* base = static_cast<const Pixel*>(m_pBasePlane);
    Pixel* canvas = static_cast<Pixel*>(m_pCanvas);
    const uint32_t* baseDepth[2] = {m_pBasePlaneDepth0, m_pBasePlaneDepth1};
    uint32_t* canvasDepth[2] = {m_pCanvasDepth0, m_pCanvasDepth1};
    const int lastX = m_iBasePlaneWidth - 1;
    const int lastY = m_iBasePlaneHeight - 1;
    const unsigned stride = unsigned(m_iBasePlaneWidth);
    constexpr Pixel kMask = (Pixel(1) << Bits) - 1;

    float xd = u / w;
    float yd = v / w;
    for (; ix < istopx; ++ix) {
        const int x0 = FastFloor(xd);
        const int y0 = FastFloor(yd);
        const float fx = xd - float(x0);
        const float fy = yd - float(y0);
        u += uInc;
        v += vInc;
        w += wInc;
        xd = u / w;
        yd = v / w;

        const uint32_t wx1 = FastPFTOL(fx * 1024.0f), wx0 = 1024 - wx1;
        const uint32_t wy1 = FastPFTOL(fy * 1024.0f), wy0 = 1024 - wy1;
        // Neighbours past the plane's last row or column read the edge: the
        // span test admits positions up to the plane's far edge.
        const unsigned cx0 = unsigned(Clamp(x0, lastX)), cx1 = unsigned(Clamp(x0 + 1, lastX));
        const unsigned cy0 = unsigned(Clamp(y0, lastY)), cy1 = unsigned(Clamp(y0 + 1, lastY));
        const unsigned at[4] = {cy0 * stride + cx0, cy0 * stride + cx1, cy1 * stride + cx0,
                                cy1 * stride + cx1};
        const uint32_t weight[4] = {wx0 * wy0, wx1 * wy0, wx0 * wy1, wx1 * wy1};
        const unsigned out = startOfLine + unsigned(ix);

        if (base) {
            Pixel result = 0;
            for (int c = 0; c < 4; ++c) {
                uint32_t sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += uint32_t((base[at[k]] >> (c * Bits)) & kMask) * weight[k];
                result |= Pixel(sum >> 20) << (c * Bits);
            }
            canvas[out] = result;
        }
        for (int p = 0; p < 2; ++p) {
            if (!canvasDepth[p]) continue;
            // Depth 0 means nothing was rendered there: such neighbours take
            // no part, so an object's rim is not pulled towards the eye.
            uint64_t sum = 0;
            uint64_t weights = 0;
            for (int k = 0; k < 4; ++k) {
                const uint32_t d = baseDepth[p][at[k]] & 0xFFFFFFu;
                if (d == 0) continue;
                sum += uint64_t(d) * weight[k];
                weights += weight[k];
            }
            if (weights != 0) canvasDepth[p][out] = uint32_t(sum / weights);
        }
    }
}

}  // namespace ulm3
