// The perspective frame driver of one volume: plans the frame as
// mini-frustums, renders each on the volume's board, warps the mini images
// into a host frame through three pipeline slots and writes the frame into
// the output image.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/mini_frustum.h"
#include "geometry/ormik_persp.h"
#include "geometry/perspective_stages.h"
#include "geometry/post_warp.h"
#include "perspective/depth_distortion.h"
#include "perspective/post_blend.h"
#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/ranges.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

class ULMVolumeFrame;
class ULMVolumeInternal;

// Drops one reference of a library object.
struct ULMReleaser {
    template <class T>
    void operator()(T* inObject) const {
        inObject->Release();
    }
};

class PerspInterf final : public PerspectiveStages {
public:
    PerspInterf();
    // Waits for the last frame's transfers before anything they read goes.
    ~PerspInterf() override;
    PerspInterf(const PerspInterf&) = delete;
    PerspInterf& operator=(const PerspInterf&) = delete;

    // One frame; a finished event with the failure, or the event of the
    // frame's last transfer. Called under the volume's render lock.
    ULMSyncEvent RenderOrmikPersp(ULMVolumeInternal* inVolume, const ULMContext* inContext,
                                  ULMImageBuffer* inImageBuf0, ULMDepthBuffer* inDepthBuf0,
                                  ULMImageBuffer* inImageBuf1, ULMDepthBuffer* inDepthBuf1);

    // The stages, as the planner calls them for each mini-frustum.
    int PrepareRender(const Polygon3D& nearPoly, const Polygon3D& farPoly, const Point3D& eye, const Point3D& sight,
                      int dimXs, int dimYs, int dimZs, int sectionX, int sectionY, int transformReg,
                      const DualHyper& nearHyper, const Point2D (&stCorners)[4]) override;
    int PreResample(const PolygonST3H& ndcPoly) override;
    void DistortDepthIn(const PolygonST3H& nearHom, const PolygonST3H& farHom) override;
    int LoadBuffers() override;
    int RenderMiniFrustum() override;
    int UnloadBuffers() override;
    int DistortDepthOut(const PolygonST3H& nearHom, const PolygonST3H& farHom) override;
    int PostResample(const PolygonST3H& clipPoly) override;
    bool WantsTile(const PolygonST3H& clipPoly) override;
    void SetStatus(ULMStatus status) override { mStatus = status; }

    // One pipeline slot: a mini-frustum's board buffers, their host copies
    // and the map from frame pixels to its mini image.
    struct MultiBuf {
        std::unique_ptr<ULMImageBuffer, ULMReleaser> mMiniImageBuf;
        std::unique_ptr<uint64_t[]> mMiniImageData;
        ULMSyncEvent mMiniImageEvent{kULMErrArgument};
        // The render itself: a render that fails on the board leaves the
        // image as it was, and its unload still succeeds.
        ULMSyncEvent mMiniRenderEvent{kULMOK};
        std::unique_ptr<ULMDepthBuffer, ULMReleaser> mMiniDepthBuf[2];
        std::unique_ptr<uint32_t[]> mMiniDepthData[2];
        ULMSyncEvent mMiniDepthEvent[2] = {ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument)};
        // The mini-frustum's corners, kept for its conversion out two
        // mini-frustums later.
        ULMDepthDistortion mDistortion;
        int mMiniWidth = 0;
        int mMiniHeight = 0;
        ULMVector2D mGeomOut[kMaxStageCorners];
        int mNumPoints = 0;
        ULMMatrix mMatrixOut;
    };

    // Seconds the host warps of this driver's frames took, and mini-frustums
    // warped, since it was made.
    double WarpSeconds() const { return mWarpSeconds; }
    int64_t MiniFrustumsWarped() const { return mWarped; }

    // Which slot mini-frustum inFrustum uses.
    static int SlotOf(int inFrustum, bool inDoubleBuffer) { return inDoubleBuffer ? inFrustum % 3 : 0; }
    // Pipeline slot inSlot (0 to 2) as the last frame left it.
    const MultiBuf& GetSlot(int inSlot) const { return mBuf[inSlot]; }

