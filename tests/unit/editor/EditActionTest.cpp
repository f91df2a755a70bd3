#include "EditViewControllerInspector.h"

#include "editor/EditWindow.h"
#include "editor/ToolbarButton.h"
#include "platform/Logger.h"
#include "sdk/PostHogSDK.h"
#include "service/PixaloomError.h"
#include "service/PixaloomService.h"
#include "service/TiffRepresentation.h"
#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "QtPng.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace editor_test;
using Inspector = EditViewControllerInspector;

namespace {

const QString controllerLog = QStringLiteral("com.app.pixaloom.EditViewController");

// The edit server of these tests: every request gets the scripted reply after the scripted
// delay, and each POST /edit's form fields are read back.
struct LoopbackEditServer : LoopbackHttpServer {
    struct Reply {
        int status = 200;
        std::string body;
        std::chrono::milliseconds delay{0};
    };

    void reply(const Reply& scripted) {
        auto answer = json(scripted.status, QByteArray::fromStdString(scripted.body));
        answer.delay = scripted.delay;
        setDefaultReply(std::move(answer));
    }
    QByteArray sent(std::size_t request, const QByteArray& field) const {
        return requests().at(request).formValue(field).value_or(QByteArray());
    }

    static std::string imageReply(const QImage& image) { return bytesReply(qtPngOf(image)); }
    static std::string bytesReply(const QByteArray& bytes) {
        return R"({"success": true, "parts": [{"type": "image", "content": ")" +
               bytes.toBase64().toStdString() + R"("}], "timing": {"total_ms": 12.5}})";
    }
};

QByteArray tiffOf(const QImage& image) {
    return TiffRepresentation::of(image).value_or(QByteArray());
}

QStringList eventNames() {
    QStringList names;
    for (const auto& event : PostHogSDK::shared().events())
        names << event.name;
    return names;
}

QStringList propertyKeys(const PostHogSDK::Event& event) {
    QStringList keys;
    for (const auto& [key, value] : event.properties.value_or(AnalyticsProperties{}))
        keys << key;
    return keys;
}

AnalyticsValue property(const PostHogSDK::Event& event, const QString& key) {
    for (const auto& [name, value] : event.properties.value_or(AnalyticsProperties{}))
        if (name == key)
            return value;
    return QString();
}

struct EditFixture : ::testing::Test {
    EditFixture() {
        PixaloomService::Options options;
        options.serverUrl = server.baseUrl();
        service = std::make_unique<PixaloomService>(options);
        EditViewController::useServiceForTesting(service.get());
        PostHogSDK::shared().clearEvents();
    }
    ~EditFixture() override {
        takeAlerts();
        EditViewController::useServiceForTesting(nullptr);
    }

    void edit(const QString& prompt, std::optional<QString> theme = std::nullopt,
              bool improve = false) {
        controller->controlPanelDidClickEditWithPromptThemeImprovePrompt(
            Inspector::panel(*controller), prompt, theme, improve);
    }
    // Waits until the result step has run and the overlay has faded out.
    void waitForResult(int expectedRequests) {
        QTRY_VERIFY_WITH_TIMEOUT(int(server.requests().size()) == expectedRequests, 10000);
        waitForLoadingToEnd();
    }
    // The buttons live again once the overlay's fade out is over. The overlay alone does not
    // tell: it shows only from the fade's first visible value, which a quick reply may beat.
    void waitForLoadingToEnd() {
        QTRY_VERIFY_WITH_TIMEOUT(Inspector::panel(*controller)->editButton->isEnabled(), 10000);
        EXPECT_TRUE(Inspector::overlay(*controller)->isHidden());
    }

    TemporarySettings settings;
    LoopbackEditServer server;
    std::unique_ptr<PixaloomService> service;
    QImage capture = solidImage(200, 100, Qt::red);
    std::shared_ptr<EditViewController> controller = makeController(capture);
};

