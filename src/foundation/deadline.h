// The deadline of a wait that spans several blocking calls.
#pragma once

#include <chrono>

namespace ulm3 {

// Starts when made, on the monotonic clock; a negative time has no limit.
class ULMDeadline {
public:
    explicit ULMDeadline(long milliseconds)
        : m_unlimited(milliseconds < 0),
          m_end(m_unlimited ? Clock::time_point::max()
                            : Clock::now() + std::chrono::milliseconds(milliseconds)) {}

    // Milliseconds left, rounded up; -1 for no limit, 0 once passed.
    long RemainingMs() const {
        if (m_unlimited) return -1;
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        return static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

private:
    using Clock = std::chrono::steady_clock;
    bool m_unlimited;
    Clock::time_point m_end;
};

}  // namespace ulm3
