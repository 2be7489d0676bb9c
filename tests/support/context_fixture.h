// Contexts need an open library: these tests open it over the simulated
// platform and count the shareable objects still alive.
#pragma once

#include "foundation/control.h"
#include "support/sim_library_fixture.h"
#include "ulm3/context.h"
#include "ulm3/library.h"

namespace ulm3::testing {

class ContextTest : public ulm3::test_support::SimLibraryTest {
protected:
    using SimLibraryTest::SimLibraryTest;
    void SetUp() override {
        SimLibraryTest::SetUp();
        ASSERT_EQ(ULMOpen(), kULMOK);
    }

    static int LiveObjects() {
        return gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed;
    }
};

}  // namespace ulm3::testing
