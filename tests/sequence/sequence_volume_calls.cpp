// Volumes: creation of every kind, updates, unloads, locks and the board
// buffer's addressing.
#include <memory>

#include "sequence/sequence_calls.h"
#include "sequence/sequence_oracles.h"

namespace seqtest {
namespace {

const char* SourceText(ULMSource s) {
    return s == kULMUseBuffer ? "useBuffer" : s == kULMUseSource ? "useSource" : "useTarget";
}

// Voxel values the test writes: never the fill or the stale value.
uint32_t RandomVoxel(Rng& r, int bits) { return bits == 8 ? r.Int(0, 0xCF) : r.Int(0, 0xCFFF); }

std::vector<uint8_t> RandomBlock(Rng& r, const VolumeSlot& v, const ULMVolumeRange& box) {
    const size_t n = box.IsEmpty() ? 0 : size_t(box.XSize()) * box.YSize() * box.ZSize();
    std::vector<uint8_t> block(n * size_t(v.Bytes()) + 1);  // never empty, so data() is a real block
    const uint32_t base = RandomVoxel(r, v.bits);
    for (size_t i = 0; i < n; ++i) {
        // Smooth runs with noise, so that renders show structure.
        const uint32_t value = r.Chance(20) ? RandomVoxel(r, v.bits) : (base + uint32_t(i % 7)) % (v.bits == 8 ? 0xD0 : 0xD000);
        WriteVoxel(block.data(), i, v.Bytes(), value);
    }
    return block;
}

void SetKindParameters(VolumeKind kind, int pieces) {
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("MultiboardRenderMode", kind == VolumeKind::kBands ? 1 : 2);
    ULMSetParameter("MultiboardForceNumberOfVolumes", uint64_t(pieces));
    ULMSetParameter("Multiboard2ForceRender", kind == VolumeKind::kBricksOnHost ? 2 : 1);
    ULMSetParameter("MultiboardRenderEnable", kind == VolumeKind::kPlain ? 0 : 1);
}

// An unlock that writes the board's voxels back leaves the volume's own
// voxels (the caller's block it was made over) as the volume held them.
void CheckWrittenBack(const World& w, int slot, const std::string& what) {
    const VolumeSlot& v = w.volumes[slot];
    if (!v.hostVoxels) return;
    for (const auto& p : w.pending)
        if (p && p->objectId == v.volume->GetObjectID()) return;  // still running: not yet known
    size_t wrong = 0, first = 0;
    for (size_t i = 0; i < v.model.size(); ++i) {
        if (v.model[i] != kUnknown && uint32_t(v.model[i]) != v.HostVoxel(i) && wrong++ == 0) first = i;
    }
    if (wrong != 0) {
        throw OracleFailure("OK unlock did not write voxels back: " + what + " (" + std::to_string(wrong) +
                            " voxels, first at " + std::to_string(first) + ": holds " +
                            std::to_string(v.HostVoxel(first)) + " want " + std::to_string(v.model[first]) + ")");
    }
}

}  // namespace

std::string CreateVolume(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kVolumeSlots;
    w.ReleaseVolume(slot);
    VolumeSlot& v = w.volumes[slot];
    v.kind = VolumeKind(r.Int(0, 3));
    v.mipmap = r.Chance(25);
    v.bits = r.Chance(50) ? 8 : 16;
    // A level is made by a pass whose destinations are at least 12 voxels a side.
    for (unsigned& s : v.size) s = unsigned(v.mipmap ? r.Int(24, 30) : r.Int(3, 48));
    if (v.mipmap) v.size[r.Int(0, 2)] = 256;
    v.hostVoxels = !r.Chance(10);
    const int pieces = r.Chance(50) ? 0 : r.Int(2, 3);
    v.voxels.assign(v.Count() * size_t(v.Bytes()), 0);
    v.model.assign(v.Count(), kUnknown);
    const ULMVolumeRange whole(int(v.size[0]), int(v.size[1]), int(v.size[2]), 0, 0, 0);
    if (v.hostVoxels) {
        v.voxels = RandomBlock(r, v, whole);
        StoreModel(v, whole, v.voxels.data(), true);
    }
    SetKindParameters(v.kind, pieces);
    const ULMFieldDescriptor field{0, v.bits, kULMUnsignedFraction};
    v.volume = ULMVolume::Create(v.bits, v.size[0], v.size[1], v.size[2], 1, &field,
                                 v.hostVoxels ? v.voxels.data() : nullptr);
    ULMSetParameter("MultiboardRenderEnable", 0);
    v.failedJobsAtWrite = FailedJobs();
    std::string line = Name('V', slot) + " = Create " + KindText(v.kind) + (v.mipmap ? " mipmap " : " ") +
                       RangeText(whole) + " " + std::to_string(v.bits) + "-bit pieces " + std::to_string(pieces) +
                       (v.hostVoxels ? "" : " no-host-voxels");
    if (v.volume == nullptr) {
        w.ReleaseVolume(slot);
        return line + " -> null";
    }
    return line;
}

std::string UpdateVolume(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kVolumeSlots;
    VolumeSlot& v = w.volumes[slot];
    if (v.volume == nullptr) return "";
    const ULMVolumeRange box = ChooseBox(r, v, !r.Chance(15));
    const int p = FreePending(w);
    const bool start = r.Chance(35) && p >= 0;
    std::string line = (start ? "StartUpdate " : "Update ") + Name('V', slot) + " " + RangeText(box);
    if (start) {
        auto call = std::make_unique<PendingCall>();
        call->kind = PendingCall::kUpdate;
        call->slot = slot;
        call->objectId = v.volume->GetObjectID();
        call->range = box;
        call->block = std::make_shared<std::vector<uint8_t>>(RandomBlock(r, v, box));
        call->event = v.volume->StartUpdate(call->block->data(), box);
        CheckStatus(call->event.Status(), line);
        if (v.addressed) ForgetBoardOnly(v);
        StoreModel(v, box, nullptr, false);  // unknown until the wait
        call->writesAtStart = v.writes;
        call->what = line;
        w.pending[p] = std::move(call);
        return line + " -> P" + std::to_string(p);
    }
    std::vector<uint8_t> block = RandomBlock(r, v, box);
    const ULMStatus s = CheckStatus(v.volume->Update(block.data(), box), line);
    line += " -> " + StatusText(s);
    if (v.addressed) ForgetBoardOnly(v);
    StoreModel(v, box, block.data(), s == kULMOK);
    AfterWriteAnswered(block, v.Bytes(), v.StaleValue(), line);
    return line;
}

// An unload of the volume itself, or of a level of a mipmap volume.
std::string UnloadVolume(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kVolumeSlots;
    VolumeSlot& v = w.volumes[slot];
    if (v.volume == nullptr) return "";
    const ULMVolumeRange box = ChooseBox(r, v, !r.Chance(15));
    const int pick = r.Int(0, 9);
    const ULMSource source = pick < 6 ? kULMUseTarget : pick < 8 ? kULMUseBuffer : kULMUseSource;
    const int level = v.mipmap && r.Chance(25) ? r.Int(0, 1) : -1;
    std::string line = "Unload " + Name('V', slot) + (level >= 0 ? " level " + std::to_string(level) : "") + " " +
                       RangeText(box) + " " + SourceText(source);
    std::vector<int32_t> expected = InsideVolume(v, box) ? ModelOf(v, box) : std::vector<int32_t>{};
    if (source == kULMUseSource) {
        // The volume's own voxels: the caller's block it was made over.
        for (size_t i = 0; i < expected.size(); ++i) expected[i] = kUnknown;
        if (v.hostVoxels && InsideVolume(v, box)) {
            size_t i = 0;
            for (int z = 0; z < box.ZSize(); ++z)
                for (int y = 0; y < box.YSize(); ++y)
                    for (int x = 0; x < box.XSize(); ++x)
                        expected[i++] = int32_t(v.HostVoxel(
                            VoxelIndex(v, box.XOrigin() + x, box.YOrigin() + y, box.ZOrigin() + z)));
        }
    }
    ULMVolume* from = v.volume;
    if (level >= 0) {
        from = v.volume->GetMipmapLevel(level);
        if (from == nullptr) return line + " -> no level";
        if (level > 0) expected.assign(expected.size(), kUnknown);
    }
    const int p = FreePending(w);
    if (r.Chance(35) && p >= 0) {
        auto call = std::make_unique<PendingCall>();
        call->kind = PendingCall::kUnload;
        call->slot = slot;
        call->objectId = v.volume->GetObjectID();
        call->range = box;
        call->block = std::make_shared<std::vector<uint8_t>>(FilledVoxels(v, box));
        call->block->push_back(0);
        call->expected = expected;
        call->writesAtStart = v.writes;
        line = "Start" + line;
        call->event = from->StartUnload(call->block->data(), box, source);
        CheckStatus(call->event.Status(), line);
        call->what = line;
        w.pending[p] = std::move(call);
        return line + " -> P" + std::to_string(p);
    }
    std::vector<uint8_t> block = FilledVoxels(v, box);
    block.push_back(0);
    const ULMStatus s = CheckStatus(from->Unload(block.data(), box, source), line);
    line += " -> " + StatusText(s);
    if (s == kULMOK) {
        std::vector<uint8_t> read(block.begin(), block.end() - 1);
        CheckVoxelRead(v, read, expected, line, &box);
    }
    AfterReadAnswered(block, line);
    return line;
}

std::string LockOrUnlock(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kVolumeSlots;
    VolumeSlot& v = w.volumes[slot];
    if (v.volume == nullptr) return "";
    if (c.family == Family::kLockVolume) {
        const int pick = r.Int(0, 9);
        const ULMLocation at = pick < 6 ? ULMLocation(r.Int(0, w.Boards() - 1))
                               : pick < 9 ? kULMAnyBoard
                                          : (r.Chance(50) ? kULMSystem : ULMLocation(w.Boards() + 1));
        const ULMStatus s = CheckStatus(v.volume->LockVolume(at), "Lock");
        if (s == kULMOK) v.locked = true;
        return "Lock " + Name('V', slot) + " " + LocationText(at) + " -> " + StatusText(s);
    }
    const int unload = r.Int(0, 1);
    const std::string line = "Unlock " + Name('V', slot) + " unload " + std::to_string(unload);
    const ULMStatus s = CheckStatus(v.volume->UnlockVolume(unload), line);
    if (s == kULMOK && unload != 0) CheckWrittenBack(w, slot, line + " -> OK");
    if (s == kULMOK) {
        // Dropped board voxels read as the volume's own again; a volume
        // without voxels of its own has nowhere to write them back, and
        // they go with the buffer.
        if (unload == 0 || v.addressed || !v.hostVoxels) ForgetBoardOnly(v);
        v.locked = false;
        v.addressed = false;
    }
    return line + " -> " + StatusText(s);
}

std::string AddressVolume(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kVolumeSlots;
    VolumeSlot& v = w.volumes[slot];
    if (v.volume == nullptr) return "";
    std::string line;
    ULMStatus s = kULMOK;
    switch (r.Int(0, 2)) {
        case 0: {
            const int o[3] = {2 * r.Int(-3, 3), 2 * r.Int(-3, 3), 2 * r.Int(-3, 3)};
            s = v.volume->SetBufferOffset(o[0], o[1], o[2]);
            line = "SetBufferOffset " + Name('V', slot) + " " + std::to_string(o[0]) + "," + std::to_string(o[1]) +
                   "," + std::to_string(o[2]);
            break;
        }
        case 1: {
            int m[3];
            for (int a = 0; a < 3; ++a) m[a] = 1 << r.Int(3, 9);
            if (r.Chance(10)) m[r.Int(0, 2)] = 24;  // not a power of two
            s = v.volume->SetBufferWrap(m[0], m[1], m[2]);
            line = "SetBufferWrap " + Name('V', slot) + " " + std::to_string(m[0]) + "," + std::to_string(m[1]) +
                   "," + std::to_string(m[2]);
            break;
        }
        default: {
            unsigned n[3];
            for (int a = 0; a < 3; ++a) n[a] = unsigned(std::max(1, int(v.size[a]) + r.Int(-6, 4)));
            s = v.volume->ResizeBuffer(n[0], n[1], n[2]);
            line = "ResizeBuffer " + Name('V', slot) + " " + std::to_string(n[0]) + "x" + std::to_string(n[1]) + "x" +
                   std::to_string(n[2]);
            break;
        }
    }
    CheckStatus(s, line);
    if (s == kULMOK) {
        v.addressed = true;
        ForgetBoardOnly(v);
    }
    return line + " -> " + StatusText(s);
}

std::string Mipmap(World& w, const Call& c) {
    Rng r(c.seed);
    int slot = c.a % kVolumeSlots;
    // Mostly a volume that has levels.
    for (int i = 0; i < kVolumeSlots && r.Chance(90); ++i) {
        if (w.volumes[(slot + i) % kVolumeSlots].mipmap) {
            slot = (slot + i) % kVolumeSlots;
            break;
        }
    }
    VolumeSlot& v = w.volumes[slot];
    if (v.volume == nullptr) return "";
    const int level = r.Chance(85) ? 1 : r.Int(0, 9);
    const double shrink = r.Chance(85) ? 2.0 : r.Real(0.5, 4.0);
    std::string line = "GenerateMipmapLevel " + Name('V', slot) + " " + std::to_string(level) + " from 0 shrink " +
                       std::to_string(shrink);
    const int p = FreePending(w);
    if (r.Chance(35) && p >= 0) {
        auto call = std::make_unique<PendingCall>();
        call->kind = PendingCall::kMipmap;
        call->slot = slot;
        line = "Start" + line;
        call->event = v.volume->StartGenerateMipmapLevel(level, 0, shrink, shrink, shrink);
        CheckStatus(call->event.Status(), line);
        call->what = line;
        w.pending[p] = std::move(call);
        return line + " -> P" + std::to_string(p);
    }
    const ULMStatus s = CheckStatus(v.volume->GenerateMipmapLevel(level, 0, shrink, shrink, shrink), line);
    return line + " -> " + StatusText(s);
}

}  // namespace seqtest
