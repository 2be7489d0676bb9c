// Lookup tables converted for the chip and loaded once per table state and
// board, shared by every volume through a process-wide table that the
// library's close empties.
#include "render/render_cache.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_range.h"
#include "context/context_upper_layers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/locks.h"
#include "foundation/sync_event.h"
#include "foundation/upper_layers.h"
#include "render/table_buffer_return.h"
#include "ulm3/configuration.h"
#include "ulm3/context.h"
#include "ulm3/light.h"
#include "ulm3/lookup_table.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

namespace {

// One converted table in a one-axis board buffer of exactly entries x 64
// bits. Its load is only queued: the words it reads stay until the board has
// run it, and renders that read the table follow the load through the
// buffer's load event.
class ULMLookupTableCache : public ULMShareable {
public:
    ULMLookupTableCache(KWBBoard* inBoard, std::vector<uint64_t> inWords)
        : m_board(inBoard), m_words(std::move(inWords)) {
        SetObjectType(this, kObjectTypeULMLookupTableCache);
    }
    // The last reference goes once no render being built holds the cache:
    // renders already queued keep the board's storage, the load its words.
    ~ULMLookupTableCache() override { ULMReturnTableBuffer(m_board, m_buffer, std::move(m_words)); }
    // Makes the buffer and queues the load of the words into it.
    ULMStatus StartLoad() {
        ULMStatus status = kULMOK;
        m_buffer = m_board->CreateBuffer(static_cast<uint32_t>(m_words.size()), 0, 0, 64, status);
        if (m_buffer == nullptr) return ULMFailed(status) ? status : kULMErrAlloc;
        return ULMStatusOnceQueued(m_board->StartLoadBuffer(m_buffer, m_words.data(),
                                                            KWBRange(0, static_cast<int16_t>(m_words.size() - 1)),
                                                            0, 0, KWBBoard::kPlainHostMemory));
    }
    KWBBuffer* Buffer() const { return m_buffer; }
    // Whether renders may read the table: its load is queued or has run
    // well. One that failed as it ran is loaded anew by the next render.
    // Asked under the table's lock. The buffer's own board event is asked,
    // not the joined event of the load's pieces, whose slot is reused once
    // enough later joins have been made.
    bool Usable() {
        if (m_loadedWell) return true;
        const ULMSyncEvent loaded = m_buffer->GetLoadEvent();
        if (!loaded.IsDone()) return true;
        m_loadedWell = !ULMFailed(loaded.Wait(0));
        return m_loadedWell;
    }

private:
    KWBBoard* m_board;
    KWBBuffer* m_buffer = nullptr;
    std::vector<uint64_t> m_words;
    bool m_loadedWell = false;
};

// Built on first use so that a close run late in the process (from another
// static destructor) still finds the table.
struct LookupTables {
    ULMMutex lock;
    ULMLookupTablesMap map;
};

LookupTables& Tables() {
    static LookupTables* const sTables = new LookupTables;
    return *sTables;
}

// Caches taken out of the map under its lock, one reference each, released
// once the lock is let go: a cache's destructor gives its buffer back to the
// board. A render being built holds a reference of its own from its set-up
// until it has been queued, and the cache goes with the last reference.
using RetiredCaches = std::vector<ULMLookupTableCache*>;

ULMLookupTablesMap::iterator RetireEntry(LookupTables& t, ULMLookupTablesMap::iterator inEntry,
                                         RetiredCaches& outRetired) {
    inEntry->second->AddRef();
    outRetired.push_back(static_cast<ULMLookupTableCache*>(inEntry->second.GetPointer()));
    return t.map.erase(inEntry);
}

void ReleaseAll(const RetiredCaches& inCaches) {
    for (ULMLookupTableCache* cache : inCaches) cache->Release();
}

// Moves the other states of the key's table, board and slot out of the map.
void Retire(LookupTables& t, const ULMLookupTableKey& inKey, RetiredCaches& outRetired) {
    for (auto it = t.map.lower_bound(ULMLookupTableKey{inKey.table}); it != t.map.end() && it->first.table == inKey.table;) {
        const ULMLookupTableKey& k = it->first;
        if (k.board == inKey.board && k.slot == inKey.slot && k.serial != inKey.serial)
            it = RetireEntry(t, it, outRetired);
        else
            ++it;
    }
}

// A table gone: every state of it, and every state it scaled, on every
// board goes as soon as no render being built holds it.
void DropTable(uint64_t inTableID) {
    RetiredCaches retired;
    {
        LookupTables& t = Tables();
        ULMScopedLock lock(t.lock);
        for (auto it = t.map.begin(); it != t.map.end();) {
            if (it->first.table != inTableID && it->first.scaleTable != inTableID)
                ++it;
            else
                it = RetireEntry(t, it, retired);
        }
    }
    ReleaseAll(retired);
}

[[maybe_unused]] const bool gRegistered = (ULMRegisterCloseStep(&ULMRenderCache::Cleanup),
                                           ULMRegisterTableGoneHandler(&DropTable), true);

// The table whose channel alone becomes the classified channel, or -1:
// each Alu passes its A (code 3) or B (code 5) input through unchanged.
int RoutedTable(const ULMClassifier& inClassifier, ULMChannel inChannel) {
    constexpr int kPassA = 3, kPassB = 5;
    auto code = [&](int inAlu) {
        const ULMOperation operation = inClassifier.GetOperation(inAlu);
        switch (inChannel) {
        case kULMChannelRed: return static_cast<int>(operation.GetRed());
        case kULMChannelGreen: return static_cast<int>(operation.GetGreen());
        case kULMChannelBlue: return static_cast<int>(operation.GetBlue());
        default: return static_cast<int>(operation.GetAlpha());
        }
    };
    const int top = code(2);
    if (top != kPassA && top != kPassB) return -1;
    const int alu = top == kPassA ? 0 : 1;
    const int op = code(alu);
    if (op != kPassA && op != kPassB) return -1;
    return 2 * alu + (op == kPassA ? 0 : 1);
}

// Whether a table's channel can take a conversion: an unsigned fraction
// inside the entry.
bool ChannelConvertible(const ULMLookupTable& inTable, ULMChannel inChannel) {
    const ULMFieldDescriptor field = inTable.GetFieldDescriptor(inChannel);
    return field.m_format == kULMUnsignedFraction && field.m_size > 0 && field.m_size <= 32 &&
           field.m_position + field.m_size <= 64;
}

bool AlphaConvertible(const ULMLookupTable& inTable) { return ChannelConvertible(inTable, kULMChannelAlpha); }

constexpr ULMChannel kColourChannels[3] = {kULMChannelRed, kULMChannelGreen, kULMChannelBlue};

// Whether the sample's red, green and blue are the table's own, as they
// stand, so that the table in slot inSlot can carry what a correction
// does to them.
bool ColoursFromTable(const ULMClassifier& inClassifier, const ULMLookupTable& inTable, int inSlot) {
    for (const ULMChannel channel : kColourChannels)
        if (RoutedTable(inClassifier, channel) != inSlot || !ChannelConvertible(inTable, channel)) return false;
    return true;
}

// The chip's correction of alpha for sample distance d: 1 - (1 - a)^d, or
// a d for an MPR that sums its samples, at its 56 knots a = e/55, a 12-bit
// fraction in lane 0.
std::vector<uint64_t> AlphaCorrectionWords(double inDistance, bool inScale) {
    std::vector<uint64_t> words(56);
    for (size_t e = 0; e < words.size(); ++e) {
        const double a = static_cast<double>(e) / 55.0;
        words[e] = static_cast<uint64_t>(ULMConvertFloatTo12(inScale ? a * inDistance : 1.0 - std::pow(1.0 - a, inDistance)))
                   << 4;
    }
    return words;
}

// The words the board reads for a table: alpha corrected for the sample
// distance (an MPR's scaled by it instead), limited and scaled as the key
// asks; a 256-entry table in slot 3 is repeated sixteen times per entry,
// since that slot is indexed by 12 bits.
std::vector<uint64_t> ConvertTable(const ULMLookupTable& inTable, const ULMLookupTableKey& inKey,
                                   const ULMLookupTable* inScale) {
    const unsigned n = inTable.GetSize();
    std::vector<uint64_t> words(n);
    inTable.Unload(0, n, words.data());
    const ULMFieldDescriptor alpha = inTable.GetFieldDescriptor(kULMChannelAlpha);
    const bool changeAlpha = inKey.sampleDistance != 1.0 || inKey.alphaLimit > 0.0 ||
                             inScale != nullptr || inKey.mprRGB;
    if (changeAlpha && AlphaConvertible(inTable)) {
        for (unsigned e = 0; e < n; ++e) {
            double a = ULMDecodeElementField(words[e], alpha);
            if (inKey.sampleDistance != 1.0 && !inKey.mprRGB) {
                const double corrected = 1.0 - std::pow(1.0 - a, inKey.sampleDistance);
                // A pre-weighted colour carries its alpha: it scales as the
                // alpha the entry will hold does (at 0 as the slope there, d).
                if (inKey.preWeighted) {
                    const double held = ULMDecodeElementField(ULMStoreElementField(0, corrected, alpha), alpha);
                    const double scale = a > 0.0 ? held / a : inKey.sampleDistance;
                    for (const ULMChannel channel : kColourChannels) {
                        const ULMFieldDescriptor colour = inTable.GetFieldDescriptor(channel);
                        words[e] = ULMStoreElementField(words[e], ULMDecodeElementField(words[e], colour) * scale,
                                                        colour);
                    }
                }
                a = corrected;
            }
            if (inKey.alphaLimit > 0.0) a = std::min(a, inKey.alphaLimit);
            if (inScale != nullptr && inScale->GetSize() > 0) {
                ULMRGBAFloat s;
                inScale->GetEntry(std::min(e, inScale->GetSize() - 1), s);
                a *= s.m_alpha;
            }
            if (inKey.mprRGB) a *= inKey.sampleDistance;
            words[e] = ULMStoreElementField(words[e], a, alpha);
        }
    }
    if (inKey.slot == 3 && n == 256) {
        std::vector<uint64_t> wide(4096);
        for (unsigned e = 0; e < 4096; ++e) wide[e] = words[e >> 4];
        words.swap(wide);
    }
    return words;
}

// One reference on the cache of the key's table state, in the map or
// queued for loading now. The table's lock is never held across work on
// the board: the table is converted and its load queued outside it, and a
// thread that finds the state cached meanwhile by another keeps that one.
ULMStatus HoldTable(KWBBoard* inBoard, const ULMLookupTable& inTable, const ULMLookupTableKey& inKey,
                    const ULMLookupTable* inScaleTable, ULMShareable*& outHeld) {
    LookupTables& t = Tables();
    RetiredCaches retired;
    bool cached = false;
    {
        ULMScopedLock lock(t.lock);
        auto found = t.map.find(inKey);
        if (found != t.map.end() && !static_cast<ULMLookupTableCache*>(found->second.GetPointer())->Usable()) {
            RetireEntry(t, found, retired);
            found = t.map.end();
        }
        if (found != t.map.end()) {
            outHeld = found->second.GetPointer();
            outHeld->AddRef();
            cached = true;
        }
    }
    ReleaseAll(retired);
    if (cached) return kULMOK;
    retired.clear();
    auto* cache = new (std::nothrow) ULMLookupTableCache(inBoard, ConvertTable(inTable, inKey, inScaleTable));
    if (cache == nullptr) return kULMErrAlloc;
    cache->AddRef();
    const ULMStatus started = cache->StartLoad();
    {
        ULMScopedLock lock(t.lock);
        if (ULMFailed(started)) {
            // Pieces of the load may have been queued before one was refused:
            // the cache's destructor keeps the words they read.
            retired.push_back(cache);
        } else {
            Retire(t, inKey, retired);
            auto [entry, inserted] = t.map.try_emplace(inKey, cache);
            if (!inserted) retired.push_back(cache);
            outHeld = entry->second.GetPointer();
            outHeld->AddRef();
        }
    }
    ReleaseAll(retired);
    return started;
}

}  // namespace

