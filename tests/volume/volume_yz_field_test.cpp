// A field unloaded from the board after YZ slices were written through the
// slab: the slices written must show in the field, whether the box unloaded
// is the whole volume, a box across the slices or one slice.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeYZFieldTest = VolumePassTest;

TEST_F(VolumeYZFieldTest, UnloadFieldAfterYZSliceWritesSeesTheSlices) {
    const ULMVolumeRange whole(96, 40, 36, 0, 0, 0);
    const struct {
        const char* name;
        ULMVolumeRange box;
    } boxes[] = {{"whole", whole}, {"across the slices", ULMVolumeRange(9, 40, 36, 36, 0, 0)},
                 {"one slice", ULMVolumeRange(1, 40, 36, 41, 0, 0)}};
    const struct {
        const char* name;
        ULMFieldDescriptor field;
    } fields[] = {{"high byte", {8, 8, kULMUnsignedFraction}}, {"low byte", {0, 8, kULMUnsignedFraction}}};
    for (const auto& b : boxes)
        for (const auto& f : fields) {
            SCOPED_TRACE(::testing::Message() << b.name << ", " << f.name);
            LockedVolume v;
            Lock(v, 16, whole, kULMBoard0, 11);
            const auto word = [&](int x, int y, int z) -> uint8_t* {
                return &v.host[((size_t(z) * whole.YSize() + y) * whole.XSize() + x) * 2];
            };
            tulx7sim::ClearRequestLog();
            for (const int x : {40, 41, 43}) {
                std::vector<uint16_t> slice(size_t(whole.YSize()) * whole.ZSize());
                for (size_t i = 0; i < slice.size(); ++i) slice[i] = uint16_t(i * 131 + x * 17);
                for (int z = 0; z < whole.ZSize(); ++z)
                    for (int y = 0; y < whole.YSize(); ++y)
                        std::memcpy(word(x, y, z), &slice[size_t(z) * whole.YSize() + y], 2);
                ASSERT_EQ(v.volume->Update(slice.data(), ULMVolumeRange(1, whole.YSize(), whole.ZSize(), x, 0, 0)),
                          kULMOK);
            }
            ASSERT_GE(Renders(), 1u) << "the slices went through the slab";
            const ULMVolumeRange& r = b.box;
            std::vector<uint8_t> got(size_t(r.XSize()) * r.YSize() * r.ZSize(), 0xEE), want;
            ASSERT_EQ(v.volume->UnloadField(got.data(), r, f.field, kULMUseBuffer), kULMOK);
            for (int z = r.ZOrigin(); z < r.ZOrigin() + r.ZSize(); ++z)
                for (int y = r.YOrigin(); y < r.YOrigin() + r.YSize(); ++y)
                    for (int x = r.XOrigin(); x < r.XOrigin() + r.XSize(); ++x)
                        want.push_back(word(x, y, z)[f.field.m_position / 8]);
            EXPECT_TRUE(got == want);
        }
}

}  // namespace
}  // namespace ulm3::testing
