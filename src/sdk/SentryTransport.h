#pragma once

#include "sdk/DiskQueue.h"
#include "sdk/QueueDrain.h"
#include "sdk/SentryRateLimits.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkReply;

// Sends envelopes from the on-disk cache, oldest first, one at a time. An envelope leaves
// the cache when the server took it (2xx) or can never take it (4xx other than 429); after
// a 429 it waits out the rate limit, after a server error or no answer it is tried again
// later. Lives on the SDK's worker thread.
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
    };

    explicit SentryTransport(Settings settings);
    ~SentryTransport() override;

    bool open();
    // Caches an envelope, then sends what the cache holds.
    void store(const QByteArray& envelope);
    void sendPending();
    // Sends what is cached until the cache is empty, a send fails or `timeout` passes, then
    // calls `done`. Whatever is left stays cached for the next start.
    void drain(std::chrono::milliseconds timeout, std::function<void()> done);
    int droppedCount() const { return cache.droppedCount() + discarded; }

private:
    void send(const QString& path, QByteArray envelope);
    void handleReply(QNetworkReply* reply, const QString& path);

    Settings settings;
    DiskQueue cache;
    SentryRateLimits rateLimits;
    QNetworkAccessManager network;
    // After a failed send nothing goes until this fires.
    QTimer retryTimer;
    // Wakes the sending when a rate limit ends; other categories go meanwhile.
    QTimer rateLimitTimer;
    QPointer<QNetworkReply> inFlight;
    QueueDrain draining;
    int discarded = 0;
};
