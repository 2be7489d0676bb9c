// Histories of an image's addressing (a wrap; an offset; an offset then a
// wrap; a wrap then an offset; a window moved away and back; a move to
// another board and back), with clears, renders and renders still running
// between the changes, for images in host memory, on board 0 or 1, and at
// the two multiboard locations, over one to three boards, with and without
// board latency. After every step each unload of the whole image and of
// ranges at odd origins, across the wrap's seam, at negative coordinates
// and wider than the wrap, into host rows of odd lengths, is the host model
// of the image: its elements keep what was last cleared or drawn there,
// whatever the addressing since, and a coordinate reads the element the
// present addressing gives it. No pixel of the caller's block is left as
// it was. Depth buffers take the same histories of clears and updates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/log_capture.h"
#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

constexpr int kW = 64, kH = 48, kN = 24, kBig = 160;
// What the caller's block holds before an unload, byte by byte.
constexpr uint8_t kFill = 0xC3;
// What a reference image holds where a render leaves it alone.
constexpr uint64_t kUntouched = 0x5A3C5A3C5A3C5A3Cull;

struct Format {
    const char* name;
    unsigned bits;
    ULMFieldDescriptor fields[4];
};
const Format kFormats[] = {
    {"16-bit", 16, {{0, 4, kULMUnsignedFraction}, {4, 4, kULMUnsignedFraction},
                    {8, 4, kULMUnsignedFraction}, {12, 4, kULMUnsignedFraction}}},
    {"32-bit RGBA", 32, {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                         {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}}},
    {"64-bit", 64, {{0, 16, kULMUnsignedFraction}, {16, 16, kULMUnsignedFraction},
                    {32, 16, kULMUnsignedFraction}, {48, 16, kULMUnsignedFraction}}},
};

uint64_t Mask(unsigned bits) { return bits == 64 ? ~0ull : (1ull << bits) - 1; }

struct Place {
    const char* name;
    ULMLocation location;
    VolumeKind kind;
    int road;  // Multiboard2ForceRender for bricks
    ULMLocation lockOn;
    bool moves;
    int minBoards;
};
const Place kPlaces[] = {
    {"host", kULMSystem, {"plain", false, 0}, 0, kULMBoard0, false, 1},
    {"board 0", kULMBoard0, {"plain", false, 0}, 0, kULMBoard0, true, 2},
    {"board 0, mipmap", kULMBoard0, {"mipmap", true, 0}, 0, kULMBoard0, false, 1},
    {"board 1", kULMBoard1, {"plain", false, 0}, 0, kULMBoard1, true, 2},
    {"bands", kULMMultiBoardMode1, {"bands", false, 1}, 0, kULMBoard0, false, 1},
    {"bricks on a board", kULMMultiBoardMode2, {"bricks", false, 2}, 1, kULMBoard0, false, 1},
    {"bricks on the host", kULMMultiBoardMode2, {"bricks", false, 2}, 2, kULMBoard0, false, 1},
    {"bands into board 0", kULMBoard0, {"bands", false, 1}, 0, kULMBoard0, false, 1},
    {"bricks into board 1", kULMBoard1, {"bricks", false, 2}, 1, kULMBoard0, false, 2},
    {"mipmap over bricks into board 0", kULMBoard0, {"mipmap over bricks", true, 2}, 2, kULMBoard0, false, 1},
};

enum Op { kOffset, kWrap, kClear, kRender, kStartRender, kMPR, kStartMPR, kMoveAway, kMoveBack };
struct Step {
    Op op;
    int a = 0, b = 0;       // offset or moduli
    ULMImageRange range{};  // clear range or viewport
};
struct History {
    const char* name;
    std::vector<Step> steps;
};

