// The perspective frame: the frame driver's own steps around the planner,
// and the stages it runs for each mini-frustum.
#include "perspective/persp_interf.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "foundation/context_readers.h"
#include "foundation/control.h"
#include "foundation/message_log.h"
#include "buffers/depth_buffer_internal.h"
#include "buffers/image_buffer_internal.h"
#include "context/render_context.h"
#include "geometry/transform_3d.h"
#include "perspective/frame_pixels.h"
#include "perspective/shared_frame_plan.h"
#include "render/volume_frame.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

bool IsMinimumMode(ULMBlendMode inMode) { return inMode >= 8 && inMode <= 11; }

template <class T>
std::unique_ptr<T[]> TryAllocate(int64_t inCount) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(std::max<int64_t>(inCount, 1))]);
}

}  // namespace

PerspInterf::PerspInterf() = default;

PerspInterf::~PerspInterf() {
    WaitForFrame();
    for (const ULMSyncEvent& event : mDepthBufEvent) event.Wait(-1);
    // Transfers still reading or writing a slot's host arrays finish before they go.
    for (const MultiBuf& slot : mBuf) WaitForSlot(slot);
}

void PerspInterf::WaitForSlot(const MultiBuf& inSlot) {
    inSlot.mMiniRenderEvent.Wait(-1);
    inSlot.mMiniImageEvent.Wait(-1);
    for (const ULMSyncEvent& event : inSlot.mMiniDepthEvent) event.Wait(-1);
}

void PerspInterf::WaitForFrame() {
    for (const ULMSyncEvent& event : mFrameEvents) event.Wait(-1);
    mFrameEvents.clear();
}

ULMSyncEvent PerspInterf::Fail(ULMStatus inStatus) {
    mContext.reset();
    return ULMSyncEvent(inStatus);
}

ULMVector2D PerspInterf::FramePixel(double inX, double inY) const {
    const double sx = (mViewport.XSize() - 1) * 0.5, sy = (mViewport.YSize() - 1) * 0.5;
    const double ox = sx - (mWriteport.XOrigin() - mViewport.XOrigin());
    const double oy = sy - (mWriteport.YOrigin() - mViewport.YOrigin());
    return ULMVector2D(inX * sx + ox, inY * sy + oy);
}

bool PerspInterf::GetVolumeArea() {
    const ULMMatrix m = mProjMatrix * mViewMatrix * mModelMatrix * mCorrMatrix;
    const double sx = (mViewport.XSize() - 1) * 0.5, sy = (mViewport.YSize() - 1) * 0.5;
    const double ox = mViewport.XOrigin() + sx, oy = mViewport.YOrigin() + sy;
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (int c = 0; c < 8; ++c) {
        const ULMVector4D p = m * ULMVector4D((c & 1) ? mVolMaxX : mVolMinX, (c & 2) ? mVolMaxY : mVolMinY,
                                              (c & 4) ? mVolMaxZ : mVolMinZ, 1.0);
        if (!(p[3] > 0.0)) return false;
        const double xy[2] = {p[0] / p[3] * sx + ox, p[1] / p[3] * sy + oy};
        for (int i = 0; i < 2; ++i) lo[i] = std::min(lo[i], xy[i]), hi[i] = std::max(hi[i], xy[i]);
    }
    // Clamped to the viewport before it becomes an integer: a corner close
    // to the eye's plane projects far beyond any int.
    const double minX = mViewport.XOrigin() - 1.0, maxX = mViewport.XOrigin() + mViewport.XSize();
    const double minY = mViewport.YOrigin() - 1.0, maxY = mViewport.YOrigin() + mViewport.YSize();
    const int x0 = static_cast<int>(std::floor(std::clamp(lo[0], minX, maxX)));
    const int x1 = static_cast<int>(std::ceil(std::clamp(hi[0], minX, maxX)));
    const int y0 = static_cast<int>(std::floor(std::clamp(lo[1], minY, maxY)));
    const int y1 = static_cast<int>(std::ceil(std::clamp(hi[1], minY, maxY)));
    mWriteport = Intersect(mWriteport, ULMImageRange(x1 - x0 + 1, y1 - y0 + 1, x0, y0));
    return true;
}

