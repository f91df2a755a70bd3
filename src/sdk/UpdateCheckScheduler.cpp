#include "sdk/UpdateCheckScheduler.h"

#include <algorithm>

using std::chrono::duration_cast;
using std::chrono::milliseconds;

UpdateCheckScheduler::UpdateCheckScheduler(Timing timing, std::function<void()> check)
    : timing(std::move(timing))
    , check(std::move(check)) {
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &UpdateCheckScheduler::wake);
}

void UpdateCheckScheduler::start() {
    if (checkInterval <= milliseconds::zero())
        return;
    active = true;
    checkedOnce = false;
    dueIn(timing.firstDelay);
}

void UpdateCheckScheduler::stop() {
    active = false;
    timer.stop();
}

void UpdateCheckScheduler::setInterval(milliseconds interval) {
    checkInterval = interval;
    if (interval <= milliseconds::zero()) {
        stop();
        return;
    }
    if (!active || !checkedOnce)
        return;
    // Counted from the last check, as if the interval had always been this one.
    const auto since = duration_cast<milliseconds>(SteadyClock::now() - lastCheckSteady);
    dueIn(std::max(interval - since, milliseconds::zero()));
}

void UpdateCheckScheduler::dueIn(milliseconds delay) {
    dueSteady = SteadyClock::now() + delay;
    dueWall = timing.wallClock() + delay;
    arm();
}

// Wakes at the due time, or earlier to look at the wall clock.
void UpdateCheckScheduler::arm() {
    const auto left = duration_cast<milliseconds>(dueSteady - SteadyClock::now());
    timer.start(std::clamp(left, milliseconds::zero(), timing.watchInterval));
}

void UpdateCheckScheduler::wake() {
    if (!active)
        return;
    if (SteadyClock::now() >= dueSteady) {
        checkedOnce = true;
        lastCheckSteady = SteadyClock::now();
        dueIn(checkInterval);
        check();
        return;
    }
    // The steady clock says "not yet" but the wall clock has passed the due time: the
    // machine slept through it (or the clock was set forward).
    if (timing.wallClock() >= dueWall && dueSteady - SteadyClock::now() > timing.wakeDelay) {
        dueIn(timing.wakeDelay);
        return;
    }
    arm();
}
