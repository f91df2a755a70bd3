#pragma once

#include <algorithm>
#include <thread>

namespace WorkerThreads {

// How many threads one large job (an image's compression, inflation or decoding) splits
// over: every core, but no more than eight, past which the memory bus is the limit.
inline int count() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
}

} // namespace WorkerThreads
