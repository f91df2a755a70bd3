#include "sdk/WorkerThread.h"

#include <QDeadlineTimer>
#include <QMetaObject>

WorkerThread::WorkerThread(const QString& name)
    : context(std::make_unique<QObject>()) {
    thread.setObjectName(name);
    context->moveToThread(&thread);
    thread.start();
}

WorkerThread::~WorkerThread() {
    quitAndWait(std::chrono::seconds(10));
}

void WorkerThread::post(std::function<void()> work) {
    QMetaObject::invokeMethod(context.get(), std::move(work), Qt::QueuedConnection);
}

bool WorkerThread::wait(std::chrono::milliseconds timeout) {
    return thread.wait(QDeadlineTimer(timeout));
}

bool WorkerThread::quitAndWait(std::chrono::milliseconds timeout) {
    if (thread.isFinished() || !thread.isRunning())
        return true;
    post([this] { thread.quit(); });
    return thread.wait(QDeadlineTimer(timeout));
}
