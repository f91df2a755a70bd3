#pragma once

#include "sdk/BridgedError.h"

#include <QString>

#include <mutex>
#include <vector>

// Our client of the crash-reporting service. The application reaches it through
// SentrySDK::shared(); tests may make instances of their own.
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

    void captureMessage(const QString& message);
    void captureError(const BridgedError& error);

    // Everything captured so far, in order.
    std::vector<Report> reports() const;
    void clearReports();

private:
    mutable std::mutex mutex;
    std::vector<Report> captured;
};
