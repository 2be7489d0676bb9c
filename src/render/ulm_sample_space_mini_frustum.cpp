// The sample space of one mini-frustum of a perspective frame: the chip's
// grid runs over the mini-frustum's base plane, its rays spreading from the
// near face to the far face as the driver's record describes them.
#include <algorithm>
#include <cmath>

#include "geometry/mini_frustum.h"
#include "render/ulm_sample_space.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "volume/volume_internal.h"

namespace ulm3 {

ULMStatus ULMSampleSpace::AssignMiniFrustum(const ULMContext* inContext, const ULMVolumeInternal* inVolume,
                                            const ULMImageBuffer* inImage, const ULMMiniFrustum& inFrustum) {
    const ULMMiniFrustum& f = inFrustum;
    // The base plane's last row and column are border pixels past the far
    // corners, so the corners lie nx and ny pixels apart.
    const int nx = f.mDimXs - 2, ny = f.mDimYs - 2, nz = f.mDimZs;
    if (nx <= 0 || ny <= 0 || nz <= 0 || f.mDimXs > 65536 || f.mDimYs > 65536 || nz > 65536)
        return kULMErrEmptyRender;
    if (inImage == nullptr || inImage->GetWidth() < static_cast<unsigned>(f.mDimXs) ||
        inImage->GetHeight() < static_cast<unsigned>(f.mDimYs))
        return kULMErrBuffer;

    m_transform = f.mTransform;
    ComputeTrims(inContext, inVolume->BoardCopy().CurrentSubVolume(), m_transform);
    const int c = ULMMiniFrustumOriginCorner(f);
    const ULMVector3D* near = f.mNearPoly;
    const ULMVector3D* far = f.mFarPoly;
    for (int i = 0; i < 3; ++i) {
        m_origin[i] = near[c][i];
        m_dXs[i] = i < 2 ? (near[c ^ 3][i] - near[c][i]) / nx : 0.0;
        m_dYs[i] = i < 2 ? (near[c ^ 1][i] - near[c][i]) / ny : 0.0;
        m_dZs[i] = (far[c][i] - near[c][i]) / nz;
    }
    // The far face is wider than the near one: each step across the base
    // plane grows by the difference over the slices.
    for (int i = 0; i < 2; ++i) {
        m_ddXsZs[i] = ((far[c ^ 3][i] - far[c][i]) - (near[c ^ 3][i] - near[c][i])) / (double(nx) * nz);
        m_ddYsZs[i] = ((far[c ^ 1][i] - far[c][i]) - (near[c ^ 1][i] - near[c][i])) / (double(ny) * nz);
    }
    // The depth the frame driver undoes: linear in the slice, over its
    // share of the scale.
    m_depthOrigin = f.mMinD;
    m_depthRate[0] = m_depthRate[1] = 0.0;
    m_depthRate[2] = (f.mMaxD - f.mMinD) / nz;
    // Voxels own the cells from half a voxel below their centres to just
    // short of half a voxel above (the trims), so a near face on a cell's
    // upper edge belongs to no voxel: the first slice lies 1/256 voxel, the
    // chip's resolution, behind the near face, so that a volume one voxel
    // thick seen from that side still has a sample inside it.
    if (m_dZs[2] > 0.0) {
        const double behind = 1.0 / 256.0 / m_dZs[2];
        for (int i = 0; i < 3; ++i) m_origin[i] += behind * m_dZs[i];
        for (int i = 0; i < 2; ++i) m_dXs[i] += behind * m_ddXsZs[i], m_dYs[i] += behind * m_ddYsZs[i];
        m_depthOrigin += behind * m_depthRate[2];
    }
    m_sectionSize[0] = std::clamp(f.mSectionSizeX, 4, 32);
    m_sectionSize[1] = std::clamp(f.mSectionSizeY, 4, 32);

    const ULMVector3D toEye = f.mEyePoint - f.mSightPoint;
    const double length = std::sqrt(toEye[0] * toEye[0] + toEye[1] * toEye[1] + toEye[2] * toEye[2]);
    for (int i = 0; i < 3; ++i) m_eye[i] = length > 0.0 ? toEye[i] / length : 0.0;
    const ULMCamera& camera = inContext->GetCamera();
    m_volumeToWorld = camera.GetModelMatrix() * inVolume->GetCorrectionMatrix();
    // Tables are corrected for the slice spacing along the principal axis.
    const double spacing = std::fabs(m_dZs[2]);
    m_k = spacing > 0.0 ? static_cast<int>(std::clamp(std::round(1.0 / spacing), 1.0, 256.0)) : 1;
    m_testX = std::fabs(m_dXs[0]) + std::fabs(m_dYs[0]);
    m_testY = std::fabs(m_dXs[1]) + std::fabs(m_dYs[1]);

    m_frustum.min[0] = m_frustum.min[1] = m_frustum.min[2] = 0;
    m_frustum.max[0] = f.mDimXs - 1;
    m_frustum.max[1] = f.mDimYs - 1;
    m_frustum.max[2] = nz - 1;
    m_valid = true;
    return kULMOK;
}

}  // namespace ulm3
