// Queued work: waits with and without time-outs, ordering by event ids
// within and across boards, aborts, render submission and queue dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/driver_status.h"
#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/render_engine.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

using testing::Box;
using testing::DriverSession;
using testing::TransferRecord;
using Clock = std::chrono::steady_clock;

// A render engine that records what it was given and can hold a job running
// until the test lets it go. (The chip's own engine, with its persistent
// register file and its failures, is exercised by the render submission tests.)
class RecordingEngine : public tulx7sim::RenderEngine {
public:
    int32_t Execute(const tulx7sim::RenderJob& job, tulx7sim::RegisterFile&, std::string&) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_jobs.push_back(job);
        m_running = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_hold; });
        m_running = false;
        return TULX7_DR_STATUS_SUCCESS;
    }
    void Hold(bool hold) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = hold;
        m_changed.notify_all();
    }
    bool WaitUntilRunning() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_running; });
    }
    std::vector<tulx7sim::RenderJob> Jobs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_jobs;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_hold = false;
    bool m_running = false;
    std::vector<tulx7sim::RenderJob> m_jobs;
};

class DriverEventTest : public testing::SimPlatformTest {
protected:
    void SetUp() override {
        SimPlatformTest::SetUp();
        tulx7sim::SetRenderEngine(m_engine);
    }
    // A test that stops half-way must not leave a job held: the reset waits
    // for it.
    void TearDown() override {
        m_engine->Hold(false);
        SimPlatformTest::TearDown();
    }

    // A render of one command block into `image`, waiting for `after`.
    Tulx7_dr_render RenderRecord(uint32_t image, uint32_t after = TULX7_DR_NO_EVENT) {
        m_buffers = Tulx7_dr_all_buffers_data{};
        for (auto* entry : {&m_buffers.volume, &m_buffers.image1, &m_buffers.depth0, &m_buffers.depth1})
            entry->buffer_id = TULX7_DR_NO_BUFFER;
        m_buffers.image0.buffer_id = image;
        m_buffers.image0.addr = Box(0, 15, 0, 15);
        for (auto* table : {&m_buffers.classification_0, &m_buffers.classification_1,
                            &m_buffers.classification_2, &m_buffers.classification_3,
                            &m_buffers.specular_reflectance, &m_buffers.diffuse_reflectance,
                            &m_buffers.gradient_magnitude, &m_buffers.alpha_correction})
            table->buffer_id = TULX7_DR_NO_BUFFER;
        Tulx7_dr_render record;
        record.lut_load_event_id = TULX7_DR_NO_EVENT;
        record.load_event_id = after;
        record.unload_event_id = TULX7_DR_NO_EVENT;
        record.prev_render_event_id = TULX7_DR_NO_EVENT;
        record.pBufferData = reinterpret_cast<uintptr_t>(&m_buffers);
        record.p_render_load_cmds = reinterpret_cast<uintptr_t>(m_words.data());
        record.render_count = static_cast<int32_t>(m_words.size());
        record.image_depth_dest = 1;
        return record;
    }

    std::shared_ptr<RecordingEngine> m_engine = std::make_shared<RecordingEngine>();
    Tulx7_dr_all_buffers_data m_buffers;
    std::vector<uint64_t> m_words = {0x4000000000001710ull, 0x1234, 0x3000000000075248ull};
};

