#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "TemporarySettings.h"
#include "UpdateFeeds.h"
#include "platform/BundleInfo.h"
#include "sdk/UpdateCheckerDelegate.h"
#include "sdk/UpdateController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace std::chrono_literals;
using UpdateFeeds::feed;
using UpdateFeeds::item;
using UpdateFeeds::longVersionFeed;
using UpdateFeeds::xmlReply;

const QString checkerCategory = QStringLiteral("com.app.pixaloom.UpdateChecker");

class OutcomeRecorder : public UpdateCheckerDelegate {
public:
    void updaterDidFindValidUpdate(UpdateChecker*, const AppcastItem& item) override {
        outcomes << QStringLiteral("found ") + item.displayVersionString;
    }
    void updaterDidNotFindUpdate(UpdateChecker*) override { outcomes << QStringLiteral("none"); }

    QStringList outcomes;
};

QList<QWidget*> visibleWindows() {
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            windows << widget;
    return windows;
}

QStringList buttonTexts(QMessageBox* box) {
    QStringList texts;
    for (QAbstractButton* button : box->buttons())
        texts << button->text();
    return texts;
}

void clickButton(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == text)
            button->click();
}

QString informativeText(QMessageBox* box) {
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    return label && label->textFormat() == Qt::PlainText ? label->text() : QString();
}

void useFeed(const QString& url) {
    BundleInfo::setMainForTesting(
        BundleInfo({{BundleInfo::feedUrlKey, url},
                    {BundleInfo::versionKey, QStringLiteral("15")},
                    {BundleInfo::shortVersionKey, QStringLiteral("1.5")}}));
}

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override {
        useFeed(server.baseUrl() + QStringLiteral("/appcast.xml"));
        server.setDefaultReply(xmlReply(feed(item(QStringLiteral("14"), QStringLiteral("1.4")) +
                                             item(QStringLiteral("15"), QStringLiteral("1.5")))));
    }
    void TearDown() override {
        for (QWidget* window : visibleWindows())
            window->close();
        BundleInfo::setMainForTesting(std::nullopt);
    }

    UpdateChecker::Settings settings() {
        UpdateChecker::Settings settings;
        settings.limits = {.maxBytes = 256 * 1024,
                           .maxRedirects = 3,
                           .idleTimeout = 1000ms,
                           .totalTimeout = 2500ms};
        settings.timing.firstDelay = 300ms;
        settings.timing.watchInterval = 50ms;
        settings.timing.wakeDelay = 100ms;
        settings.timing.wallClock = [this] {
            return std::chrono::system_clock::now() + clockMoved;
        };
        return settings;
    }

    // A controller as the application makes it, automatic checks on.
    std::unique_ptr<UpdateController>
    startedController(std::chrono::milliseconds interval,
                      std::chrono::milliseconds firstDelay = 300ms) {
        auto chosen = settings();
        chosen.timing.firstDelay = firstDelay;
        auto controller = std::make_unique<UpdateController>(false, &delegate, chosen);
        controller->updater()->setAutomaticallyChecksForUpdates(true);
        controller->updater()->setUpdateCheckInterval(interval);
        controller->startUpdater();
        return controller;
    }

    bool waitForCheck(UpdateController& controller) {
        return LoopbackHttpServer::waitUntil(
            [&] { return !controller.updater()->sessionInProgress(); });
    }

    TemporarySettings userSettings;
    LoopbackHttpServer server;
    OutcomeRecorder delegate;
    LogCapture log;
    std::chrono::system_clock::duration clockMoved{0};
};

TEST_F(UpdateCheckerTest, ChecksAfterTheFirstDelayNotAtStartThenEveryInterval) {
    auto controller = startedController(400ms, 1000ms);
    LoopbackHttpServer::waitUntil([] { return false; }, 100ms);
    EXPECT_TRUE(server.requests().empty()) << "no check while the application starts";

    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.requests().size() >= 3; }));
    ASSERT_TRUE(waitForCheck(*controller));
    const auto request = server.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/appcast.xml");
    EXPECT_EQ(request.header("User-Agent"), QByteArray("Pixaloom/1.5"));
    EXPECT_EQ(delegate.outcomes.mid(0, 3), QStringList(3, QStringLiteral("none")));
    EXPECT_TRUE(visibleWindows().isEmpty());
}

