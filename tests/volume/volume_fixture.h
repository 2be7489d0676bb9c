// The library opened over two simulated boards, an application's own volume
// source, and the voxels a volume's board buffer holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "board/kwb_board.h"
#include "board/board_range.h"
#include "foundation/control.h"
#include "foundation/shareable.h"
#include "support/sim_library_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/rendering_chip.h"
#include "tulx7sim/test_api.h"
#include "ulm3/library.h"
#include "volume/volume_internal.h"

namespace ulm3::testing {

template <class T>
using Held = ReleasablePointer<T>;

// An application's source whose voxels lie in rows three voxels wider than
// the volume, one voxel past an aligned address, so that its maps hand out
// pitched, unaligned memory. Counts the maps not yet released.
class PitchedSource : public ULMVolumeSource {
public:
    PitchedSource(int inBits, const ULMVolumeRange& inRange, const std::vector<uint8_t>& inPacked)
        : m_bits(inBits), m_range(inRange), m_bytes(inBits / 8), m_row(inRange.XSize() + 3),
          m_storage(size_t(m_row) * inRange.YSize() * inRange.ZSize() * m_bytes + 64) {
        for (int z = 0; z < inRange.ZSize(); ++z)
            for (int y = 0; y < inRange.YSize(); ++y)
                std::memcpy(At(inRange.XOrigin(), inRange.YOrigin() + y, inRange.ZOrigin() + z),
                            &inPacked[(size_t(z) * inRange.YSize() + y) * inRange.XSize() * m_bytes],
                            size_t(inRange.XSize()) * m_bytes);
    }
    ULMVolumeRange GetVolumeSize() const override { return m_range; }
    bool IsReadOnly() const override { return false; }
    bool HasData() const override { return true; }
    bool CanResize() const override { return false; }
    ULMMatrix GetInitialCorrectionMatrix() const override { return ULMMatrix::Identity(); }
    int GetVoxelSize() const override { return m_bits; }
    ULMFieldDescriptor GetFieldDescriptor(ULMFieldNumber) const override { return ULMFieldDescriptor(); }
    ULMStatus UnloadVoxels(void* out, const ULMVolumeRange& box) override {
        if (!m_range.Contains(box)) return kULMErrArgument;
        char* o = static_cast<char*>(out);
        for (int z = 0; z < box.ZSize(); ++z)
            for (int y = 0; y < box.YSize(); ++y, o += size_t(box.XSize()) * m_bytes)
                std::memcpy(o, At(box.XOrigin(), box.YOrigin() + y, box.ZOrigin() + z),
                            size_t(box.XSize()) * m_bytes);
        return kULMOK;
    }
    ULMStatus MapVoxels(const ULMVolumeRange& box, int, void** out, unsigned* ys, unsigned* zs) override {
        if (!m_range.Contains(box)) return kULMErrArgument;
        *out = At(box.XOrigin(), box.YOrigin(), box.ZOrigin());
        *ys = unsigned(m_row);
        *zs = unsigned(m_range.YSize());
        ++liveMaps;
        return kULMOK;
    }
    ULMStatus ReleaseVoxels(void*) override {
        --liveMaps;
        return kULMOK;
    }
    ULMStatus UpdateVoxels(const ULMVolumeRange&, const void*) override { return kULMErrReadOnly; }
    ULMStatus Resize(const ULMVolumeRange&) override { return kULMErrCantResize; }
    ULMVolumeRange ChangedRange(const ULMVolumeRange&) const override { return ULMVolumeRange(); }
    void ResetChangedRange() override {}

    int liveMaps = 0;

private:
    uint8_t* At(int x, int y, int z) {
        return m_storage.data() + m_bytes +
               ((size_t(z - m_range.ZOrigin()) * m_range.YSize() + (y - m_range.YOrigin())) * m_row +
                (x - m_range.XOrigin())) * m_bytes;
    }

    int m_bits;
    ULMVolumeRange m_range;
    int m_bytes;
    int m_row;
    std::vector<uint8_t> m_storage;
};

class VolumeTest : public test_support::SimLibraryTest {
protected:
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
        tulx7sim::ClearRequestLog();
    }

