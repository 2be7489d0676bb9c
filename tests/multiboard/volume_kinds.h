// Volumes of every kind the public creator makes (plain, mipmap, banded,
// bricked, and a mipmap volume over either), and a fixture that checks the
// order in which the passes between them take their locks.
#pragma once

#include <cstdint>

#include "foundation/locks.h"
#include "support/context_fixture.h"
#include "ulm3.h"

namespace ulm3::testing {

// How a volume comes out of ULMVolume::Create: the parameters that wrap it.
struct VolumeKind {
    const char* name;
    bool mipmap;
    int mode;        // 0 plain, 1 bands, 2 bricks
    int pieces = 0;  // 0: one copy or brick per board
};

// inCreate's volume, made with the parameters that wrap it as inKind says;
// the volumes made after it come plain again.
template <typename Create>
ULMVolume* CreateVolumeOfKind(const VolumeKind& inKind, const Create& inCreate) {
    ULMSetParameter("MipmapMinVolumeSize", inKind.mipmap ? 16 : 1 << 24);
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("MultiboardRenderMode", inKind.mode == 2 ? 2 : 1);
    ULMSetParameter("MultiboardForceNumberOfVolumes", static_cast<uint64_t>(inKind.pieces));
    ULMSetParameter("MultiboardRenderEnable", inKind.mode != 0 ? 1 : 0);
    ULMVolume* volume = inCreate();
    ULMSetParameter("MultiboardRenderEnable", 0);
    return volume;
}

// The lock-order check on for each test, its record emptied before and
// after.
class LockOrderCheckedTest : public ContextTest {
protected:
    explicit LockOrderCheckedTest(int inBoards) : ContextTest(test_support::SimBoards(inBoards)) {}
    void SetUp() override {
        ContextTest::SetUp();
        ULMClearLockOrder();
        ULMSetLockOrderChecking(true);
    }
    void TearDown() override {
        ULMSetLockOrderChecking(false);
        ULMClearLockOrder();
        ContextTest::TearDown();
    }
};

}  // namespace ulm3::testing
