#pragma once

#include "sdk/UpdateChecker.h"
#include "sdk/UpdateDialogs.h"

#include <memory>

class UpdateCheckerDelegate;

// The application's update controller: an update checker with our own dialogs.
class UpdateController {
public:
    UpdateController(bool startingUpdater, UpdateCheckerDelegate* updaterDelegate,
                     UpdateChecker::Settings settings = {});

    UpdateChecker* updater() const { return checker.get(); }
    UpdateDialogs& userDriver() { return dialogs; }
    void startUpdater() { checker->startUpdater(); }
    // A check the user asked for, with its progress and result windows.
    void checkForUpdates() { checker->checkForUpdates(); }

private:
    // Declared first so that it outlives the checker, which shows its windows through it.
    UpdateDialogs dialogs;
    std::unique_ptr<UpdateChecker> checker;
};
