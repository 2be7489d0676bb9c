#include "perspective/shared_frame_plan.h"

namespace ulm3 {
namespace {

thread_local const ULMSharedFramePlan* tActivePlan = nullptr;

}  // namespace

ULMSharedFramePlan::ULMSharedFramePlan(const std::optional<ULMImageRange>& inPicture,
                                       const std::optional<ULMFrameVolumeBox>& inBox)
    : m_picture(inPicture), m_box(inBox), m_outer(tActivePlan) {
    tActivePlan = this;
}

ULMSharedFramePlan::~ULMSharedFramePlan() { tActivePlan = m_outer; }

const ULMSharedFramePlan* ULMSharedFramePlan::Active() { return tActivePlan; }

}  // namespace ulm3
