#pragma once

#include <QString>

#include <chrono>
#include <optional>

// Severity of an event and of the SDK's own diagnostic output.
enum class SentryLevel { none = 0, debug = 1, info = 2, warning = 3, error = 4, fatal = 5 };

// What SentrySDK::start configures. Fields the application does not set keep these defaults.
struct SentryOptions {
    // Empty: crash reporting is off; nothing is stored or sent.
    QString dsn;
    // The SDK's own diagnostic lines in the log, from `diagnosticLevel` up.
    bool debug = false;
    SentryLevel diagnosticLevel = SentryLevel::debug;
    // Asks the server to fill in the user's IP address from the connection.
    bool sendDefaultPii = false;
    // One session from start to close, marked errored and crashed as it goes.
    bool enableAutoSessionTracking = true;
    QString environment = QStringLiteral("production");
    // Without a release name, the application's identifier@version+build when known.
    std::optional<QString> releaseName;
    // Fatal signals and uncaught exceptions are written to disk and sent at the next start.
    bool enableCrashHandler = true;
    // Envelopes kept on disk while they cannot be sent; the oldest go first.
    int maxCacheItems = 30;
    // Empty: the XDG cache folder's pixaloom/sentry.
    QString cacheDirectoryPath;
    // How long closing waits for queued envelopes to go out.
    std::chrono::milliseconds shutdownTimeInterval{2000};
    // After a failed send (no connection, server error), the next try.
    std::chrono::milliseconds networkRetryInterval{60000};
    // A request that makes no progress for this long is given up and tried again later.
    std::chrono::milliseconds requestTimeout{30000};
};
