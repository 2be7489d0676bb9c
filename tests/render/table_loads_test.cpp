// Starts of renders whose tables the board has not seen yet: they queue the
// tables' loads and return while the board is held, other boards' starts go
// on meanwhile, and the pictures are those of renders made without the hold.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/shareable.h"
#include "support/context_fixture.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"
#include "ulm3.h"

namespace ulm3 {
namespace {

using Pixels = std::vector<uint32_t>;
constexpr int kSide = 32;
constexpr unsigned kNX = 24, kNY = 20, kNZ = 16;
const ULMImageRange kWhole(kSide, kSide, 0, 0);
constexpr ULMFieldFormat kU = kULMUnsignedFraction;
const ULMFieldDescriptor kRGBA8[4] = {{0, 8, kU}, {8, 8, kU}, {16, 8, kU}, {24, 8, kU}};

// A lit scene: its table, lights and gradient table each reach the picture.
struct Scene {
    ReleasablePointer<ULMLookupTable> table;
    ReleasablePointer<ULMLight> light;
    ReleasablePointer<ULMContext> context;
};

// Holds a board for one start: the start must return while the board is
// held. A watchdog lets the board go if it does not, so that a start that
// waits fails the test instead of hanging the suite.
class BoardHold {
public:
    explicit BoardHold(int inBoard) : m_board(inBoard) {
        tulx7sim::PauseBoard(m_board);
        m_watchdog = std::thread([this] {
            std::unique_lock<std::mutex> hold(m_lock);
            if (!m_done.wait_for(hold, std::chrono::seconds(5), [this] { return m_returned; })) {
                m_resumedByWatchdog = true;
                tulx7sim::ResumeBoard(m_board);
            }
        });
    }
    // Whether the board had to be let go for the start to return.
    bool Returned() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_returned = true;
        }
        m_done.notify_one();
        m_watchdog.join();
        return !m_resumedByWatchdog;
    }
    ~BoardHold() {
        if (m_watchdog.joinable()) Returned();
        tulx7sim::ResumeBoard(m_board);
    }

private:
    int m_board;
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_returned = false, m_resumedByWatchdog = false;
    std::thread m_watchdog;
};

class TableLoadsTest : public testing::ContextTest {
protected:
    TableLoadsTest() : ContextTest(test_support::SimBoards(2)) {}
    void SetUp() override {
        ContextTest::SetUp();
        voxels.resize(size_t(kNX) * kNY * kNZ);
        for (size_t i = 0; i < voxels.size(); ++i) {  // a blob on a ramp along X
            const double x = double(i % kNX), y = double(i / kNX % kNY), z = double(i / kNX / kNY);
            voxels[i] = uint8_t(std::min(255.0, 4 * x + std::max(0.0, 180 - 18 * std::hypot(x - 14, y - 9, z - 8))));
        }
    }
    void TearDown() override {
        tulx7sim::ResumeBoard(0);
        tulx7sim::ResumeBoard(1);
        ContextTest::TearDown();
    }

