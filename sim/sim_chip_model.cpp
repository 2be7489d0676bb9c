// The idle chip model and the per-board sums of the chips' diagnostics.
#include "tulx7sim/chip_model.h"

#include <array>
#include <mutex>

#include "tulx7/driver_requests.h"
#include "tulx7sim/config.h"

namespace tulx7sim {

namespace {

class IdleChipModel final : public ChipModel {
public:
    int32_t Render(const RenderJob&, const RegisterFile&, ChipDiagnostics&, std::string&) override {
        return TULX7_DR_STATUS_SUCCESS;
    }
};

std::mutex gDiagnosticsMutex;
std::array<ChipDiagnostics, kMaxBoards> gDiagnostics;

}  // namespace

ChipDiagnostics& ChipDiagnostics::operator+=(const ChipDiagnostics& other) {
    droppedWrites += other.droppedWrites;
    writesOutsideMask += other.writesOutsideMask;
    readsOutsideStorage += other.readsOutsideStorage;
    reservedCodes += other.reservedCodes;
    unboundTableReads += other.unboundTableReads;
    samples += other.samples;
    return *this;
}

std::string ChipDiagnostics::Describe() const {
    const std::pair<uint64_t, const char*> counts[] = {
        {droppedWrites, "dropped writes"},          {writesOutsideMask, "writes outside the mask"},
        {readsOutsideStorage, "reads outside storage"}, {reservedCodes, "reserved codes"},
        {unboundTableReads, "unbound table reads"}};
    std::string text;
    for (const auto& [count, name] : counts) {
        if (count == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::string(name) + " " + std::to_string(count);
    }
    return text;
}

std::shared_ptr<ChipModel> MakeIdleChipModel() { return std::make_shared<IdleChipModel>(); }

ChipDiagnostics GetChipDiagnostics(int board) {
    if (board < 0 || board >= kMaxBoards) return {};
    std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
    return gDiagnostics[static_cast<size_t>(board)];
}

void AddChipDiagnostics(int board, const ChipDiagnostics& counts) {
    if (board < 0 || board >= kMaxBoards) return;
    std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
    gDiagnostics[static_cast<size_t>(board)] += counts;
}

void ClearChipDiagnostics() {
    std::lock_guard<std::mutex> lock(gDiagnosticsMutex);
    gDiagnostics.fill(ChipDiagnostics{});
}

}  // namespace tulx7sim
