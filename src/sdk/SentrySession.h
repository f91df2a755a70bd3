#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// One release-health session: what the server is told at its start, at each error and at
// its end. Only status, errors and duration change after the first update.
struct SentrySession {
    enum class Status { ok, exited, crashed, abnormal };

    QString sid;
    QString distinctId;
    QDateTime started;
    QDateTime timestamp;
    Status status = Status::ok;
    int errors = 0;
    // True only until the first update has been queued for sending.
    bool init = true;
    qint64 sequence = 0;
    QString release;
    QString environment;
    bool inferIpAddress = false;

    static SentrySession begin(QString distinctId, QString release, QString environment,
                               bool inferIpAddress, QDateTime now);
    // Ends the session with a terminal status at `now`.
    void end(Status terminalStatus, QDateTime now);

    QJsonObject toJson() const;
    static std::optional<SentrySession> fromJson(const QJsonObject& json);
};