    static void SetMethod(UpdateMethod inMethod) {
        gULMControl.m_UpdateMethodMemory = gULMControl.m_UpdateMethodSource = gULMControl.m_UpdateMethodFile =
            inMethod;
    }
    static void SetChunkLimit(int inBytes) {
        gULMControl.m_MaxUpdateSizeMemory = gULMControl.m_MaxUpdateSizeSource = inBytes;
    }

    // The box of the volume's board buffer, unloaded through the board.
    static std::vector<uint8_t> BoardVoxels(ULMVolumeInternal& inVolume, const ULMVolumeRange& inBox) {
        std::vector<uint8_t> out(size_t(inBox.XSize()) * inBox.YSize() * inBox.ZSize() * inVolume.GetVoxelSize() / 8);
        EXPECT_NE(inVolume.BoardCopy().Buffer(), nullptr);
        if (inVolume.BoardCopy().Buffer() == nullptr) return out;
        EXPECT_EQ(inVolume.BoardCopy().Board()->UnloadBuffer(inVolume.BoardCopy().Buffer(), out.data(), ULMRange(inBox), 0, 0, -1),
                  kULMOK);
        return out;
    }

    static std::vector<uint8_t> RandomBytes(size_t inCount, uint32_t inSeed) {
        std::mt19937 rng(inSeed);
        std::vector<uint8_t> bytes(inCount);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        return bytes;
    }

    static size_t LiveBuffers() { return size_t(tulx7sim::GetStats().liveBuffers); }
};

// An application's source that may be read-only, or refuse its maps.
class RefusingSource : public PitchedSource {
public:
    RefusingSource(bool readOnly, bool maps, int bits, const ULMVolumeRange& range, const std::vector<uint8_t>& bytes)
        : PitchedSource(bits, range, bytes), m_readOnly(readOnly), m_maps(maps) {}
    bool IsReadOnly() const override { return m_readOnly; }
    ULMStatus MapVoxels(const ULMVolumeRange& box, int w, void** out, unsigned* ys, unsigned* zs) override {
        return m_maps ? PitchedSource::MapVoxels(box, w, out, ys, zs) : kULMErrInternal;
    }

private:
    bool m_readOnly, m_maps;
};

// Volumes whose buffers board passes read and write: a pass that touches
// anything it does not name is a fault even when the voxels come out right.
class VolumePassTest : public VolumeTest {
protected:
    void SetUp() override {
        VolumeTest::SetUp();
        tulx7sim::ClearChipDiagnostics();
    }
    void TearDown() override {
        for (int board = 0; board < 2; ++board)
            EXPECT_EQ(tulx7sim::GetChipDiagnostics(board).Total(), 0u) << "board " << board;
        VolumeTest::TearDown();
    }

    static size_t Renders() {
        size_t n = 0;
        for (const auto& entry : tulx7sim::RequestLog()) n += entry.code == TULX7_DR_RENDER;
        return n;
    }

public:
    // A volume of random voxels locked on a board. Its source memory is
    // kept with it; `host` is the test's copy of what the volume holds.
    struct LockedVolume {
        std::vector<uint8_t> memory;
        std::vector<uint8_t> host;
        Held<ULMVolumeInternal> volume;
    };
    static void Lock(LockedVolume& out, int bits, const ULMVolumeRange& range, ULMLocation board, uint32_t seed) {
        out.memory = RandomBytes(size_t(range.XSize()) * range.YSize() * range.ZSize() * bits / 8, seed);
        out.host = out.memory;
        const ULMFieldDescriptor whole{0, bits < 16 ? bits : 16, kULMUnsignedFraction};
        out.volume.Assign(ULMVolumeInternal::CreateSimpleVolume(bits, range, 1, &whole, out.memory.data()));
        ASSERT_NE(out.volume.GetPointer(), nullptr);
        ASSERT_EQ(out.volume->LockVolume(board), kULMOK);
    }
};

}  // namespace ulm3::testing
