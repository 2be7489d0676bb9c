// Images the boards render into and applications read: 2-D arrays of 16, 32
// or 64-bit pixels holding up to four colour fields.
#pragma once

#include "ulm3/buffer_types.h"
#include "ulm3/fields.h"
#include "ulm3/location.h"
#include "ulm3/ranges.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Ranges are in image coordinates: under offset addressing the image covers
// the rectangle of its size at the two offsets, under wrap addressing
// coordinates wrap (a range at negative coordinates too). A render into a
// wrap-addressed board image draws its whole viewport, each pixel at its
// coordinates modulo the wrap; it is refused with kULMErrBuffer when the
// viewport reaches below 0 or past 65535, or when two of its pixels would
// share an element or one would fall past the image's size; so is a render
// drawn larger and shrunk, or composited from bricks, into such an image.
// A change of addressing keeps the image's elements: a coordinate reads the
// element the present addressing gives it, with what was last cleared,
// written or drawn there under any addressing. An unload of a range longer
// than a wrap's period reads each element once for every coordinate that
// shares it; a write of one leaves each element the last of its pixels. A
// move that carries the whole image (kULMMigrationFullCopy) carries every
// element, those a wrap does not reach as well. Host data are
// rows of inWidth pixels (0: the range's width) one after the other; the
// field forms move one byte-aligned field of 8, 16, 32 or 64 bits per pixel.
// Every Start operation returns at once; its plain twin waits for it without
// time-out.
//
// The operations after SetBorderValue have default bodies, so an
// implementation without resampling or migration needs no code for them:
// they answer kULMErrUnimplemented (as a status or as a finished event).
//
// Threads: the reads (the Get operations, Unload, UnloadField and their
// Start forms) may run on one buffer from several threads at once. Every
// other call is the caller's to serialise against all calls on that buffer:
// writes (Update, UpdateField, Clear, the Set operations), moves (Migrate,
// and Resample, which may move or convert its source), Map and Unmap.
class ULMImageBuffer : public ULMShareable {
public:
    // A width x height image of 16, 32 or 64-bit pixels with up to four
    // fields (each at most 16 bits wide, inside the pixel; the others have
    // no field) in host memory (kULMSystem), on an open board, or over the
    // boards (kULMMultiBoardMode1, kULMMultiBoardMode2). Null on any bad
    // argument or failure; otherwise one reference for the caller. While its
    // pixels are on a board it holds the library open, as a context does.
    static ULMImageBuffer* Create(ULMLocation inLocation, unsigned inWidth, unsigned inHeight,
                                  unsigned inPixelSize, int inNumberOfFields,
                                  const ULMFieldDescriptor* inFieldArray);

    virtual ULMLocation GetLocation() const = 0;
    virtual void GetSize(unsigned& outWidth, unsigned& outHeight) const = 0;
    virtual unsigned GetWidth() const = 0;
    virtual unsigned GetHeight() const = 0;
    // Bits per pixel.
    virtual unsigned GetPixelSize() const = 0;
    virtual ULMFieldDescriptor GetFieldDescriptor(ULMChannel inChannel) const = 0;
    virtual ULMStatus SetFieldDescriptor(ULMChannel inChannel,
                                         const ULMFieldDescriptor& inDescriptor) = 0;

