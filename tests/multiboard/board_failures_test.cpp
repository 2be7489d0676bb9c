// Board work that fails as it runs, on every road a render or a pass takes:
// each request of each kind the road sends (renders, passes and composites;
// loads of voxels, tables and partial images; unloads; copies between
// boards) is made to fail in turn, from a fresh platform, and the failure
// must reach a status the application is answered with. A road whose every
// answer is OK must have drawn what it draws without the failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shareable.h"
#include "multiboard/road_names.h"
#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};
constexpr int kSide = 40;
constexpr int kNX = 26, kNY = 22, kNZ = 18;

enum class Pass { kRender, kResample, kRenderToVolume };

struct Road {
    const char* name;
    int boards;
    bool peers;        // false: copies between boards go through the host
    int mode;          // 0 one board, 1 bands, 2 bricks
    int composite;     // Multiboard2ForceRender: 1 on a board, 2 on the host
    bool mipmap;       // drawn from the coarser level 1 of a mipmap volume
    bool perspective;
    Pass pass = Pass::kRender;
    int side = kSide;  // 0: a view the chip cannot subsample, rendered large and shrunk
};

// What the road answered and drew.
struct Outcome {
    std::vector<ULMStatus> answers;
    std::vector<uint8_t> drawn;
    bool AllOK() const {
        return std::all_of(answers.begin(), answers.end(), [](ULMStatus s) { return s == kULMOK; });
    }
};

class BoardFailuresTest : public testing::ContextTest {
protected:
    BoardFailuresTest() : ContextTest(test_support::SimBoards(2)) {}

    void SetUp() override {
        ContextTest::SetUp();
        m_voxels.resize(size_t(kNX) * kNY * kNZ);
        for (size_t i = 0; i < m_voxels.size(); ++i) {
            const double x = double(i % kNX), y = double(i / kNX % kNY), z = double(i / kNX / kNY);
            const double blob = 220 - 14 * std::hypot(x - 0.6 * kNX, y - 0.45 * kNY, z - 0.5 * kNZ);
            m_voxels[i] = uint8_t(std::clamp(std::max(2.5 * x + y, blob), 0.0, 255.0));
        }
    }

    // A fresh library over a fresh platform of the road's boards.
    static void Fresh(const Road& inRoad) {
        CloseEverything();
        tulx7sim::SimConfig config = test_support::SimBoards(inRoad.boards);
        if (!inRoad.peers) config.peers.fill(-1);
        UsePlatform(config);
        ASSERT_EQ(ULMOpen(), kULMOK);
    }

    ULMVolume* NewVolume(const Road& inRoad) {
        ULMSetParameter("MipmapMinVolumeSize", inRoad.mipmap ? 16 : 1 << 24);
        ULMSetParameter("MultiboardMinVolumeSize", 2);
        ULMSetParameter("MultiboardRenderMode", inRoad.mode == 2 ? 2 : 1);
        ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
        ULMSetParameter("Multiboard2ForceRender", uint64_t(inRoad.composite));
        ULMSetParameter("ResizeImage", inRoad.side == 0 ? 1 : 0);
        ULMSetParameter("MultiboardRenderEnable", inRoad.mode != 0 ? 1 : 0);
        ULMVolume* volume = ULMVolume::Create(1u, m_voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced);
        ULMSetParameter("MultiboardRenderEnable", 0);
        return volume;
    }

