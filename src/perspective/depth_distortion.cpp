// Depth distortion of the perspective frame driver.
#include "perspective/depth_distortion.h"

#include <algorithm>
#include <cmath>

#include "geometry/polygons.h"

namespace ulm3 {
namespace {

uint32_t ToWord(float inDepth) {
    // NaN lands on the far limit, as a degenerate pixel does.
    if (std::isnan(inDepth)) return static_cast<uint32_t>(ULMDepthDistortion::kMaxDepth);
    return static_cast<uint32_t>(std::clamp(inDepth, 1.0f, ULMDepthDistortion::kMaxDepth));
}

}  // namespace

void ULMDepthDistortion::Set(const PolygonST3H& inNearHom, const PolygonST3H& inFarHom, int inFlipMask,
                             int inMiniWidth, int inMiniHeight, double inMinD, double inMaxD, double inNear,
                             double inFar) {
    // Pixel centres on integers: mini pixel 0 looks through the start
    // corner, pixel inMiniWidth through its neighbour along the columns.
    const int start = inFlipMask, alongX = inFlipMask ^ 3, alongY = inFlipMask ^ 1;
    const float w = static_cast<float>(std::max(inMiniWidth, 1)), h = static_cast<float>(std::max(inMiniHeight, 1));
    const auto plane = [&](float q0, float qx, float qy) { return Plane{q0, (qx - q0) / w, (qy - q0) / h}; };
    mNearZ = plane(float(inNearHom[start].z), float(inNearHom[alongX].z), float(inNearHom[alongY].z));
    mFarZ = plane(float(inFarHom[start].z), float(inFarHom[alongX].z), float(inFarHom[alongY].z));
    mNearW = plane(float(inNearHom[start].w), float(inNearHom[alongX].w), float(inNearHom[alongY].w));
    mFarW = plane(float(inFarHom[start].w), float(inFarHom[alongX].w), float(inFarHom[alongY].w));
    mNearZv = static_cast<float>(inMinD) * kMaxDepth;
    mFarZv = static_cast<float>(inMaxD) * kMaxDepth;
    mScale = static_cast<float>((inFar - inNear) * 0.5) * kMaxDepth;
    mOffset = static_cast<float>((inFar + inNear) * 0.5) * kMaxDepth;
}

uint32_t ULMDepthDistortion::In(int inX, int inY, uint32_t inWord) const {
    const float zs = (static_cast<float>(inWord & 0xFFFFFFu) - mOffset) / mScale;
    const float zn = mNearZ.At(inX, inY), zf = mFarZ.At(inX, inY);
    const float wn = mNearW.At(inX, inY), wf = mFarW.At(inX, inY);
    // Where along the pixel's ray, near face 0 to far face 1, the depth lies.
    const float div = (wf - wn) * zs - (zf - zn);
    return ToWord(div != 0.0f ? mNearZv + (zn - zs * wn) * (mFarZv - mNearZv) / div : kMaxDepth);
}

uint32_t ULMDepthDistortion::Out(int inX, int inY, uint32_t inWord) const {
    const uint32_t d = inWord & 0xFFFFFFu;
    if (d == 0) return inWord;
    const float t = (static_cast<float>(d) - mNearZv) / (mFarZv - mNearZv);
    const float zn = mNearZ.At(inX, inY), zf = mFarZ.At(inX, inY);
    const float wn = mNearW.At(inX, inY), wf = mFarW.At(inX, inY);
    const float div = (wf - wn) * t + wn;
    return ToWord(div != 0.0f ? (zn + (zf - zn) * t) / div * mScale + mOffset : kMaxDepth);
}

}  // namespace ulm3
