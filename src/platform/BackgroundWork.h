#pragma once

#include "platform/MainQueue.h"

#include <QPointer>
#include <QThreadPool>

#include <coroutine>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// Work that would stall the GUI thread (encoding, decoding, compressing large images) runs on
// Qt's global thread pool; its result comes back as one job on the main queue, so results
// reach the GUI thread in the order their work finished and after the events queued before.
namespace BackgroundWork {

// Runs `work` on a thread of `pool`, then `done(result)` on the GUI thread, unless `context` is
// gone by then. The context may be destroyed while the work runs: the pool thread only hands
// the result to the application, and the GUI thread alone asks whether the context lives. A
// pool of its own suits work that itself spreads over the global pool, which a task of that
// pool must not wait for.
template <typename Work, typename Done>
void run(QThreadPool* pool, QObject* context, Work work, Done done) {
    pool->start([context = QPointer<QObject>(context), work = std::move(work),
                 done = std::move(done)]() mutable {
        auto result = std::make_shared<std::invoke_result_t<Work&>>(work());
        MainQueue::async([context, done = std::move(done), result]() mutable {
            if (context)
                done(std::move(*result));
        });
    });
}

// The same on Qt's global pool.
template <typename Work, typename Done> void run(QObject* context, Work work, Done done) {
    run(QThreadPool::globalInstance(), context, std::move(work), std::move(done));
}

// Drops `values` on a pool thread. Freeing a 4K image gives its 33 MB back to the system, page
// by page, for several milliseconds (tens on a loaded machine): no business of the GUI thread.
// Whatever still shares the values keeps them, as with any copy dropped.
template <typename... Values> void discard(Values&&... values) {
    QThreadPool::globalInstance()->start(
        [... kept = std::forward<Values>(values)]() mutable { ((kept = {}), ...); });
}

// `co_await BackgroundWork::result(work)` in a coroutine on the GUI thread: `work` runs on a
// pool thread and the coroutine resumes, with its result, as a job of its own on the main
// queue. The awaiter lives in the suspended coroutine's frame until it resumes.
template <typename Work> class [[nodiscard]] Awaiter {
public:
    using Result = std::invoke_result_t<Work&>;
    Awaiter(QThreadPool* pool, Work work)
        : pool(pool)
        , work(std::move(work)) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        pool->start([this, handle] {
            value.emplace(work());
            MainQueue::async([handle] { handle.resume(); });
        });
    }
    Result await_resume() { return std::move(*value); }

private:
    QThreadPool* pool;
    Work work;
    std::optional<Result> value;
};

// The same on a pool of the caller's: Qt spreads a smooth scaling or a format conversion over
// its global pool only when called from outside it, so work made mostly of those would run
// them on one core from a thread of the global pool.
template <typename Work> Awaiter<Work> result(QThreadPool* pool, Work work) {
    return Awaiter<Work>(pool, std::move(work));
}

template <typename Work> Awaiter<Work> result(Work work) {
    return result(QThreadPool::globalInstance(), std::move(work));
}

} // namespace BackgroundWork
