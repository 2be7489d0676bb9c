// The memory source and the field operations every source inherits.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "source_ref.h"
#include "volume/field_mask.h"
#include "volume/volume_source_memory.h"

using namespace ulm3;
using namespace ulm3::testing;

namespace {

// A 16-bit volume of 5 x 4 x 3 voxels placed at (10, 20, 30); each voxel
// holds its own coordinates, so a misplaced copy shows.
class MemorySource16 : public ::testing::Test {
protected:
    static constexpr int kX = 5, kY = 4, kZ = 3;
    const ULMVolumeRange kWhole{kX, kY, kZ, 10, 20, 30};

    MemorySource16() : m_voxels(kX * kY * kZ), m_source(new ULMVolumeSourceMemory(16, m_voxels.data(), kWhole)) {
        for (size_t i = 0; i < m_voxels.size(); ++i) m_voxels[i] = Value(i);
    }
    static uint16_t Value(size_t i) {
        return static_cast<uint16_t>(0x1000 * (i / (kX * kY)) + 0x100 * (i / kX % kY) + i % kX + 1);
    }
    uint16_t& At(int x, int y, int z) { return m_voxels[static_cast<size_t>((z * kY + y) * kX + x)]; }

    // The voxels of a box (in volume coordinates) as packed data.
    std::vector<uint16_t> Expected(const ULMVolumeRange& box) {
        std::vector<uint16_t> out;
        for (int z = box.ZOrigin(); z < box.ZOrigin() + box.ZSize(); ++z)
            for (int y = box.YOrigin(); y < box.YOrigin() + box.YSize(); ++y)
                for (int x = box.XOrigin(); x < box.XOrigin() + box.XSize(); ++x)
                    out.push_back(At(x - 10, y - 20, z - 30));
        return out;
    }

    std::vector<uint16_t> m_voxels;
    SourceRef<ULMVolumeSourceMemory> m_source;
};

}  // namespace

namespace {

// Field operations over 4x4x4 memory volumes; the box is where fields move.
class FieldOperations : public ::testing::Test {
protected:
    const ULMVolumeRange kAll{4, 4, 4, 0, 0, 0}, kBox{2, 3, 2, 1, 1, 2};
    bool InBox(size_t i) const {
        const size_t x = i % 4, y = i / 4 % 4, z = i / 16;
        return x >= 1 && x < 3 && y >= 1 && y < 4 && z >= 2;
    }

    // Writes a field of counting values into the box, checks every voxel
    // (only the field's bits of the boxed ones change) and reads it back.
    template <typename Voxel>
    void RoundTrip(int position, int size, Voxel fill) {
        SCOPED_TRACE(::testing::Message() << sizeof(Voxel) * 8 << "-bit voxel, field " << size << "@" << position);
        std::vector<Voxel> voxels(64, fill);
        SourceRef<ULMVolumeSourceMemory> s(new ULMVolumeSourceMemory(int(sizeof(Voxel) * 8), voxels.data(), kAll));
        s->ResetChangedRange();
        const ULMFieldDescriptor fd(position, size, kULMUnsignedInteger);
        const size_t bytes = static_cast<size_t>(size / 8);
        std::vector<uint8_t> in(12 * bytes), out(12 * bytes);
        for (size_t i = 0; i < 12; ++i) {
            const uint16_t value = static_cast<uint16_t>(0xC1C1 + i);
            memcpy(&in[i * bytes], &value, bytes);
        }
        ASSERT_EQ(s->UpdateVoxelField(in.data(), kBox, fd), kULMOK);
        const uint32_t mask = FieldMask(size, position);
        for (size_t i = 0, k = 0; i < 64; ++i) {
            uint32_t expected = fill;
            if (InBox(i)) {
                uint32_t value = 0;
                memcpy(&value, &in[k++ * bytes], bytes);
                expected = (expected & ~mask) | (value << position);
            }
            ASSERT_EQ(voxels[i], static_cast<Voxel>(expected)) << "voxel " << i;
        }
        ASSERT_EQ(s->UnloadVoxelField(out.data(), kBox, fd), kULMOK);
        EXPECT_EQ(out, in);
        // A field write is a change like any other.
        EXPECT_EQ(s->ChangedRange(kAll), kBox);
    }
};

}  // namespace

