#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// The application's information dictionary: version strings and deployment values,
// generated at configure time from the build's cache variables. A key may be absent or
// hold something other than text; readers decide what that means.
class BundleInfo {
public:
    static inline const QString shortVersionKey = QStringLiteral("CFBundleShortVersionString");
    static inline const QString versionKey = QStringLiteral("CFBundleVersion");
    static inline const QString serverUrlKey = QStringLiteral("PixaloomServerURL");
    static inline const QString analyticsKeyKey = QStringLiteral("PixaloomAnalyticsKey");
    static inline const QString analyticsHostKey = QStringLiteral("PixaloomAnalyticsHost");
    static inline const QString crashDsnKey = QStringLiteral("PixaloomCrashDSN");
    static inline const QString feedUrlKey = QStringLiteral("SUFeedURL");
    static inline const QString publicKeyKey = QStringLiteral("SUPublicEDKey");

    explicit BundleInfo(QVariantMap infoDictionary);

    // The process's dictionary: the generated one with the values of an "Info.json" object
    // beside the executable laid over it, unless a test has put its own in place.
    static const BundleInfo& main();
    static void setMainForTesting(std::optional<BundleInfo> replacement);
    // The dictionary generated from the build's configuration.
    static BundleInfo generated();
    // This dictionary with the keys of the JSON object in `path` put over its own; unchanged
    // when the file is absent, too large or not a JSON object.
    BundleInfo overlaidWith(const QString& path) const;

    const QVariantMap& infoDictionary() const { return dictionary; }
    QVariant object(const QString& key) const { return dictionary.value(key); }
    // The value when the key is present and holds text.
    std::optional<QString> string(const QString& key) const;

private:
    QVariantMap dictionary;
};
