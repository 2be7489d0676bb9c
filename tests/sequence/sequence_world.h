// The pool of live objects a random sequence of public calls works on, and
// what the test knows of their contents: the voxels each volume was last
// given through Create, Update or a write-back, and the pixels an image was
// last given through Clear or Update.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ulm3.h"

namespace seqtest {

using namespace ulm3;

// Raised by an oracle; the runner reports the first one.
struct OracleFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Deterministic choices from a 64-bit seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_engine(seed) {}
    uint32_t Next() { return uint32_t(m_engine()); }
    // A number in lo..hi, both included.
    int Int(int lo, int hi) { return hi <= lo ? lo : lo + int(Next() % uint32_t(hi - lo + 1)); }
    bool Chance(int percent) { return Int(0, 99) < percent; }
    double Real(double lo, double hi) { return lo + (hi - lo) * (Next() / 4294967296.0); }

private:
    std::mt19937_64 m_engine;
};

// The value a destination is filled with before a read, and the value the
// test overwrites a finished call's block with. Voxels the test writes never
// take either, so any of them found in a read was not written there.
inline constexpr uint32_t kFillVoxel8 = 0xEE, kFillVoxel16 = 0xEEEE;
inline constexpr uint32_t kStaleVoxel8 = 0xDD, kStaleVoxel16 = 0xDDDD;
inline constexpr int kUnknown = -1;

// Pixels before a read or render: no two neighbours alike.
inline uint32_t FillPixel(size_t i) { return 0x01020304u * uint32_t(i % 61 + 1) ^ 0x80000000u; }
// Pixels of an image before a render into it: never a read's fill (bit 30),
// nor a value the test writes (bit 31).
inline uint32_t RenderFillPixel(size_t i) { return FillPixel(i) ^ 0x40000000u; }

enum class VolumeKind { kPlain, kBands, kBricksOnBoard, kBricksOnHost };

struct VolumeSlot {
    ULMVolume* volume = nullptr;
    VolumeKind kind = VolumeKind::kPlain;
    bool mipmap = false;
    int bits = 8;
    unsigned size[3] = {};
    bool hostVoxels = true;
    std::vector<uint8_t> voxels;  // the caller's voxels the volume is made over
    std::vector<int32_t> model;   // voxel value, or kUnknown
    bool locked = false;
    bool addressed = false;  // an offset, wrap or buffer resize was asked for
    uint64_t writes = 0;     // counts every change of the model
    // The platform's failed jobs when the model last changed: a job failed
    // since (an update's load among them) leaves the board's voxels unknown,
    // and a render that follows it may answer OK once queued and draw nothing.
    uint64_t failedJobsAtWrite = 0;

    size_t Count() const { return size_t(size[0]) * size[1] * size[2]; }
    int Bytes() const { return bits / 8; }
    uint32_t FillValue() const { return bits == 8 ? kFillVoxel8 : kFillVoxel16; }
    uint32_t StaleValue() const { return bits == 8 ? kStaleVoxel8 : kStaleVoxel16; }
    uint32_t HostVoxel(size_t i) const;
};

struct ImageSlot {
    ULMImageBuffer* image = nullptr;
    ULMLocation location = kULMSystem;
    unsigned width = 0, height = 0;
    bool wrapped = false;
    ULMMigrationMode migration = kULMMigrationNone;
    int offset[2] = {0, 0};
    int wrap[2] = {0, 0};
    std::vector<int64_t> model;  // by element (offset addressing only), or kUnknown
    uint64_t writes = 0;         // counts every write, render and change of addressing
};

struct DepthSlot {
    ULMDepthBuffer* depth = nullptr;
    ULMLocation location = kULMSystem;
    unsigned width = 0, height = 0;
};

// A Start call not yet waited for; the caller's block stays alive until the
// wait, as the header asks.
struct PendingCall {
    enum Kind { kUnload, kUpdate, kImageUnload, kRender, kMipmap } kind = kUnload;
    ULMSyncEvent event;
    int slot = -1;        // the volume, or the image read or rendered into
    ULMVolumeRange range;
    ULMImageRange imageRange;  // what is read back
    ULMImageRange asked;       // what a render was asked to write
    uint64_t objectId = 0;     // the object read, written or rendered into
    ImageSlot imageAtStart;    // what the test knew of an image read when the read started
    std::shared_ptr<std::vector<uint8_t>> block;
    std::vector<int32_t> expected;  // the model of the range when the call started
    uint64_t writesAtStart = 0;
    uint64_t failedJobsAtStart = 0;
    bool aborted = false;
    std::string what;
};

inline constexpr int kVolumeSlots = 4, kImageSlots = 3, kDepthSlots = 2, kContextSlots = 2,
                     kTableSlots = 2, kPendingSlots = 4;

class World {
public:
    World(int boards, bool print) : m_boards(boards), m_print(print) {}
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    int Boards() const { return m_boards; }
    // Set once the platform was told to fail a request: from then on a call
    // may fail where it did not before.
    bool injected = false;
    void Log(const std::string& line);
    const std::vector<std::string>& Lines() const { return m_lines; }

    VolumeSlot volumes[kVolumeSlots];
    ImageSlot images[kImageSlots];
    DepthSlot depths[kDepthSlots];
    ULMContext* contexts[kContextSlots] = {};
    ULMLookupTable* tables[kTableSlots] = {};
    std::unique_ptr<PendingCall> pending[kPendingSlots];

    void ReleaseVolume(int slot);
    void ReleaseImage(int slot);
    void ReleaseDepth(int slot);
    // Waits for every pending call and gives every object back.
    void ReleaseAll();

private:
    int m_boards;
    bool m_print;
    std::vector<std::string> m_lines;
};

// Model helpers.
size_t VoxelIndex(const VolumeSlot& v, int x, int y, int z);
bool InsideVolume(const VolumeSlot& v, const ULMVolumeRange& r);
uint32_t ReadVoxel(const uint8_t* block, size_t i, int bytes);
void WriteVoxel(uint8_t* block, size_t i, int bytes, uint32_t value);
// The model of a range inside the volume, X fastest.
std::vector<int32_t> ModelOf(const VolumeSlot& v, const ULMVolumeRange& r);
// Stores a block into the model; inKnown false forgets the range instead.
void StoreModel(VolumeSlot& v, const ULMVolumeRange& r, const uint8_t* block, bool inKnown);
// Forgets every voxel whose model differs from the caller's own voxels:
// those the board may have dropped in favour of the volume's own.
void ForgetBoardOnly(VolumeSlot& v);

std::string RangeText(const ULMVolumeRange& r);
std::string ImageRangeText(const ULMImageRange& r);
const char* KindText(VolumeKind k);
std::string LocationText(ULMLocation l);

}  // namespace seqtest
