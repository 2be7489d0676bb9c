// The image resampling pass run on the simulated chip: the pixels that come
// back against a host bilinear reference, addressing, destinations
// elsewhere, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "buffers/buffer_range_rule.h"
#include "pass_test_support.h"
#include "support/resample_reference.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using testing::RefAxis;
using testing::RefAxisOf;
using testing::RefSample;

using test_support::Channel;
using test_support::Held;
using test_support::kRGBA8Fields;
using test_support::Rgba;
using ResamplePassTest = test_support::PassTest;

TEST_F(ResamplePassTest, OnePassMatchesAHostBilinearReference) {
    struct Case {
        const char* name;
        ULMImageRange source;       // inside a source image of 40 x 24 at (0, 0)
        ULMImageRange destination;  // inside a destination image of 40 x 24 at (0, 0)
        int tolerance;
    } cases[] = {
        {"identity, moved", {20, 12, 3, 5}, {20, 12, 11, 1}, 0},
        {"2:1 box means", {16, 8, 2, 2}, {8, 4, 0, 0}, 1},
        {"exactly 2.0 on one axis, 1.5 on the other", {30, 12, 0, 0}, {15, 8, 4, 4}, 1},
        {"enlargement with the border at the edges", {5, 4, 7, 9}, {12, 9, 1, 2}, 1},
        {"up in X, down in Y", {6, 20, 0, 0}, {17, 11, 20, 3}, 1},
    };
    // The border is what enlargement mixes in beyond the source rectangle.
    const uint32_t border = Rgba(0, 255, 0, 255);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Held<ULMImageBufferInternal> source(MakeImage(kULMBoard0, 40, 24));
        Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 40, 24));
        ASSERT_EQ(source->SetBorderValue(0, 1, 0, 1), kULMOK);
        const ULMImageRange limits(4, 4, 1, 1);
        ASSERT_EQ(source->SetInputLimits(limits), kULMOK);
        const std::vector<uint32_t> pixels =
            Random<uint32_t>(static_cast<size_t>(c.source.XSize()) * c.source.YSize(), 7);
        Load(source, c.source, pixels);
        const ULMImageRange all(40, 24, 0, 0);
        const std::vector<uint32_t> before = Random<uint32_t>(40 * 24, 8);
        Load(target, all, before);

        const size_t renders = Renders();
        ASSERT_EQ(source->Resample(target, c.destination, c.source), kULMOK);
        EXPECT_EQ(Renders() - renders, 2u) << "the conversion and one pass";
        EXPECT_TRUE(source->Is3D());
        EXPECT_EQ(source->GetBuffer()->GetRange(), ValidRangeOf(limits)) << "the source window leaked";

        const ULMImageRange& sr = c.source;
        const RefAxis ax = RefAxisOf(sr.XOrigin(), sr.XSize(), c.destination.XOrigin(), c.destination.XSize()),
                      ay = RefAxisOf(sr.YOrigin(), sr.YSize(), c.destination.YOrigin(), c.destination.YSize());
        const std::vector<uint32_t> after = Read(target, all);
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 40; ++x) {
                const uint32_t got = after[static_cast<size_t>(y) * 40 + x];
                const ULMImageRange& d = c.destination;
                const bool inside = x >= d.XOrigin() && x < d.XOrigin() + d.XSize() && y >= d.YOrigin() &&
                                    y < d.YOrigin() + d.YSize();
                if (!inside) {
                    ASSERT_EQ(got, before[static_cast<size_t>(y) * 40 + x]) << "outside at " << x << "," << y;
                    continue;
                }
                for (int ch = 0; ch < 4; ++ch) {
                    // Outside the source rectangle, the border.
                    auto at = [&](int u, int v, int) -> double {
                        if (!Contains(sr, ULMImageRange(1, 1, u, v))) return Channel(border, ch);
                        return Channel(pixels[size_t(v - sr.YOrigin()) * sr.XSize() + (u - sr.XOrigin())], ch);
                    };
                    const double want = RefSample(at, ax, ay, {1, 0}, x, y, 0);
                    ASSERT_NEAR(Channel(got, ch), want, c.tolerance + 0.5)
                        << "pixel " << x << "," << y << " channel " << ch;
                }
            }
        }
        // Resampling again reuses the 3-D source without a second conversion.
        const size_t again = Renders();
        ASSERT_EQ(source->Resample(target, c.destination, c.source), kULMOK);
        EXPECT_EQ(Renders() - again, 1u);
    }
}

