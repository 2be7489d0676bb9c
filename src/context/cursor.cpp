// The 3-D cursor drawn into a render: its type, place, arm length and
// colour.
#include <cmath>

#include "context/state_checks.h"
#include "ulm3/camera.h"

namespace ulm3 {

ULMStatus ULMCursor::SetType(Type inType) {
    if (inType != kOff && inType != kCrossHair) return kULMErrArgument;
    m_type = inType;
    return kULMOK;
}

ULMStatus ULMCursor::SetPosition(const ULMVector3D& inPosition) {
    if (!IsFinite(inPosition)) return kULMErrArgument;
    m_position = inPosition;
    return kULMOK;
}

ULMStatus ULMCursor::SetLength(double inLength) {
    if (!std::isfinite(inLength) || inLength < 0.0) return kULMErrArgument;
    m_length = inLength;
    return kULMOK;
}

ULMStatus ULMCursor::SetColor(const ULMRGBAFloat& inColor) {
    if (!IsFraction(inColor.m_red) || !IsFraction(inColor.m_green) || !IsFraction(inColor.m_blue) ||
        !IsFraction(inColor.m_alpha))
        return kULMErrArgument;
    m_color = inColor;
    return kULMOK;
}

bool ULMCursor::operator==(const ULMCursor& other) const {
    return m_type == other.m_type && m_position == other.m_position && m_length == other.m_length &&
           m_color.m_red == other.m_color.m_red && m_color.m_green == other.m_color.m_green &&
           m_color.m_blue == other.m_color.m_blue && m_color.m_alpha == other.m_color.m_alpha;
}

}  // namespace ulm3
