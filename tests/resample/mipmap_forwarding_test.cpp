// Every setter the mipmap volume takes reaches its levels: the wrapper and a
// plain volume of the same voxels get the same call, then answer the same,
// and level 0 draws as the plain volume byte for byte; a coarser level made
// and drawn afterwards has the wrapper's extend modes, border and space
// leaping.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mipmap_fixture.h"
#include "support/forwarding_rows.h"
#include "ulm3/lookup_table.h"

namespace ulm3::testing {
namespace {

using MipmapForwardingTest = MipmapTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

// Writes a box through a map and ends the map: the voxels land where an
// update would put them, and the volume is no longer mapped.
using Map = std::function<ULMStatus(ULMVolume&, const ULMVolumeRange&, uint8_t*&, unsigned&, unsigned&)>;
test_support::ForwardingRow MapRow(const char* inName, const std::vector<uint8_t>& inFresh, Map inMap,
                                   bool inWhole) {
    const uint8_t* fresh = inFresh.data();
    return {inName,
            [=](ULMVolume& v) {
                const ULMVolumeRange box = inWhole ? v.GetRange() : ULMVolumeRange(40, 10, 6, 30, 7, 5);
                uint8_t* at = nullptr;
                unsigned sx = 0, sy = 0;
                const ULMStatus mapped = inMap(v, box, at, sx, sy);
                if (mapped != kULMOK) return mapped;
                for (int z = 0; z < box.ZSize(); ++z)
                    for (int y = 0; y < box.YSize(); ++y)
                        for (int x = 0; x < box.XSize(); ++x)
                            at[(size_t(z) * sy + y) * sx + x] = fresh[(size_t(z) * box.YSize() + y) * box.XSize() + x];
                return v.UnmapVolume();
            },
            test_support::VoxelState, false, true};
}

std::vector<test_support::ForwardingRow> MapRows(const std::vector<uint8_t>& inFresh) {
    return {
        MapRow("map of the volume, typed", inFresh,
               [](ULMVolume& v, const ULMVolumeRange&, uint8_t*& at, unsigned& sx, unsigned& sy) {
                   unsigned char* p = nullptr;
                   const ULMStatus s = v.MapVolume(kULMAccessWrite, p, sx, sy, kULMUseTarget);
                   at = p;
                   return s;
               },
               true),
        MapRow("map of the volume", inFresh,
               [](ULMVolume& v, const ULMVolumeRange&, uint8_t*& at, unsigned& sx, unsigned& sy) {
                   void* p = nullptr;
                   const ULMStatus s = v.MapVolume(kULMAccessWrite, p, sx, sy, kULMUseTarget);
                   at = static_cast<uint8_t*>(p);
                   return s;
               },
               true),
        MapRow("map of a box, typed", inFresh,
               [](ULMVolume& v, const ULMVolumeRange& box, uint8_t*& at, unsigned& sx, unsigned& sy) {
                   unsigned char* p = nullptr;
                   const ULMStatus s = v.MapSubVolume(kULMAccessWrite, box, p, sx, sy, kULMUseTarget);
                   at = p;
                   return s;
               },
               false),
        MapRow("map of a box", inFresh,
               [](ULMVolume& v, const ULMVolumeRange& box, uint8_t*& at, unsigned& sx, unsigned& sy) {
                   void* p = nullptr;
                   const ULMStatus s = v.MapSubVolume(kULMAccessWrite, box, p, sx, sy, kULMUseTarget);
                   at = static_cast<uint8_t*>(p);
                   return s;
               },
               false),
        MapRow("map of a box by corner and sizes", inFresh,
               [](ULMVolume& v, const ULMVolumeRange& box, uint8_t*& at, unsigned& sx, unsigned& sy) {
                   void* p = nullptr;
                   const ULMStatus s = v.MapSubVolume(kULMAccessWrite, unsigned(box.XOrigin()), unsigned(box.YOrigin()),
                                                      unsigned(box.ZOrigin()), unsigned(box.XSize()),
                                                      unsigned(box.YSize()), unsigned(box.ZSize()), p, sx, sy,
                                                      kULMUseTarget);
                   at = static_cast<uint8_t*>(p);
                   return s;
               },
               false),
    };
}

TEST_F(MipmapForwardingTest, EverySetterReachesEveryLevel) {
    const int size[3] = {256, 24, 16};
    const ULMVolumeRange whole(size[0], size[1], size[2], 0, 0, 0);
    std::vector<uint8_t> voxels(size_t(size[0]) * size[1] * size[2]), fresh(voxels.size());
    for (size_t i = 0; i < voxels.size(); ++i) {
        const int x = int(i % 256), y = int(i / 256 % 24), z = int(i / 256 / 24);
        voxels[i] = uint8_t((x * 3 + y * 5 + z * 7) % 256);
        fresh[i] = uint8_t(255 - voxels[i]);
    }
    Held<ULMLookupTable> table(ULMLookupTable::Create(256));
    table->SetRamp(kULMChannelAlpha, 0, 255, 0.0, 0.4);
    Held<ULMContext> context(ULMContext::Create(table));
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-100, 100, -75, 75, -500, 500));
    camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(15, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-127.5, -11.5, -7.5));
    camera.SetViewport(0, 0, 160, 120);
    context->SetCamera(camera);
    const auto picture = [&](ULMVolume* v) {
        Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, 160, 120, 32, 4, kMipmapRGBA));
        EXPECT_EQ(v->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        std::vector<uint32_t> pixels(160 * 120);
        EXPECT_EQ(image->Unload(pixels.data(), ULMImageRange(160, 120, 0, 0), 0), kULMOK);
        return pixels;
    };
    std::vector<test_support::ForwardingRow> rows = test_support::ForwardingRows(size, fresh);
    for (auto& row : test_support::BufferRows(size, true)) rows.push_back(row);
    for (auto& row : MapRows(fresh)) rows.push_back(row);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> own[2] = {voxels, voxels};
        Held<ULMVolume> wrapped(ULMVolume::Create(8, whole, 1, &kByte, own[0].data()));
        Held<ULMVolumeInternal> plain(ULMVolumeInternal::CreateSimpleVolume(8, whole, 1, &kByte, own[1].data()));
        ASSERT_NE(Mipmap(wrapped), nullptr);
        ASSERT_EQ(wrapped->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        const ULMStatus status = row.set(*plain);
        EXPECT_EQ(status, kULMOK);
        EXPECT_EQ(row.set(*wrapped), status);
        const std::string want = row.state(*plain);
        EXPECT_EQ(row.state(*wrapped), want);
        ASSERT_EQ(wrapped->SetMipmapRange(0, 0), kULMOK);
        const std::vector<uint32_t> drawn = picture(plain);
        EXPECT_GT(std::count_if(drawn.begin(), drawn.end(), [](uint32_t p) { return p != 0; }), 1000);
        EXPECT_EQ(picture(wrapped), drawn);
        EXPECT_EQ(row.state(*wrapped->GetMipmapLevel(0)), want) << "level 0";

        // Level 1 drawn: it takes the wrapper's state as it is drawn. A
        // wrapped level 0 makes no coarser level that draws (the render
        // answers kULMErrCantSubsample), and one made from an offset level 0
        // leaves the chip's diagnostics set, so the rows that move level 0's
        // buffer stop at level 0.
        const std::string name = row.name;
        if (name.find("wrap") != std::string::npos || name.find("buffer") != std::string::npos) continue;
        ASSERT_EQ(wrapped->SetMipmapRange(1, 1), kULMOK);
        picture(wrapped);
        ULMVolume* level1 = wrapped->GetMipmapLevel(1);
        ASSERT_NE(level1, nullptr);
        if (name == "extend mode and border" || name == "space leaping") {
            EXPECT_EQ(row.state(*level1), want) << "level 1";
        }
    }
}

}  // namespace
}  // namespace ulm3::testing
