// Notifications a rendering context hands to its application: to a callback
// or through the context's event queue.
#pragma once

namespace ulm3 {

enum ULMEventType : int {
    kULMEventRenderDone = 0,
    kULMEventTransferDone = 1,
    kULMEventLightMap = 2,
    kULMEventLightMapChange = 3,
    kULMEventMultiPassBasePlane = 4,
};

enum ULMLightMapType : int {
    kULMLightMapType1 = 0,
    kULMLightMapType2 = 1,
};

// An event taken from a queue belongs to the application, which deletes it
// through this base.
class ULMEventBase {
public:
    explicit ULMEventBase(int inBuffer) : buffer(inBuffer) {}
    virtual ULMEventType EventType() const = 0;
    virtual ~ULMEventBase() = default;

    int buffer;  // the base-plane buffer the event concerns
};

class ULMEventRenderDone : public ULMEventBase {
public:
    explicit ULMEventRenderDone(int inBuffer) : ULMEventBase(inBuffer) {}
    ULMEventType EventType() const override { return kULMEventRenderDone; }
};

class ULMEventTransferDone : public ULMEventBase {
public:
    explicit ULMEventTransferDone(int inBuffer) : ULMEventBase(inBuffer) {}
    ULMEventType EventType() const override { return kULMEventTransferDone; }
};

// The two light-map events carry the same description of the maps; they
// differ only in their kind. A render raises one when it builds a volume's
// maps (kULMEventLightMap the first time, kULMEventLightMapChange after),
// once it holds no lock of the library, so a callback may render again.
// buffer is the base-plane slot being rendered, else -1.
// pointerToMap1 and pointerToMap2 are the diffuse and specular maps'
// numberOfElements 64-bit words. They are the volume's own and are valid
// only until its next rebuild of the maps or its release, whichever comes
// first; copy them to keep them longer (a queued event may outlive them).
template <ULMEventType Kind>
class ULMLightMapEventOf : public ULMEventBase {
public:
    ULMLightMapEventOf(int inBuffer, ULMLightMapType inFormat, int inBytesPerElement,
                       int inNumberOfElements, void* inMap1, void* inMap2)
        : ULMEventBase(inBuffer),
          lightFormat(inFormat),
          bytesPerElement(inBytesPerElement),
          numberOfElements(inNumberOfElements),
          pointerToMap1(inMap1),
          pointerToMap2(inMap2) {}
    ULMEventType EventType() const override { return Kind; }

    ULMLightMapType lightFormat;
    int bytesPerElement;
    int numberOfElements;
    void* pointerToMap1;
    void* pointerToMap2;
};

class ULMEventLightMap : public ULMLightMapEventOf<kULMEventLightMap> {
public:
    using ULMLightMapEventOf::ULMLightMapEventOf;
};

class ULMEventLightMapChange : public ULMLightMapEventOf<kULMEventLightMapChange> {
public:
    using ULMLightMapEventOf::ULMLightMapEventOf;
};

class ULMEventMultiPassBasePlane : public ULMEventBase {
public:
    ULMEventMultiPassBasePlane(int inBuffer, int inMultiPassBuffer)
        : ULMEventBase(inBuffer), multiPassBuffer(inMultiPassBuffer) {}
    ULMEventType EventType() const override { return kULMEventMultiPassBasePlane; }

    int multiPassBuffer;
};

}  // namespace ulm3
