// Requests about queued work: render submission, waits, aborts and queue
// dumps.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "sim_event_requests.h"

namespace tulx7sim {

namespace {

const char* QueueName(int tag) {
    switch (tag) {
        case TULX7_DR_QUEUE_DMA_IN:
            return "DMA in";
        case TULX7_DR_QUEUE_DMA_OUT:
            return "DMA out";
        default:
            return "render";
    }
}

// The record's own limits: the buffer record and the render words given,
// and no more command words than the chip takes.
int32_t CheckRenderRecord(const Tulx7_dr_render& r) {
    if (r.pBufferData == 0 || r.p_render_load_cmds == 0 || r.render_count < 1 ||
        r.render_count > TULX7_DR_MAX_COMMAND_WORDS)
        return TULX7_DR_STATUS_ARG_BAD;
    if (r.state_count < 0 || r.state_count > TULX7_DR_MAX_COMMAND_WORDS ||
        (r.state_count > 0 && r.p_state_load_cmds == 0))
        return TULX7_DR_STATUS_ARG_BAD;
    return TULX7_DR_STATUS_SUCCESS;
}

// What a render's job holds on to: the buffers it names, so that a release
// while it is queued leaves them alive, and their storage.
struct RenderHolds {
    std::shared_ptr<Job> job = std::make_shared<Job>();
    std::shared_ptr<RenderJob> render = std::make_shared<RenderJob>();
    std::vector<std::shared_ptr<Storage>> storages;

    void Hold(const std::shared_ptr<SimBuffer>& inBuffer) {
        job->buffers.push_back(inBuffer);
        storages.push_back(inBuffer->storage);
    }
};

// The volume, image and depth arrays the record names, bound as the chip
// reads them.
int32_t BindArrays(SimState& state, int board, const Tulx7_dr_all_buffers_data& buffers, RenderHolds& holds,
                   RequestLogEntry& entry) {
    RenderJob& render = *holds.render;
    const std::pair<const Tulx7_dr_volimgdepth_entry*, BoundArray*> arrays[] = {
        {&buffers.volume, &render.volume}, {&buffers.image0, &render.image0},
        {&buffers.image1, &render.image1}, {&buffers.depth0, &render.depth0},
        {&buffers.depth1, &render.depth1}};
    for (const auto& [slot, bound] : arrays) {
        if (slot->buffer_id == TULX7_DR_NO_BUFFER) continue;
        const std::shared_ptr<SimBuffer> buffer = state.FindBuffer(board, slot->buffer_id);
        if (!buffer) {
            entry.bufferId = slot->buffer_id;
            return TULX7_DR_STATUS_INVALID_ID;
        }
        const std::shared_ptr<Storage>& storage = buffer->storage;
        bound->bound = true;
        bound->bufferId = buffer->id;
        bound->dimension = storage->shape.dimension;
        bound->elementBytes = storage->shape.elementBytes;
        const Tulx7_dr_buffer_element* corners[3] = {&slot->addr.subbuffer_min,
                                                     &slot->addr.subbuffer_max,
                                                     &slot->addr.offset_modulus};
        int32_t* targets[3] = {bound->rangeMin, bound->rangeMax, bound->offsetModulus};
        for (int c = 0; c < 3; ++c) {
            targets[c][0] = corners[c]->x;
            targets[c][1] = corners[c]->y;
            targets[c][2] = corners[c]->z;
        }
        std::copy(storage->shape.size, storage->shape.size + 3, bound->size);
        bound->wrap = slot->addr.wrap == 1;
        bound->data = storage->bytes.data();
        bound->byteCount = storage->bytes.size();
        holds.Hold(buffer);
    }
    return TULX7_DR_STATUS_SUCCESS;
}

// The eight tables the record names: classification, light maps, the
// gradient-magnitude and alpha-correction tables.
int32_t BindTables(SimState& state, int board, const Tulx7_dr_all_buffers_data& buffers, RenderHolds& holds,
                   RequestLogEntry& entry) {
    const Tulx7_dr_lut_cache* tables[8] = {
        &buffers.classification_0,     &buffers.classification_1, &buffers.classification_2,
        &buffers.classification_3,     &buffers.specular_reflectance,
        &buffers.diffuse_reflectance,  &buffers.gradient_magnitude, &buffers.alpha_correction};
    for (int t = 0; t < 8; ++t) {
        if (tables[t]->buffer_id == TULX7_DR_NO_BUFFER) continue;
        const std::shared_ptr<SimBuffer> buffer = state.FindBuffer(board, tables[t]->buffer_id);
        if (!buffer) {
            entry.bufferId = tables[t]->buffer_id;
            return TULX7_DR_STATUS_INVALID_ID;
        }
        const std::shared_ptr<Storage>& storage = buffer->storage;
        if (uint64_t{tables[t]->valid_entries} * 8 > storage->bytes.size())
            return TULX7_DR_STATUS_ARG_BAD;
        BoundTable& bound = holds.render->tables[t];
        bound.bound = true;
        bound.bufferId = buffer->id;
        bound.sequenceNo = tables[t]->sequence_no;
        bound.validEntries = tables[t]->valid_entries;
        bound.data = storage->bytes.data();
        bound.byteCount = storage->bytes.size();
        holds.Hold(buffer);
    }
    return TULX7_DR_STATUS_SUCCESS;
}

// The command words, copied: they are the caller's to reuse as soon as the
// request returns.
void CopyCommandWords(const Tulx7_dr_render& r, RenderJob& render) {
    const auto* renderWords =
        reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(r.p_render_load_cmds));
    render.renderWords.assign(renderWords, renderWords + r.render_count);
    if (r.state_count > 0) {
        const auto* stateWords =
            reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(r.p_state_load_cmds));
        render.stateWords.assign(stateWords, stateWords + r.state_count);
    }
}

}  // namespace

