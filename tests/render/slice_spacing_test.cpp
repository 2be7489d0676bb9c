// One scene, one picture: a render at 1, 2 or 3 slices per voxel, of a
// volume and through its mipmap levels 1 and 2, against the one-slice
// render of the same voxels as a plain volume (a level's made on the host),
// in every blend mode that draws but sum and count, whose sums and counts
// follow the number of samples. The colour comes from the table alpha
// comes from, which carries the correction (every such mode), or from
// another table or straight from the voxels, where the chip corrects alpha
// itself (both pre-weighted modes, a plain one and an extreme). Samples of
// a pre-weighted colour without opacity glow alike at every slicing, and
// sums of alpha keep their one-slice sums while counts follow the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "support/rendered_pixels.h"
#include "ulm3.h"

namespace ulm3::testing {
namespace {

constexpr int kSide = 48, kBlock = 4, kBlocks = kSide / kBlock, kPixels = 16;
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};
const ULMFieldDescriptor kByte{0, 8, kU};
// Grey and alpha in the voxels, 16 bits each, so that scaling a small
// pre-weighted colour does not scale its rounding.
const ULMFieldDescriptor kGreyAlpha[2] = {{0, 16, kU}, {16, 16, kU}};
// Composited pictures at 2 and 3 slices, and through a level against its
// host-made voxels, stay within this many 8-bit steps of the one-slice
// picture (measured: 2 through the table, 1 from the voxels); the others
// are the same bytes.
constexpr int kCompositedSteps = 2;

bool Composites(int inMode) { return inMode >= kULMBlendBTF && inMode <= kULMBlendFTBPreWeighted; }
bool PreWeighted(int inMode) { return inMode == kULMBlendBTFPreWeighted || inMode == kULMBlendFTBPreWeighted; }
bool Minimum(int inMode) { return inMode >= kULMBlendMinRed && inMode <= kULMBlendMinAlpha; }

// The scene's value on a grid of 4^3 blocks: a level's voxel, two or four
// times as large, is a block's value exactly, whatever the resampling. Down
// the view it changes once, so that samples between voxels see what those
// on them do but for one step.
int BlockValue(int bx, int by, int bz) {
    const double r2 = (bx - 5.5) * (bx - 5.5) + (by - 6.2) * (by - 6.2);
    return std::clamp(int(std::lround(20 + 180 * std::exp(-r2 / 10.0))) + (bz >= kBlocks / 2 ? 40 : 0) -
                          (bx * 7 + by * 3) % 20,
                      0, 255);
}

// How a scene's values look besides their rising colour and opacity: a
// glow, the pre-weighted colour of values under 100 that are given no
// opacity at all, and a scale of the opacity (sums of many samples stay
// under 1 with a small one).
struct Look {
    double glow = 0.0;
    double alphaScale = 1.0;
};

// Colour and opacity of a value, each rising with it (so a maximum or
// minimum falls on a voxel), pre-weighted or not, with the opacity of a
// step `span` voxels long (the colour of a pre-weighted one scaled with it).
std::array<double, 4> Classify(int v, bool inPreWeighted, double span, const Look& inLook = Look()) {
    if (inLook.glow > 0.0 && v < 100) return {inLook.glow * span, 0.5 * inLook.glow * span, 0.0, 0.0};
    const double a = (0.02 + 0.18 * v / 255.0) * inLook.alphaScale;
    const double as = 1 - std::pow(1 - a, span);
    std::array<double, 4> c = {v / 255.0, 1 - v / 255.0, 0.25 + 0.5 * v / 255.0, as};
    if (inPreWeighted)
        for (int i = 0; i < 3; ++i) c[i] *= as;
    return c;
}

// Where the sample's colour comes from: one table (which takes the
// correction), a table for the colour and another for alpha (the chip
// corrects), or the voxels themselves (the chip corrects).
enum class Source { kTable, kSplitTables, kVoxels };
struct Road {
    const char* name;
    Source source;
    std::vector<int> modes;
};
void PrintTo(const Road& r, std::ostream* out) { *out << r.name; }

class SliceSpacingTest : public ContextTest, public ::testing::WithParamInterface<Road> {
protected:
    SliceSpacingTest() : ContextTest(test_support::SimBoards(1)) {}