TEST_F(EditFixture, ResultWithoutBackgroundIsShownScaledAndBecomesTheNextSource) {
    // The offscreen screen is 800 x 800: room for 720 x 660 points once the 40-point margins
    // and the 60-point panel are taken, so a 1600 x 1200 result shrinks by 720 / 1600.
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().size(), QSize(800, 800));
    const QImage result = solidImage(1600, 1200, Qt::blue);
    server.reply({200, LoopbackEditServer::imageReply(result), std::chrono::milliseconds(300)});
    LogCapture logs;
    edit("make it blue", "ghibli", true);
    QTRY_VERIFY(!Inspector::overlay(*controller)->isHidden()); // with the fade's first frames
    auto* panel = Inspector::panel(*controller);
    const std::vector<ToolbarButton*> all{panel->editButton,  panel->copyButton,
                                          panel->shareButton, panel->undoButton,
                                          panel->redoButton,  panel->bgSettingsButton};
    for (ToolbarButton* button : all) {
        SCOPED_TRACE(button->accessibleName().toStdString());
        EXPECT_FALSE(button->isEnabled()) << "while loading";
        EXPECT_DOUBLE_EQ(button->alphaValue(), 0.5);
    }
    waitForResult(1);

    EXPECT_EQ(server.sent(0, "image"), tiffOf(capture));
    const auto& history = Inspector::history(*controller);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.back().size(), QSize(720, 540)) << "scaled to the screen";
    EXPECT_EQ(Inspector::shown(*controller).constBits(), history.back().constBits());
    EXPECT_EQ(Inspector::originalImage(*controller).size(), result.size());
    // Afterwards: all but Redo live again, Redo dimmed as the history has nothing ahead.
    for (ToolbarButton* button : all) {
        SCOPED_TRACE(button->accessibleName().toStdString());
        const bool live = button != panel->redoButton;
        EXPECT_EQ(button->isEnabled(), live);
        EXPECT_DOUBLE_EQ(button->alphaValue(), live ? 1.0 : 0.5);
    }

    const auto events = PostHogSDK::shared().events();
    ASSERT_EQ(eventNames(), QStringList({"edit_started", "edit_success"}));
    EXPECT_EQ(*events[0].properties, (AnalyticsProperties{{"prompt", QString("make it blue")},
                                                          {"theme", QString("ghibli")},
                                                          {"improve_prompt", true},
                                                          {"image_width", 200.0},
                                                          {"image_height", 100.0}}));
    EXPECT_EQ(propertyKeys(events[1]),
              QStringList({"prompt", "theme", "improve_prompt", "duration_ms", "image_size"}));
    EXPECT_GT(std::get<double>(property(events[1], "duration_ms")), 0.0);
    const auto messages = logs.messages(controllerLog);
    EXPECT_TRUE(messages.contains(
        "Sending edit request with prompt: make it blue, theme: ghibli, improve prompt: true"));
    EXPECT_TRUE(messages.contains("Successfully updated image with edited version"));

    // Without a background the next edit sends the result as shown, not the full size.
    server.reply({200, LoopbackEditServer::imageReply(solidImage(20, 20, Qt::green))});
    edit("again");
    waitForResult(2);
    EXPECT_EQ(server.sent(1, "image"), tiffOf(Inspector::history(*controller).at(1)));
}

TEST_F(EditFixture, AResultIsShownWithThePixelsOfQtsReaderAndSmoothScaling) {
    // Fine detail under varying alpha, where a decoder or a reduction that went wrong shows.
    QImage result(1603, 1201, QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x)
            result.setPixel(x, y, qRgba((x * 7) ^ y, (y * 3) % 256, (x + y) % 256, (x / 5) % 256));
    const QByteArray png = qtPngOf(result);
    server.reply({200, LoopbackEditServer::bytesReply(png)});
    edit("detail");
    waitForResult(1);

    const QImage decoded = QImage::fromData(png);
    EXPECT_TRUE(Inspector::originalImage(*controller) == decoded);
    const QImage shown = Inspector::history(*controller).back();
    const QImage expected =
        decoded.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Kept premultiplied, as Qt's scaling makes it before its conversion back.
    EXPECT_TRUE(shown.convertToFormat(expected.format()) == expected);
}

