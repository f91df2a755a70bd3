#include "../sdk/UpdateFeeds.h"
#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "TemporarySettings.h"
#include "platform/BundleInfo.h"
#include "sdk/UpdateController.h"
#include "shell/Updater.h"

#include <QApplication>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace {

// The plain system log's lines; the offscreen platform's warnings go there too.
QStringList systemLogLines(const LogCapture& log) {
    QStringList lines;
    for (const auto& record : log.records())
        if (record.category == u"default" && record.type == QtInfoMsg)
            lines << record.message;
    return lines;
}

// The version is written as it is: a percent sign is no format directive.
TEST(UpdaterTest, LogsEachOutcomeToThePlainSystemLog) {
    LogCapture log;
    for (const QString& version : {QStringLiteral("1.6"), QStringLiteral("2.0 (100%)"),
                                   QStringLiteral("%s%d%n%@ %{public}s"), QString()}) {
        AppcastItem item;
        item.displayVersionString = version;
        Updater::shared().updaterDidFindValidUpdate(Updater::shared().updater, item);
    }
    Updater::shared().updaterDidNotFindUpdate(Updater::shared().updater);
    EXPECT_EQ(systemLogLines(log),
              (QStringList{QStringLiteral("Found valid update: 1.6"),
                           QStringLiteral("Found valid update: 2.0 (100%)"),
                           QStringLiteral("Found valid update: %s%d%n%@ %{public}s"),
                           QStringLiteral("Found valid update: "),
                           QStringLiteral("No updates available")}));
}

// The menu's check, against a real feed: the outcome is logged and shown.
TEST(UpdaterTest, CheckForUpdatesLogsTheFeedsOutcome) {
    const struct {
        QString items;
        QString logged;
    } cases[] = {
        {UpdateFeeds::item(QStringLiteral("15"), QStringLiteral("1.5")) +
             UpdateFeeds::item(QStringLiteral("16"), QStringLiteral("1.6 100%")),
         QStringLiteral("Found valid update: 1.6 100%")},
        {UpdateFeeds::item(QStringLiteral("15"), QStringLiteral("1.5")),
         QStringLiteral("No updates available")},
    };
    TemporarySettings userSettings;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.toStdString());
        LoopbackHttpServer server;
        server.setDefaultReply(UpdateFeeds::xmlReply(UpdateFeeds::feed(c.items)));
        BundleInfo::setMainForTesting(
            BundleInfo({{BundleInfo::feedUrlKey, server.baseUrl() + QStringLiteral("/appcast.xml")},
                        {BundleInfo::versionKey, QStringLiteral("15")},
                        {BundleInfo::shortVersionKey, QStringLiteral("1.5")}}));
        LogCapture log;
        Updater::shared().checkForUpdates();
        ASSERT_TRUE(LoopbackHttpServer::waitUntil(
            [] { return !Updater::shared().updater->sessionInProgress(); }));
        EXPECT_EQ(systemLogLines(log), QStringList{c.logged});
        QMessageBox* shown = Updater::shared().updaterController->userDriver().resultDialog();
        EXPECT_TRUE(shown && shown->isVisible());
        for (QWidget* window : QApplication::topLevelWidgets())
            window->close();
        BundleInfo::setMainForTesting(std::nullopt);
    }
}

} // namespace
