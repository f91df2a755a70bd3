#include "editor/FadeAnimation.h"

FadeAnimation::FadeAnimation(QObject* target, const QByteArray& propertyName, int frameInterval,
                             QObject* parent)
    : QPropertyAnimation(target, propertyName, parent)
    , frameInterval(frameInterval) {
}

void FadeAnimation::updateCurrentTime(int currentTime) {
    const bool atEnd = currentTime >= duration() || currentTime == 0;
    if (!atEnd && lastFrameTime >= 0 && currentTime - lastFrameTime < frameInterval)
        return;
    lastFrameTime = currentTime;
    QPropertyAnimation::updateCurrentTime(currentTime);
}
