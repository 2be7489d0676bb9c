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
        for (int z = 0; z < kZ; ++z)
            for (int y = 0; y < kY; ++y)
                for (int x = 0; x < kX; ++x) At(x, y, z) = Value(x, y, z);
    }
    static uint16_t Value(int x, int y, int z) { return static_cast<uint16_t>(0x1000 * z + 0x100 * y + x + 1); }
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

TEST_F(MemorySource16, UnloadCopiesExactlyTheBoxWhateverItsShape) {
    const ULMVolumeRange boxes[] = {
        kWhole,
        ULMVolumeRange(2, 2, 2, 11, 21, 31),  // narrower in X: row by row
        ULMVolumeRange(kX, 2, 2, 10, 22, 30), // whole rows: slice by slice
        ULMVolumeRange(kX, kY, 1, 10, 20, 32), // whole slices
        ULMVolumeRange(1, 1, 1, 14, 23, 32),
    };
    for (const ULMVolumeRange& box : boxes) {
        std::vector<uint16_t> out(static_cast<size_t>(box.XSize() * box.YSize() * box.ZSize()) + 1, 0xDEAD);
        ASSERT_EQ(m_source->UnloadVoxels(out.data(), box), kULMOK);
        EXPECT_EQ(out.back(), 0xDEAD) << "wrote past the box";
        out.pop_back();
        EXPECT_EQ(out, Expected(box));
    }
    // Unloading changes nothing that a volume would reload.
    m_source->ResetChangedRange();
    const uint64_t serial = m_source->GetSerial();
    std::vector<uint16_t> out(kX * kY * kZ);
    ASSERT_EQ(m_source->UnloadVoxels(out.data(), kWhole), kULMOK);
    EXPECT_EQ(m_source->GetSerial(), serial);
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());
}

TEST_F(MemorySource16, UpdateWritesOnlyTheBoxAndTracksTheChange) {
    EXPECT_EQ(m_source->ChangedRange(kWhole), kWhole);
    m_source->ResetChangedRange();
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());

    const ULMVolumeRange box(2, 3, 2, 12, 21, 31);
    std::vector<uint16_t> in(12);
    std::iota(in.begin(), in.end(), 0xA000);
    const std::vector<uint16_t> before = m_voxels;
    const uint64_t serial = m_source->GetSerial();
    ASSERT_EQ(m_source->UpdateVoxels(box, in.data()), kULMOK);
    EXPECT_GT(m_source->GetSerial(), serial);
    EXPECT_EQ(Expected(box), in);
    size_t changed = 0;
    for (size_t i = 0; i < m_voxels.size(); ++i) changed += m_voxels[i] != before[i];
    EXPECT_EQ(changed, in.size());
    EXPECT_EQ(m_source->ChangedRange(kWhole), box);
    // The changed range answers within the range asked about.
    EXPECT_EQ(m_source->ChangedRange(ULMVolumeRange(kX, kY, 1, 10, 20, 31)), ULMVolumeRange(2, 3, 1, 12, 21, 31));

    const ULMVolumeRange second(1, 1, 1, 10, 20, 30);
    const uint16_t one = 7;
    ASSERT_EQ(m_source->UpdateVoxels(second, &one), kULMOK);
    EXPECT_EQ(m_source->ChangedRange(kWhole), ULMVolumeRange(4, 4, 3, 10, 20, 30));
}

TEST_F(MemorySource16, MapHandsOutTheCallersBlock) {
    m_source->ResetChangedRange();
    const ULMVolumeRange box(2, 2, 2, 11, 22, 31);
    void* p = nullptr;
    unsigned yStride = 0, zStride = 0;
    const uint64_t serial = m_source->GetSerial();
    ASSERT_EQ(m_source->MapVoxels(box, 0, &p, &yStride, &zStride), kULMOK);
    EXPECT_EQ(p, &At(1, 2, 1));
    EXPECT_EQ(yStride, static_cast<unsigned>(kX));
    EXPECT_EQ(zStride, static_cast<unsigned>(kY));
    EXPECT_EQ(static_cast<uint16_t*>(p)[(1 * zStride + 1) * yStride + 1], At(2, 3, 2));
    EXPECT_EQ(m_source->ReleaseVoxels(p), kULMOK);
    EXPECT_EQ(m_source->GetSerial(), serial);
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());

    ASSERT_EQ(m_source->MapVoxels(box, 1, &p, &yStride, &zStride), kULMOK);
    EXPECT_GT(m_source->GetSerial(), serial);
    EXPECT_EQ(m_source->ChangedRange(kWhole), box);
    EXPECT_EQ(m_source->ReleaseVoxels(p), kULMOK);
}

