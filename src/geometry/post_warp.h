// Warps a mini-frustum's base plane (colour and up to two depth planes) into
// the frame's canvas on the host: scan-converts the convex screen polygon the
// mini-frustum covers and filters the base plane bilinearly at each covered
// pixel's projective position.
#pragma once

#include <cstdint>

#include "ulm3/fields.h"
#include "ulm3/matrix.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// Pixels up to 32 bits are one 32-bit word of four 8-bit channels; wider ones
// one 64-bit word of four 12-bit channels (bits 48..63 written 0). Depth is
// the low 24 bits of a 32-bit word.
class ULMPostWarp {
public:
    // inMatrix maps canvas pixel (x, y) to the homogeneous base-plane
    // position u = M[0][0] x + M[0][1] y + M[0][3], v from row 1, w from row
    // 3; the pixel read is (u / w, v / w). inGeometry holds the polygon's
    // corners in canvas pixels, in order around it. inFields is not
    // consulted. A canvas depth plane needs the matching base-plane plane;
    // null planes are skipped. Pixels are sampled at integer coordinates:
    // rows ceil(top) .. ceil(bottom) - 1, columns ceil(left) .. ceil(right)
    // - 1, so polygons that share an edge write each pixel once. A scanline
    // of which any part maps outside the base plane is not drawn.
    void WarpBasePlane(const void* inBasePlane, const uint32_t* inBasePlaneDepth0,
                       const uint32_t* inBasePlaneDepth1, int inBasePlaneWidth,
                       int inBasePlaneHeight, void* inCanvas, uint32_t* inCanvasDepth0,
                       uint32_t* inCanvasDepth1, int inCanvasWidth, int inCanvasHeight,
                       int inElementSize, const ULMFieldDescriptor* inFields,
                       const ULMVector2D* inGeometry, int inNumPoints, const ULMMatrix& inMatrix);

    // Fill canvas pixels ix .. istopx - 1 of the row that starts at pixel
    // index startOfLine; u, v, w belong to pixel ix and step by the increments.
    void FilterScanline32(float u, float v, float w, float uInc, float vInc, float wInc, int ix,
                          unsigned startOfLine, int istopx);
    void FilterScanline48(float u, float v, float w, float uInc, float vInc, float wInc, int ix,
                          unsigned startOfLine, int istopx);

    // Truncation toward zero, and the floor.
    static int FastFTOL(float x) { return static_cast<int>(x); }
    static unsigned FastPFTOL(float x) { return static_cast<unsigned>(x); }
    static int FastFloor(float x);
    static unsigned FastPFloor(float x) { return static_cast<unsigned>(FastFloor(x)); }

private:
    // The scanlines of the polygon of corners snapped to the grid, each
    // filtered from the base plane where it lies wholly on it.
    void FillPolygon(const ULMVector2D* inCorners, int inNumPoints, int inElementSize);
    template <class Pixel, int Bits>
    void FilterScanline(float u, float v, float w, float uInc, float vInc, float wInc, int ix,
                        unsigned startOfLine, int istopx);

    void* m_pCanvas = nullptr;
    uint32_t* m_pCanvasDepth0 = nullptr;
    uint32_t* m_pCanvasDepth1 = nullptr;
    int m_iCanvasWidth = 0;
    int m_iCanvasHeight = 0;
    const void* m_pBasePlane = nullptr;
    const uint32_t* m_pBasePlaneDepth0 = nullptr;
    const uint32_t* m_pBasePlaneDepth1 = nullptr;
    int m_iBasePlaneWidth = 0;
    int m_iBasePlaneHeight = 0;
    ULMMatrix m_matrix;
};

}  // namespace ulm3