ULMRenderCache::ULMRenderCache() = default;

ULMRenderCache::~ULMRenderCache() {
    ReleaseLUT();
    if (m_lightMap != nullptr) m_lightMap->Release();
}

void ULMRenderCache::Clear(KWBBoard* inBoard) {
    if (inBoard != m_board) ReleaseLUT();
    m_board = inBoard;
}

ULMStatus ULMRenderCache::SetupLookupTables(const ULMContext* inContext, ULMLookupTable* const inLuts[4],
                                            const ULMLookupTable* inScaleTable, double inUpAlphaLimit,
                                            double inMaxSampleDistance, bool inIsMPRRGBOn) {
    ReleaseLUT();
    m_alphaCorrectionUsed = nullptr;
    if (m_board == nullptr) return kULMErrArgument;
    const double d = inMaxSampleDistance > 0.0 ? inMaxSampleDistance : 1.0;
    // Blends that take a sample's colour as weighted by its alpha: the
    // correction of the alpha scales the colour too.
    const ULMBlendMode mode = inContext != nullptr ? inContext->GetBlendMode() : kULMBlendNone;
    const bool preWeighted =
        d != 1.0 && !inIsMPRRGBOn && (mode == kULMBlendBTFPreWeighted || mode == kULMBlendFTBPreWeighted);
    int alphaTable = inContext != nullptr ? RoutedTable(inContext->GetClassifier(), kULMChannelAlpha) : -1;
    if (alphaTable >= 0 && (inLuts[alphaTable] == nullptr || inLuts[alphaTable]->GetSize() == 0 ||
                            !AlphaConvertible(*inLuts[alphaTable]) ||
                            (preWeighted && !ColoursFromTable(inContext->GetClassifier(), *inLuts[alphaTable],
                                                              alphaTable))))
        alphaTable = -1;
    if (d != 1.0 && inContext != nullptr && alphaTable < 0) {
        // Alpha combined from several tables, or not taken from one, or a
        // pre-weighted colour that is not that table's: the chip corrects
        // the combined value, and scales such a colour with it.
        const ULMStatus loaded = m_alphaCorrection.Load(m_board, AlphaCorrectionWords(d, inIsMPRRGBOn));
        if (loaded != kULMOK) return loaded;
        m_alphaCorrectionUsed = m_alphaCorrection.Buffer();
    }

    for (int slot = 0; slot < 4; ++slot) {
        ULMLookupTable* table = inLuts[slot];
        if (table == nullptr || table->GetSize() == 0) continue;
        ULMLookupTableKey key;
        key.table = table->GetObjectID();
        key.serial = table->GetSerial();
        key.board = m_board->GetID();
        key.slot = slot;
        key.sampleDistance = slot == alphaTable ? d : 1.0;
        key.preWeighted = slot == alphaTable && preWeighted;
        key.alphaLimit = inUpAlphaLimit;
        if (inScaleTable != nullptr) {
            key.scaleTable = inScaleTable->GetObjectID();
            key.scaleSerial = inScaleTable->GetSerial();
        }
        key.mprRGB = inIsMPRRGBOn;

        const ULMStatus held = HoldTable(m_board, *table, key, inScaleTable, m_held[slot]);
        if (held != kULMOK) return held;
        m_lutBuffers[slot] = static_cast<ULMLookupTableCache*>(m_held[slot])->Buffer();
    }
    return kULMOK;
}

