// Rectangles of pixels in host memory: copies, copies of one bit field,
// fills, and pixel addresses. Rectangles are given by their first pixel, a
// width and height in pixels, and a spacing: elements from the start of one
// row to the start of the next. A width or height of 0 (or less) touches
// nothing. No allocation and no lock; the copies return finished events so
// that asynchronous operations can hand them on as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// Bytes of an array of inWidth x inHeight pixels of inPixelSize bits (a
// multiple of 8); false when a side is negative or the count does not fit a
// pointer difference, as no such array can be made or addressed.
bool PixelArrayBytes(int64_t inWidth, int64_t inHeight, int inPixelSize, size_t& outBytes);

// Pixel (inOriginX, inOriginY) of an array of rows of inWidth pixels of
// inPixelSize bits.
void* ComputeAddress(void* inBaseAddress, int inPixelSize, int inWidth, int inOriginX,
                     int inOriginY);
const void* ComputeAddress(const void* inBaseAddress, int inPixelSize, int inWidth, int inOriginX,
                           int inOriginY);
// The same for arrays of 32-bit depth words.
unsigned* ComputeAddress(unsigned* inBaseAddress, int inWidth, int inOriginX, int inOriginY);

template <typename T>
ULMSyncEvent CopyPixels(int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const T* inSourceData, int inDestSpacing, T* outDestData);
// Pixels of 8, 16, 32 or 64 bits; any other size gives kULMErrUnimplemented.
ULMSyncEvent CopyPixels(int inPixelSize, int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const void* inSourceData, int inDestSpacing, void* outDestData);
// Depth words.
ULMSyncEvent CopyPixels(int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const unsigned* inSourceData, int inDestSpacing, unsigned* outDestData);

// Moves a field of inFieldSize bits from bit inSourceBitPosition of each
// source element to bit inDestBitPosition of the matching destination
// element, bit for bit, keeping the destination's other bits. A field wider
// than an element keeps the element's width of it.
template <typename S, typename D>
ULMSyncEvent CopyField(int inFieldSize, int inCopyWidth, int inCopyHeight, int inSourceBitPosition,
                       int inSourceSpacing, const S* inSourceData, int inDestBitPosition,
                       int inDestSpacing, D* outDestData);
// Elements of 8, 16, 32 or 64 bits on each side; any other pair gives
// kULMErrInternal.
ULMSyncEvent CopyField(int inFieldSize, int inCopyWidth, int inCopyHeight, int inSourceSize,
                       int inSourceBitPosition, int inSourceSpacing, const void* inSourceData,
                       int inDestSize, int inDestBitPosition, int inDestSpacing, void* outDestData);

template <typename T>
ULMStatus ClearPixels(int inWidth, int inHeight, T inValue, int inSpacing, T* outDestination);
// The low inPixelSize bits of inValue into pixels of 8, 16, 32 or 64 bits;
// any other size gives kULMErrUnimplemented.
ULMStatus ClearPixels(int inPixelSize, int inWidth, int inHeight, unsigned long long inValue,
                      int inSpacing, void* outDestination);
// Depth words.
ULMStatus ClearPixels(int inWidth, int inHeight, unsigned inValue, int inSpacing,
                      unsigned* outDestination);

}  // namespace ulm3
