// The simulated boards' rendering chip: a render decodes the registers once
// (chip_setup), then runs the kernels (chip_kernels) over the frustum.
#include "tulx7sim/rendering_chip.h"

#include "chip_kernels.h"
#include "chip_setup.h"
#include "driver_requests.h"

namespace tulx7sim {

namespace {

class RenderingChip final : public ChipModel {
public:
    int32_t Render(const RenderJob& job, const RegisterFile& registers, ChipDiagnostics& counts,
                   std::string& diagnostic) override {
        chip::Setup setup;
        diagnostic = chip::Decode(job, registers, setup, counts);
        if (!diagnostic.empty()) return TULX7_DR_STATUS_HW_ERROR;
        chip::Kernel(setup, counts).RunElements();
        return TULX7_DR_STATUS_SUCCESS;
    }
};

}  // namespace

std::shared_ptr<ChipModel> MakeRenderingChip() { return std::make_shared<RenderingChip>(); }

}  // namespace tulx7sim