    static void Aim(ULMContext* ioContext, const Road& inRoad, int inSide) {
        const double r = 0.55 * std::hypot(kNX, kNY, kNZ);
        ULMCamera& camera = ioContext->GetCamera();
        const bool turned = inRoad.pass != Pass::kRenderToVolume;
        camera.SetProjectionMatrix(inRoad.perspective ? ULMMatrix::Frustum(-r / 3, r / 3, -r / 3, r / 3, r, 4 * r)
                                                      : ULMMatrix::Ortho(-r, r, -r, r, -2 * r, 2 * r));
        camera.SetViewMatrix(inRoad.perspective ? ULMMatrix::Translate(0, 0, -2 * r) : ULMMatrix());
        camera.SetModelMatrix((turned ? ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) *
                                            ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0))
                                      : ULMMatrix()) *
                              ULMMatrix::Translate((1 - kNX) / 2.0, (1 - kNY) / 2.0, (1 - kNZ) / 2.0));
        camera.SetViewport(0, 0, inSide, inSide);
    }

    // The road's work from a fresh library: the volume made and locked,
    // its view drawn (or its pass run) and read back.
    Outcome Run(const Road& inRoad) {
        Outcome out;
        ReleasablePointer<ULMVolume> volume(NewVolume(inRoad));
        if (volume == nullptr) return {{kULMErrVolume}, {}};
        out.answers.push_back(volume->LockVolume(inRoad.mode == 0 ? kULMBoard0 : kULMAnyBoard));
        if (inRoad.mipmap) out.answers.push_back(volume->SetMipmapRange(1, 1));
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = 0.05f * v;
            table->SetEntry(i, ULMRGBAFloat(v * a, v * a, v * a, a));
        }
        ReleasablePointer<ULMContext> context(ULMContext::Create(table));
        switch (inRoad.pass) {
            case Pass::kRender: Draw(inRoad, volume, context, out); break;
            case Pass::kResample: Resample(volume, out); break;
            case Pass::kRenderToVolume: RenderToVolume(volume, context, out); break;
        }
        return out;
    }

    static void Draw(const Road& inRoad, ULMVolume* ioVolume, ULMContext* ioContext, Outcome& ioOut) {
        // 17 pixels across 40 voxels the chip cannot draw straight.
        const int side = inRoad.side == 0 ? 17 : inRoad.side;
        Aim(ioContext, inRoad, side);
        const ULMLocation where = inRoad.mode == 1   ? kULMMultiBoardMode1
                                  : inRoad.mode == 2 ? kULMMultiBoardMode2
                                                     : kULMBoard0;
        ReleasablePointer<ULMImageBuffer> image(ULMImageBuffer::Create(where, side, side, 32, 4, kRGBA8));
        if (image == nullptr) return ioOut.answers.push_back(kULMErrBuffer);
        ioOut.answers.push_back(ioVolume->StartRender(ioContext, image, nullptr, nullptr, nullptr).Wait(-1));
        ioOut.drawn.assign(size_t(side) * side * 4, 0xEE);
        ioOut.answers.push_back(image->Unload(ioOut.drawn.data(), ULMImageRange(side, side, 0, 0), side));
    }

    static void ReadBack(ULMVolume* inVolume, Outcome& ioOut) {
        const ULMVolumeRange whole = inVolume->GetRange();
        ioOut.drawn.assign(size_t(whole.XSize()) * whole.YSize() * whole.ZSize() * inVolume->GetVoxelSize() / 8,
                           0xEE);
        ioOut.answers.push_back(inVolume->Unload(ioOut.drawn.data(), whole, kULMUseBuffer));
    }

    // The voxels shrunk into a volume on the last board.
    void Resample(ULMVolume* ioVolume, Outcome& ioOut) {
        std::vector<uint8_t> host(size_t(kNX - 4) * (kNY - 4) * kNZ, 0);
        ReleasablePointer<ULMVolume> into(
            ULMVolume::Create(1u, host.data(), kNX - 4, kNY - 4, kNZ, ULMVolume::kSliced));
        ioOut.answers.push_back(into->LockVolume(kULMBoard1));
        const ULMClassifier direct = ULMClassifier::DirectRGBA(kULMField0, kULMField1, kULMField2, kULMField3);
        ioOut.answers.push_back(
            ioVolume->StartResampleBuffer(into, ioVolume->GetRange(), into->GetRange(), direct).Wait(-1));
        ReadBack(into, ioOut);
    }

    // The view along Z drawn into a volume of RGBA voxels beside the source.
    void RenderToVolume(ULMVolume* ioVolume, ULMContext* ioContext, Outcome& ioOut) {
        Aim(ioContext, {"", 1, true, 0, 0, false, false, Pass::kRenderToVolume}, kNX);
        ReleasablePointer<ULMVolume> into(
            ULMVolume::Create(32, ULMVolumeRange(kNX, kNY, 2, 0, 0, 0), 4, kRGBA8, nullptr));
        ioOut.answers.push_back(into->LockVolume(kULMBoard0));
        ioOut.answers.push_back(
            ioVolume->StartRenderToVolume(ioContext, into, ULMVolume::kRenderToVolumeNone).Wait(-1));
        ReadBack(into, ioOut);
    }

    // The requests of each kind the road sends from a fresh library.
    std::vector<std::pair<uint32_t, int>> Requests(const Road& inRoad, Outcome& outReference) {
        Fresh(inRoad);
        tulx7sim::ClearRequestLog();
        outReference = Run(inRoad);
        std::vector<std::pair<uint32_t, int>> counts;
        for (const uint32_t code :
             {uint32_t(TULX7_DR_RENDER), uint32_t(TULX7_DR_BUFFER_LOAD), uint32_t(TULX7_DR_BUFFER_UNLOAD),
              uint32_t(TULX7_DR_BUFFER_BOARD2BOARD)}) {
            const auto log = tulx7sim::RequestLog();
            counts.emplace_back(code, int(std::count_if(log.begin(), log.end(), [code](const auto& e) {
                                    return e.code == code && e.reachedDriver && e.status == 0;
                                })));
        }
        return counts;
    }

    std::vector<uint8_t> m_voxels;
};

