#pragma once

#include <QObject>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>

// A thread with its own event loop that runs posted work in order. The SDKs keep all their
// disk and network work here so that the GUI thread only ever hands work over.
class WorkerThread {
public:
    explicit WorkerThread(const QString& name);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `work` on the thread after the work posted before it.
    void post(std::function<void()> work);
    // Ends the event loop; called on the thread, from posted work.
    void quit() { thread.quit(); }
    // Waits for the thread to end; false when it did not end within `timeout`.
    bool wait(std::chrono::milliseconds timeout);
    // Ends the event loop once everything posted so far has run, then waits for the thread.
    bool quitAndWait(std::chrono::milliseconds timeout);

private:
    QThread thread;
    std::unique_ptr<QObject> context;
};
