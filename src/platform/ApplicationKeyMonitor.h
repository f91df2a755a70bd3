#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QKeyEvent;

// An application-wide key-down monitor: sees every key press sent to any of the
// application's windows before the window does. The handler returns true to consume the
// event. The monitor is removed when this object is destroyed. The newest monitor sees an
// event first.
class ApplicationKeyMonitor : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QKeyEvent& event)>;
    // Whether the handler will consume this press. Asked before the press is offered to the
    // application's shortcuts, which would otherwise take it first and leave the handler
    // nothing to see; it must not act, the handler does that when the press itself comes.
    using Claim = std::function<bool(const QKeyEvent& event)>;

    static std::unique_ptr<ApplicationKeyMonitor> addLocalMonitorForKeyDown(Handler handler,
                                                                            Claim claims = {});
    ~ApplicationKeyMonitor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ApplicationKeyMonitor(Handler handler, Claim claims);

    Handler handler;
    Claim claims;
};
