// Every setter the mipmap volume takes reaches its levels: the wrapper and a
// plain volume of the same voxels get the same call, then answer the same,
// and level 0 draws as the plain volume byte for byte; a coarser level made
// and drawn afterwards has the wrapper's extend modes, border and space
// leaping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mipmap_fixture.h"
#include "support/forwarding_rows.h"
#include "ulm3/lookup_table.h"

namespace ulm3::testing {
namespace {

using MipmapForwardingTest = MipmapTest;
const ULMFieldDescriptor kByte{0, 8, kULMUnsignedFraction};

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
    for (const auto& row : test_support::ForwardingRows(size, fresh)) {
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

        // Level 1 drawn: it takes the wrapper's state as it is drawn.
        ASSERT_EQ(wrapped->SetMipmapRange(1, 1), kULMOK);
        picture(wrapped);
        ULMVolume* level1 = wrapped->GetMipmapLevel(1);
        ASSERT_NE(level1, nullptr);
        const std::string name = row.name;
        if (name == "extend mode and border" || name == "space leaping") {
            EXPECT_EQ(row.state(*level1), want) << "level 1";
        }
    }
}

}  // namespace
}  // namespace ulm3::testing