int32_t SimEventRequests::Render(SimClient& client, Tulx7_dr_render& r, RequestLogEntry& entry) {
    entry.dependencies = {r.lut_load_event_id, r.load_event_id, r.unload_event_id,
                          r.prev_render_event_id};
    if (const int32_t refused = CheckRenderRecord(r); refused != TULX7_DR_STATUS_SUCCESS) return refused;

    // The record is the caller's to reuse as soon as the request returns.
    Tulx7_dr_all_buffers_data buffers;
    std::memcpy(&buffers, reinterpret_cast<const void*>(static_cast<uintptr_t>(r.pBufferData)),
                sizeof buffers);
    RenderHolds holds;
    int32_t status = BindArrays(m_state, client.board, buffers, holds, entry);
    if (status == TULX7_DR_STATUS_SUCCESS) status = BindTables(m_state, client.board, buffers, holds, entry);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    for (uint32_t id : entry.dependencies)
        if (!m_state.events.Known(id)) return TULX7_DR_STATUS_INVALID_ID;

    const std::shared_ptr<RenderJob>& render = holds.render;
    CopyCommandWords(r, *render);
    render->board = client.board;
    render->writeMask = r.image_depth_dest;

    const std::shared_ptr<Job>& job = holds.job;
    job->code = TULX7_DR_RENDER;
    job->board = client.board;
    job->queueTag = static_cast<int>(TULX7_DR_QUEUE_RENDER);
    job->client = client.id;
    job->dependencies = entry.dependencies;
    RegisterFile* registers = &m_state.boards[client.board]->registers;
    Job* self = job.get();
    job->run = [render, storages = holds.storages, engine = m_state.engine, registers, self](uint64_t&) {
        return engine->Execute(*render, *registers, self->diagnostic);
    };
    status = m_scheduler.Enqueue(job, 1);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    render->eventId = job->ids[0];
    r.ret_render_event_id = job->ids[0];
    entry.events = job->ids;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimEventRequests::Sync(SimLock& lock, Tulx7_dr_sync& r, RequestLogEntry& entry) {
    if (r.selection != TULX7_DR_WAIT_ALL && r.selection != TULX7_DR_WAIT_ANY)
        return TULX7_DR_STATUS_ARG_BAD;
    if (r.event_count < 1 || r.event_count > TULX7_DR_MAX_SYNC_EVENTS)
        return TULX7_DR_STATUS_ARG_BAD;
    const int count = r.event_count;
    uint32_t ids[TULX7_DR_MAX_SYNC_EVENTS];
    for (int i = 0; i < count; ++i) {
        ids[i] = r.event_list[i].event_id;
        entry.dependencies.push_back(ids[i]);
    }
    for (int i = 0; i < count; ++i)
        if (!m_state.events.Known(ids[i])) return TULX7_DR_STATUS_INVALID_ID;

    const bool all = r.selection == TULX7_DR_WAIT_ALL;
    auto satisfied = [&] {
        const int done = static_cast<int>(
            std::count_if(ids, ids + count, [this](uint32_t id) { return m_state.events.Complete(id); }));
        return all ? done == count : done > 0;
    };
    // A wait without a time-out runs the jobs it waits for where it can: the
    // board's worker need not wake for them, and the data moves on the
    // caller's thread.
    SimState::EventWaiter waiter{ids, count, r.timeout < 0, {}};
    m_state.eventWaiters.push_back(&waiter);
    bool met = true;
    bool helped = false;
    if (r.timeout < 0) {
        while (!satisfied()) {
            if (m_scheduler.HelpWith(lock, ids, count))
                helped = true;
            else
                waiter.wake.wait(lock);
        }
    } else {
        met = waiter.wake.wait_for(lock, std::chrono::milliseconds(r.timeout), satisfied);
    }
    m_state.eventWaiters.erase(std::find(m_state.eventWaiters.begin(), m_state.eventWaiters.end(), &waiter));
    // What the waiter left queued is the workers' again.
    if (helped) m_state.WakeQueuedWorkers();

    int32_t status = TULX7_DR_STATUS_SUCCESS;
    int occurred = 0;
    for (int i = 0; i < count; ++i) {
        const bool done = m_state.events.Complete(ids[i]);
        r.event_list[i].event_occurred = done ? 1 : 0;
        if (!done) continue;
        ++occurred;
        const int32_t failure = m_state.events.FailureOf(ids[i]);
        if (failure != TULX7_DR_STATUS_SUCCESS && status == TULX7_DR_STATUS_SUCCESS) status = failure;
    }
    r.event_occurred_count = occurred;
    r.wait_status = met ? 1 : 0;
    return status;
}

int32_t SimEventRequests::Abort(Tulx7_dr_abort& r, RequestLogEntry& entry) {
    entry.dependencies = {r.event_id};
    if (!m_state.SupportsAbort()) return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    if (r.event_id == 0 || r.event_id == TULX7_DR_NO_EVENT || r.event_id > m_state.events.LastIssued())
        return TULX7_DR_STATUS_INVALID_ID;
    const std::shared_ptr<Job> job = m_state.events.JobOf(r.event_id);
    if (!job) return TULX7_DR_STATUS_ALREADY_COMPLETE;
    if (job->state != Job::State::kQueued) return TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED;
    // Taken off its queue before it touched anything; whoever waits on it
    // sees it complete, and that it was aborted: its work was never done.
    m_scheduler.RemoveQueued(job);
    m_scheduler.Finish(*job, TULX7_DR_STATUS_ABORTED, true);
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimEventRequests::DumpQueue(SimClient& client, Tulx7_dr_debug_data& r) {
    if (!m_state.SupportsDump()) return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    if (r.count != 12 || r.data_array[0] > TULX7_DR_QUEUE_RENDER) return TULX7_DR_STATUS_ARG_BAD;
    const int tag = static_cast<int>(r.data_array[0]);
    std::vector<std::shared_ptr<Job>> jobs;
    for (const auto& [id, job] : m_state.events.OpenIds())
        if (job->board == client.board && job->queueTag == tag && job->state == Job::State::kRunning &&
            job->ids.front() == id)
            jobs.push_back(job);
    for (const auto& queue : m_state.boards[client.board]->queues)
        for (const auto& job : queue)
            if (job->queueTag == tag) jobs.push_back(job);
    m_state.log.Log("board %d, %s queue: %zu job(s)%s", client.board, QueueName(tag), jobs.size(),
        m_state.boards[client.board]->paused ? ", board paused" : "");
    for (const auto& job : jobs) {
        std::string waits;
        for (uint32_t id : job->dependencies) {
            if (id == 0 || id == TULX7_DR_NO_EVENT) continue;
            waits += ' ';
            waits += std::to_string(id);
        }
        m_state.log.Log("  event %u, request 0x%08X, %s, waits for:%s", job->ids.front(), job->code,
            job->state == Job::State::kRunning ? "running" : "queued",
            waits.empty() ? " nothing" : waits.c_str());
    }
    return TULX7_DR_STATUS_SUCCESS;
}

}  // namespace tulx7sim
