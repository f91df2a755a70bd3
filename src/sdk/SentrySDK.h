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
    bool isEnabled() const { return client != nullptr; }

    void captureMessage(const QString& message);
    void captureError(const BridgedError& error);

    // The most recent captures (at most `recordLimit`), in order.
    std::vector<Report> reports() const;
    void clearReports();
    static constexpr std::size_t recordLimit = 1000;

private:
    void record(Report report);

    mutable std::mutex mutex;
    std::deque<Report> captured;
    bool started = false;
    SentryOptions options;
    std::unique_ptr<WorkerThread> worker;
    // Used only on the worker thread, where it is also destroyed.
    std::shared_ptr<SentryClient> client;
    QMetaObject::Connection quitConnection;
};
