// The first-image commands end to end: volumes made by ulm3_voxmake,
// rendered by ulm3_render, read back from their PNGs.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "../../examples/render/view_framing.h"
#include "examples/noisy_scalp_head.h"
#include "shapes/test_shapes.h"

namespace {

// Each test in a folder of its own; its commands' stderr in m_errors.
class RenderPng : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }

    void TearDown() override {
        std::filesystem::remove_all(m_dir), std::filesystem::remove(m_dir.string() + ".err");
        std::filesystem::remove(m_dir.string() + ".out");
    }

    // The commands' exit status as the shell gives it; their stdout in
    // m_output, their stderr in m_errors.
    int Run(const std::string& inCommands) {
        const std::string name = "../" + m_dir.filename().string();
        const int status = std::system(
            ("cd " + m_dir.string() + " && (" + inCommands + ") > " + name + ".out 2> " + name + ".err").c_str());
        m_errors = Contents(m_dir.string() + ".err");
        m_output = Contents(m_dir.string() + ".out");
        return status;
    }
    static std::string Contents(const std::filesystem::path& inFile) {
        std::ifstream in(inFile, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    template <typename T>
    void WriteFile(const std::string& inName, const std::vector<T>& inValues) const {
        std::ofstream out(m_dir / inName, std::ios::binary);
        out.write(reinterpret_cast<const char*>(inValues.data()), static_cast<std::streamsize>(inValues.size() * sizeof(T)));
    }
    size_t Files() const { return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_dir), {})); }
    // One line on stderr that names inNamed and points to --help.
    bool OneLineNaming(const std::string& inNamed) const {
        return std::count(m_errors.begin(), m_errors.end(), '\n') == 1 && m_errors.find(inNamed) != std::string::npos &&
               m_errors.find("--help") != std::string::npos;
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
    std::string m_output;
};

// Seen along z, the phantom's outer ellipse (semi-axes 0.69 and 0.92 of the
// cube's half-width) covers its share of a frame that holds the cube's face
// with the margin on each side (--frame box), evenly left and right of the
// centre, at sizes the chip subsamples and at one it cannot.
TEST_F(RenderPng, ThePhantomFillsTheFrameAtAnySize) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 64 64 16 phantom.vox"), 0);
    const double face = 1.0 - 2.0 * ulm3_render::kFrameMargin;
    const double expected = 3.14159265358979 * 0.69 * 0.92 / 4.0 * face * face;
    for (const size_t size : {32u, 256u, 1000u}) {
        ASSERT_EQ(Run(ULM3_RENDER " phantom.vox p.png --frame box --turn 0 0 --size " + std::to_string(size)), 0) << m_errors;
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

// A scan-like volume of 20 x 24 x 18 voxels: noisy air, below 3% of
// inHighest, around a body whose values vary smoothly and reach inHighest at
// its core; every value a multiple of inStep.
std::vector<uint16_t> ScanLike(unsigned inHighest, unsigned inStep) {
    std::vector<uint16_t> v;
    uint32_t noise = 7;
    for (int z = 0; z < 18; ++z)
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 20; ++x) {
                noise = noise * 1103515245u + 12345u;
                const double dx = (x - 9.5) / 8.0, dy = (y - 11.5) / 10.0, dz = (z - 8.5) / 7.0;
                const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
                const double air = (noise >> 16 & 7) / 255.0;
                const double body = r > 1.0 ? air : r < 0.3 ? 1.0 : 0.3 + 0.4 * (1.0 - r) + 0.2 * std::sin(3.0 * dx);
                v.push_back(static_cast<uint16_t>(std::lround(body * inHighest / inStep) * inStep));
            }
    return v;
}

