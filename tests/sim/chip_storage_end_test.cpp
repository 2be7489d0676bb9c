// The chip reads nothing past the end of a volume's storage: renders
// of volumes whose sides are whole multiples of the board's rounding (so
// that the last voxel ends the storage's allocation, which AddressSanitizer
// then watches) and of odd sides, turned so that the slices run along the
// storage's rows and their last plane, give the element walk's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "tulx7sim/rendering_chip.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

constexpr int kPixels = 48;
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};
const ULMFieldDescriptor kByte{0, 8, kU};

using ChipStorageEndTest = ContextTest;

TEST_F(ChipStorageEndTest, RendersDownTheStoragesRowsReadNothingPastItsEnd) {
    const int sizes[][3] = {{24, 16, 32}, {21, 19, 23}};
    const double turns[][2] = {{20, 75}, {-30, 105}};
    ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(table->SetEntry(unsigned(i), ULMRGBAFloat(i / 255.0f, 0.5f, 0.3f, i < 40 ? 0.0f : 0.02f)), kULMOK);
    // Shaded, and unshaded (whose rows load voxel pairs too).
    ReleasablePointer<ULMContext> contexts[2] = {ReleasablePointer<ULMContext>(ULMContext::Create(table)),
                                                 ReleasablePointer<ULMContext>(ULMContext::Create(table))};
    ReleasablePointer<ULMLight> light(ULMLight::Create(ULMVector3D(0, 0, 1)));
    ASSERT_EQ(contexts[0]->AddLight(light), kULMOK);
    ASSERT_EQ(contexts[0]->SetReflectionProperties(0.6, 0.1, 0.4, 12.0), kULMOK);
    for (auto& context : contexts) ASSERT_EQ(context->SetRayTermination(1.0, false), kULMOK);
    // The tiles after a failed step too.
    struct Tiled {
        ~Tiled() { tulx7sim::UseChipReferencePath(false); }
    } tiled;
    for (const auto& n : sizes) {
        // A ball over the whole box, its values rising to the middle.
        std::vector<uint8_t> voxels(size_t(n[0]) * n[1] * n[2]);
        for (size_t i = 0; i < voxels.size(); ++i) {
            const double x = double(i % n[0]) / (n[0] - 1) - 0.5, y = double(i / n[0] % n[1]) / (n[1] - 1) - 0.5;
            const double z = double(i / n[0] / n[1]) / (n[2] - 1) - 0.5;
            voxels[i] = uint8_t(std::clamp(250 - 300 * std::hypot(x, y, z), 0.0, 255.0));
        }
        ReleasablePointer<ULMVolume> volume(
            ULMVolume::Create(8, ULMVolumeRange(n[0], n[1], n[2], 0, 0, 0), 1, &kByte, voxels.data()));
        ASSERT_EQ(volume->LockVolume(kULMBoard0), kULMOK);
        for (const auto& turn : turns) {
            for (ULMContext* context : {contexts[0].GetPointer(), contexts[1].GetPointer()}) {
                SCOPED_TRACE(::testing::Message() << n[0] << " x " << n[1] << " x " << n[2] << " turned " << turn[0]
                                                  << ", " << turn[1] << (context == contexts[0] ? ", shaded" : ""));
                ULMCamera camera;
                const double r = 0.75 * std::max({n[0], n[1], n[2]});
                camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -200, 200));
                camera.SetModelMatrix(ULMMatrix::Rotate(turn[0], ULMVector3D(1, 0, 0)) *
                                      ULMMatrix::Rotate(turn[1], ULMVector3D(0, 1, 0)) *
                                      ULMMatrix::Translate(-(n[0] - 1) / 2.0, -(n[1] - 1) / 2.0, -(n[2] - 1) / 2.0));
                camera.SetViewport(0, 0, kPixels, kPixels);
                ASSERT_EQ(context->SetCamera(camera), kULMOK);
                std::vector<uint32_t> pictures[2];
                for (const bool reference : {false, true}) {
                    tulx7sim::UseChipReferencePath(reference);
                    ReleasablePointer<ULMImageBuffer> image(
                        ULMImageBuffer::Create(kULMBoard0, kPixels, kPixels, 32, 4, kRGBA8));
                    const ULMImageRange whole(kPixels, kPixels, 0, 0);
                    ASSERT_EQ(image->Clear(whole, 0), kULMOK);
                    ASSERT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
                    pictures[reference].resize(size_t(kPixels) * kPixels);
                    ASSERT_EQ(image->Unload(pictures[reference].data(), whole, 0), kULMOK);
                }
                EXPECT_EQ(pictures[0], pictures[1]) << "the tiles give the element walk's bytes";
                EXPECT_GT(std::ranges::count_if(pictures[0], [](uint32_t p) { return p != 0; }), kPixels * kPixels / 10);
            }
        }
    }
}

}  // namespace
}  // namespace ulm3::testing
