#pragma once

#include "sdk/BridgedError.h"
#include "sdk/SentryOptions.h"

#include <QMetaObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class SentryClient;
class WorkerThread;

// Our client of the crash-reporting service. The application reaches it through
// SentrySDK::shared(); tests may make instances of their own. Captures on the calling thread
// only hand the work to the SDK's own worker thread, which writes every envelope to a cache
// folder before sending it.
class SentrySDK {
public:
    struct Report {
        enum class Kind { message, error };
        Kind kind;
        QString message;    // for a message
        BridgedError error; // for an error

        bool operator==(const Report&) const = default;
    };

    static SentrySDK& shared();

    SentrySDK();
    ~SentrySDK();
    SentrySDK(const SentrySDK&) = delete;
    SentrySDK& operator=(const SentrySDK&) = delete;

    // Starts crash reporting once; later calls are ignored. With an empty or invalid DSN
    // nothing is stored or sent. Closes by itself when the application quits.
    void start(const std::function<void(SentryOptions&)>& configureOptions);
    void start(SentryOptions options);
    // Ends the session and sends what is cached, waiting at most the shutdown time.
    void close();
    bool isEnabled() const { return worker != nullptr; }

    void captureMessage(const QString& message);
    void captureError(const BridgedError& error);

    // The most recent captures (at most `recordLimit`), in order.
    std::vector<Report> reports() const;
    void clearReports();
    static constexpr std::size_t recordLimit = 1000;

private:
    struct WorkerState;

    void record(Report report);
    void post(std::function<void(SentryClient&)> work);

    mutable std::mutex mutex;
    std::deque<Report> captured;
    bool started = false;
    SentryOptions options;
    std::unique_ptr<WorkerThread> worker;
    // Made, used and destroyed on the worker thread, whose work is posted in order: this
    // thread never waits for the client to load what is on disk.
    std::shared_ptr<WorkerState> state;
    QMetaObject::Connection quitConnection;
};
