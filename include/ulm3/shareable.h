// The base of every object the library hands out: reference count, change
// serial, object identity and application data.
#pragma once

#include <atomic>
#include <cstdint>

namespace ulm3 {

// The top byte of an object id names the object's concrete class.
enum ULMObjectType : uint32_t {
    kObjectTypeULMContextInternal = 16,
    kObjectTypeULMCutPlaneInternal = 17,
    kObjectTypeULMLightInternal = 18,
    kObjectTypeULMLookupTableInternal = 19,
    kObjectTypeULMSimpleLookupTable = 19,
    kObjectTypeULMLinearLookupTable = 20,
    kObjectTypeLightMap = 21,
    kObjectTypeULMLookupTableCache = 22,
    kObjectTypeULMVolumeSourceMemory = 144,
    kObjectTypeULMVoxFileReader = 145,
    kObjectTypeULMVolumeInternal = 160,
    kObjectTypeULMMipmapVolume = 161,
    kObjectTypeULMMultiboardVolumePhase1 = 162,
    kObjectTypeULMMultiboardVolumePhase2 = 163,
    kObjectTypeULMImageBufferInternal = 176,
    kObjectTypeULMOmniImageBuffer = 177,
    kObjectTypeULMDepthBufferInternal = 192,
    kObjectTypeULMOmniDepthBuffer = 193,
};

// How a volume is being used; a volume grants a new access only when it is
// compatible with the one it already holds.
enum ULMAccessType : int32_t {
    kULMAccessNoControl = 0,
    kULMAccessReadExclusive = 1,
    kULMAccessReadShared = 2,
    kULMAccessWrite = 3,
    kULMAccessWriteExclusive = 4,
    kULMAccessWriteShared = 5,
    kULMAccessWriteOnlyExclusive = 6,
};

// Objects start with no reference: the Create function that makes one takes
// the first reference for the application, and the last Release destroys it.
// The serial starts at 1, grows with every content change and never is 0, so
// a cache that remembers (id, serial) can tell whether an object changed.
class ULMShareable {
public:
    ULMShareable();
    // A copy is a new object: its own id, serial 1, no reference, no data.
    ULMShareable(const ULMShareable& other);
    // Copies nothing of the identity; the target's content changed, so only
    // its serial advances.
    ULMShareable& operator=(const ULMShareable& other);

    int RefCount() const { return m_refCount.load(std::memory_order_acquire); }
    int AddRef();
    // Returns the count left; at 0 the object has been destroyed.
    int Release();

    void IncSerial();
    uint64_t GetSerial() const { return m_serial.load(std::memory_order_acquire); }
    uint64_t GetObjectID() const { return m_object; }

    void* GetAppData() const { return m_appData; }
    void SetAppData(void* data) { m_appData = data; }

protected:
    virtual ~ULMShareable() = 0;

private:
    friend void SetObjectType(ULMShareable* object, ULMObjectType type);

    void* m_appData;
    // Changed only under the library's global lock; atomic so that readers
    // outside the lock see whole values.
    std::atomic<int> m_refCount;
    std::atomic<uint64_t> m_serial;
    uint64_t m_object;
};

}  // namespace ulm3
