#include "tulx7sim/render_engine.h"

#include <cstring>

#include "sim_driver.h"

namespace tulx7sim {

namespace {

template <typename Value>
bool Load(const std::array<uint8_t, RegisterFile::kBytes>& bytes, uint32_t address, Value& value) {
    value = 0;
    if (address % sizeof(Value) != 0 || address > RegisterFile::kBytes - sizeof(Value)) return false;
    std::memcpy(&value, bytes.data() + address, sizeof(Value));
    return true;
}

template <typename Value>
bool Store(std::array<uint8_t, RegisterFile::kBytes>& bytes, uint32_t address, Value value) {
    if (address % sizeof(Value) != 0 || address > RegisterFile::kBytes - sizeof(Value)) return false;
    std::memcpy(bytes.data() + address, &value, sizeof(Value));
    return true;
}

}  // namespace

bool RegisterFile::Read32(uint32_t address, uint32_t& value) const { return Load(m_bytes, address, value); }
bool RegisterFile::Write32(uint32_t address, uint32_t value) { return Store(m_bytes, address, value); }
bool RegisterFile::Read64(uint32_t address, uint64_t& value) const { return Load(m_bytes, address, value); }
bool RegisterFile::Write64(uint32_t address, uint64_t value) { return Store(m_bytes, address, value); }

void RegisterFile::Clear() { m_bytes.fill(0); }

void RenderEngine::ResetRegisters(int, RegisterFile& registers) { registers.Clear(); }

void SetRenderEngine(std::shared_ptr<RenderEngine> engine) {
    SimDriver::Instance().SetRenderEngine(std::move(engine));
}

}  // namespace tulx7sim
