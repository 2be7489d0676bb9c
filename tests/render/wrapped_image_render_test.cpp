// Renders into a wrap-addressed board image: the whole viewport is drawn,
// each pixel at its coordinates modulo the wrap, as the same render into a
// large offset image folded by the wrap; a viewport the wrap cannot hold
// apart, or one reaching outside the board's coordinates, is refused with
// kULMErrBuffer, logged, and the image is left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/log_capture.h"
#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "ulm3/context.h"
#include "ulm3/image_buffer.h"
#include "ulm3/lookup_table.h"
#include "ulm3/volume.h"

namespace ulm3 {
namespace {

constexpr int kN = 24, kBig = 256;
constexpr uint32_t kSentinel = 0x5A5A5A5Au;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                      {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};

class WrappedImageRenderTest : public testing::ContextTest {
protected:
    WrappedImageRenderTest() : ContextTest(test_support::SimBoards(1)) {}
    void SetUp() override {
        ContextTest::SetUp();
        m_voxels.resize(size_t(kN) * kN * kN);
        for (size_t i = 0; i < m_voxels.size(); ++i) m_voxels[i] = uint8_t(40 + (i % kN) * 8 + (i / kN % kN));
        m_volume.Assign(ULMVolume::Create(1u, m_voxels.data(), kN, kN, kN, ULMVolume::kSliced));
        ASSERT_EQ(m_volume->LockVolume(kULMBoard0), kULMOK);
        m_table.Assign(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float a = float(i) / 255.0f * 0.2f;
            m_table->SetEntry(i, ULMRGBAFloat(a, a * 0.5f, a * 0.25f, a));
        }
        m_context.Assign(ULMContext::Create(m_table));
        ULMCamera& camera = m_context->GetCamera();
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-16, 16, -16, 16, -40, 40));
        camera.SetModelMatrix(ULMMatrix::Rotate(10, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Translate((1 - kN) / 2.0, (1 - kN) / 2.0, (1 - kN) / 2.0));
    }
    void TearDown() override {
        m_context.Assign(nullptr);
        m_table.Assign(nullptr);
        m_volume.Assign(nullptr);
        testing::ContextTest::TearDown();
    }

    // The render of the viewport into an image at offset 0 large enough
    // to hold it.
    std::vector<uint32_t> Reference(const ULMImageRange& inViewport) {
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard0, kBig, kBig, 32, 4, kRGBA8));
        EXPECT_EQ(image->Clear({kBig, kBig, 0, 0}, kSentinel), kULMOK);
        m_context->GetCamera().SetViewport(inViewport.XOrigin(), inViewport.YOrigin(), inViewport.XSize(),
                                           inViewport.YSize());
        EXPECT_EQ(m_volume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        std::vector<uint32_t> pixels(size_t(kBig) * kBig);
        EXPECT_EQ(image->Unload(pixels.data(), {kBig, kBig, 0, 0}, 0), kULMOK);
        return pixels;
    }

    std::vector<uint8_t> m_voxels;
    ReleasablePointer<ULMVolume> m_volume;
    ReleasablePointer<ULMLookupTable> m_table;
    ReleasablePointer<ULMContext> m_context;
};

TEST_F(WrappedImageRenderTest, TheViewportIsDrawnWrappedOrRefused) {
    const struct Case {
        int width, height, wrapX, wrapY;
        ULMImageRange viewport;  // sizes first, then origins
        bool drawn;
    } cases[] = {
        {64, 64, 64, 64, {64, 64, 0, 0}, true},
        {64, 64, 64, 64, {64, 64, 32, 32}, true},     // across the wrap on both axes
        {64, 48, 64, 64, {40, 40, 70, 6}, true},      // a period up, inside the rows there are
        {64, 64, 32, 64, {30, 50, 100, 130}, true},   // a narrower wrap than the image
        {64, 64, 64, 64, {64, 64, -16, 0}, false},    // below the board's coordinates
        {64, 64, 64, 64, {128, 64, 0, 0}, false},     // two pixels on each element
        {64, 48, 64, 64, {48, 40, 100, 40}, false},   // rows past the image's height
    };
    for (const Case& c : cases) {
        const ULMImageRange& v = c.viewport;
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " wrap " << c.wrapX << "x" << c.wrapY
                                          << " viewport at " << v.XOrigin() << "," << v.YOrigin());
        ReleasablePointer<ULMImageBuffer> image(
            ULMImageBuffer::Create(kULMBoard0, c.width, c.height, 32, 4, kRGBA8));
        ASSERT_EQ(image->SetWrap(c.wrapX, c.wrapY), kULMOK);
        // The elements: a period of each axis, as far as the image reaches.
        const int ex = std::min(c.width, c.wrapX), ey = std::min(c.height, c.wrapY);
        const ULMImageRange elements(ex, ey, 0, 0);
        ASSERT_EQ(image->Clear(elements, kSentinel), kULMOK);
        std::vector<uint32_t> want(size_t(ex) * ey, kSentinel);
        if (c.drawn) {
            const std::vector<uint32_t> reference = Reference(v);
            for (int y = v.YOrigin(); y < v.YOrigin() + v.YSize(); ++y)
                for (int x = v.XOrigin(); x < v.XOrigin() + v.XSize(); ++x)
                    want[size_t(y % c.wrapY) * ex + x % c.wrapX] = reference[size_t(y) * kBig + x];
        }
        m_context->GetCamera().SetViewport(v.XOrigin(), v.YOrigin(), v.XSize(), v.YSize());
        ULMStatus status = kULMOK;
        std::string logged;
        {
            testing_support::LogToFile log;
            status = m_volume->StartRender(m_context, image, nullptr, nullptr, nullptr).Wait(-1);
            logged = log.Contents();
        }
        EXPECT_EQ(status, c.drawn ? kULMOK : kULMErrBuffer);
        if (!c.drawn) {
            EXPECT_NE(logged.find("wrap-addressed"), std::string::npos) << logged;
        }
        std::vector<uint32_t> got(want.size());
        ASSERT_EQ(image->Unload(got.data(), elements, 0), kULMOK);
        int differ = 0, lit = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            differ += got[i] != want[i];
            lit += want[i] != kSentinel && (want[i] & 0xFFFFFF) != 0;
        }
        EXPECT_EQ(differ, 0);
        EXPECT_TRUE(!c.drawn || lit > 100) << "the view shows too little of the volume to tell";
    }
}

}  // namespace
}  // namespace ulm3
