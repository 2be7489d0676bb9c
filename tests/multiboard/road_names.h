// Names the board-failure tests print: a road's test name and the kind of
// request failed on it.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

#include "tulx7/driver_requests.h"

namespace ulm3::testing {

// A parameter's `name` with every character a test name cannot hold made
// an underscore.
struct NameOfParam {
    template <class Info>
    std::string operator()(const Info& inInfo) const {
        std::string name = inInfo.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    }
};

inline const char* RequestKindName(uint32_t inCode) {
    switch (inCode) {
        case TULX7_DR_RENDER: return "render";
        case TULX7_DR_BUFFER_LOAD: return "load";
        case TULX7_DR_BUFFER_UNLOAD: return "unload";
        default: return "copy";
    }
}

}  // namespace ulm3::testing