// The image's elements and its present addressing.
class ImageModel {
public:
    ImageModel() : m_element(size_t(kW) * kH, 0) {}
    void Offset(int x, int y) { m_wrap = false, m_px = x, m_py = y; }
    void Wrap(int x, int y) { m_wrap = true, m_px = x, m_py = y; }
    bool Wrapped() const { return m_wrap; }
    int ParameterX() const { return m_px; }
    int ParameterY() const { return m_py; }
    // The element of a coordinate, or -1 where the window holds none.
    long Element(int x, int y) const {
        int ex = x - m_px, ey = y - m_py;
        if (m_wrap) ex = ((x % m_px) + m_px) % m_px, ey = ((y % m_py) + m_py) % m_py;
        if (ex < 0 || ey < 0 || ex >= kW || ey >= kH) return -1;
        return long(ey) * kW + ex;
    }
    void Set(int x, int y, uint64_t value) {
        const long e = Element(x, y);
        if (e >= 0) m_element[size_t(e)] = value;
    }
    uint64_t At(long e) const { return m_element[size_t(e)]; }
    // Under wrap: every pixel of the rectangle at an element of its own.
    bool HoldsApart(const ULMImageRange& inRange) const {
        if (!m_wrap) return true;
        const int periods[2] = {m_px, m_py}, sizes[2] = {kW, kH};
        for (int a = 0; a < 2; ++a) {
            const int start = inRange.m_origin[a] % periods[a], extent = inRange.m_size[a];
            if (inRange.m_origin[a] < 0 || extent > periods[a]) return false;
            if (std::min(start + extent, periods[a]) > sizes[a]) return false;
        }
        return true;
    }
    // The window of coordinates, or under wrap a period from the origin.
    ULMImageRange Whole() const {
        return m_wrap ? ULMImageRange(kW, kH, 0, 0) : ULMImageRange(kW, kH, m_px, m_py);
    }

private:
    std::vector<uint64_t> m_element;
    bool m_wrap = false;
    int m_px = 0, m_py = 0;
};

