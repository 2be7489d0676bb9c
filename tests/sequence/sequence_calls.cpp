#include "sequence/sequence_calls.h"

#include <cstring>

#include "sequence/sequence_oracles.h"

namespace seqtest {
namespace {

// How often each family comes, once the first objects exist.
constexpr int kWeights[int(Family::kCount)] = {
    5,   // create volume
    2,   // release volume
    10,  // update volume
    12,  // unload volume
    5,   // lock
    4,   // unlock
    4,   // address volume
    4,   // mipmap
    3,   // create image
    1,   // release image
    4,   // write image
    5,   // unload image
    3,   // address image
    1,   // create depth
    2,   // create context
    2,   // change table
    2,   // change context
    12,  // render
    8,   // finish pending
    2,   // release output first
    2,   // inject failure
};

Family ChooseFamily(Rng& r) {
    int total = 0;
    for (const int w : kWeights) total += w;
    int pick = r.Int(0, total - 1);
    for (int f = 0; f < int(Family::kCount); ++f) {
        if (pick < kWeights[f]) return Family(f);
        pick -= kWeights[f];
    }
    return Family::kRender;
}

// The slots each kind of object was created in so far, so that calls name
// objects that likely exist.
struct Made {
    std::vector<int> volumes, images, contexts, tables, depths;
    static int Pick(Rng& r, const std::vector<int>& made, int slots) {
        if (made.empty() || r.Chance(5)) return r.Int(0, slots - 1);
        return made[size_t(r.Int(0, int(made.size()) - 1))];
    }
    static void Add(std::vector<int>& made, int slot) {
        for (const int m : made)
            if (m == slot) return;
        made.push_back(slot);
    }
};

Call MakeCall(Rng& r, Family f, Made& made) {
    Call c;
    c.family = f;
    c.seed = (uint64_t(r.Next()) << 32) | r.Next();
    c.a = Made::Pick(r, made.volumes, kVolumeSlots);
    c.b = Made::Pick(r, made.contexts, kContextSlots);
    c.c = Made::Pick(r, made.images, kImageSlots);
    c.d = Made::Pick(r, made.depths, kDepthSlots);
    switch (f) {
        case Family::kCreateVolume: c.a = r.Int(0, kVolumeSlots - 1); Made::Add(made.volumes, c.a); break;
        case Family::kCreateImage: c.a = r.Int(0, kImageSlots - 1); Made::Add(made.images, c.a); break;
        case Family::kCreateDepth: c.a = r.Int(0, kDepthSlots - 1); Made::Add(made.depths, c.a); break;
        case Family::kCreateContext:
            c.a = r.Int(0, kContextSlots - 1);
            c.b = r.Int(0, kTableSlots - 1);
            Made::Add(made.contexts, c.a);
            Made::Add(made.tables, c.b);
            break;
        case Family::kReleaseImage:
        case Family::kWriteImage:
        case Family::kUnloadImage:
        case Family::kAddressImage: c.a = c.c; break;
        case Family::kChangeTable: c.a = Made::Pick(r, made.tables, kTableSlots); break;
        case Family::kChangeContext:
            c.a = c.b;
            c.b = Made::Pick(r, made.tables, kTableSlots);
            break;
        case Family::kFinishPending:
        case Family::kReleaseOutputFirst: c.a = r.Int(0, kPendingSlots - 1); break;
        default: break;
    }
    return c;
}

}  // namespace

Sequence Generate(uint64_t seed) {
    Rng r(seed * 0x9E3779B97F4A7C15ull + 17);
    Sequence s;
    s.boards = r.Int(1, 3);
    s.latencyUs = r.Chance(60) ? r.Int(100, 800) : 0;
    // A world to work in first: volumes, images and a context.
    Made made;
    for (const Family f : {Family::kCreateVolume, Family::kCreateVolume, Family::kCreateImage,
                           Family::kCreateImage, Family::kCreateContext}) {
        s.calls.push_back(MakeCall(r, f, made));
    }
    const int n = r.Int(30, 80);
    while (int(s.calls.size()) < n) s.calls.push_back(MakeCall(r, ChooseFamily(r), made));
    return s;
}

std::string Execute(World& w, const Call& c) {
    switch (c.family) {
        case Family::kCreateVolume: return CreateVolume(w, c);
        case Family::kReleaseVolume: {
            const int slot = c.a % kVolumeSlots;
            if (w.volumes[slot].volume == nullptr) return "";
            w.ReleaseVolume(slot);
            return "Release " + Name('V', slot);
        }
        case Family::kUpdateVolume: return UpdateVolume(w, c);
        case Family::kUnloadVolume: return UnloadVolume(w, c);
        case Family::kLockVolume:
        case Family::kUnlockVolume: return LockOrUnlock(w, c);
        case Family::kAddressVolume: return AddressVolume(w, c);
        case Family::kMipmap: return Mipmap(w, c);
        case Family::kCreateImage: return CreateImage(w, c);
        case Family::kReleaseImage: {
            const int slot = c.a % kImageSlots;
            if (w.images[slot].image == nullptr) return "";
            w.ReleaseImage(slot);
            return "Release " + Name('I', slot);
        }
        case Family::kWriteImage: return WriteImage(w, c);
        case Family::kUnloadImage: return UnloadImage(w, c);
        case Family::kAddressImage: return AddressImage(w, c);
        case Family::kCreateDepth: return CreateDepth(w, c);
        case Family::kCreateContext: return CreateContext(w, c);
        case Family::kChangeTable: return ChangeTable(w, c);
        case Family::kChangeContext: return ChangeContext(w, c);
        case Family::kRender: return Render(w, c);
        case Family::kFinishPending: return FinishPending(w, c);
        case Family::kReleaseOutputFirst: return ReleaseOutputFirst(w, c);
        case Family::kInjectFailure: return InjectFailure(w, c);
        case Family::kCount: break;
    }
    return "";
}

std::string Name(char prefix, int slot) { return std::string(1, prefix) + std::to_string(slot); }

ULMVolumeRange ChooseBox(Rng& r, const VolumeSlot& v, bool inValid) {
    ULMVolumeRange box;
    for (int a = 0; a < 3; ++a) {
        const int n = int(v.size[a]);
        const int size = r.Int(1, n > 24 ? 24 : n);  // a few thousand voxels at most
        box.m_size[a] = size;
        box.m_origin[a] = r.Int(0, n - size);
    }
    if (!inValid) {
        const int a = r.Int(0, 2);
        switch (r.Int(0, 2)) {
            case 0: box.m_origin[a] = int(v.size[a]) - box.m_size[a] / 2; break;  // past the end
            case 1: box.m_origin[a] = -1 - r.Int(0, 3); break;                        // before the start
            default: box.m_size[a] = r.Chance(50) ? 0 : -2; break;                   // empty
        }
    }
    return box;
}

ULMImageRange WholeImage(const ImageSlot& img) {
    if (img.wrapped) return ULMImageRange(int(img.width), int(img.height), 0, 0);
    return ULMImageRange(int(img.width), int(img.height), img.offset[0], img.offset[1]);
}

ULMImageRange ChooseImageRange(Rng& r, const ImageSlot& img, bool inValid) {
    const ULMImageRange whole = WholeImage(img);
    ULMImageRange out;
    for (int a = 0; a < 2; ++a) {
        const int n = whole.m_size[a];
        out.m_size[a] = r.Int(1, n);
        out.m_origin[a] = whole.m_origin[a] + r.Int(0, n - out.m_size[a]);
    }
    if (!inValid) {
        const int a = r.Int(0, 1);
        if (r.Chance(50)) out.m_origin[a] = whole.m_origin[a] + whole.m_size[a] - out.m_size[a] / 2 - 1;
        else out.m_size[a] = r.Chance(50) ? 0 : -3;
    }
    return out;
}

int FreePending(const World& w) {
    for (int i = 0; i < kPendingSlots; ++i)
        if (!w.pending[i]) return i;
    return -1;
}

void AfterWriteAnswered(std::vector<uint8_t>& block, int bytes, uint32_t stale, const std::string& what) {
    for (size_t i = 0; i < block.size() / size_t(bytes); ++i) WriteVoxel(block.data(), i, bytes, stale);
    const std::vector<uint8_t> before = block;
    FinishBoardWork();
    CheckBlockUntouched(before, block, what);
}

void AfterReadAnswered(const std::vector<uint8_t>& block, const std::string& what) {
    const std::vector<uint8_t> before = block;
    FinishBoardWork();
    CheckBlockUntouched(before, block, what);
}

}  // namespace seqtest