TEST_F(UpdateCheckerTest, ACheckMissedWhileAsleepRunsSoonAfterWaking) {
    auto controller = startedController(1h);
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.requests().size() == 1; }));
    LoopbackHttpServer::waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(server.requests().size(), 1u) << "the next one is an hour away";

    // The wall clock moves on while the timers' clock stands still: the machine slept.
    clockMoved = 2h;
    EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.requests().size() == 2; }, 3s));
}

TEST_F(UpdateCheckerTest, TurningAutomaticChecksOffStopsThem) {
    auto controller = startedController(200ms);
    controller->updater()->setAutomaticallyChecksForUpdates(false);
    LoopbackHttpServer::waitUntil([] { return false; }, 700ms);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(UpdateCheckerTest, AnAutomaticCheckReportsAFoundUpdateAndShowsIt) {
    server.setDefaultReply(xmlReply(feed(item(QStringLiteral("16"), QStringLiteral("1.6")))));
    UpdateController controller(true, &delegate, settings());
    controller.updater()->checkForUpdatesInBackground();
    ASSERT_TRUE(waitForCheck(controller));
    EXPECT_EQ(delegate.outcomes, QStringList{QStringLiteral("found 1.6")});
    ASSERT_TRUE(controller.userDriver().resultDialog());
    EXPECT_FALSE(controller.userDriver().progressDialog());
}

// The time of the last check outlives the application: a start checks only once the interval
// has passed since then, and never while the application starts.
TEST_F(UpdateCheckerTest, AStartChecksOnlyOnceTheIntervalHasPassedSinceTheStoredCheck) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct {
        const char* name;
        QString stored;
        bool due;
    } cases[] = {
        {"never checked", {}, true},
        {"checked two hours ago", now.addSecs(-2 * 3600).toString(Qt::ISODate), true},
        {"checked half an hour ago", now.addSecs(-1800).toString(Qt::ISODate), false},
        {"a check in the future: the clock was set back", now.addDays(1).toString(Qt::ISODate),
         true},
        {"unreadable", QStringLiteral("yesterday"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults::standard()->setValue(QStringLiteral("SULastCheckTime"), c.stored);
        clockMoved = {};
        const std::size_t before = server.requests().size();
        const auto checked = [&] {
            return server.requests().size() > before;
        };
        auto controller = startedController(1h);
        LoopbackHttpServer::waitUntil([] { return false; }, 150ms);
        EXPECT_FALSE(checked()) << "no check while the application starts";
        if (!c.due) {
            LoopbackHttpServer::waitUntil([] { return false; }, 700ms);
            EXPECT_FALSE(checked());
            // Counted from the stored time: due 30 minutes after the start.
            clockMoved = 29min;
            LoopbackHttpServer::waitUntil([] { return false; }, 400ms);
            EXPECT_FALSE(checked());
            clockMoved = 31min;
        }
        ASSERT_TRUE(LoopbackHttpServer::waitUntil(checked, 3s));
        ASSERT_TRUE(waitForCheck(*controller));
        const QDateTime stored = QDateTime::fromString(
            UserDefaults::standard()->value(QStringLiteral("SULastCheckTime")).toString(),
            Qt::ISODate);
        EXPECT_LE(std::abs(stored.secsTo(now.addSecs(clockMoved / 1s))), 5);
    }
}

// "Skip This Version" keeps automatic checks quiet about that version and older ones, not
// about newer ones nor a check the user asks for; "Remind Me Later" only closes the window.
TEST_F(UpdateCheckerTest, SkippingAVersionQuietsAutomaticChecksAboutItRemindingLaterDoesNot) {
    const struct {
        const char* button;
        QString skipped;
        QStringList later; // automatic checks of 1.6, 1.5.5, 1.7, then the user's of 1.6
    } cases[] = {
        {"Skip This Version", QStringLiteral("16"), {"none", "none", "found 1.7", "found 1.6"}},
        {"Remind Me Later", {}, {"found 1.6", "found 1.5.5", "found 1.7", "found 1.6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        UserDefaults::standard()->clear();
        UpdateController controller(true, &delegate, settings());
        const auto check = [&](const QString& version, const QString& display, bool byUser) {
            if (QMessageBox* earlier = controller.userDriver().resultDialog())
                earlier->close();
            delegate.outcomes.clear();
            server.setDefaultReply(xmlReply(feed(item(version, display))));
            byUser ? controller.checkForUpdates()
                   : controller.updater()->checkForUpdatesInBackground();
            EXPECT_TRUE(waitForCheck(controller));
            QMessageBox* shown = controller.userDriver().resultDialog();
            // An update is shown exactly when the delegate hears of it.
            EXPECT_EQ(shown && shown->isVisible(),
                      delegate.outcomes.value(0).startsWith(QStringLiteral("found")));
            return delegate.outcomes.value(0);
        };
        check(QStringLiteral("16"), QStringLiteral("1.6"), false);
        QMessageBox* box = controller.userDriver().resultDialog();
        ASSERT_TRUE(box && box->isVisible());
        clickButton(box, QString::fromLatin1(c.button));
        EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] { return !box || !box->isVisible(); }));
        EXPECT_EQ(UserDefaults::standard()->value(QStringLiteral("SUSkippedVersion")).toString(),
                  c.skipped);
        const QStringList later{check(QStringLiteral("16"), QStringLiteral("1.6"), false),
                                check(QStringLiteral("15.5"), QStringLiteral("1.5.5"), false),
                                check(QStringLiteral("17"), QStringLiteral("1.7"), false),
                                check(QStringLiteral("16"), QStringLiteral("1.6"), true)};
        EXPECT_EQ(later, c.later);
    }
}

// Versions of more parts than any release has: the items are set aside and said so at once.
TEST_F(UpdateCheckerTest, VersionsLongerThanAnyReleaseAreSetAsideAtOnce) {
    server.setDefaultReply(xmlReply(longVersionFeed()));
    auto roomy = settings();
    roomy.limits.maxBytes = roomy.appcastLimits.maxBytes = 4 * 1024 * 1024;
    UpdateController controller(true, &delegate, roomy);
    controller.updater()->checkForUpdatesInBackground();
    ASSERT_TRUE(waitForCheck(controller));
    EXPECT_EQ(delegate.outcomes, QStringList{QStringLiteral("none")});
    EXPECT_EQ(log.messages(checkerCategory),
              QStringList{QStringLiteral("The update feed has 2 invalid items; they are ignored")});
}

struct FailureCase {
    const char* name;
    std::function<void(LoopbackHttpServer&)> arrange;
    const char* logged; // part of the logged reason
    std::size_t maxRequests = 1;
};

class UpdateCheckFailureTest : public UpdateCheckerTest,
                               public ::testing::WithParamInterface<FailureCase> {};

// Whatever the feed or the network does, an automatic check ends in bounded time, shows
// nothing, reaches neither callback and says why in the log.
TEST_P(UpdateCheckFailureTest, AutomaticCheckFailsQuietly) {
    GetParam().arrange(server);
    UpdateController controller(true, &delegate, settings());
    controller.updater()->checkForUpdatesInBackground();
    ASSERT_TRUE(waitForCheck(controller));

    EXPECT_TRUE(delegate.outcomes.isEmpty());
    EXPECT_TRUE(visibleWindows().isEmpty());
    const QStringList lines = log.messages(checkerCategory);
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Update check failed: ")));
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8(GetParam().logged))) << lines[0].toStdString();
    EXPECT_LE(server.requests().size(), GetParam().maxRequests);
}

