#pragma once

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace WorkerThreads {

// How many threads one large job (an image's compression, inflation or decoding) splits
// over: every core, but no more than eight, past which the memory bus is the limit.
inline int count() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
}

// Runs `job(0)`, ..., `job(count - 1)` at once: the first on the calling thread, each other on
// a thread of its own, and returns when all have run. A job whose thread cannot be started
// runs on the calling thread after the first, so the work is done even when the system has
// no thread to spare.
template <typename Job> void runEach(int count, const Job& job) {
    std::vector<int> leftOver;
    {
        std::vector<std::jthread> threads;
        for (int index = 1; index < count; ++index) {
            try {
                threads.emplace_back([&job, index] { job(index); });
            } catch (const std::system_error&) {
                leftOver.push_back(index);
            }
        }
        if (count > 0)
            job(0);
        for (const int index : leftOver)
            job(index);
    } // joins
}

// Lowers the calling thread's priority for the rest of its life, for threads that only help
// a large job along: while the job has every core busy, the GUI thread (a fade frame, the
// spinner) and the X server then get a core as soon as they wake, instead of waiting out a
// time slice behind the helpers. Only for threads started for the job: the kernel does not
// let an ordinary user raise a thread's priority again.
inline void yieldToInteractiveThreads() {
    constexpr int helperNiceness = 10;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), helperNiceness);
}

} // namespace WorkerThreads
