// Host compositing against a reference compositor written from the chip's
// blend table, and board compositing against host compositing on two boards,
// over every blend mode, pixel width and layer count; then both refusals.
#include <gtest/gtest.h>

#include <array>
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
    const size_t bytes = size_t(l.bits / 8);
    uint64_t w = 0;
    for (size_t j = bytes; j-- > 0;) w = w << 8 | uint8_t(b[i * bytes + j]);
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

// Rows {transfer (stack) layout, image 0 layout}: the widths 8 to 64, the
// 12-bit frame of an 8-bit image and of a 12-bit one. The 7 x 5 frame sits at
// (3, 2) of a 12 x 9 image whose input limits cover its right part. Host:
// sub-volume s over its own range at blend position (s + turn) % n, every
// third case without image 0. Board: slot turn holds the stack, the layers
// over the whole frame; outside the frame the image keeps its content.
TEST_F(CompositingTest, HostMatchesReferenceAndBoardMatchesHost) {
    const Layout rows[][2] = {{Packed(8, 4), Packed(16, 4)},
                              {Packed(16, 4), Packed(16, 4)},
                              {Packed(32, 8), Packed(32, 8)},
                              {Packed(64, 12), Packed(32, 8)},
                              {Packed(64, 12), Packed(64, 12)}};
    const ULMImageRange frame(7, 5, 3, 2);
    const ULMImageRange whole(12, 9, 0, 0);
    ULMImageRange ranges[8];  // the host's sub-volumes each over their own
    for (int s = 0; s < 8; ++s) ranges[s] = ULMImageRange(7 - s % 4, 5 - s % 3, 3 + s % 4, 2 + s % 3);
    ULMImageRange frames[8];  // the board's over the whole frame
    std::fill_n(frames, 8, frame);
    ReleasablePointer<ULMContext> context(ULMContext::Create());
    for (int c = 0; c < 16 * 5 * 3; ++c) {
        const int mode = c % 16, n = std::array{1, 3, 8}[size_t(c / 80)], turn = c % 3 % n;
        const auto& [tl, il] = rows[c / 16 % 5];
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(ULMLocation(turn % 2), 12, 9, il.bits, 4, il.f));
        const Bytes content = Noise(108 * 8);
        ASSERT_TRUE(image && image->Update(content.data(), whole, 12) == kULMOK);
        image->SetBorderValue(0.25, 0.5, 0.75, 0.5);
        image->SetInputLimits(ULMImageRange(5, 4, 5, 1));
        ULMImageBuffer* image0 = c % 3 == 2 ? nullptr : image.GetPointer();
        int index[8];              // sub-volume -> position
        std::vector<Bytes> in(9);  // the layers, and image 0's content over the frame
        for (int s = 0; s < 8; ++s) index[s] = (s + turn) % n;
        std::generate_n(in.begin(), 8, [] { return Noise(); });
        in[8] = Bytes(35 * 8);
        image->Unload(in[8].data(), frame, 7);
        const auto sub = [&](int p) { return size_t((p - turn + n) % n); };  // position -> sub-volume
        const auto host = [&](ULMImageBuffer* inImage0, ULMImageRange* inRanges) {
            std::vector<Bytes> layers = in;
            char* buffers[9];
            for (size_t s = 0; s < 9; ++s) buffers[s] = layers[s].data();
            ULMSoftwareBlendVolume blend;
            Configure(blend, mode, n, tl, il, frame);
            EXPECT_EQ(blend.StartBlend(inImage0, nullptr, index, inRanges, buffers[8], buffers), kULMOK);
            return layers[blend.ResultInFirstTransferBuffer(inImage0) ? sub(0) : 8];
        };
        const Bytes out = host(image0, ranges);
        const Layout& rl = image0 ? il : tl;
        for (size_t i = 0; i < 35; ++i) {
            const int x = 3 + int(i % 7), y = 2 + int(i / 7);
            Rgba acc = !image0 ? Rgba{} : x >= 5 && y < 5 ? Colour(il, in[8], i) : Rgba{0.25, 0.5, 0.75, 0.5};
            for (int k = 0; k < n; ++k) {  // back to front (modes 2, 3): farthest first
                const int p = mode == 2 || mode == 3 ? n - 1 - k : k;
                const ULMImageRange& r = ranges[sub(p)];
                const size_t at = p ? size_t((y - r.YOrigin()) * r.XSize() + x - r.XOrigin()) : i;
                if (x >= r.XOrigin() && y >= r.YOrigin()) acc = Reference(mode, acc, Colour(tl, in[sub(p)], at));
            }
            for (size_t k = 0; k < 4; ++k)  // a channel without a field: any value
                EXPECT_NEAR(Colour(rl, out, i)[k], std::clamp(acc[k], 0.0, 1.0), 0.5 / Max(rl.f[k]) + 1.0 / 255)
                    << c << ": " << i;
        }
        if (tl.bits == 64) continue;

        ULMBlendVolume board;
        board.SetBufferNumber(turn);
        board.SetVoxelSize(tl.bits);
        board.SetNumOfSubvolumes(n);
        ASSERT_TRUE(board.SetFieldDescriptors(tl.f) == kULMOK && board.Resize(frame) == kULMOK);
        for (int i = 0; i < n; ++i) ASSERT_EQ(board.GetVolume(i)->GetBufferLocation(), ULMLocation(i % 2));
        Bytes stack;
        for (int p = 0; p < n; ++p)
            stack.insert(stack.end(), in[sub(p)].begin(), in[sub(p)].begin() + 35 * tl.bits / 8);
        ASSERT_EQ(board.GetVolume(turn)->StartUpdate(stack.data(), ULMVolumeRange(7, 5, n, 0, 0, 0)).Wait(-1), kULMOK);
        ASSERT_EQ(context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        ASSERT_EQ(board.Render(context, image, nullptr).Wait(-1), mode == 6 ? kULMErrUnimplemented : kULMOK) << c;
        if (mode == kULMBlendSumAndCount) continue;
        const Bytes want = host(image, frames);
        Bytes got(108 * 8);
        image->Unload(got.data(), whole, 12);
        for (size_t i = 0; i < 108; ++i) {  // at: the frame's pixel, or 35 and above outside it
            const size_t x = i % 12 - 3, y = i / 12 - 2;
            const size_t at = x < 7 && y < 5 ? y * 7 + x : 99;
            const Rgba expected = at < 35 ? Colour(il, want, at) : Colour(il, content, i);
            for (size_t k = 0; k < 4; ++k)
                EXPECT_NEAR(Colour(il, got, i)[k], expected[k], at < 35 ? 1.0 / Max(il.f[k]) : 0) << c << ": " << i;
        }
    }
}