ULMSyncEvent PerspInterf::RenderOrmikPersp(ULMVolumeInternal* inVolume, const ULMContext* inContext,
                                           ULMImageBuffer* inImageBuf0, ULMDepthBuffer* inDepthBuf0,
                                           ULMImageBuffer* inImageBuf1, ULMDepthBuffer* inDepthBuf1) {
    mVolume = inVolume;
    mImageBuf0 = inImageBuf0;
    mImageBuf1 = inImageBuf1;
    mDepthBuf[0] = inDepthBuf0;
    mDepthBuf[1] = inDepthBuf1;
    mContext.reset();
    if (inVolume == nullptr || inContext == nullptr) return ULMSyncEvent(kULMErrArgument);
    mContext.reset(ULMCopyContextForRender(inContext));
    if (mContext == nullptr) return ULMSyncEvent(kULMErrAlloc);
    mStatus = kULMOK;
    mFrameClear = false;
    mDoubleBuffer = gULMControl.m_perspectiveDoubleBuffer;

    ULMImageBuffer* output = GetOutputImageBuffer(mContext.get(), inImageBuf0, inImageBuf1);
    ULMStatus status = TakeVolumeBox();
    if (status == kULMOK) status = output != nullptr ? ChooseFrameLayout(*output) : kULMErrBuffer;
    if (status == kULMOK) status = ChooseDepths();
    if (status == kULMOK) status = PlaceWriteport(*output, mContext->GetRenderArea() == ULMContext::kVolume);
    if (status == kULMOK) status = PrepareFrameArrays();
    if (status != kULMOK) return Fail(status);
    SetUpPlanner();
    RenderMiniFrustums();
    // A frame refused part way writes nothing: the output images and depth
    // buffers keep what they held. What its mini-frustums still do on the
    // boards goes only into the driver's own buffers and arrays.
    if (ULMFailed(mStatus)) {
        for (const MultiBuf& slot : mBuf) WaitForSlot(slot);
        for (ULMSyncEvent& event : mDepthBufEvent) {
            event.Wait(-1);
            event = ULMSyncEvent(kULMOK);
        }
        return Fail(mStatus);
    }
    const ULMSyncEvent last = WriteFrame(*output);
    mContext.reset();
    if (gULMControl.m_ReleaseTemporaryImageBuffers)
        for (MultiBuf& slot : mBuf) {
            WaitForSlot(slot);
            slot.mMiniImageBuf.reset();
            slot.mMiniDepthBuf[0].reset();
            slot.mMiniDepthBuf[1].reset();
        }
    return ULMFailed(mStatus) ? ULMSyncEvent(mStatus) : last;
}

ULMStatus PerspInterf::TakeVolumeBox() {
    mCorrMatrix = mVolume->GetCorrectionMatrix();
    unsigned size[3] = {0, 0, 0};
    mVolume->GetSize(size[0], size[1], size[2]);
    int offset[3] = {0, 0, 0};
    if (mVolume->GetBufferAddressMode() == kULMOffsetAddress) {
        offset[0] = mVolume->GetBufferAddressParameterX();
        offset[1] = mVolume->GetBufferAddressParameterY();
        offset[2] = mVolume->GetBufferAddressParameterZ();
    }
    // An empty box has no near distance to plan from.
    if (size[0] == 0 || size[1] == 0 || size[2] == 0) return kULMErrArgument;
    // The voxels' cells, half a voxel around their centres, as the parallel
    // road's trims have them: a volume one voxel thick still has depth.
    mVolMinX = offset[0] - 0.5, mVolMinY = offset[1] - 0.5, mVolMinZ = offset[2] - 0.5;
    mVolMaxX = offset[0] + (size[0] - 0.5);
    mVolMaxY = offset[1] + (size[1] - 0.5);
    mVolMaxZ = offset[2] + (size[2] - 0.5);
    // A brick plans as the whole volume; its trims keep its samples to its own voxels.
    if (const ULMSharedFramePlan* plan = ULMSharedFramePlan::Active(); plan != nullptr && plan->Box()) {
        const ULMFrameVolumeBox& box = *plan->Box();
        mVolMinX = box.min[0], mVolMinY = box.min[1], mVolMinZ = box.min[2];
        mVolMaxX = box.max[0], mVolMaxY = box.max[1], mVolMaxZ = box.max[2];
    }

    const ULMCamera& camera = mContext->GetCamera();
    mModelMatrix = camera.GetModelMatrix();
    mViewMatrix = camera.GetViewMatrix();
    mProjMatrix = camera.GetProjectionMatrix();
    return kULMOK;
}

ULMStatus PerspInterf::ChooseFrameLayout(const ULMImageBuffer& inOutput) {
    const ULMContext* context = mContext.get();
    mElementSize = static_cast<int>(inOutput.GetPixelSize());
    for (int i = 0; i < 4; ++i) mFields[i] = inOutput.GetFieldDescriptor(static_cast<ULMChannel>(i));
    mBlend0 = mImageBuf0 != nullptr && !mImageBuf0->GetInputLimits().IsEmpty();
    mBlend1 = mImageBuf1 != nullptr && !mImageBuf1->GetInputLimits().IsEmpty() && context->GetLastBlendMode() != 0;
    mNeedBlend = mBlend0 || mBlend1 || !FieldsFitTheWarp(mFields, mElementSize);
    if (mNeedBlend) {
        // The frame's own layout: 12-bit channels when any field is wider than 8 bits.
        bool wide = false;
        for (const ULMFieldDescriptor& f : mFields) wide = wide || (f.m_format != kULMUnknownFormat && f.m_size > 8);
        mElementSize = wide ? 64 : 32;
        const ULMFieldDescriptor* frame = wide ? ULMSoftwareBlendVolume::kTransferFields12
                                               : ULMSoftwareBlendVolume::kTransferFields8;
        std::copy(frame, frame + 4, mFields);
    }

    const ULMBlendMode mode = context->GetBlendMode();
    if (mImageBuf0 != nullptr && !mBlend0) {
        mImageBuf0->GetBorderValue(mImageRed, mImageGreen, mImageBlue, mImageAlpha);
    } else {
        const double border = IsMinimumMode(mode) ? 1.0 : 0.0;
        mImageRed = mImageGreen = mImageBlue = mImageAlpha = border;
    }
    return kULMOK;
}

