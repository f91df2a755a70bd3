#pragma once

// Stand-ins at the capture window's own interfaces: a receiver that records what it is
// handed, and a screen grabber that answers from a script and records what it was asked.

#include "platform/ScreenGrabber.h"
#include "shell/CaptureReceiver.h"
#include "shell/ScreenCaptureWindow.h"

#include <QColor>
#include <QEventLoop>
#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class RecordingCaptureReceiver : public CaptureReceiver {
public:
    struct HandOff {
        QImage image;
        QRectF frame;
    };

    void showEditWindow(const QImage& image, const QRectF& frame) override {
        handOffs.push_back({image, frame});
        if (onHandOff)
            onHandOff();
    }

    std::vector<HandOff> handOffs;
    std::function<void()> onHandOff;
};

class ScriptedScreenGrabber : public ScreenGrabber {
public:
    // Answers every grab with `answer(area)`; a null image is a failed grab.
    explicit ScriptedScreenGrabber(std::function<QImage(const QRect&)> answer)
        : answer(std::move(answer)) {}

    QImage grab(const QRect& area) override {
        requests.push_back(area);
        windowVisibleDuringGrab.push_back(watchedWindow && watchedWindow->isVisible());
        return answer(area);
    }

    static std::function<QImage(const QRect&)> failing() {
        return [](const QRect&) {
            return QImage();
        };
    }
    // An image of the area, `ratio` device pixels per device-independent pixel, in one colour.
    static std::function<QImage(const QRect&)> solid(QColor color, qreal ratio = 1.0) {
        return [color, ratio](const QRect& area) {
            QImage image(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.fill(color);
            image.setDevicePixelRatio(ratio);
            return image;
        };
    }

    std::vector<QRect> requests;
    std::vector<bool> windowVisibleDuringGrab;
    const QWidget* watchedWindow = nullptr;

private:
    std::function<QImage(const QRect&)> answer;
};

// Waits for the desktop in an event loop of its own before it answers, as the screenshot
// portal does; `duringWait` runs inside that wait. Records in `destroyedWhileWaiting` whether
// it was destroyed in the middle of its own wait.
class WaitingScreenGrabber : public ScreenGrabber {
public:
    WaitingScreenGrabber(std::function<void()> duringWait,
                         std::shared_ptr<bool> destroyedWhileWaiting)
        : duringWait(std::move(duringWait))
        , destroyedWhileWaiting(std::move(destroyedWhileWaiting)) {}
    ~WaitingScreenGrabber() override { *destroyedWhileWaiting = waiting; }

    QImage grab(const QRect& area) override {
        waiting = true;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, duringWait);
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waiting = false;
        return ScriptedScreenGrabber::solid(Qt::red)(area);
    }

private:
    std::function<void()> duringWait;
    std::shared_ptr<bool> destroyedWhileWaiting;
    bool waiting = false;
};

// The ways a capture window can end while its screen grab waits: closed by the user, let go
// of by its owner (deleted on a later turn of the event loop), or destroyed by its owner.
struct CaptureWindowEnding {
    const char* name;
    std::function<void(std::unique_ptr<ScreenCaptureWindow>&)> end;
};

inline const std::vector<CaptureWindowEnding>& captureWindowEndings() {
    static const std::vector<CaptureWindowEnding> endings{
        {"closed",
         [](auto& window) {
             window->close();
         }},
        {"let go of by its owner",
         [](auto& window) {
             window.release()->deleteLater();
         }},
        {"destroyed by its owner",
         [](auto& window) {
             window.reset();
         }},
    };
    return endings;
}

// The grabbers a test hands to a capture window, with pointers kept for inspection.
struct ScriptedGrabbers {
    std::vector<std::unique_ptr<ScreenGrabber>> list;
    std::vector<ScriptedScreenGrabber*> grabbers;

    explicit ScriptedGrabbers(std::vector<std::function<QImage(const QRect&)>> answers) {
        for (auto& answer : answers) {
            auto grabber = std::make_unique<ScriptedScreenGrabber>(std::move(answer));
            grabbers.push_back(grabber.get());
            list.push_back(std::move(grabber));
        }
    }
    void watch(const QWidget* window) {
        for (auto* grabber : grabbers)
            grabber->watchedWindow = window;
    }
};
