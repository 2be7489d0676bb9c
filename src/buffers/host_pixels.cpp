// Host pixel rectangles. Row offsets are computed in pointer-sized
// arithmetic so that large images cannot wrap an int.
#include "buffers/host_pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

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

// Calls f with a null pointer of the unsigned element type of `bits` bits
// (8, 16, 32 or 64); any other size gives `otherwise`.
template <typename R, typename F>
R ForElementBits(int bits, R otherwise, F&& f) {
    switch (bits) {
        case 8: return f(static_cast<unsigned char*>(nullptr));
        case 16: return f(static_cast<unsigned short*>(nullptr));
        case 32: return f(static_cast<unsigned int*>(nullptr));
        case 64: return f(static_cast<unsigned long long*>(nullptr));
        default: return otherwise;
    }
}

template <typename P>
using Element = std::remove_pointer_t<P>;

}  // namespace

bool PixelArrayBytes(int64_t inWidth, int64_t inHeight, int inPixelSize, size_t& outBytes) {
    int64_t pixels = 0;
    int64_t bytes = 0;
    if (inWidth < 0 || inHeight < 0 || inPixelSize < 0 ||
        __builtin_mul_overflow(inWidth, inHeight, &pixels) ||
        __builtin_mul_overflow(pixels, int64_t{inPixelSize / 8}, &bytes) || bytes > PTRDIFF_MAX)
        return false;
    outBytes = static_cast<size_t>(bytes);
    return true;
}

void* ComputeAddress(void* inBaseAddress, int inPixelSize, int inWidth, int inOriginX,
                     int inOriginY) {
    return static_cast<unsigned char*>(inBaseAddress) +
           PixelIndex(inWidth, inOriginX, inOriginY) * (inPixelSize / 8);
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
    return ForElementBits(inPixelSize, ULMSyncEvent(kULMErrUnimplemented), [&](auto type) {
        using T = Element<decltype(type)>;
        return CopyPixels<T>(inCopyWidth, inCopyHeight, inSourceSpacing,
                             static_cast<const T*>(inSourceData), inDestSpacing,
                             static_cast<T*>(outDestData));
    });
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
    const ULMSyncEvent refused(kULMErrInternal);
    return ForElementBits(inSourceSize, refused, [&](auto sourceType) {
        using S = Element<decltype(sourceType)>;
        return ForElementBits(inDestSize, refused, [&](auto destType) {
            using D = Element<decltype(destType)>;
            return CopyField<S, D>(inFieldSize, inCopyWidth, inCopyHeight, inSourceBitPosition,
                                   inSourceSpacing, static_cast<const S*>(inSourceData),
                                   inDestBitPosition, inDestSpacing, static_cast<D*>(outDestData));
        });
    });
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
    return ForElementBits(inPixelSize, kULMErrUnimplemented, [&](auto type) {
        using T = Element<decltype(type)>;
        return ClearPixels<T>(inWidth, inHeight, static_cast<T>(inValue), inSpacing,
                              static_cast<T*>(outDestination));
    });
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
