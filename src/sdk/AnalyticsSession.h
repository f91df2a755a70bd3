#pragma once

#include <QDateTime>
#include <QString>

// The analytics session id ("$session_id"): a UUID v7, replaced after 30 minutes without an
// event or 24 hours after the session began. Not the crash reporter's session.
class AnalyticsSession {
public:
    static constexpr qint64 idleLimitMs = 30 * 60 * 1000;
    static constexpr qint64 totalLimitMs = 24 * 60 * 60 * 1000;

    // The id for an event at `time`; a new session when the current one has run out.
    QString idAt(const QDateTime& time);

    // A UUID v7: the 48-bit Unix time in milliseconds, then random bits.
    static QString uuidV7(qint64 unixMilliseconds);

private:
    QString id;
    qint64 startedMs = 0;
    qint64 lastEventMs = 0;
};