class ImageAddressHistoryTest : public ContextTest,
                                public ::testing::WithParamInterface<std::tuple<int, int, int>> {
protected:
    ImageAddressHistoryTest()
        : ContextTest(WithLatency(std::get<0>(GetParam()), std::get<1>(GetParam()))) {}
    static tulx7sim::SimConfig WithLatency(int boards, int latency) {
        tulx7sim::SimConfig config = test_support::SimBoards(boards);
        config.latencyMicroseconds = latency;
        return config;
    }
    static int Boards() { return std::get<0>(GetParam()); }

    void SetUp() override {
        ContextTest::SetUp();
        // Viewports narrower than the volume are rendered larger and shrunk.
        ULMSetParameter("ResizeImage", 1);
        m_voxels.resize(size_t(kN) * kN * kN);
        for (size_t i = 0; i < m_voxels.size(); ++i)
            m_voxels[i] = uint8_t(30 + (i % kN) * 7 + (i / kN % kN) * 2 + i / (kN * kN));
        m_table.Assign(ULMLookupTable::Create(256));
        for (const ULMChannel c : {kULMChannelRed, kULMChannelGreen, kULMChannelBlue, kULMChannelAlpha})
            ASSERT_EQ(m_table->SetRamp(c, 0, 255, 0.05, c == kULMChannelAlpha ? 0.6 : 1.0), kULMOK);
        m_context.Assign(ULMContext::Create(m_table));
        ASSERT_EQ(m_context->SetBlendMode(kULMBlendMaxRed), kULMOK);
        ULMCamera& camera = m_context->GetCamera();
        ASSERT_EQ(camera.SetProjectionMatrix(ULMMatrix::Ortho(-16, 16, -16, 16, -40, 40)), kULMOK);
        ASSERT_EQ(camera.SetModelMatrix(ULMMatrix::Rotate(20, ULMVector3D(1, 0, 0)) *
                                        ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)) *
                                        ULMMatrix::Translate((1 - kN) / 2.0, (1 - kN) / 2.0, (1 - kN) / 2.0)),
                  kULMOK);
    }
    void TearDown() override {
        m_context.Assign(nullptr);
        m_table.Assign(nullptr);
        ContextTest::TearDown();
    }

    ULMVolume* MakeVolume(const Place& inPlace) {
        ULMSetParameter("Multiboard2ForceRender", uint64_t(inPlace.road));
        ULMVolume* volume = CreateVolumeOfKind(inPlace.kind, [&] {
            const ULMFieldDescriptor field{0, 8, kULMUnsignedFraction};
            return ULMVolume::Create(8, kN, kN, kN, 1, &field, m_voxels.data());
        });
        if (volume != nullptr) {
            EXPECT_EQ(volume->LockVolume(inPlace.lockOn), kULMOK);
        }
        return volume;
    }

    // The render of a viewport by the place's kind of volume into a large
    // image at offset 0 where such a volume puts it: every pixel it writes,
    // kUntouched elsewhere. Bricks shrunk from a larger render may differ
    // from one board's picture; their addressing may not.
    const std::vector<uint64_t>& Reference(const Place& inPlace, const Format& inFormat,
                                           const ULMImageRange& inViewport, bool inMPR) {
        const auto key = std::make_tuple(std::string(inPlace.name) + (inMPR ? ", MPR" : ""), inFormat.bits,
                                         inViewport.XOrigin(), inViewport.YOrigin(), inViewport.XSize(),
                                         inViewport.YSize());
        auto found = m_references.find(key);
        if (found != m_references.end()) return found->second;
        std::vector<uint64_t>& pixels = m_references[key];
        ReleasablePointer<ULMVolume> volume(MakeVolume(inPlace));
        const ULMLocation location = inPlace.location == kULMSystem ? kULMBoard0 : inPlace.location;
        ReleasablePointer<ULMImageBuffer> image(
            ULMImageBuffer::Create(location, kBig, kBig, inFormat.bits, 4, inFormat.fields));
        EXPECT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        EXPECT_EQ(image->Clear({kBig, kBig, 0, 0}, kUntouched), kULMOK);
        Aim(inViewport);
        const ULMStatus status = Start(volume, image, inMPR).Wait(-1);
        // A road that takes no such image refuses it: so must every render
        // of the history there.
        if (status == kULMErrUnimplemented) return pixels;
        EXPECT_EQ(status, kULMOK);
        pixels = UnloadWords(image, {kBig, kBig, 0, 0}, inFormat.bits);
        int drawn = 0;
        for (const uint64_t p : pixels) drawn += p != (kUntouched & Mask(inFormat.bits)) && p != 0;
        EXPECT_GT(drawn, 100) << "the view shows too little of the volume to tell";
        return pixels;
    }
    ULMSyncEvent Start(ULMVolume* inVolume, ULMImageBuffer* ioImage, bool inMPR) {
        return inMPR ? inVolume->StartRenderMPR(m_context, 0.0, 2, ULMVolume::kMPRRGBA, ioImage)
                     : inVolume->StartRender(m_context, ioImage, nullptr, nullptr, nullptr);
    }
    void Aim(const ULMImageRange& inViewport) {
        ASSERT_EQ(m_context->GetCamera().SetViewport(inViewport.XOrigin(), inViewport.YOrigin(),
                                                     inViewport.XSize(), inViewport.YSize()),
                  kULMOK);
    }
    static std::vector<uint64_t> UnloadWords(const ULMImageBuffer* inImage, const ULMImageRange& inRange,
                                             unsigned inBits) {
        const size_t bytes = inBits / 8, count = size_t(inRange.XSize()) * inRange.YSize();
        std::vector<uint8_t> block(count * bytes);
        EXPECT_EQ(inImage->Unload(block.data(), inRange, 0), kULMOK);
        std::vector<uint64_t> words(count, 0);
        for (size_t i = 0; i < count; ++i) std::memcpy(&words[i], &block[i * bytes], bytes);
        return words;
    }

    // Every rendered pixel of the reference lands where the addressing at
    // the render's start puts it.
    static void Fold(ImageModel& ioModel, const std::vector<uint64_t>& reference, const Format& inFormat) {
        for (int y = 0; y < kBig; ++y)
            for (int x = 0; x < kBig; ++x) {
                const uint64_t p = reference[size_t(y) * kBig + x];
                if (p != (kUntouched & Mask(inFormat.bits))) ioModel.Set(x, y, p);
            }
    }

    // The ranges every check unloads under the present addressing.
    static std::vector<ULMImageRange> Ranges(const ImageModel& inModel) {
        const ULMImageRange whole = inModel.Whole();
        const int x = whole.XOrigin(), y = whole.YOrigin();
        std::vector<ULMImageRange> ranges = {whole, {17, 9, x + 3, y + 5}, {1, 1, x + kW - 1, y + kH - 1}};
        if (inModel.Wrapped()) {
            const int mx = inModel.ParameterX(), my = inModel.ParameterY();
            ranges.push_back({13, 7, mx - 5, my - 3});            // across both seams
            ranges.push_back({11, 9, -3, -5});                    // below 0
            ranges.push_back({mx + 7, my + 3, 5, 1});             // wider than a period
            ranges.push_back({2 * mx + 1, 2 * my + 1, mx - 1, 3});  // several periods
        }
        return ranges;
    }

    // An unload of each range, synchronous and started, into host rows of
    // the range's width and of an odd greater one.
    // False after an unload refused.
    bool Check(const ULMImageBuffer* inImage, const ImageModel& inModel, unsigned inBits, const char* inWhen) {
        SCOPED_TRACE(inWhen);
        const size_t bytes = inBits / 8;
        for (const ULMImageRange& range : Ranges(inModel)) {
            for (const unsigned pad : {0u, 3u}) {
                for (const bool started : {false, true}) {
                    SCOPED_TRACE(::testing::Message() << "unload of " << range.XSize() << "x" << range.YSize()
                                                      << " at " << range.XOrigin() << "," << range.YOrigin()
                                                      << (pad ? ", odd host rows" : "")
                                                      << (started ? ", started" : ""));
                    const unsigned row = pad == 0 ? 0u : unsigned(range.XSize()) + pad;
                    const size_t rowLength = row == 0 ? size_t(range.XSize()) : row;
                    std::vector<uint8_t> block(rowLength * range.YSize() * bytes, kFill);
                    const ULMStatus status = started ? inImage->StartUnload(block.data(), range, row).Wait(-1)
                                                     : inImage->Unload(block.data(), range, row);
                    if (status != kULMOK && Refusable(inModel, range, inImage->GetLocation())) continue;
                    EXPECT_EQ(status, kULMOK);
                    if (status != kULMOK) return false;
                    ExpectModel(block, range, rowLength, inModel, inBits);
                }
            }
        }
        return true;
    }
    // Board coordinates start at 0: a board may refuse a range of an
    // offset window that reaches below it.
    static bool Refusable(const ImageModel& inModel, const ULMImageRange& inRange, ULMLocation inLocation) {
        return inLocation != kULMSystem && !inModel.Wrapped() && (inRange.XOrigin() < 0 || inRange.YOrigin() < 0);
    }
    static void ExpectModel(const std::vector<uint8_t>& inBlock, const ULMImageRange& inRange, size_t inRow,
                            const ImageModel& inModel, unsigned inBits) {
        const size_t bytes = inBits / 8;
        int left = 0, wrong = 0;
        std::string first;
        for (int j = 0; j < inRange.YSize(); ++j)
            for (int i = 0; i < inRange.XSize(); ++i) {
                const uint8_t* at = &inBlock[(size_t(j) * inRow + i) * bytes];
                uint64_t got = 0;
                std::memcpy(&got, at, bytes);
                const long e = inModel.Element(inRange.XOrigin() + i, inRange.YOrigin() + j);
                EXPECT_GE(e, 0);
                if (e < 0) return;
                bool filled = true;
                for (size_t k = 0; k < bytes; ++k) filled = filled && at[k] == kFill;
                left += filled;
                if (got != inModel.At(e)) {
                    if (wrong++ == 0)
                        first = ::testing::PrintToString(i) + "," + ::testing::PrintToString(j) + ": got " +
                                ::testing::PrintToString(got) + " want " + ::testing::PrintToString(inModel.At(e));
                }
            }
        EXPECT_EQ(left, 0) << "pixels left as the caller's block held them";
        EXPECT_EQ(wrong, 0) << "first at " << first;
    }

    void Run(const Place& inPlace, const Format& inFormat, const History& inHistory);
    ULMStatus Apply(ULMImageBuffer* ioImage, ULMVolume* inVolume, const Place& inPlace, const Format& inFormat,
                    const Step& inStep, ImageModel& ioModel, std::vector<ULMSyncEvent>& ioPending);

    std::vector<uint8_t> m_voxels;
    ReleasablePointer<ULMLookupTable> m_table;
    ReleasablePointer<ULMContext> m_context;
    std::map<std::tuple<std::string, unsigned, int, int, int, int>, std::vector<uint64_t>> m_references;
};