// The arguments of a valid blend of two 32-bit layers onto image 0's content.
struct BlendCall {
    BlendCall() {
        Configure(blend, kULMBlendFTB, 2, Packed(32, 8), Packed(32, 8), ULMImageRange(4, 4, 0, 0));
        for (int s = 0; s < 9; ++s) ranges[s] = ULMImageRange(2, 2, s % 3, 0);
        for (size_t s = 0; s < 9; ++s) transfers[s] = buffers[s].data();
    }
    ULMSoftwareBlendVolume blend;
    std::vector<Bytes> buffers = std::vector<Bytes>(10, Noise());
    char* transfers[9];
    char** transferList = transfers;
    char* accumulator = buffers[9].data();
    int index[9] = {1, 0, 2, 3, 4, 5, 6, 7, 8};
    int* indexList = index;
    ULMImageRange ranges[9];
    ULMImageRange* rangeList = ranges;
};

// The valid blend broken one way per row: 1004, and no buffer written. Then
// stacks of bad sizes: refused, and no slot is made.
TEST_F(CompositingTest, BadBlendsAndStacksAreRefused) {
    const std::function<void(BlendCall&)> breakages[] = {
        [](BlendCall& c) { c.transferList = nullptr; },
        [](BlendCall& c) { c.transfers[1] = nullptr; },
        [](BlendCall& c) { c.indexList = nullptr; },
        [](BlendCall& c) { c.rangeList = nullptr; },
        [](BlendCall& c) { c.accumulator = nullptr; },
        [](BlendCall& c) { c.blend.SetNumOfSubvolumes(9); },
        [](BlendCall& c) { c.blend.SetNumOfSubvolumes(0); },
        [](BlendCall& c) { c.ranges[1] = ULMImageRange(2, 2, 3, 0); },  // beyond the frame
        [](BlendCall& c) { c.index[1] = 1; },                           // not a permutation
        [](BlendCall& c) { c.blend.m_blendMode = ULMBlendMode(16); },
        [](BlendCall& c) { c.blend.SetVoxelSizeImage0(64); },          // not image 0's pixel
        [](BlendCall& c) { c.blend.SetVoxelSizeTransferBuffer(16); },  // fields beyond the pixel
        [](BlendCall& c) { c.blend.SetVoxelSizeTransferBuffer(24); }};
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMSystem, 4, 4, 32, 4, Packed(32, 8).f));
    image->SetInputLimits(ULMImageRange(2, 2, 1, 1));
    for (const auto& breakage : breakages) {
        BlendCall c;
        const std::vector<Bytes> before = c.buffers;
        breakage(c);
        EXPECT_EQ(c.blend.StartBlend(image, nullptr, c.indexList, c.rangeList, c.accumulator, c.transferList),
                  kULMErrArgument)
            << &breakage - breakages;
        EXPECT_EQ(c.buffers, before) << &breakage - breakages;
    }
    for (const auto& [bits, count] : {std::pair{24, 2}, {64, 2}, {4, 2}, {32, 0}, {32, 9}}) {
        ULMBlendVolume blend;
        blend.SetVoxelSize(bits);
        blend.SetNumOfSubvolumes(count);
        EXPECT_TRUE(blend.Resize(ULMImageRange(4, 4, 0, 0)) == kULMErrArgument && !blend.GetBuffer(0)) << bits;
    }
}

}  // namespace
}  // namespace ulm3
