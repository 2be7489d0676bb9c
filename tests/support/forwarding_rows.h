// The setters a wrapping volume forwards to the volumes it holds (levels,
// copies, bricks), each with the state its getters report: a wrapper's
// table test applies a row to the wrapper and to a plain volume of the same
// voxels, then compares the two states, the state of every part, and a
// render of each.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ulm3/volume.h"

namespace ulm3::test_support {

struct ForwardingRow {
    const char* name;
    std::function<ULMStatus(ULMVolume&)> set;
    // What the volume's getters answer after the setter.
    std::function<std::string(const ULMVolume&)> state;
    // Whether every part reports the wrapper's state (a brick's active
    // sub-volume is its own share of the wrapper's).
    bool everyPart;
    // Whether the row changes what a render draws.
    bool drawn;
};

inline std::string MatrixState(const ULMVolume& v) {
    std::ostringstream out;
    const ULMMatrix model = v.GetModelMatrix(), correction = v.GetCorrectionMatrix();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out << model[r][c] << "/" << correction[r][c] << " ";
    return out.str();
}

inline std::string ActiveState(const ULMVolume& v) {
    std::ostringstream out;
    unsigned s[3], o[3];
    v.GetActiveSubVolumeSize(s[0], s[1], s[2]);
    v.GetActiveSubVolumeOrigin(o[0], o[1], o[2]);
    const ULMVolumeRange r = v.GetActiveSubVolume();
    out << s[0] << " " << s[1] << " " << s[2] << " at " << o[0] << " " << o[1] << " " << o[2] << "; "
        << v.GetActiveSubVolumeSizeX() << " " << v.GetActiveSubVolumeSizeY() << " " << v.GetActiveSubVolumeSizeZ()
        << " at " << v.GetActiveSubVolumeOriginX() << " " << v.GetActiveSubVolumeOriginY() << " "
        << v.GetActiveSubVolumeOriginZ() << "; " << r.XSize() << " " << r.YSize() << " " << r.ZSize() << " at "
        << r.XOrigin() << " " << r.YOrigin() << " " << r.ZOrigin();
    return out.str();
}

inline std::string ExtendState(const ULMVolume& v) {
    ULMVolume::ExtendMode m[3];
    v.GetExtendModes(m[0], m[1], m[2]);
    std::ostringstream out;
    out << m[0] << m[1] << m[2] << " " << v.GetExtendModeX() << v.GetExtendModeY() << v.GetExtendModeZ() << " border "
        << v.GetBorderValue();
    return out.str();
}

inline std::string LeapingState(const ULMVolume& v) {
    ULMVolume::SpaceLeapingMode mode;
    double t[4];
    v.GetSpaceLeapingParameters(mode, t[0], t[1], t[2], t[3]);
    std::ostringstream out;
    out << mode << " " << t[0] << " " << t[1] << " " << t[2] << " " << t[3];
    return out.str();
}

inline std::string MipmapState(const ULMVolume& v) {
    double f[3];
    v.GetMipmapShrinkFactors(f[0], f[1], f[2]);
    std::ostringstream out;
    out << v.GetMipmapAutoGenerate() << " " << v.GetMipmapMinDimension() << " " << f[0] << " " << f[1] << " " << f[2]
        << " " << v.GetMipmapInterpolationMode(kULMField0);
    return out.str();
}

// The voxels read back whole, as a field, by the started unloads of both,
// and the buffer they sit in and the access granted on it.
inline std::string VoxelState(const ULMVolume& v) {
    const size_t count = size_t(v.GetSizeX()) * v.GetSizeY() * v.GetSizeZ();
    const ULMFieldDescriptor byte(0, 8, kULMUnsignedFraction);
    std::vector<std::vector<uint8_t>> out(4, std::vector<uint8_t>(count));
    std::ostringstream text;
    text << v.Unload(out[0].data(), v.GetRange(), kULMUseTarget) << " "
         << v.UnloadField(out[1].data(), v.GetRange(), byte, kULMUseTarget) << " "
         << v.StartUnload(out[2].data(), v.GetRange(), kULMUseBuffer).Wait(-1) << " "
         << v.StartUnloadField(out[3].data(), v.GetRange(), byte, kULMUseBuffer).Wait(-1) << " ";
    unsigned x = 0, y = 0, z = 0;
    v.GetSize(x, y, z);
    text << x << " " << y << " " << z << " buffer " << v.GetBufferSizeX() << " " << v.GetBufferSizeY() << " "
         << v.GetBufferSizeZ() << " loaded " << v.IsLoaded() << " access " << v.GetAccessControl() << " ";
    for (const auto& bytes : out) {
        uint64_t sum = 0;
        for (const uint8_t b : bytes) sum = sum * 31 + b;
        text << sum << " ";
    }
    return text.str();
}

// The buffer's addressing.
inline std::string AddressState(const ULMVolume& v) {
    ULMAddressMode mode = kULMOffsetAddress;
    int p[3] = {0, 0, 0};
    v.GetBufferAddressParameters(mode, p[0], p[1], p[2]);
    std::ostringstream out;
    out << mode << " " << p[0] << " " << p[1] << " " << p[2] << "; " << v.GetBufferAddressMode() << " "
        << v.GetBufferAddressParameterX() << " " << v.GetBufferAddressParameterY() << " "
        << v.GetBufferAddressParameterZ();
    return out.str();
}

inline std::string AddressAndExtentState(const ULMVolume& v) {
    const ULMVolumeRange r = v.GetBufferRange();
    std::ostringstream out;
    out << AddressState(v) << " in " << r.XSize() << " " << r.YSize() << " " << r.ZSize() << " at " << r.XOrigin()
        << " " << r.YOrigin() << " " << r.ZOrigin();
    return out.str();
}

// The buffer's extent, and the voxels read back from it.
inline std::string BufferState(const ULMVolume& v) {
    unsigned s[3] = {0, 0, 0};
    v.GetBufferSize(s[0], s[1], s[2]);
    const ULMVolumeRange r = v.GetBufferRange();
    std::ostringstream out;
    out << s[0] << " " << s[1] << " " << s[2] << "; " << r.XSize() << " " << r.YSize() << " " << r.ZSize() << " at "
        << r.XOrigin() << " " << r.YOrigin() << " " << r.ZOrigin() << "; " << VoxelState(v);
    return out.str();
}

// The rows over a volume of inSize voxels. inFresh: voxels of the whole
// volume for UpdateVolume and the updates of a box, other than the volume's own.
inline std::vector<ForwardingRow> ForwardingRows(const int (&inSize)[3], const std::vector<uint8_t>& inFresh) {
    const unsigned nx = unsigned(inSize[0]), ny = unsigned(inSize[1]), nz = unsigned(inSize[2]);
    const ULMMatrix turned = ULMMatrix::Rotate(20, ULMVector3D(0, 0, 1)) * ULMMatrix::Scale(1, 1.25, 1);
    const uint8_t* fresh = inFresh.data();
    // A box off every face; the fresh voxels are packed into it from their start.
    const ULMVolumeRange box(int(nx / 2), int(ny / 2), int(nz / 2), 2, 3, 1);
    const ULMFieldDescriptor byte(0, 8, kULMUnsignedFraction);
    return {
        {"model matrix", [=](ULMVolume& v) { return v.SetModelMatrix(turned); }, MatrixState, true, true},
        {"active sub-volume size", [=](ULMVolume& v) { return v.SetActiveSubVolumeSize(nx - 4, ny - 6, nz - 5); },
         ActiveState, false, true},
        {"active sub-volume origin",
         [=](ULMVolume& v) {
             const ULMStatus sized = v.SetActiveSubVolumeSize(nx / 2, ny / 2, nz - 5);
             return sized != kULMOK ? sized : v.SetActiveSubVolumeOrigin(nx / 3, 5, 2);
         },
         ActiveState, false, true},
        {"extend mode and border",
         [=](ULMVolume& v) {
             const ULMStatus mode = v.SetExtendMode(ULMVolume::kExtendWithEdge);
             return mode != kULMOK ? mode : v.SetBorderValue(200);
         },
         ExtendState, true, false},
        {"space leaping",
         [=](ULMVolume& v) { return v.SetSpaceLeapingParameters(ULMVolume::kSpaceLeapingOn, 0.0, 0.0, 0.0, 0.0); },
         LeapingState, true, true},
        {"update of the whole volume",
         [=](ULMVolume& v) {
             return v.UpdateVolume(kULMVoxelFormatUINT8, fresh, 0, 0, 0, nx, ny, nz, ULMVolume::kSliced);
         },
         VoxelState, false, true},
        {"correction matrix", [=](ULMVolume& v) { return v.SetCorrectionMatrix(turned); }, MatrixState, true, true},
        {"active sub-volume as a range",
         [=](ULMVolume& v) { return v.SetActiveSubVolume(ULMVolumeRange(nx - 6, ny / 2, nz - 3, 3, 4, 1)); },
         ActiveState, false, true},
        {"extend modes per axis and border",
         [=](ULMVolume& v) {
             const ULMStatus modes =
                 v.SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::kExtendWithBorder, ULMVolume::kExtendWithEdge);
             return modes != kULMOK ? modes : v.SetBorderValue(90);
         },
         ExtendState, true, false},
        {"target", [](ULMVolume& v) { return v.SetTarget(kULMSource); },
         [](const ULMVolume& v) { return std::to_string(v.GetTarget()); }, true, false},
        {"update of a box", [=](ULMVolume& v) { return v.Update(fresh, box); }, VoxelState, false, true},
        {"started update of a box", [=](ULMVolume& v) { return v.StartUpdate(fresh, box).Wait(-1); }, VoxelState,
         false, true},
        {"update of a box's field", [=](ULMVolume& v) { return v.UpdateField(fresh, box, byte); }, VoxelState, false,
         true},
        {"started update of a box's field",
         [=](ULMVolume& v) { return v.StartUpdateField(fresh, box, byte).Wait(-1); }, VoxelState, false, true},
    };
}

