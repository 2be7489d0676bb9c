// Depth between a perspective frame and one mini-frustum: the frame keeps
// the camera's window depth, the board renders the mini-frustum with a depth
// linear along its rays from its near face to its far face.
#pragma once

#include <cstdint>

namespace ulm3 {

class PolygonST3H;

// Homogeneous z and w of the near and far corners of one mini-frustum,
// interpolated over its mini image, in single precision.
class ULMDepthDistortion {
public:
    static constexpr float kMaxDepth = 16777215.0f;

    // The corner the base plane starts from (inFlipMask) and its neighbours
    // along the mini image's columns and rows; inMiniWidth x inMiniHeight
    // pixels from corner to corner. inMinD..inMaxD is the mini-frustum's
    // share of the depth scale, inNear..inFar the camera's depth range.
    void Set(const PolygonST3H& inNearHom, const PolygonST3H& inFarHom, int inFlipMask, int inMiniWidth,
             int inMiniHeight, double inMinD, double inMaxD, double inNear, double inFar);

    // One 24-bit word of mini pixel (x, y): frame depth into the
    // mini-frustum's scale (every value), and back (0, nothing rendered,
    // stays 0). Results lie in 1..kMaxDepth; a degenerate pixel gets kMaxDepth.
    uint32_t In(int inX, int inY, uint32_t inWord) const;
    uint32_t Out(int inX, int inY, uint32_t inWord) const;

private:
    struct Plane {
        float base = 0, dX = 0, dY = 0;
        float At(int x, int y) const { return base + static_cast<float>(x) * dX + static_cast<float>(y) * dY; }
    };
    Plane mNearZ, mFarZ, mNearW, mFarW;
    float mNearZv = 0, mFarZv = kMaxDepth;
    float mScale = kMaxDepth * 0.5f, mOffset = kMaxDepth * 0.5f;
};

}  // namespace ulm3