    // A volume over voxels of its own.
    struct Voxels {
        std::vector<uint8_t> bytes;
        std::vector<uint16_t> words;
        ReleasablePointer<ULMVolume> volume;
    };
    // A cube of inSide voxels, inBlockSide of which make a block, classified
    // for inMode with steps of `span` voxels: through the table, or in the
    // voxels' grey and alpha.
    void MakeVolume(Voxels& out, int inSide, int inBlockSide, int inMode, double span) {
        const bool table = GetParam().source != Source::kVoxels;
        std::vector<uint8_t>& bytes = out.bytes;
        std::vector<uint16_t>& voxels = out.words;
        bytes.assign(table ? size_t(inSide) * inSide * inSide : 0, 0);
        voxels.assign(table ? 0 : size_t(inSide) * inSide * inSide * 2, 0);
        for (int z = 0; z < inSide; ++z)
            for (int y = 0; y < inSide; ++y)
                for (int x = 0; x < inSide; ++x) {
                    const int v = BlockValue(x / inBlockSide, y / inBlockSide, z / inBlockSide);
                    const size_t at = (size_t(z) * inSide + y) * inSide + x;
                    if (table) {
                        bytes[at] = uint8_t(v);
                        continue;
                    }
                    const auto c = Classify(v, PreWeighted(inMode), Composites(inMode) ? span : 1.0, look);
                    voxels[2 * at] = uint16_t(std::lround(c[0] * 65535));
                    voxels[2 * at + 1] = uint16_t(std::lround(c[3] * 65535));
                }
        const ULMVolumeRange range(inSide, inSide, inSide, 0, 0, 0);
        out.volume.Assign(table ? ULMVolume::Create(8, range, 1, &kByte, bytes.data())
                                : ULMVolume::Create(32, range, 2, kGreyAlpha, voxels.data()));
        // The slices half a voxel past the end planes, which more slices
        // per voxel reach, repeat those planes' values.
        EXPECT_EQ(out.volume->SetExtendMode(ULMVolume::kExtendWithEdge), kULMOK);
    }
    // The context of inMode at inSlices per voxel, its table for steps of
    // `span` voxels.
    ULMContext* MakeContext(int inMode, int inSlices, double span) {
        ULMContext* context = nullptr;
        if (GetParam().source == Source::kVoxels) {
            context = ULMContext::Create();
            EXPECT_EQ(context->SetClassifier(ULMClassifier::DirectRGBA(kULMField0, kULMField0, kULMField0, kULMField1)),
                      kULMOK);
        } else {
            const bool split = GetParam().source == Source::kSplitTables;
            for (int t = 0; t < (split ? 2 : 1); ++t) {
                tables[t].Assign(ULMLookupTable::Create(256));
                for (int i = 0; i < 256; ++i) {
                    const auto c = Classify(i, PreWeighted(inMode), Composites(inMode) ? span : 1.0, look);
                    // Split: table 0 alpha alone, table 1 the colour alone.
                    const bool colour = !split || t == 1, alpha = !split || t == 0;
                    const ULMRGBAFloat entry(colour ? float(c[0]) : 0.0f, colour ? float(c[1]) : 0.0f,
                                             colour ? float(c[2]) : 0.0f, alpha ? float(c[3]) : 0.0f);
                    EXPECT_EQ(tables[t]->SetEntry(unsigned(i), entry), kULMOK);
                }
            }
            context = ULMContext::Create(tables[0]);
            if (split) {
                ULMClassifier classifier = context->GetClassifier();
                EXPECT_EQ(classifier.SetLookupTable(1, tables[1], kULMField0), kULMOK);
                EXPECT_EQ(classifier.SetOperation(0, ULMOperation(kULM_B, kULM_B, kULM_B, kULM_A)), kULMOK);
                EXPECT_EQ(classifier.SetOperation(2, ULMOperation(kULM_A)), kULMOK);
                EXPECT_EQ(context->SetClassifier(classifier), kULMOK);
            }
        }
        ULMCamera camera;
        // The middle 24 x 24 voxels, every ray through the volume.
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-12, 12, -12, 12, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Translate(-(kSide - 1) / 2.0, -(kSide - 1) / 2.0, -(kSide - 1) / 2.0));
        camera.SetViewport(0, 0, kPixels, kPixels);
        EXPECT_EQ(context->SetCamera(camera), kULMOK);
        EXPECT_EQ(context->SetBlendMode(ULMBlendMode(inMode)), kULMOK);
        EXPECT_EQ(context->SetRayTermination(1.0, false), kULMOK);
        EXPECT_EQ(context->SetSamplingLimits(1, 3, inSlices, inSlices), kULMOK);
        return context;
    }
    // The picture, from a background a minimum can only lower.
    std::vector<uint32_t> Picture(ULMVolume* inVolume, const ULMContext* inContext, int inMode) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kPixels, kPixels, 32, 4, kRGBA8));
        const ULMImageRange whole(kPixels, kPixels, 0, 0);
        const double background = Minimum(inMode) ? 1.0 : 0.0;
        EXPECT_EQ(image->SetBorderValue(background, background, background, background), kULMOK);
        EXPECT_EQ(image->Clear(whole, Minimum(inMode) ? 0xFFFFFFFFull : 0), kULMOK);
        EXPECT_EQ(inVolume->Render(inContext, image, nullptr, nullptr, nullptr), kULMOK);
        std::vector<uint32_t> pixels(size_t(kPixels) * kPixels);
        EXPECT_EQ(image->Unload(pixels.data(), whole, 0), kULMOK);
        return pixels;
    }

    // The picture's raw pixels in inFields, from a clear background.
    std::vector<uint32_t> Raw(ULMVolume* inVolume, const ULMContext* inContext, const ULMFieldDescriptor* inFields) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kPixels, kPixels, 32, 4, inFields));
        const ULMImageRange whole(kPixels, kPixels, 0, 0);
        EXPECT_EQ(image->Clear(whole, 0), kULMOK);
        EXPECT_EQ(inVolume->Render(inContext, image, nullptr, nullptr, nullptr), kULMOK);
        std::vector<uint32_t> pixels(size_t(kPixels) * kPixels);
        EXPECT_EQ(image->Unload(pixels.data(), whole, 0), kULMOK);
        return pixels;
    }

    ReleasablePointer<ULMLookupTable> tables[2];
    Look look;
};