// The board buffer's permission, addressing and extent, which the parts'
// buffers take. inWrap: whether the wrapper resizes its buffer and takes
// wrapped addressing at all.
inline std::vector<ForwardingRow> BufferRows(const int (&inSize)[3], bool inWrap) {
    const auto address = inWrap ? AddressAndExtentState : AddressState;
    const auto power = [](int n) {
        int p = 1;
        while (p < n) p *= 2;
        return p;
    };
    const int wrap[3] = {power(inSize[0]), power(inSize[1]), power(inSize[2])};
    // The window moves inside a buffer with room for it; the bricked volume,
    // whose bricks keep the buffers they were cut with, refuses the resize.
    const unsigned room[3] = {unsigned(inSize[0] + 8), unsigned(inSize[1] + 8), unsigned(inSize[2] + 8)};
    const auto grown = [=](ULMVolume& v, bool inAsRange) {
        const ULMStatus status =
            inAsRange ? v.ResizeBuffer(ULMVolumeRange(int(room[0]), int(room[1]), int(room[2]), 0, 0, 0))
                      : v.ResizeBuffer(room[0], room[1], room[2]);
        return status == kULMErrUnimplemented ? kULMOK : status;
    };
    std::vector<ForwardingRow> rows = {
        {"buffer offset",
         [=](ULMVolume& v) {
             const ULMStatus status = grown(v, false);
             return status != kULMOK ? status : v.SetBufferOffset(2, 4, 6);
         },
         address, false, true},
        {"buffer address parameters in a buffer resized to a range",
         [=](ULMVolume& v) {
             const ULMStatus status = grown(v, true);
             return status != kULMOK ? status : v.SetBufferAddressParameters(kULMOffsetAddress, 4, 2, 2);
         },
         address, false, true},
    };
    // The buffer released and made again where it was (whole, at the
    // volume's sizes or over its range): the parts' buffers go on their own
    // boards, and hold the volume's voxels again.
    const auto remade = [](ULMVolume& v, int inForm) {
        const ULMLocation at = v.GetBufferLocation();
        const ULMStatus released = v.ReleaseBuffer();
        if (released != kULMOK) return released;
        return inForm == 0   ? v.CreateBuffer(at)
               : inForm == 1 ? v.CreateBuffer(at, v.GetSizeX(), v.GetSizeY(), v.GetSizeZ())
                             : v.CreateBuffer(at, v.GetRange());
    };
    rows.push_back({"buffer made again", [=](ULMVolume& v) { return remade(v, 0); }, BufferState, false, true});
    rows.push_back({"buffer made again at the volume's sizes", [=](ULMVolume& v) { return remade(v, 1); },
                    BufferState, false, true});
    rows.push_back({"buffer made again over the volume's range", [=](ULMVolume& v) { return remade(v, 2); },
                    BufferState, false, true});
    if (inWrap) {
        rows.push_back({"buffer permission", [](ULMVolume& v) { return v.SetBufferPermission(kULMPermissionRead); },
                        [](const ULMVolume& v) { return std::to_string(v.GetBufferPermission()); }, true, false});
        rows.push_back({"buffer wrap", [=](ULMVolume& v) { return v.SetBufferWrap(wrap[0], wrap[1], wrap[2]); },
                        AddressAndExtentState, true, true});
        rows.push_back({"buffer address parameters, wrapped",
                        [=](ULMVolume& v) {
                            return v.SetBufferAddressParameters(kULMWrapAddress, wrap[0], wrap[1], wrap[2]);
                        },
                        AddressAndExtentState, true, true});
    }
    return rows;
}

// The mipmap properties the multiboard volumes forward to their parts.
inline std::vector<ForwardingRow> MipmapPropertyRows() {
    return {
        {"mipmap properties",
         [](ULMVolume& v) {
             ULMStatus s = v.SetMipmapAutoGenerate(0);
             if (s == kULMOK) s = v.SetMipmapMinDimension(16);
             if (s == kULMOK) s = v.SetMipmapShrinkFactors(0.5, 0.5, 0.5);
             if (s == kULMOK) s = v.SetMipmapInterpolationMode(kULMField0, kULMNearestNeighbor);
             return s;
         },
         MipmapState, true, false},
        {"mipmap range", [](ULMVolume& v) { return v.SetMipmapRange(0, 1); },
         [](const ULMVolume& v) {
             int low = -1, high = -1;
             v.GetMipmapRange(low, high);
             return std::to_string(low) + " " + std::to_string(high);
         },
         false, false},
    };
}

}  // namespace ulm3::test_support
