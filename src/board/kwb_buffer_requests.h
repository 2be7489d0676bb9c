// A board's buffer requests: create, attach, release, resize and permission
// of board buffers, and the driver's host buffers. The helper KWBBoard hands
// them to.
#pragma once

#include <cstdint>
#include <memory>

#include "ulm3/permission.h"
#include "ulm3/status.h"

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

class KWBBufferRequests {
public:
    explicit KWBBufferRequests(KWBBoard& board) : m_board(board) {}
    KWBBufferRequests(const KWBBufferRequests&) = delete;
    KWBBufferRequests& operator=(const KWBBufferRequests&) = delete;

    // Null, and why in outStatus, when the driver has no buffer to give.
    std::unique_ptr<KWBBuffer> Create(uint32_t u, uint32_t v, uint32_t w, uint32_t elementBits,
                                      ULMStatus& outStatus);
    std::unique_ptr<KWBBuffer> Attach(uint64_t id, ULMStatus& outStatus);
    ULMStatus Release(KWBBuffer* buffer, bool keepObject);
    ULMStatus Resize(KWBBuffer* buffer, uint32_t u, uint32_t v, uint32_t w);
    ULMStatus UpdateSize(KWBBuffer* buffer);
    ULMStatus SetPermission(KWBBuffer* buffer, ULMPermission permission);
    ULMStatus CreateKernelBuffer(uint32_t size, uint32_t& outGrantedSize, void*& outAddress,
                                 int& outID);
    void DestroyKernelBuffer(int id, uint32_t size, void* address);

private:
    KWBBoard& m_board;
};

}  // namespace ulm3
