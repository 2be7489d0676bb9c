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

TEST_F(MemorySource16, UnloadCopiesExactlyTheBoxWhateverItsShape) {
    m_source->ResetChangedRange();
    const uint64_t serial = m_source->GetSerial();
    const ULMVolumeRange boxes[] = {
        kWhole, ULMVolumeRange(2, 2, 2, 11, 21, 31) /* row by row */,
        ULMVolumeRange(kX, 2, 2, 10, 22, 30) /* slice by slice */, ULMVolumeRange(kX, kY, 1, 10, 20, 32),
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
    EXPECT_EQ(m_source->GetSerial(), serial);
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());
}

TEST_F(MemorySource16, UpdateAndWritableMapsTrackTheChange) {
    EXPECT_EQ(m_source->ChangedRange(kWhole), kWhole);
    m_source->ResetChangedRange();
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());

    const ULMVolumeRange box(2, 3, 2, 12, 21, 31);
    std::vector<uint16_t> in(12);
    std::iota(in.begin(), in.end(), 0xA000);
    const std::vector<uint16_t> before = m_voxels;
    uint64_t serial = m_source->GetSerial();
    ASSERT_EQ(m_source->UpdateVoxels(box, in.data()), kULMOK);
    EXPECT_GT(m_source->GetSerial(), serial);
    EXPECT_EQ(Expected(box), in);
    size_t changed = 0;
    for (size_t i = 0; i < m_voxels.size(); ++i) changed += m_voxels[i] != before[i];
    EXPECT_EQ(changed, in.size());
    EXPECT_EQ(m_source->ChangedRange(kWhole), box);
    // The changed range answers within the range asked about.
    EXPECT_EQ(m_source->ChangedRange(ULMVolumeRange(kX, kY, 1, 10, 20, 31)), ULMVolumeRange(2, 3, 1, 12, 21, 31));
    const uint16_t one = 7;
    ASSERT_EQ(m_source->UpdateVoxels(ULMVolumeRange(1, 1, 1, 10, 20, 30), &one), kULMOK);
    EXPECT_EQ(m_source->ChangedRange(kWhole), ULMVolumeRange(4, 4, 3, 10, 20, 30));

    // A map hands out the caller's own block; only a writable one is a change.
    m_source->ResetChangedRange();
    serial = m_source->GetSerial();
    const ULMVolumeRange mapped(2, 2, 2, 11, 22, 31);
    Mapping m;
    ASSERT_EQ(m.Map(*m_source, mapped, 0), kULMOK);
    EXPECT_EQ(m.p, &At(1, 2, 1));
    EXPECT_EQ(m.ys, static_cast<unsigned>(kX));
    EXPECT_EQ(m.zs, static_cast<unsigned>(kY));
    EXPECT_EQ(m_source->ReleaseVoxels(m.p), kULMOK);
    EXPECT_EQ(m_source->GetSerial(), serial);
    EXPECT_TRUE(m_source->ChangedRange(kWhole).IsEmpty());
    ASSERT_EQ(m.Map(*m_source, mapped, 1), kULMOK);
    EXPECT_GT(m_source->GetSerial(), serial);
    EXPECT_EQ(m_source->ChangedRange(kWhole), mapped);
    EXPECT_EQ(m_source->ReleaseVoxels(m.p), kULMOK);
}

