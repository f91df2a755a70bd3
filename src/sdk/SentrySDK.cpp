#include "sdk/SentrySDK.h"

#include "platform/Logger.h"
#include "sdk/NativeCrashHandler.h"
#include "sdk/SentryClient.h"
#include "sdk/SentryDsn.h"
#include "sdk/SentryEventBuilder.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <future>

SentrySDK& SentrySDK::shared() {
    static SentrySDK instance;
    return instance;
}

SentrySDK::SentrySDK() = default;

SentrySDK::~SentrySDK() {
    close();
}

void SentrySDK::start(const std::function<void(SentryOptions&)>& configureOptions) {
    SentryOptions configured;
    if (configureOptions)
        configureOptions(configured);
    start(std::move(configured));
}

void SentrySDK::start(SentryOptions startOptions) {
    if (started)
        return;
    started = true;
    options = std::move(startOptions);
    const Logger logger{QStringLiteral("com.app.pixaloom"), QStringLiteral("SentrySDK")};
    if (options.dsn.trimmed().isEmpty())
        return;
    const auto dsn = SentryDsn::parse(options.dsn);
    if (!dsn) {
        logger.error("The crash-reporting DSN is not valid; crash reporting is off");
        return;
    }
    if (options.cacheDirectoryPath.isEmpty())
        options.cacheDirectoryPath =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
            QStringLiteral("/pixaloom/sentry");
    const QString release =
        options.releaseName.value_or(SentryEventBuilder::defaultReleaseName().value_or(QString()));
    SentryEventBuilder builder(release, options.environment, options.sendDefaultPii);

    if (options.enableCrashHandler) {
        // Installed before start returns, so a crash right after start is still caught.
        const auto crashes = SentryClient::Paths::under(options.cacheDirectoryPath).crashes;
        QDir().mkpath(crashes);
        const QString eventId = SentryEventBuilder::newEventId();
        NativeCrashHandler::install(crashes, eventId, builder.crashEventPrefix(eventId));
    }

    const QString clientName =
        SentryEventBuilder::sdkName + QLatin1Char('/') + SentryEventBuilder::sdkVersion;
    SentryTransport::Settings transport{dsn->envelopeEndpoint(),
                                        dsn->authHeader(clientName),
                                        clientName,
                                        {},
                                        options.maxCacheItems,
                                        options.networkRetryInterval,
                                        options.requestTimeout};
    worker = std::make_unique<WorkerThread>(QStringLiteral("sentry-worker"));
    const auto now = QDateTime::currentDateTimeUtc();
    // The client's network objects must be made on the thread that uses them.
    std::promise<std::shared_ptr<SentryClient>> made;
    worker->post([&] {
        auto created = std::make_shared<SentryClient>(options, transport, builder);
        created->open(now);
        made.set_value(std::move(created));
    });
    client = made.get_future().get();
    if (auto* application = QCoreApplication::instance())
        quitConnection =
            QObject::connect(application, &QCoreApplication::aboutToQuit, [this] { close(); });
}

void SentrySDK::close() {
    if (!client)
        return;
    QObject::disconnect(quitConnection);
    if (options.enableCrashHandler)
        NativeCrashHandler::disable();
    WorkerThread* thread = worker.get();
    const auto now = QDateTime::currentDateTimeUtc();
    worker->post([closing = std::move(client), thread, now] {
        closing->close(now, [closing, thread] {
            // Destroyed on its own thread, after the drain's call stack has unwound.
            thread->post([closing, thread]() mutable {
                closing.reset();
                thread->quit();
            });
        });
    });
    // The drain ends by itself within the shutdown time; the margin covers a busy thread.
    if (worker->wait(options.shutdownTimeInterval + std::chrono::seconds(5)))
        worker.reset();
    else
        static_cast<void>(worker.release()); // still running: destroying it would abort us
}

void SentrySDK::record(Report report) {
    std::lock_guard lock(mutex);
    captured.push_back(std::move(report));
    if (captured.size() > recordLimit)
        captured.pop_front();
}

void SentrySDK::captureMessage(const QString& message) {
    record({Report::Kind::message, message, {}});
    if (!client)
        return;
    SentryClient* running = client.get();
    worker->post([running, message, eventId = SentryEventBuilder::newEventId(),
                  time = QDateTime::currentDateTimeUtc()] {
        running->captureMessage(message, eventId, time);
    });
}

void SentrySDK::captureError(const BridgedError& error) {
    record({Report::Kind::error, {}, error});
    if (!client)
        return;
    SentryClient* running = client.get();
    worker->post(
        [running, error, eventId = SentryEventBuilder::newEventId(),
         time = QDateTime::currentDateTimeUtc()] { running->captureError(error, eventId, time); });
}

std::vector<SentrySDK::Report> SentrySDK::reports() const {
    std::lock_guard lock(mutex);
    return {captured.begin(), captured.end()};
}

void SentrySDK::clearReports() {
    std::lock_guard lock(mutex);
    captured.clear();
}
