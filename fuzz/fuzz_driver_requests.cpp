// Feeds sequences of arbitrary requests to the simulated boards' driver
// through tulx7_dr_ioctl, on a fresh platform and client per input. Any
// crash, sanitizer report or hang is a finding; so is a client that leaves
// a buffer, host buffer, mapping or job alive once it is closed.
//
// Input: one byte of set-up, then requests, each one byte choosing the code
// (or four more bytes giving any code) followed by the record's bytes.
// Small id values (1..255) name the ids the driver handed out earlier in the
// same input, so that sequences reach past the id checks. Pointer fields are
// pointed at the harness's own memory: the driver trusts a caller's plain
// addresses as a kernel driver trusts its own process's, so plain host
// memory is swapped for a driver host buffer, whose bounds the driver checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "board/driver_access.h"
#include "tulx7/driver_requests.h"
#include "tulx7sim/test_api.h"

using namespace ulm3;

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint32_t kCodes[] = {
    TULX7_DR_GET_CONFIGURATION, TULX7_DR_RENDER,          TULX7_DR_SYNC,
    TULX7_DR_ABORT,             TULX7_DR_HOST_BUFFER_ALLOC, TULX7_DR_HOST_BUFFER_FREE,
    TULX7_DR_GET_BOARD_PEERS,   TULX7_DR_BUFFER_ALLOCATE, TULX7_DR_BUFFER_ATTACH,
    TULX7_DR_BUFFER_SET_PERMISSION, TULX7_DR_BUFFER_DETACH, TULX7_DR_BUFFER_LOAD,
    TULX7_DR_BUFFER_UNLOAD,     TULX7_DR_BUFFER_MAP,      TULX7_DR_BUFFER_UNMAP,
    TULX7_DR_BUFFER_BOARD2BOARD, TULX7_DR_DEBUG_CQUEUE_DUMP,
};

