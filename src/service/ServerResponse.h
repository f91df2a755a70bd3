#pragma once

#include "service/ResponsePart.h"
#include "service/TimingInfo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string_view>
#include <vector>

// The edit server's whole reply.
struct ServerResponse {
    enum class CodingKeys { success, parts, timing, error };
    static std::string_view stringValue(CodingKeys key);

    bool success = false;
    std::vector<ResponsePart> parts;
    std::optional<TimingInfo> timing;
    std::optional<QString> error;

    // Strict decoding of a reply body: the first problem fails the whole reply with a
    // DecodingError naming the key and the problem. Unknown keys are ignored at every level.
    // Part contents without escapes point into `json`, which must outlive the response.
    static ServerResponse decode(QByteArrayView json);
    // Required fields always, optional ones only when they hold a value.
    QByteArray encode() const;

    bool operator==(const ServerResponse&) const = default;
};
