#include "sdk/QueueDrain.h"

QueueDrain::QueueDrain(std::function<void()> stopSending)
    : stopSending(std::move(stopSending)) {
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [this] { finish(); });
}

void QueueDrain::start(std::chrono::milliseconds timeout, std::function<void()> whenDone) {
    done = std::move(whenDone);
    deadline.start(timeout);
}

void QueueDrain::finish() {
    if (!done)
        return;
    // Taken first: aborting the request in flight reports its failure, which finishes again.
    auto callback = std::exchange(done, nullptr);
    deadline.stop();
    stopSending();
    callback();
}