// One step on the image and on its model. An addressing the place cannot
// take is refused, and the model keeps the one before.
ULMStatus ImageAddressHistoryTest::Apply(ULMImageBuffer* ioImage, ULMVolume* inVolume, const Place& inPlace,
                                         const Format& inFormat, const Step& inStep, ImageModel& ioModel,
                                         std::vector<ULMSyncEvent>& ioPending) {
    const uint64_t mask = Mask(inFormat.bits);
    switch (inStep.op) {
        case kOffset: {
            // Bands sit at their own offsets; a render may have moved the
            // image from where it was made.
            const bool taken = ioImage->GetLocation() != kULMMultiBoardMode1 || (inStep.a == 0 && inStep.b == 0);
            const ULMStatus status = ioImage->SetOffset(inStep.a, inStep.b);
            EXPECT_EQ(status == kULMOK, taken) << status;
            if (status == kULMOK) ioModel.Offset(inStep.a, inStep.b);
            return kULMOK;
        }
        case kWrap: {
            // Host memory and bands hold no wrapped image.
            const ULMLocation location = ioImage->GetLocation();
            const ULMStatus status = ioImage->SetWrap(inStep.a, inStep.b);
            EXPECT_EQ(status == kULMOK, location != kULMSystem && location != kULMMultiBoardMode1)
                << status << " at " << location;
            if (status == kULMOK) ioModel.Wrap(inStep.a, inStep.b);
            return kULMOK;
        }
        case kClear: {
            // Inside an offset window, at its origin.
            ULMImageRange range = inStep.range;
            if (!ioModel.Wrapped()) {
                range = Intersect(range, ULMImageRange(kW, kH, 0, 0));
                range.XOrigin() += ioModel.ParameterX(), range.YOrigin() += ioModel.ParameterY();
            }
            const uint64_t value = (0x1F2E3D4C5B6A7988ull * uint64_t(inStep.a + 1)) & mask;
            const ULMStatus status = ioImage->Clear(range, value);
            if (status != kULMOK) return Refusable(ioModel, range, inPlace.location) ? kULMOK : status;
            for (int y = range.YOrigin(); y < range.YOrigin() + range.YSize(); ++y)
                for (int x = range.XOrigin(); x < range.XOrigin() + range.XSize(); ++x) ioModel.Set(x, y, value);
            return kULMOK;
        }
        case kRender:
        case kStartRender:
        case kMPR:
        case kStartMPR: {
            const bool mpr = inStep.op == kMPR || inStep.op == kStartMPR;
            const bool waited = inStep.op == kRender || inStep.op == kMPR;
            ULMImageRange viewport = inStep.range;
            if (!ioModel.Wrapped())
                viewport.XOrigin() += ioModel.ParameterX(), viewport.YOrigin() += ioModel.ParameterY();
            const std::vector<uint64_t>& reference = Reference(inPlace, inFormat, viewport, mpr);
            Aim(viewport);
            ULMSyncEvent event = Start(inVolume, ioImage, mpr);
            const ULMStatus status = waited ? event.Wait(-1) : event.Status();
            if (!ioModel.HoldsApart(viewport)) {
                EXPECT_EQ(status, kULMErrBuffer) << "a viewport the wrap cannot hold apart";
                return kULMOK;
            }
            if (reference.empty()) return status == kULMErrUnimplemented ? kULMOK : kULMErrUnimplemented;
            // A volume that cannot take the image where its addressing puts
            // it (bands take no wrap and no offset) refuses it, and leaves it.
            if (status == kULMErrUnimplemented || status == kULMErrBuffer) return kULMOK;
            if (ULMFailed(status)) return status;
            Fold(ioModel, reference, inFormat);
            if (!waited) ioPending.push_back(event);
            return kULMOK;
        }
        case kMoveAway:
        case kMoveBack:
            if (!inPlace.moves || Boards() < 2) return kULMOK;
            return ioImage->Migrate(inStep.op == kMoveAway ? (inPlace.location == kULMBoard0 ? kULMBoard1 : kULMBoard0)
                                                          : inPlace.location);
    }
    return kULMErrArgument;
}

