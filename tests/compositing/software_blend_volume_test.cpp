// The host compositor against a reference compositor written from the chip's
// blend table, over every blend mode, pixel layout and layer count; and its
// refusals.
#include "compositing/software_blend_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "ulm3/pixel_format.h"

namespace ulm3 {
namespace {

using Bytes = std::vector<char>;
using Rgba = std::vector<double>;
std::mt19937 rng(19);

Bytes Noise() {  // a 7 x 5 frame of 64-bit pixels
    Bytes v(35 * 8);
    for (char& c : v) c = char(rng());
    return v;
}

// Pixel i of a buffer in the format's layout, as four fractions.
Rgba Colour(ULMPixelFormat format, const Bytes& b, size_t i) {
    ULMFieldDescriptor f[4];
    const size_t bytes = size_t(ULMGetPixelFormatInfo(format, f) / 8);
    uint64_t w = 0;
    for (size_t j = bytes; j-- > 0;) w = w << 8 | uint8_t(b[i * bytes + j]);
    Rgba c;
    for (const auto& d : f)
        c.push_back(double(w >> d.m_position & ((1u << d.m_size) - 1)) / ((1u << d.m_size) - 1));
    return c;
}

// Layer s onto the composited colour a by the chip's table of blend
// functions; in mode 6 a layer's sums and counts add in 12 bits.
Rgba Reference(int mode, Rgba a, const Rgba& s) {
    const size_t key = size_t(mode % 4);
    if (mode == 1 || (mode >= 12 ? s[key] > a[key] : mode >= 8 && s[key] < a[key])) return s;
    const double open = 1 - a[3];
    for (size_t k = 0; k < 4; ++k) {
        const double sample = mode % 2 ? s[k] : k < 3 ? s[k] * s[3] : s[3];
        if (mode == 2 || mode == 3) a[k] = sample + (1 - s[3]) * a[k];
        if (mode == 4 || mode == 5) a[k] += open * sample;
        if (mode == 6 && k < 2)
            a[k] = std::min(4095, int(a[k] * 4095 + 0.5) + int(s[k] * 4095 + 0.5)) / 4095.0;
        if (mode == 7 && s[k] > 0) a[k] = 1;
    }
    return a;
}

// Frame 7 x 5 at (3, 2), image 0's input over its right part. Layouts (image
// 0, frame): RGBA4, RGBA8, RGBA12, and RGBA8 over a 64-bit frame; 1, 4 or 7
// layers, the four without image 0 (the result then takes the frame's
// layout); sub-volume s over its own range at blend position (s + turn) % n.
TEST(SoftwareBlend, AgreesWithTheReferenceForEveryModeLayoutAndLayerCount) {
    const ULMPixelFormat f4 = kULMPixelFormatRGBA4, f8 = kULMPixelFormatRGBA8, f12 = kULMPixelFormatRGBA12;
    const ULMPixelFormat layouts[][2] = {{f4, f4}, {f8, f8}, {f12, f12}, {f8, f12}};
    ULMSoftwareBlendVolume blend;
    blend.m_maxImageRange = ULMImageRange(7, 5, 3, 2);
    for (int c = 0; c < 16 * 4 * 3; ++c) {
        const int mode = c % 16, n = 1 + c / 64 * 3, turn = c % 3;
        const ULMPixelFormat image0 = layouts[c / 16 % 4][0], frame = layouts[c / 16 % 4][1];
        const ULMPixelFormat result = n == 4 ? frame : image0;
        ULMFieldDescriptor fields0[4], fieldsF[4], fieldsR[4];
        const int bits0 = ULMGetPixelFormatInfo(image0, fields0),
                  bitsF = ULMGetPixelFormatInfo(frame, fieldsF);
        ReleasablePointer<ULMImageBuffer> color0(
            ULMImageBuffer::Create(kULMSystem, 16, 16, unsigned(bits0), 4, fields0));
        color0->SetBorderValue(0.25, 0.5, 0.75, 0.5);
        color0->SetInputLimits(ULMImageRange(5, 4, 5, 1));
        int index[8];  // sub-volume -> position
        ULMImageRange ranges[8];
        std::vector<Bytes> layers(8), in(8);
        char* transfers[8];
        for (int s = 0; s < 8; ++s) {
            index[s] = (s + turn) % n;
            ranges[s] = ULMImageRange(7 - s % 4, 5 - s % 3, 3 + s % 4, 2 + s % 3);
            transfers[s] = (layers[size_t(s)] = in[size_t(s)] = Noise()).data();
        }
        Bytes accum = Noise(), image = accum;
        blend.SetVoxelSizeImage0(bits0);
        blend.SetFieldDescriptorsImage0(fields0);
        blend.SetVoxelSizeTransferBuffer(bitsF);
        blend.SetFieldDescriptorsTransferBuffers(fieldsF);
        blend.SetNumOfSubvolumes(n);
        blend.m_blendMode = ULMBlendMode(mode);
        ULMImageBuffer* c0 = n == 4 ? nullptr : color0.GetPointer();
        ASSERT_EQ(blend.StartBlend(c0, nullptr, index, ranges, accum.data(), transfers), kULMOK);
        const auto sub = [&](int p) { return size_t((p - turn + n) % n); };  // position -> sub-volume
        const Bytes& out =
            bitsF == 32 && ULMGetPixelFormatInfo(result, fieldsR) == 32 ? layers[sub(0)] : accum;
        for (size_t i = 0; i < 35; ++i) {
            const int x = 3 + int(i % 7), y = 2 + int(i / 7);
            Rgba acc = !c0               ? Rgba(4)
                       : x >= 5 && y < 5 ? Colour(image0, image, i)
                                         : Rgba{0.25, 0.5, 0.75, 0.5};
            for (int k = 0; k < n; ++k) {  // back to front (modes 2, 3): farthest first
                const int p = mode == 2 || mode == 3 ? n - 1 - k : k;
                const ULMImageRange& r = ranges[sub(p)];
                const int lx = x - r.XOrigin(), ly = y - r.YOrigin();
                const size_t at = p ? size_t(ly * r.XSize() + lx) : i;
                if (lx >= 0 && ly >= 0) acc = Reference(mode, acc, Colour(frame, in[sub(p)], at));
            }
            for (size_t k = 0; k < 4; ++k)
                EXPECT_NEAR(Colour(result, out, i)[k], std::clamp(acc[k], 0.0, 1.0),
                            0.5 / ((1 << fieldsR[k].m_size) - 1) + 1.0 / 255)
                    << c << ": " << i << "/" << k;
        }
    }
}

// A valid two-layer 8-bit blend broken one way per row: 1004, nothing
// written. Rows {layers, x of range 1, transfer bits, null buffer}: a null
// transfer buffer; nine sub-volumes; a range beyond the frame; 24-bit pixels;
// 8-bit fields in 16-bit pixels; no accumulation buffer to write to.
TEST(SoftwareBlend, RefusesBadInputWithoutWritingAnything) {
    const int rows[][4] = {{2, 0, 32, 1}, {9, 0, 32, 0}, {2, 3, 32, 0},
                           {2, 0, 24, 0}, {2, 0, 16, 0}, {2, 0, 64, 2}};
    for (const auto& bad : rows) {
        std::vector<Bytes> buffers = {Noise(), Noise(), Noise()}, before = buffers;
        char* b[3] = {buffers[0].data(), buffers[1].data(), buffers[2].data()};
        b[bad[3]] = bad[3] ? nullptr : b[0];
        ULMSoftwareBlendVolume blend;
        blend.m_maxImageRange = ULMImageRange(4, 4, 0, 0);
        blend.SetVoxelSizeTransferBuffer(bad[2]);
        blend.SetFieldDescriptorsTransferBuffers(ULMSoftwareBlendVolume::kTransferFields8);
        blend.SetNumOfSubvolumes(bad[0]);
        int index[2] = {1, 0};
        ULMImageRange ranges[2] = {ULMImageRange(2, 2, 0, 0), ULMImageRange(2, 2, bad[1], 0)};
        EXPECT_EQ(blend.StartBlend(nullptr, nullptr, index, ranges, b[2], b), kULMErrArgument);
        EXPECT_EQ(buffers, before);
    }
}

}  // namespace
}  // namespace ulm3
