// A volume over the caller's voxels, never locked by the caller, first
// rendered and then updated: the render puts a multiboard volume's copies
// on the boards, and the update lands where the volume's target says. An
// unload from the target then reads the update, whatever the kind (a mipmap
// volume over bricks or bands among them), whether the render is still
// pending or was waited for, and the wrapper answers the target its level 0
// writes to.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/volume_kinds.h"

namespace ulm3 {
namespace {

using testing::VolumeKind;

constexpr unsigned kNx = 24, kNy = 20, kNz = 40;
constexpr int kSide = 48;
const ULMFieldDescriptor kVoxelField{0, 8, kULMUnsignedFraction};
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

struct UpdateCase {
    VolumeKind kind;
    int road;   // Multiboard2ForceRender: 1 on a board, 2 on the host
    bool wait;  // the render waited for before the update
};

class UpdateAfterRender : public testing::ContextTest, public ::testing::WithParamInterface<UpdateCase> {
protected:
    UpdateAfterRender() : ContextTest(test_support::SimBoards(3)) {}

    void SetUp() override {
        ContextTest::SetUp();
        voxels.resize(size_t(kNx) * kNy * kNz);
        for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = uint8_t(20 + i % 97);
        table.Assign(ULMLookupTable::Create(256));
        ASSERT_EQ(table->SetRamp(kULMChannelAlpha, 0, 255, 0, 0.1), kULMOK);
        ASSERT_EQ(table->SetRamp(kULMChannelRed, 0, 255, 0, 1), kULMOK);
        context.Assign(ULMContext::Create(table));
        const double r = 0.55 * std::sqrt(double(kNx * kNx + kNy * kNy + kNz * kNz));
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetModelMatrix(ULMMatrix::Rotate(30, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(70, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate(-(kNx / 2.0 - 0.5), -(kNy / 2.0 - 0.5), -(kNz / 2.0 - 0.5)));
        camera.SetViewport(0, 0, kSide, kSide);
        ASSERT_EQ(context->SetCamera(camera), kULMOK);
    }
    void TearDown() override {
        ULMSetParameter("Multiboard2ForceRender", 0);
        context.Assign(nullptr);
        table.Assign(nullptr);
        ContextTest::TearDown();
    }

    std::vector<uint8_t> voxels;
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMContext> context;
};

TEST_P(UpdateAfterRender, UnloadFromTheTargetReadsTheUpdate) {
    const UpdateCase c = GetParam();
    ULMSetParameter("Multiboard2ForceRender", uint64_t(c.road));
    ReleasablePointer<ULMVolume> volume(testing::CreateVolumeOfKind(c.kind, [this] {
        return ULMVolume::Create(8, kNx, kNy, kNz, 1, &kVoxelField, voxels.data());
    }));
    ASSERT_NE(volume, nullptr);
    ASSERT_FALSE(volume->IsLocked());
    ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kSide, kSide, 32, 4, kRGBA8));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->SetMigrationMode(kULMMigrationNoCopy), kULMOK);

    ULMSyncEvent rendered = volume->StartRender(context, image, nullptr, nullptr, nullptr);
    ASSERT_FALSE(ULMFailed(rendered.Status()));
    if (c.wait) {
        ASSERT_EQ(rendered.Wait(-1), kULMOK);
    }

    // A box across the middle, where two bricks meet.
    const ULMVolumeRange box(9, 5, 14, 7, 6, 13);
    std::vector<uint8_t> written(size_t(box.XSize()) * box.YSize() * box.ZSize());
    for (size_t i = 0; i < written.size(); ++i) written[i] = uint8_t(200 + i % 37);
    ASSERT_EQ(volume->Update(written.data(), box), kULMOK);
    ASSERT_EQ(rendered.Wait(-1), kULMOK);

    std::vector<uint8_t> read(written.size(), 0);
    ASSERT_EQ(volume->Unload(read.data(), box, kULMUseTarget), kULMOK);
    size_t wrong = 0;
    for (size_t i = 0; i < read.size(); ++i) wrong += read[i] != written[i];
    EXPECT_EQ(wrong, 0u) << "of " << read.size() << " voxels; target " << int(volume->GetTarget());

    // The target answered is where the update went: its other side keeps
    // the voxels the volume was made over, unless that is the target too.
    const ULMSource other = volume->GetTarget() == kULMBuffer ? kULMUseSource : kULMUseBuffer;
    if (other == kULMUseSource) {
        ASSERT_EQ(volume->Unload(read.data(), box, other), kULMOK);
        size_t kept = 0;
        for (int z = 0; z < box.ZSize(); ++z)
            for (int y = 0; y < box.YSize(); ++y)
                for (int x = 0; x < box.XSize(); ++x) {
                    const size_t at = (size_t(z + box.ZOrigin()) * kNy + size_t(y + box.YOrigin())) * kNx +
                                      size_t(x + box.XOrigin());
                    kept += read[(size_t(z) * box.YSize() + size_t(y)) * box.XSize() + size_t(x)] == voxels[at];
                }
        EXPECT_EQ(kept, read.size()) << "the source changed, though the target is the buffer";
    }
}

const UpdateCase kCases[] = {
    {{"MipmapOverBricks", true, 2}, 1, false},  {{"MipmapOverBricks", true, 2}, 1, true},
    {{"MipmapOverBricks", true, 2}, 2, false},  {{"MipmapOverBricks3", true, 2, 3}, 1, false},
    {{"MipmapOverBands", true, 1}, 0, false},   {{"MipmapOverBands", true, 1}, 0, true},
    {{"Bricks", false, 2}, 1, false},           {{"Bricks", false, 2}, 2, true},
    {{"Bands", false, 1}, 0, false},            {{"Mipmap", true, 0}, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Kinds, UpdateAfterRender, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<UpdateCase>& inInfo) {
                             const UpdateCase& c = inInfo.param;
                             return std::string(c.kind.name) + "Road" + std::to_string(c.road) +
                                    (c.wait ? "Waited" : "Pending");
                         });

}  // namespace
}  // namespace ulm3