void ImageAddressHistoryTest::Run(const Place& inPlace, const Format& inFormat, const History& inHistory) {
    SCOPED_TRACE(::testing::Message() << inPlace.name << ", " << inFormat.name << ", " << inHistory.name);
    ReleasablePointer<ULMVolume> volume(MakeVolume(inPlace));
    ASSERT_NE(volume.GetPointer(), nullptr);
    ReleasablePointer<ULMImageBuffer> image(
        ULMImageBuffer::Create(inPlace.location, kW, kH, inFormat.bits, 4, inFormat.fields));
    ASSERT_NE(image.GetPointer(), nullptr);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
    ImageModel model;
    std::vector<ULMSyncEvent> pending;
    ASSERT_EQ(Apply(image, volume, inPlace, inFormat, {kClear, 0, 0, {kW, kH, 0, 0}}, model, pending), kULMOK);
    for (size_t s = 0; s < inHistory.steps.size(); ++s) {
        const std::string when = "after step " + std::to_string(s + 1);
        ASSERT_EQ(Apply(image, volume, inPlace, inFormat, inHistory.steps[s], model, pending), kULMOK) << when;
        if (!Check(image, model, inFormat.bits, when.c_str())) break;
    }
    for (ULMSyncEvent& event : pending) EXPECT_EQ(event.Wait(-1), kULMOK);
}

