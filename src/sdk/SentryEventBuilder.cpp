#include "sdk/SentryEventBuilder.h"

#include "platform/BundleInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>

namespace {
QJsonObject osContext() {
    return QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Linux")},
        {QStringLiteral("version"), QSysInfo::kernelVersion()},
        {QStringLiteral("kernel_version"), QSysInfo::kernelVersion()},
        {QStringLiteral("distribution_name"), QSysInfo::productType()},
        {QStringLiteral("distribution_version"), QSysInfo::productVersion()},
        {QStringLiteral("distribution_pretty_name"), QSysInfo::prettyProductName()},
    };
}

QJsonObject appContext() {
    const auto& info = BundleInfo::main();
    QJsonObject app{
        {QStringLiteral("app_start_time"),
         QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
    };
    const std::pair<const char*, QString> keys[] = {
        {"app_name", QStringLiteral("CFBundleName")},
        {"app_identifier", QStringLiteral("CFBundleIdentifier")},
        {"app_version", BundleInfo::shortVersionKey},
        {"app_build", BundleInfo::versionKey},
    };
    for (const auto& [field, key] : keys)
        if (const auto value = info.string(key))
            app.insert(QLatin1String(field), *value);
    return app;
}
} // namespace

SentryEventBuilder::SentryEventBuilder(QString release, QString environment, bool sendDefaultPii)
    : releaseName(std::move(release))
    , environmentName(std::move(environment))
    , sendDefaultPii(sendDefaultPii) {
    contexts = QJsonObject{
        {QStringLiteral("os"), osContext()},
        {QStringLiteral("app"), appContext()},
        {QStringLiteral("device"),
         QJsonObject{{QStringLiteral("arch"), QSysInfo::currentCpuArchitecture()},
                     {QStringLiteral("family"), QStringLiteral("Desktop")}}},
    };
}

QString SentryEventBuilder::newEventId() {
    return QUuid::createUuid().toString(QUuid::Id128);
}

std::optional<QString> SentryEventBuilder::defaultReleaseName() {
    const auto& info = BundleInfo::main();
    const auto identifier = info.string(QStringLiteral("CFBundleIdentifier"));
    const auto version = info.string(BundleInfo::shortVersionKey);
    if (!identifier || !version)
        return std::nullopt;
    QString release = *identifier + QLatin1Char('@') + *version;
    if (const auto build = info.string(BundleInfo::versionKey))
        release += QLatin1Char('+') + *build;
    return release;
}

QJsonObject SentryEventBuilder::sdk() const {
    return QJsonObject{
        {QStringLiteral("name"), sdkName},
        {QStringLiteral("version"), sdkVersion},
        {QStringLiteral("settings"),
         QJsonObject{{QStringLiteral("infer_ip"),
                      sendDefaultPii ? QStringLiteral("auto") : QStringLiteral("never")}}},
    };
}

QJsonObject SentryEventBuilder::common(const QString& eventId, const QString& level) const {
    QJsonObject event{
        {QStringLiteral("event_id"), eventId},
        {QStringLiteral("platform"), QStringLiteral("native")},
        {QStringLiteral("level"), level},
        {QStringLiteral("environment"), environmentName},
        {QStringLiteral("contexts"), contexts},
        {QStringLiteral("sdk"), sdk()},
    };
    if (!releaseName.isEmpty())
        event.insert(QStringLiteral("release"), releaseName);
    return event;
}

QJsonObject SentryEventBuilder::message(const QString& text, const QString& eventId,
                                        const QDateTime& time) const {
    QJsonObject event = common(eventId, QStringLiteral("info"));
    event.insert(QStringLiteral("timestamp"), time.toUTC().toString(Qt::ISODateWithMs));
    event.insert(QStringLiteral("message"), QJsonObject{{QStringLiteral("formatted"), text}});
    return event;
}

QJsonObject SentryEventBuilder::error(const BridgedError& error, const QString& eventId,
                                      const QDateTime& time) const {
    const QJsonObject mechanism{
        {QStringLiteral("type"), QStringLiteral("NSError")},
        {QStringLiteral("handled"), true},
        {QStringLiteral("description"), error.description},
        {QStringLiteral("meta"), QJsonObject{{QStringLiteral("ns_error"),
                                              QJsonObject{{QStringLiteral("domain"), error.domain},
                                                          {QStringLiteral("code"), error.code}}}}},
    };
    const QJsonObject exception{
        {QStringLiteral("type"), error.domain},
        {QStringLiteral("value"),
         QStringLiteral("%1 (Code: %2)").arg(error.description).arg(error.code)},
        {QStringLiteral("mechanism"), mechanism},
    };
    QJsonObject event = common(eventId, QStringLiteral("error"));
    event.insert(QStringLiteral("timestamp"), time.toUTC().toString(Qt::ISODateWithMs));
    event.insert(QStringLiteral("exception"),
                 QJsonObject{{QStringLiteral("values"), QJsonArray{exception}}});
    return event;
}

QByteArray SentryEventBuilder::crashEventPrefix(const QString& eventId) const {
    QByteArray json =
        QJsonDocument(common(eventId, QStringLiteral("fatal"))).toJson(QJsonDocument::Compact);
    json.chop(1); // the closing brace: the handler appends the rest
    return json;
}

void SentryEventBuilder::addUser(QJsonObject& event, const QString& installationId) const {
    QJsonObject user{{QStringLiteral("id"), installationId}};
    if (sendDefaultPii)
        user.insert(QStringLiteral("ip_address"), QStringLiteral("{{auto}}"));
    event.insert(QStringLiteral("user"), user);
}
