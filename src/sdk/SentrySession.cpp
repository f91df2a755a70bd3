#include "sdk/SentrySession.h"

#include <QJsonValue>
#include <QUuid>

#include <array>

namespace {
constexpr std::array statusNames{"ok", "exited", "crashed", "abnormal"};

QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}
} // namespace

SentrySession SentrySession::begin(QString distinctId, QString release, QString environment,
                                   bool inferIpAddress, QDateTime now) {
    SentrySession session;
    session.sid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    session.distinctId = std::move(distinctId);
    session.started = now;
    session.timestamp = now;
    session.release = std::move(release);
    session.environment = std::move(environment);
    session.inferIpAddress = inferIpAddress;
    return session;
}

void SentrySession::end(Status terminalStatus, QDateTime now) {
    status = terminalStatus;
    timestamp = std::move(now);
    if (status == Status::crashed)
        errors = std::max(errors, 1);
}

QJsonObject SentrySession::toJson() const {
    QJsonObject attrs{{QStringLiteral("release"), release},
                      {QStringLiteral("environment"), environment}};
    if (inferIpAddress)
        attrs.insert(QStringLiteral("ip_address"), QStringLiteral("{{auto}}"));
    const double duration = started.msecsTo(timestamp) / 1000.0;
    return QJsonObject{
        {QStringLiteral("sid"), sid},
        {QStringLiteral("did"), distinctId},
        {QStringLiteral("init"), init},
        {QStringLiteral("started"), timeText(started)},
        {QStringLiteral("timestamp"), timeText(timestamp)},
        {QStringLiteral("seq"), sequence},
        {QStringLiteral("duration"), duration},
        {QStringLiteral("status"), QLatin1String(statusNames[static_cast<int>(status)])},
        {QStringLiteral("errors"), errors},
        {QStringLiteral("attrs"), attrs},
    };
}

std::optional<SentrySession> SentrySession::fromJson(const QJsonObject& json) {
    SentrySession session;
    session.sid = json.value(QStringLiteral("sid")).toString();
    session.started =
        QDateTime::fromString(json.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
    session.release = json.value(QStringLiteral("attrs")).toObject().value("release").toString();
    if (session.sid.isEmpty() || !session.started.isValid() || session.release.isEmpty())
        return std::nullopt;
    const auto attrs = json.value(QStringLiteral("attrs")).toObject();
    session.distinctId = json.value(QStringLiteral("did")).toString();
    session.timestamp = QDateTime::fromString(json.value(QStringLiteral("timestamp")).toString(),
                                              Qt::ISODateWithMs);
    session.init = json.value(QStringLiteral("init")).toBool();
    session.sequence = json.value(QStringLiteral("seq")).toInteger();
    session.errors = json.value(QStringLiteral("errors")).toInt();
    session.environment = attrs.value(QStringLiteral("environment")).toString();
    session.inferIpAddress = attrs.contains(QStringLiteral("ip_address"));
    const auto status = json.value(QStringLiteral("status")).toString();
    for (std::size_t i = 0; i < statusNames.size(); ++i)
        if (status == QLatin1String(statusNames[i]))
            session.status = static_cast<Status>(i);
    return session;
}
