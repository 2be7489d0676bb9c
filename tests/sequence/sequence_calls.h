// The call families of a sequence. A sequence is generated whole from its
// seed as a list of call descriptions (a family, the object slots it names
// and a seed of its own for the rest of its arguments), so that any subset
// of it replays the same way; a call whose objects are gone is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequence/sequence_world.h"

namespace seqtest {

enum class Family {
    kCreateVolume,
    kReleaseVolume,
    kUpdateVolume,
    kUnloadVolume,
    kLockVolume,
    kUnlockVolume,
    kAddressVolume,
    kMipmap,
    kCreateImage,
    kReleaseImage,
    kWriteImage,
    kUnloadImage,
    kAddressImage,
    kCreateDepth,
    kCreateContext,
    kChangeTable,
    kChangeContext,
    kRender,
    kFinishPending,
    kReleaseOutputFirst,
    kInjectFailure,
    kCount,
};

struct Call {
    Family family = Family::kCreateVolume;
    int a = 0, b = 0, c = 0, d = 0;  // slots, by family
    uint64_t seed = 0;
};

struct Sequence {
    int boards = 1;
    int latencyUs = 0;
    std::vector<Call> calls;
};

Sequence Generate(uint64_t seed);

// Runs one call and returns its printable line ("" when it was skipped).
// Oracles throw OracleFailure.
std::string Execute(World& world, const Call& call);

// The families, one function each, by the file that holds them.
std::string CreateVolume(World& w, const Call& c);
std::string UpdateVolume(World& w, const Call& c);
std::string UnloadVolume(World& w, const Call& c);
std::string LockOrUnlock(World& w, const Call& c);
std::string AddressVolume(World& w, const Call& c);
std::string Mipmap(World& w, const Call& c);
std::string CreateImage(World& w, const Call& c);
std::string CreateDepth(World& w, const Call& c);
std::string WriteImage(World& w, const Call& c);
std::string UnloadImage(World& w, const Call& c);
std::string AddressImage(World& w, const Call& c);
std::string CreateContext(World& w, const Call& c);
std::string ChangeTable(World& w, const Call& c);
std::string ChangeContext(World& w, const Call& c);
std::string Render(World& w, const Call& c);
std::string FinishPending(World& w, const Call& c);
std::string ReleaseOutputFirst(World& w, const Call& c);
std::string InjectFailure(World& w, const Call& c);

// Shared by the families.
std::string Name(char prefix, int slot);
// A box of the volume (inside it unless inValid is false).
ULMVolumeRange ChooseBox(Rng& r, const VolumeSlot& v, bool inValid);
// A range of an image in its own coordinates (inside it unless inValid is false).
ULMImageRange ChooseImageRange(Rng& r, const ImageSlot& img, bool inValid);
ULMImageRange WholeImage(const ImageSlot& img);
// A free pending slot, or -1.
int FreePending(const World& w);
// The caller's block of a sync call, once answered: a write's block is
// overwritten with stale voxels, a read's is kept; either way, all board
// work is finished and the block must be as the test left it.
void AfterWriteAnswered(std::vector<uint8_t>& block, int bytes, uint32_t stale, const std::string& what);
void AfterReadAnswered(const std::vector<uint8_t>& block, const std::string& what);

}  // namespace seqtest
