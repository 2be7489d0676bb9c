// Phase-1 multiboard volumes over a freshly built platform of several
// boards: the scene of the render tests (an off-centre blob on a ramp,
// colours weighted by opacity), the volume made plain or banded by the
// configuration, and renders of either into a fresh image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/control.h"
#include "foundation/shareable.h"
#include "multiboard/multiboard_volume_phase1.h"
#include "support/context_fixture.h"
#include "tulx7sim/test_api.h"
#include "ulm3/context.h"
#include "ulm3/depth_buffer.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "ulm3/library.h"
#include "ulm3/volume.h"

namespace ulm3::testing {

using Pixels = std::vector<uint32_t>;

class Phase1Test : public ContextTest {
protected:
    static inline const ULMFieldDescriptor kRGBA8[4] = {
        {0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction}, {16, 8, kULMUnsignedFraction},
        {24, 8, kULMUnsignedFraction}};

    explicit Phase1Test(int inBoards, const std::array<int, 3>& inSize = {48, 40, 36})
        : ContextTest(test_support::SimBoards(inBoards)), m_size(inSize) {}

    void SetUp() override {
        ContextTest::SetUp();
        const int nx = m_size[0], ny = m_size[1], nz = m_size[2];
        m_voxels.resize(size_t(nx) * ny * nz);
        for (size_t i = 0; i < m_voxels.size(); ++i) {  // an off-centre blob on a ramp along X
            const double x = double(i % nx), y = double(i / nx % ny), z = double(i / nx / ny);
            const double blob = std::max(0.0, 200 - 20 * std::hypot(x - 0.6 * nx, y - 0.35 * ny, z - 0.6 * nz));
            m_voxels[i] = uint8_t(std::min(255.0, 2 * x + blob));
        }
        m_table = ULMLookupTable::Create(256);
        for (int i = 0; i < 256; ++i) {
            const float a = i < 60 ? 0.0f : float(i - 60) / 400.0f;
            m_table->SetEntry(i, ULMRGBAFloat(a * float(i) / 255.0f, a * (1 - float(i) / 255.0f), a * 0.5f, a));
        }
        m_context = ULMContext::Create(m_table);
        Aim(30, 40);
    }

    void TearDown() override {
        m_context->Release();
        m_table->Release();
        ContextTest::TearDown();
    }

    // The next volumes made are banded over the boards (inSubVolumes: 0 one
    // band per board) or plain, and never wrapped in a mipmap volume.
    static void Banded(bool inOn, int inSubVolumes = 0) {
        ULMSetParameter("MipmapMinVolumeSize", 16384);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", static_cast<uint64_t>(inSubVolumes));
        ULMSetParameter("MultiboardRenderEnable", inOn ? 1 : 0);
    }

    ULMVolume* NewVolume() {
        return ULMVolume::Create(1u, m_voxels.data(), unsigned(m_size[0]), unsigned(m_size[1]), unsigned(m_size[2]),
                                 ULMVolume::kSliced);
    }

    // A banded volume of inSubVolumes sub-volumes (0: one per board).
    ULMMultiboardVolumePhase1* NewBanded(int inSubVolumes = 0) {
        Banded(true, inSubVolumes);
        ULMVolume* v = NewVolume();
        // The band count stays: images move into as many bands.
        ULMSetParameter("MultiboardRenderEnable", 0);
        EXPECT_TRUE(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase1));
        return IsObjectType(v, kObjectTypeULMMultiboardVolumePhase1) ? static_cast<ULMMultiboardVolumePhase1*>(v)
                                                                     : nullptr;
    }

    // The volume turned by (tx, ty) degrees, centred, into a viewport of the
    // whole image.
    void Aim(double tx, double ty, int inWidth = 64, int inHeight = 64) {
        m_width = inWidth;
        m_height = inHeight;
        const double r = 36.0;
        const double aspect = double(inWidth) / inHeight;
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r * aspect, r * aspect, -r, r, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(tx, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(ty, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1 - m_size[0]) / 2.0, (1 - m_size[1]) / 2.0, (1 - m_size[2]) / 2.0));
        camera.SetViewport(0, 0, inWidth, inHeight);
    }

    // The middle of the same view, at the same scale, into the rows
    // inOriginY .. inOriginY + inRows - 1 of the image alone.
    void Rows(int inOriginY, int inRows) {
        const double r = 36.0, high = r * inRows / m_height;
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -high, high, -100, 100));
        camera.SetViewport(0, inOriginY, m_width, inRows);
    }

    ULMImageRange Whole() const { return ULMImageRange(m_width, m_height, 0, 0); }

    // An image (and with ioDepth two depth buffers) at inWhere, cleared (the
    // depths to the far plane), free to move.
    ULMImageBuffer* NewImage(ULMLocation inWhere) const {
        ULMImageBuffer* image = ULMImageBuffer::Create(inWhere, unsigned(m_width), unsigned(m_height), 32, 4, kRGBA8);
        EXPECT_NE(image, nullptr);
        EXPECT_EQ(image->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        EXPECT_EQ(image->Clear(Whole(), 0), kULMOK);
        return image;
    }
    ULMDepthBuffer* NewDepth(ULMLocation inWhere, const std::vector<uint32_t>* inInput = nullptr) const {
        ULMDepthBuffer* depth = ULMDepthBuffer::Create(inWhere, unsigned(m_width), unsigned(m_height));
        EXPECT_NE(depth, nullptr);
        EXPECT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
        EXPECT_EQ(depth->Clear(Whole(), 0xFFFFFF), kULMOK);
        if (inInput != nullptr) {
            EXPECT_EQ(depth->Update(inInput->data(), Whole(), 0, ULMDepthBuffer::kDepth24Low), kULMOK);
            EXPECT_EQ(depth->SetInputLimits(Whole()), kULMOK);
        }
        return depth;
    }

    Pixels Read(ULMImageBuffer* inImage) const {
        Pixels pixels(size_t(m_width) * m_height, 0xDEADBEEF);
        EXPECT_EQ(inImage->Unload(pixels.data(), Whole(), 0), kULMOK);
        return pixels;
    }
    Pixels Read(ULMDepthBuffer* inDepth) const {
        Pixels depths(size_t(m_width) * m_height, 0xDEADBEEF);
        EXPECT_EQ(inDepth->Unload(depths.data(), Whole(), 0, ULMDepthBuffer::kDepth24Low), kULMOK);
        return depths;
    }

    // Pixels whose colour is not 0: a picture that shows something.
    static int Lit(const Pixels& inPixels) {
        return int(std::count_if(inPixels.begin(), inPixels.end(), [](uint32_t p) { return (p & 0xFFFFFF) != 0; }));
    }

    std::array<int, 3> m_size;
    std::vector<uint8_t> m_voxels;
    ULMLookupTable* m_table = nullptr;
    ULMContext* m_context = nullptr;
    int m_width = 64, m_height = 64;
};

}  // namespace ulm3::testing
