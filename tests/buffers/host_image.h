// An image in host memory, as a stand-in for the library's host-memory
// images where a test needs a destination that is on no board: packed
// 32-bit pixels over a width x height window at (0, 0). What the passes do
// not use answers kULMErrUnimplemented.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "ulm3/image_buffer.h"

namespace ulm3::test_support {

class HostImage : public ULMImageBuffer {
public:
    HostImage(unsigned width, unsigned height, const ULMFieldDescriptor* fields)
        : m_width(width), m_height(height), m_pixels(static_cast<size_t>(width) * height) {
        for (int i = 0; i < 4; ++i) m_fields[i] = fields[i];
        AddRef();
    }

    uint32_t& At(int x, int y) { return m_pixels[static_cast<size_t>(y) * m_width + x]; }
    int updates = 0;

    ULMLocation GetLocation() const override { return kULMSystem; }
    void GetSize(unsigned& w, unsigned& h) const override { w = m_width, h = m_height; }
    unsigned GetWidth() const override { return m_width; }
    unsigned GetHeight() const override { return m_height; }
    unsigned GetPixelSize() const override { return 32; }
    ULMFieldDescriptor GetFieldDescriptor(ULMChannel c) const override { return m_fields[c & 3]; }
    ULMStatus SetFieldDescriptor(ULMChannel, const ULMFieldDescriptor&) override { return kULMErrUnimplemented; }

    ULMStatus Update(const void* data, const ULMImageRange& r, unsigned width) override {
        ++updates;
        if (r.XOrigin() < 0 || r.YOrigin() < 0 || r.XOrigin() + r.XSize() > static_cast<int>(m_width) ||
            r.YOrigin() + r.YSize() > static_cast<int>(m_height))
            return kULMErrArgument;
        const unsigned row = width == 0 ? static_cast<unsigned>(r.XSize()) : width;
        const auto* source = static_cast<const uint32_t*>(data);
        for (int y = 0; y < r.YSize(); ++y)
            std::memcpy(&At(r.XOrigin(), r.YOrigin() + y), source + static_cast<size_t>(y) * row,
                        static_cast<size_t>(r.XSize()) * 4);
        return kULMOK;
    }
    ULMStatus UpdateField(const void*, const ULMFieldDescriptor&, const ULMImageRange&, unsigned) override {
        return kULMErrUnimplemented;
    }
    ULMSyncEvent StartUpdate(const void* data, const ULMImageRange& r, unsigned width) override {
        return ULMSyncEvent(Update(data, r, width));
    }
    ULMSyncEvent StartUpdateField(const void*, const ULMFieldDescriptor&, const ULMImageRange&,
                                  unsigned) override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMStatus Clear(const ULMImageRange&, unsigned long long) override { return kULMErrUnimplemented; }
    ULMStatus Unload(void*, const ULMImageRange&, unsigned) const override { return kULMErrUnimplemented; }
    ULMStatus UnloadField(void*, const ULMFieldDescriptor&, const ULMImageRange&, unsigned) const override {
        return kULMErrUnimplemented;
    }
    ULMSyncEvent StartUnload(void*, const ULMImageRange&, unsigned) const override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMSyncEvent StartUnloadField(void*, const ULMFieldDescriptor&, const ULMImageRange&,
                                  unsigned) const override {
        return ULMSyncEvent(kULMErrUnimplemented);
    }
    ULMStatus Map(unsigned short*&, const ULMImageRange&, unsigned&) override { return kULMErrUnimplemented; }
    ULMStatus Map(unsigned int*&, const ULMImageRange&, unsigned&) override { return kULMErrUnimplemented; }
    ULMStatus Map(unsigned long long*&, const ULMImageRange&, unsigned&) override { return kULMErrUnimplemented; }
    ULMStatus Map(void*&, const ULMImageRange&, unsigned&) override { return kULMErrUnimplemented; }
    ULMStatus Unmap(void*) override { return kULMErrUnimplemented; }
    ULMStatus SetOffset(int, int) override { return kULMErrUnimplemented; }
    ULMStatus SetWrap(int, int) override { return kULMErrUnimplemented; }
    ULMStatus SetAddressParameters(ULMAddressMode, int, int) override { return kULMErrUnimplemented; }
    void GetAddressParameters(ULMAddressMode& mode, int& x, int& y) const override {
        mode = kULMOffsetAddress;
        x = y = 0;
    }
    int GetAddressParameterX() const override { return 0; }
    int GetAddressParameterY() const override { return 0; }
    ULMAddressMode GetAddressMode() const override { return kULMOffsetAddress; }
    ULMImageRange GetInputLimits() const override { return ULMImageRange(); }
    ULMStatus SetInputLimits(const ULMImageRange&) override { return kULMErrUnimplemented; }
    ULMImageRange GetOutputLimits() const override { return ULMImageRange(); }
    ULMStatus SetOutputLimits(const ULMImageRange&) override { return kULMErrUnimplemented; }
    void GetBorderValue(double& r, double& g, double& b, double& a) const override { r = g = b = a = 0; }
    double GetBorderRed() const override { return 0; }
    double GetBorderGreen() const override { return 0; }
    double GetBorderBlue() const override { return 0; }
    double GetBorderAlpha() const override { return 0; }
    ULMStatus SetBorderValue(double, double, double, double) override { return kULMErrUnimplemented; }

private:
    unsigned m_width, m_height;
    ULMFieldDescriptor m_fields[4];
    std::vector<uint32_t> m_pixels;
};

}  // namespace ulm3::test_support
