#include "platform/BundleInfo.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(BundleInfo, AnInfoFileOverridesOnlyTheKeysItHoldsAndOnlyWhenItIsAnObject) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Info.json"));
    const auto write = [&path](const QByteArray& contents) {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(contents);
    };
    const BundleInfo base(QVariantMap{{BundleInfo::serverUrlKey, QStringLiteral("http://a")},
                                      {BundleInfo::versionKey, QStringLiteral("3")}});

    EXPECT_EQ(base.overlaidWith(path).infoDictionary(), base.infoDictionary()) << "no file";
    write(R"({"PixaloomServerURL": "http://127.0.0.1:4000"})");
    const BundleInfo overlaid = base.overlaidWith(path);
    EXPECT_EQ(overlaid.string(BundleInfo::serverUrlKey), "http://127.0.0.1:4000");
    EXPECT_EQ(overlaid.string(BundleInfo::versionKey), "3");

    for (const QByteArray& broken : {QByteArray(R"(["http://x"])"), QByteArray("{\"a\":"),
                                     QByteArray(100 * 1024, ' ') + "{}"}) {
        write(broken);
        EXPECT_EQ(base.overlaidWith(path).infoDictionary(), base.infoDictionary())
            << broken.left(20).toStdString();
    }
}

} // namespace