// 16-bit volumes whose values fill 9 to 16 bits, declared at every width
// that holds them (16 when nothing is declared), render as the same data
// scaled to 8 bits does, also when the values come in steps of 16; a width
// too narrow for the values is refused when the volume is made, in one line
// and without a file.
TEST_F(RenderPng, SixteenBitValuesOfEveryWidthLookLikeTheirEightBitTwin) {
    const std::string shape = " --size 20 24 18";
    const std::string view = " --size 48 --turn 20 30";
    const unsigned cases[][2] = {{300, 1}, {1162, 1}, {4095, 1}, {65535, 1}, {4095 * 16, 16}};
    for (const auto [highest, step] : cases) {
        SCOPED_TRACE(highest);
        const std::vector<uint16_t> values = ScanLike(highest, step);
        ASSERT_EQ(*std::max_element(values.begin(), values.end()), highest);
        std::vector<uint8_t> scaled;
        for (const uint16_t v : values) scaled.push_back(static_cast<uint8_t>(std::lround(v * 255.0 / highest)));
        WriteFile("v16.raw", values);
        WriteFile("v8.raw", scaled);
        ASSERT_EQ(Run(ULM3_VOXMAKE " --raw v8.raw" + shape + " v8.vox && " ULM3_RENDER " v8.vox v8.png" + view), 0)
            << m_errors;
        const std::vector<png_byte> twin = Grey("v8.png");
        ASSERT_EQ(twin.size(), 48u * 48u);
        ASSERT_GT(*std::max_element(twin.begin(), twin.end()), 64);
        for (int bits = 9; bits <= 16; ++bits) {
            SCOPED_TRACE(bits);
            const std::string declared = bits == 16 ? "" : " --field-bits " + std::to_string(bits);
            const int made = Run(ULM3_VOXMAKE " --raw v16.raw --bits 16" + shape + declared + " v16.vox");
            if (static_cast<int>(std::bit_width(highest)) > bits) {
                EXPECT_NE(made, 0);
                EXPECT_TRUE(OneLineNaming(declared)) << m_errors;
                EXPECT_FALSE(std::filesystem::exists(m_dir / "v16.vox"));
                continue;
            }
            ASSERT_EQ(made, 0) << m_errors;
            ASSERT_EQ(Run(ULM3_RENDER " v16.vox v16.png" + view), 0) << m_errors;
            const std::vector<png_byte> grey = Grey("v16.png");
            ASSERT_EQ(grey.size(), twin.size());
            int worst = 0;
            for (size_t i = 0; i < grey.size(); ++i) worst = std::max(worst, std::abs(grey[i] - twin[i]));
            EXPECT_LE(worst, 2);
            std::filesystem::remove(m_dir / "v16.vox");
        }
    }
}

