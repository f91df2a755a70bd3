#pragma once

#include "service/DecodingError.h"
#include "service/JsonValue.h"

#include <QString>

#include <optional>
#include <string_view>

// Typed reading of one member of a JSON object for the reply records. Every failure is a
// DecodingError whose coding path names the key.
namespace JsonField {

QString path(const QString& parent, std::string_view key);
QString elementPath(const QString& parent, qsizetype index);
const char* typeName(JsonValue::Type type);

// The value of a required key that must have the given type (never null).
const JsonValue& required(const JsonValue& object, std::string_view key, JsonValue::Type type,
                          const QString& parentPath);
// The value of an optional key; nullptr when absent or null, else it must have the type.
const JsonValue* optional(const JsonValue& object, std::string_view key, JsonValue::Type type,
                          const QString& parentPath);
// Fails unless `value` is an object.
void requireObject(const JsonValue& value, const QString& path);

} // namespace JsonField
