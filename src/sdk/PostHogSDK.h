#pragma once

#include "sdk/AnalyticsProperties.h"

#include <QString>

#include <mutex>
#include <optional>
#include <vector>

// Our client of the product-analytics service. The application reaches it through
// PostHogSDK::shared(); tests may make instances of their own.
class PostHogSDK {
public:
    struct Event {
        QString name;
        std::optional<AnalyticsProperties> properties;

        bool operator==(const Event&) const = default;
    };

    static PostHogSDK& shared();

    void capture(const QString& event);
    void capture(const QString& event, const AnalyticsProperties& properties);

    // Everything captured so far, in order.
    std::vector<Event> events() const;
    void clearEvents();

private:
    mutable std::mutex mutex;
    std::vector<Event> captured;
};
