// The border colour of an image, kept as the board keeps it: four channels
// of 12 bits each, clamped to 0..1 on the way in.
#pragma once

#include <cstdint>

#include "foundation/field_conversions.h"
#include "foundation/numeric.h"

namespace ulm3 {

class ULMBorderColour {
public:
    void Set(double inRed, double inGreen, double inBlue, double inAlpha) {
        const double channels[4] = {inRed, inGreen, inBlue, inAlpha};
        for (int i = 0; i < 4; ++i) m_value[i] = ULMConvertFloatTo12(ULMClampTo(channels[i], 0.0, 1.0));
    }
    // Channel 0 red, 1 green, 2 blue, 3 alpha.
    double Get(int inChannel) const { return ULMConvert12ToFloat(m_value[inChannel]); }
    void Get(double& outRed, double& outGreen, double& outBlue, double& outAlpha) const {
        outRed = Get(0);
        outGreen = Get(1);
        outBlue = Get(2);
        outAlpha = Get(3);
    }

private:
    uint16_t m_value[4] = {};
};

}  // namespace ulm3
