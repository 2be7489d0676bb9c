// Where a buffer lives.
#pragma once

#include <cstdint>

namespace ulm3 {

enum ULMLocation : int32_t {
    kULMNoBufferAttached = -1,
    kULMBoard0 = 0,
    kULMBoard1 = 1,
    kULMBoard2 = 2,
    kULMBoard3 = 3,
    kULMBoard4 = 4,
    kULMBoard5 = 5,
    kULMBoard6 = 6,
    kULMBoard7 = 7,
    kULMAnyBoard = 1000,
    kULMSystem = 2000,  // host memory
    kULMMultiBoard = 3000,  // the same as kULMMultiBoardMode1
    kULMMultiBoardMode1 = 3000,
    kULMMultiBoardMode2 = 3001,
};

}  // namespace ulm3
