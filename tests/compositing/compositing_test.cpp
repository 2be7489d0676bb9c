// Host compositing against a reference compositor written from the chip's
// blend table, and board compositing against host compositing on two boards,
// over every blend mode, pixel width and layer count; then both refusals.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
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

Layout Packed(int bits, int size) {  // four channels of size bits from bit 0
    Layout l{bits, {}};
    for (int k = 0; k < 4; ++k) l.f[k] = {k * size, size, kULMUnsignedFraction};
    return l;
}

const Layout kLA4{8, {{0, 4, kULMUnsignedFraction}, {}, {}, {4, 4, kULMUnsignedFraction}}};
const Layout kLA4In16{16, {{0, 4, kULMUnsignedFraction}, {}, {}, {4, 4, kULMUnsignedFraction}}};

Bytes Noise(size_t bytes = 35 * 8) {  // more than a 7 x 5 frame of 64-bit pixels
    Bytes v(bytes);
    for (char& c : v) c = char(rng());
    return v;
}

uint64_t Field(const Layout& l, const Bytes& b, size_t i, int k) {
    uint64_t w = 0;
    std::memcpy(&w, &b[i * size_t(l.bits / 8)], size_t(l.bits / 8));
    return w >> l.f[k].m_position & ((1u << l.f[k].m_size) - 1);
}

Rgba Colour(const Layout& l, const Bytes& b, size_t i) {
    Rgba c;
    for (int k = 0; k < 4; ++k)
        c[size_t(k)] = l.f[k].m_size ? double(Field(l, b, i, k)) / ((1u << l.f[k].m_size) - 1) : 0;
    return c;
}