private:
    ULMSyncEvent Fail(ULMStatus inStatus);
    // The steps of a frame. The volume's box and the camera's matrices;
    // kULMErrArgument for an empty box.
    ULMStatus TakeVolumeBox();
    // The frame's element layout (the output's, or the blend's own when the
    // frame is blended or the output's fields do not fit the warp) and the
    // border the mini images start from.
    ULMStatus ChooseFrameLayout(const ULMImageBuffer& inOutput);
    // Which depth buffers the frame reads and writes; kULMErrBuffer when one
    // is not given, kULMErrUnimplemented for a blend the post-blend refuses.
    ULMStatus ChooseDepths();
    // The viewport (the output's rectangle when it has no size) and the
    // write port, narrowed to the volume's shadow when inVolumeArea; the
    // write port is the shared plan's picture's when there is one, and the
    // part the output holds is what the frame writes.
    ULMStatus PlaceWriteport(ULMImageBuffer& ioOutput, bool inVolumeArea);
    // Pixels from the write port's first row to the part's.
    int64_t PartOffset() const;
    void SetUpPlanner();
    // The frame's host arrays, the depth they start from, and the clear
    // value.
    ULMStatus PrepareFrameArrays();
    // The planner's mini-frustums, each rendered as a sub-frame of one frame
    // of the volume, and the pipeline drained.
    void RenderMiniFrustums();
    // The frame into the output image and the depth buffers it writes; the
    // event of the last transfer.
    ULMSyncEvent WriteFrame(ULMImageBuffer& ioOutput);
    // A slot's mini image and depth buffers, remade where they are too
    // small or on another board than the volume.
    ULMStatus MakeMiniImage(MultiBuf& ioSlot, unsigned inWidth, unsigned inHeight);
    ULMStatus MakeMiniDepths(MultiBuf& ioSlot, unsigned inWidth, unsigned inHeight);
    // The map from frame pixels to the current mini-frustum's mini pixels.
    ULMMatrix FrameToMini(const DualHyper& inNearHyper, const Point2D (&inCorners)[4], int inDimXs,
                          int inDimYs) const;
    // The frame's colour array filled with the clear value, once a frame.
    void ClearFrame();
    // Frame pixel (relative to the write port) of normalised device (x, y),
    // pixel centres on integers as in the engine's parallel renders.
    ULMVector2D FramePixel(double inX, double inY) const;
    // Narrows the write port to the volume's projection; false, leaving it,
    // when a corner of the volume lies behind the eye.
    bool GetVolumeArea();
    int DoUnloadBuffers(MultiBuf& ioSlot);
    int DoDistortDepthOut(MultiBuf& ioSlot);
    // Waits for every board transfer that reads or writes a slot's arrays.
    static void WaitForSlot(const MultiBuf& inSlot);
    int DoPostResample(MultiBuf& ioSlot);
    // Waits for every transfer that still reads the frame's host arrays.
    void WaitForFrame();
    MultiBuf& Slot(int inFrustum) { return mBuf[SlotOf(inFrustum, mDoubleBuffer)]; }

    OrmikPersp mOrmikPersp;
    ULMVolumeInternal* mVolume = nullptr;
    // The frame of the volume the mini-frustums render into, while they do.
    ULMVolumeFrame* mFrame = nullptr;
    std::unique_ptr<ULMContext, ULMReleaser> mContext;
    ULMImageBuffer* mImageBuf0 = nullptr;
    ULMImageBuffer* mImageBuf1 = nullptr;
    ULMDepthBuffer* mDepthBuf[2] = {nullptr, nullptr};
    ULMSyncEvent mDepthBufEvent[2] = {ULMSyncEvent(kULMErrArgument), ULMSyncEvent(kULMErrArgument)};
    bool mBlend0 = false;
    bool mBlend1 = false;
    bool mNeedBlend = false;
    int mElementSize = 32;
    ULMFieldDescriptor mFields[4];
    double mImageRed = 0, mImageGreen = 0, mImageBlue = 0, mImageAlpha = 0;
    bool mReadDepth[2] = {false, false};
    bool mWriteDepth[2] = {false, false};
    bool mNeedDepth[2] = {false, false};
    double mViewMinZ = 0.0, mViewMaxZ = 1.0;
    ULMStatus mStatus = kULMOK;
    ULMMatrix mCorrMatrix;
    // The volume's box in voxels; the buffer's offsets may be negative.
    double mVolMinX = 0, mVolMinY = 0, mVolMinZ = 0, mVolMaxX = 0, mVolMaxY = 0, mVolMaxZ = 0;
    ULMMatrix mModelMatrix, mViewMatrix, mProjMatrix;
    ULMImageRange mViewport;
    ULMImageRange mWriteport;
    // The rows of the write port this frame writes: all of them, or a band's.
    ULMImageRange mPart;
    ULMPostWarp mWarp;
    ULMPostBlend mBlend;
    std::unique_ptr<uint64_t[]> mFrameBuf;
    std::unique_ptr<uint32_t[]> mFrameDepth[2];
    int64_t mFrameSize = 0;
    // Every transfer of the last frame that reads or writes its host arrays.
    std::vector<ULMSyncEvent> mFrameEvents;
    bool mFrameClear = false;
    uint64_t mClearValue = 0;
    MultiBuf mBuf[3];
    // The current mini-frustum, handed to its sub-frame.
    ULMMiniFrustum mMiniFrust;
    int mFrustNum = 0;
    // The near and far corner the current mini-frustum's base plane starts
    // from (the sample space finds the same one in the mini-frustum).
    int mFlipMask = 0;
    bool mDoubleBuffer = true;
    double mWarpSeconds = 0.0;
    int64_t mWarped = 0;
};

}  // namespace ulm3
