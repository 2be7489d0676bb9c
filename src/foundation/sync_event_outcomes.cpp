// Failures of handles whose table slots moved on.
#include "foundation/sync_event_outcomes.h"

#include "foundation/locks.h"

namespace ulm3 {

namespace {

struct FailureRecord {
    uint64_t word = 0;
    ULMStatus status = kULMOK;
};

// A ring: the newest record takes the place of the oldest. Looked up only
// for handles whose slot moved on, which are few.
struct FailureRecords {
    ULMMutex lock;
    int next = 0;
    FailureRecord records[kULMRememberedFailures];
};

// Never destroyed, like the tables whose handles it serves.
FailureRecords& Records() {
    static FailureRecords* const records = new FailureRecords();
    return *records;
}

}  // namespace

void ULMRememberFailure(uint64_t inWord, ULMStatus inStatus) {
    if (!ULMFailed(inStatus) || inWord == 0) return;
    FailureRecords& records = Records();
    ULMScopedLock hold(records.lock);
    records.records[records.next] = {inWord, inStatus};
    records.next = (records.next + 1) % kULMRememberedFailures;
}

ULMStatus ULMRememberedOutcome(uint64_t inWord) {
    FailureRecords& records = Records();
    ULMScopedLock hold(records.lock);
    for (const FailureRecord& record : records.records)
        if (record.word == inWord) return record.status;
    return kULMOK;
}

}  // namespace ulm3