void ULMRenderCache::GetLutBuffers(KWBBuffer* outBuffers[4]) const {
    for (int i = 0; i < 4; ++i) outBuffers[i] = m_lutBuffers[i];
}

void ULMRenderCache::ReleaseLUT() {
    for (int i = 0; i < 4; ++i) {
        m_lutBuffers[i] = nullptr;
        if (m_held[i] != nullptr) m_held[i]->Release();
        m_held[i] = nullptr;
    }
}

namespace {

// The context's lights as directions in the axes the maps are read in.
ULMLightSet LightsInVolumeAxes(const ULMContext* inContext, const ULMMatrix& inVolumeToLight) {
    ULMLightSet set;
    double diffuse = 0, specular = 0, emissive = 0;
    inContext->GetReflectionProperties(diffuse, specular, emissive, set.exponent);
    set.mode = gULMControl.m_lightMode;
    ULMMatrix linear = inVolumeToLight;
    for (int i = 0; i < 3; ++i) linear.m_matrix[i][3] = linear.m_matrix[3][i] = 0.0;
    linear.m_matrix[3][3] = 1.0;
    const ULMMatrix toVolume = linear.Inverse();
    for (int i = 0; i < inContext->GetLightCount(); ++i) {
        const ULMLight* light = inContext->GetLight(i);
        const ULMVector3D w = light->GetDirection();
        const ULMVector4D v = toVolume * ULMVector4D(w[0], w[1], w[2], 0.0);
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (!(length > 0.0)) continue;
        set.direction.insert(set.direction.end(), {v[0] / length, v[1] / length, v[2] / length});
        set.intensity.push_back(light->GetIntensity());
    }
    return set;
}

// The map's load is only queued: the words it reads live in the light map,
// which keeps them until the board has run it, and renders follow it
// through the buffer's load event. A refused load's buffer is returned too:
// pieces queued before the refusal read the words, and the map gives both
// back together.
KWBBuffer* LoadMap(KWBBoard* inBoard, const uint64_t* inWords, ULMStatus& outStatus) {
    KWBBuffer* buffer = inBoard->CreateBuffer(kLightMapEntries, 0, 0, 64, outStatus);
    if (buffer == nullptr) {
        if (!ULMFailed(outStatus)) outStatus = kULMErrAlloc;
        return nullptr;
    }
    outStatus = ULMStatusOnceQueued(inBoard->StartLoadBuffer(buffer, inWords, KWBRange(0, kLightMapEntries - 1), 0, 0,
                                                             KWBBoard::kPlainHostMemory));
    return buffer;
}

}  // namespace

