// Contexts, lookup tables, classifiers, and renders of every kind.
#include <cmath>
#include <cstring>
#include <memory>

#include "sequence/sequence_calls.h"
#include "sequence/sequence_oracles.h"

namespace seqtest {
namespace {

struct View {
    double turnX = 0, turnY = 0, zoom = 1, away = 0;
    bool perspective = false;
    int viewport[4] = {0, 0, 0, 0};
    std::string Text() const {
        char text[160];
        std::snprintf(text, sizeof text, "turn %.0f,%.0f zoom %.2f away %.1f%s viewport %d,%d,%d,%d", turnX, turnY,
                      zoom, away, perspective ? " perspective" : "", viewport[0], viewport[1], viewport[2],
                      viewport[3]);
        return text;
    }
};

View ChooseView(Rng& r, const ImageSlot* img) {
    View v;
    v.turnX = r.Int(0, 11) * 30.0 + (r.Chance(50) ? 7 : 0);
    v.turnY = r.Int(0, 11) * 30.0 + (r.Chance(50) ? 11 : 0);
    v.zoom = r.Real(0.6, 1.6);
    v.away = r.Chance(10) ? r.Real(1.5, 3.0) : 0.0;
    v.perspective = r.Chance(10);
    if (img != nullptr && r.Chance(40)) {
        v.viewport[0] = r.Int(-6, int(img->width) - 2);
        v.viewport[1] = r.Int(-6, int(img->height) - 2);
        v.viewport[2] = r.Int(1, int(img->width));
        v.viewport[3] = r.Int(1, int(img->height));
    }
    return v;
}

ULMStatus Aim(ULMContext* ctx, const VolumeSlot& vol, const View& v) {
    const double r = 0.55 * std::hypot(double(vol.size[0]), double(vol.size[1]), double(vol.size[2])) / v.zoom;
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -4 * r, 4 * r));
    if (v.perspective) {
        camera.SetProjectionMatrix(ULMMatrix::Perspective(40, 1.0, r, 8 * r));
        camera.SetViewMatrix(ULMMatrix::Translate(0, 0, -3 * r));
    }
    camera.SetModelMatrix(ULMMatrix::Translate(2 * r * v.away, 0, 0) * ULMMatrix::Rotate(v.turnX, ULMVector3D(1, 0, 0)) *
                          ULMMatrix::Rotate(v.turnY, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate((1.0 - vol.size[0]) / 2, (1.0 - vol.size[1]) / 2,
                                               (1.0 - vol.size[2]) / 2));
    camera.SetViewport(v.viewport[0], v.viewport[1], v.viewport[2], v.viewport[3]);
    return ctx->SetCamera(camera);
}

enum class Kind { kRender, kMPRRGBA, kMPRAlpha };

struct RenderCall {
    ULMVolume* volume;
    ULMContext* context;
    ULMImageBuffer* image;
    ULMDepthBuffer* depth;
    Kind kind;
    double distance;
    int quality;

    ULMStatus Run() const {
        if (kind == Kind::kRender) return volume->Render(context, image, depth, nullptr, nullptr);
        return volume->RenderMPR(context, distance, quality,
                                 kind == Kind::kMPRAlpha ? ULMVolume::kMPRAlpha : ULMVolume::kMPRRGBA, image);
    }
    ULMSyncEvent Start() const {
        if (kind == Kind::kRender) return volume->StartRender(context, image, depth, nullptr, nullptr);
        return volume->StartRenderMPR(context, distance, quality,
                                      kind == Kind::kMPRAlpha ? ULMVolume::kMPRAlpha : ULMVolume::kMPRRGBA, image);
    }
};

// The pixels the render was asked to write: the viewport, or the whole
// image without one. An empty range where the test cannot tell.
ULMImageRange Asked(const ImageSlot& img, const View& v) {
    if (v.viewport[2] == 0 || v.viewport[3] == 0) return WholeImage(img);
    if (img.wrapped || img.offset[0] != 0 || img.offset[1] != 0) return ULMImageRange(0, 0, 0, 0);
    return Intersect(WholeImage(img), ULMImageRange(v.viewport[2], v.viewport[3], v.viewport[0], v.viewport[1]));
}

// Fills the image and reports whether it took the fill.
bool Fill(ImageSlot& img) {
    const ULMImageRange whole = WholeImage(img);
    std::vector<uint32_t> fill = FilledPixels(whole);
    for (size_t i = 0; i < fill.size(); ++i) fill[i] = RenderFillPixel(i);
    return img.image->Update(fill.data(), whole, 0) == kULMOK;
}

std::vector<uint32_t> ReadBack(ImageSlot& img, ULMStatus& outStatus) {
    const ULMImageRange whole = WholeImage(img);
    std::vector<uint32_t> pixels = FilledPixels(whole);
    outStatus = img.image->Unload(pixels.data(), whole, 0);
    if (outStatus == kULMOK) {
        ImageSlot unknown = img;
        ForgetImage(unknown);
        CheckPixelRead(unknown, whole, pixels, "read back after a render");
    }
    return pixels;
}

void CheckEmptyRender(ImageSlot& img, uint64_t failedBefore, const std::string& what) {
    ULMStatus s;
    const std::vector<uint32_t> pixels = ReadBack(img, s);
    if (s != kULMOK || FailedJobs() != failedBefore) return;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i] != RenderFillPixel(i)) {
            char detail[96];
            std::snprintf(detail, sizeof detail, " (pixel %zu of %zu: %08x, was %08x)", i, pixels.size(), pixels[i],
                          RenderFillPixel(i));
            throw OracleFailure("empty render changed the image: " + what + detail);
        }
    }
}