// The README's first picture: along its middle row the two ventricles of
// the phantom's table are darker than the brain around them, and the
// skull's rim brighter; down its middle column the large ellipse above the
// centre is brighter than the brain. The README looks along z, where each
// ellipse of the table projects to the ellipse of its x and y semi-axes; the
// picture's scale comes from the lit extent of the outer one.
TEST_F(RenderPng, TheFirstPictureShowsThePhantomsInnerEllipses) {
    // The README's two commands, as a user would copy them.
    const std::string readme = Contents(ULM3_README);
    const std::string render = "ulm3_render phantom.vox phantom.png", make = "tools/ulm3_voxmake ";
    const size_t renderAt = readme.find(render), makeAt = readme.find(make);
    ASSERT_TRUE(renderAt != std::string::npos && makeAt != std::string::npos);
    const size_t makeEnd = readme.find(" phantom.vox", makeAt);
    const std::string makeOptions = readme.substr(makeAt + make.size(), makeEnd - makeAt - make.size());
    const std::string renderOptions = readme.substr(renderAt + render.size(),
                                                    readme.find('\n', renderAt) - renderAt - render.size());
    ASSERT_EQ(Run(ULM3_VOXMAKE " " + makeOptions + " phantom.vox && " ULM3_RENDER " phantom.vox phantom.png" +
                  renderOptions), 0) << m_errors;
    constexpr int kSize = 256;
    const std::vector<png_byte> grey = Grey("phantom.png");
    ASSERT_EQ(grey.size(), size_t{kSize} * kSize);
    const auto at2 = [&](int row, int column) { return static_cast<double>(grey[row * kSize + column]); };
    // The lit extent along a line of pixels, first and last.
    const auto lit = [&](bool inRow, int inIndex, int& outFirst, int& outLast) {
        outFirst = kSize, outLast = -1;
        for (int i = 0; i < kSize; ++i)
            if ((inRow ? at2(inIndex, i) : at2(i, inIndex)) > 0) outFirst = std::min(outFirst, i), outLast = i;
    };
    const std::span<const ulm3tools::PhantomEllipsoid> e = ulm3tools::PhantomEllipsoids();
    int top = 0, bottom = 0, left = 0, right = 0;
    lit(false, kSize / 2, top, bottom);
    const int middle = (top + bottom) / 2;
    lit(true, middle, left, right);
    ASSERT_TRUE(top < bottom && left < right);
    const auto x = [&](int column) { return -e[0].sa + (column + 0.5 - left) / (right + 1 - left) * 2 * e[0].sa; };
    const auto y = [&](int row) { return e[0].sb - (row + 0.5 - top) / (bottom + 1 - top) * 2 * e[0].sb; };
    const auto r = [&](int n, double px, double py) { return ulm3tools::EllipsoidRadius(e[n], px, py, e[n].z0); };
    // Brain: well inside the inner ellipse and clear of every feature.
    const auto brain = [&](double px, double py) {
        if (r(1, px, py) > 0.85) return false;
        for (int n = 2; n < static_cast<int>(e.size()); ++n)
            if (r(n, px, py) < 1.4) return false;
        return true;
    };
    const auto mean = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); };
    // On the middle row, each ventricle and the brain beside it; the
    // skull's rim and the brain just inside it.
    std::vector<double> ventricle[2], beside[2], rim, inside, brainColumn, bright;
    for (int c = 0; c < kSize; ++c) {
        const double px = x(c), value = at2(middle, c);
        for (int n : {2, 3}) {
            if (r(n, px, 0) < 0.7) ventricle[n - 2].push_back(value);
            if (brain(px, 0) && r(n, px, 0) < 2.2) beside[n - 2].push_back(value);
        }
        if (r(0, px, 0) < 1.05 && r(1, px, 0) > 0.97) rim.push_back(value);
        if (brain(px, 0) && r(1, px, 0) > 0.75) inside.push_back(value);
    }
    for (int row = 0; row < kSize; ++row) {
        const double py = y(row), value = at2(row, kSize / 2);
        if (brain(0, py)) brainColumn.push_back(value);
        if (r(4, 0, py) < 0.7) bright.push_back(value);
    }
    for (int n = 0; n < 2; ++n) ASSERT_TRUE(ventricle[n].size() > 4 && beside[n].size() > 4);
    ASSERT_TRUE(!rim.empty() && inside.size() > 4 && brainColumn.size() > 4 && bright.size() > 4);
    EXPECT_GT(mean(inside), 48);
    for (int n = 0; n < 2; ++n) EXPECT_LT(mean(ventricle[n]), 0.93 * mean(beside[n]));
    EXPECT_GT(*std::max_element(rim.begin(), rim.end()), 1.05 * mean(inside));
    EXPECT_GT(mean(bright), 1.1 * mean(brainColumn));
}

