#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in a terminal, a closed
// terminal) into a call on this thread's event loop, so that the application can end the way
// it ends on Quit instead of being killed mid-step. The handler only writes the signal's
// number to a pipe, which is all a signal handler may safely do; the event loop reads it,
// also while a nested loop (a modal dialog) runs. While an object lives, the signals no
// longer end the process by themselves; its destruction gives them their previous actions.
// A signal ignored when the object is made (under nohup, say) stays ignored. One object per
// process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Whether the signals are caught: false when no pipe could be made (logged).
    bool isActive() const { return notifier != nullptr; }

private:
    void readSignals();

    std::function<void(int)> onSignal;
    int readEnd = -1;
    QSocketNotifier* notifier = nullptr;
};
