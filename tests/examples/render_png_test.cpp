// The first-image command end to end: a sphere made by ulm3_voxmake,
// rendered by ulm3_render, read back from its PNG.
#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(RenderPng, ASphereFileBecomesARoundBrightDiscOnBlack) {
    const std::string dir = std::filesystem::temp_directory_path() / ("ulm3_png_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string vox = dir + "/sphere.vox", png = dir + "/sphere.png";
    ASSERT_EQ(std::system((std::string(ULM3_VOXMAKE) + " --size 24 20 24 " + vox + " > /dev/null").c_str()), 0);
    ASSERT_EQ(std::system((std::string(ULM3_RENDER) + " " + vox + " " + png + " --size 48 --turn 0 0").c_str()), 0);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> grey(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr));
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(image.width == 48 && image.height == 48);
    // Round about the image centre (23.5, 23.5): mirrored pixels agree.
    auto at = [&](unsigned x, unsigned y) { return int(grey[y * 48 + x]); };
    EXPECT_TRUE(at(24, 24) > 40 && at(0, 0) + at(47, 47) == 0);
    for (unsigned d = 0; d < 24; d += 2)
        EXPECT_TRUE(std::abs(at(23 - d, 24) - at(24 + d, 24)) <= 12 && std::abs(at(24, 23 - d) - at(24, 24 + d)) <= 12) << d;
}

}  // namespace
