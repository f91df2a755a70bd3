#pragma once

#include <QString>

#include <optional>

class JsonWriter;
struct JsonValue;

// The server's own timings of one edit, in milliseconds.
struct TimingInfo {
    double total_ms = 0;
    std::optional<double> api_ms;

    // Throws DecodingError naming the key under `codingPath` and the problem.
    static TimingInfo decode(const JsonValue& value, const QString& codingPath);
    void encode(JsonWriter& writer) const;

    bool operator==(const TimingInfo&) const = default;
};
