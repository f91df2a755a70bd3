#pragma once

#include "LoopbackHttpServer.h"
#include "sdk/SentryEnvelope.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <vector>

// What the SDK tests read back from the loopback servers.
namespace SdkTestSupport {

inline QString dsnFor(const LoopbackHttpServer& server) {
    return QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:%1/42")
        .arg(server.port());
}

inline std::vector<SentryEnvelope>
envelopes(const std::vector<LoopbackHttpServer::Request>& requests) {
    std::vector<SentryEnvelope> result;
    for (const auto& request : requests)
        if (auto envelope = SentryEnvelope::parse(request.body))
            result.push_back(std::move(*envelope));
    return result;
}

// The JSON of every item of `type` in the envelopes, in order.
inline std::vector<QJsonObject> items(const std::vector<SentryEnvelope>& envelopes,
                                      const QString& type) {
    std::vector<QJsonObject> result;
    for (const auto& envelope : envelopes)
        for (const auto& item : envelope.items)
            if (item.type == type)
                result.push_back(QJsonDocument::fromJson(item.payload).object());
    return result;
}

// Every analytics event of every batch, in order.
inline std::vector<QJsonObject>
batchedEvents(const std::vector<LoopbackHttpServer::Request>& requests) {
    std::vector<QJsonObject> result;
    for (const auto& request : requests) {
        const auto body = QJsonDocument::fromJson(request.body).object();
        for (const auto& event : body.value(QStringLiteral("batch")).toArray())
            result.push_back(event.toObject());
    }
    return result;
}

// The value at a path of keys and array indexes, as "exception/values/0/type".
inline QJsonValue valueAt(QJsonValue value, const QString& path) {
    for (const QString& step : path.split(u'/')) {
        bool isIndex = false;
        const int index = step.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(step);
    }
    return value;
}

// Writes a file and its folder, as an earlier run would have left it.
inline bool writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

inline int fileCount(const QString& directory) {
    return static_cast<int>(QDir(directory).entryList(QDir::Files).size());
}

} // namespace SdkTestSupport
