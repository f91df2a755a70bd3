#include "editor/FadeAnimation.h"

FadeAnimation::FadeAnimation(QObject* target, const QByteArray& propertyName, int frameInterval,
                             QObject* parent)
    : QPropertyAnimation(target, propertyName, parent)
    , frameInterval(frameInterval) {
}

void FadeAnimation::updateCurrentTime(int currentTime) {
    // The first and the last value are always set: the fade starts and ends where it says.
    const bool atEdge = currentTime == 0 || currentTime >= duration();
    if (!atEdge && lastFrameTime >= 0 && currentTime - lastFrameTime < frameInterval)
        return;
    lastFrameTime = currentTime;
    QPropertyAnimation::updateCurrentTime(currentTime);
}
