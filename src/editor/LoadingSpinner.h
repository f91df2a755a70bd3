#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

// An indeterminate spinning progress indicator, hidden while stopped.
class LoadingSpinner : public QWidget {
    Q_OBJECT
public:
    explicit LoadingSpinner(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer.isActive(); }
    QSize sizeHint() const override { return {32, 32}; }
    // Where the brightest spoke points, in degrees clockwise from the top.
    qreal headAngle() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int spokes = 12;
    QTimer timer;
    QElapsedTimer clock;
};
