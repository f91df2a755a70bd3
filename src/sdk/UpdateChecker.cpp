#include "sdk/UpdateChecker.h"

#include "platform/BundleInfo.h"
#include "platform/Logger.h"
#include "sdk/UpdateCheckerDelegate.h"
#include "sdk/UpdateUserDriver.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {

const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"),
                                 QStringLiteral("UpdateChecker")};
    return instance;
}

UpdateChecker::Outcome evaluate(const UpdateFeedLoader::Result& download,
                                const QString& hostVersion, Appcast::Limits limits) {
    if (!download)
        return {.update = std::nullopt, .error = download.error()};
    const auto appcast = Appcast::parse(*download, limits);
    if (!appcast)
        return {.update = std::nullopt,
                .error = QStringLiteral("the feed cannot be read (%1)").arg(appcast.error())};
    return {.update = appcast->validUpdate(hostVersion),
            .error = {},
            .invalidItemCount = appcast->invalidItemCount};
}

} // namespace

// Made, used and destroyed on the worker thread.
struct UpdateChecker::WorkerState {
    std::unique_ptr<UpdateFeedLoader> loader;
};

UpdateChecker::UpdateChecker(UpdateCheckerDelegate* delegate, UpdateUserDriver* userDriver,
                             Settings settings)
    : delegate(delegate)
    , userDriver(userDriver)
    , settings(std::move(settings))
    , scheduler(this->settings.timing, [this] { checkForUpdatesInBackground(); })
    , worker(std::make_unique<WorkerThread>(QStringLiteral("update-worker")))
    , state(std::make_shared<WorkerState>()) {
    worker->post([state = state, limits = this->settings.limits] {
        state->loader = std::make_unique<UpdateFeedLoader>(limits);
    });
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

UpdateChecker::~UpdateChecker() {
    stop();
}

void UpdateChecker::stop() {
    scheduler.stop();
    ++currentCheck;
    checkInProgress = false;
    if (!worker)
        return;
    worker->post([state = std::move(state)] { state->loader.reset(); });
    worker->quitAndWait(std::chrono::seconds(5));
    worker.reset();
}

void UpdateChecker::startUpdater() {
    started = true;
    if (automaticChecks)
        scheduler.start();
}

void UpdateChecker::setAutomaticallyChecksForUpdates(bool automatic) {
    automaticChecks = automatic;
    if (!automatic)
        scheduler.stop();
    else if (started && !scheduler.isActive())
        scheduler.start();
}

void UpdateChecker::setUpdateCheckInterval(std::chrono::milliseconds interval) {
    scheduler.setInterval(interval);
    if (interval > std::chrono::milliseconds::zero() && automaticChecks && started &&
        !scheduler.isActive())
        scheduler.start();
}

void UpdateChecker::checkForUpdates() {
    startCheck(true);
}

void UpdateChecker::checkForUpdatesInBackground() {
    startCheck(false);
}

QUrl UpdateChecker::feedURL() const {
    const QString text = BundleInfo::main().string(BundleInfo::feedUrlKey).value_or(QString());
    return QUrl(text.trimmed(), QUrl::StrictMode);
}

QString UpdateChecker::hostVersion() const {
    const BundleInfo& info = BundleInfo::main();
    return info.string(BundleInfo::versionKey)
        .value_or(info.string(BundleInfo::shortVersionKey).value_or(QString()));
}

QString UpdateChecker::hostDisplayVersion() const {
    const BundleInfo& info = BundleInfo::main();
    return info.string(BundleInfo::shortVersionKey).value_or(hostVersion());
}

void UpdateChecker::startCheck(bool byUser) {
    if (!worker)
        return;
    if (checkInProgress) {
        // A running automatic check becomes the user's: its outcome is shown.
        if (byUser && !userInitiated) {
            userInitiated = true;
            showProgress();
        }
        return;
    }
    const quint64 check = ++currentCheck;
    checkInProgress = true;
    userInitiated = byUser;
    if (byUser)
        showProgress();
    const QUrl feed = feedURL();
    if (feed.isEmpty()) {
        finishCheck(check, {.update = std::nullopt, .error = QStringLiteral("no feed URL is set")});
        return;
    }
    const QByteArray userAgent = (settings.applicationName + u'/' + hostDisplayVersion()).toUtf8();
    worker->post([state = state, feed, userAgent, host = hostVersion(),
                  limits = settings.appcastLimits, check, receiver = this] {
        state->loader->load(feed, userAgent, [=](const UpdateFeedLoader::Result& download) {
            Outcome outcome = evaluate(download, host, limits);
            // The checker stops this thread before it goes, so it is still there; a result
            // that arrives after a cancel carries an old check number and is dropped.
            QMetaObject::invokeMethod(
                receiver, [receiver, check, outcome] { receiver->finishCheck(check, outcome); },
                Qt::QueuedConnection);
        });
    });
}

void UpdateChecker::showProgress() {
    if (userDriver)
        userDriver->showUserInitiatedUpdateCheck([this] { cancelCheck(); });
}

void UpdateChecker::cancelCheck() {
    if (!checkInProgress || !worker)
        return;
    ++currentCheck;
    checkInProgress = false;
    userInitiated = false;
    worker->post([state = state] { state->loader->cancel(); });
}

void UpdateChecker::finishCheck(quint64 check, const Outcome& outcome) {
    if (check != currentCheck || !checkInProgress)
        return;
    checkInProgress = false;
    const bool byUser = std::exchange(userInitiated, false);
    if (byUser && userDriver)
        userDriver->dismissUserInitiatedUpdateCheck();
    if (outcome.invalidItemCount > 0)
        logger().info("The update feed has %d invalid items; they are ignored",
                      outcome.invalidItemCount);
    if (!outcome.error.isEmpty()) {
        // Only a check the user asked for may interrupt them with a failure.
        logger().info("Update check failed: %s", outcome.error);
        if (byUser && userDriver)
            userDriver->showUpdaterError(outcome.error);
        return;
    }
    if (outcome.update) {
        if (delegate)
            delegate->updaterDidFindValidUpdate(this, *outcome.update);
        if (userDriver)
            userDriver->showUpdateFound(*outcome.update, hostDisplayVersion());
        return;
    }
    if (delegate)
        delegate->updaterDidNotFindUpdate(this);
    if (byUser && userDriver)
        userDriver->showUpdateNotFound(hostDisplayVersion());
}
