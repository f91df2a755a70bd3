#include "sdk/PostHogSDK.h"

#include "sdk/PostHogQueue.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUuid>

struct PostHogSDK::WorkerState {
    std::unique_ptr<PostHogQueue> queue;
};

PostHogSDK& PostHogSDK::shared() {
    static PostHogSDK instance;
    return instance;
}

PostHogSDK::PostHogSDK() = default;

PostHogSDK::~PostHogSDK() {
    close();
}

void PostHogSDK::setup(const PostHogConfig& configuration) {
    if (config)
        return;
    config = configuration;
}

bool PostHogSDK::ensureStarted() {
    if (worker)
        return true;
    if (closed || !config || config->apiKey.trimmed().isEmpty())
        return false;
    worker = std::make_unique<WorkerThread>(QStringLiteral("posthog-worker"));
    state = std::make_shared<WorkerState>();
    // The queue's network objects must be made on the thread that uses them.
    worker->post([state = state, config = *config] {
        state->queue = std::make_unique<PostHogQueue>(config);
        state->queue->open();
    });
    if (auto* application = QCoreApplication::instance())
        quitConnection =
            QObject::connect(application, &QCoreApplication::aboutToQuit, [this] { close(); });
    return true;
}

void PostHogSDK::post(std::function<void(PostHogQueue&)> work) {
    worker->post([state = state, work = std::move(work)] { work(*state->queue); });
}

void PostHogSDK::capture(const QString& event) {
    enqueue(event, std::nullopt);
}

void PostHogSDK::capture(const QString& event, const AnalyticsProperties& properties) {
    enqueue(event, properties);
}

void PostHogSDK::enqueue(const QString& event, std::optional<AnalyticsProperties> properties) {
    {
        std::lock_guard lock(mutex);
        captured.push_back({event, properties});
        if (captured.size() > recordLimit)
            captured.pop_front();
    }
    if (!ensureStarted())
        return;
    post([event, properties = std::move(properties), time = QDateTime::currentDateTimeUtc(),
          uuid = QUuid::createUuid().toString(QUuid::WithoutBraces)](PostHogQueue& queue) {
        queue.add(event, properties, time, uuid);
    });
}

void PostHogSDK::flush() {
    if (worker)
        post([](PostHogQueue& queue) { queue.flush(); });
}

void PostHogSDK::close() {
    closed = true;
    if (!worker)
        return;
    QObject::disconnect(quitConnection);
    WorkerThread* thread = worker.get();
    worker->post([closing = std::move(state), thread, timeout = config->shutdownTimeInterval] {
        closing->queue->drain(timeout, [closing, thread] {
            // Destroyed on its own thread, after the drain's call stack has unwound.
            thread->post([closing, thread] {
                closing->queue.reset();
                thread->quit();
            });
        });
    });
    if (worker->wait(config->shutdownTimeInterval + std::chrono::seconds(5)))
        worker.reset();
    else
        static_cast<void>(worker.release()); // still running: destroying it would abort us
}

std::vector<PostHogSDK::Event> PostHogSDK::events() const {
    std::lock_guard lock(mutex);
    return {captured.begin(), captured.end()};
}

void PostHogSDK::clearEvents() {
    std::lock_guard lock(mutex);
    captured.clear();
}
