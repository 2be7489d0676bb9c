// What an application's drawing code receives of a rendered base plane, and
// the interface through which the context hands one over.
#pragma once
#include "ulm3/pixel_format.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// A base plane in host memory: the volume seen along the rays, sheared so
// that one pixel is one voxel step at any zoom. The image rows are
// imageWidth pixels long; the rendered part is the basePlaneWidth x
// basePlaneHeight corner at the origin. The volume covers the convex polygon
// `hexagon` (window coordinates of the camera the render was asked for,
// numberOfVertices of them counter-clockwise, the rest repeat the last);
// texCoords are the same points on the plane, as fractions of the image
// size, pixel (i, j) centred at (i / imageWidth, j / imageHeight). The map
// from window to plane is affine: any three vertices that are not in line
// give it.
struct ULMBasePlaneInfo {
    int basePlaneWidth = 0;
    int basePlaneHeight = 0;
    int imageWidth = 0;
    int imageHeight = 0;
    ULMPixelFormat pixelFormat = kULMPixelFormatRGBA8;
    const void* pixels = nullptr;
    int numberOfVertices = 0;
    ULMVector2D hexagon[6];
    ULMVector2D texCoords[6];
};

// Implemented by the application: draws one base plane; a status other
// than kULMOK is handed back to the caller of RenderToGraphicsContext.
class ULMGraphicsContext {
public:
    virtual ~ULMGraphicsContext() = default;
    virtual ULMStatus DrawBasePlane(const ULMBasePlaneInfo& inInfo) = 0;
    virtual ULMStatus Reserved00() { return kULMOK; }
    virtual ULMStatus Reserved01() { return kULMOK; }
    virtual ULMStatus Reserved02() { return kULMOK; }
    virtual ULMStatus Reserved03() { return kULMOK; }
};

}  // namespace ulm3