// A block of voxels in noisy air fills the frame, with the margin, whatever
// the air around it; --frame box frames the whole volume as before, where
// the block sits off the centre. The printed line says which. Through a
// perspective camera of any field of view, the block's nearest face, its
// largest in the picture, fills the frame up to the margin in its taller
// direction, centred.
TEST_F(RenderPng, TheFrameHoldsTheVoxelsAboveTheBackground) {
    constexpr int kN = 40, kSize = 100;
    const int lo[3] = {4, 14, 20}, size[3] = {12, 20, 12};
    std::vector<uint8_t> voxels;
    uint32_t noise = 12345;
    for (int z = 0; z < kN; ++z)
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                noise = noise * 1103515245u + 12345u;
                const bool block = x >= lo[0] && x < lo[0] + size[0] && y >= lo[1] && y < lo[1] + size[1] &&
                                   z >= lo[2] && z < lo[2] + size[2];
                voxels.push_back(block ? 200 : static_cast<uint8_t>(noise >> 16 & 7));
            }
    WriteFile("noisy.raw", voxels);
    ASSERT_EQ(Run(ULM3_VOXMAKE " --raw noisy.raw --size 40 40 40 noisy.vox"), 0) << m_errors;
    // Rows are counted from the top, where y is highest.
    const auto litBox = [&](double outBox[4]) {
        const std::vector<png_byte> grey = Grey("p.png");
        ASSERT_EQ(grey.size(), size_t{kSize} * kSize);
        double first[2] = {kSize, kSize}, last[2] = {-1, -1};
        for (int row = 0; row < kSize; ++row)
            for (int column = 0; column < kSize; ++column) {
                if (grey[row * kSize + column] < 16) continue;
                first[0] = std::min<double>(first[0], column), last[0] = std::max<double>(last[0], column);
                first[1] = std::min<double>(first[1], row), last[1] = std::max<double>(last[1], row);
            }
        for (int a = 0; a < 2; ++a) outBox[a] = last[a] + 1 - first[a], outBox[2 + a] = (first[a] + last[a] + 1) / 2;
    };
    const double face = kSize * (1.0 - 2.0 * ulm3_render::kFrameMargin);
    ASSERT_EQ(Run(ULM3_RENDER " noisy.vox p.png --turn 0 0 --size 100"), 0) << m_errors;
    EXPECT_NE(m_output.find("framed on the voxels above"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("12 x 20 x 12 from (4, 14, 20)"), std::string::npos) << m_output;
    double box[4];
    litBox(box);
    const double scale = face / size[1];  // pixels per voxel: the block's height fills the face
    EXPECT_NEAR(box[0], size[0] * scale, 2.0);
    EXPECT_NEAR(box[1], size[1] * scale, 2.0);
    EXPECT_NEAR(box[2], kSize / 2.0, 1.0);
    EXPECT_NEAR(box[3], kSize / 2.0, 1.0);

    ASSERT_EQ(Run(ULM3_RENDER " noisy.vox p.png --turn 0 0 --size 100 --frame box"), 0) << m_errors;
    EXPECT_NE(m_output.find("framed on the volume's box"), std::string::npos) << m_output;
    litBox(box);
    const double boxScale = face / kN;
    const double offset[2] = {(lo[0] + size[0] / 2.0 - kN / 2.0) * boxScale, (lo[1] + size[1] / 2.0 - kN / 2.0) * boxScale};
    EXPECT_NEAR(box[0], size[0] * boxScale, 2.0);
    EXPECT_NEAR(box[1], size[1] * boxScale, 2.0);
    EXPECT_NEAR(box[2], kSize / 2.0 + offset[0], 1.0);
    EXPECT_NEAR(box[3], kSize / 2.0 - offset[1], 1.0);

    for (const int degrees : {10, 40, 90}) {
        ASSERT_EQ(Run(ULM3_RENDER " noisy.vox p.png --turn 0 0 --size 100 --perspective " + std::to_string(degrees)), 0)
            << m_errors;
        litBox(box);
        // Inside the margin; short of it by the depth of the first sample behind the face, which counts the more
        // the nearer the eye.
        EXPECT_LE(box[1], face + 1.0) << degrees;
        EXPECT_GT(box[1], face * 0.93) << degrees;
        EXPECT_LT(box[0], box[1]) << degrees;
        EXPECT_NEAR(box[2], kSize / 2.0, 1.0) << degrees;
        EXPECT_NEAR(box[3], kSize / 2.0, 1.0) << degrees;
    }
}

