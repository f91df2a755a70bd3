// The capture's speed: one full overlay repaint during a drag on a 4K screen, the capture
// window from creation to its first painted frame, and mouse-up to the image handed on.

#include "shell/OverlayView.h"
#include "shell/ScreenCaptureWindow.h"

#include "CaptureTestDoubles.h"
#include "ProcessCpu.h"
#include "RealisticScreen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

namespace {

// Every capture benchmark reads a realistic 4K screen; false (and the benchmark skipped)
// where there is none.
bool onRealisticScreen(benchmark::State& state) {
    const QString& reason = RealisticScreen::shared().skipReason;
    if (reason.isEmpty())
        return true;
    state.SkipWithError(reason.toStdString().c_str());
    return false;
}

void sendMouse(QWidget* view, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

// Lets work on the pool threads finish and hand its results back.
void settleBackgroundWork() {
    // Work the last frame queued for later starts first.
    QCoreApplication::processEvents();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

// Notes when any overlay has painted.
class PaintWatch : public QObject {
public:
    PaintWatch() { qApp->installEventFilter(this); }
    ~PaintWatch() override { qApp->removeEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<OverlayView*>(watched))
            painted = true;
        return false;
    }
};

// A desktop of real text, widgets and a photo beneath the capture window: a frameless window
// showing the realistic screenshot over the whole (window-manager-less) X screen.
class RealisticDesktop : public QWidget {
public:
    RealisticDesktop()
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        picture = RealisticScreen::shared().screen4K;
        if (picture.isNull())
            return;
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(QRect(QPoint(), picture.size()));
        show();
        // Let the X server show it before anything reads the screen.
        for (int round = 0; round < 20; ++round)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(QPointF(), picture); }

private:
    QImage picture;
};

void BM_OverlayRepaintDuringDrag(benchmark::State& state) {
    if (!onRealisticScreen(state))
        return;
    const bool withBackdrop = state.range(0) != 0;
    OverlayView view;
    view.resize(3840, 2160);
    if (!withBackdrop)
        view.setAttribute(Qt::WA_TranslucentBackground);
    else
        view.setBackdrop(RealisticScreen::shared().screen4K);
    view.show();
    QCoreApplication::processEvents();
    // A drag starts a moment after the window appears: by then the work the first frame
    // started in the background has finished.
    settleBackgroundWork();
    sendMouse(&view, QEvent::MouseMove, {1000, 800}, Qt::NoButton, Qt::NoButton);
    sendMouse(&view, QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton, Qt::LeftButton);
    int step = 0;
    const double cpuStart = cpuSeconds();
    for (auto _ : state) {
        const QPointF to(2000 + step % 400, 1200 + step % 300);
        ++step;
        sendMouse(&view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        view.repaint();
    }
    state.counters["total_cpu_ms"] = (cpuSeconds() - cpuStart) * 1000 / double(step);
    state.SetLabel(withBackdrop ? "screen picture beneath" : "translucent");
}
BENCHMARK(BM_OverlayRepaintDuringDrag)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CaptureWindowShownToFirstFrame(benchmark::State& state) {
    if (!onRealisticScreen(state))
        return;
    using Clock = std::chrono::steady_clock;
    const RealisticDesktop desktop;
    double cpu = 0;
    for (auto _ : state) {
        PaintWatch watch;
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        ScreenCaptureWindow window;
        while (!watch.painted)
            QCoreApplication::processEvents();
        const auto elapsed = Clock::now() - start;
        cpu += cpuSeconds() - cpuStart;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        window.close();
        // Each capture opens on a quiet application, as a user's does.
        settleBackgroundWork();
        state.SetLabel(
            QStringLiteral("%1 x %2").arg(window.width()).arg(window.height()).toStdString());
    }
    state.counters["total_cpu_ms"] = cpu * 1000 / double(state.iterations());
}
BENCHMARK(BM_CaptureWindowShownToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MouseUpToImageHandedOn(benchmark::State& state) {
    if (!onRealisticScreen(state))
        return;
    using Clock = std::chrono::steady_clock;
    const RealisticDesktop desktop;
    double cpu = 0;
    for (auto _ : state) {
        RecordingCaptureReceiver receiver;
        ScreenCaptureWindow window;
        window.setAppDelegate(&receiver);
        auto* view = window.findChild<OverlayView*>();
        QCoreApplication::processEvents();
        // A user's drag lasts longer than the work the first frame started in the background.
        settleBackgroundWork();
        sendMouse(view, QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton, Qt::LeftButton);
        sendMouse(view, QEvent::MouseMove, {1100, 700}, Qt::NoButton, Qt::LeftButton);

        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        sendMouse(view, QEvent::MouseButtonRelease, {1100, 700}, Qt::LeftButton, Qt::NoButton);
        while (receiver.handOffs.empty() && window.isVisible())
            QCoreApplication::processEvents();
        const auto elapsed = Clock::now() - start;
        cpu += cpuSeconds() - cpuStart;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        if (receiver.handOffs.empty()) {
            state.SkipWithError("no image was handed on");
            break;
        }
    }
    state.counters["total_cpu_ms"] =
        cpu * 1000 / double(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_MouseUpToImageHandedOn)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
