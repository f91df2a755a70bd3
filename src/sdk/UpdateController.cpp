#include "sdk/UpdateController.h"

UpdateController::UpdateController(bool startingUpdater, UpdateCheckerDelegate* updaterDelegate,
                                   UpdateChecker::Settings settings)
    : dialogs(settings.applicationName)
    , checker(std::make_unique<UpdateChecker>(updaterDelegate, &dialogs, std::move(settings))) {
    if (startingUpdater)
        checker->startUpdater();
}
