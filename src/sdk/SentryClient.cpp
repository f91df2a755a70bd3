#include "sdk/SentryClient.h"

#include "platform/Logger.h"
#include "sdk/SentryEnvelope.h"
#include "sdk/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QUuid>

namespace {
const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"), QStringLiteral("SentrySDK")};
    return instance;
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
} // namespace

SentryClient::Paths SentryClient::Paths::under(const QString& cacheDirectory) {
    const QDir dir(cacheDirectory);
    return Paths{dir.filePath(QStringLiteral("envelopes")), dir.filePath(QStringLiteral("crashes")),
                 dir.filePath(QStringLiteral("session.current")),
                 dir.filePath(QStringLiteral("installation.id"))};
}

SentryClient::SentryClient(SentryOptions options, SentryTransport::Settings transportSettings,
                           SentryEventBuilder builder, QString crashEventId)
    : options(std::move(options))
    , paths(Paths::under(this->options.cacheDirectoryPath))
    , builder(std::move(builder))
    , crashEventId(std::move(crashEventId)) {
    transportSettings.directory = paths.envelopes;
    transport = std::make_unique<SentryTransport>(std::move(transportSettings));
}

SentryClient::~SentryClient() = default;

void SentryClient::diagnostic(SentryLevel level, const QString& text) const {
    if (options.debug && options.diagnosticLevel != SentryLevel::none &&
        level >= options.diagnosticLevel)
        logger().info("Sentry: %s", text);
}

QString SentryClient::installationId() {
    if (!installation.isEmpty())
        return installation;
    const auto stored = WholeFile::read(paths.installationId);
    installation = stored ? QString::fromUtf8(stored->trimmed()) : QString();
    if (installation.isEmpty()) {
        installation = QUuid::createUuid().toString(QUuid::Id128);
        if (!WholeFile::write(paths.installationId, installation.toUtf8()))
            logger().error("Could not keep the installation id in %s", paths.installationId);
    }
    return installation;
}

void SentryClient::open(const QDateTime& now) {
    if (!transport->open())
        logger().error("Could not create the crash-report cache in %s", paths.envelopes);
    QDir().mkpath(paths.crashes);
    sendPreviousRun(now);
    if (options.enableAutoSessionTracking && !builder.release().isEmpty()) {
        session = SentrySession::begin(installationId(), builder.release(), builder.environment(),
                                       options.sendDefaultPii, now);
        storeSessionUpdate();
        diagnostic(SentryLevel::debug, QStringLiteral("Started session %1").arg(session->sid));
    }
    transport->sendPending();
}

void SentryClient::sendPreviousRun(const QDateTime& now) {
    std::optional<SentrySession> previous;
    if (const auto stored = WholeFile::read(paths.currentSession))
        previous = SentrySession::fromJson(QJsonDocument::fromJson(*stored).object());
    QFile::remove(paths.currentSession);

    const QDir crashes(paths.crashes);
    // This run's handler may be writing its own crash this very moment, on another thread.
    const auto ofThisRun = [&](const QString& name) {
        return !crashEventId.isEmpty() && name.startsWith(crashEventId + QLatin1Char('.'));
    };
    for (const auto& name :
         crashes.entryList({QStringLiteral("*.crash")}, QDir::Files, QDir::Name)) {
        if (ofThisRun(name))
            continue;
        const QString path = crashes.filePath(name);
        const auto bytes = WholeFile::read(path);
        QJsonParseError error;
        auto event = QJsonDocument::fromJson(bytes.value_or(QByteArray()), &error).object();
        if (error.error != QJsonParseError::NoError || event.isEmpty()) {
            logger().error("Discarding an unreadable crash report %s", path);
            QFile::remove(path);
            continue;
        }
        builder.addUser(event, installationId());
        SentryEnvelope envelope;
        envelope.header = {{QStringLiteral("event_id"), event.value("event_id")},
                           {QStringLiteral("sdk"), builder.sdk()}};
        envelope.items.push_back({QStringLiteral("event"), compact(event)});
        // The crashed run's session ends with its crash, in the same envelope.
        if (previous && previous->status == SentrySession::Status::ok) {
            previous->init = false;
            previous->end(SentrySession::Status::crashed, now);
            previous->errors = std::max(previous->errors + 1, 1);
            envelope.items.push_back({QStringLiteral("session"), compact(previous->toJson())});
        }
        // The crash file goes only once its envelope is cached or sent: a full disk must not
        // cost the report.
        transport->store(envelope.serialize(), path);
        diagnostic(SentryLevel::info, QStringLiteral("Queued the crash report of the last run"));
    }
    // Unfinished crashes of runs that died while writing them.
    for (const auto& name : crashes.entryList({QStringLiteral("*.tmp")}, QDir::Files))
        if (!ofThisRun(name))
            QFile::remove(crashes.filePath(name));

    if (previous && previous->status == SentrySession::Status::ok) {
        // The last run vanished without closing or crashing.
        previous->init = false;
        previous->end(SentrySession::Status::abnormal, now);
        SentryEnvelope envelope;
        envelope.header = {{QStringLiteral("sdk"), builder.sdk()}};
        envelope.items.push_back({QStringLiteral("session"), compact(previous->toJson())});
        transport->store(envelope.serialize());
    }
}

void SentryClient::store(const QJsonObject& event, bool withSession) {
    SentryEnvelope envelope;
    envelope.header = {{QStringLiteral("event_id"), event.value("event_id")},
                       {QStringLiteral("sdk"), builder.sdk()}};
    envelope.items.push_back({QStringLiteral("event"), compact(event)});
    if (withSession && session) {
        ++session->sequence;
        envelope.items.push_back({QStringLiteral("session"), compact(session->toJson())});
        session->init = false;
        saveSession();
    }
    transport->store(envelope.serialize());
}

void SentryClient::storeSessionUpdate() {
    ++session->sequence;
    SentryEnvelope envelope;
    envelope.header = {{QStringLiteral("sdk"), builder.sdk()}};
    envelope.items.push_back({QStringLiteral("session"), compact(session->toJson())});
    session->init = false;
    saveSession();
    transport->store(envelope.serialize());
}

void SentryClient::saveSession() {
    if (!WholeFile::write(paths.currentSession, compact(session->toJson())))
        logger().error("Could not save the session in %s", paths.currentSession);
}

void SentryClient::captureMessage(const QString& text, const QString& eventId,
                                  const QDateTime& time) {
    auto event = builder.message(text, eventId, time);
    builder.addUser(event, installationId());
    diagnostic(SentryLevel::debug, QStringLiteral("Capturing message %1").arg(eventId));
    // Messages never count as session errors.
    store(event, false);
}

void SentryClient::captureError(const BridgedError& error, const QString& eventId,
                                const QDateTime& time) {
    auto event = builder.error(error, eventId, time);
    builder.addUser(event, installationId());
    diagnostic(SentryLevel::debug, QStringLiteral("Capturing error %1").arg(eventId));
    if (session) {
        ++session->errors;
        session->timestamp = time;
    }
    store(event, true);
}

void SentryClient::close(const QDateTime& now, std::function<void()> done) {
    if (session) {
        session->end(SentrySession::Status::exited, now);
        storeSessionUpdate();
        session.reset();
        QFile::remove(paths.currentSession);
    }
    transport->drain(options.shutdownTimeInterval, std::move(done));
}
