// Who else may use a board buffer: the sharing permission of a volume's
// on-board buffer. The values are bits and combine with | and &.
#pragma once

#include <cstdint>

namespace ulm3 {

enum ULMPermission : int32_t {
    kULMPermissionNotShared = 0,
    kULMPermissionRead = 1,
    kULMPermissionWrite = 2,
    kULMPermissionReadWrite = 3,
    kULMPermissionResize = 4,
    kULMPermissionSetPermission = 8,
};

inline ULMPermission operator&(ULMPermission a, ULMPermission b) {
    return static_cast<ULMPermission>(static_cast<int32_t>(a) & static_cast<int32_t>(b));
}

inline ULMPermission operator|(ULMPermission a, ULMPermission b) {
    return static_cast<ULMPermission>(static_cast<int32_t>(a) | static_cast<int32_t>(b));
}

inline ULMPermission& operator|=(ULMPermission& a, ULMPermission b) {
    a = a | b;
    return a;
}

}  // namespace ulm3
