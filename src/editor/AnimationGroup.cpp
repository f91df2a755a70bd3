#include "editor/AnimationGroup.h"

#include <QHash>
#include <QParallelAnimationGroup>
#include <QPointF>
#include <QPropertyAnimation>

#include <cmath>

namespace {

using AnimationKey = std::pair<const QObject*, QByteArray>;

// The animation currently driving each (object, property), so a new one can take over.
QHash<AnimationKey, QPointer<QPropertyAnimation>>& running() {
    static QHash<AnimationKey, QPointer<QPropertyAnimation>> animations;
    return animations;
}

void stopRunning(QObject* target, const QByteArray& property) {
    const QPointer<QPropertyAnimation> animation = running().take({target, property});
    // Deleted, not stopped: a stopped child of a running group would be restarted by it.
    if (animation && animation->targetObject() == target)
        delete animation.data();
}

} // namespace

AnimationGroup::AnimationGroup(double seconds, Timing timing)
    : milliseconds(static_cast<int>(std::lround(seconds * 1000)))
    , easing(curve(timing)) {
}

AnimationGroup::~AnimationGroup() {
    if (!group)
        return;
    if (group->animationCount() == 0) {
        delete group.data();
        return;
    }
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void AnimationGroup::animate(QObject* target, const QByteArray& property, const QVariant& to) {
    if (!target)
        return;
    stopRunning(target, property);
    if (!group)
        group = new QParallelAnimationGroup(target);
    auto* animation = new QPropertyAnimation(target, property, group);
    animation->setDuration(milliseconds);
    animation->setEasingCurve(easing);
    animation->setEndValue(to);
    const AnimationKey key{target, property};
    running().insert(key, animation);
    QObject::connect(animation, &QObject::destroyed, [key] {
        const auto found = running().find(key);
        if (found != running().end() && !found.value())
            running().erase(found);
    });
}

void AnimationGroup::stop(QObject* target, const QByteArray& property) {
    stopRunning(target, property);
}

QEasingCurve AnimationGroup::curve(Timing timing) {
    QPointF first, second;
    switch (timing) {
    case Timing::easeOut:
        first = {0, 0};
        second = {0.58, 1};
        break;
    case Timing::easeIn:
        first = {0.42, 0};
        second = {1, 1};
        break;
    case Timing::easeInEaseOut:
        first = {0.42, 0};
        second = {0.58, 1};
        break;
    }
    QEasingCurve easing(QEasingCurve::BezierSpline);
    easing.addCubicBezierSegment(first, second, {1, 1});
    return easing;
}
