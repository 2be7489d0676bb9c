// Records full of hostile values never crash the driver or make it touch
// memory it was not given: every request is either refused or moves data
// inside the buffers it names (the sanitizers watch the rest).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/sim_session.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

namespace ulm3 {
namespace {

class DriverRobustnessTest : public testing::SimPlatformTest {};

// Mostly plausible values, each one hostile now and then, so that records
// get past some checks and trip over later ones.
class HostileValues {
public:
    int32_t Hostile() {
        static constexpr int32_t kEdges[] = {-2, -1, 0, 4095, 4096, 32767, 32768, 65536,
                                             INT32_MAX, INT32_MIN};
        return kEdges[m_random() % std::size(kEdges)];
    }
    int32_t Small(int32_t limit) {
        return m_random() % 6 == 0 ? Hostile() : static_cast<int32_t>(m_random() % limit);
    }
    // A bound a little past `from` (or anywhere, now and then).
    int32_t Past(int32_t from, int32_t limit) {
        const int64_t bound = int64_t{from} + Small(limit);
        return static_cast<int32_t>(std::clamp<int64_t>(bound, INT32_MIN, INT32_MAX));
    }
    Tulx7_dr_buffer_element Element(int32_t limit) { return {Small(limit), Small(limit), Small(limit)}; }
    Tulx7_dr_array_addressing Addressing() {
        Tulx7_dr_array_addressing a;
        a.subbuffer_min = Element(24);
        a.subbuffer_max = {Past(a.subbuffer_min.x, 24), Past(a.subbuffer_min.y, 8),
                           Past(a.subbuffer_min.z, 4)};
        a.wrap = Small(2);
        static constexpr int32_t kModuli[] = {-1, 0, 1, 3, 7, 15, 31};
        a.offset_modulus = {kModuli[m_random() % 7], kModuli[m_random() % 7], kModuli[m_random() % 7]};
        if (a.wrap == 0) a.offset_modulus = Element(3);
        return a;
    }
    uint32_t Pick(const std::vector<uint32_t>& ids) {
        return m_random() % 8 == 0 ? static_cast<uint32_t>(Hostile()) : ids[m_random() % ids.size()];
    }

private:
    std::mt19937 m_random{20240611};
};

TEST_F(DriverRobustnessTest, HostileRecordsAreRefusedOrStayInBounds) {
    testing::DriverSession session(0);
    testing::DriverSession peer(1);
    std::vector<uint32_t> buffers = {session.Allocate(1, 300), session.Allocate(2, 40, 30),
                                     session.Allocate(4, 16, 8, 8), session.Allocate(8, 64, 4)};
    const std::vector<uint32_t> peerBuffers = {peer.Allocate(1, 300), peer.Allocate(2, 40, 30),
                                               peer.Allocate(4, 16, 8, 8), peer.Allocate(8, 64, 4)};
    Tulx7_dr_host_buffer_alloc host;
    host.user_size = 64 * 1024;
    ASSERT_EQ(session.Send(TULX7_DR_HOST_BUFFER_ALLOC, host), TULX7_DR_STATUS_SUCCESS);
    std::vector<uint64_t> words(TULX7_DR_MAX_COMMAND_WORDS, 0);
    HostileValues values;
    int accepted = 0;

    for (int i = 0; i < 3000; ++i) {
        Tulx7_dr_buffer_load transfer;
        transfer.buffer_id = values.Pick(buffers);
        transfer.addr = values.Addressing();
        transfer.render_event_id = TULX7_DR_NO_EVENT;
        transfer.previous_load_event_id = TULX7_DR_NO_EVENT;
        transfer.host_buffer_id = host.host_buffer_id;
        transfer.host_buffer_address = host.user_address + static_cast<uint32_t>(values.Small(4096));
        transfer.host_descriptor.element_size = values.Small(2);
        transfer.host_descriptor.buffer_size = {values.Past(24, 40), values.Past(8, 24), values.Past(4, 4)};
        transfer.element_alignment = values.Small(2);
        transfer.host_subbuffer_min = values.Element(4);
        if (session.Start(i % 2 == 0, transfer) == TULX7_DR_STATUS_SUCCESS) ++accepted;

        Tulx7_dr_buffer_map map;
        map.buffer_id = values.Pick(buffers);
        map.access_share = values.Small(8);
        map.addr = values.Addressing();
        map.host_element_size = values.Small(8);
        map.element_alignment = values.Small(8);
        if (session.Send(TULX7_DR_BUFFER_MAP, map) == TULX7_DR_STATUS_SUCCESS) {
            ++accepted;
            Tulx7_dr_buffer_unmap unmap;
            unmap.map_id = map.map_id;
            unmap.user_address = map.user_address;
            unmap.user_size = map.user_size;
            EXPECT_EQ(session.Send(TULX7_DR_BUFFER_UNMAP, unmap), TULX7_DR_STATUS_SUCCESS);
        }

        Tulx7_dr_buffer_board2board copy;
        const size_t pair = static_cast<size_t>(i) % buffers.size();
        copy.src_buffer_id = i % 2 == 0 ? buffers[pair] : values.Pick(buffers);
        copy.src_addr = values.Addressing();
        copy.src_render_event_id = copy.src_load_event_id = TULX7_DR_NO_EVENT;
        copy.dest_buffer_id = i % 2 == 0 ? peerBuffers[pair] : values.Pick(peerBuffers);
        copy.dest_addr = values.Addressing();
        copy.dest_render_event_id = copy.dest_unload_event_id = TULX7_DR_NO_EVENT;
        if (session.Send(TULX7_DR_BUFFER_BOARD2BOARD, copy) == TULX7_DR_STATUS_SUCCESS) ++accepted;

        Tulx7_dr_buffer_attach resize;
        resize.buffer_id = values.Pick(buffers);
        resize.permission_share = values.Small(16);
        resize.buffer_descriptor = {values.Small(3), values.Small(8), {values.Small(80), values.Small(40), values.Small(10)}};
        session.Send(i % 5 == 0 ? TULX7_DR_BUFFER_ALLOCATE : TULX7_DR_BUFFER_SET_PERMISSION, resize);

        Tulx7_dr_all_buffers_data record;
        record.volume.buffer_id = values.Pick(buffers);
        record.image0.buffer_id = values.Pick(buffers);
        record.image0.addr = values.Addressing();
        record.image1.buffer_id = record.depth0.buffer_id = record.depth1.buffer_id = TULX7_DR_NO_BUFFER;
        for (auto* table : {&record.classification_0, &record.classification_1, &record.classification_2,
                            &record.classification_3, &record.specular_reflectance,
                            &record.diffuse_reflectance, &record.gradient_magnitude, &record.alpha_correction})
            *table = {i % 4 == 0 ? values.Pick(buffers) : TULX7_DR_NO_BUFFER, 0,
                      static_cast<uint16_t>(values.Small(128)), 0};
        Tulx7_dr_render render;
        render.pBufferData = reinterpret_cast<uintptr_t>(&record);
        render.p_render_load_cmds = reinterpret_cast<uintptr_t>(words.data());
        render.render_count = values.Small(100);
        render.p_state_load_cmds = i % 3 == 0 ? 0 : reinterpret_cast<uintptr_t>(words.data());
        render.state_count = values.Small(100);
        render.lut_load_event_id = render.load_event_id = render.unload_event_id = TULX7_DR_NO_EVENT;
        render.prev_render_event_id = static_cast<uint32_t>(values.Small(2));
        if (session.Send(TULX7_DR_RENDER, render) == TULX7_DR_STATUS_SUCCESS) ++accepted;
    }
    EXPECT_TRUE(tulx7sim::WaitForIdle(30000));
    EXPECT_GT(accepted, 0) << "some hostile records are still legal ones";
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    EXPECT_EQ(stats.jobsFailed, 0u);
    EXPECT_EQ(stats.hostBuffersFreedInUse, 0);
}

}  // namespace
}  // namespace ulm3
