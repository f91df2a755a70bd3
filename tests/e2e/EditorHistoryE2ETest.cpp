// The editor's undo/redo history on a real X server, as a user drives it: edits through the
// prompt popover against a scripted local edit server, the keys sent with xdotool, the
// toolbar clicked, and the auto-copies read back by another X client (xclip).
#include <QScreen>

#include <gtest/gtest.h>

#include "editor/EditWindow.h"
#include "editor/ToolbarButton.h"
#include "service/PixaloomService.h"
#include "LoopbackHttpServer.h"
#include "QtPng.h"
#include "RunningApplication.h"
#include "ScreenTestTools.h"

#include "../unit/editor/EditViewControllerInspector.h"

using Inspector = EditViewControllerInspector;

namespace {

int pixelsOf(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
    return count;
}

// The clipboard's image as another X client pastes it, in one format for comparing.
QImage pasted() {
    return clipboardImage().convertToFormat(QImage::Format_ARGB32);
}

QImage solid(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Pixels that compress badly, so an entry packed away takes a while to unpack.
QImage noise(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    quint32 state = 2463534242u;
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            row[x] = 0xff000000u | (state & 0xffffff);
        }
    }
    return image;
}

// An 8-bit palette image of four colours in bands, as a PNG of colour type 3.
QImage palette(QSize size) {
    QImage image(size, QImage::Format_Indexed8);
    image.setColorTable(
        {qRgb(230, 40, 40), qRgb(40, 200, 60), qRgb(30, 70, 220), qRgb(250, 220, 20)});
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, uint(x * 4 / size.width()));
    return image;
}

struct EditorHistoryOnX11 : ::testing::Test {
    EditorHistoryOnX11() {
        PixaloomService::Options options;
        options.serverUrl = server.baseUrl();
        service = std::make_unique<PixaloomService>(options);
        EditViewController::useServiceForTesting(service.get());
    }
    ~EditorHistoryOnX11() override {
        window.reset();
        EditViewController::useServiceForTesting(nullptr);
        runXdotool({"mousemove", QString::number(pointerAtStart.x()),
                    QString::number(pointerAtStart.y())});
    }

    void open(const QImage& capture) {
        window = std::make_unique<EditWindow>(capture, QRectF(QPointF(), QSizeF(capture.size())));
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get(), 2000))
            runToolToItsEnd(QStringLiteral("xdotool"),
                            {QStringLiteral("windowactivate"), QString::number(window->winId())});
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), screenTestTimeoutMs));
        panel = Inspector::panel(controller());
        QTest::qWait(400); // the panel's appearance
    }
    EditViewController& controller() { return *window->editViewController; }

    static LoopbackHttpServer::Reply imageReply(const QImage& image,
                                                std::chrono::milliseconds delay = {}) {
        auto reply = LoopbackHttpServer::json(
            200, R"({"success": true, "parts": [{"type": "image", "content": ")" +
                     qtPngOf(image).toBase64() + R"("}], "timing": {"total_ms": 1}})");
        reply.delay = delay;
        return reply;
    }

    // The prompt popover's Edit, as a user reaches it: the toolbar's button, a prompt, Return.
    void edit(const QString& prompt) {
        clickAt(centreOf(panel->editButton));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return panel->promptPopover && panel->promptPopover->isVisible(); },
            screenTestTimeoutMs));
        QTest::qWait(300);
        xdotool({"type", "--delay", "20", prompt});
        xdotool({"key", "Return"});
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !panel->editButton->isEnabled(); }, screenTestTimeoutMs));
    }
    // Until the result step has run and the overlay has faded out.
    void waitForEditToEnd() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel->editButton->isEnabled(); }, 15000));
    }
    void keys(const QString& keys) { xdotool({"key", "--clearmodifiers", keys}); }
    bool waitUntilShown(const QImage& expected) {
        return QTest::qWaitFor(
            [&] {
                return Inspector::shown(controller()).convertToFormat(QImage::Format_ARGB32) ==
                       expected.convertToFormat(QImage::Format_ARGB32);
            },
            screenTestTimeoutMs);
    }
    bool waitUntilPacked(int entry) {
        return QTest::qWaitFor(
            [&] { return Inspector::storedHistory(controller()).at(size_t(entry)).isPacked(); },
            screenTestTimeoutMs);
    }

    const QPoint pointerAtStart = pointerPosition();
    TemporarySettings settings;
    LoopbackHttpServer server;
    std::unique_ptr<PixaloomService> service;
    std::unique_ptr<EditWindow> window;
    ControlPanel* panel = nullptr;
};

