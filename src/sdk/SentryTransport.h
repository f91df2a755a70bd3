#pragma once

#include "sdk/DiskQueue.h"
#include "sdk/QueueDrain.h"
#include "sdk/SentryEnvelope.h"
#include "sdk/SentryRateLimits.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <set>

class QNetworkReply;

// Sends envelopes from the on-disk cache, oldest first, one at a time. An envelope leaves
// the cache when the server took it (2xx) or can never take it (4xx other than 429). Items of
// a rate-limited category are left out of what is sent; an envelope with nothing else waits
// for its limit to end. An envelope the server failed to take (5xx and other answers) waits
// with a growing pause while the others go, and is given up after `maxFailures` such answers
// (`maxCrashFailures` when it holds a crash), counted across runs. Without any answer (no
// network, a time-out) every envelope waits `retryInterval` and nothing is counted. Lives on
// the SDK's worker thread.
class SentryTransport : public QObject {
public:
    struct Settings {
        QUrl endpoint;
        QByteArray authHeader;
        QString userAgent;
        QString directory;
        int maxCacheItems = 30;
        std::chrono::milliseconds retryInterval{60000};
        std::chrono::milliseconds requestTimeout{30000};
        int maxFailures = 5;
        int maxCrashFailures = 10;
    };

    explicit SentryTransport(Settings settings);
    ~SentryTransport() override;

    bool open();
    // Caches an envelope, then sends what the cache holds. `replaces`: a file holding the same
    // report in another form, removed once the envelope is cached on disk or sent.
    void store(const QByteArray& envelope, const QString& replaces = {});
    void sendPending();
    // Sends what is cached until the cache is empty, a send fails or `timeout` passes, then
    // calls `done`. Whatever is left stays cached for the next start.
    void drain(std::chrono::milliseconds timeout, std::function<void()> done);
    int droppedCount() const { return cache.droppedCount() + discarded; }

private:
    using Clock = SentryRateLimits::Clock;

    void send(const QString& path, SentryEnvelope envelope);
    void handleReply(QNetworkReply* reply, const QString& path);
    void handleServerFailure(const QString& path, int status);
    void discard(const QString& path);
    // A session's first update (init) that left a full cache hands its flag to the session's
    // next cached update, or to the next one stored.
    void keepSessionStarts(const QByteArray& evicted);
    void carryInitFlags();

    Settings settings;
    DiskQueue cache;
    SentryRateLimits rateLimits;
    QNetworkAccessManager network;
    // After a send without an answer nothing goes until this fires.
    QTimer retryTimer;
    // Wakes the sending when a rate limit or an envelope's pause ends; others go meanwhile.
    QTimer wakeTimer;
    // Envelopes the server failed to take in this run, and when each may go again.
    std::map<QString, Clock::time_point> pausedUntil;
    std::set<QString> sessionsToStart;
    QPointer<QNetworkReply> inFlight;
    QueueDrain draining;
    int discarded = 0;
};
