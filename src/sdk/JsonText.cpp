#include "sdk/JsonText.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace JsonText {

QByteArray quoted(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray json;
    json.reserve(utf8.size() + 2);
    json += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\r':
            json += "\\r";
            break;
        case '\t':
            json += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                json +=
                    QByteArrayLiteral("\\u00") +
                    QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                json += c;
        }
    }
    json += '"';
    return json;
}

QByteArray value(const AnalyticsValue& value) {
    struct Writer {
        QByteArray operator()(const QString& text) const { return quoted(text); }
        QByteArray operator()(long long number) const { return QByteArray::number(number); }
        QByteArray operator()(double number) const {
            return std::isfinite(number) ? QByteArray::number(number, 'g', 17)
                                         : QByteArrayLiteral("null");
        }
        QByteArray operator()(bool flag) const { return flag ? "true" : "false"; }
    };
    return std::visit(Writer{}, value);
}

QByteArray members(const AnalyticsProperties& properties) {
    QByteArray json;
    for (const auto& [key, entry] : properties) {
        if (!json.isEmpty())
            json += ',';
        json += quoted(key) + ':' + value(entry);
    }
    return json;
}

bool isEvent(const QByteArray& json) {
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError && document.isObject() &&
           document.object().value(QStringLiteral("event")).isString();
}

} // namespace JsonText
