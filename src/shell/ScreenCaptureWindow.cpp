#include "shell/ScreenCaptureWindow.h"

#include "shell/OverlayView.h"

#include "platform/ApplicationKeyMonitor.h"
#include "platform/BackingStorePreparation.h"
#include "platform/Compositor.h"
#include "platform/CursorStack.h"
#include "platform/GlobalKeyMonitor.h"
#include "platform/KeyIdentity.h"
#include "platform/MainQueue.h"
#include "platform/MainScreen.h"
#include "platform/SystemLog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QtMath>
#include <QVBoxLayout>

#include <chrono>

namespace {

// Long enough for the window system to take the overlay off the screen and for the windows
// beneath to repaint before the screen is read.
constexpr std::chrono::milliseconds waitAfterHiding{50};

} // namespace

ScreenCaptureWindow::ScreenCaptureWindow(std::vector<std::unique_ptr<ScreenGrabber>> grabbers)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , screenGrabbers(std::make_shared<const ScreenGrabbers>(std::move(grabbers))) {
    const QScreen* screen = mainScreen();
    const QRect frame = screen ? screen->geometry() : QRect();
    setGeometry(frame);

    overlayView = new OverlayView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(overlayView);
    overlayView->setScreenCaptureWindow(this);
    // Without a compositor a translucent window is opaque, so the overlay paints the screen
    // as it was when the capture began, read before the window covers it. Its native window
    // exists meanwhile but is not on the screen.
    const bool paintsScreenPicture = !frame.isEmpty() && !Compositor::isRunning();
    if (!paintsScreenPicture)
        setAttribute(Qt::WA_TranslucentBackground);
    BackingStorePreparation preparation(this);
    QImage* surface = preparation.surface();
    const bool paintsAhead = paintsScreenPicture && canPaintAhead(surface, frame);
    // Where nothing is painted ahead, the window's memory is brought in meanwhile.
    if (!paintsAhead)
        preparation.bringInMemory();
    if (paintsScreenPicture)
        showScreenPicture(frame, paintsAhead ? surface : nullptr);
    preparation.wait();

    CursorStack::push(Qt::CrossCursor);
    cursorPushed = true;

    setupEscapeKeyHandling();
    makeKeyAndOrderFront();
}

ScreenCaptureWindow::~ScreenCaptureWindow() {
    endCapture();
}

void ScreenCaptureWindow::setAppDelegate(CaptureReceiver* receiver) {
    appDelegate = receiver ? receiver->weakLink() : CaptureReceiver::WeakLink();
}

void ScreenCaptureWindow::setupEscapeKeyHandling() {
    const QPointer<ScreenCaptureWindow> window(this);
    globalEventMonitor = GlobalKeyMonitor::addGlobalMonitorForKeyDown(
        [window](const GlobalKeyMonitor::KeyPress& key) {
            if (KeyIdentity::fromNativeScanCode(key.keycode) != PhysicalKey::escape)
                return;
            MainQueue::async([window] {
                if (window)
                    window->close();
            });
        });
    localEventMonitor =
        ApplicationKeyMonitor::addLocalMonitorForKeyDown([window](QKeyEvent& event) {
            if (KeyIdentity::fromEvent(event) != PhysicalKey::escape)
                return false;
            if (window)
                window->close();
            return true;
        });
}

void ScreenCaptureWindow::makeKeyAndOrderFront() {
    show();
    raise();
    activateWindow();
    overlayView->setFocus(Qt::ActiveWindowFocusReason);
}

void ScreenCaptureWindow::captureSelectedArea(const QRectF& rect) {
    if (appDelegate.expired()) {
        systemLog(QStringLiteral("Error: No app delegate available"));
        close();
        return;
    }
    const QPointer<ScreenCaptureWindow> self(this);
    handingOff = true;
    const QImage image = captureScreenArea(rect);
    // Closed (Escape) or destroyed by its owner while the grab waited: the user is no longer
    // capturing, so nothing is handed on.
    if (!self || closed)
        return;
    if (image.isNull()) {
        systemLog(QStringLiteral("Error: Failed to capture screenshot"));
        close();
        return;
    }
    // After the release that started the capture has been handled in full.
    MainQueue::async([receiver = appDelegate, image, rect, window = QPointer(this)] {
        if (const auto link = receiver.lock())
            (*link)->showEditWindow(image, rect);
        if (window)
            window->close();
    });
}

QImage ScreenCaptureWindow::captureScreenArea(const QRectF& rect) {
    const QScreen* screen = mainScreen();
    if (!screen)
        return {};
    // The overlay's coordinates are the window's; the grab wants the desktop's.
    const QRect grabbed = areaToGrab(rect, screen->devicePixelRatio()).intersected(this->rect());
    const QRect area = grabbed.translated(geometry().topLeft());

    const bool wasVisible = isVisible();
    hide();
    const QPointer<ScreenCaptureWindow> self(this);
    QEventLoop loop;
    QTimer::singleShot(waitAfterHiding, &loop, &QEventLoop::quit);
    loop.exec();
    // Queued calls run during the wait, and during a grabber's own wait for the desktop; a
    // window closed or destroyed meanwhile must not come back on screen without its cursor
    // and key monitors, nor be touched at all once destroyed.
    if (!self || closed)
        return {};
    const QImage image = grabScreen(screenGrabbers, area);
    if (!self || closed)
        return {};

    if (wasVisible)
        makeKeyAndOrderFront();
    return selectionOf(image, grabbed, rect);
}