ULMStatus PerspInterf::ChooseDepths() {
    const ULMContext* context = mContext.get();
    const bool depthInput = !IsDepthTestPass(context) && !IsDepthTestFail(context);
    const auto reads = [&](ULMContext::DepthBufferNumber n) {
        const ULMContext::DepthTest test = context->GetDepthTest(n);
        return depthInput && test != ULMContext::kDepthTestFail && test != ULMContext::kDepthTestPass;
    };
    for (int n = 0; n < 2; ++n) {
        const auto number = static_cast<ULMContext::DepthBufferNumber>(n);
        mReadDepth[n] = reads(number);
        mWriteDepth[n] = context->GetDepthUpdateFilter(number) != ULMContext::kAlwaysFail;
        mNeedDepth[n] = mReadDepth[n] || mWriteDepth[n];
        if (mNeedDepth[n] && mDepthBuf[n] == nullptr) return kULMErrBuffer;
    }
    if (mNeedBlend && ULMPostBlend::Refuses(context, mImageBuf0)) return kULMErrUnimplemented;
    return kULMOK;
}

ULMStatus PerspInterf::PlaceWriteport(ULMImageBuffer& ioOutput, bool inVolumeArea) {
    ULMCamera& camera = mContext->GetCamera();
    int vx = 0, vy = 0, vw = 0, vh = 0;
    camera.GetViewport(vx, vy, vw, vh);
    camera.GetDepthRange(mViewMinZ, mViewMaxZ);
    ULMImageRange writeArea(static_cast<int>(ioOutput.GetWidth()), static_cast<int>(ioOutput.GetHeight()), 0, 0);
    if (ioOutput.GetAddressMode() == kULMOffsetAddress) {
        writeArea.XOrigin() = ioOutput.GetAddressParameterX();
        writeArea.YOrigin() = ioOutput.GetAddressParameterY();
    }
    // A band of a picture plans the whole picture and writes its own rows.
    // A frame that reads depth keeps to its own plan: the depth it would
    // read in the other bands' rows is not in its buffers.
    const ULMImageRange ownArea = writeArea;
    const ULMSharedFramePlan* plan = ULMSharedFramePlan::Active();
    if (plan != nullptr && plan->Picture() && !mReadDepth[0] && !mReadDepth[1] &&
        plan->Picture()->XOrigin() == ownArea.XOrigin() && plan->Picture()->XSize() == ownArea.XSize())
        writeArea = *plan->Picture();
    if (vw <= 0 || vh <= 0) {
        vx = writeArea.XOrigin(), vy = writeArea.YOrigin(), vw = writeArea.XSize(), vh = writeArea.YSize();
        camera.SetViewport(vx, vy, vw, vh);
    }
    // A viewport one pixel wide or high has no span for the camera's
    // normalised coordinates to map onto, as on the parallel road.
    if (vw < 2 || vh < 2) return kULMErrTransform;
    mViewport = ULMImageRange(vw, vh, vx, vy);
    mWriteport = Intersect(writeArea, mViewport);
    if (inVolumeArea) GetVolumeArea();
    if (mWriteport.XSize() <= 0 || mWriteport.YSize() <= 0) return kULMErrArgument;
    mPart = Intersect(mWriteport, ownArea);
    if (mPart.IsEmpty()) {
        // Nothing of the frame lies in this band: it is left as it is.
        ioOutput.SetOutputLimits(ULMImageRange());
        return kULMErrArgument;
    }
    return kULMOK;
}

int64_t PerspInterf::PartOffset() const {
    return int64_t{mPart.YOrigin() - mWriteport.YOrigin()} * mWriteport.XSize();
}

bool PerspInterf::WantsTile(const PolygonST3H& clipPoly) {
    if (mPart.YSize() == mWriteport.YSize()) return true;
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (int i = 0; i < clipPoly.GetNumbVerts(); ++i) {
        const double y = FramePixel(clipPoly[i].x, clipPoly[i].y)[1];
        lo = std::min(lo, y), hi = std::max(hi, y);
    }
    // Frame rows relative to the write port; two rows to spare for the
    // warp's rounding at the polygon's edges.
    const double first = mPart.YOrigin() - mWriteport.YOrigin(), last = first + mPart.YSize() - 1;
    return hi >= first - 2.0 && lo <= last + 2.0;
}