TEST_F(FieldOperations, ByteAndWordFieldsTouchOnlyTheirBits) {
    for (int position : {0, 8}) RoundTrip<uint16_t>(position, 8, 0x5A5A);
    const std::pair<int, int> shapes[] = {{0, 8}, {8, 8}, {16, 8}, {24, 8}, {0, 16}, {8, 16}, {16, 16}};
    for (const auto& [position, size] : shapes) RoundTrip<uint32_t>(position, size, 0x89ABCDEFu);
}

TEST_F(FieldOperations, WholeVoxelFieldIsThePlainOperation) {
    std::vector<uint8_t> voxels(64), in(12, 0x77), out(12);
    SourceRef<ULMVolumeSourceMemory> s(new ULMVolumeSourceMemory(8, voxels.data(), kAll));
    ASSERT_EQ(s->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMOK);
    ASSERT_EQ(s->UnloadVoxels(out.data(), kBox), kULMOK);
    EXPECT_EQ(out, in);
    EXPECT_EQ(s->UnloadVoxelField(out.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMOK);
    EXPECT_EQ(s->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(1, 8, kULMUnsignedFraction)), kULMErrFormat);
    EXPECT_EQ(s->UnloadVoxelField(out.data(), kBox, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMErrFormat);
}

TEST_F(FieldOperations, FieldsThatDoNotFitAreRefusedBeforeAnythingIsTouched) {
    std::vector<uint16_t> voxels(64, 0x1234), in(12, 0xFFFF);
    SourceRef<ULMVolumeSourceMemory> s(new ULMVolumeSourceMemory(16, voxels.data(), kAll));
    // Off a byte, past the voxel, not whole bytes, and negative values that
    // must shift nothing.
    const std::pair<int, int> refused[] = {{4, 8},  {12, 8}, {16, 8}, {0, 12}, {4, 12},
                                           {0, 4},  {-8, 8}, {0, -8}, {8, 16}};
    for (const auto& [position, size] : refused) {
        const ULMFieldDescriptor fd(position, size, kULMUnsignedFraction);
        EXPECT_EQ(s->UpdateVoxelField(in.data(), kBox, fd), kULMErrFormat) << position << "/" << size;
        EXPECT_EQ(s->UnloadVoxelField(in.data(), kBox, fd), kULMErrFormat) << position << "/" << size;
    }
    for (uint16_t voxel : voxels) ASSERT_EQ(voxel, 0x1234);

    const ULMFieldDescriptor high(8, 8, kULMUnsignedFraction);
    EXPECT_EQ(s->UpdateVoxelField(nullptr, kBox, high), kULMErrArgument);
    EXPECT_EQ(s->UpdateVoxelField(in.data(), ULMVolumeRange(1, 1, 1, 4, 0, 0), high), kULMErrArgument);
    SourceRef<ULMVolumeSourceMemory> odd(new ULMVolumeSourceMemory(12, voxels.data(), kAll));
    EXPECT_EQ(odd->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMErrVolume);
    SourceRef<ULMVolumeSourceMemory> none(new ULMVolumeSourceMemory(16, nullptr, kAll));
    EXPECT_EQ(none->UnloadVoxelField(in.data(), kBox, high), kULMErrVolume);
    EXPECT_EQ(none->UnloadVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 4, kULMUnsignedFraction)), kULMErrVolume);
}

namespace {

// An application's source: memory underneath, read-only on demand, and a
// mapping that can be made to misbehave.
class AppSource : public ULMVolumeSourceMemory {
public:
    enum class Map { kNormal, kNull, kZeroStride, kFails };
    AppSource(void* voxels, bool readOnly, Map map)
        : ULMVolumeSourceMemory(16, voxels, ULMVolumeRange(4, 4, 4, 0, 0, 0)), m_readOnly(readOnly), m_map(map) {}
    bool IsReadOnly() const override { return m_readOnly; }
    ULMStatus MapVoxels(const ULMVolumeRange& box, int write, void** out, unsigned* ys, unsigned* zs) override {
        if (m_map == Map::kFails) return kULMErrHardware;
        const ULMStatus s = ULMVolumeSourceMemory::MapVoxels(box, write, out, ys, zs);
        if (m_map == Map::kNull) *out = nullptr;
        if (m_map == Map::kZeroStride) *ys = 0;
        if (s == kULMOK && *out != nullptr) ++m_mapped;
        return s;
    }
    ULMStatus ReleaseVoxels(void* p) override {
        --m_mapped;
        return ULMVolumeSourceMemory::ReleaseVoxels(p);
    }
    int m_mapped = 0;

private:
    bool m_readOnly;
    Map m_map;
};

}  // namespace
