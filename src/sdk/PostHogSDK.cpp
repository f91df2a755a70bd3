#include "sdk/PostHogSDK.h"

PostHogSDK& PostHogSDK::shared() {
    static PostHogSDK instance;
    return instance;
}

void PostHogSDK::capture(const QString& event) {
    std::lock_guard lock(mutex);
    captured.push_back({event, std::nullopt});
}

void PostHogSDK::capture(const QString& event, const AnalyticsProperties& properties) {
    std::lock_guard lock(mutex);
    captured.push_back({event, properties});
}

std::vector<PostHogSDK::Event> PostHogSDK::events() const {
    std::lock_guard lock(mutex);
    return captured;
}

void PostHogSDK::clearEvents() {
    std::lock_guard lock(mutex);
    captured.clear();
}
