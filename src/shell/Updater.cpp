#include "shell/Updater.h"

#include "platform/SystemLog.h"
#include "sdk/UpdateController.h"

#include <QCoreApplication>

#include <chrono>

Updater& Updater::shared() {
    static Updater instance;
    return instance;
}

Updater::Updater() {
    updaterController = std::make_unique<UpdateController>(true, this);
    updater = updaterController->updater();
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setUpdateCheckInterval(std::chrono::seconds(86400));
    // The controller's thread and timers end with the application: at process exit the
    // event loops that would end them are gone.
    qAddPostRoutine([] {
        Updater& instance = shared();
        instance.updater = nullptr;
        instance.updaterController.reset();
    });
}

Updater::~Updater() = default;

void Updater::checkForUpdates() {
    if (updaterController)
        updaterController->checkForUpdates();
}

void Updater::updaterDidFindValidUpdate(UpdateChecker*, const AppcastItem& item) {
    systemLog(QStringLiteral("Found valid update: ") + item.displayVersionString);
}

void Updater::updaterDidNotFindUpdate(UpdateChecker*) {
    systemLog(QStringLiteral("No updates available"));
}
