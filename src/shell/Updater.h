#pragma once

#include "sdk/UpdateCheckerDelegate.h"

#include <memory>

class UpdateChecker;
class UpdateController;

// The application's software-update controller: made once at launch, it checks the update
// feed automatically once a day and when the user asks, and logs each outcome.
class Updater : public UpdateCheckerDelegate {
public:
    static Updater& shared();

    ~Updater() override;
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // A check the user asked for, with its progress and result windows.
    void checkForUpdates();

    void updaterDidFindValidUpdate(UpdateChecker* updater, const AppcastItem& item) override;
    void updaterDidNotFindUpdate(UpdateChecker* updater) override;

    UpdateChecker* updater = nullptr; // owned by the controller, kept for its settings
    std::unique_ptr<UpdateController> updaterController;

private:
    Updater();
};
