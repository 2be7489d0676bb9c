// A volume with a blob on a ramp, made plain on one board and cut into
// bricks over the simulated boards, and a context that frames it: the
// bricked render is compared with the one-board render of the same voxels.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "multiboard/multiboard_volume_phase2.h"
#include "support/context_fixture.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"
#include "volume/volume_internal.h"

namespace ulm3::testing {

inline constexpr ULMFieldFormat kUF = kULMUnsignedFraction;
inline const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kUF}, {8, 8, kUF}, {16, 8, kUF}, {24, 8, kUF}};

class Phase2Test : public ContextTest {
protected:
    explicit Phase2Test(int inBoards = 2) : ContextTest(test_support::SimBoards(inBoards)) {}
    explicit Phase2Test(const tulx7sim::SimConfig& inPlatform) : ContextTest(inPlatform) {}

    void SetUp() override {
        ContextTest::SetUp();
        FillVoxels(size[0], size[1], size[2]);
        table.Assign(ULMLookupTable::Create(256));
        context.Assign(ULMContext::Create(table));
        Grey(0.02);
    }
    void TearDown() override {
        context.Assign(nullptr);
        table.Assign(nullptr);
        ContextTest::TearDown();
    }

    void FillVoxels(int nx, int ny, int nz) {
        size[0] = nx, size[1] = ny, size[2] = nz;
        voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < voxels.size(); ++i) {
            const double x = double(i % nx), y = double(i / nx % ny), z = double(i / nx / ny);
            const double blob = 220 - 14 * std::hypot(x - 0.6 * nx, y - 0.45 * ny, z - 0.5 * nz);
            voxels[i] = uint8_t(std::clamp(std::max(2.5 * x + y, blob), 0.0, 255.0));
        }
    }
    // Grey rising with the voxel, the opacity a fraction of it (pre-weighted).
    void Grey(double inOpacity) {
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = float(inOpacity * v);
            table->SetEntry(i, ULMRGBAFloat(v * a, v * a, v * a, a));
        }
    }
    // Every channel the voxel's value above inFloor, 0 below: one sample
    // wins a maximum or a minimum on every channel at once.
    void PureGrey(int inFloor) {
        for (int i = 0; i < 256; ++i) {
            const float v = i < inFloor ? 0.0f : float(i) / 255.0f;
            table->SetEntry(i, ULMRGBAFloat(v, v, v, v));
        }
    }
    // A plain volume over the voxels, never wrapped.
    ULMVolumeInternal* Plain() {
        return ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(size[0], size[1], size[2], 0, 0, 0), 1,
                                                     &kRGBA8[0], voxels.data());
    }
    // The bricked volume over a plain one: inCount bricks, locked.
    ULMMultiboardVolumePhase2* Bricked(int inCount, bool inLock = true) {
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        if (plain == nullptr) return nullptr;
        ULMVolume* made = ULMMultiboardVolumePhase2::Create(plain, plain->GetSource(), inCount, plain->GetRange());
        if (made == nullptr) return nullptr;
        auto* bricked = static_cast<ULMMultiboardVolumePhase2*>(made);
        if (inLock && bricked->LockVolume(kULMAnyBoard) != kULMOK) {
            made->Release();
            return nullptr;
        }
        return bricked;
    }
    // Frames the volume turned by (tx, ty) degrees in a side x side viewport.
    void Aim(double tx, double ty, int side, bool perspective = false) {
        const double r = 0.55 * std::hypot(size[0], size[1], size[2]);
        ULMCamera& camera = context->GetCamera();
        camera.SetProjectionMatrix(perspective ? ULMMatrix::Frustum(-r / 3, r / 3, -r / 3, r / 3, r, 4 * r)
                                               : ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetViewMatrix(perspective ? ULMMatrix::Translate(0, 0, -2 * r) : ULMMatrix());
        camera.SetModelMatrix(ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - size[0]) / 2.0, (1 - size[1]) / 2.0, (1 - size[2]) / 2.0));
        camera.SetViewport(0, 0, side, side);
        ASSERT_EQ(context->SetSamplingLimits(1, 3, 2, 2), kULMOK);
    }
    // The image's pixels over its whole range.
    static std::vector<uint32_t> Pixels(ULMImageBuffer* inImage) {
        std::vector<uint32_t> out(size_t(inImage->GetWidth()) * inImage->GetHeight());
        const ULMImageRange whole(int(inImage->GetWidth()), int(inImage->GetHeight()), 0, 0);
        EXPECT_EQ(inImage->Unload(out.data(), whole, inImage->GetWidth()), kULMOK);
        return out;
    }
    static ULMImageBuffer* Image(ULMLocation inWhere, int inSide, int inBits = 32,
                                 const ULMFieldDescriptor* inFields = kRGBA8) {
        return ULMImageBuffer::Create(inWhere, unsigned(inSide), unsigned(inSide), unsigned(inBits), 4, inFields);
    }
    // The one-board render of the same voxels and view.
    // inBorder: every channel of the image's border.
    std::vector<uint32_t> OneBoard(int inSide, double inBorder = 0.0, int inBits = 32,
                                   const ULMFieldDescriptor* inFields = kRGBA8) {
        ReleasablePointer<ULMVolumeInternal> plain(Plain());
        EXPECT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ReleasablePointer<ULMImageBuffer> image(Image(kULMBoard0, inSide, inBits, inFields));
        image->SetBorderValue(inBorder, inBorder, inBorder, inBorder);
        EXPECT_EQ(plain->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Pixels(image);
    }
    std::vector<uint32_t> Bricks(ULMVolume* inVolume, int inSide, double inBorder = 0.0, int inBits = 32,
                                 const ULMFieldDescriptor* inFields = kRGBA8) {
        ReleasablePointer<ULMImageBuffer> image(Image(kULMMultiBoardMode2, inSide, inBits, inFields));
        image->SetBorderValue(inBorder, inBorder, inBorder, inBorder);
        EXPECT_EQ(inVolume->StartRender(context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Pixels(image);
    }

    int size[3] = {45, 52, 31};
    std::vector<uint8_t> voxels;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
};

}  // namespace ulm3::testing
