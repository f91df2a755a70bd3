#pragma once

#include <QPropertyAnimation>

// A property animation that sets its value at most every `frameInterval` milliseconds, and
// always at its end. Fading a window-sized translucent view repaints the whole window; on a
// 4K screen the X server needs longer to take one such frame than the animation clock's 16 ms,
// and every frame drawn before it is done waits for it on the GUI thread.
class FadeAnimation : public QPropertyAnimation {
    Q_OBJECT
public:
    FadeAnimation(QObject* target, const QByteArray& propertyName, int frameInterval,
                  QObject* parent = nullptr);

protected:
    void updateCurrentTime(int currentTime) override;

private:
    int frameInterval;
    int lastFrameTime = -1;
};