TEST_F(EditFixture, WithABackgroundTheBaseIsSentAndTheResultComposed) {
    controller->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        Inspector::panel(*controller), Qt::yellow, 10, 20);
    controller->performUndo(); // the capture is shown again; the base stays
    settings.setAutoCopy(true);
    const QImage result = solidImage(300, 150, Qt::blue);
    server.reply({200, LoopbackEditServer::imageReply(result)});
    edit("", "comic");
    waitForResult(1);

    EXPECT_EQ(server.sent(0, "image"), tiffOf(capture));
    const auto& history = Inspector::history(*controller);
    ASSERT_EQ(history.size(), 2u) << "the composite replaced the redo tail";
    EXPECT_EQ(history.back().size(), QSize(320, 190));
    EXPECT_EQ(history.back().pixelColor(0, 0), QColor(Qt::yellow));
    EXPECT_EQ(history.back().pixelColor(160, 95), QColor(Qt::blue));
    EXPECT_EQ(Inspector::originalImage(*controller).size(), QSize(300, 150));
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(clipboard && clipboard->hasFormat("image/png"));
    EXPECT_EQ(QImage::fromData(clipboard->data("image/png")).size(), QSize(320, 190));

    // The next edit starts from the full-size result, never the composite.
    server.reply({200, LoopbackEditServer::imageReply(result)});
    edit("more");
    waitForResult(2);
    EXPECT_EQ(server.sent(1, "image"), tiffOf(Inspector::originalImage(*controller)));
}

TEST_F(EditFixture, FailuresShowTheirAlertAndReportTwice) {
    struct Case {
        const char* name;
        LoopbackEditServer::Reply reply;
        QString alert;
        QString errorCasePrefix;
    };
    const QString blocked = "Content blocked due to safety concerns";
    const Case cases[] = {
        {"api error",
         {400, blocked.toStdString()},
         "API error: " + blocked,
         PixaloomError::apiError(400, blocked).textForm()},
        {"server failure",
         {200, R"({"success": false, "parts": [], "error": "quota"})"},
         "Invalid response: ",
         "invalidResponse("},
        {"no image part",
         {200, R"({"success": true, "parts": [{"type": "text", "content": "hi"}]})"},
         "Invalid response: ",
         "invalidResponse("},
    };
    int requests = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PostHogSDK::shared().clearEvents();
        server.reply(c.reply);
        edit("p");
        waitForResult(++requests);
        const auto alerts = takeAlerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].first, "Error");
        EXPECT_TRUE(alerts[0].second.startsWith(c.alert)) << alerts[0].second.toStdString();

        const auto events = PostHogSDK::shared().events();
        ASSERT_EQ(eventNames(), QStringList({"edit_started", "edit_error", "edit_error"}));
        EXPECT_EQ(propertyKeys(events[1]), QStringList({"error", "error_type", "prompt", "theme",
                                                        "improve_prompt", "duration_ms"}));
        EXPECT_TRUE(std::get<QString>(property(events[1], "error")).contains("PixaloomError"));
        EXPECT_EQ(propertyKeys(events[2]),
                  QStringList({"error", "error_type", "error_case", "prompt", "theme",
                               "improve_prompt", "duration_ms"}));
        EXPECT_EQ(std::get<QString>(property(events[2], "error")), alerts[0].second);
        EXPECT_EQ(std::get<QString>(property(events[2], "error_type")), "PixaloomError");
        EXPECT_TRUE(
            std::get<QString>(property(events[2], "error_case")).startsWith(c.errorCasePrefix));
        EXPECT_EQ(std::get<QString>(property(events[2], "theme")), "none");
        EXPECT_GE(std::get<double>(property(events[2], "duration_ms")),
                  std::get<double>(property(events[1], "duration_ms")));
        EXPECT_EQ(Inspector::history(*controller).size(), 1u);
        EXPECT_EQ(Inspector::shown(*controller).pixelColor(0, 0), QColor(Qt::red));
    }
}