// Layer s onto the composited colour a by the chip's table of blend
// functions. In mode 6 layers are partial sum-and-count images: their sums
// (red) and counts (green) go on adding in 12 bits.
Rgba Reference(int mode, Rgba a, const Rgba& s) {
    const size_t key = size_t(mode % 4);
    if (mode == 1 || (mode >= 12 ? s[key] > a[key] : mode >= 8 && s[key] < a[key])) return s;
    const double open = 1 - a[3];
    for (size_t k = 0; k < 4; ++k) {
        const double sample = mode % 2 ? s[k] : k < 3 ? s[k] * s[3] : s[3];
        if (mode == 2 || mode == 3) a[k] = sample + (1 - s[3]) * a[k];
        if (mode == 4 || mode == 5) a[k] += open * sample;
        if (mode == 6 && k < 2) a[k] = std::min(4095, int(a[k] * 4095 + 0.5) + int(s[k] * 4095 + 0.5)) / 4095.0;
        if (mode == 7 && s[k] > 0) a[k] = 1;
    }
    return a;
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
    const Layout rows[][2] = {{kLA4, kLA4In16}, {Packed(16, 4), Packed(16, 4)},
                              {Packed(32, 8), Packed(32, 8)},  {Packed(64, 12), Packed(32, 8)},
                              {Packed(64, 12), Packed(64, 12)}};
    const ULMImageRange frame(7, 5, 3, 2), whole(12, 9, 0, 0), input(5, 4, 5, 1);
    ReleasablePointer<ULMContext> context(ULMContext::Create());
    for (int c = 0; c < 16 * 5 * 3; ++c) {
        const int mode = c % 16, n = std::array{1, 3, 8}[size_t(c / 80)], turn = c % 3 % n;
        const Layout &tl = rows[c / 16 % 5][0], &il = rows[c / 16 % 5][1];
        ReleasablePointer<ULMImageBuffer> image(
            ULMImageBuffer::Create(ULMLocation(turn % 2), 12, 9, unsigned(il.bits), 4, il.f));
        const Bytes content = Noise(108 * 8);
        ASSERT_TRUE(image && image->Update(content.data(), whole, 12) == kULMOK);
        image->SetBorderValue(0.25, 0.5, 0.75, 0.5), image->SetInputLimits(input);
        ULMImageBuffer* c0 = c % 3 == 2 ? nullptr : image.GetPointer();
        int index[8];  // sub-volume -> position
        ULMImageRange ranges[8], full[8];
        std::vector<Bytes> in(8);
        for (int s = 0; s < 8; ++s) {
            index[s] = (s + turn) % n, in[size_t(s)] = Noise(), full[s] = frame;
            ranges[s] = ULMImageRange(7 - s % 4, 5 - s % 3, 3 + s % 4, 2 + s % 3);
        }
        Bytes accum(35 * 8);
        image->Unload(accum.data(), frame, 7);
        const auto sub = [&](int p) { return size_t((p - turn + n) % n); };  // position -> sub-volume
        const Layout& rl = c0 ? il : tl;
        const auto host = [&](ULMImageBuffer* color0, ULMImageRange* r) {
            std::vector<Bytes> t = in;
            Bytes a = accum;
            char* transfers[8];
            for (size_t s = 0; s < 8; ++s) transfers[s] = t[s].data();
            ULMSoftwareBlendVolume blend;
            blend.m_maxImageRange = frame, blend.m_blendMode = ULMBlendMode(mode), blend.SetNumOfSubvolumes(n);
            blend.SetVoxelSizeImage0(il.bits), blend.SetFieldDescriptorsImage0(il.f);
            blend.SetVoxelSizeTransferBuffer(tl.bits), blend.SetFieldDescriptorsTransferBuffers(tl.f);
            EXPECT_EQ(blend.StartBlend(color0, nullptr, index, r, a.data(), transfers), kULMOK);
            return blend.ResultInFirstTransferBuffer(color0) ? t[sub(0)] : a;
        };
        const Bytes out = host(c0, ranges);
        for (size_t i = 0; i < 35; ++i) {
            const int x = 3 + int(i % 7), y = 2 + int(i / 7);
            Rgba acc = !c0 ? Rgba{} : x >= 5 && y < 5 ? Colour(il, accum, i) : Rgba{0.25, 0.5, 0.75, 0.5};
            for (int k = 0; k < n; ++k) {  // back to front (modes 2, 3): farthest first
                const int p = mode == 2 || mode == 3 ? n - 1 - k : k;
                const ULMImageRange& r = ranges[sub(p)];
                const int lx = x - r.XOrigin(), ly = y - r.YOrigin();
                const size_t at = p ? size_t(ly * r.XSize() + lx) : i;
                if (lx >= 0 && ly >= 0) acc = Reference(mode, acc, Colour(tl, in[sub(p)], at));
            }
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(Colour(rl, out, i)[size_t(k)], rl.f[k].m_size ? std::clamp(acc[size_t(k)], 0.0, 1.0) : 0,
                            0.5 / ((1 << rl.f[k].m_size) - 1) + 1.0 / 255)
                    << c << ": " << i << "/" << k;
        }
        if (tl.bits == 64) continue;

        ULMBlendVolume board;
        board.SetBufferNumber(turn), board.SetVoxelSize(tl.bits), board.SetNumOfSubvolumes(n);
        ASSERT_TRUE(board.SetFieldDescriptors(tl.f) == kULMOK && board.Resize(frame) == kULMOK);
        for (int i = 0; i < n; ++i) ASSERT_EQ(board.GetVolume(i)->GetBufferLocation(), ULMLocation(i % 2));
        Bytes stack;
        for (int p = 0; p < n; ++p) stack.insert(stack.end(), in[sub(p)].begin(), in[sub(p)].begin() + 35 * tl.bits / 8);
        ASSERT_EQ(board.GetVolume(turn)->StartUpdate(stack.data(), ULMVolumeRange(7, 5, n, 0, 0, 0)).Wait(-1), kULMOK);
        ASSERT_EQ(context->SetBlendMode(ULMBlendMode(mode)), kULMOK);
        const ULMStatus status = board.Render(context, image, nullptr).Wait(-1);
        ASSERT_EQ(status, mode == kULMBlendSumAndCount ? kULMErrUnimplemented : kULMOK) << c;
        if (status != kULMOK) continue;
        const Bytes want = host(image, full);
        Bytes got(108 * 8);
        image->Unload(got.data(), whole, 12);
        for (size_t i = 0; i < 108; ++i) {
            const int x = int(i % 12) - 3, y = int(i / 12) - 2;
            const bool inside = x >= 0 && x < 7 && y >= 0 && y < 5;
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(double(Field(il, got, i, k)),
                            double(Field(il, inside ? want : content, inside ? size_t(y * 7 + x) : i, k)),
                            inside) << c << ": " << i << "/" << k;
        }
    }
}

}  // namespace
}  // namespace ulm3
