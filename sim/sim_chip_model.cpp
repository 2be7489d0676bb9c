#include "tulx7sim/chip_model.h"

#include "tulx7/driver_requests.h"

namespace tulx7sim {

namespace {

class IdleChipModel final : public ChipModel {
public:
    int32_t Render(const RenderJob&, const RegisterFile&, std::string&) override {
        return TULX7_DR_STATUS_SUCCESS;
    }
};

}  // namespace

std::shared_ptr<ChipModel> MakeIdleChipModel() { return std::make_shared<IdleChipModel>(); }

}  // namespace tulx7sim
