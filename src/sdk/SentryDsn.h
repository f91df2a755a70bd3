#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// A project's DSN: {scheme}://{public_key}[:{secret_key}]@{host}[:{port}]{path}/{project_id}.
class SentryDsn {
public:
    static std::optional<SentryDsn> parse(const QString& text);

    // {scheme}://{host}[:{port}]{path}/api/{project_id}/envelope/
    QUrl envelopeEndpoint() const;
    // The X-Sentry-Auth header value for a client named `client` ("name/version").
    QByteArray authHeader(const QString& client) const;

    QString publicKey;
    QString secretKey;
    QString projectId;

private:
    QUrl base;
};
