#include "sdk/SentryDsn.h"

std::optional<SentryDsn> SentryDsn::parse(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    if (url.host().isEmpty() || url.userName().isEmpty())
        return std::nullopt;
    QString path = url.path();
    const auto slash = path.lastIndexOf(QLatin1Char('/'));
    const QString project = path.mid(slash + 1);
    if (slash < 0 || project.isEmpty())
        return std::nullopt;

    SentryDsn dsn;
    dsn.publicKey = url.userName();
    dsn.secretKey = url.password();
    dsn.projectId = project;
    dsn.base.setScheme(url.scheme());
    dsn.base.setHost(url.host());
    dsn.base.setPort(url.port());
    dsn.base.setPath(path.left(slash));
    return dsn;
}

QUrl SentryDsn::envelopeEndpoint() const {
    QUrl endpoint = base;
    endpoint.setPath(base.path() + QStringLiteral("/api/%1/envelope/").arg(projectId));
    return endpoint;
}

QByteArray SentryDsn::authHeader(const QString& client) const {
    QString header = QStringLiteral("Sentry sentry_key=%1, sentry_version=7, sentry_client=%2")
                         .arg(publicKey, client);
    if (!secretKey.isEmpty())
        header += QStringLiteral(", sentry_secret=%1").arg(secretKey);
    return header.toUtf8();
}