// A head-like scan in air that holds sparse low noise, as an MRI's does:
// 128 x 128 x 84 voxels, an ellipsoid of values 40..120 (brighter inward)
// filling kHeadLo..kHeadHi, and specks of 1..10 in about 1.2 % of the air's
// voxels, the corners' among them; 0 elsewhere. Its 16-bit twin holds the
// same scan in 12 bits, sixteen times the values with their finer detail.
constexpr int kHeadLo[3] = {24, 6, 14}, kHeadHi[3] = {103, 117, 69};

std::vector<uint16_t> NoisyHead(bool inTwelveBits) {
    std::vector<uint16_t> v;
    uint32_t noise = 2024;
    const double centre[3] = {63.5, 61.5, 41.5}, semi[3] = {40, 56, 28};
    for (int z = 0; z < 84; ++z)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                noise = noise * 1103515245u + 12345u;
                const double d[3] = {(x - centre[0]) / semi[0], (y - centre[1]) / semi[1], (z - centre[2]) / semi[2]};
                const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                const double fine = (noise >> 8 & 255) / 256.0;
                const bool corner = (x < 3 || x > 124) && (y < 3 || y > 124) && (z < 3 || z > 80);
                double value = 0;
                if (r <= 1) value = 40 + 70 * (1 - r) + 10 * (0.5 + 0.5 * std::sin(0.3 * x + 0.2 * y)) + fine;
                else if (corner || (noise >> 16) % 1000 < 12) value = 1 + (noise >> 4) % 10 + fine;
                v.push_back(static_cast<uint16_t>(inTwelveBits ? value * 16 : value));
            }
    return v;
}

// Such a head fills the picture at the default view, 8-bit and 16-bit
// alike: the frame holds the head's box, not the specks' that reach the
// volume's corners. The printed box is the head's, give or take the specks
// that touch it; seen obliquely, the head's height (its longer extent) spans
// more than 0.6 of the picture, where the volume's box would give it 0.49.
TEST_F(RenderPng, AHeadInNoisyAirIsFramedOnTheHeadNotTheSpecks) {
    for (const bool twelveBits : {false, true}) {
        SCOPED_TRACE(twelveBits ? "16-bit" : "8-bit");
        const std::vector<uint16_t> values = NoisyHead(twelveBits);
        if (twelveBits) {
            WriteFile("head.raw", values);
        } else {
            WriteFile("head.raw", std::vector<uint8_t>(values.begin(), values.end()));
        }
        ASSERT_EQ(Run(ULM3_VOXMAKE " --raw head.raw --size 128 128 84" + std::string(twelveBits ? " --bits 16" : "") +
                      " head.vox && " ULM3_RENDER " head.vox p.png --size 128"),
                  0)
            << m_errors;
        const std::string said = m_output;
        const size_t at = said.find("framed on the voxels above ");
        ASSERT_NE(at, std::string::npos) << said;
        int size[3] = {}, from[3] = {};
        unsigned level = 0;
        ASSERT_EQ(std::sscanf(said.c_str() + at, "framed on the voxels above %u, %d x %d x %d from (%d, %d, %d)", &level,
                              &size[0], &size[1], &size[2], &from[0], &from[1], &from[2]),
                  7)
            << said;
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(from[a], kHeadLo[a], 2) << "axis " << a << ": " << said;
            EXPECT_NEAR(from[a] + size[a] - 1, kHeadHi[a], 2) << "axis " << a << ": " << said;
        }
        const std::vector<png_byte> grey = Grey("p.png");
        ASSERT_EQ(grey.size(), 128u * 128u);
        int first[2] = {128, 128}, last[2] = {-1, -1};
        for (int row = 0; row < 128; ++row)
            for (int column = 0; column < 128; ++column) {
                if (grey[row * 128 + column] < 16) continue;
                first[0] = std::min(first[0], column), last[0] = std::max(last[0], column);
                first[1] = std::min(first[1], row), last[1] = std::max(last[1], row);
            }
        EXPECT_GE((last[1] + 1 - first[1]) / 128.0, 0.6) << said;
        EXPECT_LT(last[0] - first[0], last[1] - first[1]) << said;
    }
}