TEST_F(EditFixture, AMultiMegabyteErrorBodyShowsTheBeginningOfItInTheAlert) {
    // The cut of the alert lies inside the emoji, and two characters later a combining mark
    // follows its letter: neither may be split.
    const QString lead = QStringLiteral("API error: ");
    const qsizetype before = EditViewController::maxAlertTextLength - 1 - lead.size() - 1;
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString body = QString(before, u'x') + grin + QStringLiteral("e\u0301") +
                         QString::fromUtf8("Überlastung ").repeated(400000);
    server.reply({500, body.toStdString()});
    LogCapture logs;
    edit("p");
    waitForResult(1);
    const auto alerts = takeAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].second, lead + QString(before, u'x') + QChar(0x2026));

    for (const LogCapture::Record& record : logs.records())
        EXPECT_LE(record.message.size(), Logger::maxMessageLength)
            << record.message.left(80).toStdString();
    const auto events = PostHogSDK::shared().events();
    ASSERT_EQ(eventNames(), QStringList({"edit_started", "edit_error", "edit_error"}));
    EXPECT_EQ(std::get<QString>(property(events[2], "error")), alerts[0].second);
    const QString errorCase = std::get<QString>(property(events[2], "error_case"));
    EXPECT_TRUE(errorCase.startsWith("apiError(500, \"" + QString(before, u'x') + grin));
    EXPECT_LE(errorCase.size(), PixaloomError::shortMessageLength + 20);

    // A letter with its mark across the cut goes whole; just before it, it stays whole.
    const QString eAcute = QStringLiteral("e\u0301");
    int requests = 1;
    for (const qsizetype xs : {before, before - 1}) {
        server.reply({500, (QString(xs, u'x') + eAcute + body).toStdString()});
        edit("p");
        waitForResult(++requests);
        const auto next = takeAlerts();
        ASSERT_EQ(next.size(), 1u);
        const QString kept = xs == before ? QString(xs, u'x') : QString(xs, u'x') + eAcute;
        EXPECT_EQ(next[0].second, lead + kept + QChar(0x2026)) << xs;
    }
}

TEST_F(EditFixture, AServersMarkupInItsErrorIsShownAsTheTextItIs) {
    // A proxy's error page: shown as written, never laid out as a page of ours (with its
    // pictures fetched from local files).
    const QString page = QStringLiteral("<h1>Bad gateway</h1><img src=\"file:///etc/passwd\">");
    server.reply({502, page.toStdString()});
    edit("p");
    waitForResult(1);
    QMessageBox* alert = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            alert = box;
    ASSERT_NE(alert, nullptr);
    const QString shown = QStringLiteral("API error: ") + page;
    bool found = false;
    for (QLabel* label : alert->findChildren<QLabel*>()) {
        if (label->text() != shown)
            continue;
        found = true;
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(found) << "the alert shows the server's text";
    takeAlerts();
}

TEST_F(EditFixture, AnUnreachableServerIsANetworkError) {
    PixaloomService::Options options;
    options.serverUrl = QStringLiteral("http://127.0.0.1:1");
    PixaloomService unreachable(options);
    EditViewController::useServiceForTesting(&unreachable);
    edit("p");
    QTRY_VERIFY_WITH_TIMEOUT(PostHogSDK::shared().events().size() == 3, 10000);
    waitForLoadingToEnd();
    const auto alerts = takeAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].second, "Network error occurred");
    const auto last = PostHogSDK::shared().events().back();
    EXPECT_TRUE(std::get<QString>(property(last, "error_case")).startsWith("networkError("));
}

TEST_F(EditFixture, BytesThatAreNoImageFailAfterSuccess) {
    server.reply({200, LoopbackEditServer::bytesReply("certainly not an image")});
    LogCapture logs;
    edit("p");
    waitForResult(1);
    EXPECT_EQ(takeAlerts(), (std::vector<std::pair<QString, QString>>{
                                {"Error", "Failed to process the edited image."}}));
    ASSERT_EQ(eventNames(), QStringList({"edit_started", "edit_success", "edit_error"}));
    const auto error = PostHogSDK::shared().events()[2];
    EXPECT_EQ(std::get<QString>(property(error, "error_type")), "UnknownError");
    EXPECT_TRUE(
        logs.messages(controllerLog)
            .contains("Failed to create image from data, but no specific error was caught."));
    EXPECT_EQ(Inspector::history(*controller).size(), 1u);
}

