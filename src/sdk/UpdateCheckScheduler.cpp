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

void UpdateCheckScheduler::start(std::optional<WallClock::time_point> lastCheck) {
    if (checkInterval <= milliseconds::zero())
        return;
    active = true;
    const auto now = SteadyClock::now();
    earliest = now + timing.firstDelay;
    lastCheckSteady.reset();
    // A last check in the future means the clock was set back: it tells nothing.
    if (lastCheck && *lastCheck <= timing.wallClock())
        lastCheckSteady = now - (timing.wallClock() - *lastCheck);
    reschedule();
}

void UpdateCheckScheduler::stop() {
    active = false;
    timer.stop();
}

void UpdateCheckScheduler::checkedNow() {
    lastCheckSteady = SteadyClock::now();
    if (active)
        reschedule();
}

void UpdateCheckScheduler::setInterval(milliseconds interval) {
    checkInterval = interval;
    if (interval <= milliseconds::zero()) {
        stop();
        return;
    }
    // Counted from the last check, as if the interval had always been this one.
    if (active)
        reschedule();
}

void UpdateCheckScheduler::reschedule() {
    const auto now = SteadyClock::now();
    const auto due = std::max(lastCheckSteady ? *lastCheckSteady + checkInterval : now, earliest);
    dueIn(duration_cast<milliseconds>(std::max(due - now, SteadyClock::duration::zero())));
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
        checkedNow();
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
