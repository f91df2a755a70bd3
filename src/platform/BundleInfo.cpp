#include "platform/BundleInfo.h"

#include <QJsonDocument>
#include <QJsonObject>

extern const char* const pixaloomGeneratedInfo;

namespace {
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
    static const BundleInfo generatedInfo = generated();
    return generatedInfo;
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
