// The first-image command end to end: a sphere made by ulm3_voxmake,
// rendered by ulm3_render, read back from its PNG.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Grey {
    unsigned width = 0, height = 0;
    std::vector<int> values;  // red channel, rows top-down
    int At(unsigned x, unsigned y) const { return values[y * width + x]; }
};

bool ReadPng(const std::string& inPath, Grey& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, inPath.c_str())) return false;
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return false;
    out.width = image.width;
    out.height = image.height;
    out.values.assign(pixels.begin(), pixels.end());
    return true;
}

TEST(RenderPng, ASphereFileBecomesARoundBrightDiscOnBlack) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("ulm3_render_png_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string vox = (dir / "sphere.vox").string(), png = (dir / "sphere.png").string();
    const std::string make = std::string(ULM3_VOXMAKE) + " --size 24 20 24 " + vox + " > /dev/null";
    const std::string render = std::string(ULM3_RENDER) + " " + vox + " " + png + " --size 48 --turn 0 0";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_EQ(std::system(render.c_str()), 0);
    Grey grey;
    ASSERT_TRUE(ReadPng(png, grey));
    std::filesystem::remove_all(dir);
    ASSERT_EQ(grey.width, 48u);
    ASSERT_EQ(grey.height, 48u);

    // Round about the image centre (23.5, 23.5): mirrored pixels agree.
    EXPECT_GT(grey.At(24, 24), 40);
    EXPECT_EQ(grey.At(0, 0), 0);
    EXPECT_EQ(grey.At(47, 47), 0);
    for (unsigned d = 0; d < 24; d += 2) {
        EXPECT_NEAR(grey.At(23 - d, 24), grey.At(24 + d, 24), 12) << d;
        EXPECT_NEAR(grey.At(24, 23 - d), grey.At(24, 24 + d), 12) << d;
    }
}

}  // namespace
