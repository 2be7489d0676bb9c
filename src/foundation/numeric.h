// Numeric helpers shared by the geometry and fixed-point code.
#pragma once

#include <cmath>
#include <cstdint>

#include "foundation/control.h"

namespace ulm3 {

template <typename T>
inline T ULMMax(T a, T b) {
    return a > b ? a : b;
}

template <typename T>
inline T ULMMin(T a, T b) {
    return a < b ? a : b;
}

template <typename T>
inline T ULMMax(T a, T b, T c) {
    return a > b ? ULMMax(a, c) : ULMMax(b, c);
}

template <typename T>
inline T ULMMin(T a, T b, T c) {
    return a < b ? ULMMin(a, c) : ULMMin(b, c);
}

// Works on numbers and on unscoped enumerations alike; signedness follows
// the type, so unsigned values compare unsigned.
template <typename T>
inline T ULMClampTo(T v, T low, T high) {
    if (v <= low) return low;
    if (v >= high) return high;
    return v;
}

template <typename T>
inline T ULMClampTo(T v, T high) {
    return v >= high ? high : v;
}

inline double ULMAbs(double x) { return x >= 0 ? x : -x; }

// Branch-free; done in unsigned arithmetic so the most negative int comes
// back as itself instead of overflowing.
inline int ULMAbs(int x) {
    const uint32_t s = static_cast<uint32_t>(x >> 31);
    return static_cast<int>((static_cast<uint32_t>(x) ^ s) - s);
}

// Near-zero test against the library's epsilon (strict), and exact zero
// always counts, so an epsilon of 0 never lets a division by zero through.
inline bool ULMIsZero(double x) { return x == 0.0 || ULMAbs(x) < gULMControl.m_epsilon; }

inline double ULMSqrt(double x) { return std::sqrt(x); }

// Zero gives 1 so that callers normalising a zero vector keep it unchanged.
inline double ULMInverseSqrt(double x) { return x == 0.0 ? 1.0 : 1.0 / std::sqrt(x); }

inline double ULMSquare(double x) { return x * x; }

inline double ULMRadians(double degrees) { return degrees * 0.017453292519943295; }

template <typename T>
inline void ULMSwap(T& a, T& b) {
    T t = a;
    a = b;
    b = t;
}

// Zero counts as a power of two.
inline bool ULMIsPowerOf2(uint32_t u) { return (u & (u - 1)) == 0; }

// The smallest power of two not below u; 0 for u = 0 and for u above 2^31,
// where the answer does not fit.
inline uint32_t ULMPow2Round(uint32_t u) {
    uint32_t v = u - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

}  // namespace ulm3
