#pragma once

#include "sdk/AnalyticsProperties.h"
#include "sdk/DiskQueue.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkReply;

// The analytics events waiting on disk, one file each, and their way to the batch endpoint:
// a flush at `flushAt` events, on a timer and when asked; a failed batch (no answer, 408,
// 429, 3xx, 5xx) stays queued and is tried again after a growing delay. Lives on the SDK's
// worker thread.
class PostHogQueue : public QObject {
public:
    struct Settings {
        QUrl batchEndpoint;
        QString apiKey;
        QString queueDirectory;
        QString anonymousIdPath;
        int flushAt = 20;
        int maxBatchSize = 50;
        int maxQueueSize = 1000;
        std::chrono::milliseconds flushInterval{30000};
        std::chrono::milliseconds retryDelay{1000};
        std::chrono::milliseconds maxRetryDelay{30000};
        std::chrono::milliseconds requestTimeout{30000};
    };

    explicit PostHogQueue(Settings settings);
    ~PostHogQueue() override;

    // Loads the queue left by earlier runs and the anonymous id (made once, then kept).
    void open();
    void add(const QString& event, const std::optional<AnalyticsProperties>& properties,
             const QDateTime& time, const QString& uuid);
    // Sends everything queued, batch after batch, unless waiting after a failure.
    void flush();
    // Sends until the queue is empty, a batch fails or `timeout` passes, then calls `done`.
    void drain(std::chrono::milliseconds timeout, std::function<void()> done);
    const QString& distinctId() const { return anonymousId; }

private:
    void sendBatch();
    void handleReply(QNetworkReply* reply, const std::vector<QString>& paths);
    void retryLater(std::chrono::milliseconds serverDelay);
    void finishDrain();
    QString loadAnonymousId() const;

    Settings settings;
    DiskQueue queue;
    QString anonymousId;
    AnalyticsProperties standardProperties;
    QNetworkAccessManager network;
    QTimer flushTimer;
    QTimer retryTimer;
    QTimer drainTimer;
    QPointer<QNetworkReply> inFlight;
    std::function<void()> drainDone;
    int batchSize;
    int failures = 0;
};
