#pragma once

// Tools for the tests under a real X server: xdotool run beside the event loop, and a
// window of known colours.

#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

inline constexpr int screenTestTimeoutMs = 10000;

// Runs xdotool while this process keeps handling its events; returns its standard output.
inline QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    EXPECT_TRUE(process.waitForStarted()) << "xdotool is not installed";
    const bool finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; },
                                          screenTestTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    EXPECT_TRUE(finished && process.exitCode() == 0)
        << "xdotool " << arguments.join(' ').toStdString() << " failed";
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Four quadrants of known colours at an exact place (no window manager runs under Xvfb).
class KnownColours : public QWidget {
public:
    static constexpr QRgb topLeft = qRgb(220, 20, 60), topRight = qRgb(20, 200, 90),
                          bottomLeft = qRgb(30, 60, 230), bottomRight = qRgb(250, 210, 10);

    explicit KnownColours(QRect area)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setGeometry(area);
    }

    // The colour at a point of the desktop, in device-independent pixels.
    QRgb colourAt(QPointF global) const {
        const QPointF centre = QRectF(geometry()).center();
        if (global.y() < centre.y())
            return global.x() < centre.x() ? topLeft : topRight;
        return global.x() < centre.x() ? bottomLeft : bottomRight;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int w = width() / 2, h = height() / 2;
        painter.fillRect(0, 0, w, h, QColor(topLeft));
        painter.fillRect(w, 0, w, h, QColor(topRight));
        painter.fillRect(0, h, w, h, QColor(bottomLeft));
        painter.fillRect(w, h, w, h, QColor(bottomRight));
    }
};

inline void showAndWaitForExposure(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));
}

// Every pixel of `image`, taken at `origin` of the desktop, against the colours' window.
inline int pixelsUnlike(const QImage& image, QPointF origin, const KnownColours& colours) {
    const qreal ratio = image.devicePixelRatio();
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QPointF at = origin + QPointF(x + 0.5, y + 0.5) / ratio;
            wrong += image.pixel(x, y) != colours.colourAt(at);
        }
    return wrong;
}
