#include "sdk/SentrySDK.h"

SentrySDK& SentrySDK::shared() {
    static SentrySDK instance;
    return instance;
}

void SentrySDK::captureMessage(const QString& message) {
    std::lock_guard lock(mutex);
    captured.push_back({Report::Kind::message, message, {}});
}

void SentrySDK::captureError(const BridgedError& error) {
    std::lock_guard lock(mutex);
    captured.push_back({Report::Kind::error, {}, error});
}

std::vector<SentrySDK::Report> SentrySDK::reports() const {
    std::lock_guard lock(mutex);
    return captured;
}

void SentrySDK::clearReports() {
    std::lock_guard lock(mutex);
    captured.clear();
}