// An OK render wrote what it was asked to; done again it draws the same.
void CheckRendered(ImageSlot& img, const RenderCall& call, const ULMImageRange& asked, bool again,
                   uint64_t failedBefore, const std::string& what) {
    ULMStatus s;
    const std::vector<uint32_t> first = ReadBack(img, s);
    if (s != kULMOK || FailedJobs() != failedBefore) return;
    CheckRenderWrote(WholeImage(img), asked, first, what);
    if (!again || !Fill(img)) return;
    const ULMStatus s2 = CheckStatus(call.Run(), what + " again");
    if (s2 != kULMOK && FailedJobs() != failedBefore) return;
    if (s2 != kULMOK) throw OracleFailure("OK render answers otherwise again: " + what + " -> " + StatusText(s2));
    const std::vector<uint32_t> second = ReadBack(img, s);
    if (s != kULMOK || FailedJobs() != failedBefore) return;
    // Outside what the render writes, an image moved to the board without
    // its pixels holds what the move left, so only the asked pixels count.
    const ULMImageRange whole = WholeImage(img), in = Intersect(whole, asked);
    for (size_t i = 0; i < first.size(); ++i) {
        const int x = whole.XOrigin() + int(i % size_t(whole.XSize())), y = whole.YOrigin() + int(i / size_t(whole.XSize()));
        if (x < in.XOrigin() || y < in.YOrigin() || x >= in.XOrigin() + in.XSize() || y >= in.YOrigin() + in.YSize())
            continue;
        if (first[i] != second[i]) {
            char detail[96];
            std::snprintf(detail, sizeof detail, " (pixel %zu: %08x then %08x)", i, first[i], second[i]);
            throw OracleFailure("OK render differs from the same render again: " + what + detail);
        }
    }
}

}  // namespace

std::string CreateContext(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kContextSlots, t = c.b % kTableSlots;
    if (w.contexts[slot] != nullptr) w.contexts[slot]->Release();
    if (w.tables[t] == nullptr && r.Chance(70)) {
        w.tables[t] = ULMLookupTable::Create(256);
        if (w.tables[t] != nullptr) w.tables[t]->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.3);
    }
    ULMLookupTable* table = r.Chance(70) ? w.tables[t] : nullptr;
    w.contexts[slot] = ULMContext::Create(table);
    return Name('C', slot) + " = Create context" + (table != nullptr ? " table " + Name('T', t) : "") +
           (w.contexts[slot] == nullptr ? " -> null" : "");
}

std::string ChangeTable(World& w, const Call& c) {
    Rng r(c.seed);
    const int t = c.a % kTableSlots;
    if (w.tables[t] == nullptr) return "";
    const ULMChannel channel = ULMChannel(r.Int(0, 3));
    const unsigned first = unsigned(r.Int(0, 200)), last = r.Chance(90) ? unsigned(r.Int(int(first), 255)) : 300u;
    const double from = r.Real(0, 1), to = r.Real(0, 1);
    const ULMStatus s = CheckStatus(w.tables[t]->SetRamp(channel, first, last, from, to), "SetRamp");
    return "SetRamp " + Name('T', t) + " channel " + std::to_string(int(channel)) + " " + std::to_string(first) +
           ".." + std::to_string(last) + " -> " + StatusText(s);
}

