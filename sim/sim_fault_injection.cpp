// Injected failures, counted down per request code.
#include "sim_fault_injection.h"

#include <algorithm>

namespace tulx7sim {

void SimFaultInjection::AddSubmitFailure(uint32_t code, int nth, int32_t status) {
    m_submit.push_back({code, std::max(nth, 1), status});
}

void SimFaultInjection::AddCompletionFailure(uint32_t code, int nth, int32_t status) {
    m_completion.push_back({code, std::max(nth, 1), status});
}

void SimFaultInjection::AddTransportFailure(uint32_t code, int nth) {
    m_transport.push_back({code, std::max(nth, 1), 0});
}

void SimFaultInjection::Clear() {
    m_submit.clear();
    m_completion.clear();
    m_transport.clear();
}

bool SimFaultInjection::Fire(std::vector<Injection>& injections, uint32_t code, int32_t* status) {
    bool fired = false;
    for (auto it = injections.begin(); it != injections.end();) {
        if (it->code == code && --it->remaining <= 0) {
            if (!fired && status != nullptr) *status = it->status;
            fired = true;
            it = injections.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

}  // namespace tulx7sim