// A head whose air noise touches the scalp, as a user renders it: the line
// printed names the noise's top and the box, which holds the head within a
// few voxels, not the noise that spans the volume's width; seen along z the
// head's height then spans nearly the frame's face, where the volume's
// width would leave it 0.76 of the picture.
TEST_F(RenderPng, AHeadWhoseNoiseTouchesTheScalpIsFramedOnTheHead) {
    const ulm3::testing::NoisyScalpHead head{{128, 128, 84}, 2.0, 11};
    const std::vector<uint8_t> voxels = head.Voxels();
    const ulm3::ULMVolumeRange tissue = head.BoxAbove(voxels, 30);
    WriteFile("head.raw", voxels);
    ASSERT_EQ(Run(ULM3_VOXMAKE " --raw head.raw --size 128 128 84 head.vox && " ULM3_RENDER
                  " head.vox p.png --size 128 --turn 0 0"),
              0)
        << m_errors;
    const size_t at = m_output.find("framed on the voxels above ");
    ASSERT_NE(at, std::string::npos) << m_output;
    int size[3] = {}, from[3] = {}, edge = 0;
    unsigned level = 0, top = 0;
    ASSERT_EQ(std::sscanf(m_output.c_str() + at,
                          "framed on the voxels above %u within %d of those above %u, %d x %d x %d from (%d, %d, %d)",
                          &level, &edge, &top, &size[0], &size[1], &size[2], &from[0], &from[1], &from[2]),
              9)
        << m_output;
    EXPECT_GT(top, level);
    const int headFrom[3] = {tissue.XOrigin(), tissue.YOrigin(), tissue.ZOrigin()};
    const int headSize[3] = {tissue.XSize(), tissue.YSize(), tissue.ZSize()};
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(from[a], headFrom[a], 3) << "axis " << a << ": " << m_output;
        EXPECT_NEAR(from[a] + size[a], headFrom[a] + headSize[a], 3) << "axis " << a << ": " << m_output;
    }
    const std::vector<png_byte> grey = Grey("p.png");
    ASSERT_EQ(grey.size(), 128u * 128u);
    int first = 128, last = -1;
    for (int row = 0; row < 128; ++row)
        for (int column = 0; column < 128; ++column)
            if (grey[row * 128 + column] >= 16) first = std::min(first, row), last = std::max(last, row);
    EXPECT_GE((last + 1 - first) / 128.0, 0.85) << m_output;
}