void PerspInterf::SetUpPlanner() {
    const ULMContext* context = mContext.get();
    const int vx = mViewport.XOrigin(), vy = mViewport.YOrigin(), vw = mViewport.XSize(), vh = mViewport.YSize();
    // The planner's normalised device coordinates span its viewport's size:
    // one pixel less than the viewport puts pixel centres on integers, as
    // the engine's parallel renders have them.
    mOrmikPersp.SetViewport(vx, vy, vx + vw - 2, vy + vh - 2);
    // Frame pixel centres lie on the planner's integers: the port's edges
    // go half a pixel outside its outer centres, where rounding cannot take
    // an outer row or column out of the warp's fill.
    mOrmikPersp.SetWriteportEdges(mWriteport.XOrigin() - 0.5, mWriteport.YOrigin() - 0.5,
                                  mWriteport.XOrigin() + mWriteport.XSize() - 0.5,
                                  mWriteport.YOrigin() + mWriteport.YSize() - 0.5);
    mOrmikPersp.SetVolDim(Point3D{mVolMinX, mVolMinY, mVolMinZ}, Point3D{mVolMaxX, mVolMaxY, mVolMaxZ});
    mOrmikPersp.SetCorrMatrix(mCorrMatrix);
    mOrmikPersp.SetModelMatrix(mModelMatrix);
    mOrmikPersp.SetViewMatrix(mViewMatrix);
    mOrmikPersp.SetProjMatrix(mProjMatrix);
    double limits[4] = {1, 3, 1, 3};
    context->GetSamplingLimits(limits[0], limits[1], limits[2], limits[3]);
    mOrmikPersp.SetSampMultLimits(limits[0], limits[1], limits[2], limits[3]);
    mOrmikPersp.SetSamplingFactor(context->GetSamplingFactor());
    mOrmikPersp.SetMinVoxDist(context->GetMinViewingDistance());
    // However far the eye, the frame shows the whole volume, as a parallel
    // view of it would.
    mOrmikPersp.SetMaxVoxDist(std::numeric_limits<double>::max());
}

ULMStatus PerspInterf::PrepareFrameArrays() {
    // One spare row and column; the arrays only grow.
    const int64_t frameBytes =
        (int64_t{mWriteport.XSize()} + 1) * (int64_t{mWriteport.YSize()} + 1) * (mElementSize / 8);
    if (frameBytes > mFrameSize) {
        WaitForFrame();
        const int64_t pixels = (int64_t{mWriteport.XSize()} + 1) * (int64_t{mWriteport.YSize()} + 1);
        mFrameBuf.reset();
        mFrameDepth[0].reset();
        mFrameDepth[1].reset();
        mFrameBuf = TryAllocate<uint64_t>((frameBytes + 7) / 8);
        mFrameDepth[0] = TryAllocate<uint32_t>(pixels);
        mFrameDepth[1] = TryAllocate<uint32_t>(pixels);
        if (mFrameBuf == nullptr || mFrameDepth[0] == nullptr || mFrameDepth[1] == nullptr) {
            ULMOutputMessage("RenderOrmikPersp: Can't allocate %lld byte frame buffers\n",
                             static_cast<long long>(frameBytes));
            mFrameSize = 0;
            return kULMErrAlloc;
        }
        mFrameSize = frameBytes;
    }
    // The frame depth starts as the buffers hold it; pixels no mini-frustum
    // reaches keep it.
    for (int n = 0; n < 2; ++n) {
        if (!mNeedDepth[n]) continue;
        mDepthBufEvent[n] = mDepthBuf[n]->StartUnload(mFrameDepth[n].get() + PartOffset(), mPart,
                                                      static_cast<unsigned>(mWriteport.XSize()),
                                                      ULMDepthBuffer::kDepth24Low);
        if (ULMFailed(mDepthBufEvent[n].Status())) return mDepthBufEvent[n].Status();
    }
    // Where no mini-frustum reaches, the frame shows what a mini render leaves
    // where it samples nothing: the mini images' border, taken by no last
    // mode. Image 1 joins only with its content, through the post-blend, as
    // in a parallel render.
    const double background[4] = {mImageRed, mImageGreen, mImageBlue, mImageAlpha};
    mClearValue = ColourPixel(background, mFields, mElementSize);
    if (mElementSize <= 32) mClearValue = (mClearValue & 0xFFFFFFFFull) | (mClearValue << 32);
    return kULMOK;
}