TEST_F(MemorySource16, BoxesOutsideAndMissingBuffersAreRefused) {
    std::vector<uint16_t> out(kX * kY * kZ * 2);
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    const ULMVolumeRange outside[] = {
        ULMVolumeRange(kX, kY, kZ, 9, 20, 30),
        ULMVolumeRange(1, 1, 1, 10, 20, 33),
        ULMVolumeRange(kX + 1, 1, 1, 10, 20, 30),
        ULMVolumeRange(-1, 1, 1, 12, 21, 31),
        // Empty boxes hold no voxel, but their origin must still be one.
        ULMVolumeRange(0, 0, 0, 100, 100, 100),
        ULMVolumeRange(0, 2, 2, 15, 20, 30),
    };
    for (const ULMVolumeRange& box : outside) {
        EXPECT_EQ(m_source->UnloadVoxels(out.data(), box), kULMErrArgument);
        EXPECT_EQ(m_source->UpdateVoxels(box, out.data()), kULMErrArgument);
        EXPECT_EQ(m_source->MapVoxels(box, 0, &p, &ys, &zs), kULMErrArgument);
    }
    EXPECT_EQ(m_source->UnloadVoxels(nullptr, kWhole), kULMErrArgument);
    EXPECT_EQ(m_source->UpdateVoxels(kWhole, nullptr), kULMErrArgument);
    // An empty box at a voxel of the volume is a request for nothing.
    const ULMVolumeRange empty(0, 2, 2, 14, 20, 30);
    m_source->ResetChangedRange();
    EXPECT_EQ(m_source->UnloadVoxels(out.data(), empty), kULMOK);
    EXPECT_EQ(m_source->UpdateVoxels(empty, out.data()), kULMOK);
    for (int i = 0; i < kX * kY * kZ; ++i) ASSERT_EQ(m_voxels[static_cast<size_t>(i)], Value(i % kX, i / kX % kY, i / (kX * kY)));
}

TEST(MemorySource, WithoutVoxelsItHasNoDataAndCanResize) {
    const ULMVolumeRange range(8, 8, 8, 0, 0, 0);
    SourceRef<ULMVolumeSourceMemory> none(new ULMVolumeSourceMemory(8, nullptr, range));
    EXPECT_FALSE(none->HasData());
    EXPECT_TRUE(none->CanResize());
    EXPECT_FALSE(none->IsReadOnly());
    EXPECT_EQ(none->GetVoxelSize(), 8);
    EXPECT_EQ(none->GetInitialCorrectionMatrix(), ULMMatrix::Identity());
    EXPECT_EQ(none->GetFieldDescriptor(kULMField0), ULMFieldDescriptor());
    EXPECT_EQ(none->GetObjectID() >> 56, 144u);
    uint8_t byte = 0;
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    EXPECT_EQ(none->UnloadVoxels(&byte, ULMVolumeRange(1, 1, 1, 0, 0, 0)), kULMErrVolume);
    EXPECT_EQ(none->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), &byte), kULMErrVolume);
    EXPECT_EQ(none->MapVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), 0, &p, &ys, &zs), kULMErrVolume);

    none->ResetChangedRange();
    const uint64_t serial = none->GetSerial();
    const ULMVolumeRange bigger(16, 4, 2, 1, 2, 3);
    EXPECT_EQ(none->Resize(bigger), kULMOK);
    EXPECT_EQ(none->GetVolumeSize(), bigger);
    EXPECT_GT(none->GetSerial(), serial);
    EXPECT_TRUE(none->ChangedRange(bigger).IsEmpty());

    std::vector<uint8_t> block(512);
    SourceRef<ULMVolumeSourceMemory> real(new ULMVolumeSourceMemory(8, block.data(), range));
    EXPECT_TRUE(real->HasData());
    EXPECT_FALSE(real->CanResize());
    EXPECT_EQ(real->Resize(bigger), kULMErrCantResize);
    EXPECT_EQ(real->GetVolumeSize(), range);
}

TEST(MemorySource, ReservedSlotsAreUnimplemented) {
    SourceRef<ULMVolumeSourceMemory> s(new ULMVolumeSourceMemory(8, nullptr, ULMVolumeRange(1, 1, 1, 0, 0, 0)));
    ULMVolumeSource& v = *s;
    for (ULMStatus st : {v.Reserved00(), v.Reserved01(), v.Reserved02(), v.Reserved03(), v.Reserved04(),
                         v.Reserved05(), v.Reserved06(), v.Reserved07(), v.Reserved08(), v.Reserved09()}) {
        EXPECT_EQ(st, kULMErrUnimplemented);
    }
}

