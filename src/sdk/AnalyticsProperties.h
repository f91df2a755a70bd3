#pragma once

#include <QString>

#include <utility>
#include <variant>
#include <vector>

// A flat analytics property dictionary. Properties keep the order in which they were given.
using AnalyticsValue = std::variant<QString, long long, double, bool>;
using AnalyticsProperties = std::vector<std::pair<QString, AnalyticsValue>>;
