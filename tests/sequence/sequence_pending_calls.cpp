// Start calls finished later: waited for, polled or aborted; their outputs
// released before the wait; and failures the platform is told to inject.
#include <cstring>

#include "sequence/sequence_calls.h"
#include "sequence/sequence_oracles.h"
#include "tulx7sim/test_api.h"

namespace seqtest {
namespace {

// Request codes of the driver contract the library sends for board work.
constexpr uint32_t kRequestCodes[] = {0xC0045604u /* render */, 0xC0045614u /* load */,
                                      0xC0045615u /* unload */, 0xC0045618u /* board to board */};
constexpr const char* kRequestNames[] = {"render", "load", "unload", "board-to-board"};

void FinishVolumeCall(World& w, PendingCall& p, ULMStatus s, const std::string& line) {
    VolumeSlot& v = w.volumes[p.slot];
    const bool same = v.volume != nullptr && v.volume->GetObjectID() == p.objectId;
    if (p.kind == PendingCall::kUnload) {
        std::vector<uint8_t> read(p.block->begin(), p.block->end() - 1);
        if (s == kULMOK && same) {
            if (v.writes == p.writesAtStart) CheckVoxelRead(v, read, p.expected, line, &p.range);
            else CheckNoVoxelFill(read, v.Bytes(), v.FillValue(), line);
        }
        AfterReadAnswered(*p.block, line);
        return;
    }
    // An update: what it wrote is known once it is the last write of its range.
    if (s == kULMOK && same && v.writes == p.writesAtStart) StoreModel(v, p.range, p.block->data(), true);
    if (same) AfterWriteAnswered(*p.block, v.Bytes(), v.StaleValue(), line);
    else AfterReadAnswered(*p.block, line);
}

void FinishImageCall(World& w, PendingCall& p, ULMStatus s, const std::string& line) {
    if (p.kind == PendingCall::kImageUnload) {
        const size_t n = p.block->size() / 4 - 1;
        std::vector<uint32_t> pixels(n);
        if (n != 0) std::memcpy(pixels.data(), p.block->data(), n * 4);
        ImageSlot& img = w.images[p.slot];
        if (s == kULMOK && img.image != nullptr && img.image->GetObjectID() == p.objectId) {
            // Written since the read started: only the fill is looked for.
            if (img.writes != p.writesAtStart) ForgetImage(p.imageAtStart);
            CheckPixelRead(p.imageAtStart, p.imageRange, pixels, line);
        }
        AfterReadAnswered(*p.block, line);
        return;
    }
    if (p.slot < 0) return;
    ImageSlot& img = w.images[p.slot];
    if (s != kULMOK || img.image == nullptr || img.image->GetObjectID() != p.objectId) return;
    if (img.writes != p.writesAtStart) return;  // drawn over, or written, since
    if (WholeImage(img) != p.imageRange) return;
    std::vector<uint32_t> pixels = FilledPixels(p.imageRange);
    if (img.image->Unload(pixels.data(), p.imageRange, 0) != kULMOK) return;
    if (FailedJobs() != p.failedJobsAtStart) return;
    ImageSlot unknown = img;
    ForgetImage(unknown);
    CheckPixelRead(unknown, p.imageRange, pixels, "read back after a render");
    CheckRenderWrote(p.imageRange, p.asked, pixels, line);
}

}  // namespace

std::string FinishPending(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kPendingSlots;
    if (!w.pending[slot]) return "";
    PendingCall& p = *w.pending[slot];
    const std::string name = "P" + std::to_string(slot);
    const int pick = r.Int(0, 9);
    if (pick < 2) {
        const bool done = p.event.IsDone();
        return "Poll " + name + " -> " + (done ? "done" : "running");
    }
    if (pick < 4 && !p.aborted) {
        p.aborted = true;
        const ULMStatus s = CheckStatus(p.event.Abort(), "Abort " + name);
        return "Abort " + name + " -> " + StatusText(s);
    }
    const ULMStatus s = CheckStatus(p.event.Wait(-1), "Wait " + name);
    const std::string line = "Wait " + name + " (" + p.what + ") -> " + StatusText(s);
    std::unique_ptr<PendingCall> held = std::move(w.pending[slot]);
    if (p.kind == PendingCall::kUnload || p.kind == PendingCall::kUpdate) FinishVolumeCall(w, p, s, line);
    else if (p.kind == PendingCall::kImageUnload || p.kind == PendingCall::kRender) FinishImageCall(w, p, s, line);
    return line;
}

std::string ReleaseOutputFirst(World& w, const Call& c) {
    const int slot = c.a % kPendingSlots;
    if (!w.pending[slot] || w.pending[slot]->kind != PendingCall::kRender) return "";
    PendingCall& p = *w.pending[slot];
    for (int i = 0; i < kImageSlots; ++i) {
        if (w.images[i].image != nullptr && w.images[i].image->GetObjectID() == p.objectId) {
            w.ReleaseImage(i);
            p.slot = -1;
            return "Release " + Name('I', i) + " before Wait P" + std::to_string(slot);
        }
    }
    return "";
}

std::string InjectFailure(World& w, const Call& c) {
    Rng r(c.seed);
    w.injected = true;
    const int which = r.Int(0, 3), nth = r.Int(1, 4);
    tulx7sim::InjectCompletionFailure(kRequestCodes[which], nth);
    return std::string("Inject completion failure of ") + kRequestNames[which] + " request " + std::to_string(nth);
}

}  // namespace seqtest