void PerspInterf::RenderMiniFrustums() {
    // Every mini-frustum renders into its own mini image as image 0, as one
    // sub-frame of one frame of the volume.
    ULMContext* context = mContext.get();
    const ULMContext::ImageBufferNumber outputSetting = context->GetImageOutputBuffer();
    context->SetImageOutputBuffer(ULMContext::kImageBuffer0);
    ULMVolumeFrame frame(*mVolume, context);
    mFrame = &frame;
    mFrustNum = 0;
    mOrmikPersp.RendPerspFrustum(this);
    if (mDoubleBuffer && mFrustNum > 0) {
        DoUnloadBuffers(Slot(mFrustNum - 1));
        if (mFrustNum > 1) {
            DoDistortDepthOut(Slot(mFrustNum - 2));
            DoPostResample(Slot(mFrustNum - 2));
        }
        DoDistortDepthOut(Slot(mFrustNum - 1));
        DoPostResample(Slot(mFrustNum - 1));
    }
    mFrame = nullptr;
    context->SetImageOutputBuffer(outputSetting);
}

ULMSyncEvent PerspInterf::WriteFrame(ULMImageBuffer& ioOutput) {
    ULMContext* context = mContext.get();
    // A frame in which nothing was warped shows the background, not the
    // arrays as an earlier frame left them.
    if (!mFrameClear) ClearFrame();
    // A band's rows go first in the array, where the writes read a frame of
    // their own range from.
    if (PartOffset() != 0) {
        auto* bytes = reinterpret_cast<uint8_t*>(mFrameBuf.get());
        const size_t pixelBytes = static_cast<size_t>(mElementSize / 8);
        std::memmove(bytes, bytes + static_cast<size_t>(PartOffset()) * pixelBytes,
                     size_t(mPart.YSize()) * size_t(mPart.XSize()) * pixelBytes);
    }
    const ULMSyncEvent upload = mNeedBlend ? mBlend.Blend(mFrameBuf.get(), mPart, mElementSize, context,
                                                          mImageBuf0, mImageBuf1)
                                           : ioOutput.StartUpdate(mFrameBuf.get(), mPart, 0);
    mFrameEvents.push_back(upload);
    if (ULMFailed(upload.Status())) mStatus = upload.Status();
    if (gULMControl.m_perspectiveSynchronousBlend) {
        const ULMStatus waited = upload.Wait(-1);
        if (ULMFailed(waited)) mStatus = waited;
    }
    ioOutput.SetOutputLimits(mPart);
    ULMSyncEvent last = upload;
    for (int n = 0; n < 2; ++n) {
        if (!mWriteDepth[n]) continue;
        // The unload into the array may still be running when no
        // mini-frustum read it.
        const ULMStatus unloaded = mDepthBufEvent[n].Wait(-1);
        mDepthBufEvent[n] = ULMSyncEvent(kULMOK);
        if (ULMFailed(unloaded)) {
            mStatus = unloaded;
            continue;
        }
        last = mDepthBuf[n]->StartUpdate(mFrameDepth[n].get() + PartOffset(), mPart,
                                         static_cast<unsigned>(mWriteport.XSize()), ULMDepthBuffer::kDepth24Low);
        mFrameEvents.push_back(last);
        if (ULMFailed(last.Status())) mStatus = last.Status();
    }
    return last;
}

void PerspInterf::ClearFrame() {
    WaitForFrame();
    const int64_t bytes =
        (int64_t{mWriteport.XSize()} + 1) * (int64_t{mWriteport.YSize()} + 1) * (mElementSize / 8);
    std::fill_n(mFrameBuf.get(), (bytes + 7) / 8, mClearValue);
    mFrameClear = true;
}

int PerspInterf::PrepareRender(const Polygon3D& nearPoly, const Polygon3D& farPoly, const Point3D& eye,
                               const Point3D& sight, int dimXs, int dimYs, int dimZs, int sectionX, int sectionY,
                               int transformReg, const DualHyper& nearHyper, const Point2D (&stCorners)[4]) {
    if (mVolume == nullptr || mContext == nullptr) {
        mStatus = kULMErrInternal;
        return 1;
    }
    MultiBuf& slot = Slot(mFrustNum);
    slot.mMiniWidth = dimXs;
    slot.mMiniHeight = dimYs;
    const unsigned w = static_cast<unsigned>(dimXs) + 2, h = static_cast<unsigned>(dimYs) + 2;
    ULMStatus made = MakeMiniImage(slot, w, h);
    if (made == kULMOK) made = MakeMiniDepths(slot, w, h);
    if (made != kULMOK) {
        mStatus = made;
        return 1;
    }
    ULMImageBuffer* image = slot.mMiniImageBuf.get();
    for (int i = 0; i < 4; ++i) image->SetFieldDescriptor(static_cast<ULMChannel>(i), mFields[i]);
    image->SetBorderValue(mImageRed, mImageGreen, mImageBlue, mImageAlpha);

    for (int i = 0; i < 4; ++i) {
        mMiniFrust.mNearPoly[i] = ULMVector3D(nearPoly[i].x, nearPoly[i].y, nearPoly[i].z);
        mMiniFrust.mFarPoly[i] = ULMVector3D(farPoly[i].x, farPoly[i].y, farPoly[i].z);
    }
    mMiniFrust.mEyePoint = ULMVector3D(eye.x, eye.y, eye.z);
    mMiniFrust.mSightPoint = ULMVector3D(sight.x, sight.y, sight.z);
    mMiniFrust.mDimXs = static_cast<int>(w);
    mMiniFrust.mDimYs = static_cast<int>(h);
    mMiniFrust.mDimZs = dimZs;
    mMiniFrust.mSectionSizeX = sectionX;
    mMiniFrust.mSectionSizeY = sectionY;
    mMiniFrust.mTransform = static_cast<unsigned>(transformReg);
    const bool readsDepth = mReadDepth[0] || mReadDepth[1];
    mMiniFrust.mMinD = readsDepth ? 0.25 : 1e-7;
    mMiniFrust.mMaxD = readsDepth ? 0.75 : 1.0;
    mFlipMask = ULMMiniFrustumOriginCorner(mMiniFrust);
    slot.mMatrixOut = FrameToMini(nearHyper, stCorners, dimXs, dimYs);
    return 0;
}

