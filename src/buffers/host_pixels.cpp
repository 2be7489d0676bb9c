// Host pixel rectangles. Row offsets are computed in pointer-sized
// arithmetic so that large images cannot wrap an int.
#include "buffers/host_pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace ulm3 {
namespace {

bool Nothing(int width, int height) { return width <= 0 || height <= 0; }

ptrdiff_t PixelIndex(int inWidth, int inOriginX, int inOriginY) {
    return static_cast<ptrdiff_t>(inOriginY) * inWidth + inOriginX;
}

// All ones for a field at least as wide as the element, else the field's
// low bits; built in 64 bits so that no shift reaches the type's width.
template <typename T>
uint64_t FieldMask(int fieldSize) {
    constexpr int kBits = static_cast<int>(sizeof(T) * 8);
    if (fieldSize >= kBits) return static_cast<T>(~T{0});
    if (fieldSize <= 0) return 0;
    return (uint64_t{1} << fieldSize) - 1;
}

uint64_t ShiftRight(uint64_t v, int n) { return n >= 0 && n < 64 ? v >> n : 0; }
uint64_t ShiftLeft(uint64_t v, int n) { return n >= 0 && n < 64 ? v << n : 0; }

template <typename S>
ULMSyncEvent CopyFieldTo(int inDestSize, int inFieldSize, int w, int h, int sBit, int sSpacing,
                         const S* src, int dBit, int dSpacing, void* dst) {
    switch (inDestSize) {
        case 8:
            return CopyField(inFieldSize, w, h, sBit, sSpacing, src, dBit, dSpacing,
                             static_cast<unsigned char*>(dst));
        case 16:
            return CopyField(inFieldSize, w, h, sBit, sSpacing, src, dBit, dSpacing,
                             static_cast<unsigned short*>(dst));
        case 32:
            return CopyField(inFieldSize, w, h, sBit, sSpacing, src, dBit, dSpacing,
                             static_cast<unsigned int*>(dst));
        case 64:
            return CopyField(inFieldSize, w, h, sBit, sSpacing, src, dBit, dSpacing,
                             static_cast<unsigned long long*>(dst));
        default:
            return ULMSyncEvent(kULMErrInternal);
    }
}

}  // namespace

void* ComputeAddress(void* inBaseAddress, int inPixelSize, int inWidth, int inOriginX,
                     int inOriginY) {
    return static_cast<unsigned char*>(inBaseAddress) +
           PixelIndex(inWidth, inOriginX, inOriginY) * inPixelSize / 8;
}

const void* ComputeAddress(const void* inBaseAddress, int inPixelSize, int inWidth, int inOriginX,
                           int inOriginY) {
    return ComputeAddress(const_cast<void*>(inBaseAddress), inPixelSize, inWidth, inOriginX,
                          inOriginY);
}

unsigned* ComputeAddress(unsigned* inBaseAddress, int inWidth, int inOriginX, int inOriginY) {
    return inBaseAddress + PixelIndex(inWidth, inOriginX, inOriginY);
}

template <typename T>
ULMSyncEvent CopyPixels(int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const T* inSourceData, int inDestSpacing, T* outDestData) {
    if (Nothing(inCopyWidth, inCopyHeight)) return ULMSyncEvent(kULMOK);
    if (inSourceSpacing == inCopyWidth && inDestSpacing == inCopyWidth) {
        std::memmove(outDestData, inSourceData,
                     static_cast<size_t>(inCopyWidth) * static_cast<size_t>(inCopyHeight) *
                         sizeof(T));
        return ULMSyncEvent(kULMOK);
    }
    for (int y = 0; y < inCopyHeight; ++y) {
        std::memmove(outDestData, inSourceData, static_cast<size_t>(inCopyWidth) * sizeof(T));
        inSourceData += inSourceSpacing;
        outDestData += inDestSpacing;
    }
    return ULMSyncEvent(kULMOK);
}

ULMSyncEvent CopyPixels(int inPixelSize, int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const void* inSourceData, int inDestSpacing, void* outDestData) {
    switch (inPixelSize) {
        case 8:
            return CopyPixels(inCopyWidth, inCopyHeight, inSourceSpacing,
                              static_cast<const unsigned char*>(inSourceData), inDestSpacing,
                              static_cast<unsigned char*>(outDestData));
        case 16:
            return CopyPixels(inCopyWidth, inCopyHeight, inSourceSpacing,
                              static_cast<const unsigned short*>(inSourceData), inDestSpacing,
                              static_cast<unsigned short*>(outDestData));
        case 32:
            return CopyPixels(inCopyWidth, inCopyHeight, inSourceSpacing,
                              static_cast<const unsigned int*>(inSourceData), inDestSpacing,
                              static_cast<unsigned int*>(outDestData));
        case 64:
            return CopyPixels(inCopyWidth, inCopyHeight, inSourceSpacing,
                              static_cast<const unsigned long long*>(inSourceData), inDestSpacing,
                              static_cast<unsigned long long*>(outDestData));
        default:
            return ULMSyncEvent(kULMErrUnimplemented);
    }
}

ULMSyncEvent CopyPixels(int inCopyWidth, int inCopyHeight, int inSourceSpacing,
                        const unsigned* inSourceData, int inDestSpacing, unsigned* outDestData) {
    return CopyPixels<unsigned>(inCopyWidth, inCopyHeight, inSourceSpacing, inSourceData,
                                inDestSpacing, outDestData);
}

