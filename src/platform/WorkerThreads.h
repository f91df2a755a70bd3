#pragma once

#include <algorithm>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace WorkerThreads {

// How many threads one large job (an image's compression, inflation or decoding) splits
// over: every core, but no more than eight, past which the memory bus is the limit.
inline int count() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
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
