#pragma once

#include "sdk/AppcastItem.h"

class UpdateChecker;

// Told the outcome of every check that read the feed, automatic or asked for; a check that
// could not read it reaches neither. Called on the GUI thread.
class UpdateCheckerDelegate {
public:
    virtual ~UpdateCheckerDelegate() = default;
    virtual void updaterDidFindValidUpdate(UpdateChecker* updater, const AppcastItem& item) = 0;
    virtual void updaterDidNotFindUpdate(UpdateChecker* updater) = 0;
};
