#include "sdk/PostHogSDK.h"

#include "sdk/PostHogQueue.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QUuid>

#include <future>

namespace {
const QString defaultHost = QStringLiteral("https://us.i.posthog.com");

QString folder(const QString& configured, QStandardPaths::StandardLocation location) {
    if (!configured.isEmpty())
        return configured;
    return QStandardPaths::writableLocation(location) + QStringLiteral("/pixaloom/posthog");
}

PostHogQueue::Settings queueSettings(const PostHogConfig& config) {
    QString host = config.host.trimmed().isEmpty() ? defaultHost : config.host.trimmed();
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    const QDir storage(folder(config.storageDirectoryPath, QStandardPaths::GenericCacheLocation));
    const QDir data(folder(config.dataDirectoryPath, QStandardPaths::GenericDataLocation));
    return PostHogQueue::Settings{
        QUrl(host + QStringLiteral("/batch/")),
        config.apiKey,
        storage.filePath(QStringLiteral("queue")),
        data.filePath(QStringLiteral("anonymous_id")),
        config.flushAt,
        config.maxBatchSize,
        config.maxQueueSize,
        std::chrono::milliseconds(static_cast<long long>(config.flushIntervalSeconds * 1000)),
        config.retryDelay,
        config.maxRetryDelay,
        config.requestTimeout,
    };
}
} // namespace

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
    if (queue)
        return true;
    if (closed || !config || config->apiKey.trimmed().isEmpty())
        return false;
    worker = std::make_unique<WorkerThread>(QStringLiteral("posthog-worker"));
    // The queue's network objects must be made on the thread that uses them.
    std::promise<std::shared_ptr<PostHogQueue>> made;
    worker->post([&made, settings = queueSettings(*config)] {
        auto created = std::make_shared<PostHogQueue>(settings);
        created->open();
        made.set_value(std::move(created));
    });
    queue = made.get_future().get();
    if (auto* application = QCoreApplication::instance())
        quitConnection =
            QObject::connect(application, &QCoreApplication::aboutToQuit, [this] { close(); });
    return true;
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
    PostHogQueue* running = queue.get();
    worker->post([running, event, properties = std::move(properties),
                  time = QDateTime::currentDateTimeUtc(),
                  uuid = QUuid::createUuid().toString(QUuid::WithoutBraces)] {
        running->add(event, properties, time, uuid);
    });
}

void PostHogSDK::flush() {
    if (!queue)
        return;
    PostHogQueue* running = queue.get();
    worker->post([running] { running->flush(); });
}

void PostHogSDK::close() {
    closed = true;
    if (!queue)
        return;
    QObject::disconnect(quitConnection);
    WorkerThread* thread = worker.get();
    worker->post([closing = std::move(queue), thread, timeout = config->shutdownTimeInterval] {
        closing->drain(timeout, [closing, thread] {
            // Destroyed on its own thread, after the drain's call stack has unwound.
            thread->post([closing, thread]() mutable {
                closing.reset();
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
