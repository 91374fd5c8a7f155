// Tests of the pool that queries devices side by side: every item done once
// whatever the number of jobs, one job in the calling thread and in order,
// and the --jobs values.
#include "job_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(RunJobs, EveryItemIsDoneOnceAtAnyNumberOfJobs) {
    for (unsigned jobs : {1u, 2u, 8u, 64u}) {
        for (size_t count : {0u, 1u, 5u, 100u}) {
            std::vector<std::atomic<int>> done(count);
            std::mutex lock;
            std::vector<std::thread::id> threads;
            RunJobs(count, jobs, [&](size_t i) {
                done[i].fetch_add(1);
                const std::lock_guard<std::mutex> guard(lock);
                threads.push_back(std::this_thread::get_id());
            });
            for (size_t i = 0; i < count; ++i) {
                EXPECT_EQ(done[i].load(), 1) << "item " << i << ", " << jobs << " jobs";
            }
            std::sort(threads.begin(), threads.end());
            const auto distinct = std::unique(threads.begin(), threads.end()) - threads.begin();
            EXPECT_LE(static_cast<size_t>(distinct),
                      std::max<size_t>(1, std::min<size_t>(jobs, count)));
        }
    }
}

TEST(RunJobs, OneJobRunsInTheCallingThreadInOrder) {
    std::vector<size_t> order;
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    RunJobs(6, 1, [&](size_t i) {
        order.push_back(i);
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
    });
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(elsewhere);
}

TEST(ParseJobs, TakesDecimalNumbersFromOneTo1024) {
    const struct {
        const char* text;
        bool ok;
        unsigned jobs;
    } kCases[] = {
        {"1", true, 1},   {"32", true, 32},   {"1024", true, 1024},
        {"0", false, 0},  {"1025", false, 0}, {"-1", false, 0},
        {"+4", false, 0}, {"4x", false, 0},   {"", false, 0},
        {" 4", false, 0}, {"08", false, 0},   {"99999999999999999999", false, 0},
    };
    for (const auto& c : kCases) {
        unsigned jobs = 0;
        EXPECT_EQ(ParseJobs(c.text, &jobs), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(jobs, c.jobs) << c.text;
        }
    }
    EXPECT_FALSE(ParseJobs(nullptr, nullptr));
}

}  // namespace
