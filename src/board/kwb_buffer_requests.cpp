// The board's buffer requests: create, attach, release, resize, permission
// and the driver's host buffers.
#include "board/kwb_buffer_requests.h"

#include <map>
#include <memory>
#include <new>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "foundation/locks.h"
#include "foundation/sync_event.h"
#include "tulx7/driver_requests.h"

namespace ulm3 {
namespace {

constexpr uint32_t kMaxAxisSize = 32768;  // stored minus one in 16 bits

bool IsElementBits(uint32_t bits) { return bits >= 8 && bits <= 64 && KWBIsPowerOf2(bits); }

// Axes of a buffer of these sizes: V 0 means one, W 0 two.
int DimensionOf(uint32_t inV, uint32_t inW) { return inV == 0 ? 1 : (inW == 0 ? 2 : 3); }

// Sizes the 16-bit descriptor can hold; 0 stands for an absent axis.
bool SizesFit(uint32_t inU, uint32_t inV, uint32_t inW) {
    return inU != 0 && inU <= kMaxAxisSize && inV <= kMaxAxisSize && inW <= kMaxAxisSize;
}

Tulx7_dr_buffer_descriptor Descriptor(int dimension, uint32_t elementBytes, uint32_t inU,
                                      uint32_t inV, uint32_t inW) {
    Tulx7_dr_buffer_descriptor d;
    d.dimension = dimension - 1;
    d.element_size = static_cast<int32_t>(elementBytes) - 1;
    d.buffer_size = {static_cast<int32_t>(inU), static_cast<int32_t>(inV),
                     static_cast<int32_t>(inW)};
    return d;
}

// Stores the sizes a driver descriptor reports for a buffer of `dimension`
// axes; axes the buffer lacks are stored as absent.
void StoreReportedSizes(KWBBuffer& buffer, int dimension, const Tulx7_dr_buffer_size& size,
                        uint32_t elementBits) {
    buffer.SetSizes(static_cast<uint32_t>(size.width),
                    dimension >= 2 ? static_cast<uint32_t>(size.height) : 0,
                    dimension >= 3 ? static_cast<uint32_t>(size.depth) : 0, elementBits);
}

// The valid range 0..size - 1 on the present axes.
void SetWholeRange(KWBBuffer& buffer, int dimension, uint32_t inU, uint32_t inV, uint32_t inW) {
    buffer.SetRange(KWBRange(0, 0, 0, static_cast<int16_t>(inU - 1),
                             static_cast<int16_t>(dimension >= 2 ? inV - 1 : 0),
                             static_cast<int16_t>(dimension >= 3 ? inW - 1 : 0)));
}

// A reported descriptor the 16-bit fields can hold.
bool ReportedSizesFit(int dimension, const Tulx7_dr_buffer_size& size) {
    const auto fits = [](int32_t n) { return n >= 1 && n <= static_cast<int32_t>(kMaxAxisSize); };
    return fits(size.width) && (dimension < 2 || fits(size.height)) &&
           (dimension < 3 || fits(size.depth));
}

ULMStatus Detach(KWBBoard& board, uint32_t id) {
    Tulx7_dr_buffer_detach detach;
    detach.buffer_id = id;
    return board.Request(TULX7_DR_BUFFER_DETACH, detach);
}

// Keeps the descriptor of a buffer the driver made or attached when its
// answer can be described; a buffer we cannot describe is given back rather
// than kept. On failure the descriptor goes.
std::unique_ptr<KWBBuffer> KeepOrGiveBack(KWBBoard& board, std::unique_ptr<KWBBuffer> buffer,
                                          ULMStatus& ioStatus, uint32_t id, bool describable) {
    if (ioStatus == kULMOK && !describable) {
        Detach(board, id);
        ioStatus = kULMErrInternal;
    }
    if (ioStatus != kULMOK) return nullptr;
    buffer->SetID(id);
    return buffer;
}

// The record of queued work of every buffer a descriptor of this process
// holds, by buffer id (ids are never reused): a descriptor attached to a
// buffer that another already describes shares that one's record.
struct QueuedWorkTable {
    ULMMutex lock;
    std::map<uint64_t, std::weak_ptr<KWBQueuedWork>> records;
    size_t keptAfterSweep = 0;
};

// Never destroyed: descriptors released late in the process's end still
// find it.
QueuedWorkTable& WorkTable() {
    static QueuedWorkTable* const table = new QueuedWorkTable();
    return *table;
}

// Gives inBuffer the record its buffer already has, or enters its own.
void ShareQueuedWork(KWBBuffer& ioBuffer) {
    QueuedWorkTable& table = WorkTable();
    ULMScopedLock hold(table.lock);
    // Records of released buffers go once the table has doubled since the
    // last sweep, so that a make costs no sweep on average.
    if (table.records.size() > 2 * table.keptAfterSweep + 64) {
        for (auto it = table.records.begin(); it != table.records.end();)
            it = it->second.expired() ? table.records.erase(it) : std::next(it);
        table.keptAfterSweep = table.records.size();
    }
    std::weak_ptr<KWBQueuedWork>& entry = table.records[ioBuffer.GetID()];
    if (std::shared_ptr<KWBQueuedWork> known = entry.lock()) {
        ioBuffer.ShareQueuedWork(std::move(known));
        return;
    }
    entry = ioBuffer.GetQueuedWork();
}

}  // namespace

std::unique_ptr<KWBBuffer> KWBBufferRequests::Create(uint32_t inU, uint32_t inV, uint32_t inW,
                                                     uint32_t inElementBits, ULMStatus& outStatus) {
    const int dimension = DimensionOf(inV, inW);
    // Axes the buffer lacks go to the driver as 0, whatever was passed.
    inV = dimension >= 2 ? inV : 0;
    inW = dimension >= 3 ? inW : 0;
    // Sizes beyond 32768 would wrap the descriptor's 16-bit fields and
    // describe a different buffer from the one the driver made.
    if (!IsElementBits(inElementBits) || !SizesFit(inU, inV, inW)) {
        outStatus = kULMErrArgument;
        return nullptr;
    }
    std::unique_ptr<KWBBuffer> buffer(new (std::nothrow) KWBBuffer());
    if (buffer == nullptr) {
        outStatus = kULMErrAlloc;
        return nullptr;
    }
    Tulx7_dr_buffer_attach record;
    record.permission_share = 0;
    record.buffer_descriptor = Descriptor(dimension, inElementBits / 8, inU, inV, inW);
    outStatus = m_board.Request(TULX7_DR_BUFFER_ALLOCATE, record);
    buffer = KeepOrGiveBack(m_board, std::move(buffer), outStatus, record.buffer_id,
                            ReportedSizesFit(dimension, record.buffer_descriptor.buffer_size));
    if (buffer == nullptr) return nullptr;
    StoreReportedSizes(*buffer, dimension, record.buffer_descriptor.buffer_size, inElementBits);
    SetWholeRange(*buffer, dimension, inU, inV, inW);
    ShareQueuedWork(*buffer);
    return buffer;
}

std::unique_ptr<KWBBuffer> KWBBufferRequests::Attach(uint64_t inID, ULMStatus& outStatus) {
    std::unique_ptr<KWBBuffer> buffer(new (std::nothrow) KWBBuffer());
    if (buffer == nullptr) {
        outStatus = kULMErrAlloc;
        return nullptr;
    }
    Tulx7_dr_buffer_attach record;
    record.buffer_id = static_cast<uint32_t>(inID);
    record.permission_share = 15;
    outStatus = m_board.Request(TULX7_DR_BUFFER_ATTACH, record);
    const Tulx7_dr_buffer_descriptor& d = record.buffer_descriptor;
    const int dimension = d.dimension + 1;
    const uint32_t elementBytes = static_cast<uint32_t>(d.element_size) + 1;
    const bool describable = dimension >= 1 && dimension <= 3 && elementBytes <= 8 &&
                             KWBIsPowerOf2(elementBytes) && ReportedSizesFit(dimension, d.buffer_size);
    buffer = KeepOrGiveBack(m_board, std::move(buffer), outStatus, record.buffer_id, describable);
    if (buffer == nullptr) return nullptr;
    StoreReportedSizes(*buffer, dimension, d.buffer_size, elementBytes * 8);
    uint32_t u = 0, v = 0, w = 0, bits = 0;
    buffer->GetSizes(u, v, w, bits);
    SetWholeRange(*buffer, dimension, u, v, w);
    buffer->SetPermission(ConvertPermission(record.permission_share));
    ShareQueuedWork(*buffer);
    return buffer;
}

ULMStatus KWBBufferRequests::Release(KWBBuffer* inBuffer, bool inKeepObject) {
    if (inBuffer == nullptr) return kULMErrArgument;
    // A step still to write the buffer holds its descriptor: it runs now,
    // even from inside another step, rather than later into freed memory.
    RunDeferredStep(inBuffer->GetDeferredWriter());
    const ULMStatus status = Detach(m_board, inBuffer->GetDriverID());
    if (!inKeepObject) delete inBuffer;
    return status;
}

ULMStatus KWBBufferRequests::Resize(KWBBuffer* inBuffer, uint32_t inU, uint32_t inV,
                                    uint32_t inW) {
    if (inBuffer == nullptr || inU == 0) return kULMErrArgument;
    const int dimension = inBuffer->GetDimension();
    if (DimensionOf(inV, inW) != dimension || !SizesFit(inU, inV, inW)) return kULMErrArgument;
    Tulx7_dr_buffer_attach record;
    record.buffer_id = inBuffer->GetDriverID();
    record.permission_share = KWBPermission(inBuffer->GetPermission());
    record.buffer_descriptor = Descriptor(dimension, inBuffer->GetElementBytes(), inU, inV, inW);
    const ULMStatus status =
        m_board.Request(TULX7_DR_BUFFER_SET_PERMISSION, record);
    if (status != kULMOK) return status;
    inBuffer->SetSizes(inU, inV, inW, inBuffer->GetElementBits());
    SetWholeRange(*inBuffer, dimension, inU, inV, inW);
    inBuffer->SetPermission(ConvertPermission(record.permission_share));
    return kULMOK;
}

ULMStatus KWBBufferRequests::UpdateSize(KWBBuffer* inBuffer) {
    if (inBuffer == nullptr) return kULMErrArgument;
    Tulx7_dr_buffer_attach record;
    record.buffer_id = inBuffer->GetDriverID();
    record.permission_share = 15;
    const ULMStatus status =
        m_board.Request(TULX7_DR_BUFFER_ATTACH, record);
    if (status != kULMOK) return status;
    const Tulx7_dr_buffer_descriptor& d = record.buffer_descriptor;
    const bool sameShape = d.dimension + 1 == inBuffer->GetDimension() &&
                           static_cast<uint32_t>(d.element_size) + 1 == inBuffer->GetElementBytes() &&
                           ReportedSizesFit(d.dimension + 1, d.buffer_size);
    if (sameShape)
        StoreReportedSizes(*inBuffer, d.dimension + 1, d.buffer_size, inBuffer->GetElementBits());
    // The look took an attachment of its own; give it back.
    const ULMStatus detached = Detach(m_board, inBuffer->GetDriverID());
    return sameShape ? detached : kULMErrInternal;
}

ULMStatus KWBBufferRequests::SetPermission(KWBBuffer* inBuffer, ULMPermission inPermission) {
    if (inBuffer == nullptr) return kULMErrArgument;
    uint32_t u = 0, v = 0, w = 0, bits = 0;
    const int dimension = inBuffer->GetSizes(u, v, w, bits);
    Tulx7_dr_buffer_attach record;
    record.buffer_id = inBuffer->GetDriverID();
    record.permission_share = KWBPermission(inPermission);
    record.buffer_descriptor = Descriptor(dimension, bits / 8, u, v, w);
    const ULMStatus status =
        m_board.Request(TULX7_DR_BUFFER_SET_PERMISSION, record);
    if (status == kULMOK) inBuffer->SetPermission(ConvertPermission(record.permission_share));
    return status;
}

ULMStatus KWBBufferRequests::CreateKernelBuffer(uint32_t inSize, uint32_t& outGrantedSize,
                                                void*& outAddress, int& outID) {
    if (inSize == 0) return kULMErrArgument;
    Tulx7_dr_host_buffer_alloc record;
    record.user_size = inSize;
    const ULMStatus status =
        m_board.Request(TULX7_DR_HOST_BUFFER_ALLOC, record);
    if (status != kULMOK) return status;
    // A grant beyond what a uint can say is still at least what was asked.
    outGrantedSize = record.user_size > UINT32_MAX ? UINT32_MAX
                                                   : static_cast<uint32_t>(record.user_size);
    outAddress = reinterpret_cast<void*>(static_cast<uintptr_t>(record.user_address));
    outID = record.host_buffer_id;
    return kULMOK;
}

void KWBBufferRequests::DestroyKernelBuffer(int inID, uint32_t inSize, void* inAddress) {
    Tulx7_dr_host_buffer_free record;
    record.host_buffer_id = inID;
    record.user_address = reinterpret_cast<uintptr_t>(inAddress);
    record.user_size = inSize;
    m_board.Request(TULX7_DR_HOST_BUFFER_FREE, record);
}

}  // namespace ulm3
