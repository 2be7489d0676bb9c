// Eight shaded samples of a row at once (AVX2), each lane computed as the
// scalar row computes its sample: classified through one field's table,
// the gradient blended from the slab, quantised to 9 bits and normalised,
// lit from the two reflectance maps and blended, every float step in the
// scalar order of operations, so the bytes do not depend on the
// instruction set.
#pragma once

#include <cstdint>
#include <vector>

#include "chip_arithmetic.h"
#include "chip_vector_rows.h"

// The chip's internals bind inside the library, so its calls inline.
#pragma GCC visibility push(hidden)

namespace tulx7sim::chip {

struct Ray;

// What the light a memo holds depends on besides a gradient: the maps a
// render reads (each whole, so that no read of theirs counts), the eye, and
// how the specular map is read.
struct LightInputs {
    bool diffuse = false, specular = false;
    bool bypassReflection = false, specularFrontOnly = false;
    float eye[3] = {};
    std::vector<Rgba> diffuseMap, specularMap;  // empty where not read
    // Every entry of the maps read with the same red, green and blue.
    bool Grey() const;
    // The same floats, bit for bit.
    bool Same(const LightInputs& other) const;
};

// What the two reflectance maps give each quantised gradient a render's
// lanes have lit. Past its 9-bit quantisation a sample's light depends on
// nothing but the gradient's three components and the render's lighting, so
// the maps' faces, divisions and cells need not be worked out again for a
// gradient met before: smooth volumes meet few. Direct-mapped by a hash of
// the components; its slots hold exactly what the lanes computed, so a
// recalled light is the computed one bit for bit. A slot holds {diffuse,
// specular, unused, key} where every map the render reads is grey (each
// entry's three colours equal, so the light's are too), else {diffuse[3],
// specular[3], unused, key}. A key holds the gradient's components, 10 bits
// each, and bit 31; 0 marks an empty slot.
class LightMemo {
public:
    static constexpr int kSlotBits = 16;
    // A memo of these inputs' light for a render: one an earlier render of
    // the same inputs gave back, whose slots hold still, else one emptied;
    // null where none can be had. The render gives it back when done, one
    // thread at a time holding it.
    static LightMemo* Take(const LightInputs& inputs);
    static void Give(LightMemo* memo);
    ~LightMemo();
    LightMemo(const LightMemo&) = delete;
    LightMemo& operator=(const LightMemo&) = delete;
    bool Grey() const { return m_grey; }
    // Slots aligned to their size; pages of them never used are never
    // touched. Null where they could not be had.
    char* Slots() const { return m_slots; }
    // Whether the lanes look groups up. The groups that are lit (not clear
    // in a mode that leaves those dark) are judged a thousand at a time:
    // where fewer than half of two such in a row were found (the first of a
    // render meets an empty memo; groups of no normal are not looked up),
    // the lanes stop looking for a pause of tiles (1, 3, 7, then 15 while
    // they keep missing), then try again, so that volumes whose gradients
    // seldom recur pay little for the memo.
    bool Looking() const { return m_looking; }
    void Lit(uint32_t groups, uint32_t found) {
        m_groups += groups;
        m_found += found;
        if (m_groups < kJudged) return;
        const bool missing = m_found * 2 < m_groups;
        if (missing && m_missing) {
            m_pause = m_pause * 2 + 1 < kLongestPause ? m_pause * 2 + 1 : kLongestPause;
            m_wait = m_pause;
            m_looking = false;
        } else if (!missing) {
            m_pause = 0;
        }
        m_missing = missing;
        m_groups = m_found = 0;
    }
    void BeginTile() {
        if (m_looking) return;
        if (m_wait > 0)
            --m_wait;
        else
            m_looking = true;
    }

private:
    explicit LightMemo(const LightInputs& inputs);
    // Empty slots for other inputs, and the judgement afresh.
    void Empty(const LightInputs& inputs);
    void Restart();

    static constexpr uint32_t kJudged = 1024, kLongestPause = 15;
    uint32_t m_groups = 0, m_found = 0, m_pause = 0, m_wait = 0;
    bool m_looking = true, m_missing = false;  // the last thousand missed
    LightInputs m_inputs;
    bool m_grey;
    void* m_block = nullptr;
    char* m_slots = nullptr;
};

// A row of shaded samples that read their voxels and voxel gradients
// straight from storage and the slab; the kernel checks nothing.
struct LitRow : RowVoxels {
    lanes::FieldDecode decode;       // the classified field's value from a voxel
    const Rgba* colours = nullptr;   // the routed colour of each table entry
    uint32_t valid = 0;              // entries of the table
    // Gradients: sample 0's voxel's slab entry, the entries per step along
    // the volume axis of Yv (one along that of Xv), and the corners.
    const Float4* slab = nullptr;
    int32_t slabStrideY = 0;
    int32_t slabCorner[8] = {};
    bool interpolate = true;
    bool correct = false;
    float correction[3][3] = {};
    // Lighting.
    float emissive = 1.0f, diffuse = 0.0f, specular = 0.0f;
    float eye[3] = {};
    float specularColour[3] = {};
    const Rgba* diffuseMap = nullptr;
    const Rgba* specularMap = nullptr;
    uint32_t diffuseValid = 0, specularValid = 0;
    bool bypassReflection = false, specularFrontOnly = false;
    bool weighted = false, weightedSpecular = false;
    bool mapsWhole = false;     // the maps lit by hold every entry: no read counts
    LightMemo* memo = nullptr;  // where the maps never count reads past them
    // Compositing: the plain modes only.
    uint32_t mode = NKW7_Code(NKW7_BlendMode::FrontToBack);
    bool earlyTermination = false, leaping = false;
    float threshold = 0.0f, emptyThreshold = 0.0f;
};

// The row of `width` rays, eight at a time. Needs AVX2.
RowOutcome LitRowAvx2(const LitRow& row, Ray* ray, uint32_t width);

}  // namespace tulx7sim::chip

#pragma GCC visibility pop