QByteArray hugeFeed() {
    return feed(item(QStringLiteral("16"), QStringLiteral("1.6")).repeated(20000));
}

INSTANTIATE_TEST_SUITE_P(
    HostileFeeds, UpdateCheckFailureTest,
    ::testing::Values(
        FailureCase{"Stalls",
                    [](LoopbackHttpServer& server) {
                        server.setDefaultReply({.status = 200, .silent = true});
                    },
                    "went silent for 1000 ms"},
        FailureCase{"TricklesForever",
                    [](LoopbackHttpServer& server) {
                        // One byte at a time: never quiet long enough to trip an idle limit.
                        const QByteArray body =
                            feed(item(QStringLiteral("16"), QStringLiteral("1.6")));
                        server.setDefaultReply({.status = 200,
                                                .body = body,
                                                .bodyPieces = static_cast<int>(body.size()),
                                                .piecePause = 50ms});
                    },
                    "did not arrive within 2500 ms"},
        FailureCase{"RedirectsForever",
                    [](LoopbackHttpServer& server) {
                        server.setDefaultReply({.status = 302,
                                                .headers = {{"Location", server.baseUrl().toUtf8() +
                                                                             "/appcast.xml"}}});
                    },
                    "redirected more than 3 times",
                    // The first request and three redirections; the HTTP client may send one
                    // of them again when the server's close races its next request.
                    5},
        FailureCase{
            "HugeWithItsLength",
            [](LoopbackHttpServer& server) { server.setDefaultReply(xmlReply(hugeFeed())); },
            "larger than 262144 bytes"},
        FailureCase{"HugeWithoutALength",
                    [](LoopbackHttpServer& server) {
                        auto reply = xmlReply(hugeFeed());
                        reply.closeDelimited = true;
                        server.setDefaultReply(reply);
                    },
                    "larger than 262144 bytes"},
        FailureCase{"NestedDeeply",
                    [](LoopbackHttpServer& server) {
                        server.setDefaultReply(
                            xmlReply(feed(QStringLiteral("<a>").repeated(5000) +
                                          QStringLiteral("</a>").repeated(5000))));
                    },
                    "nested deeper than 32"},
        FailureCase{"WrongEncoding",
                    [](LoopbackHttpServer& server) {
                        QByteArray body = feed(item(QStringLiteral("16"), QStringLiteral("1.6")));
                        body.replace("Version 1.6", "Version \xff\xfe 1.6");
                        server.setDefaultReply(xmlReply(body));
                    },
                    "cannot be read"},
        FailureCase{"NotAFeed",
                    [](LoopbackHttpServer& server) {
                        server.setDefaultReply({.status = 200, .body = "<html>Welcome</html>"});
                    },
                    "not an RSS feed"},
        FailureCase{"NotFound",
                    [](LoopbackHttpServer& server) { server.setDefaultReply({.status = 404}); },
                    "status 404"},
        FailureCase{"NoServer", [](LoopbackHttpServer& server) { server.refuseConnections(); },
                    "refused", 0},
        FailureCase{"NoFeedUrl", [](LoopbackHttpServer&) { useFeed({}); }, "no feed URL is set", 0},
        FailureCase{"NotAWebFeedUrl",
                    [](LoopbackHttpServer&) { useFeed(QStringLiteral("file:///etc/hostname")); },
                    "not an http(s) URL", 0}),
    [](const auto& info) { return std::string(info.param.name); });

