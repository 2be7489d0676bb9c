// Reflectance maps of directional lights, evaluated at the cell centres of
// the chip's six-face layout.
#include "render/light_map.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "render/table_buffer_return.h"

namespace ulm3 {
namespace {

uint64_t Grey(double inValue) {
    const auto g = static_cast<uint64_t>(std::lround(std::clamp(inValue, 0.0, 1.0) * 4095.0));
    return g << 4 | g << 20 | g << 36;
}

}  // namespace

void LightMapCellDirection(int inEntry, double outDirection[3]) {
    const int face = inEntry / 64, t = inEntry / 8 % 8, s = inEntry % 8;
    const int axis = face / 2;
    outDirection[axis] = face % 2 != 0 ? -1.0 : 1.0;
    outDirection[axis == 0 ? 1 : 0] = (s + 0.5) / 4.0 - 1.0;
    outDirection[axis == 2 ? 1 : 2] = (t + 0.5) / 4.0 - 1.0;
    const double length = std::sqrt(outDirection[0] * outDirection[0] + outDirection[1] * outDirection[1] +
                                    outDirection[2] * outDirection[2]);
    for (int a = 0; a < 3; ++a) outDirection[a] /= length;
}

void BuildLightMaps(const ULMLightSet& inLights, uint64_t* outDiffuse, uint64_t* outSpecular) {
    // Diffuse light is read at the normal, specular at the reflected eye
    // vector, so neither map depends on the view.
    const bool twoSidedDiffuse = inLights.mode != ULMContext::kUnidirectional;
    for (int e = 0; e < kLightMapEntries; ++e) {
        double n[3];
        LightMapCellDirection(e, n);
        double diffuse = 0.0, specular = 0.0;
        for (size_t i = 0; i < inLights.intensity.size(); ++i) {
            const double* l = &inLights.direction[3 * i];
            const double cosine = n[0] * l[0] + n[1] * l[1] + n[2] * l[2];
            diffuse += inLights.intensity[i] * (twoSidedDiffuse ? std::abs(cosine) : std::max(0.0, cosine));
            specular += inLights.intensity[i] * std::pow(std::max(0.0, cosine), inLights.exponent);
        }
        outDiffuse[e] = Grey(diffuse);
        outSpecular[e] = Grey(specular);
    }
}

ULMLightMap::ULMLightMap(KWBBoard* inBoard, KWBBuffer* inDiffuse, KWBBuffer* inSpecular)
    : m_board(inBoard), m_diffuse(inDiffuse), m_specular(inSpecular) {
    SetObjectType(this, kObjectTypeLightMap);
}

ULMLightMap::~ULMLightMap() {
    ULMReturnTableBuffer(m_board, m_diffuse, std::move(m_diffuseWords));
    ULMReturnTableBuffer(m_board, m_specular, std::move(m_specularWords));
}

}  // namespace ulm3