TEST_F(MemorySource16, BoxesOutsideAndMissingBuffersAreRefused) {
    std::vector<uint16_t> out(kX * kY * kZ * 2);
    Mapping m;
    const ULMVolumeRange outside[] = {
        ULMVolumeRange(kX, kY, kZ, 9, 20, 30), ULMVolumeRange(1, 1, 1, 10, 20, 33),
        ULMVolumeRange(kX + 1, 1, 1, 10, 20, 30), ULMVolumeRange(-1, 1, 1, 12, 21, 31),
        // Empty boxes hold no voxel, but their origin must still be one.
        ULMVolumeRange(0, 0, 0, 100, 100, 100), ULMVolumeRange(0, 2, 2, 15, 20, 30),
    };
    for (const ULMVolumeRange& box : outside) {
        EXPECT_EQ(m_source->UnloadVoxels(out.data(), box), kULMErrArgument);
        EXPECT_EQ(m_source->UpdateVoxels(box, out.data()), kULMErrArgument);
        EXPECT_EQ(m.Map(*m_source, box, 0), kULMErrArgument);
    }
    EXPECT_EQ(m_source->UnloadVoxels(nullptr, kWhole), kULMErrArgument);
    EXPECT_EQ(m_source->UpdateVoxels(kWhole, nullptr), kULMErrArgument);
    // An empty box at a voxel of the volume is a request for nothing.
    const ULMVolumeRange empty(0, 2, 2, 14, 20, 30);
    EXPECT_EQ(m_source->UnloadVoxels(out.data(), empty), kULMOK);
    EXPECT_EQ(m_source->UpdateVoxels(empty, out.data()), kULMOK);
    for (size_t i = 0; i < m_voxels.size(); ++i) ASSERT_EQ(m_voxels[i], Value(i));
}

TEST(MemorySource, WithoutVoxelsItHasNoDataAndCanResize) {
    const ULMVolumeRange range(8, 8, 8, 0, 0, 0), one(1, 1, 1, 0, 0, 0);
    SourceRef<ULMVolumeSourceMemory> none(new ULMVolumeSourceMemory(8, nullptr, range));
    EXPECT_FALSE(none->HasData());
    EXPECT_TRUE(none->CanResize());
    EXPECT_FALSE(none->IsReadOnly());
    EXPECT_EQ(none->GetVoxelSize(), 8);
    EXPECT_EQ(none->GetObjectID() >> 56, 144u);
    uint8_t byte = 0;
    Mapping m;
    EXPECT_EQ(none->UnloadVoxels(&byte, one), kULMErrVolume);
    EXPECT_EQ(none->UpdateVoxels(one, &byte), kULMErrVolume);
    EXPECT_EQ(m.Map(*none, one, 0), kULMErrVolume);
    ULMVolumeSource& v = *none;
    for (ULMStatus st : {v.Reserved00(), v.Reserved01(), v.Reserved02(), v.Reserved03(), v.Reserved04(),
                         v.Reserved05(), v.Reserved06(), v.Reserved07(), v.Reserved08(), v.Reserved09()})
        EXPECT_EQ(st, kULMErrUnimplemented);

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

TEST(FieldMask, MasksOfFields) {
    const struct { int size, position; uint32_t mask; } cases[] = {
        {32, 0, 0xFFFFFFFFu}, {8, 8, 0xFF00u}, {12, 4, 0xFFF0u}, {16, 16, 0xFFFF0000u},
        {0, 0, 0u},           {0, 32, 0u},     {-8, 0, 0u}};
    for (const auto& c : cases) EXPECT_EQ(FieldMask(c.size, c.position), c.mask) << c.size << "@" << c.position;
    EXPECT_DEATH(FieldMask(8, 28), "inFieldSize \\+ inFieldPosition <= 32");
}

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

TEST_F(FieldOperations, ApplicationSourcesGetTheSameChecks) {
    std::vector<uint16_t> voxels(64, 0x1111);
    std::vector<uint8_t> in(12, 0xAB), out(12);
    const ULMFieldDescriptor high(8, 8, kULMUnsignedFraction);

    SourceRef<AppSource> readOnly(new AppSource(voxels.data(), true, AppSource::Map::kNormal));
    // Format faults are found before the source is asked whether it may write.
    EXPECT_EQ(readOnly->UpdateVoxelField(in.data(), kBox, ULMFieldDescriptor(4, 8, kULMUnsignedFraction)),
              kULMErrFormat);
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