// The mini images live where the volume is for this frame: a volume without
// a buffer of its own may sit on another board each frame.
ULMStatus PerspInterf::MakeMiniImage(MultiBuf& ioSlot, unsigned inWidth, unsigned inHeight) {
    const ULMLocation board = mVolume->GetBufferLocation();
    ULMImageBuffer* image = ioSlot.mMiniImageBuf.get();
    if (image == nullptr || image->GetWidth() < inWidth || image->GetHeight() < inHeight ||
        static_cast<int>(image->GetPixelSize()) != mElementSize || image->GetLocation() != board) {
        const unsigned width = std::max({image != nullptr ? image->GetWidth() : 0u, inWidth, 32u});
        const unsigned height = std::max({image != nullptr ? image->GetHeight() : 0u, inHeight, 32u});
        // Its last unload writes into the array about to go.
        WaitForSlot(ioSlot);
        ioSlot.mMiniImageBuf.reset();
        ioSlot.mMiniImageData.reset();
        ioSlot.mMiniImageBuf.reset(ULMImageBufferInternal::CreateSimple(
            board, width, height, static_cast<unsigned>(mElementSize), 0, nullptr));
        if (ioSlot.mMiniImageBuf != nullptr)
            ioSlot.mMiniImageData = TryAllocate<uint64_t>((int64_t{width + 1} * (height + 1) + 3) * mElementSize / 64);
        if (ioSlot.mMiniImageData == nullptr) {
            ioSlot.mMiniImageBuf.reset();
            return kULMErrAlloc;
        }
    }
    return kULMOK;
}

ULMStatus PerspInterf::MakeMiniDepths(MultiBuf& ioSlot, unsigned inWidth, unsigned inHeight) {
    const ULMLocation board = mVolume->GetBufferLocation();
    const ULMImageRange mini(static_cast<int>(inWidth), static_cast<int>(inHeight), 0, 0);
    for (int n = 0; n < 2; ++n) {
        if (!mNeedDepth[n]) continue;
        ULMDepthBuffer* depth = ioSlot.mMiniDepthBuf[n].get();
        if (depth == nullptr || depth->GetWidth() < inWidth || depth->GetHeight() < inHeight ||
            depth->GetLocation() != board) {
            const unsigned width = std::max({depth != nullptr ? depth->GetWidth() : 0u, inWidth, 32u});
            const unsigned height = std::max({depth != nullptr ? depth->GetHeight() : 0u, inHeight, 32u});
            WaitForSlot(ioSlot);
            ioSlot.mMiniDepthBuf[n].reset();
            ioSlot.mMiniDepthData[n].reset();
            ioSlot.mMiniDepthBuf[n].reset(ULMDepthBufferInternal::CreateSimple(board, width, height));
            if (ioSlot.mMiniDepthBuf[n] != nullptr)
                ioSlot.mMiniDepthData[n] = TryAllocate<uint32_t>(int64_t{width + 1} * (height + 1) + 3);
            if (ioSlot.mMiniDepthData[n] == nullptr) {
                ioSlot.mMiniDepthBuf[n].reset();
                return kULMErrAlloc;
            }
        }
        ioSlot.mMiniDepthBuf[n]->SetInputLimits(mini);
    }
    return kULMOK;
}

