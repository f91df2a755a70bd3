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
// Whether `json` is one whole event: a JSON object with an "event" name, and nothing more.
bool isEvent(const QByteArray& json);
} // namespace JsonText