TEST(FieldMask, MasksOfFields) {
    EXPECT_EQ(FieldMask(32), 0xFFFFFFFFu);
    EXPECT_EQ(FieldMask(8, 8), 0xFF00u);
    EXPECT_EQ(FieldMask(12, 4), 0xFFF0u);
    EXPECT_EQ(FieldMask(16, 16), 0xFFFF0000u);
    EXPECT_EQ(FieldMask(0, 0), 0u);
    EXPECT_EQ(FieldMask(0, 32), 0u);
    EXPECT_EQ(FieldMask(-8, 0), 0u);
    EXPECT_DEATH(FieldMask(8, 28), "inFieldSize \\+ inFieldPosition <= 32");
}

namespace {

// Voxel fields over memory sources of each voxel size; the packed field
// values count up from a seed so that each lands somewhere checkable.
class FieldOperations : public ::testing::Test {
protected:
    template <typename Voxel>
    struct Volume {
        explicit Volume(int bits, uint32_t fill) : voxels(64, static_cast<Voxel>(fill)),
            source(new ULMVolumeSourceMemory(bits, voxels.data(), ULMVolumeRange(4, 4, 4, 0, 0, 0))) {}
        std::vector<Voxel> voxels;
        SourceRef<ULMVolumeSourceMemory> source;
    };
    const ULMVolumeRange kBox{2, 3, 2, 1, 1, 2};
    static size_t Index(int x, int y, int z) { return static_cast<size_t>((z * 4 + y) * 4 + x); }
    bool InBox(int x, int y, int z) const {
        return x >= 1 && x < 3 && y >= 1 && y < 4 && z >= 2 && z < 4;
    }
};

}  // namespace

TEST_F(FieldOperations, ByteFieldOfA16BitVoxelTouchesOnlyItsByte) {
    Volume<uint16_t> v(16, 0x5A5A);
    std::vector<uint8_t> in(12);
    std::iota(in.begin(), in.end(), 0x10);
    ASSERT_EQ(v.source->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMOK);
    size_t k = 0;
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint16_t expected = InBox(x, y, z) ? static_cast<uint16_t>(in[k++] << 8 | 0x5A) : 0x5A5A;
                ASSERT_EQ(v.voxels[Index(x, y, z)], expected) << x << "," << y << "," << z;
            }
    std::vector<uint8_t> high(12), low(12);
    ASSERT_EQ(v.source->UnloadVoxelField(high.data(), kBox, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMOK);
    EXPECT_EQ(high, in);
    ASSERT_EQ(v.source->UnloadVoxelField(low.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMOK);
    EXPECT_EQ(low, std::vector<uint8_t>(12, 0x5A));
    // A field write is a change like any other.
    EXPECT_EQ(v.source->ChangedRange(ULMVolumeRange(4, 4, 4, 0, 0, 0)), ULMVolumeRange(4, 4, 4, 0, 0, 0));
}

TEST_F(FieldOperations, FieldsOfA32BitVoxel) {
    const std::pair<int, int> shapes[] = {{0, 8}, {8, 8}, {16, 8}, {24, 8}, {0, 16}, {8, 16}, {16, 16}};
    for (const auto& [position, size] : shapes) {
        Volume<uint32_t> v(32, 0x89ABCDEFu);
        const ULMFieldDescriptor fd(position, size, kULMUnsignedInteger);
        const uint32_t mask = FieldMask(size, position);
        // Packed fields: bytes or 16-bit words, counting up.
        std::vector<uint8_t> in(24), out(24);
        for (size_t i = 0; i < 12; ++i) {
            const uint16_t value = static_cast<uint16_t>(0xC1C1 + i);
            memcpy(&in[i * static_cast<size_t>(size / 8)], &value, static_cast<size_t>(size / 8));
        }
        ASSERT_EQ(v.source->UpdateVoxelField(in.data(), kBox, fd), kULMOK) << position << "/" << size;
        size_t k = 0;
        for (int z = 0; z < 4; ++z)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x) {
                    uint32_t expected = 0x89ABCDEFu;
                    if (InBox(x, y, z)) {
                        uint32_t value = 0;
                        memcpy(&value, &in[k++ * static_cast<size_t>(size / 8)], static_cast<size_t>(size / 8));
                        expected = (expected & ~mask) | (value << position);
                    }
                    ASSERT_EQ(v.voxels[Index(x, y, z)], expected) << position << "/" << size;
                }
        ASSERT_EQ(v.source->UnloadVoxelField(out.data(), kBox, fd), kULMOK);
        EXPECT_EQ(out, in);
    }
}

