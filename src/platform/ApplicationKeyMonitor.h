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

    static std::unique_ptr<ApplicationKeyMonitor> addLocalMonitorForKeyDown(Handler handler);
    ~ApplicationKeyMonitor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ApplicationKeyMonitor(Handler handler);

    Handler handler;
};
