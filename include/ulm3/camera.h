// The value objects of the rendering state that a context holds by value:
// the camera, the crop and the 3-D cursor.
#pragma once

#include <array>
#include <cstdint>

#include "ulm3/fields.h"
#include "ulm3/matrix.h"
#include "ulm3/status.h"
#include "ulm3/vectors.h"

namespace ulm3 {

// Where a volume appears: window = viewport x projection x view x model x
// voxel. A viewport of zero width or height stands for the whole output
// image. Setters refuse non-finite numbers and negative sizes with
// kULMErrArgument and then change nothing.
class ULMCamera {
public:
    ULMCamera() = default;

    const ULMMatrix& GetModelMatrix() const { return m_model; }
    const ULMMatrix& GetViewMatrix() const { return m_view; }
    const ULMMatrix& GetProjectionMatrix() const { return m_projection; }
    ULMStatus SetModelMatrix(const ULMMatrix& inMatrix);
    ULMStatus SetViewMatrix(const ULMMatrix& inMatrix);
    ULMStatus SetProjectionMatrix(const ULMMatrix& inMatrix);

    void GetViewport(int& outX, int& outY, int& outWidth, int& outHeight) const;
    ULMStatus SetViewport(int inX, int inY, int inWidth, int inHeight);
    int GetViewportOriginX() const { return m_viewport[0]; }
    int GetViewportOriginY() const { return m_viewport[1]; }
    int GetViewportWidth() const { return m_viewport[2]; }
    int GetViewportHeight() const { return m_viewport[3]; }

    // Window depth of the near and far planes; default 0 and 1.
    void GetDepthRange(double& outNear, double& outFar) const;
    ULMStatus SetDepthRange(double inNear, double inFar);

    bool operator==(const ULMCamera& other) const = default;

private:
    ULMMatrix m_model;
    ULMMatrix m_view;
    ULMMatrix m_projection;
    int m_viewport[4] = {0, 0, 0, 0};
    double m_near = 0.0;
    double m_far = 1.0;
};

// Three slabs in voxel coordinates, each a box that selected axes of the
// volume are tested against; the flags say which axes each slab tests and
// how the three results combine. Flags 0: the crop is off.
class ULMCrop {
public:
    enum Flags : uint32_t {
        kEnableX0 = 1u << 0,
        kEnableY0 = 1u << 1,
        kEnableZ0 = 1u << 2,
        kInvert0 = 1u << 3,
        kEnableX1 = 1u << 4,
        kEnableY1 = 1u << 5,
        kEnableZ1 = 1u << 6,
        kInvert1 = 1u << 7,
        kEnableX2 = 1u << 8,
        kEnableY2 = 1u << 9,
        kEnableZ2 = 1u << 10,
        kInvert2 = 1u << 11,
        kOrSelect = 1u << 12,    // a sample passes when any slab passes
        kInvertOutput = 1u << 13,
        kAllFlags = (1u << 14) - 1,
    };

    ULMCrop();

    unsigned GetFlags() const { return m_flags; }
    // Bits outside kAllFlags: kULMErrArgument.
    ULMStatus SetFlags(unsigned inFlags);
    void GetSlabs(double& outMinX, double& outMaxX, double& outMinY, double& outMaxY,
                  double& outMinZ, double& outMaxZ) const;
    ULMStatus SetSlabs(double inMinX, double inMaxX, double inMinY, double inMaxY, double inMinZ,
                       double inMaxZ);

    bool operator==(const ULMCrop& other) const = default;

private:
    unsigned m_flags = 0;
    std::array<double, 6> m_slabs;
};

// A marker at a point of the volume, kept with the rendering state for the
// application that draws it.
class ULMCursor {
public:
    enum Type : int32_t { kOff = 0, kCrossHair = 1 };

    Type GetType() const { return m_type; }
    ULMStatus SetType(Type inType);
    const ULMVector3D& GetPosition() const { return m_position; }
    ULMStatus SetPosition(const ULMVector3D& inPosition);
    // Length of each arm, in voxels; not negative.
    double GetLength() const { return m_length; }
    ULMStatus SetLength(double inLength);
    const ULMRGBAFloat& GetColor() const { return m_color; }
    ULMStatus SetColor(const ULMRGBAFloat& inColor);

    bool operator==(const ULMCursor& other) const;

private:
    Type m_type = kOff;
    ULMVector3D m_position{0.0, 0.0, 0.0};
    double m_length = 10.0;
    ULMRGBAFloat m_color{1.0f, 1.0f, 1.0f, 1.0f};
};

}  // namespace ulm3