// The largest record; any code gets at least this many bytes to read.
constexpr size_t kRecordBytes =
    std::max({sizeof(Tulx7_dr_render), sizeof(Tulx7_dr_sync), sizeof(Tulx7_dr_buffer_load),
              sizeof(Tulx7_dr_buffer_board2board), sizeof(Tulx7_dr_buffer_map),
              sizeof(Tulx7_dr_board_peers), sizeof(Tulx7_dr_configuration)});

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    // Copies up to `bytes` input bytes; the rest of `out` is left as it is.
    void Fill(void* out, size_t bytes) {
        const size_t n = std::min(bytes, m_size - std::min(m_at, m_size));
        if (n > 0) std::memcpy(out, m_data + m_at, n);
        m_at += n;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// The ids the driver handed out during one input.
struct Issued {
    std::vector<uint32_t> buffers, events, maps;
    std::vector<Tulx7_dr_buffer_unmap> mappings;
    std::vector<Tulx7_dr_host_buffer_alloc> hosts;

    static uint32_t Pick(uint32_t value, const std::vector<uint32_t>& ids) {
        return value >= 1 && value <= 255 && !ids.empty() ? ids[(value - 1) % ids.size()] : value;
    }
    uint32_t Buffer(uint32_t v) const { return Pick(v, buffers); }
    uint32_t Event(uint32_t v) const { return Pick(v, events); }
    const Tulx7_dr_host_buffer_alloc* Host(int32_t v) const {
        return v >= 1 && v <= 255 && !hosts.empty() ? &hosts[(v - 1) % hosts.size()] : nullptr;
    }
};

void NameBuffers(Tulx7_dr_all_buffers_data& b, const Issued& issued) {
    for (auto* entry : {&b.volume, &b.image0, &b.image1, &b.depth0, &b.depth1})
        entry->buffer_id = issued.Buffer(entry->buffer_id);
    for (auto* table : {&b.classification_0, &b.classification_1, &b.classification_2,
                        &b.classification_3, &b.specular_reflectance, &b.diffuse_reflectance,
                        &b.gradient_magnitude, &b.alpha_correction})
        table->buffer_id = issued.Buffer(table->buffer_id);
}

// Host memory of a transfer: a driver host buffer, never plain memory.
void PlaceHost(Tulx7_dr_buffer_load& r, const Issued& issued) {
    const Tulx7_dr_host_buffer_alloc* host = issued.Host(r.host_buffer_id);
    if (host == nullptr && r.host_buffer_id == TULX7_DR_PLAIN_HOST_MEMORY && !issued.hosts.empty())
        host = &issued.hosts.front();
    if (host == nullptr) {
        if (r.host_buffer_id == TULX7_DR_PLAIN_HOST_MEMORY) r.host_buffer_id = 0x7FFF0000;
        return;
    }
    r.host_buffer_id = host->host_buffer_id;
    r.host_buffer_address = host->user_address + r.host_buffer_address % (host->user_size + 64);
}

// A map may reach past the storage (its copy is clipped), up to a gigabyte
// of copy: legal, but minutes of work under the sanitizers. Boxes of at most
// 160 elements a side keep each input quick.
void KeepMapBoxSmall(Tulx7_dr_array_addressing& a) {
    constexpr int64_t kSide = 160;
    int32_t* const lows[] = {&a.subbuffer_min.x, &a.subbuffer_min.y, &a.subbuffer_min.z};
    int32_t* const highs[] = {&a.subbuffer_max.x, &a.subbuffer_max.y, &a.subbuffer_max.z};
    for (int axis = 0; axis < 3; ++axis) {
        if (int64_t{*highs[axis]} - *lows[axis] >= kSide)
            *highs[axis] = static_cast<int32_t>(*lows[axis] + kSide - 1);
    }
}

struct Scratch {
    Tulx7_dr_all_buffers_data buffers;
    std::vector<uint64_t> words = std::vector<uint64_t>(TULX7_DR_MAX_COMMAND_WORDS);
    std::vector<uint64_t> state = std::vector<uint64_t>(TULX7_DR_MAX_COMMAND_WORDS);
};

void Request(Tulx7_dr_handle handle, uint32_t code, Input& in, Issued& issued, Scratch& scratch) {
    alignas(8) uint8_t bytes[kRecordBytes] = {};
    in.Fill(bytes, kRecordBytes);
    switch (code) {
        case TULX7_DR_RENDER: {
            auto& r = *reinterpret_cast<Tulx7_dr_render*>(bytes);
            r.lut_load_event_id = issued.Event(r.lut_load_event_id);
            r.load_event_id = issued.Event(r.load_event_id);
            r.unload_event_id = issued.Event(r.unload_event_id);
            r.prev_render_event_id = issued.Event(r.prev_render_event_id);
            in.Fill(&scratch.buffers, sizeof scratch.buffers);
            NameBuffers(scratch.buffers, issued);
            in.Fill(scratch.words.data(), 64 * sizeof(uint64_t));
            // A null pointer stays null; any other points at the harness's memory.
            if (r.pBufferData != 0) r.pBufferData = reinterpret_cast<uintptr_t>(&scratch.buffers);
            if (r.p_render_load_cmds != 0) r.p_render_load_cmds = reinterpret_cast<uintptr_t>(scratch.words.data());
            if (r.p_state_load_cmds != 0) r.p_state_load_cmds = reinterpret_cast<uintptr_t>(scratch.state.data());
            break;
        }
        case TULX7_DR_SYNC: {
            auto& r = *reinterpret_cast<Tulx7_dr_sync*>(bytes);
            for (auto& e : r.event_list) e.event_id = issued.Event(e.event_id);
            // A wait without limit stays one: an event that never completes is a finding.
            if (r.timeout > 20) r.timeout = 20;
            break;
        }
        case TULX7_DR_ABORT: {
            auto& r = *reinterpret_cast<Tulx7_dr_abort*>(bytes);
            r.event_id = issued.Event(r.event_id);
            break;
        }
        case TULX7_DR_HOST_BUFFER_FREE: {
            auto& r = *reinterpret_cast<Tulx7_dr_host_buffer_free*>(bytes);
            if (const Tulx7_dr_host_buffer_alloc* host = issued.Host(r.host_buffer_id)) {
                r.host_buffer_id = host->host_buffer_id;
                if (r.user_address < 256) r.user_address = host->user_address;
                if (r.user_size < 256) r.user_size = host->user_size;
            }
            break;
        }
        case TULX7_DR_BUFFER_ATTACH:
        case TULX7_DR_BUFFER_SET_PERMISSION:
        case TULX7_DR_BUFFER_DETACH: {
            auto& r = *reinterpret_cast<Tulx7_dr_buffer_attach*>(bytes);
            r.buffer_id = issued.Buffer(r.buffer_id);
            break;
        }
        case TULX7_DR_BUFFER_LOAD:
        case TULX7_DR_BUFFER_UNLOAD: {
            auto& r = *reinterpret_cast<Tulx7_dr_buffer_load*>(bytes);
            r.buffer_id = issued.Buffer(r.buffer_id);
            r.render_event_id = issued.Event(r.render_event_id);
            r.previous_load_event_id = issued.Event(r.previous_load_event_id);
            PlaceHost(r, issued);
            break;
        }
        case TULX7_DR_BUFFER_MAP: {
            auto& r = *reinterpret_cast<Tulx7_dr_buffer_map*>(bytes);
            r.buffer_id = issued.Buffer(r.buffer_id);
            KeepMapBoxSmall(r.addr);
            break;
        }
        case TULX7_DR_BUFFER_UNMAP: {
            auto& r = *reinterpret_cast<Tulx7_dr_buffer_unmap*>(bytes);
            if (r.map_id >= 1 && r.map_id <= 255 && !issued.mappings.empty()) {
                const Tulx7_dr_buffer_unmap& m = issued.mappings[(r.map_id - 1) % issued.mappings.size()];
                r.map_id = m.map_id;
                if (r.user_address < 256) r.user_address = m.user_address;
                if (r.user_size < 256) r.user_size = m.user_size;
            }
            break;
        }
        case TULX7_DR_BUFFER_BOARD2BOARD: {
            auto& r = *reinterpret_cast<Tulx7_dr_buffer_board2board*>(bytes);
            r.src_buffer_id = issued.Buffer(r.src_buffer_id);
            r.dest_buffer_id = issued.Buffer(r.dest_buffer_id);
            r.src_render_event_id = issued.Event(r.src_render_event_id);
            r.src_load_event_id = issued.Event(r.src_load_event_id);
            r.dest_render_event_id = issued.Event(r.dest_render_event_id);
            r.dest_unload_event_id = issued.Event(r.dest_unload_event_id);
            break;
        }
        default:
            break;
    }

    tulx7_dr_ioctl(handle, code, bytes);
    int32_t status;
    std::memcpy(&status, bytes, sizeof status);
    if (status != TULX7_DR_STATUS_SUCCESS) return;

    switch (code) {
        case TULX7_DR_RENDER:
            issued.events.push_back(reinterpret_cast<Tulx7_dr_render*>(bytes)->ret_render_event_id);
            break;
        case TULX7_DR_HOST_BUFFER_ALLOC: {
            const auto& r = *reinterpret_cast<Tulx7_dr_host_buffer_alloc*>(bytes);
            // Every granted byte is the caller's to write.
            if (r.user_size > 0) std::memset(reinterpret_cast<void*>(r.user_address), 0x5A, r.user_size);
            issued.hosts.push_back(r);
            break;
        }
        case TULX7_DR_BUFFER_ALLOCATE:
            issued.buffers.push_back(reinterpret_cast<Tulx7_dr_buffer_attach*>(bytes)->buffer_id);
            break;
        case TULX7_DR_BUFFER_LOAD:
        case TULX7_DR_BUFFER_UNLOAD:
            issued.events.push_back(reinterpret_cast<Tulx7_dr_buffer_load*>(bytes)->ret_load_event_id);
            break;
        case TULX7_DR_BUFFER_MAP: {
            const auto& r = *reinterpret_cast<Tulx7_dr_buffer_map*>(bytes);
            // So is every mapped byte.
            if (r.user_size > 0) std::memset(reinterpret_cast<void*>(r.user_address), 0x3C, r.user_size);
            issued.mappings.push_back({0, r.map_id, r.user_address, r.user_size});
            break;
        }
        case TULX7_DR_BUFFER_BOARD2BOARD: {
            const auto& r = *reinterpret_cast<Tulx7_dr_buffer_board2board*>(bytes);
            issued.events.push_back(r.src_ret_unload_event_id);
            issued.events.push_back(r.dest_ret_load_event_id);
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t setup = in.Byte();
    tulx7sim::SimConfig config;
    config.memoryMB = 4;  // whole-board allocations stay cheap
    config.mode = setup & 1 ? tulx7sim::QueueMode::kThreeQueues : tulx7sim::QueueMode::kSerial;
    config.minor = 1 + (setup >> 1) % 3;
    tulx7sim::ResetPlatform(config);
    tulx7sim::SetHostBufferGrantLimit(1 << 20);

    char name[32];
    std::snprintf(name, sizeof name, "%s%02d", kTulx7DeviceNamePrefix, (setup >> 3) & 1);
    Tulx7_dr_handle handle;
    int status = -1;
    tulx7_dr_open(name, &handle, &status);
    Check(status == kTulx7OpenSuccess);

    Issued issued;
    Scratch scratch;
    for (int n = 0; n < 64 && !in.Empty(); ++n) {
        const uint8_t choice = in.Byte();
        uint32_t code = kCodes[choice % std::size(kCodes)];
        if (choice >= 0xF0) in.Fill(&code, sizeof code);
        Request(handle, code, in, issued, scratch);
    }

    tulx7_dr_close(handle);
    Check(tulx7sim::WaitForIdle(10000));
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    Check(stats.openClients == 0 && stats.openConnections == 0 && stats.liveRegistryObjects == 0);
    Check(stats.liveBuffers == 0 && stats.liveHostBuffers == 0 && stats.liveMappings == 0);
    Check(stats.pendingJobs == 0 && stats.hostBuffersFreedInUse == 0);
    return 0;
}
