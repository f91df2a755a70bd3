#pragma once

#include "sdk/BridgedError.h"
#include "sdk/SentryEventBuilder.h"
#include "sdk/SentryOptions.h"
#include "sdk/SentrySession.h"
#include "sdk/SentryTransport.h"

#include <QDateTime>
#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>

// The crash reporter's work on its worker thread: turns captures into envelopes, keeps the
// session, and at start sends what the previous run left (its crash, its open session).
class SentryClient {
public:
    struct Paths {
        QString envelopes;
        QString crashes;
        QString currentSession;
        QString installationId;
        static Paths under(const QString& cacheDirectory);
    };

    // `crashEventId`: the event this run's crash handler would write, if it is armed.
    SentryClient(SentryOptions options, SentryTransport::Settings transport,
                 SentryEventBuilder builder, QString crashEventId);
    ~SentryClient();

    void open(const QDateTime& now);
    void captureMessage(const QString& text, const QString& eventId, const QDateTime& time);
    void captureError(const BridgedError& error, const QString& eventId, const QDateTime& time);
    // Ends the session as exited and sends what is cached within the shutdown time.
    void close(const QDateTime& now, std::function<void()> done);
    int droppedCount() const { return transport->droppedCount(); }

private:
    void sendPreviousRun(const QDateTime& now);
    void store(const QJsonObject& event, bool withSession);
    void storeSessionUpdate();
    void saveSession();
    QString installationId();
    void diagnostic(SentryLevel level, const QString& text) const;

    SentryOptions options;
    Paths paths;
    SentryEventBuilder builder;
    std::unique_ptr<SentryTransport> transport;
    std::optional<SentrySession> session;
    QString installation;
    QString crashEventId;
};