const History kHistories[] = {
    {"wrap", {{kWrap, 32, 16}, {kClear, 2, 0, {20, 10, 24, 12}}, {kRender, 0, 0, {32, 16, 20, 10}},
              {kStartRender, 0, 0, {30, 14, 1, 1}}, {kClear, 3, 0, {5, 3, -2, -1}}, {kMPR, 0, 0, {32, 16, 48, 24}},
              {kRender, 0, 0, {32, 24, 20, 10}}}},  // more rows than the wrap holds apart: refused
    {"offset", {{kOffset, 10, 6}, {kRender, 0, 0, {40, 36, 12, 6}}, {kClear, 2, 0, {9, 7, 3, 5}},
                {kStartRender, 0, 0, {48, 40, 2, 4}}, {kOffset, -4, 2}, {kClear, 3, 0, {4, 4, 60, 44}}}},
    {"offset then wrap", {{kOffset, 6, 4}, {kRender, 0, 0, {48, 40, 8, 4}}, {kStartRender, 0, 0, {32, 32, 0, 0}},
                          {kWrap, 64, 32}, {kClear, 2, 0, {10, 6, 58, 28}}, {kRender, 0, 0, {40, 32, 40, 20}},
                          {kStartMPR, 0, 0, {36, 30, 50, 10}}, {kOffset, 0, 0}}},
    {"wrap then offset", {{kWrap, 32, 32}, {kStartRender, 0, 0, {32, 32, 16, 16}}, {kOffset, 2, 8},
                          {kStartMPR, 0, 0, {32, 32, 30, 4}}, {kWrap, 64, 16},
                          {kClear, 2, 0, {7, 5, 1, 1}}, {kRender, 0, 0, {40, 16, 20, 4}}}},
    {"away and back", {{kOffset, 20, 10}, {kRender, 0, 0, {44, 38, 4, 4}}, {kMPR, 0, 0, {40, 36, 10, 6}}, {kOffset, 0, 0},
                       {kStartRender, 0, 0, {40, 40, 0, 0}}, {kWrap, 16, 16}, {kOffset, 20, 10},
                       {kClear, 2, 0, {3, 3, 61, 45}}}},
    {"moved and back", {{kWrap, 64, 16}, {kRender, 0, 0, {48, 16, 40, 8}}, {kMoveAway}, {kClear, 2, 0, {6, 6, 60, 14}},
                        {kStartRender, 0, 0, {40, 16, 0, 0}}, {kMoveBack}, {kOffset, 4, 2}}},
};

// One place a test, so that each runs in its own time under the sanitizers.
TEST_P(ImageAddressHistoryTest, EveryUnloadIsTheModelOfTheImage) {
    // The refusals of images a volume cannot take are logged, away from
    // the test's output.
    testing_support::LogToFile log;
    const Place& place = kPlaces[std::get<2>(GetParam())];
    for (const Format& format : kFormats)
        for (const History& history : kHistories) Run(place, format, history);
}

