// Device queries side by side: the work of a list of devices spread over a
// bounded number of threads. The workers share nothing but the counter of
// the next item; every item is written by the one worker that takes it.
#ifndef TSKIT_COMMON_JOB_POOL_H
#define TSKIT_COMMON_JOB_POOL_H

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

// The most devices queried at once that --jobs accepts, and its default.
constexpr unsigned kMaxJobs = 1024;
constexpr unsigned kDefaultJobs = 32;

// Calls work(i) once for every i below count, on at most jobs threads (never
// more threads than items). With jobs 1, or one item, the calls run in the
// calling thread in order and no thread is started. When a thread cannot be
// started, the calling thread takes its share: every item is still done.
void RunJobs(size_t count, unsigned jobs, const std::function<void(size_t)>& work);

// The same for items named by their device node: items of one node run one
// after another in their order, so that a node never has two commands in
// flight; nodes[i] names item i.
void RunJobsPerNode(const std::vector<std::string_view>& nodes, unsigned jobs,
                    const std::function<void(size_t)>& work);

// Reads a --jobs value: a decimal number from 1 to kMaxJobs without a sign,
// blanks or leading zeros. False for anything else.
bool ParseJobs(const char* text, unsigned* jobs);

#endif  // TSKIT_COMMON_JOB_POOL_H