// The roads, one instance each: a road's requests take a while under the
// sanitizers, and each instance has its own time.
const Road kRoads[] = {
    {"plain", 1, true, 0, 0, false, false},
    {"bands", 2, true, 1, 0, false, false},
    {"bricks composited on a board", 2, true, 2, 1, false, false},
    {"bricks composited on a board, copies through the host", 2, false, 2, 1, false, false},
    {"bricks composited on the host", 2, true, 2, 2, false, false},
    {"three bricks composited on a board", 3, true, 2, 1, false, false},
    {"mipmap level over plain", 1, true, 0, 0, true, false},
    {"mipmap level over bands", 2, true, 1, 0, true, false},
    {"mipmap level over bricks", 2, true, 2, 1, true, false},
    {"perspective frame", 1, true, 0, 0, false, true},
    {"perspective frame over bricks", 2, true, 2, 1, false, true},
    {"rendered large and shrunk", 1, true, 0, 0, false, false, Pass::kRender, 0},
    {"resampled into another volume", 2, true, 0, 0, false, false, Pass::kResample},
    {"bricks resampled into another volume", 2, true, 2, 1, false, false, Pass::kResample},
    {"rendered into a volume", 1, true, 0, 0, false, false, Pass::kRenderToVolume},
};

class RoadFailuresTest : public BoardFailuresTest, public ::testing::WithParamInterface<Road> {};

// Each request of each kind a road sends, failed in turn on whichever board
// it runs: the failure is answered, and what is answered OK is drawn right.
TEST_P(RoadFailuresTest, EveryFailedRequestReachesAnAnswer) {
    const Road& road = GetParam();
    Outcome reference;
    const auto counts = Requests(road, reference);
    ASSERT_TRUE(reference.AllOK()) << "the road runs without failures: "
                                   << ::testing::PrintToString(reference.answers);
    for (const auto& [code, count] : counts) {
        for (int nth = 1; nth <= count; ++nth) {
            SCOPED_TRACE(::testing::Message() << testing::RequestKindName(code) << " " << nth << " of " << count);
            Fresh(road);
            tulx7sim::InjectCompletionFailure(code, nth);
            const Outcome got = Run(road);
            ASSERT_TRUE(tulx7sim::WaitForIdle(10000));
            const bool failed = tulx7sim::GetStats().jobsFailed > 0;
            if (failed) {
                EXPECT_FALSE(got.AllOK()) << "the failure is answered: " << ::testing::PrintToString(got.answers);
            }
            if (got.AllOK()) {
                EXPECT_TRUE(got.drawn == reference.drawn) << "an OK road drew what it draws";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, RoadFailuresTest, ::testing::ValuesIn(kRoads), testing::NameOfParam());

// What a failed request left on the boards is made again by the next use
// when the library made it on its own: a mipmap level whose generation
// failed, over one board and over bricks, is generated again by the next
// render of the same volume, which draws it right.
TEST_F(BoardFailuresTest, ALevelWhoseGenerationFailedIsMadeAgainByTheNextRender) {
    const Road roads[] = {
        {"mipmap level over plain", 1, true, 0, 0, true, false},
        {"mipmap level over bricks", 2, true, 2, 1, true, false},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        Fresh(road);
        const Outcome reference = Run(road);
        ASSERT_TRUE(reference.AllOK()) << ::testing::PrintToString(reference.answers);
        ReleasablePointer<ULMVolume> volume(NewVolume(road));
        ASSERT_EQ(volume->LockVolume(road.mode == 0 ? kULMBoard0 : kULMAnyBoard), kULMOK);
        ASSERT_EQ(volume->SetMipmapRange(1, 1), kULMOK);
        ReleasablePointer<ULMLookupTable> table(ULMLookupTable::Create(256));
        for (int i = 0; i < 256; ++i) {
            const float v = float(i) / 255.0f, a = 0.05f * v;
            table->SetEntry(i, ULMRGBAFloat(v * a, v * a, v * a, a));
        }
        ReleasablePointer<ULMContext> context(ULMContext::Create(table));
        // The level's first pass is the first render the volume queues.
        tulx7sim::InjectCompletionFailure(TULX7_DR_RENDER, 1);
        Outcome failed;
        Draw(road, volume, context, failed);
        EXPECT_EQ(failed.answers[0], kULMErrHardware) << "the render answers for its level";
        Outcome again;
        Draw(road, volume, context, again);
        EXPECT_TRUE(again.AllOK()) << ::testing::PrintToString(again.answers);
        EXPECT_TRUE(again.drawn == reference.drawn) << "the level is made again";
    }
}

}  // namespace
}  // namespace ulm3
