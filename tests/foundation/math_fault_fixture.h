// A fixture that records the faults reported to the error handler, with the
// library's default epsilon, and puts both back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "foundation/control.h"
#include "ulm3/status.h"

namespace ulm3::testing {

class RecordingErrorHandler : public ULMErrorHandler {
public:
    void ErrorNotify(int status, const char*, int) override { m_statuses.push_back(status); }
    std::vector<int> m_statuses;
};

class MathFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedHandler = gULMControl.m_errorHandler;
        m_savedEpsilon = gULMControl.m_epsilon;
        gULMControl.m_errorHandler = &m_recorder;
        gULMControl.m_epsilon = 1e-10;
    }
    void TearDown() override {
        gULMControl.m_errorHandler = m_savedHandler;
        gULMControl.m_epsilon = m_savedEpsilon;
    }

    // The faults reported since the last call, which forgets them.
    std::vector<int> TakeFaults() {
        std::vector<int> faults;
        faults.swap(m_recorder.m_statuses);
        return faults;
    }

    RecordingErrorHandler m_recorder;

private:
    ULMErrorHandler* m_savedHandler = nullptr;
    double m_savedEpsilon = 0.0;
};

inline const std::vector<int> kOneMathFault{kULMErrMath};

}  // namespace ulm3::testing
