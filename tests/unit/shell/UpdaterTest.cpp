#include "../sdk/UpdateFeeds.h"
#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "platform/BundleInfo.h"
#include "sdk/UpdateController.h"
#include "shell/Updater.h"

#include <QApplication>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// The plain system log's lines; the offscreen platform's warnings go there too.
QStringList systemLogLines(const LogCapture& log) {
    QStringList lines;
    for (const auto& record : log.records())
        if (record.category == u"default" && record.type == QtInfoMsg)
            lines << record.message;
    return lines;
}

TEST(UpdaterTest, IsMadeOnceWithDailyAutomaticChecks) {
    Updater& updater = Updater::shared();
    EXPECT_EQ(&Updater::shared(), &updater);
    ASSERT_TRUE(updater.updaterController);
    EXPECT_EQ(updater.updater, updater.updaterController->updater());
    EXPECT_TRUE(updater.updater->automaticallyChecksForUpdates());
    EXPECT_EQ(updater.updater->updateCheckInterval(), 86400s);
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

struct FeedCase {
    const char* name;
    QString items;
    QString logged;
};

class UpdaterCheckTest : public ::testing::TestWithParam<FeedCase> {
protected:
    void TearDown() override {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->close();
        BundleInfo::setMainForTesting(std::nullopt);
    }
};

// The menu's check, against a real feed: the outcome is logged and shown.
TEST_P(UpdaterCheckTest, CheckForUpdatesLogsTheFeedsOutcome) {
    LoopbackHttpServer server;
    server.setDefaultReply(UpdateFeeds::xmlReply(UpdateFeeds::feed(GetParam().items)));
    BundleInfo::setMainForTesting(
        BundleInfo({{BundleInfo::feedUrlKey, server.baseUrl() + QStringLiteral("/appcast.xml")},
                    {BundleInfo::versionKey, QStringLiteral("15")},
                    {BundleInfo::shortVersionKey, QStringLiteral("1.5")}}));
    LogCapture log;
    Updater::shared().checkForUpdates();
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [] { return !Updater::shared().updater->sessionInProgress(); }));
    EXPECT_EQ(systemLogLines(log), QStringList{GetParam().logged});
    QMessageBox* shown = Updater::shared().updaterController->userDriver().resultDialog();
    EXPECT_TRUE(shown && shown->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, UpdaterCheckTest,
    ::testing::Values(
        FeedCase{"Newer",
                 UpdateFeeds::item(QStringLiteral("15"), QStringLiteral("1.5")) +
                     UpdateFeeds::item(QStringLiteral("16"), QStringLiteral("1.6 100%")),
                 QStringLiteral("Found valid update: 1.6 100%")},
        FeedCase{"Equal", UpdateFeeds::item(QStringLiteral("15"), QStringLiteral("1.5")),
                 QStringLiteral("No updates available")}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
