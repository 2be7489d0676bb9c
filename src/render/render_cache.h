// The lookup tables of a volume's renders on its board, and the
// process-wide table of converted tables that every volume shares.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "foundation/locks.h"
#include "foundation/shareable.h"
#include "render/board_word_table.h"
#include "render/light_map.h"
#include "ulm3/sync_event.h"
#include "ulm3/status.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;
class ULMContext;
class ULMLookupTable;

// What a converted table depends on: the table and its state, the board,
// the slot (table 3 is expanded to 4096 entries) and the alpha conversion.
struct ULMLookupTableKey {
    uint64_t table = 0, serial = 0;
    int board = 0, slot = 0;
    double sampleDistance = 1.0;  // 1.0: alpha not corrected
    bool preWeighted = false;     // the colours scaled with alpha's correction
    double alphaLimit = 0.0;
    uint64_t scaleTable = 0, scaleSerial = 0;
    bool mprRGB = false;
    auto operator<=>(const ULMLookupTableKey&) const = default;
};

// Lookup-table caches shared by every volume; each entry holds one
// reference on its cache.
using ULMLookupTablesMap = std::map<ULMLookupTableKey, ReleasablePointer<ULMShareable>>;

// One per volume: the board buffers holding the tables of the render being
// built. Converted tables live in the shared map, so two volumes on one
// board rendering with one table state load it once.
class ULMRenderCache {
public:
    ULMRenderCache();
    // Waits for the loads still running and lets go of every table held.
    ~ULMRenderCache();
    ULMRenderCache(const ULMRenderCache&) = delete;
    ULMRenderCache& operator=(const ULMRenderCache&) = delete;

    // Binds the cache to inBoard; tables held for another board are let go.
    void Clear(KWBBoard* inBoard);
    // Holds the four tables (null: none) on the bound board: a table state
    // the board lacks has its load queued, never waited for, and the render
    // reading it follows the load through the buffer's load event. inContext
    // gives the sample distance's alpha correction and may be null (no
    // correction): folded into the one table whose alpha becomes the
    // sample's (and, for a pre-weighted blend, whose colours are the
    // sample's too, scaled as the alpha is), or else left to the chip's
    // correction table, which this loads too; inScaleTable, when given, multiplies alpha;
    // inUpAlphaLimit > 0 clamps alpha; inMaxSampleDistance > 0 is the
    // sample distance d (1.0 otherwise); inIsMPRRGBOn scales alpha by d
    // instead of correcting it, for an MPR render that sums its samples.
    ULMStatus SetupLookupTables(const ULMContext* inContext, ULMLookupTable* const inLuts[4],
                                const ULMLookupTable* inScaleTable, double inUpAlphaLimit,
                                double inMaxSampleDistance, bool inIsMPRRGBOn);
    // The board buffers of the loaded tables, null where none.
    void GetLutBuffers(KWBBuffer* outBuffers[4]) const;
    // The chip's alpha-correction table when the last SetupLookupTables
    // left the correction to it, else null.
    KWBBuffer* GetAlphaCorrectionTable() const { return m_alphaCorrectionUsed; }
    // Gives back the tables of the last SetupLookupTables once the
    // submission has taken its own references.
    void ReleaseLUT();

    // Holds the light maps of inContext's lights seen from volume axes
    // (inVolumeToLight: the matrix whose inverse takes world directions into
    // them) on the bound board, their loads queued as the tables' are. They
    // are rebuilt only when the lights, the exponent, the light mode, that
    // matrix or the board differ from the held maps'; outBuilt: 0 kept, 1
    // first build, 2 rebuild.
    ULMStatus SetupLightMaps(const ULMContext* inContext, const ULMMatrix& inVolumeToLight, int& outBuilt);
    // Queues the load of the 64-entry gradient-magnitude table, the
    // context's gradient table read linearly at i/63, unless the held one
    // has those values.
    ULMStatus SetupGradientTable(const ULMContext* inContext);
    KWBBuffer* GetGradientTable() const { return m_gradientTable.Buffer(); }
    // The held maps, null before the first build.
    const ULMLightMap* GetLightMap() const { return m_lightMap; }

    // Empties the shared table and lets go of the words kept for queued
    // table loads once those have run; a close step of the library, run
    // once the combined events are forgotten and before the boards close.
    static void Cleanup();

    // The shared table and the one lock that guards it.
    static ULMMutex& LookupTablesLock();
    static ULMLookupTablesMap& LookupTablesMap();

private:
    KWBBoard* m_board = nullptr;
    // The shared caches of the last SetupLookupTables, one reference each.
    ULMShareable* m_held[4] = {};
    KWBBuffer* m_lutBuffers[4] = {};

    // What the held light maps were built from.
    ULMLightMap* m_lightMap = nullptr;
    int m_lightMapBoard = -1;
    std::vector<double> m_lights;  // world direction and intensity, four per light
    double m_exponent = 0.0;
    ULMContext::LightMode m_lightMode = ULMContext::kBidirectionalSpecular;
    ULMMatrix m_lightSpace;
    // The gradient-magnitude and alpha-correction tables.
    ULMBoardWordTable m_gradientTable;
    ULMBoardWordTable m_alphaCorrection;
    KWBBuffer* m_alphaCorrectionUsed = nullptr;
};

}  // namespace ulm3
