// The frustum walk and the per-element compositing and writes.
#include "chip_kernels.h"

namespace tulx7sim::chip {

void Renderer::Run() {
    const Setup& s = m_setup;
    for (int a = 0; a < 3; ++a)
        if (s.frustumMin[a] > s.frustumMax[a]) return;
    if (s.volumeOutput) {
        for (uint32_t zs = s.frustumMin[2]; zs <= s.frustumMax[2]; ++zs)
            for (uint32_t ys = s.frustumMin[1]; ys <= s.frustumMax[1]; ++ys)
                for (uint32_t xs = s.frustumMin[0]; xs <= s.frustumMax[0]; ++xs)
                    Pixel(xs, ys, zs);
        return;
    }
    for (uint32_t ys = s.frustumMin[1]; ys <= s.frustumMax[1]; ++ys)
        for (uint32_t xs = s.frustumMin[0]; xs <= s.frustumMax[0]; ++xs) Pixel(xs, ys, 0);
}

Renderer::Start Renderer::Initial(int slot, bool enabled, const Rgba& value, const int64_t (&p)[3]) {
    const ChipArray& image = m_setup.image[slot];
    Start start{value, 0};
    if (!enabled || !image.Bound() || !image.InRange(p)) return start;
    const int64_t offset = image.Locate(p);
    if (offset < 0) {
        ++m_counts.readsOutsideStorage;
        return start;
    }
    start.raw = image.Read(offset);
    for (int k = 0; k < 4; ++k)
        start.colour.c[k] = static_cast<float>(m_setup.imageFields[slot].code[k].Read(start.raw)) /
                            static_cast<float>(chip::kFull);
    return start;
}

void Renderer::Pixel(uint32_t xs, uint32_t ys, uint32_t zs) {
    const Setup& s = m_setup;
    const int64_t element[3] = {xs, ys, zs};
    const Start accumStart = Initial(0, s.initAccum, s.accumValue, element);
    const Start lastStart = Initial(1, s.initLast, s.lastValue, element);
    Rgba accum = accumStart.colour;
    if (s.volume.Bound()) {
        const size_t count = s.slices.size();
        if (s.volumeOutput) {
            Composite(s.slices[zs - s.frustumMin[2]], xs, ys, accum);
        } else if (s.blendAccum == 2 || s.blendAccum == 3) {
            for (size_t i = count; i-- > 0;) Composite(s.slices[i], xs, ys, accum);
        } else {
            for (size_t i = 0; i < count; ++i) Composite(s.slices[i], xs, ys, accum);
        }
    }
    Rgba result = accum;
    if (s.blendLast >= 1 && s.blendLast <= 5) chip::Blend(s.blendLast, result, lastStart.colour);
    else if (s.blendLast >= 7 && s.blendLast <= 15) chip::Blend(s.blendLast, result, lastStart.colour);
    for (int slot = 0; slot < 2; ++slot) {
        if ((s.write & (1u << slot)) == 0) continue;
        const uint64_t background = slot == 1 && s.blendLast != 0 ? lastStart.raw : accumStart.raw;
        Store(slot, element, background, result);
    }
}

void Renderer::Store(int slot, const int64_t (&p)[3], uint64_t background, const Rgba& colour) {
    if ((m_setup.writeMask & (1u << slot)) == 0) {
        ++m_counts.writesOutsideMask;
        return;
    }
    const ChipArray& image = m_setup.image[slot];
    const int64_t offset = image.Locate(p);
    if (offset < 0) {
        ++m_counts.droppedWrites;
        return;
    }
    const int bits = image.ElementBits();
    uint64_t word = bits >= 64 ? background : background & ((uint64_t{1} << bits) - 1);
    for (int k = 0; k < 4; ++k)
        m_setup.imageFields[slot].code[k].Write(static_cast<double>(colour.c[k]), word, bits);
    image.Write(offset, word);
}

void Renderer::Composite(const Slice& slice, uint32_t xs, uint32_t ys, Rgba& accum) {
    if (!slice.live) return;
    const Setup& s = m_setup;
    const Wide xRaw = slice.x0 + Wide{xs} * slice.xx + Wide{ys} * slice.xy;
    const Wide yRaw = slice.y0 + Wide{xs} * slice.yx + Wide{ys} * slice.yy;
    const Wide x256 = xRaw >> 32, y256 = yRaw >> 32;
    if (x256 < s.trimMin[0] || x256 > s.trimMax[0] || y256 < s.trimMin[1] || y256 > s.trimMax[1])
        return;
    const int64_t permuted[3] = {static_cast<int64_t>(x256), static_cast<int64_t>(y256), slice.z256};
    int64_t position[3];
    for (int a = 0; a < 3; ++a)
        position[s.select[a]] = s.negate[a] ? -permuted[a] - 256 : permuted[a];
    chip::Blend(s.blendAccum, accum, m_shader.Classify(position));
    ++m_counts.samples;
}

}  // namespace tulx7sim::chip
