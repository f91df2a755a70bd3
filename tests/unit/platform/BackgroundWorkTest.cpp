#include "platform/BackgroundWork.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <semaphore>

namespace {

// A coroutine that starts at once and frees itself at its end, as the editor's edit task does.
struct Detached {
    struct promise_type {
        Detached get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
};

struct Awaited {
    QThread* workedOn = nullptr;
    QThread* resumedOn = nullptr;
    int result = 0;
};

Detached awaitWork(QThreadPool* pool, Awaited& awaited) {
    auto work = [&awaited] {
        awaited.workedOn = QThread::currentThread();
        return 42;
    };
    // Named: g++ 12 destroys temporaries of a co_await expression twice.
    auto awaiter = pool ? BackgroundWork::result(pool, work) : BackgroundWork::result(work);
    const int result = co_await awaiter;
    awaited.resumedOn = QThread::currentThread();
    awaited.result = result;
}

// Qt spreads its smooth scaling over the global pool only when called from outside it: work
// given a pool of its own must run there, and its result still come back on the GUI thread.
TEST(BackgroundWork, AwaitedWorkRunsOnThePoolItIsGiven) {
    QThreadPool own;
    const struct {
        const char* name;
        QThreadPool* pool;
    } cases[] = {{"global pool", nullptr}, {"own pool", &own}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Awaited awaited;
        awaitWork(c.pool, awaited);
        const QDeadlineTimer deadline(10'000);
        while (awaited.result == 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

        ASSERT_EQ(awaited.result, 42);
        EXPECT_EQ(awaited.resumedOn, QCoreApplication::instance()->thread());
        EXPECT_EQ(QThreadPool::globalInstance()->contains(awaited.workedOn), c.pool == nullptr);
        if (c.pool) {
            EXPECT_TRUE(c.pool->contains(awaited.workedOn));
        }
    }
}

TEST(BackgroundWork, HandsTheResultToTheGuiThreadOnlyWhileTheContextLives) {
    const struct {
        const char* name;
        bool contextDestroyedDuringWork;
    } cases[] = {{"context lives", false}, {"context destroyed while the work runs", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto context = std::make_unique<QObject>();
        std::binary_semaphore mayFinish(0);
        std::atomic<QThread*> workedOn = nullptr;
        QThread* doneOn = nullptr;
        int handed = 0;
        BackgroundWork::run(
            context.get(),
            [&] {
                workedOn = QThread::currentThread();
                mayFinish.acquire();
                return 42;
            },
            [&](int result) {
                doneOn = QThread::currentThread();
                handed = result;
            });
        if (c.contextDestroyedDuringWork)
            context.reset();
        mayFinish.release();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();

        EXPECT_NE(workedOn.load(), QCoreApplication::instance()->thread());
        if (c.contextDestroyedDuringWork) {
            EXPECT_EQ(handed, 0);
        } else {
            EXPECT_EQ(handed, 42);
            EXPECT_EQ(doneOn, QCoreApplication::instance()->thread());
        }
    }
}

} // namespace
