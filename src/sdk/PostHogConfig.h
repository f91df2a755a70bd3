#pragma once

#include <QString>

#include <chrono>

// What PostHogSDK::setup configures: the project API key and the ingestion host; every
// other field keeps its default unless a test shortens it.
struct PostHogConfig {
    PostHogConfig() = default;
    PostHogConfig(QString apiKey, QString host)
        : apiKey(std::move(apiKey))
        , host(std::move(host)) {}

    // Empty: analytics is off; nothing is stored or sent.
    QString apiKey;
    // Empty: the US cloud's ingestion host.
    QString host;
    // A batch goes out once this many events wait, and every `flushIntervalSeconds`.
    int flushAt = 20;
    double flushIntervalSeconds = 30;
    int maxBatchSize = 50;
    // Events kept on disk at most; when full the oldest is dropped.
    int maxQueueSize = 1000;
    // After the n-th failed batch in a row the next try waits n times this, at most
    // `maxRetryDelay` (longer when the server asks for it with Retry-After).
    std::chrono::milliseconds retryDelay{1000};
    std::chrono::milliseconds maxRetryDelay{30000};
    // A batch the server keeps failing (408, 429, 5xx, 3xx) is tried this many times more,
    // then dropped. Waiting for the network does not count.
    int maxRetries = 3;
    std::chrono::milliseconds requestTimeout{30000};
    // How long quitting waits for queued events to go out.
    std::chrono::milliseconds shutdownTimeInterval{2000};
    // Empty: the XDG cache folder's pixaloom/posthog (the queue) and the XDG data folder's
    // pixaloom/posthog (the anonymous id).
    QString storageDirectoryPath;
    QString dataDirectoryPath;
};