// Frame pixel -> normalised device -> near face (s, t) -> mini pixel.
ULMMatrix PerspInterf::FrameToMini(const DualHyper& inNearHyper, const Point2D (&inCorners)[4], int inDimXs,
                                   int inDimYs) const {
    const double x0 = inCorners[mFlipMask].x, y0 = inCorners[mFlipMask].y;
    double dx = inCorners[mFlipMask ^ 2].x - x0, dy = inCorners[mFlipMask ^ 2].y - y0;
    if (dx == 0.0) dx = 1.0;
    if (dy == 0.0) dy = 1.0;
    dx = inDimXs / dx;
    dy = inDimYs / dy;
    const ULMMatrix p(dx, 0, 0, 0.001 - dx * x0, 0, dy, 0, 0.001 - dy * y0, 0, 0, 1, 0, 0, 0, 0, 1);
    const ULMVector2D origin = FramePixel(0.0, 0.0);
    const double sx = (mViewport.XSize() - 1) * 0.5, sy = (mViewport.YSize() - 1) * 0.5;
    const ULMMatrix r(1 / sx, 0, 0, -origin[0] / sx, 0, 1 / sy, 0, -origin[1] / sy, 0, 0, 1, 0, 0, 0, 0, 1);
    return p * static_cast<ULMMatrix>(inNearHyper) * r;
}

int PerspInterf::PreResample(const PolygonST3H&) {
    if (!mReadDepth[0] && !mReadDepth[1]) return 0;
    MultiBuf& slot = Slot(mFrustNum);
    ULMMatrix back;
    if (!InvertHomogeneous(slot.mMatrixOut, back)) {
        mStatus = kULMErrArgument;
        return 1;
    }
    for (int n = 0; n < 2; ++n) {
        if (!mReadDepth[n]) continue;
        const ULMStatus unloaded = mDepthBufEvent[n].Wait(-1);
        if (ULMFailed(unloaded)) {
            mStatus = unloaded;
            return 1;
        }
        mDepthBufEvent[n] = ULMSyncEvent(kULMOK);
    }
    // Every mini pixel takes the frame depth nearest to where it looks,
    // those just past the write port its edge's: the chip tests every pixel
    // of the mini image, and the warp back reads the tile's edge pixels
    // too. (A polygon fill would leave the pixels on the tile's edges and
    // drop rows that reach past the write port.)
    const int w = slot.mMiniWidth + 2, h = slot.mMiniHeight + 2;
    const int frameW = mWriteport.XSize(), frameH = mWriteport.YSize();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const ULMVector4D p = back * ULMVector4D(x, y, 0, 1);
            const double fx = p[3] != 0.0 ? p[0] / p[3] : 0.0, fy = p[3] != 0.0 ? p[1] / p[3] : 0.0;
            const int ix = static_cast<int>(std::clamp(std::floor(fx + 0.5), 0.0, double(frameW - 1)));
            const int iy = static_cast<int>(std::clamp(std::floor(fy + 0.5), 0.0, double(frameH - 1)));
            for (int n = 0; n < 2; ++n)
                if (mReadDepth[n]) slot.mMiniDepthData[n][size_t(y) * w + x] = mFrameDepth[n][size_t(iy) * frameW + ix];
        }
    return 0;
}

void PerspInterf::DistortDepthIn(const PolygonST3H& nearHom, const PolygonST3H& farHom) {
    if (!mReadDepth[0] && !mReadDepth[1]) return;
    MultiBuf& slot = Slot(mFrustNum);
    slot.mDistortion.Set(nearHom, farHom, mFlipMask, slot.mMiniWidth, slot.mMiniHeight, mMiniFrust.mMinD,
                         mMiniFrust.mMaxD, mViewMinZ, mViewMaxZ);
    const int w = slot.mMiniWidth + 2, h = slot.mMiniHeight + 2;
    for (int n = 0; n < 2; ++n) {
        if (!mReadDepth[n]) continue;
        uint32_t* word = slot.mMiniDepthData[n].get();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, ++word) *word = slot.mDistortion.In(x, y, *word);
    }
}

int PerspInterf::LoadBuffers() {
    MultiBuf& slot = Slot(mFrustNum);
    const ULMImageRange mini(slot.mMiniWidth + 2, slot.mMiniHeight + 2, 0, 0);
    for (int n = 0; n < 2; ++n) {
        if (!mNeedDepth[n]) continue;
        ULMDepthBuffer* depth = slot.mMiniDepthBuf[n].get();
        const ULMStatus status =
            mReadDepth[n]
                ? depth->StartUpdate(slot.mMiniDepthData[n].get(), mini, 0, ULMDepthBuffer::kDepth24Low).Status()
                : depth->Clear(mini, 0);
        if (ULMFailed(status)) {
            mStatus = status;
            return 1;
        }
    }
    return 0;
}

int PerspInterf::RenderMiniFrustum() {
    MultiBuf& slot = Slot(mFrustNum);
    // Image 1 takes part only when the frame blends with it; the caller's
    // may be of any size and on any board.
    const ULMStatus bound =
        mFrame->BindImages(slot.mMiniImageBuf.get(), slot.mMiniDepthBuf[0].get(), nullptr, slot.mMiniDepthBuf[1].get());
    const ULMSyncEvent event = bound != kULMOK ? ULMSyncEvent(bound) : mFrame->RenderSubFrame(&mMiniFrust);
    if (ULMFailed(event.Status())) {
        mStatus = event.Status();
        return 1;
    }
    slot.mMiniRenderEvent = event;
    return 0;
}