TEST_P(SliceSpacingTest, EverySlicingAndLevelGivesTheOneSlicePictureOfItsVoxels) {
    ULMSetParameter("MipmapMinVolumeSize", kSide);
    // The full volume, its levels made once: pre-weighted voxels or not.
    Voxels full[2];
    for (const int mode : GetParam().modes) {
        Voxels& whole = full[GetParam().source == Source::kVoxels && PreWeighted(mode) ? 1 : 0];
        if (whole.volume == nullptr) MakeVolume(whole, kSide, kBlock, mode, 1.0);
        for (int level = 0; level <= 2; ++level) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << ", level " << level);
            // The level's voxels made on the host, rendered as a plain volume
            // placed over the full one, with the opacity of its longer step.
            const int side = kSide >> level;
            const double span = double(1 << level);
            Voxels plain;
            MakeVolume(plain, side, kBlock >> level, mode, span);
            const ULMMatrix placed = ULMMatrix::Translate(-0.5, -0.5, -0.5) * ULMMatrix::Scale(span, span, span) *
                                     ULMMatrix::Translate(0.5, 0.5, 0.5);
            ASSERT_EQ(plain.volume->SetCorrectionMatrix(placed), kULMOK);
            ReleasablePointer<ULMContext> reference(MakeContext(mode, 1, span));
            const std::vector<uint32_t> want = Picture(plain.volume, reference, mode);

            ULMVolume* volume = whole.volume;
            ASSERT_EQ(volume->SetMipmapRange(level, level), kULMOK);
            int unlit = 0;
            for (int slices = 1; slices <= 3; ++slices) {
                ReleasablePointer<ULMContext> context(MakeContext(mode, slices, 1.0));
                const std::vector<uint32_t> got = Picture(volume, context, mode);
                const int worst = test_support::WorstChannelDifference(got, want);
                EXPECT_LE(worst, Composites(mode) ? kCompositedSteps : 0) << slices << " slices per voxel";
                const uint32_t background = Minimum(mode) ? 0xFFFFFFFFu : 0u;
                unlit = std::max(unlit, int(std::ranges::count(got, background)));
            }
            EXPECT_EQ(unlit, 0) << "every ray meets the volume";
        }
    }
}