    ULMVolume* NewVolume(ULMLocation inBoard) {
        ULMVolume* v = ULMVolume::Create(1u, voxels.data(), kNX, kNY, kNZ, ULMVolume::kSliced);
        EXPECT_NE(v, nullptr);
        if (v != nullptr) {
            EXPECT_EQ(v->LockVolume(inBoard), kULMOK);
        }
        return v;
    }
    static ULMImageBuffer* NewImage(ULMLocation inBoard) {
        ULMImageBuffer* image = ULMImageBuffer::Create(inBoard, kSide, kSide, 32, 4, kRGBA8);
        EXPECT_NE(image, nullptr);
        if (image != nullptr) {
            EXPECT_EQ(image->Clear(kWhole, 0), kULMOK);
        }
        return image;
    }
    // A scene whose table's opacity rises with inOpacity.
    static void MakeScene(Scene& s, double inOpacity) {
        s.table.Assign(ULMLookupTable::Create(256));
        SetTable(s.table, inOpacity);
        s.light.Assign(ULMLight::Create(ULMVector3D(0.3, 0.4, 1.0)));
        s.context.Assign(ULMContext::Create(s.table));
        ULMContext& c = *s.context;
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-20, 20, -20, 20, -100, 100));
        camera.SetModelMatrix(ULMMatrix::Rotate(25, ULMVector3D(1, 0, 0)) * ULMMatrix::Rotate(35, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate((1.0 - kNX) / 2, (1.0 - kNY) / 2, (1.0 - kNZ) / 2));
        camera.SetViewport(0, 0, kSide, kSide);
        EXPECT_EQ(c.SetCamera(camera), kULMOK);
        EXPECT_EQ(c.AddLight(s.light), kULMOK);
        EXPECT_EQ(c.SetReflectionProperties(0.5, 0.3, 0.4, 8), kULMOK);
        EXPECT_EQ(c.SetGradientModulation(ULMContext::kModulateOpacity), kULMOK);
    }
    static void SetTable(ULMLookupTable* ioTable, double inOpacity) {
        for (int i = 0; i < 256; ++i) {
            const float a = float(std::min(1.0, i < 40 ? 0.0 : (i - 40) * inOpacity / 255.0));
            ioTable->SetEntry(unsigned(i), ULMRGBAFloat(a * float(i) / 255.0f, a * 0.6f, a * (1 - float(i) / 255.0f), a));
        }
    }
    static void SetGradientTable(ULMContext* ioContext, double inRise) {
        std::vector<double> knots(size_t(std::max(ULMConfiguration::GetGradientTableLength(), 2)));
        for (size_t k = 0; k < knots.size(); ++k)
            knots[k] = std::min(1.0, 0.2 + inRise * double(k) / double(knots.size() - 1));
        EXPECT_EQ(ioContext->SetGradientTable(knots.data()), kULMOK);
    }
    static Pixels Read(ULMImageBuffer* inImage) {
        Pixels pixels(size_t(kSide) * kSide, 0xDEADBEEF);
        EXPECT_EQ(inImage->Unload(pixels.data(), kWhole, 0), kULMOK);
        return pixels;
    }
    // The picture of a volume made and locked for this render alone.
    Pixels Alone(ULMContext* inContext, ULMLocation inBoard = kULMBoard0) {
        ReleasablePointer<ULMVolume> v(NewVolume(inBoard));
        ReleasablePointer<ULMImageBuffer> image(NewImage(inBoard));
        EXPECT_EQ(v->StartRender(inContext, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        return Read(image);
    }

    std::vector<uint8_t> voxels;
};

// What changes between a render the board has finished and one started
// while it is held: each change leaves something new to load.
struct Change {
    const char* what;
    std::function<void(Scene&)> apply;
};

TEST_F(TableLoadsTest, StartWithNewTablesReturnsWhileTheBoardIsHeldAndDrawsTheUnheldPicture) {
    const Change changes[] = {
        {"a lookup table entry", [](Scene& s) { s.table->SetEntry(200, ULMRGBAFloat(1, 0, 0, 0.9f)); }},
        {"the whole lookup table", [](Scene& s) { SetTable(s.table, 2.5); }},
        {"the light's direction", [](Scene& s) { s.light->SetDirection(ULMVector3D(-0.8, 0.2, 0.5)); }},
        {"the gradient table", [](Scene& s) { SetGradientTable(s.context, 0.3); }},
        {"everything at once", [](Scene& s) {
             SetTable(s.table, 0.6);
             s.light->SetDirection(ULMVector3D(0.1, -0.9, 0.4));
             SetGradientTable(s.context, 2.0);
         }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        Scene scene, reference;
        MakeScene(scene, 1.5);
        MakeScene(reference, 1.5);
        const Pixels before = Alone(reference.context);
        change.apply(reference);
        const Pixels expected = Alone(reference.context);
        ASSERT_NE(expected, before) << "the change does not show";

        ReleasablePointer<ULMVolume> v(NewVolume(kULMBoard0));
        ReleasablePointer<ULMImageBuffer> image(NewImage(kULMBoard0));
        ASSERT_EQ(v->StartRender(scene.context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        ASSERT_EQ(Read(image), before);
        change.apply(scene);
        image.Assign(NewImage(kULMBoard0));
        ULMSyncEvent event;
        {
            BoardHold hold(0);
            event = v->StartRender(scene.context, image, nullptr, nullptr, nullptr);
            EXPECT_TRUE(hold.Returned()) << "the start waited for the held board";
            EXPECT_EQ(ULMFailed(event.Status()), false);
        }
        ASSERT_EQ(event.Wait(-1), kULMOK);
        EXPECT_EQ(Read(image), expected);
    }
}

// Board 0 is held while one thread's start loads a table new to it; a start
// on board 1, whose tables are loaded there already, does not wait for it.
TEST_F(TableLoadsTest, StartOnOneBoardGoesOnWhileAnotherThreadLoadsATableForAHeldBoard) {
    Scene cached, fresh;
    MakeScene(cached, 1.5);
    MakeScene(fresh, 0.8);
    ReleasablePointer<ULMVolume> v0(NewVolume(kULMBoard0)), v1(NewVolume(kULMBoard1));
    ReleasablePointer<ULMImageBuffer> image0(NewImage(kULMBoard0)), image1(NewImage(kULMBoard1));
    ASSERT_EQ(v0->StartRender(cached.context, image0, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ASSERT_EQ(v1->StartRender(cached.context, image1, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    const Pixels expected0 = Alone(fresh.context, kULMBoard0);
    const Pixels expected1 = Read(image1);
    image1.Assign(NewImage(kULMBoard1));
    SetTable(fresh.table, 0.8);  // a new state, so that board 0 has not seen it

    ULMSyncEvent event0, event1;
    {
        BoardHold hold(0);
        std::mutex lock;
        std::condition_variable cv;
        bool returned0 = false;
        std::thread other([&] {
            const ULMSyncEvent e = v0->StartRender(fresh.context, image0, nullptr, nullptr, nullptr);
            std::lock_guard<std::mutex> g(lock);
            event0 = e;
            returned0 = true;
            cv.notify_one();
        });
        // Give the other start time to reach its table load.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event1 = v1->StartRender(cached.context, image1, nullptr, nullptr, nullptr);
        {
            std::unique_lock<std::mutex> g(lock);
            cv.wait(g, [&] { return returned0; });
        }
        other.join();
        EXPECT_TRUE(hold.Returned()) << "a start waited for the held board";
    }
    EXPECT_FALSE(ULMFailed(event1.Status()));
    ASSERT_EQ(event0.Wait(-1), kULMOK);
    ASSERT_EQ(event1.Wait(-1), kULMOK);
    EXPECT_EQ(Read(image0), expected0);
    EXPECT_EQ(Read(image1), expected1);
}

// Renders queued behind a held board, each after the table changed again:
// every state's load stays until the render that reads it has run, the
// states the table leaves are retired under queued renders and their board
// memory taken by the next, and the table may go before the board resumes.
TEST_F(TableLoadsTest, TableStatesReplacedWhileRendersAreQueuedGiveEachRenderItsOwnPicture) {
    const double opacities[] = {1.5, 0.5, 3.0, 1.5, 0.9};
    std::vector<Pixels> expected;
    for (const double opacity : opacities) {
        Scene reference;
        MakeScene(reference, opacity);
        expected.push_back(Alone(reference.context));
    }
    ASSERT_NE(expected[0], expected[1]);
    for (const bool dropTable : {false, true}) {
        SCOPED_TRACE(dropTable ? "the table released before the board resumes" : "the table kept");
        Scene scene;
        MakeScene(scene, 1.5);
        ReleasablePointer<ULMVolume> v(NewVolume(kULMBoard0));
        std::vector<ReleasablePointer<ULMImageBuffer>> images(std::size(opacities));
        for (auto& image : images) image.Assign(NewImage(kULMBoard0));
        ReleasablePointer<ULMImageBuffer> first(NewImage(kULMBoard0));
        ASSERT_EQ(v->StartRender(scene.context, first, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        const int buffersBefore = tulx7sim::GetStats().liveBuffers;
        std::vector<ULMSyncEvent> events;
        {
            BoardHold hold(0);
            for (size_t i = 0; i < std::size(opacities); ++i) {
                SetTable(scene.table, opacities[i]);
                events.push_back(v->StartRender(scene.context, images[i], nullptr, nullptr, nullptr));
            }
            if (dropTable) {
                scene.context.Assign(nullptr);
                scene.table.Assign(nullptr);
            }
            EXPECT_TRUE(hold.Returned()) << "a start waited for the held board";
        }
        for (const ULMSyncEvent& event : events) ASSERT_EQ(event.Wait(-1), kULMOK);
        for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(Read(images[i]), expected[i]) << "render " << i;
        // The states left behind have gone with the renders that read
        // them, and the next table loaded leaves no more. A table kept
        // holds its last state.
        Scene next;
        MakeScene(next, 0.7);
        ASSERT_EQ(v->StartRender(next.context, first, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
        EXPECT_LE(tulx7sim::GetStats().liveBuffers, buffersBefore + (dropTable ? 0 : 1));
    }
}

// A table state whose load the board failed is the failure of the render
// that reads it, and is not kept: the next render loads it again rather
// than reading what the failed load left.
TEST_F(TableLoadsTest, ATableStateWhoseLoadFailedOnTheBoardIsLoadedAgain) {
    Scene scene, reference;
    MakeScene(scene, 1.5);
    MakeScene(reference, 0.6);
    const Pixels expected = Alone(reference.context);
    ReleasablePointer<ULMVolume> v(NewVolume(kULMBoard0));
    ReleasablePointer<ULMImageBuffer> first(NewImage(kULMBoard0)), failed(NewImage(kULMBoard0)),
        again(NewImage(kULMBoard0));
    ASSERT_EQ(v->StartRender(scene.context, first, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    ASSERT_NE(Read(first), expected);
    SetTable(scene.table, 0.6);
    // The table's load is the render's only one: the volume, maps and
    // gradient table are on the board already.
    tulx7sim::InjectCompletionFailure(TULX7_DR_BUFFER_LOAD, 1);
    EXPECT_EQ(v->StartRender(scene.context, failed, nullptr, nullptr, nullptr).Wait(-1), kULMErrHardware);
    ASSERT_EQ(v->StartRender(scene.context, again, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
    EXPECT_EQ(Read(again), expected);
}

// What the board holds: the simulated driver's buffers and bytes on the
// board, and the library's own figure for the board.
struct BoardUsage {
    int buffers = 0;
    uint64_t bytes = 0;
    uint64_t used = 0;
    static BoardUsage Of(ULMLocation inBoard) {
        BoardUsage u;
        const tulx7sim::Stats stats = tulx7sim::GetStats();
        u.buffers = stats.liveBuffers;
        u.bytes = stats.boardBytesAllocated[inBoard];
        uint64_t total = 0, locked = 0, unlocked = 0, free = 0;
        EXPECT_EQ(ULMConfiguration::GetMemoryUsage(inBoard, total, locked, unlocked, free), kULMOK);
        u.used = total - free;
        return u;
    }
    bool operator==(const BoardUsage&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const BoardUsage& u) {
        return os << u.buffers << " buffers, " << u.bytes << " bytes (" << u.used << " used)";
    }
};

// Scenes rendered behind a held board and let go as soon as their renders
// are queued: once those renders are done the board holds what one scene
// rendered and let go leaves (the volume's image, voxels and the tables its
// next render may reuse), with no further call to the library, and nothing
// once the volume and the image go too. Each way scenes differ leaves its
// own kind of table behind.
TEST_F(TableLoadsTest, BoardMemoryOfReleasedScenesComesBackOnceTheirRendersAreDone) {
    struct Variation {
        const char* what;
        std::function<void(Scene&, int)> apply;
    };
    const Variation variations[] = {
        {"only the lookup table", [](Scene&, int) {}},
        {"the lights", [](Scene& s, int i) { s.light->SetDirection(ULMVector3D(0.2 * i - 0.5, 0.4, 1.0)); }},
        {"the gradient table", [](Scene& s, int i) { SetGradientTable(s.context, 0.2 + 0.3 * i); }},
        {"the sample spacing, its alpha corrected by the chip",
         [](Scene& s, int i) {
             // Alpha that no single table carries is corrected for the
             // spacing by the chip's own table.
             ULMClassifier classifier = s.context->GetClassifier();
             EXPECT_EQ(classifier.SetOperation(2, ULMOperation(kULM_A, kULM_A, kULM_A, kULM_A_Plus_B)), kULMOK);
             EXPECT_EQ(s.context->SetClassifier(classifier), kULMOK);
             EXPECT_EQ(s.context->SetSamplingLimits(1, 3, 2 + i % 3, 2 + i % 3), kULMOK);
         }},
    };
    constexpr int kScenes = 5;
    for (const Variation& variation : variations) {
        for (const ULMLocation board : {kULMBoard0, kULMBoard1}) {
            SCOPED_TRACE(std::string("scenes differing in ") + variation.what + ", board " + std::to_string(board));
            const BoardUsage start = BoardUsage::Of(board);
            ReleasablePointer<ULMVolume> v(NewVolume(board));
            ReleasablePointer<ULMImageBuffer> image(NewImage(board));
            {
                Scene scene;
                MakeScene(scene, 1.5);
                variation.apply(scene, 0);
                ASSERT_EQ(v->StartRender(scene.context, image, nullptr, nullptr, nullptr).Wait(-1), kULMOK);
            }
            const BoardUsage one = BoardUsage::Of(board);
            std::vector<ULMSyncEvent> events;
            {
                BoardHold hold(board);
                for (int i = 1; i <= kScenes; ++i) {
                    Scene scene;
                    MakeScene(scene, 0.5 + 0.4 * i);
                    variation.apply(scene, i);
                    events.push_back(v->StartRender(scene.context, image, nullptr, nullptr, nullptr));
                }
                EXPECT_TRUE(hold.Returned()) << "a start waited for the held board";
            }
            for (const ULMSyncEvent& event : events) ASSERT_EQ(event.Wait(-1), kULMOK);
            EXPECT_EQ(BoardUsage::Of(board), one) << "released scenes still hold board memory";
            v.Assign(nullptr);
            image.Assign(nullptr);
            EXPECT_EQ(BoardUsage::Of(board), start) << "released objects still hold board memory";
        }
    }
}

}  // namespace
}  // namespace ulm3