std::string ChangeContext(World& w, const Call& c) {
    Rng r(c.seed);
    const int slot = c.a % kContextSlots, t = c.b % kTableSlots;
    ULMContext* ctx = w.contexts[slot];
    if (ctx == nullptr) return "";
    std::string line;
    ULMStatus s;
    switch (r.Int(0, 2)) {
        case 0: {
            ULMClassifier cl = ctx->GetClassifier();
            const int index = r.Chance(90) ? r.Int(0, 3) : 5;
            const ULMStatus set = cl.SetLookupTable(index, w.tables[t], kULMField0);
            line = "SetClassifier " + Name('C', slot) + " table " + std::to_string(index) + " = " +
                   (w.tables[t] != nullptr ? Name('T', t) : "none") + " (" + StatusText(set) + ")";
            s = ctx->SetClassifier(cl);
            break;
        }
        case 1: {
            const ULMBlendMode mode = ULMBlendMode(r.Chance(90) ? r.Int(2, 15) : 40);
            line = "SetBlendMode " + Name('C', slot) + " " + std::to_string(int(mode));
            s = ctx->SetBlendMode(mode);
            break;
        }
        default: {
            const double threshold = r.Real(0.5, 1.0);
            line = "SetRayTermination " + Name('C', slot) + " " + std::to_string(threshold);
            s = ctx->SetRayTermination(threshold, r.Chance(50));
            break;
        }
    }
    CheckStatus(s, line);
    return line + " -> " + StatusText(s);
}

// The failed jobs a render's checks start from, or a count that never
// matches when a job failed since the volume's model last changed.
uint64_t FailedSince(const VolumeSlot& inVolume) {
    const uint64_t now = FailedJobs();
    return now == inVolume.failedJobsAtWrite ? now : ~uint64_t{0};
}

std::string Render(World& w, const Call& c) {
    Rng r(c.seed);
    const int vs = c.a % kVolumeSlots, cs = c.b % kContextSlots, is = c.c % kImageSlots, ds = c.d % kDepthSlots;
    VolumeSlot& vol = w.volumes[vs];
    ImageSlot& img = w.images[is];
    ULMContext* ctx = w.contexts[cs];
    if (vol.volume == nullptr || ctx == nullptr || img.image == nullptr) return "";
    const View view = ChooseView(r, &img);
    const int pick = r.Int(0, 9);
    RenderCall call{vol.volume, ctx, img.image, r.Chance(15) ? w.depths[ds].depth : nullptr,
                    pick < 6 ? Kind::kRender : pick < 8 ? Kind::kMPRRGBA : Kind::kMPRAlpha, r.Real(-2, 2),
                    r.Int(1, 3)};
    std::string line = std::string(call.kind == Kind::kRender ? "Render " : call.kind == Kind::kMPRRGBA ? "RenderMPR rgba "
                                                                                                      : "RenderMPR alpha ") +
                       Name('V', vs) + " " + Name('C', cs) + " -> " + Name('I', is) +
                       (call.depth != nullptr ? " depth " + Name('D', ds) : "") + " " + view.Text();
    if (Aim(ctx, vol, view) != kULMOK) return line + " (camera refused)";
    const bool filled = Fill(img);
    ForgetImage(img);
    const ULMImageRange asked = Asked(img, view);
    const int p = FreePending(w);
    if (r.Chance(30) && p >= 0) {
        auto pend = std::make_unique<PendingCall>();
        pend->kind = PendingCall::kRender;
        pend->slot = filled ? is : -1;
        pend->objectId = img.image->GetObjectID();
        pend->imageRange = WholeImage(img);
        pend->asked = asked;
        pend->failedJobsAtStart = FailedSince(vol);
        pend->writesAtStart = img.writes;
        line = "Start" + line;
        pend->event = call.Start();
        CheckStatus(pend->event.Status(), line);
        pend->what = line;
        w.pending[p] = std::move(pend);
        return line + " -> P" + std::to_string(p);
    }
    const uint64_t failedBefore = FailedSince(vol);
    const ULMStatus s = CheckStatus(call.Run(), line);
    line += " -> " + StatusText(s);
    if (!filled) return line + " (fill refused)";
    // An image moved to the volume's board with less than all its pixels
    // keeps only what its migration mode copies.
    const bool keepsPixels = img.migration == kULMMigrationNone || img.migration == kULMMigrationFullCopy;
    if (s == kULMErrEmptyRender && keepsPixels) CheckEmptyRender(img, failedBefore, line);
    if (s == kULMOK) CheckRendered(img, call, asked, r.Chance(40), failedBefore, line);
    return line;
}

}  // namespace seqtest
