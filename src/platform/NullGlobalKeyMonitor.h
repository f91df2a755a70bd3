#pragma once

#include "platform/GlobalKeyMonitor.h"

// Watches nothing: for platforms without a desktop of other applications.
class NullGlobalKeyMonitor : public GlobalKeyMonitor {
public:
    bool isWatching() const override { return false; }
};
