// Requests that move data: loads and unloads between host memory and a
// board buffer, copies between peer boards, and mappings.
#include <algorithm>
#include <array>

#include "sim_transfer_requests.h"

namespace tulx7sim {

namespace {

constexpr uint64_t kMaxMappingBytes = uint64_t{1} << 30;
constexpr size_t kMaxMappingsPerClient = 64;

void RecordBox(RequestLogEntry& entry, const BoardBox& box) {
    std::copy(box.min, box.min + 3, entry.boxMin);
    std::copy(box.max, box.max + 3, entry.boxMax);
}

// The field a request names: 1..8 host bytes at a byte position inside the
// board element.
bool FieldFits(int32_t hostElementSize, int32_t alignment, const StorageShape& shape) {
    return hostElementSize >= 0 && hostElementSize < 8 && alignment >= 0 &&
           int64_t{alignment} + hostElementSize + 1 <= shape.elementBytes;
}

}  // namespace

int32_t SimTransferRequests::Transfer(SimClient& client, Tulx7_dr_buffer_load& r, bool load,
                            RequestLogEntry& entry) {
    entry.bufferId = r.buffer_id;
    entry.dependencies = {r.render_event_id, r.previous_load_event_id};
    entry.hostAddress = r.host_buffer_address;
    const std::shared_ptr<SimBuffer> buffer = m_state.FindBuffer(client.board, r.buffer_id);
    if (!buffer) return TULX7_DR_STATUS_INVALID_ID;
    const std::shared_ptr<Storage> storage = buffer->storage;
    const StorageShape& shape = storage->shape;
    if (!FieldFits(r.host_descriptor.element_size, r.element_alignment, shape))
        return TULX7_DR_STATUS_ARG_BAD;
    BoardBox box;
    int32_t status = ReadBoardBox(r.addr, shape, box);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    RecordBox(entry, box);
    if (!BoxInsideStorage(box, shape)) return TULX7_DR_STATUS_HW_RANGE_BAD;

    HostLayout host;
    host.base = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.host_buffer_address));
    host.elementBytes = r.host_descriptor.element_size + 1;
    host.row = r.host_descriptor.buffer_size.width;
    host.slice = r.host_descriptor.buffer_size.height;
    const int64_t slices = r.host_descriptor.buffer_size.depth;
    host.first[0] = r.host_subbuffer_min.x;
    host.first[1] = r.host_subbuffer_min.y;
    host.first[2] = r.host_subbuffer_min.z;
    if (host.base == nullptr || host.row < 1 || host.slice < 1 || slices < 1)
        return TULX7_DR_STATUS_HOST_RANGE_BAD;
    if (host.first[0] < 0 || host.first[1] < 0 || host.first[2] < 0 ||
        host.first[0] + box.Extent(0) > host.row || host.first[1] + box.Extent(1) > host.slice ||
        host.first[2] + box.Extent(2) > slices)
        return TULX7_DR_STATUS_HOST_RANGE_BAD;
    const uint64_t bytes = box.ElementCount() * static_cast<uint64_t>(host.elementBytes);
    entry.hostBytes = bytes;
    if (bytes > TULX7_DR_MAX_TRANSFER_BYTES) return TULX7_DR_STATUS_ARG_BAD;
    uint64_t first = 0;
    uint64_t end = 0;
    if (!HostSpan(box, host, first, end) || r.host_buffer_address > UINT64_MAX - end)
        return TULX7_DR_STATUS_HOST_RANGE_BAD;

    std::shared_ptr<HostBlock> block;
    if (r.host_buffer_id != TULX7_DR_PLAIN_HOST_MEMORY) {
        block = m_state.clients.HostBuffer(r.host_buffer_id);
        if (!block || block->client != client.id) return TULX7_DR_STATUS_INVALID_ID;
        const uint64_t blockStart = block->memory.Address();
        if (r.host_buffer_address < blockStart ||
            r.host_buffer_address + end > blockStart + block->memory.Bytes())
            return TULX7_DR_STATUS_HOST_RANGE_BAD;
    }
    if (!m_state.events.Known(r.render_event_id) || !m_state.events.Known(r.previous_load_event_id))
        return TULX7_DR_STATUS_INVALID_ID;

    auto job = std::make_shared<Job>();
    job->code = load ? TULX7_DR_BUFFER_LOAD : TULX7_DR_BUFFER_UNLOAD;
    job->board = client.board;
    job->queueTag = static_cast<int>(load ? TULX7_DR_QUEUE_DMA_IN : TULX7_DR_QUEUE_DMA_OUT);
    job->client = client.id;
    job->dependencies = {r.render_event_id, r.previous_load_event_id};
    job->buffers.push_back(buffer);
    if (block) job->hostBlocks.push_back(block);
    const int32_t alignment = r.element_alignment;
    const MoveDirection direction =
        load ? MoveDirection::kHostToBoard : MoveDirection::kBoardToHost;
    // Host memory is touched only here, when the job runs.
    job->run = [storage, box, alignment, host, direction](uint64_t& moved) {
        moved = MoveElements(box, storage->shape, storage->bytes.data(), alignment, host,
                             direction, false);
        return int32_t{TULX7_DR_STATUS_SUCCESS};
    };
    status = m_scheduler.Enqueue(job, 1);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    r.ret_load_event_id = job->ids[0];
    entry.events = job->ids;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimTransferRequests::BoardToBoard(SimClient& client, Tulx7_dr_buffer_board2board& r,
                                RequestLogEntry& entry) {
    entry.bufferId = r.src_buffer_id;
    entry.otherBufferId = r.dest_buffer_id;
    entry.dependencies = {r.src_render_event_id, r.src_load_event_id, r.dest_render_event_id,
                          r.dest_unload_event_id};
    if (!m_state.SupportsPeer()) return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    const int peer = m_state.PeerOf(client.board);
    if (static_cast<int>(r.src_buffer_id >> 28) != client.board || peer < 0 ||
        static_cast<int>(r.dest_buffer_id >> 28) != peer)
        return TULX7_DR_STATUS_ARG_BAD;
    const std::shared_ptr<SimBuffer> source = m_state.FindBuffer(client.board, r.src_buffer_id);
    const std::shared_ptr<SimBuffer> destination = m_state.FindBuffer(peer, r.dest_buffer_id);
    if (!source || !destination) return TULX7_DR_STATUS_INVALID_ID;
    const std::shared_ptr<Storage> sourceStorage = source->storage;
    const std::shared_ptr<Storage> destinationStorage = destination->storage;
    const StorageShape& sourceShape = sourceStorage->shape;
    const StorageShape& destinationShape = destinationStorage->shape;
    if (sourceShape.dimension != destinationShape.dimension ||
        sourceShape.elementBytes != destinationShape.elementBytes)
        return TULX7_DR_STATUS_ARG_BAD;
    BoardBox sourceBox;
    BoardBox destinationBox;
    int32_t status = ReadBoardBox(r.src_addr, sourceShape, sourceBox);
    if (status == TULX7_DR_STATUS_SUCCESS)
        status = ReadBoardBox(r.dest_addr, destinationShape, destinationBox);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    RecordBox(entry, sourceBox);
    if (!BoxInsideStorage(sourceBox, sourceShape) ||
        !BoxInsideStorage(destinationBox, destinationShape))
        return TULX7_DR_STATUS_HW_RANGE_BAD;
    for (uint32_t id : entry.dependencies)
        if (!m_state.events.Known(id)) return TULX7_DR_STATUS_INVALID_ID;

    // More elements on an axis than either storage holds would only copy
    // aliases of the same elements again.
    int64_t extent[3];
    for (int axis = 0; axis < 3; ++axis) {
        extent[axis] = std::min(sourceBox.Extent(axis), destinationBox.Extent(axis));
        if (extent[axis] > std::min(sourceShape.size[axis], destinationShape.size[axis]))
            return TULX7_DR_STATUS_HW_RANGE_BAD;
    }
    auto job = std::make_shared<Job>();
    job->code = TULX7_DR_BUFFER_BOARD2BOARD;
    job->board = client.board;
    job->queueTag = static_cast<int>(TULX7_DR_QUEUE_DMA_OUT);
    job->client = client.id;
    job->dependencies = entry.dependencies;
    job->buffers = {source, destination};
    job->run = [sourceStorage, destinationStorage, sourceBox, destinationBox,
                e = std::array<int64_t, 3>{extent[0], extent[1], extent[2]}](uint64_t& moved) {
        moved = CopyBetweenBoxes(sourceBox, sourceStorage->shape, sourceStorage->bytes.data(),
                                 destinationBox, destinationStorage->shape,
                                 destinationStorage->bytes.data(), e.data());
        return int32_t{TULX7_DR_STATUS_SUCCESS};
    };
    status = m_scheduler.Enqueue(job, 2);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    r.src_ret_unload_event_id = job->ids[0];
    r.dest_ret_load_event_id = job->ids[1];
    entry.events = job->ids;
    entry.hostBytes = static_cast<uint64_t>(extent[0] * extent[1] * extent[2]) *
                      static_cast<uint64_t>(sourceShape.elementBytes);
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimTransferRequests::MapBuffer(SimLock& lock, SimClient& client, Tulx7_dr_buffer_map& r,
                             RequestLogEntry& entry) {
    entry.bufferId = r.buffer_id;
    if (!m_state.config.mapImplemented) return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    std::shared_ptr<SimBuffer> buffer = m_state.FindBuffer(client.board, r.buffer_id);
    if (!buffer) return TULX7_DR_STATUS_INVALID_ID;
    const int32_t access = r.access_share;
    if (access < 1 || access > 7 || (access & (TULX7_DR_MAP_READ | TULX7_DR_MAP_WRITE)) == 0)
        return TULX7_DR_STATUS_ARG_BAD;
    if (!FieldFits(r.host_element_size, r.element_alignment, buffer->storage->shape))
        return TULX7_DR_STATUS_ARG_BAD;
    BoardBox box;
    const int32_t status = ReadBoardBox(r.addr, buffer->storage->shape, box);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    RecordBox(entry, box);
    const int32_t h = r.host_element_size + 1;
    const uint64_t elements = box.ElementCount();
    if (elements > kMaxMappingBytes / static_cast<uint64_t>(h)) return TULX7_DR_STATUS_MALLOC_FAILED;
    const uint64_t bytes = elements * static_cast<uint64_t>(h);
    entry.hostBytes = bytes;
    if (client.mappings.size() >= kMaxMappingsPerClient)
        return TULX7_DR_STATUS_OUT_OF_MAP_DATA_STRUCTURES;

    // The copy shows what the queued work has left on the board.
    m_state.WaitUntilIdle(lock, *buffer);
    buffer = m_state.FindBuffer(client.board, r.buffer_id);
    if (!buffer) return TULX7_DR_STATUS_INVALID_ID;
    const std::shared_ptr<Mapping> mapping = MakeWithMemory<Mapping>(bytes);
    if (!mapping) return TULX7_DR_STATUS_MALLOC_FAILED;
    mapping->buffer = buffer;
    mapping->access = access;
    mapping->box = box;
    mapping->hostElementBytes = h;
    mapping->alignment = r.element_alignment;
    HostLayout host;
    host.base = mapping->memory.Data();
    host.elementBytes = h;
    host.row = box.Extent(0);
    host.slice = box.Extent(1);
    Storage& storage = *buffer->storage;
    m_state.stats.bytesMoved += MoveElements(box, storage.shape, storage.bytes.data(), mapping->alignment,
                                       host, MoveDirection::kBoardToHost, true);

    m_state.clients.AddMapping(client, mapping);
    r.map_id = mapping->id;
    r.user_address = mapping->memory.Address();
    r.user_size = bytes;
    entry.hostAddress = r.user_address;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimTransferRequests::UnmapBuffer(SimLock& lock, SimClient& client, Tulx7_dr_buffer_unmap& r,
                               RequestLogEntry& entry) {
    entry.hostAddress = r.user_address;
    entry.hostBytes = r.user_size;
    auto matches = [&] {
        Mapping* mapping = m_state.clients.FindMapping(r.map_id);
        if (mapping == nullptr) return mapping;
        const bool same = mapping->client == client.id &&
                          mapping->memory.Address() == r.user_address &&
                          mapping->memory.Bytes() == r.user_size;
        return same ? mapping : nullptr;
    };
    Mapping* mapping = matches();
    if (mapping == nullptr) return TULX7_DR_STATUS_NOT_MAPPED;
    entry.bufferId = mapping->buffer->id;
    RecordBox(entry, mapping->box);
    if ((mapping->access & TULX7_DR_MAP_WRITE) != 0) {
        const std::shared_ptr<SimBuffer> buffer = mapping->buffer;
        m_state.WaitUntilIdle(lock, *buffer);
        mapping = matches();
        if (mapping == nullptr) return TULX7_DR_STATUS_NOT_MAPPED;
        HostLayout host;
        host.base = mapping->memory.Data();
        host.elementBytes = mapping->hostElementBytes;
        host.row = mapping->box.Extent(0);
        host.slice = mapping->box.Extent(1);
        Storage& storage = *buffer->storage;
        m_state.stats.bytesMoved += MoveElements(mapping->box, storage.shape, storage.bytes.data(),
                                           mapping->alignment, host, MoveDirection::kHostToBoard,
                                           true);
    }
    m_state.clients.ReleaseMapping(r.map_id);
    return TULX7_DR_STATUS_SUCCESS;
}

}  // namespace tulx7sim