QRect ScreenCaptureWindow::areaToGrab(const QRectF& rect, qreal ratio) {
    // The whole device-independent pixels that hold every device pixel of the selection.
    const QRect pixels = ScreenGrabber::onPixelGrid(rect, ratio);
    const QPoint topLeft(qFloor(pixels.left() / ratio), qFloor(pixels.top() / ratio));
    const QPoint pastBottomRight(qCeil((pixels.right() + 1) / ratio),
                                 qCeil((pixels.bottom() + 1) / ratio));
    return QRect(topLeft, pastBottomRight - QPoint(1, 1));
}

QImage ScreenCaptureWindow::selectionOf(const QImage& image, const QRect& grabbed,
                                        const QRectF& rect) {
    // The grab covers whole device-independent pixels around the selection; the selection
    // itself is the device pixels it spans, so the image measures its size.
    if (image.isNull())
        return image;
    const qreal ratio = image.devicePixelRatio();
    const QRect wanted =
        ScreenGrabber::onPixelGrid(rect, ratio)
            .translated(-ScreenGrabber::onPixelGrid(QRectF(grabbed), ratio).topLeft());
    if (wanted == image.rect())
        return image;
    QImage selection = image.copy(wanted);
    selection.setDevicePixelRatio(ratio);
    return selection;
}

bool ScreenCaptureWindow::canPaintAhead(const QImage* surface, const QRect& frame) {
    // A surface of one device pixel per device-independent pixel, in the X backing store's
    // format, which the screen's pictures are copied onto as they are.
    return surface && surface->size() == frame.size() &&
           surface->format() == QImage::Format_ARGB32_Premultiplied;
}

void ScreenCaptureWindow::showScreenPicture(const QRect& frame, QImage* surface) {
    // With a surface, the first frame's picture is painted onto the window's memory strip by
    // strip as the screen is read, on the threads that read it: bringing in that memory and
    // painting it overlap the reading, and the first frame has little left to do.
    ScreenGrabber::RowsRead paintRows;
    if (surface) {
        // Taken once here: asking the image for its pixels on several threads at once would
        // race on its bookkeeping.
        auto* pixels = const_cast<uchar*>(surface->constBits());
        paintRows = [pixels, size = surface->size(), bytesPerLine = surface->bytesPerLine()](
                        const QImage& picture, int firstRow, int rowCount) {
            if (!fitsSurface(picture, size))
                return;
            QImage rows(pixels + firstRow * bytesPerLine, size.width(), rowCount, bytesPerLine,
                        QImage::Format_ARGB32_Premultiplied);
            const QImage pictureRows(picture.constScanLine(firstRow), picture.width(), rowCount,
                                     picture.bytesPerLine(), picture.format());
            OverlayView::paintDimmedPicture(rows, pictureRows);
        };
    }
    const QImage screenPicture = grabScreen(screenGrabbers, frame, paintRows);
    // Nothing to paint beneath: the dimming alone, as over a desktop that composites.
    if (screenPicture.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
    else if (surface && fitsSurface(screenPicture, surface->size()))
        overlayView->setBackdrop(screenPicture, *surface);
    else
        overlayView->setBackdrop(screenPicture);
}

bool ScreenCaptureWindow::fitsSurface(const QImage& picture, QSize surfaceSize) {
    // An opaque picture of the surface's size: copied as it is, with no scaling.
    return picture.size() == surfaceSize && picture.devicePixelRatio() == 1.0 &&
           picture.format() == QImage::Format_RGB32;
}

QImage ScreenCaptureWindow::grabScreen(std::shared_ptr<const ScreenGrabbers> grabbers,
                                       const QRect& area, const ScreenGrabber::RowsRead& rowsRead) {
    for (const auto& grabber : *grabbers) {
        QImage image = grabber->grabAsRead(area, rowsRead);
        if (!image.isNull())
            return image;
    }
    return {};
}

void ScreenCaptureWindow::keyPressEvent(QKeyEvent* event) {
    if (KeyIdentity::fromEvent(*event) == PhysicalKey::escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool ScreenCaptureWindow::event(QEvent* event) {
    // Escape is claimed before any shortcut of the application can take it, but closing waits
    // for the key press that follows: the local monitor consumes that press, where closing
    // now would let it run on into an editor window's monitor and close that window too.
    if (event->type() == QEvent::ShortcutOverride &&
        KeyIdentity::fromEvent(static_cast<QKeyEvent&>(*event)) == PhysicalKey::escape) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void ScreenCaptureWindow::closeEvent(QCloseEvent* event) {
    endCapture();
    QWidget::closeEvent(event);
}

void ScreenCaptureWindow::endCapture() {
    closed = true;
    if (cursorPushed) {
        CursorStack::pop();
        cursorPushed = false;
    }
    if (localEventMonitor) {
        // Escape closes the window from inside this monitor's own handler, so the monitor
        // stops watching now and is deleted once that handler has returned.
        if (auto* application = QCoreApplication::instance()) {
            application->removeEventFilter(localEventMonitor.get());
            localEventMonitor->setParent(application);
            localEventMonitor.release()->deleteLater();
        } else {
            localEventMonitor.reset();
        }
    }
    globalEventMonitor.reset();
    if (overlayView)
        overlayView->setScreenCaptureWindow(nullptr);
}
