#pragma once

#include <QTimer>

#include <chrono>
#include <functional>

// The last sending of a queue before its worker ends. It lasts until the sender has nothing
// more it can send now or until the time is up, whichever comes first; then the sender is
// stopped and `done` runs, once.
class QueueDrain {
public:
    // `stopSending` ends the request in flight, if any, and the sender's timers.
    explicit QueueDrain(std::function<void()> stopSending);

    void start(std::chrono::milliseconds timeout, std::function<void()> done);
    // Called whenever the sender runs out of what it can send now; does nothing unless
    // draining.
    void finish();

private:
    std::function<void()> stopSending;
    std::function<void()> done;
    QTimer deadline;
};
