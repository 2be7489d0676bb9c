// Event ids and the dependency rule between them.
#include "sim_event_table.h"

#include "tulx7/driver_requests.h"

namespace tulx7sim {

namespace {

bool NoEvent(uint32_t id) { return id == 0 || id == TULX7_DR_NO_EVENT; }

}  // namespace

bool SimEventTable::Known(uint32_t id) const { return NoEvent(id) || id <= m_lastIssued; }

bool SimEventTable::Complete(uint32_t id) const {
    if (NoEvent(id)) return true;
    return id <= m_lastIssued && m_incomplete.count(id) == 0;
}

// X alone: the jobs issued before X on other boards, or in other queues,
// are not waited for. The earlier jobs of the waiting job's own queue have
// finished anyway, since a queue starts only its front job.
bool SimEventTable::DependencyMet(uint32_t id) const { return Complete(id); }

bool SimEventTable::Issue(const std::shared_ptr<Job>& job, int count) {
    if (m_lastIssued >= TULX7_DR_NO_EVENT - 1 - static_cast<uint32_t>(count)) return false;
    for (int i = 0; i < count; ++i) {
        const uint32_t id = ++m_lastIssued;
        job->ids.push_back(id);
        m_incomplete.insert(id);
        m_jobsByEvent[id] = job;
    }
    return true;
}

void SimEventTable::Finish(const Job& job, int32_t status) {
    for (uint32_t id : job.ids) {
        m_incomplete.erase(id);
        m_jobsByEvent.erase(id);
        if (status != TULX7_DR_STATUS_SUCCESS) m_failed[id] = status;
    }
}

int32_t SimEventTable::FailureOf(uint32_t id) const {
    const auto failed = m_failed.find(id);
    return failed == m_failed.end() ? 0 : failed->second;
}

std::shared_ptr<Job> SimEventTable::JobOf(uint32_t id) const {
    const auto found = m_jobsByEvent.find(id);
    return found == m_jobsByEvent.end() ? nullptr : found->second;
}

int SimEventTable::OpenJobs() const {
    std::set<const Job*> jobs;
    for (const auto& [id, job] : m_jobsByEvent) jobs.insert(job.get());
    return static_cast<int>(jobs.size());
}

}  // namespace tulx7sim
