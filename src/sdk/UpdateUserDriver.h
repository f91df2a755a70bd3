#pragma once

#include "sdk/AppcastItem.h"

#include <QString>

#include <functional>

// What the user sees of update checks. Automatic checks show only a found update; a check
// the user asked for shows its progress and always its outcome. Called on the GUI thread.
class UpdateUserDriver {
public:
    virtual ~UpdateUserDriver() = default;
    // A check the user asked for is running; `cancel` stops it.
    virtual void showUserInitiatedUpdateCheck(std::function<void()> cancel) = 0;
    virtual void dismissUserInitiatedUpdateCheck() = 0;
    // `skip` keeps automatic checks quiet about this version and older ones.
    virtual void showUpdateFound(const AppcastItem& item, const QString& currentVersion,
                                 std::function<void()> skip) = 0;
    virtual void showUpdateNotFound(const QString& currentVersion) = 0;
    virtual void showUpdaterError(const QString& reason) = 0;
    // The application was built without an update feed: no check can ever succeed.
    virtual void showNoUpdateFeed() = 0;
};
