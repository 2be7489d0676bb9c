// Image and depth buffers with pixels on a board hold the library open, as
// contexts and volumes do: released before or after ULMClose, in any order,
// each gives its memory back to an open board, the boards close with the
// last of them, and an open after that renders what a fresh one does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "board/kwb_board.h"
#include "buffer_test_fixture.h"
#include "foundation/control.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3::test_support {
namespace {

constexpr unsigned kWidth = 37, kHeight = 21;  // odd sizes, below the 32 x 32 a board stores
constexpr unsigned kNX = 24, kNY = 20, kNZ = 16;
constexpr int kBoards = 3;
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

// One object an application may still hold when it closes the library.
struct Kind {
    const char* name;
    ULMShareable* (*make)();
    bool onBoards;  // holds board memory
};

ULMShareable* Image(ULMLocation inLocation) {
    return ULMImageBuffer::Create(inLocation, kWidth, kHeight, 32, 4, kRGBA8);
}

// A table the boards have copies of: rendered with once, its context and
// volume gone. The copies belong to the library's cache, which the close
// empties, so the table holds the boards no longer than the application.
ULMShareable* RenderedTable() {
    static std::vector<uint8_t> voxels(size_t(kNX) * kNY * kNZ, 200);
    ULMLookupTable* table = ULMLookupTable::Create(256);
    Held<ULMContext> context(ULMContext::Create(table));
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-20, 20, -12, 12, -100, 100));
    camera.SetModelMatrix(ULMMatrix::Translate((1.0 - kNX) / 2, (1.0 - kNY) / 2, (1.0 - kNZ) / 2));
    camera.SetViewport(0, 0, kWidth, kHeight);
    EXPECT_EQ(context->SetCamera(camera), kULMOK);
    Held<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced));
    Held<ULMImageBuffer> image(ULMImageBuffer::Create(kULMBoard1, kWidth, kHeight, 32, 4, kRGBA8));
    EXPECT_EQ(volume->LockVolume(kULMBoard1), kULMOK);
    EXPECT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
    return table;
}

const Kind kKinds[] = {
    {"image on board 0", [] { return Image(kULMBoard0); }, true},
    {"image on board 1", [] { return Image(kULMBoard1); }, true},
    {"image on board 2", [] { return Image(kULMBoard2); }, true},
    {"image in bands", [] { return Image(kULMMultiBoardMode1); }, true},
    {"image of bricks", [] { return Image(kULMMultiBoardMode2); }, true},
    {"image in host memory", [] { return Image(kULMSystem); }, false},
    {"depth on board 0", []() -> ULMShareable* { return ULMDepthBuffer::Create(kULMBoard0, kWidth, kHeight); }, true},
    {"depth on board 2", []() -> ULMShareable* { return ULMDepthBuffer::Create(kULMBoard2, kWidth, kHeight); }, true},
    {"depth in bands", []() -> ULMShareable* { return ULMDepthBuffer::Create(kULMMultiBoardMode1, kWidth, kHeight); },
     true},
    {"depth in host memory", []() -> ULMShareable* { return ULMDepthBuffer::Create(kULMSystem, kWidth, kHeight); },
     false},
    {"lookup table rendered with", RenderedTable, false},
};
constexpr int kKindCount = static_cast<int>(std::size(kKinds));
constexpr int kClose = -1;  // a step that closes the library

class CloseOrderTest : public BufferTest {
protected:
    CloseOrderTest() : BufferTest(SimBoards(kBoards)) {}
    void SetUp() override {
        BufferTest::SetUp();
        voxels.resize(size_t(kNX) * kNY * kNZ);
        for (size_t i = 0; i < voxels.size(); ++i) {  // a blob on a ramp along X
            const double x = double(i % kNX), y = double(i / kNX % kNY), z = double(i / kNX / kNY);
            voxels[i] = uint8_t(std::min(255.0, 5 * x + std::max(0.0, 180 - 18 * std::hypot(x - 13, y - 9, z - 8))));
        }
    }

