#include "sdk/UpdateChecker.h"

#include "platform/BundleInfo.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"
#include "sdk/UpdateCheckerDelegate.h"
#include "sdk/UpdateUserDriver.h"
#include "sdk/VersionComparator.h"
#include "sdk/WorkerThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QPointer>

namespace {

using WallClock = UpdateCheckScheduler::WallClock;

const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"),
                                 QStringLiteral("UpdateChecker")};
    return instance;
}

UpdateChecker::Outcome evaluate(const UpdateFeedLoader::Result& download,
                                const QString& hostVersion, Appcast::Limits limits,
                                const std::stop_token& abandon) {
    if (!download)
        return {.update = std::nullopt, .error = download.error()};
    const auto appcast = Appcast::parse(*download, limits, abandon);
    if (!appcast)
        return {.update = std::nullopt,
                .error = QStringLiteral("the feed cannot be read (%1)").arg(appcast.error())};
    return {.update = appcast->validUpdate(hostVersion, abandon),
            .error = {},
            .invalidItemCount = appcast->invalidItemCount};
}

// Written as UTC text, readable by whoever looks into the settings file.
QString settingsText(WallClock::time_point time) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(sinceEpoch.count(), Qt::UTC).toString(Qt::ISODate);
}

// None for text that is no time the wall clock can hold (a hand-edited file).
std::optional<WallClock::time_point> wallTime(const QString& text) {
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid() || time.date().year() < 1970 || time.date().year() >= 2200)
        return std::nullopt;
    return WallClock::time_point(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

void store(const QString& key, const QString& value) {
    auto settings = UserDefaults::standard();
    settings->setValue(key, value);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        logger().error("Could not store %s in %s", key, settings->fileName());
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

// The application is quitting: whatever the worker is doing, downloading or reading a feed,
// it gives up at once.
void UpdateChecker::stop() {
    scheduler.stop();
    ++currentCheck;
    checkInProgress = false;
    checkStop.request_stop();
    if (!worker)
        return;
    worker->post([state = std::move(state)] { state->loader.reset(); });
    if (worker->quitAndWait(stopTimeout)) {
        worker.reset();
        return;
    }
    // Destroying a running thread would abort the process; one that does not end is left to
    // the end of the process instead.
    logger().error("The update worker did not stop within %d ms",
                   static_cast<int>(stopTimeout.count()));
    static_cast<void>(worker.release());
}

void UpdateChecker::startUpdater() {
    started = true;
    if (automaticChecks)
        scheduler.start(lastUpdateCheckDate());
}

void UpdateChecker::setAutomaticallyChecksForUpdates(bool automatic) {
    automaticChecks = automatic;
    if (!automatic)
        scheduler.stop();
    else if (started && !scheduler.isActive())
        scheduler.start(lastUpdateCheckDate());
}

void UpdateChecker::setUpdateCheckInterval(std::chrono::milliseconds interval) {
    scheduler.setInterval(interval);
    if (interval > std::chrono::milliseconds::zero() && automaticChecks && started &&
        !scheduler.isActive())
        scheduler.start(lastUpdateCheckDate());
}

std::optional<WallClock::time_point> UpdateChecker::lastUpdateCheckDate() const {
    return wallTime(UserDefaults::standard()->value(lastCheckTimeKey).toString());
}

QString UpdateChecker::skippedVersion() const {
    return UserDefaults::standard()->value(skippedVersionKey).toString();
}

void UpdateChecker::skipVersion(const QString& version) {
    store(skippedVersionKey, version);
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
        finishCheck(check, {.update = std::nullopt,
                            .error = QStringLiteral("no feed URL is set"),
                            .noFeed = true});
        return;
    }
    recordCheck();
    checkStop = std::stop_source();
    const QByteArray userAgent = (settings.applicationName + u'/' + hostDisplayVersion()).toUtf8();
    worker->post([state = state, feed, userAgent, host = hostVersion(),
                  limits = settings.appcastLimits, check, receiver = this,
                  abandon = checkStop.get_token()] {
        state->loader->load(feed, userAgent, [=](const UpdateFeedLoader::Result& download) {
            Outcome outcome = evaluate(download, host, limits, abandon);
            // A cancelled check, or a checker that is stopping, wants no answer. Otherwise the
            // checker is still there: it stops this thread before it goes.
            if (abandon.stop_requested())
                return;
            QMetaObject::invokeMethod(
                receiver, [receiver, check, outcome] { receiver->finishCheck(check, outcome); },
                Qt::QueuedConnection);
        });
    });
}

// Kept in the settings, so that the next start counts the interval from it. Written on the
// worker, before the check's download: writing a file waits for the disk.
void UpdateChecker::recordCheck() {
    scheduler.checkedNow();
    worker->post(
        [time = settingsText(settings.timing.wallClock())] { store(lastCheckTimeKey, time); });
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
    // The worker may be reading the feed: it gives up, and the next check need not wait.
    checkStop.request_stop();
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
            outcome.noFeed ? userDriver->showNoUpdateFeed()
                           : userDriver->showUpdaterError(outcome.error);
        return;
    }
    if (outcome.update && (byUser || !isSkipped(*outcome.update))) {
        if (delegate)
            delegate->updaterDidFindValidUpdate(this, *outcome.update);
        if (userDriver)
            userDriver->showUpdateFound(
                *outcome.update, hostDisplayVersion(),
                [checker = QPointer(this), version = outcome.update->versionString] {
                    if (checker)
                        checker->skipVersion(version);
                });
        return;
    }
    if (delegate)
        delegate->updaterDidNotFindUpdate(this);
    if (byUser && userDriver)
        userDriver->showUpdateNotFound(hostDisplayVersion());
}

// Only automatic checks hide a skipped version, and the older ones with it; a check the
// user asks for shows whatever is newest.
bool UpdateChecker::isSkipped(const AppcastItem& item) const {
    const QString skipped = skippedVersion();
    return !skipped.isEmpty() && VersionComparator::compare(item.versionString, skipped) <= 0;
}
