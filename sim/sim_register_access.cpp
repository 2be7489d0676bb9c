// The test API's window on a board's chip registers.
#include <algorithm>
#include <chrono>

#include "sim_driver.h"
#include "tulx7/register_map.h"

namespace tulx7sim {

namespace {

constexpr int kRegisterWaitMs = 5000;

}  // namespace

// The register file is touched by the board's render jobs without the
// driver lock; reading it once none is queued or running, under the lock
// that saw them finish, orders the read after their writes.
bool SimDriver::ReadRegister(int boardIndex, uint32_t address, uint64_t& value) {
    value = 0;
    const int width = NKW7_RegisterWidth(address);
    Lock lock(m_mutex);
    if (width == 0 || boardIndex < 0 || boardIndex >= static_cast<int>(m_boards.size()))
        return false;
    const bool idle = m_changed.wait_for(lock, std::chrono::milliseconds(kRegisterWaitMs), [&] {
        return std::none_of(m_jobsByEvent.begin(), m_jobsByEvent.end(), [&](const auto& entry) {
            return entry.second->board == boardIndex && entry.second->code == TULX7_DR_RENDER;
        });
    });
    if (!idle) return false;
    const RegisterFile& registers = m_boards[boardIndex]->registers;
    if (width == 64) return registers.Read64(address, value);
    uint32_t low = 0;
    const bool read = registers.Read32(address, low);
    value = low;
    return read;
}

bool ReadBoardRegister(int board, uint32_t address, uint64_t& value) {
    return SimDriver::Instance().ReadRegister(board, address, value);
}

}  // namespace tulx7sim
