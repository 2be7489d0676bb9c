// Holds the first reference of a volume source for the length of a test.
#pragma once

#include "ulm3/volume_source.h"

namespace ulm3::testing {

template <class T>
class SourceRef {
public:
    explicit SourceRef(T* inSource) : m_source(inSource) { m_source->AddRef(); }
    ~SourceRef() { Reset(); }
    SourceRef(const SourceRef&) = delete;
    SourceRef& operator=(const SourceRef&) = delete;

    T* operator->() const { return m_source; }
    T& operator*() const { return *m_source; }
    T* Get() const { return m_source; }
    // Gives the reference back now (for a reader: writes back and closes).
    void Reset() {
        if (m_source) m_source->Release();
        m_source = nullptr;
    }

private:
    T* m_source;
};

}  // namespace ulm3::testing
