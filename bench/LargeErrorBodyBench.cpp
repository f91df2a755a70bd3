// A failed edit whose error reply is a large body (arguments: its size in MB; plain text, or
// JSON whose "error" is that text), from a loopback server, in a real editor window over a
// realistic capture (a 1200 x 800 selection of a screen made from real X clients): from the
// reply's end (the moment the service logs "Request completed in") to the alert's first paint,
// target at most 1 s; and the process's resident peak during the edit above what it held before, as
// a ratio to the body's size, target at most 2. Wall and CPU (all threads) are given from the
// edit's start as well.
#include "editor/EditViewController.h"
#include "editor/EditWindow.h"
#include "sdk/SentrySDK.h"
#include "service/PixaloomService.h"

#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "ProcessCpu.h"
#include "RealisticScreen.h"
#include "ResidentMemory.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

// The first paint of an alert: the moment a person can read it.
class AlertWatch : public QObject {
public:
    AlertWatch() { QCoreApplication::instance()->installEventFilter(this); }
    ~AlertWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

    std::optional<Clock::time_point> painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted && qobject_cast<QMessageBox*>(watched))
            painted = Clock::now();
        return false;
    }
};

// Plain text, as a proxy's error page or a server's stack dump comes; or a JSON object whose
// "error" is that text.
QByteArray errorBody(qsizetype megabytes, bool json) {
    const QByteArray line = json ? "upstream error: the edit service is unavailable. "
                                 : "upstream error: the edit service is unavailable\n";
    const QByteArray lead = json ? R"({"error":")" : "";
    const QByteArray end = json ? R"("})" : "";
    QByteArray body(megabytes * 1000 * 1000, Qt::Uninitialized);
    std::memcpy(body.data(), lead.constData(), static_cast<size_t>(lead.size()));
    for (qsizetype at = lead.size(); at < body.size() - end.size(); at += line.size())
        std::memcpy(body.data() + at, line.constData(),
                    static_cast<size_t>(std::min(line.size(), body.size() - end.size() - at)));
    std::memcpy(body.data() + body.size() - end.size(), end.constData(),
                static_cast<size_t>(end.size()));
    return body;
}

std::optional<Clock::time_point> replyEnd(const LogCapture& logs) {
    for (const LogCapture::Record& record : logs.records())
        if (record.message.startsWith(QStringLiteral("Request completed in ")))
            return record.at;
    return std::nullopt;
}

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

void closeAlerts() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* alert = qobject_cast<QMessageBox*>(widget))
            alert->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A selection of a typical size from the middle of the 1080p screen: part of a terminal full
// of text, the calculator, the clock and wallpaper. The editor uploads it with the edit, so a
// flat image would make the edit's own cost, and the memory it holds, smaller than a user's.
QImage typicalSelection(const RealisticScreen& screen) {
    const QSize size(1200, 800);
    const QSize whole = screen.screen1080p.size();
    return screen.screen1080p.copy(QRect(
        QPoint((whole.width() - size.width()) / 2, (whole.height() - size.height()) / 2), size));
}

void LargeErrorBodyAlert(benchmark::State& state) {
    const RealisticScreen& screen = RealisticScreen::shared();
    if (!screen.skipReason.isEmpty()) {
        state.SkipWithError(screen.skipReason.toStdString().c_str());
        return;
    }
    const QImage capture = typicalSelection(screen);
    LoopbackHttpServer server(std::chrono::minutes(10));
    LoopbackHttpServer::Reply reply;
    reply.status = 500;
    reply.headers.emplace_back("Content-Type", "text/plain");
    reply.body = errorBody(state.range(0), state.range(1) == 1);
    // Sent in pieces from the one body, so the server adds no copy of its own to the peak.
    reply.bodyPieces = 400;
    server.setDefaultReply(reply);
    const double bodySize = static_cast<double>(reply.body.size());
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(60)});
    EditViewController::useServiceForTesting(&service);
    QTemporaryDir config; // auto-copy stays off
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    double ratio = 0, afterReply = 0, wall = 0, cpu = 0;
    for (auto _ : state) {
        EditWindow window(capture, QRectF(QPointF(), QSizeF(capture.size())));
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            state.SkipWithError("the editor window did not show");
            break;
        }
        QTest::qWait(400); // the panel's appearance
        const std::optional<qint64> before = startResidentPeak();
        if (!before) {
            state.SkipWithError("cannot reset the resident peak");
            break;
        }
        LogCapture logs;
        AlertWatch alert;
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        window.editViewController->controlPanelDidClickEditWithPromptThemeImprovePrompt(
            nullptr, QStringLiteral("make it pop"), std::nullopt, false);
        while (!alert.painted)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        cpu += cpuSeconds() - cpuStart;
        wall += milliseconds(*alert.painted - start);
        ratio = std::max(ratio, static_cast<double>(statusBytes("VmHWM") - *before) / bodySize);
        if (const auto ended = replyEnd(logs))
            afterReply = std::max(afterReply, milliseconds(*alert.painted - *ended));
        closeAlerts();
    }
    EditViewController::useServiceForTesting(nullptr);
    const double n = static_cast<double>(state.iterations());
    state.counters["body_MB"] = bodySize / 1e6;
    state.counters["reply_end_to_alert_ms"] = afterReply; // the largest; target <= 1000
    state.counters["peak_vs_body"] = ratio;               // the largest; target <= 2
    state.counters["edit_to_alert_ms"] = wall / n;
    state.counters["app_cpu_ms"] = cpu * 1000 / n;
    const QRect screenRect = QGuiApplication::primaryScreen()->geometry();
    state.SetLabel(QStringLiteral("%1x%2 realistic capture, %3 screen %4x%5")
                       .arg(capture.width())
                       .arg(capture.height())
                       .arg(QGuiApplication::platformName())
                       .arg(screenRect.width())
                       .arg(screenRect.height())
                       .toStdString());
}
BENCHMARK(LargeErrorBodyAlert)
    ->ArgNames({"MB", "json"})
    ->Args({300, 0})
    ->Args({5, 0})
    ->Args({300, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace
