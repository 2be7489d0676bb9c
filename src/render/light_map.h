// Directional lighting as the chip reads it: a diffuse and a specular
// reflectance map over the directions of the volume's axes, held on a board.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/shareable.h"
#include "ulm3/context.h"
#include "ulm3/light.h"
#include "ulm3/matrix.h"
#include "ulm3/status.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

// Entries per map: six faces of 8 x 8 cells.
constexpr int kLightMapEntries = 384;

// The direction (unit length) at the centre of a map cell.
void LightMapCellDirection(int inEntry, double outDirection[3]);

// What the maps are built from: the lights in volume axes (unit directions
// towards the light) with their intensities, the specular exponent and
// whether a normal facing away from a light is lit as well.
struct ULMLightSet {
    std::vector<double> direction;  // three per light
    std::vector<double> intensity;
    double exponent = 1.0;
    ULMContext::LightMode mode = ULMContext::kBidirectionalSpecular;
};

// The two maps' words: lanes 0-2 grey as 12-bit fractions, sums clamped to 1.
void BuildLightMaps(const ULMLightSet& inLights, uint64_t* outDiffuse, uint64_t* outSpecular);

// Both maps of one light state on one board; the host copies stay for the
// light-map events.
class ULMLightMap : public ULMShareable {
public:
    ULMLightMap(KWBBoard* inBoard, KWBBuffer* inDiffuse, KWBBuffer* inSpecular);
    // Takes ownership of both (either may be null).
    void SetBuffers(KWBBuffer* inDiffuse, KWBBuffer* inSpecular) {
        m_diffuse = inDiffuse;
        m_specular = inSpecular;
    }
    // Gives both buffers back to the board at once: renders already queued
    // keep their storage, and the words stay until the maps' loads have run.
    ~ULMLightMap() override;
    ULMLightMap(const ULMLightMap&) = delete;
    ULMLightMap& operator=(const ULMLightMap&) = delete;

    KWBBoard* Board() const { return m_board; }
    KWBBuffer* Diffuse() const { return m_diffuse; }
    KWBBuffer* Specular() const { return m_specular; }
    std::vector<uint64_t> m_diffuseWords = std::vector<uint64_t>(kLightMapEntries);
    std::vector<uint64_t> m_specularWords = std::vector<uint64_t>(kLightMapEntries);

private:
    KWBBoard* m_board;
    KWBBuffer* m_diffuse;
    KWBBuffer* m_specular;
};

}  // namespace ulm3
