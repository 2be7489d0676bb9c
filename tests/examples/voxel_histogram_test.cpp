// ulm3_render's histogram of field 0 when the field does not start at bit 0
// of the voxel, and other fields fill the bits around it: the counts, the
// highest value and the highest value per plane against a host count of the
// same voxels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/shareable.h"
#include "render/voxel_window.h"
#include "support/sim_library_fixture.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

class VoxelHistogram : public test_support::SimLibraryTest {
protected:
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
    }
};

TEST_F(VoxelHistogram, FieldZeroIsCountedAtItsOwnBits) {
    constexpr ULMFieldFormat kUF = kULMUnsignedFraction;
    const struct {
        const char* name;
        int voxelBits;
        ULMFieldDescriptor fields[2];  // field 0, then the one beside it
    } cases[] = {
        {"8 bits at 8 of 16", 16, {{8, 8, kUF}, {0, 8, kUF}}},
        {"12 bits at 4 of 16", 16, {{4, 12, kUF}, {0, 4, kUF}}},
        {"16 bits at 16 of 32", 32, {{16, 16, kUF}, {0, 16, kUF}}},
        {"8 bits at 12 of 32", 32, {{12, 8, kUF}, {0, 12, kUF}}},
    };
    constexpr int nx = 11, ny = 7, nz = 5;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ULMFieldDescriptor& f0 = c.fields[0];
        const uint32_t mask = (1u << f0.m_size) - 1;
        std::vector<uint32_t> values(size_t(nx) * ny * nz);
        std::vector<uint8_t> bytes(values.size() * size_t(c.voxelBits / 8));
        for (size_t i = 0; i < values.size(); ++i) {
            const uint32_t x = uint32_t(i % nx), y = uint32_t(i / nx % ny), z = uint32_t(i / nx / ny);
            values[i] = (x * 3 + y * 5 + z * z * 7) & mask;
            // The bits below field 0 all set, so that a value read from the
            // wrong bits differs from the right one.
            const uint32_t word = values[i] << f0.m_position | ((1u << f0.m_position) - 1);
            std::memcpy(&bytes[i * size_t(c.voxelBits / 8)], &word, size_t(c.voxelBits / 8));
        }
        ReleasablePointer<ULMVolume> volume(
            ULMVolume::Create(c.voxelBits, nx, ny, nz, 2, c.fields, bytes.data()));
        ASSERT_NE(volume.GetPointer(), nullptr);
        ulm3_render::FieldHistogram got;
        ASSERT_EQ(ulm3_render::CountField0(*volume, got), kULMOK);

        std::vector<uint64_t> counts(size_t{1} << f0.m_size, 0);
        std::vector<unsigned> planes[3] = {std::vector<unsigned>(nx), std::vector<unsigned>(ny),
                                           std::vector<unsigned>(nz)};
        unsigned highest = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            const unsigned v = values[i];
            ++counts[v];
            highest = std::max(highest, v);
            const size_t at[3] = {i % nx, i / nx % ny, i / nx / ny};
            for (int a = 0; a < 3; ++a) planes[a][at[a]] = std::max(planes[a][at[a]], v);
        }
        EXPECT_EQ(got.counts, counts);
        EXPECT_EQ(got.highest, highest);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(got.planeHighest[a], planes[a]) << a;
    }
}

}  // namespace
}  // namespace ulm3
