#include "platform/BundleInfo.h"

#include <gtest/gtest.h>

namespace {

TEST(BundleInfo, GeneratedDictionaryCarriesTheBuildsValues) {
    const BundleInfo info = BundleInfo::generated();
    EXPECT_EQ(info.string(BundleInfo::serverUrlKey), "http://127.0.0.1:8765");
    EXPECT_TRUE(info.string(BundleInfo::shortVersionKey).has_value());
    EXPECT_TRUE(info.string(BundleInfo::versionKey).has_value());
    EXPECT_TRUE(info.string(BundleInfo::crashDsnKey).has_value());
}

TEST(BundleInfo, AbsentOrNonTextValuesAreNoString) {
    const BundleInfo info(QVariantMap{{BundleInfo::shortVersionKey, 7},
                                      {BundleInfo::versionKey, QStringLiteral("12")}});
    EXPECT_EQ(info.string(BundleInfo::shortVersionKey), std::nullopt);
    EXPECT_EQ(info.object(BundleInfo::shortVersionKey), QVariant(7));
    EXPECT_EQ(info.string(BundleInfo::versionKey), "12");
    EXPECT_EQ(info.string(BundleInfo::feedUrlKey), std::nullopt);
}

TEST(BundleInfo, TestsCanPutTheirOwnDictionaryInPlace) {
    BundleInfo::setMainForTesting(BundleInfo(QVariantMap{}));
    EXPECT_EQ(BundleInfo::main().string(BundleInfo::serverUrlKey), std::nullopt);
    BundleInfo::setMainForTesting(std::nullopt);
    EXPECT_EQ(BundleInfo::main().string(BundleInfo::serverUrlKey), "http://127.0.0.1:8765");
}

} // namespace