int PerspInterf::UnloadBuffers() {
    if (!mDoubleBuffer) return DoUnloadBuffers(mBuf[0]);
    return mFrustNum > 0 ? DoUnloadBuffers(Slot(mFrustNum - 1)) : 0;
}

int PerspInterf::DoUnloadBuffers(MultiBuf& ioSlot) {
    const ULMImageRange mini(ioSlot.mMiniWidth + 2, ioSlot.mMiniHeight + 2, 0, 0);
    for (int n = 0; n < 2; ++n) {
        if (!mWriteDepth[n]) continue;
        ioSlot.mMiniDepthEvent[n] = ioSlot.mMiniDepthBuf[n]->StartUnload(ioSlot.mMiniDepthData[n].get(), mini, 0,
                                                                         ULMDepthBuffer::kDepth24Low);
        if (ULMFailed(ioSlot.mMiniDepthEvent[n].Status())) {
            mStatus = ioSlot.mMiniDepthEvent[n].Status();
            return 1;
        }
    }
    ioSlot.mMiniImageEvent = ioSlot.mMiniImageBuf->StartUnload(ioSlot.mMiniImageData.get(), mini, 0);
    if (ULMFailed(ioSlot.mMiniImageEvent.Status())) {
        mStatus = ioSlot.mMiniImageEvent.Status();
        return 1;
    }
    return 0;
}

int PerspInterf::DistortDepthOut(const PolygonST3H& nearHom, const PolygonST3H& farHom) {
    if (!mWriteDepth[0] && !mWriteDepth[1]) return 0;
    MultiBuf& slot = Slot(mFrustNum);
    slot.mDistortion.Set(nearHom, farHom, mFlipMask, slot.mMiniWidth, slot.mMiniHeight, mMiniFrust.mMinD,
                         mMiniFrust.mMaxD, mViewMinZ, mViewMaxZ);
    if (!mDoubleBuffer) return DoDistortDepthOut(slot);
    return mFrustNum > 1 ? DoDistortDepthOut(Slot(mFrustNum - 2)) : 0;
}

int PerspInterf::DoDistortDepthOut(MultiBuf& ioSlot) {
    for (int n = 0; n < 2; ++n) {
        if (!mWriteDepth[n]) continue;
        const ULMStatus unloaded = ioSlot.mMiniDepthEvent[n].Wait(-1);
        if (ULMFailed(unloaded)) {
            mStatus = unloaded;
            return 1;
        }
    }
    const int w = ioSlot.mMiniWidth + 2, h = ioSlot.mMiniHeight + 2;
    for (int n = 0; n < 2; ++n) {
        if (!mWriteDepth[n]) continue;
        uint32_t* word = ioSlot.mMiniDepthData[n].get();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, ++word) *word = ioSlot.mDistortion.Out(x, y, *word);
    }
    return 0;
}

int PerspInterf::PostResample(const PolygonST3H& clipPoly) {
    MultiBuf& slot = Slot(mFrustNum);
    slot.mNumPoints = std::min(clipPoly.GetNumbVerts(), static_cast<int>(kMaxStageCorners));
    for (int i = 0; i < slot.mNumPoints; ++i) slot.mGeomOut[i] = FramePixel(clipPoly[i].x, clipPoly[i].y);
    int result = 0;
    if (!mDoubleBuffer)
        result = DoPostResample(slot);
    else if (mFrustNum > 1)
        result = DoPostResample(Slot(mFrustNum - 2));
    ++mFrustNum;
    return result;
}

int PerspInterf::DoPostResample(MultiBuf& ioSlot) {
    const ULMStatus rendered = ioSlot.mMiniRenderEvent.Wait(-1);
    const ULMStatus unloaded = ioSlot.mMiniImageEvent.Wait(-1);
    if (ULMFailed(rendered) || ULMFailed(unloaded)) {
        mStatus = ULMFailed(rendered) ? rendered : unloaded;
        return 1;
    }
    if (!mFrameClear) ClearFrame();
    // Depth the frame does not write stays out of the warp.
    const auto written = [&](const std::unique_ptr<uint32_t[]>& inArray, int n) {
        return mWriteDepth[n] ? inArray.get() : nullptr;
    };
    const auto start = std::chrono::steady_clock::now();
    mWarp.WarpBasePlane(ioSlot.mMiniImageData.get(), written(ioSlot.mMiniDepthData[0], 0),
                        written(ioSlot.mMiniDepthData[1], 1), ioSlot.mMiniWidth + 2, ioSlot.mMiniHeight + 2,
                        mFrameBuf.get(), written(mFrameDepth[0], 0), written(mFrameDepth[1], 1), mWriteport.XSize(),
                        mWriteport.YSize(), mElementSize, mFields, ioSlot.mGeomOut, ioSlot.mNumPoints,
                        ioSlot.mMatrixOut);
    mWarpSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++mWarped;
    return 0;
}

}  // namespace ulm3
