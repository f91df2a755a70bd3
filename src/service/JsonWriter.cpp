#include "service/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

void JsonWriter::separate() {
    if (needsComma)
        buffer += ',';
}

void JsonWriter::beginObject() {
    separate();
    buffer += '{';
    needsComma = false;
}

void JsonWriter::endObject() {
    buffer += '}';
    needsComma = true;
}

void JsonWriter::beginArray() {
    separate();
    buffer += '[';
    needsComma = false;
}

void JsonWriter::endArray() {
    buffer += ']';
    needsComma = true;
}

void JsonWriter::key(std::string_view name) {
    separate();
    writeString(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    buffer += ':';
    needsComma = false;
}

void JsonWriter::value(bool flag) {
    separate();
    buffer += flag ? "true" : "false";
    needsComma = true;
}

void JsonWriter::value(double number) {
    if (!std::isfinite(number))
        throw std::domain_error("JSON cannot hold an infinite or NaN number");
    separate();
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), number);
    buffer.append(text, result.ptr - text);
    needsComma = true;
}

void JsonWriter::value(QByteArrayView utf8Text) {
    separate();
    writeString(utf8Text);
    needsComma = true;
}

void JsonWriter::null() {
    separate();
    buffer += "null";
    needsComma = true;
}

void JsonWriter::value(const JsonValue& parsed) {
    switch (parsed.type) {
    case JsonValue::Type::null:
        null();
        return;
    case JsonValue::Type::boolean:
        value(parsed.boolean);
        return;
    case JsonValue::Type::number:
        value(parsed.number);
        return;
    case JsonValue::Type::string:
        value(QByteArrayView(parsed.string.data(), static_cast<qsizetype>(parsed.string.size())));
        return;
    case JsonValue::Type::array:
        beginArray();
        for (const JsonValue& element : parsed.elements)
            value(element);
        endArray();
        return;
    case JsonValue::Type::object:
        beginObject();
        for (const JsonMember& member : parsed.members) {
            key(member.key);
            value(member.value);
        }
        endObject();
        return;
    }
}

void JsonWriter::writeString(QByteArrayView utf8Text) {
    static constexpr char hex[] = "0123456789abcdef";
    buffer.reserve(buffer.size() + utf8Text.size() + 2);
    buffer += '"';
    qsizetype plainStart = 0;
    for (qsizetype i = 0; i < utf8Text.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8Text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        buffer.append(utf8Text.data() + plainStart, i - plainStart);
        plainStart = i + 1;
        switch (c) {
        case '"':
            buffer += "\\\"";
            break;
        case '\\':
            buffer += "\\\\";
            break;
        case '\n':
            buffer += "\\n";
            break;
        case '\r':
            buffer += "\\r";
            break;
        case '\t':
            buffer += "\\t";
            break;
        default:
            buffer += "\\u00";
            buffer += hex[c >> 4];
            buffer += hex[c & 0xF];
        }
    }
    buffer.append(utf8Text.data() + plainStart, utf8Text.size() - plainStart);
    buffer += '"';
}