TEST_F(EditFixture, NothingToAskForOnlyAlerts) {
    edit("");
    EXPECT_EQ(takeAlerts(), (std::vector<std::pair<QString, QString>>{
                                {"No Edit Parameters",
                                 "Please enter a prompt or select a theme to edit the image."}}));
    EXPECT_TRUE(PostHogSDK::shared().events().empty());
    EXPECT_TRUE(Inspector::overlay(*controller)->isHidden());
    EXPECT_FALSE(Inspector::editStarted(*controller));

    // Blanks are text: sent unchanged; a theme alone is enough and logs the theme line.
    LogCapture logs;
    server.reply({200, LoopbackEditServer::imageReply(capture)});
    edit("   ");
    waitForResult(1);
    EXPECT_EQ(server.sent(0, "prompt"), "   ");
    edit("", "pixel_art");
    waitForResult(2);
    EXPECT_TRUE(logs.messages(controllerLog).contains("Applying theme: pixel_art"));
}

TEST_F(EditFixture, TheHistoryStandsStillWhileAnEditIsInFlight) {
    // From the newest entry only undo has somewhere to go; one step back, only redo.
    for (const bool steppedBack : {false, true}) {
        SCOPED_TRACE(steppedBack);
        controller = makeController(capture);
        const QImage first = solidImage(60, 40, Qt::blue);
        server.reply({200, LoopbackEditServer::imageReply(first)});
        edit("first");
        waitForResult(steppedBack ? 3 : 1);
        if (steppedBack)
            controller->performUndo();
        const int begun = Inspector::index(*controller);

        const QImage second = solidImage(60, 40, Qt::green);
        server.reply({200, LoopbackEditServer::imageReply(second), std::chrono::milliseconds(600)});
        edit("second");
        auto* panel = Inspector::panel(*controller);
        for (int round = 0; round < 2; ++round) {
            EXPECT_FALSE(controller->canUndo());
            EXPECT_FALSE(controller->canRedo());
            // The buttons' own reports, as a click would send them.
            controller->controlPanelDidClickUndo(panel);
            controller->controlPanelDidClickRedo(panel);
            EXPECT_EQ(Inspector::index(*controller), begun);
            for (ToolbarButton* button : {panel->undoButton, panel->redoButton}) {
                EXPECT_FALSE(button->isEnabled());
                EXPECT_DOUBLE_EQ(button->alphaValue(), 0.5);
            }
            QTest::qWait(250); // again once the overlay has faded in
        }
        waitForResult(steppedBack ? 4 : 2);
        const auto history = Inspector::history(*controller);
        ASSERT_EQ(int(history.size()), begun + 2);
        EXPECT_EQ(history[size_t(begun)].pixelColor(0, 0),
                  steppedBack ? capture.pixelColor(0, 0) : first.pixelColor(0, 0));
        EXPECT_EQ(history.back().pixelColor(0, 0), second.pixelColor(0, 0));
        EXPECT_EQ(Inspector::index(*controller), begun + 1);
        EXPECT_TRUE(controller->canUndo());
    }
}

TEST(EditLifetime, ClosingTheWindowDuringAnEditStillRunsTheResultStep) {
    TemporarySettings settings;
    settings.setAutoCopy(true);
    LoopbackEditServer server;
    PixaloomService::Options options;
    options.serverUrl = server.baseUrl();
    PixaloomService service(options);
    EditViewController::useServiceForTesting(&service);
    PostHogSDK::shared().clearEvents();
    LogCapture logs;

    auto window = std::make_unique<EditWindow>(solidImage(120, 80, Qt::red), QRectF(0, 0, 120, 80));
    window->show();
    std::weak_ptr<EditViewController> controller = window->editViewController;
    server.reply({200, LoopbackEditServer::imageReply(solidImage(90, 60, Qt::green)),
                  std::chrono::milliseconds(300)});
    window->editViewController->controlPanelDidClickEditWithPromptThemeImprovePrompt(
        nullptr, "slow", std::nullopt, false);
    window->close();
    window.reset();
    EXPECT_FALSE(controller.expired()) << "the running edit keeps its controller";

    QTRY_VERIFY_WITH_TIMEOUT(
        logs.messages(controllerLog).contains("Successfully updated image with edited version"),
        10000);
    EXPECT_EQ(QImage::fromData(QGuiApplication::clipboard()->mimeData()->data("image/png")).size(),
              QSize(90, 60));
    QTRY_VERIFY(controller.expired());
    EditViewController::useServiceForTesting(nullptr);
}

} // namespace