TEST_F(EditorHistoryOnX11, APaletteResultComesBackFromTheHistoryWithItsColours) {
    settings.setAutoCopy(true);
    const QImage result = palette(QSize(400, 300));
    ASSERT_EQ(qtPngOf(result).at(25), 3) << "not a palette PNG";
    server.setDefaultReply(imageReply(result));
    open(noise(QSize(400, 300)));
    edit("four colours");
    waitForEditToEnd();
    ASSERT_EQ(Inspector::shown(controller()).format(), QImage::Format_Indexed8);

    keys("ctrl+z");
    ASSERT_TRUE(waitUntilPacked(1));
    keys("ctrl+shift+z");
    ASSERT_TRUE(waitUntilShown(result));
    EXPECT_EQ(Inspector::shown(controller()).colorTable(), result.colorTable());
    // Drawn with its four colours, not black.
    QTest::qWait(200);
    const QImage drawn = onScreen(Inspector::imageView(controller()));
    for (QRgb colour : result.colorTable())
        EXPECT_GT(pixelsOf(drawn, colour), drawn.width() * drawn.height() / 8) << colour;
    // And copied as shown.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return pasted() == result.convertToFormat(QImage::Format_ARGB32); },
                        screenTestTimeoutMs));
}

TEST_F(EditorHistoryOnX11, UndoAndRedoDuringASlowEditDoNothingAndTheResultFollowsTheFirst) {
    const QImage first = solid(QSize(300, 200), QColor(30, 70, 220));
    const QImage second = solid(QSize(300, 200), QColor(40, 200, 60));
    server.script({imageReply(first), imageReply(second, std::chrono::milliseconds(4000))});
    const QImage capture = solid(QSize(300, 200), QColor(230, 40, 40));
    open(capture);
    edit("first");
    waitForEditToEnd();
    edit("second");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Inspector::overlay(controller())->isHidden(); },
                                screenTestTimeoutMs));

    // Under the spinner: the keys, then the toolbar's Redo and Undo.
    keys("ctrl+z");
    keys("ctrl+shift+z");
    keys("ctrl+y");
    clickAt(centreOf(panel->redoButton));
    clickAt(centreOf(panel->undoButton));
    QTest::qWait(200);
    EXPECT_EQ(Inspector::index(controller()), 1);
    EXPECT_TRUE(waitUntilShown(first));
    for (ToolbarButton* button : {panel->undoButton, panel->redoButton}) {
        EXPECT_FALSE(button->isEnabled());
        EXPECT_DOUBLE_EQ(button->alphaValue(), 0.5);
    }
    EXPECT_FALSE(window->validateMenuItem(EditWindow::MenuAction::undo)) << "the menu's Undo";
    EXPECT_FALSE(window->validateMenuItem(EditWindow::MenuAction::redo)) << "the menu's Redo";
    ASSERT_FALSE(Inspector::overlay(controller())->isHidden()) << "the reply came too soon";

    waitForEditToEnd();
    EXPECT_TRUE(waitUntilShown(second));
    const auto history = Inspector::history(controller());
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[1].pixel(0, 0), first.pixel(0, 0));
    EXPECT_EQ(Inspector::index(controller()), 2);
    keys("ctrl+z");
    EXPECT_TRUE(waitUntilShown(first));
}

TEST_F(EditorHistoryOnX11, AnUndosAutoCopyReachesTheClipboardWhenTheEditorClosesAtOnce) {
    settings.setAutoCopy(true);
    const QImage capture = noise(QSize(1600, 800));
    server.setDefaultReply(imageReply(solid(capture.size(), Qt::darkGreen)));
    open(capture);
    edit("green");
    waitForEditToEnd();
    ASSERT_TRUE(waitUntilPacked(0));

    // The editor closes on the turn after Ctrl+Z, as the menu's Close Window and the shell's
    // retiring of the window do, while the capture is still being unpacked.
    struct CloseAfterUndo : QObject {
        std::unique_ptr<EditWindow>* window;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::KeyPress &&
                static_cast<QKeyEvent*>(event)->key() == Qt::Key_Z)
                QMetaObject::invokeMethod(
                    this, [this] { window->reset(); }, Qt::QueuedConnection);
            return false;
        }
    } closer;
    closer.window = &window;
    qApp->installEventFilter(&closer);
    keys("ctrl+z");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window; }, screenTestTimeoutMs));
    qApp->removeEventFilter(&closer);

    EXPECT_TRUE(
        QTest::qWaitFor([&] { return pasted() == capture.convertToFormat(QImage::Format_ARGB32); },
                        screenTestTimeoutMs));
}

} // namespace