// Samples that add colour but no opacity (a pre-weighted colour with alpha
// 0) glow as brightly at 2 and 3 slices a voxel as at one: their colour
// scales with the slope of the correction at 0, as every other sample's
// scales with its corrected alpha.
TEST_P(SliceSpacingTest, TransparentPreWeightedColoursGlowAsAtOneSlice) {
    // 48 units of the tables' 12 bits: a half and a third of it are whole units.
    look.glow = 48.0 / 4095;
    int modes = 0;
    for (const int mode : GetParam().modes) {
        if (!PreWeighted(mode)) continue;
        ++modes;
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        Voxels scene;
        MakeVolume(scene, kSide, kBlock, mode, 1.0);
        ReleasablePointer<ULMContext> reference(MakeContext(mode, 1, 1.0));
        const std::vector<uint32_t> want = Picture(scene.volume, reference, mode);
        for (int slices = 2; slices <= 3; ++slices) {
            ReleasablePointer<ULMContext> context(MakeContext(mode, slices, 1.0));
            const std::vector<uint32_t> got = Picture(scene.volume, context, mode);
            const int worst = test_support::WorstChannelDifference(got, want);
            EXPECT_LE(worst, kCompositedSteps) << slices << " slices per voxel";
        }
    }
    EXPECT_GT(modes, 0);
}

// Sums of alpha and counts of samples (12 bits each): at 2 and 3 slices a
// voxel each sample's alpha is corrected for its shorter step, so a ray's
// sum stays the one-slice sum but for the rounding of each sample's alpha,
// while the count follows the samples taken.
TEST_P(SliceSpacingTest, SumsKeepTheOneSliceSumAndCountsFollowTheSamples) {
    const ULMFieldDescriptor sumAndCount[4] = {{0, 12, kU}, {12, 12, kU}, {}, {}};
    look.alphaScale = 1.0 / 12;
    Voxels scene;
    MakeVolume(scene, kSide, kBlock, kULMBlendSumAndCount, 1.0);
    ReleasablePointer<ULMContext> reference(MakeContext(kULMBlendSumAndCount, 1, 1.0));
    const std::vector<uint32_t> want = Raw(scene.volume, reference, sumAndCount);
    for (int slices = 2; slices <= 3; ++slices) {
        ReleasablePointer<ULMContext> context(MakeContext(kULMBlendSumAndCount, slices, 1.0));
        const std::vector<uint32_t> got = Raw(scene.volume, context, sumAndCount);
        int sumOff = -4095, countOff = 0;
        for (size_t p = 0; p < got.size(); ++p) {
            const int sum = int(got[p] & 4095), count = int(got[p] >> 12 & 4095);
            const int sum1 = int(want[p] & 4095), count1 = int(want[p] >> 12 & 4095);
            ASSERT_GT(count1, kSide / 2) << "every ray crosses the volume";
            ASSERT_LT(sum1, 4095) << "no sum saturates";
            // Each sample's corrected alpha is rounded to 12 bits: half a
            // unit each, at either spacing.
            sumOff = std::max(sumOff, std::abs(sum - sum1) - (count + count1 + 1) / 2);
            countOff = std::max(countOff, std::abs(count - slices * count1));
        }
        EXPECT_LE(sumOff, 0) << slices << " slices per voxel: units of 4095 past the rounding";
        EXPECT_LE(countOff, slices) << slices << " slices per voxel";
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, SliceSpacingTest,
                         ::testing::Values(Road{"table", Source::kTable, {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
                                           Road{"split", Source::kSplitTables, {3, 4, 5, 15}},
                                           Road{"voxels", Source::kVoxels, {3, 4, 5, 11}}),
                         [](const ::testing::TestParamInfo<Road>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ulm3::testing