TEST_F(ResamplePassTest, SourceAndDestinationKeepTheirAddressing) {
    struct Case {
        const char* name;
        ULMAddressMode sourceMode;
        int sx, sy;  // source address parameters
        ULMImageRange loaded;    // where the 20 x 12 source pixels are loaded
        ULMImageRange read;      // the source range of the pass
        int firstColumn, firstRow;  // loaded pixel the read range starts at
        int dx, dy;              // destination offset
        ULMImageRange written;   // destination range
    } cases[] = {
        {"offset source into offset destination", kULMOffsetAddress, 4, 2, {20, 12, 4, 2}, {8, 4, 10, 5}, 6, 3,
         10, 6, {8, 4, 12, 8}},
        // Coordinates 36.. and 18.. wrap onto loaded pixels 4.. and 2..
        {"wrapped source", kULMWrapAddress, 32, 16, {20, 12, 0, 0}, {8, 4, 36, 18}, 4, 2, 0, 0, {8, 4, 0, 0}},
        // Rows 12..15 lie beyond the image's height but inside its modulus.
        {"past its size", kULMWrapAddress, 32, 16, {20, 12, 0, 4}, {8, 4, 12, 12}, 12, 8, 0, 0, {8, 4, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Held<ULMImageBufferInternal> source(MakeImage(kULMBoard0, 20, 12));
        Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 16, 10));
        ASSERT_EQ(source->SetAddressParameters(c.sourceMode, c.sx, c.sy), kULMOK);
        ASSERT_EQ(target->SetOffset(c.dx, c.dy), kULMOK);
        const std::vector<uint32_t> pixels = Random<uint32_t>(240, 13);
        Load(source, c.loaded, pixels);
        ASSERT_EQ(source->Resample(target, c.written, c.read), kULMOK);
        const std::vector<uint32_t> result = Read(target, c.written);
        EXPECT_EQ(Read(source, c.loaded), pixels) << "the source keeps every pixel it reaches";
        for (int y = 0; y < c.read.YSize(); ++y)
            for (int x = 0; x < c.read.XSize(); ++x)
                EXPECT_EQ(result[static_cast<size_t>(y) * c.read.XSize() + x],
                          pixels[static_cast<size_t>(y + c.firstRow) * 20 + x + c.firstColumn])
                    << x << "," << y;
    }
}

TEST_F(ResamplePassTest, AnotherBoardAndTheSourceItselfAreDestinationsToo) {
    const ULMImageRange whole(16, 8, 0, 0), half(8, 4, 0, 0);
    const std::vector<uint32_t> pixels = Random<uint32_t>(128, 17);
    Held<ULMImageBufferInternal> reference(MakeImage(kULMBoard0, 16, 8));
    Held<ULMImageBufferInternal> reduced(MakeImage(kULMBoard0, 8, 4));
    Load(reference, whole, pixels);
    ASSERT_EQ(reference->Resample(reduced, half, whole), kULMOK);
    const std::vector<uint32_t> expected = Read(reduced, half);

    // Through a temporary image on the source's board and a board copy.
    Held<ULMImageBufferInternal> elsewhere(MakeImage(kULMBoard1, 8, 4));
    const int buffers = tulx7sim::GetStats().liveBuffers;
    ASSERT_EQ(reference->Resample(elsewhere, half, whole), kULMOK);
    EXPECT_EQ(elsewhere->GetLocation(), kULMBoard1);
    EXPECT_EQ(Read(elsewhere, half), expected);
    ASSERT_TRUE(tulx7sim::WaitForIdle(5000));
    EXPECT_EQ(tulx7sim::GetStats().liveBuffers, buffers);

    // In place: the pass reads the pixels as they were when it started.
    Held<ULMImageBufferInternal> itself(MakeImage(kULMBoard0, 16, 8));
    Load(itself, whole, pixels);
    ASSERT_EQ(itself->Resample(itself, half, whole), kULMOK);
    EXPECT_EQ(Read(itself, half), expected);
}

TEST_F(ResamplePassTest, RefusesRangesItCannotResample) {
    Held<ULMImageBufferInternal> source(MakeImage(kULMBoard0, 100, 50));
    Held<ULMImageBufferInternal> target(MakeImage(kULMBoard0, 100, 50));
    Held<ULMImageBufferInternal> wrapped(MakeImage(kULMBoard0, 100, 50));
    ASSERT_EQ(wrapped->SetWrap(128, 64), kULMOK);
    Held<ULMImageBufferInternal> shifted(MakeImage(kULMBoard0, 100, 50));
    ASSERT_EQ(shifted->SetOffset(-4, 0), kULMOK);
    const ULMImageRange ok(20, 10, 0, 0);
    struct Case {
        const char* name;
        ULMImageBuffer* destination;
        ULMImageRange destinationRange, sourceRange;
        ULMStatus expected;
        size_t renders;
    } cases[] = {
        {"null destination", nullptr, ok, ok, kULMErrBuffer, 0},
        {"source beyond its offset window", target, ok, {20, 1, 90, 0}, kULMErrArgument, 0},
        {"destination beyond its offset window", target, {20, 1, 90, 0}, ok, kULMErrArgument, 0},
        {"the same range on a wrapped destination", wrapped, {20, 1, 90, 0}, {20, 1, 0, 0}, kULMOK, 2},
        {"beyond what a wrapped destination stores", wrapped, {8, 1, 112, 0}, ok, kULMErrArgument, 0},
        {"negative destination coordinate", shifted, {20, 10, -4, 0}, ok, kULMErrArgument, 0},
        {"negative size", target, {-1, 10, 0, 0}, ok, kULMErrArgument, 0},
        {"corner beyond the board's coordinates", wrapped, {2, 1, 32767, 0}, ok, kULMErrArgument, 0},
        {"nothing to read", target, ok, {0, 10, 0, 0}, kULMErrArgument, 0},
        {"nothing to write", target, {0, 10, 0, 0}, ok, kULMOK, 0},
        {"an axis empty on both sides", target, {0, 10, 0, 0}, {0, 10, 0, 0}, kULMErrAlloc, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Held<ULMImageBufferInternal> fresh(MakeImage(kULMBoard0, 100, 50));
        const size_t renders = Renders();
        EXPECT_EQ(fresh->Resample(c.destination, c.destinationRange, c.sourceRange), c.expected);
        EXPECT_EQ(Renders() - renders, c.renders);
        EXPECT_EQ(fresh->Is3D(), c.renders > 0);
    }
}

}  // namespace
}  // namespace ulm3
