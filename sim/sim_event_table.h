// The driver's events: ids issued from one counter for every board and
// queue, which of them are still open, the failures they ended with and the
// job behind each open id. Ids are never reused, across resets too.
// Not locked itself: the driver's mutex guards it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>

#include "sim_job.h"

namespace tulx7sim {

class SimEventTable {
public:
    // 0 and the "no event" id are known and complete.
    bool Known(uint32_t id) const;
    bool Complete(uint32_t id) const;
    // The dependency rule: a job that names event X starts once X has
    // finished (and, as its queue runs in order, every job queued before it
    // there).
    bool DependencyMet(uint32_t id) const;

    // Gives `job` `count` new ids, open until Finish; false when the counter
    // would run into the "no event" id.
    bool Issue(const std::shared_ptr<Job>& job, int count);
    // Closes the job's ids; a failure stays with them for good.
    void Finish(const Job& job, int32_t status);

    // The failure an event ended with, 0 for none.
    int32_t FailureOf(uint32_t id) const;
    // The job behind an open id; null once it finished.
    std::shared_ptr<Job> JobOf(uint32_t id) const;
    bool AllComplete() const { return m_incomplete.empty(); }
    // Jobs still open; a copy holding two ids counts once.
    int OpenJobs() const;
    // Open jobs with each of their ids.
    const std::map<uint32_t, std::shared_ptr<Job>>& OpenIds() const { return m_jobsByEvent; }
    uint32_t LastIssued() const { return m_lastIssued; }

private:
    uint32_t m_lastIssued = 0;
    std::set<uint32_t> m_incomplete;
    std::map<uint32_t, int32_t> m_failed;
    std::map<uint32_t, std::shared_ptr<Job>> m_jobsByEvent;
};

}  // namespace tulx7sim
