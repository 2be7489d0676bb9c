// Holds the first reference of a volume source for the length of a test,
// and maps its voxels.
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

// The outputs of one MapVoxels call.
struct Mapping {
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    ULMStatus Map(ULMVolumeSource& s, const ULMVolumeRange& box, int write) {
        return s.MapVoxels(box, write, &p, &ys, &zs);
    }
};

}  // namespace ulm3::testing
