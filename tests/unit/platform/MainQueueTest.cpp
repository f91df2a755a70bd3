#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

void drain() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

TEST(MainQueue, RunsWorkLaterInTheOrderQueued) {
    std::vector<int> order;
    auto context = std::make_unique<QObject>();
    MainQueue::async([&] { order.push_back(1); });
    MainQueue::async(context.get(), [&] { order.push_back(2); });
    MainQueue::async([&] {
        order.push_back(3);
        MainQueue::async([&] { order.push_back(5); });
    });
    MainQueue::async([&] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    drain();
    drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(MainQueue, SkipsWorkWhoseContextIsGone) {
    bool ran = false;
    auto context = std::make_unique<QObject>();
    MainQueue::async(context.get(), [&] { ran = true; });
    context.reset();
    drain();
    EXPECT_FALSE(ran);
}

TEST(MainQueue, WorkQueuedFromAnotherThreadRunsOnTheGuiThread) {
    QThread* runOn = nullptr;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { MainQueue::async([&] { runOn = QThread::currentThread(); }); }));
    worker->start();
    worker->wait();
    drain();
    EXPECT_EQ(runOn, QCoreApplication::instance()->thread());
}

} // namespace
