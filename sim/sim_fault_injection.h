// Failures a test asks the driver to inject into the nth request of a kind:
// refused at submission, failed at completion, or lost on the way to the
// driver.
#pragma once

#include <cstdint>
#include <vector>

namespace tulx7sim {

class SimFaultInjection {
public:
    void AddSubmitFailure(uint32_t code, int nth, int32_t status);
    void AddCompletionFailure(uint32_t code, int nth, int32_t status);
    void AddTransportFailure(uint32_t code, int nth);
    void Clear();

    // Count one request of `code` against each injection of its kind; true
    // (and the first due injection's status) when one falls due.
    bool FireSubmit(uint32_t code, int32_t& status) { return Fire(m_submit, code, &status); }
    bool FireCompletion(uint32_t code, int32_t& status) { return Fire(m_completion, code, &status); }
    bool FireTransport(uint32_t code) { return Fire(m_transport, code, nullptr); }

private:
    struct Injection {
        uint32_t code = 0;
        int remaining = 0;
        int32_t status = 0;
    };

    static bool Fire(std::vector<Injection>& injections, uint32_t code, int32_t* status);

    std::vector<Injection> m_submit;
    std::vector<Injection> m_completion;
    std::vector<Injection> m_transport;
};

}  // namespace tulx7sim