class UrlRecorder : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { opened << url; }

public:
    QList<QUrl> opened;
};

TEST_F(UpdateCheckerTest, AUserCheckShowsItsProgressThenOffersTheFoundUpdatesPages) {
    // Markup in the feed's text is shown as it is, never rendered.
    QByteArray body = feed(item(QStringLiteral("16"), QStringLiteral("1.6")));
    body.replace("<sparkle:shortVersionString>1.6<",
                 "<sparkle:shortVersionString>1.6 &lt;b&gt;beta&lt;/b&gt;<");
    auto reply = xmlReply(body);
    reply.delay = 150ms;
    server.setDefaultReply(reply);
    UpdateController controller(true, &delegate, settings());
    controller.checkForUpdates();
    QDialog* progress = controller.userDriver().progressDialog();
    ASSERT_TRUE(progress && progress->isVisible());
    EXPECT_EQ(progress->findChild<QLabel*>()->text(), QStringLiteral("Checking for updates…"));

    ASSERT_TRUE(waitForCheck(controller));
    EXPECT_EQ(delegate.outcomes, QStringList{QStringLiteral("found 1.6 <b>beta</b>")});
    EXPECT_FALSE(controller.userDriver().progressDialog() &&
                 controller.userDriver().progressDialog()->isVisible());
    QMessageBox* box = controller.userDriver().resultDialog();
    ASSERT_TRUE(box && box->isVisible());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Software Update"));
    EXPECT_EQ(box->text(), QStringLiteral("A new version of Pixaloom is available"));
    EXPECT_EQ(informativeText(box),
              QStringLiteral("Pixaloom 1.6 <b>beta</b> is available; you have 1.5. Install it "
                             "with your system's package manager."));
    QStringList buttons = buttonTexts(box);
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Download Page", "Release Notes", "Remind Me Later",
                                    "Skip This Version"}));

    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    clickButton(box, QStringLiteral("Release Notes"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(browser.opened,
              QList<QUrl>{QUrl(QStringLiteral("https://example.com/notes/1.6.html"))});
    EXPECT_TRUE(LoopbackHttpServer::waitUntil([] { return visibleWindows().isEmpty(); }));
}

TEST_F(UpdateCheckerTest, AUserCheckAlwaysShowsItsOutcome) {
    const struct {
        const char* name;
        LoopbackHttpServer::Reply reply;
        QString outcome; // the delegate's, or empty
        QString text;
        QString informative;
        bool noFeed = false;
    } cases[] = {
        {"up to date", xmlReply(feed(item(QStringLiteral("15"), QStringLiteral("1.5")))),
         QStringLiteral("none"), QStringLiteral("You're up to date"),
         QStringLiteral("Pixaloom 1.5 is the newest version available.")},
        {"server error",
         {.status = 500},
         {},
         QStringLiteral("Could not check for updates"),
         QStringLiteral("The update information could not be read: the server answered with "
                        "status 500. Please try again later.")},
        // Trying again later cannot help a build without a feed.
        {"no feed",
         {},
         {},
         QStringLiteral("Could not check for updates"),
         QStringLiteral("This build of Pixaloom has no update feed."),
         true},
        {"update found", xmlReply(feed(item(QStringLiteral("16"), QStringLiteral("1.6")))),
         QStringLiteral("found 1.6"), QStringLiteral("A new version of Pixaloom is available"),
         QStringLiteral("Pixaloom 1.6 is available; you have 1.5. Install it with your system's "
                        "package manager.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate.outcomes.clear();
        server.setDefaultReply(c.reply);
        useFeed(c.noFeed ? QString() : server.baseUrl() + QStringLiteral("/appcast.xml"));
        UpdateController controller(true, &delegate, settings());
        controller.checkForUpdates();
        ASSERT_TRUE(waitForCheck(controller));
        EXPECT_EQ(delegate.outcomes.join(u','), c.outcome);
        QMessageBox* box = controller.userDriver().resultDialog();
        ASSERT_TRUE(box && box->isVisible());
        EXPECT_EQ(box->text(), c.text);
        EXPECT_EQ(informativeText(box), c.informative);
        EXPECT_EQ(visibleWindows(), QList<QWidget*>{box});
        // The tray's menu, the hot key and the other windows keep working beside it.
        EXPECT_FALSE(QApplication::activeModalWidget());
        box->close();
    }
}

TEST_F(UpdateCheckerTest, CancellingAUserCheckEndsItWithoutAnOutcome) {
    server.setDefaultReply({.status = 200, .silent = true});
    UpdateController controller(true, &delegate, settings());
    controller.checkForUpdates();
    ASSERT_TRUE(controller.userDriver().progressDialog());
    controller.userDriver().progressDialog()->reject();
    EXPECT_FALSE(controller.updater()->sessionInProgress());
    LoopbackHttpServer::waitUntil([] { return false; }, 500ms);
    EXPECT_TRUE(delegate.outcomes.isEmpty());
    EXPECT_TRUE(visibleWindows().isEmpty());
}

TEST_F(UpdateCheckerTest, AskingDuringAnAutomaticCheckShowsThatChecksOutcome) {
    auto reply = xmlReply(feed(item(QStringLiteral("16"), QStringLiteral("1.6"))));
    reply.delay = 150ms;
    server.setDefaultReply(reply);
    UpdateController controller(true, &delegate, settings());
    controller.updater()->checkForUpdatesInBackground();
    controller.checkForUpdates();
    EXPECT_TRUE(controller.userDriver().progressDialog()->isVisible());
    ASSERT_TRUE(waitForCheck(controller));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(delegate.outcomes, QStringList{QStringLiteral("found 1.6")});
    EXPECT_EQ(visibleWindows(), QList<QWidget*>{controller.userDriver().resultDialog()});
}

} // namespace

#include "UpdateCheckerTest.moc"
