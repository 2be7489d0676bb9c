// The voxel gradients the shaded rows' slab computes, float for float
// against a host reference: every voxel of a plane, at the volume's edges
// (the edge voxel itself or the border word past them) and between, rows
// narrower than a vector and ending mid-vector, on either instruction set.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "tulx7sim/rendering_chip.h"

namespace tulx7sim::test {
namespace {

// A word's field as a fraction of full scale: its bits over their greatest
// value, to 16 bits rounded half up, over 65535.
float Fraction(const SlabVolume& volume, uint64_t word) {
    const uint64_t greatest = (uint64_t{1} << volume.fieldBits) - 1;
    const uint64_t bits = (word >> volume.fieldShift) & greatest;
    const uint64_t value = (2 * bits * 65535 + greatest) / (2 * greatest);
    return static_cast<float>(value) / 65535.0f;
}

// Voxel p's gradient component k, its neighbours read as the fetch stage
// reads a volume that fills its storage.
float Component(const SlabVolume& volume, const int64_t (&p)[3], int k) {
    auto word = [&](int64_t step) {
        int64_t q[3] = {p[0], p[1], p[2]};
        q[k] += step;
        if (q[k] < 0 || q[k] >= volume.size[k]) {
            if (!volume.extend[k]) return volume.border;
            q[k] = p[k];
        }
        return uint64_t{volume.voxels[static_cast<size_t>((q[2] * volume.size[1] + q[1]) * volume.size[0] + q[0])]};
    };
    const float ahead = Fraction(volume, word(1)), behind = Fraction(volume, word(volume.forward ? 0 : -1));
    return volume.forward ? ahead - behind : (ahead - behind) / 2.0f;
}

struct Case {
    int64_t size[3];
    int bits, shift;
};

// A volume of random voxels of the case's size and field, by central
// differences for even variants and forward ones for odd.
SlabVolume RandomVolume(const Case& c, int variant, std::mt19937_64& random) {
    SlabVolume volume;
    std::copy(c.size, c.size + 3, volume.size);
    volume.fieldBits = c.bits;
    volume.fieldShift = c.shift;
    volume.forward = variant % 2 == 1;
    for (bool& extend : volume.extend) extend = random() % 2 == 0;
    volume.border = random();
    volume.voxels.resize(static_cast<size_t>(c.size[0] * c.size[1] * c.size[2]));
    for (uint8_t& voxel : volume.voxels) voxel = static_cast<uint8_t>(random());
    return volume;
}

// Every voxel of plane w the slab computes (those of the volume's runs, or
// all) bit for bit the host's.
void ExpectTheHostsGradients(const SlabVolume& volume, int64_t w) {
    const auto gradients = SlabGradients(volume, w);
    ASSERT_EQ(gradients.size(), static_cast<size_t>(volume.size[0] * volume.size[1]));
    for (int64_t v = 0; v < volume.size[1]; ++v) {
        const SlabRun run = volume.runs.empty() ? SlabRun{0, volume.size[0] - 1} : volume.runs[static_cast<size_t>(v)];
        for (int64_t u = run.low; u <= run.high; ++u)
            for (int k = 0; k < 3; ++k) {
                const float expected = Component(volume, {u, v, w}, k);
                const float got = gradients[static_cast<size_t>(v * volume.size[0] + u)][k];
                ASSERT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(expected))
                    << "voxel " << u << ", " << v << ", component " << k << ": " << got << " against " << expected;
            }
    }
}

// The same for the first plane of the volume, its middle one and its last.
void ExpectTheFirstMiddleAndLastPlanes(const Case& c, int variant, const SlabVolume& volume) {
    for (const int64_t w : {int64_t{0}, c.size[2] / 2, c.size[2] - 1}) {
        SCOPED_TRACE(testing::Message() << ChipInstructionSetName() << ", " << c.size[0] << " x " << c.size[1] << " x "
                                        << c.size[2] << ", field " << c.bits << " bits from " << c.shift
                                        << ", variant " << variant << ", plane " << w);
        ExpectTheHostsGradients(volume, w);
    }
}

TEST(SlabGradientTest, EveryVoxelOfAPlaneIsTheHostsGradientOnEitherInstructionSet) {
    // Rows of 1 to 21 voxels; whole bytes, halves of them, a 16-bit field's
    // low byte, a field off bit 0, and 12 bits (which lanes do not take).
    const Case cases[] = {{{3, 4, 5}, 8, 0},  {{8, 3, 4}, 4, 0},  {{13, 5, 3}, 4, 4}, {{21, 4, 6}, 8, 0},
                          {{1, 3, 3}, 8, 0},  {{17, 3, 3}, 16, 0}, {{11, 4, 4}, 8, 2}, {{9, 3, 4}, 12, 0},
                          {{16, 2, 3}, 8, 0}, {{7, 6, 2}, 4, 4}};
    std::mt19937_64 random(41);
    for (const ChipInstructionSet set : {ChipInstructionSet::kScalar, ChipInstructionSet::kAvx2}) {
        SetChipInstructionSet(set);
        for (const Case& c : cases)
            for (int variant = 0; variant < 4; ++variant) {
                const SlabVolume volume = RandomVolume(c, variant, random);
                ExpectTheFirstMiddleAndLastPlanes(c, variant, volume);
            }
    }
    SetChipInstructionSet(ChipInstructionSet::kDefault);
}

// A plane cut to a footprint: each row its own run, most shorter than a
// vector, anywhere along the row (at its ends, where the edge voxels read
// past the volume, and between), some rows empty.
TEST(SlabGradientTest, RowsCutToRunsHoldTheHostsGradientsOnEitherInstructionSet) {
    const Case cases[] = {{{30, 9, 4}, 8, 0}, {{12, 7, 3}, 4, 4}, {{9, 6, 3}, 8, 0}, {{25, 8, 3}, 4, 0}};
    std::mt19937_64 random(43);
    auto pick = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    for (const ChipInstructionSet set : {ChipInstructionSet::kScalar, ChipInstructionSet::kAvx2}) {
        SetChipInstructionSet(set);
        for (const Case& c : cases)
            for (int variant = 0; variant < 8; ++variant) {
                SlabVolume volume = RandomVolume(c, variant, random);
                for (int64_t v = 0; v < c.size[1]; ++v) {
                    const int64_t low = pick(0, c.size[0] - 1);
                    const int64_t length = pick(0, 5) == 0 ? 0 : pick(1, pick(0, 3) == 0 ? c.size[0] : 9);
                    volume.runs.push_back(SlabRun{low, std::min(low + length - 1, c.size[0] - 1)});
                }
                ExpectTheFirstMiddleAndLastPlanes(c, variant, volume);
            }
    }
    SetChipInstructionSet(ChipInstructionSet::kDefault);
}

}  // namespace
}  // namespace tulx7sim::test
