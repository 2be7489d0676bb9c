// Object identity and the ownership helpers built on shareable objects.
#pragma once

#include <cstdint>

#include "ulm3/shareable.h"

namespace ulm3 {

// Puts the concrete class into the top byte of the object's id; each concrete
// constructor calls it once.
void SetObjectType(ULMShareable* object, ULMObjectType type);

// The checked down-cast of the library: an interface pointer is taken as a
// concrete class only when its type byte says so. A null object has no type.
bool IsObjectType(const ULMShareable* object, ULMObjectType type);

// The type byte of an id (bits 63..56) and its running number (bits 55..0).
constexpr unsigned kObjectTypeShift = 56;
constexpr uint64_t kObjectNumberMask = (uint64_t{1} << kObjectTypeShift) - 1;

// The serial after s: serials skip 0, which stands for "never seen".
constexpr uint64_t NextSerial(uint64_t s) { return s + 1 == 0 ? 1 : s + 1; }

// Holds one reference that was already counted for it: adopting does not
// AddRef, and the destructor gives the reference back. Not copyable, since a
// copy would give the same reference back twice.
template <class T>
class ReleasablePointer {
public:
    ReleasablePointer() = default;
    explicit ReleasablePointer(T* p) : ptr(p) {}
    ~ReleasablePointer() {
        if (ptr) ptr->Release();
    }
    ReleasablePointer(const ReleasablePointer&) = delete;
    ReleasablePointer& operator=(const ReleasablePointer&) = delete;

    void Assign(T* p) {
        if (ptr) ptr->Release();
        ptr = p;
    }
    T* GetPointer() const { return ptr; }
    T* operator->() const { return ptr; }
    operator T*() const { return ptr; }

private:
    T* ptr = nullptr;
};

// Remembers which object (and which state of it) something was built from.
// It holds no reference: the remembered pointer is only compared, never
// followed, so a new object at a freed object's address is still told apart
// by its id.
template <class T>
class ULMCachedObject {
public:
    bool IsDifferent(T* p) const {
        if (p != m_object) return true;
        if (p == nullptr) return false;
        return p->GetObjectID() != m_objectNumber || p->GetSerial() != m_serialNumber;
    }
    void SetToObject(T* p) {
        m_object = p;
        if (p) {
            m_objectNumber = p->GetObjectID();
            m_serialNumber = p->GetSerial();
        }
    }

private:
    uint64_t m_objectNumber = 0;
    uint64_t m_serialNumber = 0;
    T* m_object = nullptr;
};

}  // namespace ulm3
