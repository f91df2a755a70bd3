#pragma once

#include "sdk/Appcast.h"
#include "sdk/UpdateCheckScheduler.h"
#include "sdk/UpdateFeedLoader.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

class UpdateCheckerDelegate;
class UpdateUserDriver;
class WorkerThread;

// Checks the update feed named by the application's information dictionary, automatically
// on a schedule and when the user asks. The feed is downloaded and read on a worker thread;
// the GUI thread only starts a check and hands its outcome to the delegate and the user
// driver. One check runs at a time. The time of the last check and a version the user skipped
// are kept in the application's settings.
class UpdateChecker : public QObject {
public:
    static inline const QString lastCheckTimeKey = QStringLiteral("SULastCheckTime");
    static inline const QString skippedVersionKey = QStringLiteral("SUSkippedVersion");

    struct Settings {
        UpdateCheckScheduler::Timing timing{};
        UpdateFeedLoader::Limits limits{};
        Appcast::Limits appcastLimits{};
        QString applicationName = QStringLiteral("Pixaloom");
    };

    // What a check found, worked out on the worker thread.
    struct Outcome {
        std::optional<AppcastItem> update; // a valid update, when the feed was read
        QString error;                     // why the feed could not be read, else empty
        int invalidItemCount = 0;
        bool noFeed = false; // no check is possible: the application has no feed URL
    };

    UpdateChecker(UpdateCheckerDelegate* delegate, UpdateUserDriver* userDriver, Settings settings);
    ~UpdateChecker() override;

    // Starts the schedule of automatic checks when they are on.
    void startUpdater();
    void setAutomaticallyChecksForUpdates(bool automatic);
    bool automaticallyChecksForUpdates() const { return automaticChecks; }
    void setUpdateCheckInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds updateCheckInterval() const { return scheduler.interval(); }
    // When the feed was last asked for, by any check; none when it never was.
    std::optional<UpdateCheckScheduler::WallClock::time_point> lastUpdateCheckDate() const;

    // A check the user asked for: shows its progress and its outcome.
    void checkForUpdates();
    // A check that shows nothing unless it finds an update.
    void checkForUpdatesInBackground();
    bool sessionInProgress() const { return checkInProgress; }

    // Read at every check, as the dictionary may change while the application runs.
    QUrl feedURL() const;
    QString hostVersion() const;
    QString hostDisplayVersion() const;

private:
    struct WorkerState;

    void startCheck(bool userInitiated);
    void cancelCheck();
    void finishCheck(quint64 check, const Outcome& outcome);
    void recordCheck();
    // The version the user chose to skip, or empty.
    QString skippedVersion() const;
    void skipVersion(const QString& version);
    bool isSkipped(const AppcastItem& item) const;
    void showProgress();
    void stop();

    // Long enough for the worker to give up what it is doing, short enough for a quick quit.
    static constexpr std::chrono::milliseconds stopTimeout{500};

    UpdateCheckerDelegate* delegate;
    UpdateUserDriver* userDriver;
    Settings settings;
    UpdateCheckScheduler scheduler;
    bool started = false;
    bool automaticChecks = false;
    bool checkInProgress = false;
    bool userInitiated = false;
    quint64 currentCheck = 0;
    // Asked to stop when the running check is cancelled or the checker stops.
    std::stop_source checkStop;
    std::unique_ptr<WorkerThread> worker;
    std::shared_ptr<WorkerState> state;
};
