// A list of shareable objects that holds a reference on each member.
#pragma once

#include <cstdint>
#include <new>

#include "foundation/diagnostics.h"
#include "ulm3/status.h"

namespace ulm3 {

// Keeps its members in the order they were added, each at most once, and up
// to a limit when one is given (0: none). Owners serialise its use; it is
// not copyable, since a copy would release the members twice.
template <class T>
class ULMListInternal {
public:
    struct Entry {
        T* pObject = nullptr;
        // Free for the owner; the list clears them on Add and keeps them
        // with their object.
        uint64_t m_word0 = 0;
        uint64_t m_word1 = 0;
    };

    explicit ULMListInternal(unsigned maxElements = 0, unsigned allocElements = 0)
        : m_maxElements(maxElements), m_allocElements(allocElements) {
        if (m_allocElements > 0) m_array = new Entry[m_allocElements];
        ULM_ASSERT(m_maxElements == 0 || m_allocElements <= m_maxElements);
        ULM_ASSERT(m_allocElements == 0 || m_array != 0);
    }
    ~ULMListInternal() { ReleaseAllObjects(); }
    ULMListInternal(const ULMListInternal&) = delete;
    ULMListInternal& operator=(const ULMListInternal&) = delete;

    ULMStatus Add(T* p) {
        if (!p) return kULMErrArgument;
        if (IndexOf(p) >= 0) return kULMErrDuplicate;
        if (m_maxElements != 0 && m_curElements >= m_maxElements) return kULMErrTooMany;
        if (m_curElements >= m_allocElements && !Grow()) return kULMErrAlloc;
        p->AddRef();
        m_array[m_curElements++] = Entry{p, 0, 0};
        m_listChanged = 1;
        return kULMOK;
    }

    ULMStatus Remove(T* p) {
        if (!p) return kULMErrArgument;
        const int index = IndexOf(p);
        if (index < 0) return kULMErrArgument;
        for (unsigned i = static_cast<unsigned>(index); i + 1 < m_curElements; ++i) m_array[i] = m_array[i + 1];
        --m_curElements;
        m_listChanged = 1;
        p->Release();
        return kULMOK;
    }

    unsigned Number() const { return m_curElements; }
    T* operator[](int i) const {
        return i < 0 || static_cast<unsigned>(i) >= m_curElements ? nullptr : m_array[i].pObject;
    }
    Entry* GetEntry(int i) {
        return i < 0 || static_cast<unsigned>(i) >= m_curElements ? nullptr : &m_array[i];
    }

    void ReleaseAllObjects() {
        ULM_ASSERT(m_curElements <= m_allocElements);
        for (unsigned i = 0; i < m_curElements; ++i) {
            ULM_ASSERT(m_array[i].pObject != 0);
            m_array[i].pObject->Release();
        }
        delete[] m_array;
        m_array = nullptr;
        m_curElements = 0;
        m_allocElements = 0;
        m_listChanged = 1;
    }

    unsigned Capacity() const { return m_allocElements; }

private:
    int IndexOf(const T* p) const {
        for (unsigned i = 0; i < m_curElements; ++i) {
            ULM_ASSERT(m_array[i].pObject != 0);
            if (m_array[i].pObject == p) return static_cast<int>(i);
        }
        return -1;
    }

    // Doubles the capacity (8 to start with), never beyond the limit.
    bool Grow() {
        unsigned capacity = m_allocElements == 0 ? 8 : m_allocElements * 2;
        if (m_maxElements != 0 && capacity > m_maxElements) capacity = m_maxElements;
        Entry* array = new (std::nothrow) Entry[capacity];
        if (!array) return false;
        for (unsigned i = 0; i < m_curElements; ++i) {
            ULM_ASSERT(m_array[i].pObject != 0);
            array[i] = m_array[i];
        }
        delete[] m_array;
        m_array = array;
        m_allocElements = capacity;
        return true;
    }

    unsigned m_maxElements;
    unsigned m_allocElements;
    unsigned m_curElements = 0;
    Entry* m_array = nullptr;

public:
    // Set whenever the membership changes; the owner clears it once it has
    // taken the change into account.
    int m_listChanged = 1;
};

}  // namespace ulm3
