#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

// Tells of every top-level window of the application, whoever made it, becoming the active
// (key) window and closing. X11 has no "will close" notification: a window closes when it
// receives a close request that it accepts, which shows only as the hide that follows. A
// window already hidden when it is closed (a capture window during its screen grab) sends no
// hide, so a close request is also confirmed one event-loop turn later if the window is not
// visible by then.
class WindowNotificationCenter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(QWidget* window)>;

    WindowNotificationCenter(Handler didBecomeKey, Handler willClose);
    ~WindowNotificationCenter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeRequested(QWidget* window);
    void confirmClose(QWidget* window);

    Handler didBecomeKey;
    Handler willClose;
    // Windows asked to close whose closing has not been seen yet.
    std::vector<QPointer<QWidget>> closing;
};