template <typename S, typename D>
ULMSyncEvent CopyField(int inFieldSize, int inCopyWidth, int inCopyHeight, int inSourceBitPosition,
                       int inSourceSpacing, const S* inSourceData, int inDestBitPosition,
                       int inDestSpacing, D* outDestData) {
    if (Nothing(inCopyWidth, inCopyHeight)) return ULMSyncEvent(kULMOK);
    const uint64_t sourceMask = FieldMask<S>(inFieldSize);
    const uint64_t destMask = FieldMask<D>(inFieldSize);
    const uint64_t keep = ~ShiftLeft(destMask, inDestBitPosition);
    for (int y = 0; y < inCopyHeight; ++y) {
        for (int x = 0; x < inCopyWidth; ++x) {
            const uint64_t value = ShiftRight(inSourceData[x], inSourceBitPosition) & sourceMask;
            const uint64_t word = (static_cast<uint64_t>(outDestData[x]) & keep) |
                                  ShiftLeft(value & destMask, inDestBitPosition);
            outDestData[x] = static_cast<D>(word);
        }
        inSourceData += inSourceSpacing;
        outDestData += inDestSpacing;
    }
    return ULMSyncEvent(kULMOK);
}

ULMSyncEvent CopyField(int inFieldSize, int inCopyWidth, int inCopyHeight, int inSourceSize,
                       int inSourceBitPosition, int inSourceSpacing, const void* inSourceData,
                       int inDestSize, int inDestBitPosition, int inDestSpacing, void* outDestData) {
    const int w = inCopyWidth, h = inCopyHeight, sBit = inSourceBitPosition,
              sSpacing = inSourceSpacing, dBit = inDestBitPosition, dSpacing = inDestSpacing;
    switch (inSourceSize) {
        case 8:
            return CopyFieldTo(inDestSize, inFieldSize, w, h, sBit, sSpacing,
                               static_cast<const unsigned char*>(inSourceData), dBit, dSpacing,
                               outDestData);
        case 16:
            return CopyFieldTo(inDestSize, inFieldSize, w, h, sBit, sSpacing,
                               static_cast<const unsigned short*>(inSourceData), dBit, dSpacing,
                               outDestData);
        case 32:
            return CopyFieldTo(inDestSize, inFieldSize, w, h, sBit, sSpacing,
                               static_cast<const unsigned int*>(inSourceData), dBit, dSpacing,
                               outDestData);
        case 64:
            return CopyFieldTo(inDestSize, inFieldSize, w, h, sBit, sSpacing,
                               static_cast<const unsigned long long*>(inSourceData), dBit, dSpacing,
                               outDestData);
        default:
            return ULMSyncEvent(kULMErrInternal);
    }
}

template <typename T>
ULMStatus ClearPixels(int inWidth, int inHeight, T inValue, int inSpacing, T* outDestination) {
    if (Nothing(inWidth, inHeight)) return kULMOK;
    if (inSpacing == inWidth) {
        std::fill_n(outDestination, static_cast<size_t>(inWidth) * static_cast<size_t>(inHeight),
                    inValue);
        return kULMOK;
    }
    for (int y = 0; y < inHeight; ++y, outDestination += inSpacing)
        std::fill_n(outDestination, static_cast<size_t>(inWidth), inValue);
    return kULMOK;
}

ULMStatus ClearPixels(int inPixelSize, int inWidth, int inHeight, unsigned long long inValue,
                      int inSpacing, void* outDestination) {
    switch (inPixelSize) {
        case 8:
            return ClearPixels(inWidth, inHeight, static_cast<unsigned char>(inValue), inSpacing,
                               static_cast<unsigned char*>(outDestination));
        case 16:
            return ClearPixels(inWidth, inHeight, static_cast<unsigned short>(inValue), inSpacing,
                               static_cast<unsigned short*>(outDestination));
        case 32:
            return ClearPixels<unsigned int>(inWidth, inHeight, static_cast<unsigned int>(inValue),
                                         inSpacing, static_cast<unsigned int*>(outDestination));
        case 64:
            return ClearPixels(inWidth, inHeight, static_cast<unsigned long long>(inValue), inSpacing,
                               static_cast<unsigned long long*>(outDestination));
        default:
            return kULMErrUnimplemented;
    }
}

ULMStatus ClearPixels(int inWidth, int inHeight, unsigned inValue, int inSpacing,
                      unsigned* outDestination) {
    // Depth arrays are filled row by row even when contiguous.
    if (Nothing(inWidth, inHeight)) return kULMOK;
    for (int y = 0; y < inHeight; ++y, outDestination += inSpacing)
        std::fill_n(outDestination, static_cast<size_t>(inWidth), inValue);
    return kULMOK;
}

#define ULM_PIXEL_TYPES(X) X(unsigned char) X(unsigned short) X(unsigned int) X(unsigned long long)

#define ULM_INSTANTIATE_PIXELS(T)                                                             \
    template ULMSyncEvent CopyPixels<T>(int, int, int, const T*, int, T*);                   \
    template ULMStatus ClearPixels<T>(int, int, T, int, T*);
ULM_PIXEL_TYPES(ULM_INSTANTIATE_PIXELS)

#define ULM_INSTANTIATE_FIELD_FROM(S)                                                          \
    template ULMSyncEvent CopyField<S, unsigned char>(int, int, int, int, int, const S*, int, int,   \
                                                unsigned char*);                                     \
    template ULMSyncEvent CopyField<S, unsigned short>(int, int, int, int, int, const S*, int, int,  \
                                                 unsigned short*);                                   \
    template ULMSyncEvent CopyField<S, unsigned int>(int, int, int, int, int, const S*, int, int,  \
                                                 unsigned int*);                                   \
    template ULMSyncEvent CopyField<S, unsigned long long>(int, int, int, int, int, const S*, int, int,  \
                                                 unsigned long long*);
ULM_PIXEL_TYPES(ULM_INSTANTIATE_FIELD_FROM)

}  // namespace ulm3
