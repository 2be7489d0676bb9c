// Range checks of the public enumerations that arrive from applications.
// Each tests the integer value, so a value cast in from outside the
// enumeration is refused rather than trusted.
#pragma once

#include <cstdint>

#include "ulm3/fields.h"

namespace ulm3 {

// Declared with its public underlying type so that the checks need not pull
// in the object model.
enum ULMAccessType : int32_t;

inline bool ValidMigrationMode(ULMMigrationMode inMode) {
    return inMode >= kULMMigrationNone && inMode <= kULMMigrationFullCopy;
}

inline bool ValidInterpolationMode(ULMInterpolationMode inMode) {
    return inMode == kULMNearestNeighbor || inMode == kULMTrilinear;
}

inline bool IsValidVoxelFieldNumber(ULMFieldNumber inField) {
    return inField >= kULMField0 && inField <= kULMField3;
}

inline bool ULMValidChannel(ULMChannel inChannel) {
    return inChannel >= kULMChannelRed && inChannel <= kULMChannelAlpha;
}

// "No control" is what a volume holds when nobody uses it; it is never a
// valid request.
inline bool ULMAccessIsValid(ULMAccessType inAccess) {
    const int32_t a = static_cast<int32_t>(inAccess);
    return a >= 1 && a <= 6;
}

// Write, WriteExclusive, WriteShared and WriteOnlyExclusive.
inline bool ULMAccessIsWrite(ULMAccessType inAccess) { return static_cast<int32_t>(inAccess) > 2; }

}  // namespace ulm3
