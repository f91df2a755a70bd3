#include "service/JsonField.h"

namespace JsonField {

namespace {

const char* expectedName(JsonValue::Type type) {
    switch (type) {
    case JsonValue::Type::boolean:
        return "Bool";
    case JsonValue::Type::number:
        return "Double";
    case JsonValue::Type::string:
        return "String";
    case JsonValue::Type::array:
        return "Array";
    case JsonValue::Type::object:
        return "Dictionary";
    case JsonValue::Type::null:
        return "null";
    }
    return "value";
}

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

void requireType(const JsonValue& value, JsonValue::Type type, const QString& at) {
    if (value.type == type)
        return;
    if (value.type == JsonValue::Type::null)
        throw DecodingError(DecodingError::Kind::valueNotFound, at,
                            QStringLiteral("Expected %1 value but found null instead.")
                                .arg(QLatin1String(expectedName(type))));
    throw DecodingError(
        DecodingError::Kind::typeMismatch, at,
        QStringLiteral("Expected to decode %1 but found %2 instead.")
            .arg(QLatin1String(expectedName(type)), QLatin1String(typeName(value.type))));
}

} // namespace

QString path(const QString& parent, std::string_view key) {
    return parent.isEmpty() ? keyText(key) : parent + u'.' + keyText(key);
}

QString elementPath(const QString& parent, qsizetype index) {
    return parent + u'[' + QString::number(index) + u']';
}

const char* typeName(JsonValue::Type type) {
    switch (type) {
    case JsonValue::Type::null:
        return "null";
    case JsonValue::Type::boolean:
        return "a boolean";
    case JsonValue::Type::number:
        return "a number";
    case JsonValue::Type::string:
        return "a string";
    case JsonValue::Type::array:
        return "an array";
    case JsonValue::Type::object:
        return "a dictionary";
    }
    return "a value";
}

void requireObject(const JsonValue& value, const QString& at) {
    requireType(value, JsonValue::Type::object, at);
}

const JsonValue& required(const JsonValue& object, std::string_view key, JsonValue::Type type,
                          const QString& parentPath) {
    const JsonValue* value = object.member(key);
    if (!value)
        throw DecodingError(
            DecodingError::Kind::keyNotFound, path(parentPath, key),
            QStringLiteral("No value associated with key \"%1\".").arg(keyText(key)));
    requireType(*value, type, path(parentPath, key));
    return *value;
}

const JsonValue* optional(const JsonValue& object, std::string_view key, JsonValue::Type type,
                          const QString& parentPath) {
    const JsonValue* value = object.member(key);
    if (!value || value->type == JsonValue::Type::null)
        return nullptr;
    requireType(*value, type, path(parentPath, key));
    return value;
}

} // namespace JsonField