// Depth buffers under the same addressing histories, with clears and
// updates between the changes.
using DepthAddressHistoryTest = ImageAddressHistoryTest;

TEST_P(DepthAddressHistoryTest, EveryDepthUnloadIsTheModelOfTheBuffer) {
    const ULMLocation places[] = {kULMBoard0, kULMBoard1, kULMMultiBoardMode2};
    for (const ULMLocation place : places) {
        if (place == kULMBoard1 && Boards() < 2) continue;
        for (const History& history : kHistories) {
            SCOPED_TRACE(::testing::Message() << "depth at " << place << ", " << history.name);
            ReleasablePointer<ULMDepthBuffer> depth(ULMDepthBuffer::Create(place, kW, kH));
            ASSERT_NE(depth.GetPointer(), nullptr);
            ASSERT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
            ImageModel model;
            ASSERT_EQ(depth->Clear({kW, kH, 0, 0}, 0x123456u), kULMOK);
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) model.Set(x, y, 0x123456u);
            for (const Step& step : history.steps) {
                if (step.op == kOffset && depth->SetOffset(step.a, step.b) == kULMOK) model.Offset(step.a, step.b);
                if (step.op == kWrap) {
                    ASSERT_EQ(depth->SetWrap(step.a, step.b), kULMOK);
                    model.Wrap(step.a, step.b);
                }
                if ((step.op == kMoveAway || step.op == kMoveBack) && place != kULMMultiBoardMode2 && Boards() > 1) {
                    const ULMLocation other = place == kULMBoard0 ? kULMBoard1 : kULMBoard0;
                    ASSERT_EQ(depth->Migrate(step.op == kMoveAway ? other : place), kULMOK);
                }
                if (step.op == kOffset || step.op == kWrap || step.op == kMoveAway || step.op == kMoveBack) continue;
                // Renders become updates of the viewport with words of their own.
                ULMImageRange range = step.range;
                if (!model.Wrapped()) range.XOrigin() += model.ParameterX(), range.YOrigin() += model.ParameterY();
                std::vector<uint32_t> words(size_t(range.XSize()) * range.YSize());
                for (size_t i = 0; i < words.size(); ++i) words[i] = uint32_t(0x10000 * (step.a + 2) + i) & 0xFFFFFF;
                for (int j = 0; j < range.YSize(); ++j)
                    for (int i = 0; i < range.XSize(); ++i)
                        model.Set(range.XOrigin() + i, range.YOrigin() + j, words[size_t(j) * range.XSize() + i]);
                ASSERT_EQ(depth->Update(words.data(), range, 0, ULMDepthBuffer::kDepth24Low), kULMOK);
            }
            for (const ULMImageRange& range : Ranges(model)) {
                SCOPED_TRACE(::testing::Message() << "unload of " << range.XSize() << "x" << range.YSize() << " at "
                                                  << range.XOrigin() << "," << range.YOrigin());
                const unsigned row = unsigned(range.XSize()) + 3;
                std::vector<uint8_t> block(size_t(row) * range.YSize() * 4, kFill);
                const ULMStatus status = depth->Unload(block.data(), range, row, ULMDepthBuffer::kDepth24Low);
                if (status != kULMOK && Refusable(model, range, place)) continue;
                ASSERT_EQ(status, kULMOK);
                ExpectModel(block, range, row, model, 32);
            }
        }
    }
}

// Boards, latency and, for images, the index of a place that many boards
// can hold.
std::vector<std::tuple<int, int, int>> BoardsLatencyAndPlaces(bool inPlaces) {
    std::vector<std::tuple<int, int, int>> cases;
    for (const int boards : {1, 2, 3})
        for (const int latency : {0, 150})
            for (int p = 0; p < (inPlaces ? int(std::size(kPlaces)) : 1); ++p)
                if (!inPlaces || kPlaces[p].minBoards <= boards) cases.emplace_back(boards, latency, p);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(BoardsLatencyAndPlace, ImageAddressHistoryTest,
                         ::testing::ValuesIn(BoardsLatencyAndPlaces(true)));
INSTANTIATE_TEST_SUITE_P(BoardsAndLatency, DepthAddressHistoryTest, ::testing::ValuesIn(BoardsLatencyAndPlaces(false)));

}  // namespace
}  // namespace ulm3::testing
