// Host compositing against a reference compositor written from the chip's
// blend table, and board compositing against host compositing on two boards,
// over every blend mode, pixel width and layer count; then the refusals.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "compositing/blend_volume.h"
#include "compositing/software_blend_volume.h"
#include "support/context_fixture.h"

namespace ulm3 {
namespace {

using Bytes = std::vector<char>;
using Rgba = std::array<double, 4>;
std::mt19937 rng(19);
struct Layout {
    int bits;
    ULMFieldDescriptor f[4];
};
unsigned Max(const ULMFieldDescriptor& f) { return (1u << f.m_size) - 1; }

// Four channels of size bits from bit 0; in 8 bits, two: red and alpha.
Layout Packed(int bits, int size) {
    Layout l{bits, {}};
    for (int k = 0; k < 4; ++k)
        if (bits > 8 || k % 3 == 0) l.f[k] = {(bits > 8 ? k : k / 3) * size, size, kULMUnsignedFraction};
    return l;
}

Bytes Noise(size_t bytes = 35 * 8) {  // a 7 x 5 frame of 64-bit pixels
    Bytes v(bytes);
    for (char& c : v) c = char(rng());
    return v;
}

// Pixel i as four fractions; a channel without a field reads 0.
Rgba Colour(const Layout& l, const Bytes& b, size_t i) {
    uint64_t w = 0;
    std::memcpy(&w, &b[i * size_t(l.bits / 8)], size_t(l.bits / 8));  // the library's pixels are little-endian
    const auto f = [&](int k) { return double(w >> l.f[k].m_position & Max(l.f[k])) / std::max(1u, Max(l.f[k])); };
    return {f(0), f(1), f(2), f(3)};
}

// Layer s onto the composited colour a by the chip's table of blend
// functions. In mode 6 layers are partial sum-and-count images: their sums
// (red) and counts (green) go on adding in 12 bits.
Rgba Reference(int mode, Rgba a, const Rgba& s) {
    const size_t key = size_t(mode % 4);
    if (mode == 1 || (mode >= 12 ? s[key] > a[key] : mode >= 8 && s[key] < a[key])) return s;
    for (size_t k = 0; k < 4; ++k) {  // alpha last: the colours see its old value
        const double sample = mode % 2 ? s[k] : k < 3 ? s[k] * s[3] : s[3];
        if (mode >= 2 && mode <= 5) a[k] = mode < 4 ? sample + (1 - s[3]) * a[k] : a[k] + (1 - a[3]) * sample;
        if (mode == 6 && k < 2) a[k] = std::min(4095, int(a[k] * 4095 + 0.5) + int(s[k] * 4095 + 0.5)) / 4095.0;
        if (mode == 7 && s[k] > 0) a[k] = 1;
    }
    return a;
}

// A host blend of n layers of the transfer layout into the image layout over the frame.
void Configure(ULMSoftwareBlendVolume& b, int mode, int n, const Layout& transfer, const Layout& image,
               ULMImageRange frame) {
    b.m_maxImageRange = frame;
    b.m_blendMode = ULMBlendMode(mode);
    b.SetNumOfSubvolumes(n);
    b.SetVoxelSizeImage0(image.bits);
    b.SetFieldDescriptorsImage0(image.f);
    b.SetVoxelSizeTransferBuffer(transfer.bits);
    b.SetFieldDescriptorsTransferBuffers(transfer.f);
}

struct CompositingTest : testing::ContextTest {
    CompositingTest() : ContextTest(test_support::SimBoards(2)) {}
};

// Rows {transfer (stack) layout, image 0 layout}: the 8-bit stack, the chip's
// 32-bit element and the 64-bit frame. The 7 x 5 frame sits at (3, 2) of a
// 12 x 9 image whose input limits cover its right part; layers lie in blend
// position order, sub-volume s at position (s + turn) % n. Host only: each
// position over its own range, every third case without image 0. Host and
// board: all over the frame, slot turn holds the stack; outside the frame the
// image keeps its content.
TEST_F(CompositingTest, HostMatchesReferenceAndBoardMatchesHost) {
    const Layout rows[][2] = {
        {Packed(8, 4), Packed(16, 4)}, {Packed(32, 8), Packed(32, 8)}, {Packed(64, 12), Packed(64, 12)}};
    const ULMImageRange frame(7, 5, 3, 2);
    const ULMImageRange whole(12, 9, 0, 0);
    const auto own = [](int p) { return ULMImageRange(7 - p % 4, 5 - p % 3, 3 + p % 4, 2 + p % 3); };  // by position
    ReleasablePointer<ULMContext> context(ULMContext::Create());
    for (int c = 0; c < 16 * 3 * 3 * 2; ++c) {
        const int mode = c % 16;
        const int n = std::array{1, 3, 8}[size_t(c / 48 % 3)];
        const int turn = c % 3 % n;
        const bool onBoard = c >= 16 * 3 * 3;
        const auto& [tl, il] = rows[c / 16 % 3];
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(ULMLocation(turn % 2), 12, 9, il.bits, 4, il.f));
        const Bytes content = Noise(size_t(108 * il.bits / 8));
        ASSERT_EQ(image->Update(content.data(), whole, 12), kULMOK);
        image->SetBorderValue(0.25, 0.5, 0.75, 0.5);
        image->SetInputLimits(ULMImageRange(5, 4, 5, 1));
        ULMImageBuffer* image0 = c % 3 == 2 && !onBoard ? nullptr : image.GetPointer();
        const Bytes layers = Noise(size_t(8 * 35 * tl.bits / 8));
        Bytes blended = layers;
        Bytes accumulator(35 * 8);  // image 0's content over the frame
        image->Unload(accumulator.data(), frame, 7);
        int index[8];
        char* buffers[8];
        ULMImageRange ranges[8];
        for (int s = 0; s < 8; ++s) {
            index[s] = (s + turn) % n;
            buffers[s] = blended.data() + index[s] * 35 * tl.bits / 8;
            ranges[s] = onBoard ? frame : own(index[s]);
        }
        ULMSoftwareBlendVolume blend;
        Configure(blend, mode, n, tl, il, frame);
        ASSERT_EQ(blend.StartBlend(image0, nullptr, index, ranges, accumulator.data(), buffers), kULMOK);
        const Bytes& out = blend.ResultInFirstTransferBuffer(image0) ? blended : accumulator;
        const Layout& rl = image0 ? il : tl;
        for (size_t i = 0; i < 35; ++i) {
            const int x = 3 + int(i % 7);
            const int y = 2 + int(i / 7);
            Rgba acc = image0 ? Rgba{0.25, 0.5, 0.75, 0.5} : Rgba{};
            if (image0 && x >= 5 && y < 5) acc = Colour(il, content, size_t(y * 12 + x));
            for (int k = 0; k < n; ++k) {  // back to front (modes 2, 3): farthest first
                const int p = mode == 2 || mode == 3 ? n - 1 - k : k;
                const ULMImageRange& r = onBoard ? frame : own(p);
                const size_t at = p ? size_t((y - r.YOrigin()) * r.XSize() + x - r.XOrigin()) : i;
                if (x >= r.XOrigin() && y >= r.YOrigin())
                    acc = Reference(mode, acc, Colour(tl, layers, size_t(p * 35) + at));
            }
            for (size_t k = 0; k < 4; ++k)  // a channel without a field: any value
                EXPECT_NEAR(Colour(rl, out, i)[k], std::clamp(acc[k], 0.0, 1.0), 0.5 / Max(rl.f[k]) + 1.0 / 255)
                    << c << ": " << i;
        }
        if (!onBoard || tl.bits == 64) continue;

        ULMBlendVolume board;
        board.SetBufferNumber(turn);
        board.SetVoxelSize(tl.bits);
        board.SetNumOfSubvolumes(n);
        ASSERT_TRUE(board.SetFieldDescriptors(tl.f) == kULMOK && board.Resize(frame) == kULMOK);
        for (int i = 0; i < n; ++i) ASSERT_EQ(board.GetVolume(i)->GetBufferLocation(), ULMLocation(i % 2));
        ASSERT_EQ(board.GetVolume(turn)->StartUpdate(layers.data(), ULMVolumeRange(7, 5, n, 0, 0, 0)).Wait(-1), kULMOK);
        ASSERT_EQ(context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        ASSERT_EQ(board.Render(context, image, nullptr).Wait(-1), mode == 6 ? kULMErrUnimplemented : kULMOK) << c;
        Bytes got(35 * 8);
        image->Unload(got.data(), frame, 7);
        for (size_t i = 0; i < 35 && mode != kULMBlendSumAndCount; ++i)
            for (size_t k = 0; k < 4; ++k)
                EXPECT_NEAR(Colour(il, got, i)[k], Colour(il, out, i)[k], 1.0 / Max(il.f[k])) << c << ": " << i;
        ASSERT_EQ(image->Update(content.data() + 27 * il.bits / 8, frame, 12), kULMOK);  // the frame as it was
        got.resize(content.size());
        image->Unload(got.data(), whole, 12);
        EXPECT_EQ(got, content) << c;  // and nothing written outside it
    }
}

// A valid blend of two 32-bit layers onto image 0's content and a valid stack
// of two 32-bit layers, each row breaking one of them: that one is refused and
// the other not; a refused stack makes no slot.
TEST_F(CompositingTest, BadBlendsAndStacksAreRefused) {
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMSystem, 4, 4, 32, 4, Packed(32, 8).f));
    image->SetInputLimits(ULMImageRange(2, 2, 1, 1));  // image 0's content is read
    const ULMImageRange frame(4, 4, 0, 0);
    for (size_t row = 0; row < 15; ++row) {
        ULMSoftwareBlendVolume blend;
        Configure(blend, kULMBlendFTB, 2, Packed(32, 8), Packed(32, 8), frame);
        ULMBlendVolume board;
        board.SetVoxelSize(32);
        board.SetNumOfSubvolumes(2);
        Bytes data = Noise();
        char* transfers[9];
        std::fill_n(transfers, 9, data.data());
        int index[9] = {1, 0, 2, 3, 4, 5, 6, 7, 8};
        ULMImageRange ranges[9];
        std::fill_n(ranges, 9, frame);
        char** transferList = transfers;
        int* indexList = index;
        ULMImageRange* rangeList = ranges;
        char* accumulator = data.data();
        const std::function<void()> breakages[] = {
            [&] { transferList = nullptr; },
            [&] { transfers[1] = nullptr; },
            [&] { indexList = nullptr; },
            [&] { rangeList = nullptr; },
            [&] { accumulator = nullptr; },
            [&] { blend.SetNumOfSubvolumes(9); },
            [&] { ranges[1] = ULMImageRange(2, 2, 3, 0); },  // beyond the frame
            [&] { index[1] = 1; },                           // not a permutation
            [&] { blend.m_blendMode = ULMBlendMode(16); },
            [&] { blend.SetVoxelSizeImage0(64); },          // not image 0's pixel
            [&] { blend.SetVoxelSizeTransferBuffer(16); },  // fields beyond the pixel
            [&] { blend.SetVoxelSizeTransferBuffer(24); },
            [&] { board.SetVoxelSize(64); },  // the host's widest, not the board's
            [&] { board.SetNumOfSubvolumes(0); },
            [&] { board.SetBufferNumber(2); }};
        breakages[row]();
        const ULMStatus blended = blend.StartBlend(image, nullptr, indexList, rangeList, accumulator, transferList);
        const ULMStatus sized = board.Resize(frame);
        EXPECT_EQ(std::max(blended, sized), kULMErrArgument) << row;
        EXPECT_EQ(std::min(blended, sized), kULMOK) << row;
        EXPECT_EQ(board.GetBuffer(0) != nullptr, sized == kULMOK) << row;
    }
}

}  // namespace
}  // namespace ulm3
