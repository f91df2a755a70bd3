#include "platform/BundleInfo.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <system_error>

extern const char* const pixaloomGeneratedInfo;

namespace {
// A deployment may set its values after the build, the way a bundle carries its Info file.
QString installedInfoPath() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return QString::fromStdString((executable.parent_path() / "Info.json").string());
}

constexpr qint64 largestInfoFile = 64 * 1024;

std::optional<BundleInfo>& replacementSlot() {
    static std::optional<BundleInfo> slot;
    return slot;
}
} // namespace

BundleInfo::BundleInfo(QVariantMap infoDictionary)
    : dictionary(std::move(infoDictionary)) {
}

BundleInfo BundleInfo::generated() {
    const auto document = QJsonDocument::fromJson(QByteArray(pixaloomGeneratedInfo));
    return BundleInfo(document.object().toVariantMap());
}

const BundleInfo& BundleInfo::main() {
    if (replacementSlot())
        return *replacementSlot();
    static const BundleInfo installedInfo = generated().overlaidWith(installedInfoPath());
    return installedInfo;
}

BundleInfo BundleInfo::overlaidWith(const QString& path) const {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > largestInfoFile)
        return *this;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(largestInfoFile));
    if (!document.isObject())
        return *this;
    QVariantMap merged = dictionary;
    merged.insert(document.object().toVariantMap());
    return BundleInfo(std::move(merged));
}

void BundleInfo::setMainForTesting(std::optional<BundleInfo> replacement) {
    replacementSlot() = std::move(replacement);
}

std::optional<QString> BundleInfo::string(const QString& key) const {
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}