// Each bad argument of either program: exit status 2, one line that names
// it as typed and points to --help, and no file made.
TEST_F(RenderPng, EachBadArgumentIsNamedInOneLine) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --size 16 16 16 in.vox"), 0) << m_errors;
    const struct {
        const char* program;
        const char* arguments;
        const char* named;
    } cases[] = {
        {ULM3_RENDER, "in.vox out.png --size 15", "--size 15"},
        {ULM3_RENDER, "in.vox out.png --size 4097", "--size 4097"},
        {ULM3_RENDER, "in.vox out.png --window 200 100", "--window 200 100"},
        {ULM3_RENDER, "in.vox out.png --window nan 1", "--window nan 1"},
        {ULM3_RENDER, "in.vox out.png --perspective 0", "--perspective 0"},
        {ULM3_RENDER, "in.vox out.png --perspective 200", "--perspective 200"},
        {ULM3_RENDER, "in.vox out.png --perspective -5", "--perspective -5"},
        {ULM3_RENDER, "in.vox out.png --perspective nan", "--perspective nan"},
        {ULM3_RENDER, "in.vox out.png --repeat 0", "--repeat 0"},
        {ULM3_RENDER, "in.vox out.png --repeat -1", "--repeat -1"},
        {ULM3_RENDER, "in.vox out.png --repeat 99999999999999999999", "--repeat 99999999999999999999"},
        {ULM3_RENDER, "in.vox out.png --opacity nan", "--opacity nan"},
        {ULM3_RENDER, "in.vox out.png --turn nan 0", "--turn nan 0"},
        {ULM3_RENDER, "in.vox out.png --frame boxes", "--frame boxes"},
        {ULM3_RENDER, "in.vox out.png --window 1", "--window 1"},
        {ULM3_RENDER, "in.vox out.png --colour", "--colour"},
        {ULM3_RENDER, "in.vox out.png --multiboard stripes", "--multiboard stripes"},
        {ULM3_RENDER, "in.vox", "in.vox"},
        {ULM3_VOXMAKE, "--bits 12 out.vox", "--bits 12"},
        {ULM3_VOXMAKE, "--field-bits 17 out.vox", "--field-bits 17"},
        {ULM3_VOXMAKE, "--field-bits 0 out.vox", "--field-bits 0"},
        {ULM3_VOXMAKE, "--field-bits 9 out.vox", "--field-bits 9"},
        {ULM3_VOXMAKE, "--shape bogus out.vox", "--shape bogus"},
        {ULM3_VOXMAKE, "--size 0 4 4 out.vox", "--size 0 4 4"},
        {ULM3_VOXMAKE, "--spacing 1 0 1 out.vox", "--spacing 1 0 1"},
        {ULM3_VOXMAKE, "--shape raw out.vox", "--raw"},
        {ULM3_VOXMAKE, "one.vox two.vox", "one.vox two.vox"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const int status = Run(std::string(c.program) + " " + c.arguments);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_TRUE(OneLineNaming(c.named)) << m_errors;
        EXPECT_EQ(Files(), 1u);
    }
    // --help is no error: the usage on stdout.
    for (const char* program : {ULM3_RENDER, ULM3_VOXMAKE}) {
        EXPECT_EQ(Run(std::string(program) + " --help"), 0);
        EXPECT_NE(m_output.find("usage:"), std::string::npos);
        EXPECT_TRUE(m_errors.empty());
    }
}

// With --multiboard bands the volume lies on every board the platform has
// (TULX7SIM_BOARDS) and each board renders its band of the picture: the
// picture is the one-board picture, byte for byte, and the run says how
// many bands it drew.
TEST_F(RenderPng, BandsOnEveryBoardGiveTheOneBoardPicture) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 72 64 56 phantom.vox"), 0) << m_errors;
    for (const int boards : {1, 2, 3, 8}) {
        SCOPED_TRACE(boards);
        const std::string platform = "TULX7SIM_BOARDS=" + std::to_string(boards) + " ";
        ASSERT_EQ(Run(platform + ULM3_RENDER " phantom.vox one.png --size 203 --shade"), 0) << m_errors;
        ASSERT_EQ(Run(platform + ULM3_RENDER " phantom.vox bands.png --size 203 --shade --multiboard bands"), 0)
            << m_errors;
        const std::string said = boards == 1 ? "one board: the picture in one piece"
                                             : "the picture in " + std::to_string(boards) + " bands, one per board";
        EXPECT_NE(m_output.find(said), std::string::npos) << m_output;
        const std::vector<png_byte> one = Grey("one.png"), bands = Grey("bands.png");
        ASSERT_EQ(one.size(), 203u * 203u);
        EXPECT_GT(std::count_if(one.begin(), one.end(), [](png_byte g) { return g > 0; }), 10000);
        EXPECT_EQ(bands, one);
    }
}

