// Images and depth buffers: creation where images live, writes, reads and
// addressing.
#include <cstring>
#include <memory>

#include "sequence/sequence_calls.h"
#include "sequence/sequence_oracles.h"

namespace seqtest {
namespace {

const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction},
                                      {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction},
                                      {24, 8, kULMUnsignedFraction}};

ULMLocation ChooseLocation(Rng& r, int boards) {
    switch (r.Int(0, 4)) {
        case 0: return kULMSystem;
        case 1: return kULMBoard0;
        case 2: return boards > 1 ? kULMBoard1 : kULMBoard0;
        case 3: return kULMMultiBoardMode1;
        default: return kULMMultiBoardMode2;
    }
}

// Records in the model what a write of the range left: the pixels given,
// or nothing known where it failed.
void StorePixels(ImageSlot& img, const ULMImageRange& r, const uint32_t* pixels, uint32_t value, bool known) {
    ++img.writes;
    if (img.wrapped || !known) {
        ForgetImage(img);
        return;
    }
    for (int y = 0; y < r.YSize(); ++y)
        for (int x = 0; x < r.XSize(); ++x) {
            int64_t* at = ImageModelAt(img, r.XOrigin() + x, r.YOrigin() + y);
            if (at != nullptr) *at = pixels != nullptr ? pixels[size_t(y) * r.XSize() + x] : value;
        }
}

}  // namespace

std::string CreateImage(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kImageSlots;
    w.ReleaseImage(slot);
    ImageSlot& img = w.images[slot];
    img.location = ChooseLocation(r, w.Boards());
    img.width = unsigned(r.Int(8, 64));
    img.height = unsigned(r.Int(8, 64));
    img.image = ULMImageBuffer::Create(img.location, img.width, img.height, 32, 4, kRGBA8);
    std::string line = Name('I', slot) + " = Create image " + LocationText(img.location) + " " +
                       std::to_string(img.width) + "x" + std::to_string(img.height);
    if (img.image == nullptr) {
        w.ReleaseImage(slot);
        return line + " -> null";
    }
    ForgetImage(img);
    const ULMMigrationMode mode = ULMMigrationMode(r.Int(0, 3));
    const ULMStatus s = CheckStatus(img.image->SetMigrationMode(mode), line);
    if (s == kULMOK) img.migration = mode;
    return line + " migration " + std::to_string(int(mode)) + " -> " + StatusText(s);
}

std::string CreateDepth(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kDepthSlots;
    w.ReleaseDepth(slot);
    DepthSlot& d = w.depths[slot];
    d.location = ChooseLocation(r, w.Boards());
    d.width = unsigned(r.Int(8, 48));
    d.height = unsigned(r.Int(8, 48));
    d.depth = ULMDepthBuffer::Create(d.location, d.width, d.height);
    std::string line = Name('D', slot) + " = Create depth " + LocationText(d.location) + " " +
                       std::to_string(d.width) + "x" + std::to_string(d.height);
    if (d.depth == nullptr) {
        w.ReleaseDepth(slot);
        return line + " -> null";
    }
    const ULMStatus s = CheckStatus(d.depth->Clear(ULMImageRange(int(d.width), int(d.height), 0, 0), 0xFFFFFF), line);
    return line + " cleared far -> " + StatusText(s);
}

std::string WriteImage(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kImageSlots;
    ImageSlot& img = w.images[slot];
    if (img.image == nullptr) return "";
    const ULMImageRange range = ChooseImageRange(r, img, !r.Chance(15));
    std::string line;
    ULMStatus s;
    if (r.Chance(50)) {
        const uint32_t value = r.Next() & 0x7FFFFFFFu;
        line = "Clear " + Name('I', slot) + " " + ImageRangeText(range) + " " + std::to_string(value);
        s = CheckStatus(img.image->Clear(range, value), line);
        StorePixels(img, range, nullptr, value, s == kULMOK);
    } else {
        std::vector<uint32_t> pixels(range.IsEmpty() ? 1 : size_t(range.XSize()) * range.YSize());
        for (uint32_t& p : pixels) p = r.Next() & 0x7FFFFFFFu;
        line = "Update " + Name('I', slot) + " " + ImageRangeText(range);
        s = CheckStatus(img.image->Update(pixels.data(), range, 0), line);
        StorePixels(img, range, pixels.data(), 0, s == kULMOK);
    }
    return line + " -> " + StatusText(s);
}

std::string UnloadImage(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kImageSlots;
    ImageSlot& img = w.images[slot];
    if (img.image == nullptr) return "";
    const ULMImageRange range = ChooseImageRange(r, img, !r.Chance(15));
    std::string line = "Unload " + Name('I', slot) + " " + ImageRangeText(range);
    const int p = FreePending(w);
    if (r.Chance(30) && p >= 0) {
        auto call = std::make_unique<PendingCall>();
        call->kind = PendingCall::kImageUnload;
        call->slot = slot;
        call->objectId = img.image->GetObjectID();
        call->imageRange = range;
        call->imageAtStart = img;
        call->writesAtStart = img.writes;
        const std::vector<uint32_t> fill = FilledPixels(range);
        call->block = std::make_shared<std::vector<uint8_t>>(fill.size() * 4 + 4);
        if (!fill.empty()) std::memcpy(call->block->data(), fill.data(), fill.size() * 4);
        line = "Start" + line;
        call->event = img.image->StartUnload(call->block->data(), range, 0);
        CheckStatus(call->event.Status(), line);
        call->what = line;
        w.pending[p] = std::move(call);
        return line + " -> P" + std::to_string(p);
    }
    std::vector<uint32_t> pixels = FilledPixels(range);
    pixels.push_back(0);
    const ULMStatus s = CheckStatus(img.image->Unload(pixels.data(), range, 0), line);
    line += " -> " + StatusText(s);
    if (s == kULMOK) CheckPixelRead(img, range, pixels, line);
    std::vector<uint8_t> bytes(pixels.size() * 4);
    std::memcpy(bytes.data(), pixels.data(), bytes.size());
    AfterReadAnswered(bytes, line);
    return line;
}

std::string AddressImage(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kImageSlots;
    ImageSlot& img = w.images[slot];
    if (img.image == nullptr) return "";
    std::string line;
    ULMStatus s;
    if (r.Chance(55)) {
        const int x = 2 * r.Int(-8, 8), y = 2 * r.Int(-8, 8);
        line = "SetOffset " + Name('I', slot) + " " + std::to_string(x) + "," + std::to_string(y);
        s = CheckStatus(img.image->SetOffset(x, y), line);
        if (s == kULMOK) {
            img.wrapped = false;
            img.offset[0] = x;
            img.offset[1] = y;
        }
    } else {
        int m[2];
        for (int a = 0; a < 2; ++a) {
            m[a] = 8;
            while (m[a] < int(a == 0 ? img.width : img.height)) m[a] *= 2;
            if (r.Chance(30)) m[a] *= 2;
        }
        if (r.Chance(15)) m[r.Int(0, 1)] = 20;
        line = "SetWrap " + Name('I', slot) + " " + std::to_string(m[0]) + "," + std::to_string(m[1]);
        s = CheckStatus(img.image->SetWrap(m[0], m[1]), line);
        if (s == kULMOK) {
            img.wrapped = true;
            img.wrap[0] = m[0];
            img.wrap[1] = m[1];
        }
    }
    ForgetImage(img);
    return line + " -> " + StatusText(s);
}

}  // namespace seqtest
