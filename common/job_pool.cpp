// The worker threads of RunJobs and the --jobs value.
#include "job_pool.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "count_text.h"

namespace {

void TakeItems(std::atomic<size_t>* next, size_t count, const std::function<void(size_t)>& work) {
    for (size_t i = next->fetch_add(1); i < count; i = next->fetch_add(1)) {
        work(i);
    }
}

// A thread that the system refuses to start leaves its share to the others
// and to the calling thread; no exception leaves this function.
bool StartWorker(std::vector<std::thread>* workers, std::atomic<size_t>* next, size_t count,
                 const std::function<void(size_t)>& work) {
    try {
        workers->emplace_back(TakeItems, next, count, std::cref(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

void RunJobs(size_t count, unsigned jobs, const std::function<void(size_t)>& work) {
    if (jobs <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            work(i);
        }
        return;
    }
    const size_t threads = count < jobs ? count : jobs;
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    // The calling thread is one of the workers.
    for (size_t t = 1; t < threads && StartWorker(&workers, &next, count, work); ++t) {
    }
    TakeItems(&next, count, work);
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void RunJobsPerNode(const std::vector<std::string_view>& nodes, unsigned jobs,
                    const std::function<void(size_t)>& work) {
    std::vector<std::vector<size_t>> groups;
    std::unordered_map<std::string_view, size_t> byNode;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const auto [slot, added] = byNode.emplace(nodes[i], groups.size());
        if (added) {
            groups.emplace_back();
        }
        groups[slot->second].push_back(i);
    }
    RunJobs(groups.size(), jobs, [&groups, &work](size_t group) {
        for (size_t i : groups[group]) {
            work(i);
        }
    });
}

bool ParseJobs(const char* text, unsigned* jobs) {
    return ParseCount(text, kMaxJobs, jobs);
}