// A write that fails half way (here a file-size limit) says so in one line
// and leaves the file that was there as it was, with nothing beside it. The
// picture is larger than the C library's buffer, so that the write fails
// inside the PNG encoder, not only when the file is closed.
TEST_F(RenderPng, AWriteThatFailsKeepsTheFileThatWasThere) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --size 16 16 16 v.vox && " ULM3_RENDER " v.vox p.png --size 16"), 0) << m_errors;
    const std::vector<png_byte> grey = Grey("p.png");
    ASSERT_EQ(grey.size(), 16u * 16u) << "the picture kept is a whole one";
    EXPECT_GT(*std::max_element(grey.begin(), grey.end()), 32);
    const std::string volume = Contents(m_dir / "v.vox"), picture = Contents(m_dir / "p.png");
    const struct {
        const char* command;
        const char* named;
    } cases[] = {
        {"ulimit -f 1 && " ULM3_VOXMAKE " --size 32 32 32 v.vox", "cannot write v.vox"},
        {"ulimit -f 1 && " ULM3_RENDER " v.vox p.png --size 512", "cannot write p.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_NE(Run(c.command), 0);
        EXPECT_TRUE(m_errors.find(c.named) != std::string::npos &&
                    std::count(m_errors.begin(), m_errors.end(), '\n') == 1) << m_errors;
        EXPECT_EQ(Contents(m_dir / "v.vox"), volume);
        EXPECT_EQ(Contents(m_dir / "p.png"), picture);
        EXPECT_EQ(Files(), 2u);
    }
}

// The phantom's skull is a shell one or two voxels thick. Sampled once per
// voxel slice along oblique rays, its opacity and shading jump from pixel to
// pixel with where the samples fall: a lattice of pixels far darker than
// their neighbours, shaded or not. A finely sampled ray cast has almost
// none; the pictures may have one in 200 of their lit pixels.
TEST_F(RenderPng, ThinShellsShowNoLatticeOfDarkPixels) {
    constexpr int kSize = 128;
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 64 64 64 phantom.vox"), 0) << m_errors;
    for (const char* shade : {"", " --shade"}) {
        SCOPED_TRACE(shade);
        ASSERT_EQ(Run(ULM3_RENDER " phantom.vox p.png --size 128" + std::string(shade)), 0) << m_errors;
        const std::vector<png_byte> grey = Grey("p.png");
        ASSERT_EQ(grey.size(), size_t{kSize} * kSize);
        int lit = 0, dark = 0;
        for (int row = 1; row + 1 < kSize; ++row)
            for (int column = 1; column + 1 < kSize; ++column) {
                std::vector<int> around;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) around.push_back(grey[(row + dy) * kSize + column + dx]);
                std::sort(around.begin(), around.end());
                if (around[0] < 16) continue;
                ++lit;
                dark += around[4] - grey[row * kSize + column] > 12;
            }
        ASSERT_GT(lit, 1000);
        EXPECT_LE(dark * 200, lit) << dark << " of " << lit;
    }
}

}  // namespace

// --multiboard bricks cuts the volume into one brick per board: on three
// boards and on eight, odd sizes, the picture is the one-board picture
// within one 8-bit step per brick; on one board it is that picture itself.
TEST_F(RenderPng, BricksOnEveryBoardDrawTheOneBoardPicture) {
    ASSERT_EQ(Run(ULM3_VOXMAKE " --shape phantom --size 61 47 37 p.vox && " ULM3_RENDER
                               " p.vox one.png --size 96 --window 0 80 --opacity 0.05"),
              0)
        << m_errors;
    const std::vector<png_byte> one = Grey("one.png");
    ASSERT_FALSE(one.empty());
    for (const int boards : {1, 3, 8}) {
        const std::string env = "TULX7SIM_BOARDS=" + std::to_string(boards) + " ";
        ASSERT_EQ(Run(env + ULM3_RENDER " p.vox bricks.png --size 96 --window 0 80 --opacity 0.05 --multiboard bricks"),
                  0)
            << m_errors;
        const std::vector<png_byte> bricks = Grey("bricks.png");
        ASSERT_EQ(bricks.size(), one.size());
        int worst = 0;
        for (size_t i = 0; i < one.size(); ++i) worst = std::max(worst, std::abs(int(bricks[i]) - int(one[i])));
        EXPECT_LE(worst, boards) << boards;
        if (boards == 1) {
            EXPECT_EQ(bricks, one);
        }
    }
    EXPECT_NE(Run(ULM3_RENDER " p.vox b.png --multiboard cubes"), 0);
    EXPECT_TRUE(OneLineNaming("--multiboard cubes")) << m_errors;
}
