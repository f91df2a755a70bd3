#include "platform/BackgroundWork.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <semaphore>

namespace {

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