    // A render on each board through the public interface, as its words.
    std::vector<uint32_t> Picture() {
        std::vector<uint32_t> all;
        Held<ULMLookupTable> table(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float a = i < 40 ? 0.0f : float(i - 40) / 300.0f;
            table->SetEntry(unsigned(i), ULMRGBAFloat(a * float(i) / 255.0f, a * 0.5f, a * 0.25f, a));
        }
        Held<ULMContext> context(ULMContext::Create(table));
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-20, 20, -12, 12, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(20, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(30, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1.0 - kNX) / 2, (1.0 - kNY) / 2, (1.0 - kNZ) / 2));
        camera.SetViewport(0, 0, kWidth, kHeight);
        EXPECT_EQ(context->SetCamera(camera), kULMOK);
        for (const ULMLocation board : {kULMBoard0, kULMBoard1, kULMBoard2}) {
            Held<ULMVolume> volume(ULMVolume::Create(1u, voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced));
            Held<ULMImageBuffer> image(ULMImageBuffer::Create(board, kWidth, kHeight, 32, 4, kRGBA8));
            EXPECT_EQ(volume->LockVolume(board), kULMOK);
            const ULMImageRange whole(kWidth, kHeight, 0, 0);
            EXPECT_EQ(image->Clear(whole, 0), kULMOK);
            EXPECT_EQ(volume->Render(context, image, nullptr, nullptr, nullptr), kULMOK);
            std::vector<uint32_t> pixels(size_t(kWidth) * kHeight, 0xDEADBEEF);
            EXPECT_EQ(image->Unload(pixels.data(), whole, 0), kULMOK);
            all.insert(all.end(), pixels.begin(), pixels.end());
        }
        return all;
    }

    static bool BoardsOpen() {
        return ULMConfiguration::GetNumberOfBoards() == kBoards && KWBBoard::GetBoard(0) != nullptr &&
               tulx7sim::GetStats().openClients == kBoards;
    }
    static bool BoardsClosed() {
        return ULMConfiguration::GetNumberOfBoards() == 0 && KWBBoard::GetBoard(0) == nullptr &&
               tulx7sim::GetStats().openClients == 0;
    }

    std::vector<uint8_t> voxels;
};

// Kinds released in the order given, kClose closing the library between
// them; a context and a volume may be held over the close as well.
struct Order {
    std::string what;
    std::vector<int> steps;
};

std::vector<Order> Orders() {
    std::vector<Order> orders;
    for (int k = 0; k < kKindCount; ++k) orders.push_back({std::string(kKinds[k].name) + " after the close", {kClose, k}});
    std::vector<int> forward, backward, interleaved;
    for (int k = 0; k < kKindCount; ++k) forward.push_back(k);
    backward.assign(forward.rbegin(), forward.rend());
    forward.insert(forward.begin(), kClose);
    backward.insert(backward.begin(), kClose);
    // Every other kind before the close, the rest after, odd ones backwards.
    for (int k = 0; k < kKindCount; k += 2) interleaved.push_back(k);
    interleaved.push_back(kClose);
    for (int k = kKindCount - 1 - (kKindCount % 2 == 0 ? 0 : 1); k > 0; k -= 2) interleaved.push_back(k);
    orders.push_back({"all after the close, first made first", forward});
    orders.push_back({"all after the close, last made first", backward});
    orders.push_back({"half before the close, half after", interleaved});
    return orders;
}

TEST_F(CloseOrderTest, BoardBuffersReleasedAroundTheCloseHoldTheBoardsUntilTheLastGoes) {
    const std::vector<uint32_t> fresh = Picture();
    for (const bool withVolume : {false, true}) {
        for (const Order& order : Orders()) {
            SCOPED_TRACE(order.what + (withVolume ? ", a context and a volume released after the first buffer" : ""));
            if (!gULMControl.m_initialized) {
                ASSERT_EQ(ULMOpen(), kULMOK);
            }
            std::vector<ULMShareable*> held(kKindCount, nullptr);
            int live = 0;  // held objects with pixels on the boards
            for (const int step : order.steps) {
                if (step == kClose) continue;
                held[step] = kKinds[step].make();
                ASSERT_NE(held[step], nullptr) << kKinds[step].name;
                live += kKinds[step].onBoards;
            }
            Held<ULMContext> context(withVolume ? ULMContext::Create() : nullptr);
            Held<ULMVolume> volume(
                withVolume ? ULMVolume::Create(1u, voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced) : nullptr);
            bool closed = false;
            for (const int step : order.steps) {
                if (step == kClose) {
                    ULMClose();
                    closed = true;
                } else {
                    const int buffersBefore = tulx7sim::GetStats().liveBuffers;
                    held[step]->Release();
                    held[step] = nullptr;
                    live -= kKinds[step].onBoards;
                    if (kKinds[step].onBoards) {
                        EXPECT_LT(tulx7sim::GetStats().liveBuffers, buffersBefore)
                            << kKinds[step].name << " kept its board memory";
                    }
                    if (withVolume) {
                        context.Assign(nullptr);
                        volume.Assign(nullptr);
                    }
                }
                if (closed && live == 0 && !context && !volume)
                    EXPECT_TRUE(BoardsClosed()) << "the boards stay open with nothing on them";
                else
                    EXPECT_TRUE(BoardsOpen()) << "the boards closed under a buffer still held";
            }
            EXPECT_EQ(tulx7sim::GetStats().leakedBuffers, 0);
            EXPECT_EQ(tulx7sim::GetStats().liveBuffers, 0);
            ASSERT_EQ(ULMOpen(), kULMOK);
            EXPECT_EQ(Picture(), fresh) << "the reopened boards render another picture";
        }
    }
}

}  // namespace
}  // namespace ulm3::test_support