ULMStatus ULMRenderCache::SetupLightMaps(const ULMContext* inContext, const ULMMatrix& inVolumeToLight,
                                         int& outBuilt) {
    outBuilt = 0;
    if (m_board == nullptr || inContext == nullptr) return kULMErrArgument;
    double diffuse = 0, specular = 0, emissive = 0, exponent = 0;
    inContext->GetReflectionProperties(diffuse, specular, emissive, exponent);
    // Renders read copies of the lights, made as they start: the maps follow
    // the lights' values, whichever objects hold them.
    const int count = inContext->GetLightCount();
    std::vector<double> values;
    values.reserve(static_cast<size_t>(count) * 4);
    for (int i = 0; i < count; ++i) {
        const ULMLight* light = inContext->GetLight(i);
        const ULMVector3D direction = light->GetDirection();
        values.insert(values.end(), {direction[0], direction[1], direction[2], light->GetIntensity()});
    }
    bool same = m_lightMap != nullptr && m_lightMapBoard == m_board->GetID() && exponent == m_exponent &&
                gULMControl.m_lightMode == m_lightMode && inVolumeToLight == m_lightSpace && values == m_lights;
    if (same) return kULMOK;

    const ULMLightSet lights = LightsInVolumeAxes(inContext, inVolumeToLight);
    auto* map = new (std::nothrow) ULMLightMap(m_board, nullptr, nullptr);
    if (map == nullptr) return kULMErrAlloc;
    map->AddRef();
    BuildLightMaps(lights, map->m_diffuseWords.data(), map->m_specularWords.data());
    ULMStatus status = kULMOK;
    KWBBuffer* diffuseBuffer = LoadMap(m_board, map->m_diffuseWords.data(), status);
    KWBBuffer* specularBuffer =
        ULMFailed(status) ? nullptr : LoadMap(m_board, map->m_specularWords.data(), status);
    map->SetBuffers(diffuseBuffer, specularBuffer);
    if (ULMFailed(status)) {
        map->Release();
        return status;
    }
    outBuilt = m_lightMapBoard >= 0 ? 2 : 1;
    // The old maps go back to their board, which may be one the volume has
    // left, at once: renders queued with them keep their storage.
    if (m_lightMap != nullptr) m_lightMap->Release();
    m_lightMap = map;
    m_lightMapBoard = m_board->GetID();
    m_lights = std::move(values);
    m_exponent = exponent;
    m_lightMode = gULMControl.m_lightMode;
    m_lightSpace = inVolumeToLight;
    return kULMOK;
}