    virtual ULMStatus Update(const void* inData, const ULMImageRange& inRange,
                             unsigned inWidth) = 0;
    virtual ULMStatus UpdateField(const void* inData, const ULMFieldDescriptor& inDescriptor,
                                  const ULMImageRange& inRange, unsigned inWidth) = 0;
    virtual ULMSyncEvent StartUpdate(const void* inData, const ULMImageRange& inRange,
                                     unsigned inWidth) = 0;
    virtual ULMSyncEvent StartUpdateField(const void* inData,
                                          const ULMFieldDescriptor& inDescriptor,
                                          const ULMImageRange& inRange, unsigned inWidth) = 0;
    // Only the low GetPixelSize() bits of inValue are used.
    virtual ULMStatus Clear(const ULMImageRange& inRange, unsigned long long inValue) = 0;
    virtual ULMStatus Unload(void* outData, const ULMImageRange& inRange,
                             unsigned inWidth) const = 0;
    virtual ULMStatus UnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                                  const ULMImageRange& inRange, unsigned inWidth) const = 0;
    virtual ULMSyncEvent StartUnload(void* outData, const ULMImageRange& inRange,
                                     unsigned inWidth) const = 0;
    virtual ULMSyncEvent StartUnloadField(void* outData, const ULMFieldDescriptor& inDescriptor,
                                          const ULMImageRange& inRange,
                                          unsigned inWidth) const = 0;

    // The range as host memory; outWidth receives the pixels per mapped row.
    // The typed forms need pixels of their width.
    virtual ULMStatus Map(unsigned short*& outData, const ULMImageRange& inRange,
                          unsigned& outWidth) = 0;
    virtual ULMStatus Map(unsigned int*& outData, const ULMImageRange& inRange,
                          unsigned& outWidth) = 0;
    virtual ULMStatus Map(unsigned long long*& outData, const ULMImageRange& inRange,
                          unsigned& outWidth) = 0;
    virtual ULMStatus Map(void*& outData, const ULMImageRange& inRange, unsigned& outWidth) = 0;
    virtual ULMStatus Unmap(void* inData) = 0;

    virtual ULMStatus SetOffset(int inOffsetX, int inOffsetY) = 0;
    virtual ULMStatus SetWrap(int inWrapX, int inWrapY) = 0;
    virtual ULMStatus SetAddressParameters(ULMAddressMode inMode, int inParameterX,
                                           int inParameterY) = 0;
    virtual void GetAddressParameters(ULMAddressMode& outMode, int& outParameterX,
                                      int& outParameterY) const = 0;
    virtual int GetAddressParameterX() const = 0;
    virtual int GetAddressParameterY() const = 0;
    virtual ULMAddressMode GetAddressMode() const = 0;

    // Where valid input lies, and where renders may write.
    virtual ULMImageRange GetInputLimits() const = 0;
    virtual ULMStatus SetInputLimits(const ULMImageRange& inLimits) = 0;
    virtual ULMImageRange GetOutputLimits() const = 0;
    virtual ULMStatus SetOutputLimits(const ULMImageRange& inLimits) = 0;

    // Channels are fractions 0..1, kept to 12 bits.
    virtual void GetBorderValue(double& outRed, double& outGreen, double& outBlue,
                                double& outAlpha) const = 0;
    virtual double GetBorderRed() const = 0;
    virtual double GetBorderGreen() const = 0;
    virtual double GetBorderBlue() const = 0;
    virtual double GetBorderAlpha() const = 0;
    virtual ULMStatus SetBorderValue(double inRed, double inGreen, double inBlue,
                                     double inAlpha) = 0;

    virtual ULMStatus Resample(ULMImageBuffer* outDestination,
                               const ULMImageRange& inDestinationRange,
                               const ULMImageRange& inSourceRange);
    virtual ULMSyncEvent StartResample(ULMImageBuffer* outDestination,
                                       const ULMImageRange& inDestinationRange,
                                       const ULMImageRange& inSourceRange);
    virtual ULMStatus SetMigrationMode(ULMMigrationMode inMode);
    virtual ULMMigrationMode GetMigrationMode() const;
    virtual ULMStatus Migrate(ULMLocation inLocation);
    virtual ULMSyncEvent StartMigrate(ULMLocation inLocation);
    // The object id of the volume last rendered into the buffer, 0 for none.
    virtual unsigned long long GetLastVolumeRendered() const;
    virtual ULMStatus Reserved07();
    virtual ULMStatus Reserved08();
    virtual ULMStatus Reserved09();

protected:
    ULMImageBuffer() = default;
    ~ULMImageBuffer() override;
};

}  // namespace ulm3
