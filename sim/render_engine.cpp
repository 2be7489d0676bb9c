#include "tulx7sim/render_engine.h"

#include <cstring>

#include "sim_driver.h"

namespace tulx7sim {

namespace {

bool Addressable(uint32_t address, uint32_t width) {
    return address % width == 0 && address <= RegisterFile::kBytes - width;
}

}  // namespace

bool RegisterFile::Read32(uint32_t address, uint32_t& value) const {
    value = 0;
    if (!Addressable(address, 4)) return false;
    std::memcpy(&value, m_bytes.data() + address, 4);
    return true;
}

bool RegisterFile::Write32(uint32_t address, uint32_t value) {
    if (!Addressable(address, 4)) return false;
    std::memcpy(m_bytes.data() + address, &value, 4);
    return true;
}

bool RegisterFile::Read64(uint32_t address, uint64_t& value) const {
    value = 0;
    if (!Addressable(address, 8)) return false;
    std::memcpy(&value, m_bytes.data() + address, 8);
    return true;
}

bool RegisterFile::Write64(uint32_t address, uint64_t value) {
    if (!Addressable(address, 8)) return false;
    std::memcpy(m_bytes.data() + address, &value, 8);
    return true;
}

void RegisterFile::Clear() { m_bytes.fill(0); }

void RenderEngine::ResetRegisters(int, RegisterFile& registers) { registers.Clear(); }

void SetRenderEngine(std::shared_ptr<RenderEngine> engine) {
    SimDriver::Instance().SetRenderEngine(std::move(engine));
}

}  // namespace tulx7sim
