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
    // While paused the spinner asks for no frames of its own: whoever repaints it (a fade of
    // the view around it, every frame of which repaints the spinner too) shows it turned by
    // the clock. A frame of its own between two such frames would have to wait for the X
    // server to finish taking the whole-window frame before it.
    void setOwnFramesPaused(bool paused) { ownFramesPaused = paused; }
    QSize sizeHint() const override { return {32, 32}; }
    // Where the brightest spoke points, in degrees clockwise from the top.
    qreal headAngle() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int spokes = 12;
    QTimer timer;
    QElapsedTimer clock;
    bool ownFramesPaused = false;
};
