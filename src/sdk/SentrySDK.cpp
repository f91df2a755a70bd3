#include "sdk/SentrySDK.h"

#include "platform/Logger.h"
#include "sdk/NativeCrashHandler.h"
#include "sdk/SentryClient.h"
#include "sdk/SentryDsn.h"
#include "sdk/SentryEventBuilder.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>

struct SentrySDK::WorkerState {
    std::unique_ptr<SentryClient> client;
};

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

    QString crashEventId;
    if (options.enableCrashHandler) {
        // Armed before start returns, so a crash right after start is still caught; the
        // worker makes the folder, and the crash waits a moment for that.
        const auto crashes = SentryClient::Paths::under(options.cacheDirectoryPath).crashes;
        crashEventId = SentryEventBuilder::newEventId();
        NativeCrashHandler::install(crashes, crashEventId, builder.crashEventPrefix(crashEventId));
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
    state = std::make_shared<WorkerState>();
    // The client's network objects must be made on the thread that uses them.
    if (options.enableCrashHandler)
        NativeCrashHandler::beginPendingWork(); // so that a crash keeps this run's session
    worker->post([state = state, options = options, transport, builder, crashEventId,
                  now = QDateTime::currentDateTimeUtc()] {
        if (options.enableCrashHandler)
            NativeCrashHandler::setWorkerThread();
        state->client = std::make_unique<SentryClient>(options, transport, builder, crashEventId);
        state->client->open(now);
        if (options.enableCrashHandler)
            NativeCrashHandler::endPendingWork();
    });
    if (auto* application = QCoreApplication::instance())
        quitConnection =
            QObject::connect(application, &QCoreApplication::aboutToQuit, [this] { close(); });
}

void SentrySDK::post(std::function<void(SentryClient&)> work) {
    // A crash waits a moment for what was captured just before it.
    const bool crashWaits = options.enableCrashHandler;
    if (crashWaits)
        NativeCrashHandler::beginPendingWork();
    worker->post([state = state, work = std::move(work), crashWaits] {
        work(*state->client);
        if (crashWaits)
            NativeCrashHandler::endPendingWork();
    });
}

void SentrySDK::close() {
    if (!worker)
        return;
    QObject::disconnect(quitConnection);
    if (options.enableCrashHandler)
        NativeCrashHandler::disable();
    WorkerThread* thread = worker.get();
    worker->post([closing = std::move(state), thread, now = QDateTime::currentDateTimeUtc()] {
        closing->client->close(now, [closing, thread] {
            // Destroyed on its own thread, after the drain's call stack has unwound.
            thread->post([closing, thread] {
                closing->client.reset();
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
    if (!worker)
        return;
    post([message, eventId = SentryEventBuilder::newEventId(),
          time = QDateTime::currentDateTimeUtc()](SentryClient& client) {
        client.captureMessage(message, eventId, time);
    });
}

void SentrySDK::captureError(const BridgedError& error) {
    record({Report::Kind::error, {}, error});
    if (!worker)
        return;
    post([error, eventId = SentryEventBuilder::newEventId(),
          time = QDateTime::currentDateTimeUtc()](SentryClient& client) {
        client.captureError(error, eventId, time);
    });
}

std::vector<SentrySDK::Report> SentrySDK::reports() const {
    std::lock_guard lock(mutex);
    return {captured.begin(), captured.end()};
}

void SentrySDK::clearReports() {
    std::lock_guard lock(mutex);
    captured.clear();
}