ULMStatus ULMRenderCache::SetupGradientTable(const ULMContext* inContext) {
    if (m_board == nullptr || inContext == nullptr) return kULMErrArgument;
    const int knots = ULMConfiguration::GetGradientTableLength();
    std::vector<double> table(static_cast<size_t>(std::max(knots, 2)), 1.0);
    if (knots >= 2) inContext->GetGradientTable(table.data());
    std::vector<uint64_t> words(64);
    for (int i = 0; i < 64; ++i) {
        const double x = i / 63.0 * static_cast<double>(table.size() - 1);
        const size_t k = std::min(static_cast<size_t>(x), table.size() - 2);
        const double value = table[k] + (x - static_cast<double>(k)) * (table[k + 1] - table[k]);
        words[static_cast<size_t>(i)] = static_cast<uint64_t>(ULMConvertFloatTo12(value)) << 4;
    }
    return m_gradientTable.Load(m_board, std::move(words));
}

ULMMutex& ULMRenderCache::LookupTablesLock() { return Tables().lock; }

ULMLookupTablesMap& ULMRenderCache::LookupTablesMap() { return Tables().map; }

void ULMRenderCache::Cleanup() {
    ULMLookupTablesMap released;
    {
        ULMScopedLock lock(Tables().lock);
        released.swap(Tables().map);
    }
    // The references go back outside the lock, and before the words their
    // loads read are let go.
    released.clear();
    ULMFreeTableWords();
}

}  // namespace ulm3
