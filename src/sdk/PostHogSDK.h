#pragma once

#include "sdk/AnalyticsProperties.h"
#include "sdk/PostHogConfig.h"

#include <QMetaObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PostHogQueue;
class WorkerThread;

// Our client of the product-analytics service. The application reaches it through
// PostHogSDK::shared(); tests may make instances of their own. A capture only hands the event
// to the SDK's own worker thread, which queues it on disk and sends it in batches.
class PostHogSDK {
public:
    struct Event {
        QString name;
        std::optional<AnalyticsProperties> properties;

        bool operator==(const Event&) const = default;
    };

    static PostHogSDK& shared();

    PostHogSDK();
    ~PostHogSDK();
    PostHogSDK(const PostHogSDK&) = delete;
    PostHogSDK& operator=(const PostHogSDK&) = delete;

    // May run before the application object exists: the worker starts at the first capture.
    // With an empty key nothing is stored or sent. Later calls are ignored.
    void setup(const PostHogConfig& config);

    void capture(const QString& event);
    void capture(const QString& event, const AnalyticsProperties& properties);
    // Sends what is queued now.
    void flush();
    // Sends what is queued, waiting at most the shutdown time; runs by itself at quit.
    void close();

    // The most recent captures (at most `recordLimit`), in order.
    std::vector<Event> events() const;
    void clearEvents();
    static constexpr std::size_t recordLimit = 1000;

private:
    struct WorkerState;

    void post(std::function<void(PostHogQueue&)> work);
    void enqueue(const QString& event, std::optional<AnalyticsProperties> properties);
    bool ensureStarted();

    mutable std::mutex mutex;
    std::deque<Event> captured;
    std::optional<PostHogConfig> config;
    bool closed = false;
    std::unique_ptr<WorkerThread> worker;
    // Made, used and destroyed on the worker thread, whose work is posted in order: this
    // thread never waits for the queue to load what is on disk.
    std::shared_ptr<WorkerState> state;
    QMetaObject::Connection quitConnection;
};