TEST_F(FieldOperations, WholeVoxelFieldIsThePlainOperation) {
    Volume<uint8_t> v(8, 0);
    std::vector<uint8_t> in(12, 0x77), out(12);
    ASSERT_EQ(v.source->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMOK);
    ASSERT_EQ(v.source->UnloadVoxels(out.data(), kBox), kULMOK);
    EXPECT_EQ(out, in);
    EXPECT_EQ(v.source->UnloadVoxelField(out.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)), kULMOK);
    EXPECT_EQ(v.source->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(1, 8, kULMUnsignedFraction)), kULMErrFormat);
    EXPECT_EQ(v.source->UnloadVoxelField(out.data(), kBox, ULMFieldDescriptor(8, 8, kULMUnsignedFraction)), kULMErrFormat);
}

TEST_F(FieldOperations, FieldsThatDoNotFitAreRefusedBeforeAnythingIsTouched) {
    Volume<uint16_t> v(16, 0x1234);
    std::vector<uint16_t> in(12, 0xFFFF);
    const ULMFieldDescriptor refused[] = {
        ULMFieldDescriptor(4, 8, kULMUnsignedFraction),    // not on a byte
        ULMFieldDescriptor(12, 8, kULMUnsignedFraction),
        ULMFieldDescriptor(16, 8, kULMUnsignedFraction),   // past the voxel
        ULMFieldDescriptor(0, 12, kULMUnsignedFraction),   // not a whole byte
        ULMFieldDescriptor(4, 12, kULMUnsignedFraction),
        ULMFieldDescriptor(0, 4, kULMUnsignedFraction),
        ULMFieldDescriptor(-8, 8, kULMUnsignedFraction),   // negative values shift nothing
        ULMFieldDescriptor(0, -8, kULMUnsignedFraction),
        ULMFieldDescriptor(8, 16, kULMUnsignedFraction),
    };
    for (const ULMFieldDescriptor& fd : refused) {
        EXPECT_EQ(v.source->UpdateVoxelField(in.data(), kBox, fd), kULMErrFormat) << fd.m_position << "/" << fd.m_size;
        EXPECT_EQ(v.source->UnloadVoxelField(in.data(), kBox, fd), kULMErrFormat) << fd.m_position << "/" << fd.m_size;
    }
    for (uint16_t voxel : v.voxels) ASSERT_EQ(voxel, 0x1234);

    const ULMFieldDescriptor high(8, 8, kULMUnsignedFraction);
    EXPECT_EQ(v.source->UpdateVoxelField(nullptr, kBox, high), kULMErrArgument);
    EXPECT_EQ(v.source->UpdateVoxelField(in.data(), ULMVolumeRange(1, 1, 1, 4, 0, 0), high), kULMErrArgument);

    Volume<uint8_t> odd(12, 0);
    EXPECT_EQ(odd.source->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 8, kULMUnsignedFraction)),
              kULMErrVolume);
    SourceRef<ULMVolumeSourceMemory> none(new ULMVolumeSourceMemory(16, nullptr, ULMVolumeRange(4, 4, 4, 0, 0, 0)));
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

TEST_F(FieldOperations, ApplicationSourcesGetTheSameChecks) {
    std::vector<uint16_t> voxels(64, 0x1111);
    std::vector<uint8_t> in(12, 0xAB), out(12);
    const ULMFieldDescriptor high(8, 8, kULMUnsignedFraction);

    SourceRef<AppSource> readOnly(new AppSource(voxels.data(), true, AppSource::Map::kNormal));
    // Format faults are found before the source is asked whether it may write.
    EXPECT_EQ(readOnly->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(4, 8, kULMUnsignedFraction)), kULMErrFormat);
    EXPECT_EQ(readOnly->UpdateVoxelField(in.data(), kBox, high), kULMErrReadOnly);
    // A field that fits the voxel but is no whole byte of it meets the
    // source's own refusal first.
    EXPECT_EQ(readOnly->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(0, 12, kULMUnsignedFraction)),
              kULMErrReadOnly);
    EXPECT_EQ(readOnly->UnloadVoxelField(out.data(), kBox, high), kULMOK);
    EXPECT_EQ(out, std::vector<uint8_t>(12, 0x11));
    EXPECT_EQ(readOnly->m_mapped, 0);

    for (AppSource::Map broken : {AppSource::Map::kNull, AppSource::Map::kZeroStride}) {
        SourceRef<AppSource> s(new AppSource(voxels.data(), false, broken));
        EXPECT_EQ(s->UpdateVoxelField(in.data(), kBox, high), kULMErrInternal);
        EXPECT_EQ(s->UnloadVoxelField(out.data(), kBox, high), kULMErrInternal);
        EXPECT_EQ(s->m_mapped, 0) << "a mapping was not given back";
    }
    SourceRef<AppSource> failing(new AppSource(voxels.data(), false, AppSource::Map::kFails));
    EXPECT_EQ(failing->UpdateVoxelField(in.data(), kBox, high), kULMErrHardware);
    for (uint16_t voxel : voxels) ASSERT_EQ(voxel, 0x1111);
}
