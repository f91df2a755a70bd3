#pragma once

#include "sdk/AnalyticsProperties.h"
#include "sdk/AnalyticsSession.h"
#include "sdk/DiskQueue.h"
#include "sdk/QueueDrain.h"
#include "sdk/PostHogConfig.h"

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
// a flush at `flushAt` events, on a timer and when asked. A batch without an answer (no
// network) waits and is tried again after a growing delay; one answered 408, 429, 500, 502,
// 503, 504 or 3xx likewise, but at most `maxRetries` times more; any other failing status
// drops it. An event file that does not read as an event is set aside. Lives on the SDK's
// worker thread.
class PostHogQueue : public QObject {
public:
    explicit PostHogQueue(PostHogConfig config);
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
    QString loadAnonymousId() const;

    PostHogConfig config;
    QUrl batchEndpoint;
    QString anonymousIdPath;
    DiskQueue queue;
    QString anonymousId;
    AnalyticsProperties standardProperties;
    QNetworkAccessManager network;
    QTimer flushTimer;
    QTimer retryTimer;
    QPointer<QNetworkReply> inFlight;
    QueueDrain draining;
    int batchSize;
    AnalyticsSession session;
    // Failed sends in a row, for the back-off.
    int failures = 0;
    // Answers in a row that failed the batch now at the head of the queue.
    int failedAttempts = 0;
};
