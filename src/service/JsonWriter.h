#pragma once

#include "service/JsonValue.h"

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>

// Writes compact JSON into one buffer. Callers keep the structure balanced; commas between
// members and elements are placed here.
class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void value(bool flag);
    // Throws std::domain_error for infinities and NaN, which JSON cannot hold.
    void value(double number);
    void value(QByteArrayView utf8Text);
    void null();
    // A parsed value written back whole, members in their order.
    void value(const JsonValue& parsed);

    const QByteArray& data() const { return buffer; }

private:
    void separate();
    void writeString(QByteArrayView utf8Text);

    QByteArray buffer;
    bool needsComma = false;
};
