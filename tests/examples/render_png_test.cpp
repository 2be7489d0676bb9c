// The first-image commands end to end: volumes made by ulm3_voxmake,
// rendered by ulm3_render, read back from their PNGs.
#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../examples/render/view_framing.h"

namespace {

// Each test in a folder of its own; its commands' stderr in m_errors.
class RenderPng : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir), std::filesystem::remove(m_dir.string() + ".err"); }

    int Run(const std::string& inCommands) {
        const int status = std::system(("cd " + m_dir.string() + " && " + inCommands + " > /dev/null 2> ../" +
                                        m_dir.filename().string() + ".err").c_str());
        std::ifstream errors(m_dir.string() + ".err");
        m_errors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
        return status;
    }
    // Grey levels, top row first; empty when the file is no PNG.
    std::vector<png_byte> Grey(const std::string& inPicture) const {
        png_image image = {nullptr, PNG_IMAGE_VERSION, 0, 0, 0, 0, 0, 0, {}};
        if (!png_image_begin_read_from_file(&image, (m_dir / inPicture).c_str())) return {};
        image.format = PNG_FORMAT_GRAY;
        std::vector<png_byte> grey(PNG_IMAGE_SIZE(image));
        return png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr) ? grey : std::vector<png_byte>();
    }

    std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
        ("ulm3_png_" + std::to_string(::getpid()) + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string m_errors;
};

// Seen along z, the phantom's outer ellipse (semi-axes 0.69 and 0.92 of the
// cube's half-width) covers its share of a frame that holds the cube's face
// with the margin on each side, evenly left and right of the centre, at sizes
// the chip subsamples and at one it cannot.
TEST_F(RenderPng, ThePhantomFillsTheFrameAtAnySize) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 64 64 16 phantom.vox"), 0);
    const double face = 1.0 - 2.0 * ulm3_render::kFrameMargin;
    const double expected = 3.14159265358979 * 0.69 * 0.92 / 4.0 * face * face;
    for (const size_t size : {32u, 256u, 1000u}) {
        ASSERT_EQ(Run(ULM3_RENDER " phantom.vox p.png --turn 0 0 --size " + std::to_string(size)), 0) << m_errors;
        std::vector<png_byte> grey = Grey("p.png"), lit;
        ASSERT_EQ(grey.size(), size * size);
        std::copy_if(grey.begin(), grey.end(), std::back_inserter(lit), [](png_byte g) { return g > 0; });
        // At half the median lit grey: the faint fringe of partly filled voxels does not count.
        std::nth_element(lit.begin(), lit.begin() + lit.size() / 2, lit.end());
        size_t covered[2] = {0, 0};
        for (size_t i = 0; i < grey.size(); ++i) covered[i % size >= size / 2] += grey[i] >= lit[lit.size() / 2] / 2;
        EXPECT_NEAR(double(covered[0] + covered[1]) / double(grey.size()), expected, 0.05 * expected) << size;
        EXPECT_NEAR(double(covered[0]), double(covered[1]), 0.02 * double(covered[0])) << size;
    }
}

// 12-bit values in a 16-bit field: the window and the table follow the
// values, not the field's width, so the picture is the 8-bit one.
TEST_F(RenderPng, TwelveBitValuesInSixteenBitsLookLikeTheirEightBitTwin) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 40 40 40 v8.vox && " ULM3_RENDER " v8.vox v8.png --size 64 && "
                  ULM3_VOXMAKE " --shape phantom --size 40 40 40 --bits 16 --field-bits 16 v16.vox && " ULM3_RENDER
                  " v16.vox v16.png --size 64"), 0) << m_errors;
    const std::vector<png_byte> grey8 = Grey("v8.png"), grey16 = Grey("v16.png");
    ASSERT_TRUE(grey8.size() == 64 * 64 && grey16.size() == grey8.size());
    EXPECT_GT(*std::max_element(grey8.begin(), grey8.end()), 64);
    for (size_t i = 0; i < grey8.size(); ++i) ASSERT_NEAR(grey8[i], grey16[i], 2) << i;
}

// Each input a user can get wrong: one line naming the cause, a failed exit,
// and nothing but the two inputs left in the folder (no picture, no temporary).
TEST_F(RenderPng, BadInputsSayWhyAndLeaveNoPicture) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --size 128 128 128 big.vox && echo no voxels > notes.txt"), 0);
    const char* const cases[][3] = {{"", "notes.txt out.png", "is not a volume file"},
                                    {"", "missing.vox out.png", "cannot read"},
                                    {"TULX7SIM_MEMORY_MB=1 ", "big.vox out.png", "do not fit board 0"},
                                    {"", "big.vox no/such/folder/out.png", "cannot write"}};
    for (const auto& c : cases) {
        EXPECT_NE(Run(c[0] + std::string(ULM3_RENDER " ") + c[1]), 0) << c[2];
        EXPECT_TRUE(m_errors.find(c[2]) != std::string::npos && std::count(m_errors.begin(), m_errors.end(), '\n') == 1)
            << m_errors;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 2) << c[2];
    }
}

}  // namespace