TEST_F(DriverEventTest, WaitsTimeOutOnAPausedBoardAndCompleteAfterResume) {
    DriverSession session(0);
    const uint32_t id = session.Allocate(1, 64);
    std::vector<uint8_t> host(64, 9);
    tulx7sim::PauseBoard(0);
    uint32_t first = 0;
    uint32_t second = 0;
    ASSERT_EQ(session.Start(true, TransferRecord(id, Box(0, 31), host.data(), 1, 64), &first),
              TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(session.Start(true, TransferRecord(id, Box(32, 63), host.data(), 1, 64), &second),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(second, first + 1);

    Tulx7_dr_sync answer;
    const auto start = Clock::now();
    EXPECT_EQ(session.Wait({first, second}, 50, TULX7_DR_WAIT_ANY, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(answer.wait_status, 0);
    EXPECT_EQ(answer.event_occurred_count, 0);
    EXPECT_EQ(answer.event_list[0].event_occurred, 0);

    // A wait without a time-out may run the jobs it waits for itself, but
    // not on a paused board: it returns only after the resume.
    std::atomic<bool> resumed{false};
    std::thread resumer([&resumed] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        resumed = true;
        tulx7sim::ResumeBoard(0);
    });
    EXPECT_EQ(session.Wait({first, second}, -1, TULX7_DR_WAIT_ALL, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_TRUE(resumed.load());
    resumer.join();
    EXPECT_EQ(answer.wait_status, 1);
    EXPECT_EQ(answer.event_occurred_count, 2);
    // Ids that name no event count as done; a poll of done events succeeds.
    EXPECT_EQ(session.Wait({0, TULX7_DR_NO_EVENT, first}, 0, TULX7_DR_WAIT_ALL, &answer),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.wait_status, 1);
}

TEST_F(DriverEventTest, BadWaitsAreRefused) {
    DriverSession session(0);
    Tulx7_dr_sync answer;
    EXPECT_EQ(session.Wait({TULX7_DR_NO_EVENT}, 0, 0), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(session.Wait({TULX7_DR_NO_EVENT}, 0, 3), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(session.Wait({}, 0), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(session.Wait({1, 2, 3, 4, 5, 6, 7, 8, 9}, 0), TULX7_DR_STATUS_ARG_BAD);
    EXPECT_EQ(session.Wait({0x70000000}, 0, TULX7_DR_WAIT_ALL, &answer), TULX7_DR_STATUS_INVALID_ID);
    EXPECT_EQ(answer.wait_status, 0);

    // Eight events is the most one wait names.
    const uint32_t buffer = session.Allocate(1, 16);
    std::vector<uint8_t> host(16, 3);
    uint32_t ids[8] = {};
    for (uint32_t& id : ids)
        ASSERT_EQ(session.Start(true, TransferRecord(buffer, Box(0, 15), host.data(), 1, 16), &id),
                  TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(session.Wait({ids[0], ids[1], ids[2], ids[3], ids[4], ids[5], ids[6], ids[7]}, -1,
                           TULX7_DR_WAIT_ALL, &answer),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.event_occurred_count, 8);
}

TEST_F(DriverEventTest, ADependencyWaitsForItsEventAndItsOwnQueueNotOtherBoards) {
    DriverSession board0(0);
    DriverSession board1(1);
    const uint32_t a = board0.Allocate(1, 16);
    const uint32_t b = board1.Allocate(1, 16);
    std::vector<uint8_t> host(16, 1);
    std::vector<uint8_t> out(16, 0), outOnPaused(16, 0);

    tulx7sim::PauseBoard(0);
    uint32_t blocked = 0;
    ASSERT_EQ(board0.Start(true, TransferRecord(a, Box(0, 15), host.data(), 1, 16), &blocked),
              TULX7_DR_STATUS_SUCCESS);
    uint32_t load = 0;
    ASSERT_EQ(board1.Start(true, TransferRecord(b, Box(0, 15), host.data(), 1, 16), &load),
              TULX7_DR_STATUS_SUCCESS);
    ASSERT_EQ(board1.Wait({load}), TULX7_DR_STATUS_SUCCESS) << "board 1 runs on its own";

    // Naming board 1's finished load does not wait for board 0's earlier,
    // still queued load.
    auto unload = TransferRecord(b, Box(0, 15), out.data(), 1, 16);
    unload.previous_load_event_id = load;
    uint32_t dependent = 0;
    ASSERT_EQ(board1.Start(false, unload, &dependent), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(board1.Wait({dependent}, 2000), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(out, host);

    // A job of the paused board that names the same finished event still
    // runs after the job queued before it there: the order within a queue
    // stays.
    auto behind = TransferRecord(a, Box(0, 15), outOnPaused.data(), 1, 16);
    behind.previous_load_event_id = load;
    uint32_t queued = 0;
    ASSERT_EQ(board0.Start(false, behind, &queued), TULX7_DR_STATUS_SUCCESS);
    Tulx7_dr_sync answer;
    EXPECT_EQ(board0.Wait({queued}, 30, TULX7_DR_WAIT_ALL, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.wait_status, 0);
    EXPECT_EQ(outOnPaused[0], 0);

    // A job that names an event still pending waits for it, on any board.
    auto later = TransferRecord(b, Box(0, 15), out.data(), 1, 16);
    later.previous_load_event_id = blocked;
    uint32_t waiting = 0;
    std::fill(out.begin(), out.end(), 0);
    ASSERT_EQ(board1.Start(false, later, &waiting), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(board1.Wait({waiting}, 30, TULX7_DR_WAIT_ALL, &answer), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(answer.wait_status, 0);
    EXPECT_EQ(out[0], 0);

    tulx7sim::ResumeBoard(0);
    // Board 0's connection waits on board 1's events as well.
    ASSERT_EQ(board0.Wait({dependent, blocked, queued, waiting}), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(outOnPaused, host);
    EXPECT_EQ(out, host);
    const auto log = tulx7sim::RequestLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[5].code, TULX7_DR_BUFFER_UNLOAD);
    EXPECT_EQ(log[5].dependencies.back(), load);
}

TEST_F(DriverEventTest, AbortsDependOnHowFarTheWorkGot) {
    DriverSession session(0);
    const uint32_t image = session.Allocate(4, 16, 16);
    const uint32_t plain = session.Allocate(1, 16);
    int32_t last = 0;
    auto abort = [&](uint32_t id) {
        Tulx7_dr_abort record;
        record.event_id = id;
        return SendDriverRequest(session.Handle(), TULX7_DR_ABORT, record, last);
    };

    // Running: it cannot be stopped.
    m_engine->Hold(true);
    auto render = RenderRecord(image);
    ASSERT_EQ(session.Send(TULX7_DR_RENDER, render), TULX7_DR_STATUS_SUCCESS);
    ASSERT_TRUE(m_engine->WaitUntilRunning());
    EXPECT_EQ(abort(render.ret_render_event_id), kULMErrUnimplemented);
    EXPECT_EQ(last, TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED);

    // Queued behind it: taken off the queue, completes as aborted, never touches host memory.
    std::vector<uint8_t> out(16, 0);
    uint32_t queued = 0;
    ASSERT_EQ(session.Start(false, TransferRecord(plain, Box(0, 15), out.data(), 1, 16), &queued),
              TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(abort(queued), kULMOK);
    EXPECT_EQ(session.Wait({queued}, 0), TULX7_DR_STATUS_ABORTED);

    m_engine->Hold(false);
    ASSERT_EQ(session.Wait({render.ret_render_event_id}), TULX7_DR_STATUS_SUCCESS);
    EXPECT_EQ(out, std::vector<uint8_t>(16, 0));
    EXPECT_EQ(abort(render.ret_render_event_id), kULMAlreadyComplete);
    EXPECT_EQ(session.Wait({render.ret_render_event_id}, 0), TULX7_DR_STATUS_SUCCESS) << "done before the abort";
    EXPECT_EQ(tulx7sim::GetStats().jobsFailed, 0u) << "an abort is no failure of the job";
    EXPECT_EQ(abort(0), kULMErrArgument);
    EXPECT_EQ(abort(0x7FFFFFFF), kULMErrArgument);
    EXPECT_EQ(tulx7sim::GetStats().jobsAborted, 1u);

    tulx7sim::SimConfig config;
    config.minor = 1;
    tulx7sim::ResetPlatform(config);
    DriverSession old(0);
    Tulx7_dr_abort record;
    record.event_id = 1;
    EXPECT_EQ(SendDriverRequest(old.Handle(), TULX7_DR_ABORT, record, last), kULMErrUnimplemented);
    EXPECT_EQ(last, TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED);
}

// Clients that wait without a time-out run the jobs they wait for when the
// board's worker has not taken them yet; beside the workers of the three
// queues and each other, every queue still runs one job at a time, in order.
class DriverEventsOnThreeQueues : public DriverEventTest {
protected:
    void SetUp() override {
        tulx7sim::ResetPlatform(testing::Settings([](auto& c) { c.mode = tulx7sim::QueueMode::kThreeQueues; }));
        tulx7sim::SetRenderEngine(m_engine);
    }
};

TEST_F(DriverEventsOnThreeQueues, WaitingClientsKeepEveryQueueInOrder) {
    constexpr int kClients = 4, kRounds = 40;
    std::vector<std::thread> clients;
    std::atomic<int> wrong{0};
    std::mutex records;  // RenderRecord fills the fixture's buffer record
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            DriverSession session(0);
            const uint32_t buffer = session.Allocate(1, 4096);
            std::vector<uint8_t> in(4096), out(4096);
            Tulx7_dr_all_buffers_data buffers;
            for (int round = 0; round < kRounds; ++round) {
                for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + round * 13 + c);
                // Load, then an unload after it, then a render after that.
                uint32_t load = 0, unload = 0;
                session.Start(true, TransferRecord(buffer, Box(0, 4095), in.data(), 1, 4096), &load);
                auto record = TransferRecord(buffer, Box(0, 4095), out.data(), 1, 4096);
                record.previous_load_event_id = load;
                session.Start(false, record, &unload);
                Tulx7_dr_render render;
                {
                    const std::lock_guard<std::mutex> hold(records);
                    render = RenderRecord(buffer, unload);
                    buffers = m_buffers;
                }
                render.pBufferData = reinterpret_cast<uintptr_t>(&buffers);
                session.Send(TULX7_DR_RENDER, render);
                // Alternately the render and the unload, which the render follows.
                const uint32_t awaited = round % 2 == 0 ? render.ret_render_event_id : unload;
                if (session.Wait({awaited}) != TULX7_DR_STATUS_SUCCESS || out != in) ++wrong;
                session.Wait({render.ret_render_event_id});
            }
        });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(wrong.load(), 0);
    const auto jobs = m_engine->Jobs();
    ASSERT_EQ(jobs.size(), size_t{kClients * kRounds});
    for (size_t i = 1; i < jobs.size(); ++i) EXPECT_LT(jobs[i - 1].eventId, jobs[i].eventId) << i;
}

}  // namespace
}  // namespace ulm3
