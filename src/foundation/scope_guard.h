// Runs a clean-up when the scope that owns it ends, on whichever exit, so a
// resource taken half-way through a function is given back on every return.
#pragma once

#include <utility>

namespace ulm3 {

template <typename CleanUp>
class ULMScopeGuard {
public:
    explicit ULMScopeGuard(CleanUp inCleanUp) : m_cleanUp(std::move(inCleanUp)) {}
    ~ULMScopeGuard() { RunNow(); }
    ULMScopeGuard(const ULMScopeGuard&) = delete;
    ULMScopeGuard& operator=(const ULMScopeGuard&) = delete;

    // Where the clean-up must come before the scope's end; it runs once.
    void RunNow() {
        if (m_done) return;
        m_done = true;
        m_cleanUp();
    }

private:
    CleanUp m_cleanUp;
    bool m_done = false;
};

}  // namespace ulm3
