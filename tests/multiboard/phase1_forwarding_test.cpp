// Every setter the banded volume forwards reaches every copy: the band
// volume and a plain volume of the same voxels get the same call, then
// answer the same, each copy answers the same, and their pictures are
// equal byte for byte. With mipmaps on, the copies are mipmap volumes and
// their mipmap properties are forwarded too.
#include <gtest/gtest.h>

#include "multiboard/phase1_fixture.h"
#include "support/forwarding_rows.h"

namespace ulm3::testing {
namespace {

class Phase1ForwardingTest : public Phase1Test, public ::testing::WithParamInterface<bool> {
protected:
    Phase1ForwardingTest() : Phase1Test(3) {}

    // A volume over its own copy of the voxels: banded or plain, over
    // mipmap volumes or not.
    ULMVolume* Make(std::vector<uint8_t>& ioVoxels, bool inBanded) {
        Banded(inBanded);
        if (GetParam()) ULMSetParameter("MipmapMinVolumeSize", 16);
        ULMSetParameter("MipmapMultiboard", 0);  // the copies inside, each a mipmap volume
        ULMVolume* v = ULMVolume::Create(1u, ioVoxels.data(), unsigned(m_size[0]), unsigned(m_size[1]),
                                         unsigned(m_size[2]), ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        ULMSetParameter("MipmapMinVolumeSize", 16384);
        ULMSetParameter("MipmapMultiboard", 1);
        return v;
    }
    Pixels Picture(ULMVolume* inVolume) {
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        EXPECT_EQ(inVolume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Read(image);
    }
};

TEST_P(Phase1ForwardingTest, EverySetterReachesEveryCopy) {
    const bool mipmaps = GetParam();
    std::vector<uint8_t> fresh(m_voxels.size());
    for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = uint8_t(255 - m_voxels[i]);
    const int size[3] = {m_size[0], m_size[1], m_size[2]};
    std::vector<test_support::ForwardingRow> rows = test_support::ForwardingRows(size, fresh);
    for (auto& row : test_support::BufferRows(size, true)) rows.push_back(row);
    if (mipmaps)
        for (auto& row : test_support::MipmapPropertyRows()) rows.push_back(row);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> own[2] = {m_voxels, m_voxels};
        ReleasablePointer<ULMVolume> plain(Make(own[0], false));
        ReleasablePointer<ULMVolume> banded(Make(own[1], true));
        ASSERT_TRUE(IsObjectType(banded, kObjectTypeULMMultiboardVolumePhase1));
        EXPECT_EQ(IsObjectType(plain, kObjectTypeULMMipmapVolume), mipmaps);
        ASSERT_EQ(plain->LockVolume(kULMBoard0), kULMOK);
        ASSERT_EQ(banded->LockVolume(kULMAnyBoard), kULMOK);
        const ULMStatus status = row.set(*plain);
        EXPECT_EQ(status, kULMOK);
        EXPECT_EQ(row.set(*banded), status);
        const std::string want = row.state(*plain);
        EXPECT_EQ(row.state(*banded), want);
        const auto* phase1 = static_cast<ULMMultiboardVolumePhase1*>(banded.GetPointer());
        ASSERT_EQ(phase1->GetNumberRealVolumes(), 3);
        for (int c = 0; c < 3; ++c) {
            const ULMVolume* copy = phase1->GetSubvolume(c).GetVolume();
            EXPECT_EQ(IsObjectType(copy, kObjectTypeULMMipmapVolume), mipmaps) << c;
            EXPECT_EQ(row.state(*copy), want) << "copy " << c;
        }
        const Pixels picture = Picture(plain);
        EXPECT_GT(Lit(picture), 50);
        EXPECT_EQ(Picture(banded), picture);
    }
}

INSTANTIATE_TEST_SUITE_P(Copies, Phase1ForwardingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mipmaps" : "plain"; });

}  // namespace
}  // namespace ulm3::testing
