#pragma once

#include "sdk/BridgedError.h"
#include "sdk/SentryOptions.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// Builds the JSON of the events we send: messages, bridged errors and the fixed part of a
// crash event, each with release, environment, the OS, device and app contexts and our SDK.
class SentryEventBuilder {
public:
    static inline const QString sdkName = QStringLiteral("pixaloom.sentry");
    static inline const QString sdkVersion = QStringLiteral("1.0.0");

    SentryEventBuilder(QString release, QString environment, bool sendDefaultPii);

    static QString newEventId();
    // The release when none is configured: identifier@version+build from the bundle.
    static std::optional<QString> defaultReleaseName();

    QJsonObject message(const QString& text, const QString& eventId, const QDateTime& time) const;
    QJsonObject error(const BridgedError& error, const QString& eventId,
                      const QDateTime& time) const;
    // A crash event without its closing brace, timestamp and exception, for the crash
    // handler to complete without allocating.
    QByteArray crashEventPrefix(const QString& eventId) const;
    // Adds the user (the installation id; with default PII the IP address taken from the
    // connection) to an event.
    void addUser(QJsonObject& event, const QString& installationId) const;

    QJsonObject sdk() const;
    const QString& release() const { return releaseName; }
    const QString& environment() const { return environmentName; }

private:
    QJsonObject common(const QString& eventId, const QString& level) const;

    QString releaseName;
    QString environmentName;
    bool sendDefaultPii;
    QJsonObject contexts;
};
