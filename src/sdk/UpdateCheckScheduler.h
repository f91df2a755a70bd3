#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// Runs automatic update checks one interval after the last one, which may have been in an
// earlier run of the application; a check that is due (or one that never ran) comes a short
// while after start, never during the application's own start-up. A timer's clock stands
// still while the machine sleeps, so the scheduler also holds each due time on the wall clock
// and looks at it every `watchInterval`: a check missed during sleep runs `wakeDelay` after
// waking, once the network has had a moment to come back.
class UpdateCheckScheduler : public QObject {
public:
    using SteadyClock = std::chrono::steady_clock;
    using WallClock = std::chrono::system_clock;

    struct Timing {
        std::chrono::milliseconds firstDelay{std::chrono::seconds(30)};
        std::chrono::milliseconds watchInterval{std::chrono::seconds(60)};
        std::chrono::milliseconds wakeDelay{std::chrono::seconds(30)};
        // The wall clock; tests move it as a sleeping machine would.
        std::function<WallClock::time_point()> wallClock = [] {
            return WallClock::now();
        };
    };

    UpdateCheckScheduler(Timing timing, std::function<void()> check);

    // Starts counting from `lastCheck` on the wall clock (none: never checked), but no check
    // comes within `firstDelay` of now.
    void start(std::optional<WallClock::time_point> lastCheck);
    void stop();
    bool isActive() const { return active; }
    // A check ran just now, also one the user asked for: the next is one interval away.
    void checkedNow();
    // The time between checks; zero or less turns automatic checks off.
    void setInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds interval() const { return checkInterval; }

private:
    void reschedule();
    void dueIn(std::chrono::milliseconds delay);
    void arm();
    void wake();

    Timing timing;
    std::function<void()> check;
    std::chrono::milliseconds checkInterval{std::chrono::hours(24)};
    bool active = false;
    SteadyClock::time_point earliest;
    std::optional<SteadyClock::time_point> lastCheckSteady;
    SteadyClock::time_point dueSteady;
    WallClock::time_point dueWall;
    QTimer timer;
};
