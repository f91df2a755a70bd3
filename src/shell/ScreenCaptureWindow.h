#pragma once

#include "shell/CaptureReceiver.h"

#include "platform/ScreenGrabber.h"

#include <QImage>
#include <QRectF>
#include <QWidget>

#include <memory>
#include <vector>

class ApplicationKeyMonitor;
class GlobalKeyMonitor;
class OverlayView;

// The frameless window over the screen under the pointer while the user selects an area.
// It shows the crosshair cursor, closes on Escape (typed into it, anywhere in the
// application, or into another application), turns the selection into an image of the
// screen beneath and hands both to its receiver. It is shown when made; closing it does not
// delete it.
class ScreenCaptureWindow : public QWidget {
    Q_OBJECT
public:
    explicit ScreenCaptureWindow(std::vector<std::unique_ptr<ScreenGrabber>> screenGrabbers =
                                     ScreenGrabber::standardGrabbers());
    ~ScreenCaptureWindow() override;

    // Held weakly; set by the creator right after making the window.
    void setAppDelegate(CaptureReceiver* receiver);

    // Closed windows are never shown again.
    bool isClosed() const { return closed; }
    // From the release of a selection until its image has been handed on and the window
    // closes: hidden for most of it while the screen beneath is read.
    bool isHandingOff() const { return handingOff && !closed; }

    // Called by the overlay with the released selection, in the overlay's coordinates.
    void captureSelectedArea(const QRectF& rect);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setupEscapeKeyHandling();
    QImage captureScreenArea(const QRectF& rect);
    static bool canPaintAhead(const QImage* surface, const QRect& frame);
    void showScreenPicture(const QRect& frame, QImage* surface);
    static bool fitsSurface(const QImage& picture, QSize surfaceSize);
    using ScreenGrabbers = std::vector<std::unique_ptr<ScreenGrabber>>;
    static QImage grabScreen(std::shared_ptr<const ScreenGrabbers> grabbers, const QRect& area,
                             const ScreenGrabber::RowsRead& rowsRead = {});
    static QRect areaToGrab(const QRectF& rect, qreal ratio);
    static QImage selectionOf(const QImage& image, const QRect& grabbed, const QRectF& rect);
    void endCapture();
    void makeKeyAndOrderFront();

    OverlayView* overlayView = nullptr;
    CaptureReceiver::WeakLink appDelegate;
    bool cursorPushed = false;
    // Set by the first close; the screen grab's wait runs the event loop, where an Escape can
    // close the window in the middle of a capture.
    bool closed = false;
    bool handingOff = false;
    std::unique_ptr<ApplicationKeyMonitor> localEventMonitor;
    std::unique_ptr<GlobalKeyMonitor> globalEventMonitor;
    // Shared with a grab under way: a grabber that waits for the desktop runs the event loop,
    // where the window can be deleted, and must outlive its own wait.
    std::shared_ptr<const ScreenGrabbers> screenGrabbers;
};
