#include "shell/Updater.h"

Updater& Updater::shared() {
    static Updater instance;
    return instance;
}

void Updater::checkForUpdates() {
}
