#pragma once

// Checks for new versions of the application. Until the update feed is read, it does
// nothing.
class Updater {
public:
    static Updater& shared();
    void checkForUpdates();

private:
    Updater() = default;
};
