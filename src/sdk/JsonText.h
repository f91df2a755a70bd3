#pragma once

#include "sdk/AnalyticsProperties.h"

#include <QByteArray>
#include <QString>

// JSON written by hand where key order matters (QJsonObject sorts its keys).
namespace JsonText {
// `text` as a quoted JSON string.
QByteArray quoted(const QString& text);
QByteArray value(const AnalyticsValue& value);
// `"key":value` pairs, comma separated, in the given order.
QByteArray members(const AnalyticsProperties& properties);
} // namespace JsonText
