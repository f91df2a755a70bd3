#pragma once

#include <QByteArray>
#include <QEasingCurve>
#include <QPointer>
#include <QVariant>

class QObject;
class QParallelAnimationGroup;

// One group of property animations sharing a duration and a timing curve, started when the
// group goes out of scope. As with Core Animation, a new animation of a property takes over
// from one still running on it, starting from the value on screen.
class AnimationGroup {
public:
    enum class Timing { easeOut, easeIn, easeInEaseOut };

    AnimationGroup(double seconds, Timing timing);
    ~AnimationGroup();
    AnimationGroup(const AnimationGroup&) = delete;
    AnimationGroup& operator=(const AnimationGroup&) = delete;

    void animate(QObject* target, const QByteArray& property, const QVariant& to);

    // Ends a running animation of the property where it stands, for a change made at once.
    static void stop(QObject* target, const QByteArray& property);

    // Core Animation's named timing functions as cubic Bézier curves.
    static QEasingCurve curve(Timing timing);

private:
    int milliseconds;
    QEasingCurve easing;
    QPointer<QParallelAnimationGroup> group;
};
