// Requests about the board and its memory: configuration, peers, board
// buffers and driver host buffers.
#include <algorithm>
#include <cstring>
#include <new>

#include "sim_buffer_requests.h"
#include "tulx7/chip_codes.h"

namespace tulx7sim {

namespace {

constexpr size_t kMaxBuffersPerBoard = 16384;
constexpr uint32_t kMaxBufferNumber = 0x0FFFFFFF;
constexpr int32_t kMaxAxisSize = 32768;
constexpr int32_t kShareBits =
    TULX7_DR_PERMISSION_READ | TULX7_DR_PERMISSION_WRITE | TULX7_DR_PERMISSION_RESIZE;

int32_t AxisSize(const Tulx7_dr_buffer_size& size, int axis) {
    return axis == 0 ? size.width : axis == 1 ? size.height : size.depth;
}

// Reads a buffer descriptor: 1 to 3 axes of 1..32768 elements (absent axes
// 0) of 1, 2, 4 or 8 bytes, and no 8-byte elements in three dimensions.
int32_t ReadDescriptor(const Tulx7_dr_buffer_descriptor& descriptor, StorageShape& shape) {
    if (descriptor.dimension < 0 || descriptor.dimension > 2) return TULX7_DR_STATUS_ARG_BAD;
    const int32_t code = descriptor.element_size;
    if (code != 0 && code != 1 && code != 3 && code != 7) return TULX7_DR_STATUS_ARG_BAD;
    const int32_t bytes = code + 1;
    if (descriptor.dimension == 2 && bytes == 8) return TULX7_DR_STATUS_ARG_BAD;
    shape = StorageShape{};
    shape.dimension = descriptor.dimension;
    shape.elementBytes = bytes;
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t size = AxisSize(descriptor.buffer_size, axis);
        if (shape.HasAxis(axis)) {
            if (size < 1 || size > kMaxAxisSize) return TULX7_DR_STATUS_ARG_BAD;
            shape.size[axis] = size;
        } else if (size != 0) {
            return TULX7_DR_STATUS_ARG_BAD;
        }
    }
    return TULX7_DR_STATUS_SUCCESS;
}

// The board allocates in tiles: each axis grows to the tile edge of its
// dimension and element size.
StorageShape AllocatedShape(const StorageShape& requested) {
    StorageShape shape = requested;
    const int eb = requested.elementBytes;
    int32_t masks[3] = {0, 0, 0};
    switch (requested.dimension) {
        case NKW7_Code(NKW7_ArrayDimension::OneAxis):
            masks[0] = 3;
            break;
        case NKW7_Code(NKW7_ArrayDimension::TwoAxes):
            masks[0] = eb > 2 ? 15 : 31;
            masks[1] = eb > 4 ? 7 : 15;
            break;
        default:
            masks[0] = 7;
            masks[1] = eb > 2 ? 3 : 7;
            masks[2] = eb == 1 ? 7 : 3;
            break;
    }
    for (int axis = 0; axis <= requested.dimension; ++axis)
        shape.size[axis] = ((requested.size[axis] - 1) | masks[axis]) + 1;
    return shape;
}

uint64_t ShapeBytes(const StorageShape& shape) {
    return shape.ElementCount() * static_cast<uint64_t>(shape.elementBytes);
}

// New board memory reads as the fill byte; null when the host cannot hold it.
std::shared_ptr<Storage> MakeStorage(const StorageShape& shape, int fillByte) {
    try {
        auto storage = std::make_shared<Storage>();
        storage->shape = shape;
        storage->bytes.assign(static_cast<size_t>(ShapeBytes(shape)), static_cast<uint8_t>(fillByte));
        return storage;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Board.

int32_t SimBufferRequests::GetConfiguration(SimClient& client, Tulx7_dr_configuration& r) {
    const SimBoard& board = *m_state.boards[client.board];
    r.pci_rev = m_state.config.pciRev;
    r.memory_size = m_state.config.memoryMB;
    r.memory_size_pci = m_state.config.memoryMB;
    r.major_number = m_state.config.major;
    r.minor_number = m_state.config.minor;
    r.micro_number = m_state.config.micro;
    r.os_version = m_state.config.osVersion;
    r.free_memory = static_cast<int32_t>(std::min<uint64_t>(board.FreeBytes(), INT32_MAX));
    r.locked_memory = 0;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimBufferRequests::GetBoardPeers(Tulx7_dr_board_peers& r) {
    if (!m_state.SupportsPeer()) return TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED;
    for (int b = 0; b < kMaxBoards; ++b) {
        r.peer[b] = m_state.PeerOf(b);
        r.enabled[b] = r.peer[b] >= 0 ? 1 : 0;
    }
    return TULX7_DR_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Board buffers.

int32_t SimBufferRequests::AllocateBuffer(SimClient& client, Tulx7_dr_buffer_attach& r,
                                  RequestLogEntry& entry) {
    StorageShape requested;
    const int32_t status = ReadDescriptor(r.buffer_descriptor, requested);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    SimBoard& board = *m_state.boards[client.board];
    uint32_t& number = m_state.nextBufferNumber[client.board];
    if (board.buffers.size() >= kMaxBuffersPerBoard || number > kMaxBufferNumber)
        return TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS;

    const StorageShape shape = AllocatedShape(requested);
    const uint64_t bytes = ShapeBytes(shape);
    if (bytes > board.FreeBytes()) return TULX7_DR_STATUS_OUT_OF_HW_MEMORY;
    const std::shared_ptr<Storage> storage = MakeStorage(shape, m_state.config.fillByte);
    if (!storage) return TULX7_DR_STATUS_OUT_OF_HW_MEMORY;

    auto buffer = std::make_shared<SimBuffer>();
    buffer->id = (static_cast<uint32_t>(client.board) << 28) | number++;
    buffer->board = client.board;
    const StorageShape& reported = m_state.config.reportRoundedSizes ? shape : requested;
    for (int axis = 0; axis < 3; ++axis)
        buffer->reportedSize[axis] = shape.HasAxis(axis) ? reported.size[axis] : 0;
    buffer->storage = storage;
    buffer->chargedBytes = bytes;
    buffer->ownerClient = client.id;
    buffer->share = r.permission_share & kShareBits;
    buffer->attachments = 1;
    board.buffers[buffer->id] = buffer;
    board.allocatedBytes += bytes;
    client.attachments[buffer->id] = 1;

    r.buffer_id = buffer->id;
    r.permission_share = TULX7_DR_PERMISSION_READ | TULX7_DR_PERMISSION_WRITE |
                         TULX7_DR_PERMISSION_ALWAYS | TULX7_DR_PERMISSION_RESIZE;
    r.buffer_descriptor.buffer_size = {buffer->reportedSize[0], buffer->reportedSize[1],
                                       buffer->reportedSize[2]};
    entry.bufferId = buffer->id;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimBufferRequests::AttachBuffer(SimClient& client, Tulx7_dr_buffer_attach& r,
                                RequestLogEntry& entry) {
    entry.bufferId = r.buffer_id;
    const std::shared_ptr<SimBuffer> buffer = m_state.FindBuffer(client.board, r.buffer_id);
    if (!buffer) return TULX7_DR_STATUS_INVALID_ID;
    int32_t granted = 0;
    if (buffer->ownerClient == client.id) {
        granted = kShareBits | TULX7_DR_PERMISSION_ALWAYS;
    } else {
        if (buffer->share == 0) return TULX7_DR_STATUS_NOT_OWNER;
        granted = buffer->share | TULX7_DR_PERMISSION_ALWAYS;
    }
    ++buffer->attachments;
    ++client.attachments[buffer->id];

    const StorageShape& shape = buffer->storage->shape;
    r.permission_share = granted;
    r.buffer_descriptor.dimension = shape.dimension;
    r.buffer_descriptor.element_size = shape.elementBytes - 1;
    r.buffer_descriptor.buffer_size = {buffer->reportedSize[0], buffer->reportedSize[1],
                                       buffer->reportedSize[2]};
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimBufferRequests::SetBufferPermission(SimLock& lock, SimClient& client, Tulx7_dr_buffer_attach& r,
                                       RequestLogEntry& entry) {
    entry.bufferId = r.buffer_id;
    std::shared_ptr<SimBuffer> buffer = m_state.FindBuffer(client.board, r.buffer_id);
    if (!buffer || client.attachments.count(r.buffer_id) == 0) return TULX7_DR_STATUS_INVALID_ID;
    StorageShape requested;
    const int32_t status = ReadDescriptor(r.buffer_descriptor, requested);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    if (requested.dimension != buffer->storage->shape.dimension ||
        requested.elementBytes != buffer->storage->shape.elementBytes)
        return TULX7_DR_STATUS_ARG_BAD;
    const bool owner = buffer->ownerClient == client.id;
    if (!owner && (buffer->share & TULX7_DR_PERMISSION_RESIZE) == 0)
        return TULX7_DR_STATUS_PERMISSION_BAD;

    const StorageShape shape = AllocatedShape(requested);
    const StorageShape& reported = m_state.config.reportRoundedSizes ? shape : requested;
    if (!std::equal(shape.size, shape.size + 3, buffer->storage->shape.size)) {
        // Work already queued on the buffer lands in the old storage first.
        m_state.WaitUntilIdle(lock, *buffer);
        buffer = m_state.FindBuffer(client.board, r.buffer_id);
        if (!buffer) return TULX7_DR_STATUS_INVALID_ID;
        SimBoard& board = *m_state.boards[client.board];
        const uint64_t bytes = ShapeBytes(shape);
        if (bytes > buffer->chargedBytes && bytes - buffer->chargedBytes > board.FreeBytes())
            return TULX7_DR_STATUS_OUT_OF_HW_MEMORY;
        const std::shared_ptr<Storage> storage = MakeStorage(shape, m_state.config.fillByte);
        if (!storage) return TULX7_DR_STATUS_OUT_OF_HW_MEMORY;
        const Storage& old = *buffer->storage;
        const int32_t keepU = std::min(shape.size[0], old.shape.size[0]);
        const int32_t keepV = std::min(shape.size[1], old.shape.size[1]);
        const int32_t keepW = std::min(shape.size[2], old.shape.size[2]);
        const size_t eb = static_cast<size_t>(shape.elementBytes);
        for (int32_t w = 0; w < keepW; ++w)
            for (int32_t v = 0; v < keepV; ++v)
                std::memcpy(storage->bytes.data() +
                                ((static_cast<size_t>(w) * shape.size[1] + v) * shape.size[0]) * eb,
                            old.bytes.data() +
                                ((static_cast<size_t>(w) * old.shape.size[1] + v) * old.shape.size[0]) *
                                    eb,
                            static_cast<size_t>(keepU) * eb);
        board.allocatedBytes = board.allocatedBytes - buffer->chargedBytes + bytes;
        buffer->chargedBytes = bytes;
        buffer->storage = storage;
    }
    for (int axis = 0; axis < 3; ++axis)
        buffer->reportedSize[axis] = shape.HasAxis(axis) ? reported.size[axis] : 0;
    // Only the owner says who else may use the buffer.
    if (owner) buffer->share = r.permission_share & kShareBits;
    r.permission_share = buffer->share | TULX7_DR_PERMISSION_ALWAYS;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimBufferRequests::DetachBuffer(SimClient& client, Tulx7_dr_buffer_detach& r,
                                RequestLogEntry& entry) {
    entry.bufferId = r.buffer_id;
    if (client.attachments.count(r.buffer_id) == 0) return TULX7_DR_STATUS_INVALID_ID;
    m_state.DropAttachment(client, r.buffer_id);
    return TULX7_DR_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Driver host buffers.

int32_t SimBufferRequests::AllocateHostBuffer(SimClient& client, Tulx7_dr_host_buffer_alloc& r,
                                              RequestLogEntry& entry) {
    entry.hostBytes = r.user_size;
    std::shared_ptr<HostBlock> block;
    const int32_t status = m_state.clients.GrantHostBuffer(client, r.user_size, block);
    if (status != TULX7_DR_STATUS_SUCCESS) return status;
    r.host_buffer_id = block->id;
    r.user_address = block->memory.Address();
    r.user_size = block->memory.Bytes();
    entry.hostAddress = r.user_address;
    return TULX7_DR_STATUS_SUCCESS;
}

int32_t SimBufferRequests::FreeHostBuffer(SimClient& client, Tulx7_dr_host_buffer_free& r,
                                          RequestLogEntry& entry) {
    entry.hostAddress = r.user_address;
    entry.hostBytes = r.user_size;
    const std::shared_ptr<HostBlock> found = m_state.clients.HostBuffer(r.host_buffer_id);
    if (!found) {
        return m_state.clients.HostBufferFreed(r.host_buffer_id)
                   ? TULX7_DR_STATUS_KERNEL_BUFFER_ALREADY_FREED
                   : TULX7_DR_STATUS_INVALID_ID;
    }
    const HostBlock& block = *found;
    if (block.client != client.id || r.user_address != block.memory.Address())
        return TULX7_DR_STATUS_INVALID_ID;
    if (r.user_size != block.asked && r.user_size != block.memory.Bytes())
        return TULX7_DR_STATUS_ARG_BAD;
    if (block.pendingJobs > 0) {
        // The transfers keep the memory; the program freed it too early.
        ++m_state.stats.hostBuffersFreedInUse;
        m_state.log.Log("client %u freed host buffer %d while %d transfer(s) still used it",
                        client.id, block.id, block.pendingJobs);
    }
    m_state.clients.FreeHostBuffer(client, block.id);
    return TULX7_DR_STATUS_SUCCESS;
}

}  // namespace tulx7sim
