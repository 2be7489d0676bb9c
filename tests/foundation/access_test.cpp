#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/access.h"

using namespace ulm3;

namespace {

constexpr ULMStatus OK = kULMOK, NO = kULMErrAccess, BAD = kULMErrArgument;

// Rows: the mode held after granting the row's mode on a free volume (row 0:
// nothing held). Columns: the mode asked for next, 0 to 7.
TEST(Access, GrantMatrix) {
    const ULMStatus expected[7][8] = {
        /* free            */ {BAD, OK, OK, OK, OK, OK, OK, BAD},
        /* read exclusive  */ {BAD, NO, NO, NO, NO, NO, NO, BAD},
        /* read shared     */ {BAD, NO, OK, NO, NO, NO, NO, BAD},
        /* write: held as write exclusive */ {BAD, NO, NO, NO, NO, NO, NO, BAD},
        /* write exclusive */ {BAD, NO, NO, NO, NO, NO, NO, BAD},
        /* write shared    */ {BAD, NO, OK, OK, NO, OK, NO, BAD},
        /* write only excl */ {BAD, NO, NO, NO, NO, NO, NO, BAD},
    };
    const ULMAccessType heldAs[7] = {kULMAccessNoControl,      kULMAccessReadExclusive,  kULMAccessReadShared,
                                     kULMAccessWriteExclusive, kULMAccessWriteExclusive, kULMAccessWriteShared,
                                     kULMAccessWriteOnlyExclusive};
    for (int held = 0; held < 7; ++held) {
        for (int asked = 0; asked < 8; ++asked) {
            SCOPED_TRACE(testing::Message() << "held " << held << ", asked " << asked);
            ULMAccessInternal access;
            if (held != 0) {
                ASSERT_EQ(access.AddAccess(static_cast<ULMAccessType>(held)), kULMOK);
            }
            EXPECT_EQ(access.GetAccessMode(), heldAs[held]);
            const ULMStatus status = access.AddAccess(static_cast<ULMAccessType>(asked));
            EXPECT_EQ(status, expected[held][asked]);
            // A shared write stays shared whatever joins it; a refusal
            // changes nothing.
            EXPECT_EQ(access.GetAccessMode(), held == 0 && status == kULMOK ? heldAs[asked] : heldAs[held]);
            const int holders = (held != 0) + (status == kULMOK);
            for (int i = 0; i < holders; ++i) ASSERT_EQ(access.ReleaseAccess(), kULMOK);
            EXPECT_EQ(access.GetAccessMode(), kULMAccessNoControl);
        }
    }
}

TEST(AccessDeathTest, ReleaseWithoutHolderAndDestroyWhileHeld) {
    EXPECT_DEATH(ULMAccessInternal().ReleaseAccess(), "m_refCount > 0");
    EXPECT_DEATH(
        {
            ULMAccessInternal access;
            access.AddAccess(kULMAccessReadShared);
        },
        "m_control == kULMAccessNoControl");
}

// Readers share, writers exclude everyone: no reader is ever inside while a
// writer is, and never two writers.
TEST(Access, ExclusionUnderThreads) {
    ULMAccessInternal access;
    std::atomic<int> readers{0}, writers{0}, violations{0}, writes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            const ULMAccessType mode = t % 3 == 0 ? kULMAccessWrite : kULMAccessReadShared;
            std::atomic<int>& mine = mode == kULMAccessWrite ? writers : readers;
            // Readers stop after a fixed number of tries; writers go on until
            // each has written, so steady readers cannot starve them out.
            int written = 0;
            for (int i = 0; i < 20000 || (mode == kULMAccessWrite && written < 100); ++i) {
                if (access.AddAccess(mode) != kULMOK) continue;
                if (mode == kULMAccessWrite) ++written;
                ++mine;
                if (writers > 1 || (writers == 1 && readers > 0)) ++violations;
                if (mode == kULMAccessWrite) ++writes;
                --mine;
                access.ReleaseAccess();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(violations, 0);
    EXPECT_GT(writes, 0);
    EXPECT_EQ(access.GetAccessMode(), kULMAccessNoControl);
}

}  // namespace
