// The edit service's two hot paths on realistic sizes: building the request body for a 4K
// screenshot, and reading a 12 MB reply down to the image bytes. Each is reported with its
// ratio to the yardstick measured in the same run (Qt's PNG encode; a memcpy of the reply).
#include "service/Base64.h"
#include "service/PixaloomService.h"
#include "service/ServerResponse.h"

#include "ProcessCpu.h"
#include "QtPng.h"
#include "RealisticScreen.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A desktop-like 3840x2160 screenshot: flat panels, gradients, window chrome, lots of text.
const QImage& screenshot() {
    static const QImage image = [] {
        QImage canvas(3840, 2160, QImage::Format_RGB32);
        QPainter painter(&canvas);
        QLinearGradient wallpaper(0, 0, 3840, 2160);
        wallpaper.setColorAt(0, QColor(32, 58, 96));
        wallpaper.setColorAt(1, QColor(140, 80, 120));
        painter.fillRect(canvas.rect(), wallpaper);
        painter.fillRect(0, 0, 3840, 48, QColor(30, 30, 30));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(22);
        painter.setFont(font);
        const QRect windows[] = {
            {120, 120, 1800, 1300}, {1500, 400, 2100, 1500}, {300, 1300, 1400, 780}};
        int seed = 0;
        for (const QRect& window : windows) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(250, 250, 250));
            painter.drawRoundedRect(window, 12, 12);
            QLinearGradient title(window.topLeft(), window.topLeft() + QPoint(0, 56));
            title.setColorAt(0, QColor(236, 236, 236));
            title.setColorAt(1, QColor(214, 214, 214));
            painter.fillRect(QRect(window.left(), window.top(), window.width(), 56), title);
            painter.fillRect(QRect(window.left(), window.top() + 56, 320, window.height() - 56),
                             QColor(242, 244, 247));
            painter.setPen(QColor(40, 40, 40));
            for (int y = window.top() + 100; y < window.bottom() - 30; y += 34) {
                ++seed;
                const QString line =
                    QStringLiteral(
                        "%1  fn render_%2(frame: &Frame) -> Result<(), Error> { // line %3")
                        .arg(seed % 97)
                        .arg(seed * 31 % 1000)
                        .arg(seed);
                painter.drawText(window.left() + 360, y, line.left(20 + seed % 60));
                painter.drawText(window.left() + 24, y, QStringLiteral("Item %1").arg(seed % 50));
            }
        }
        return canvas;
    }();
    return image;
}

double secondsOf(auto work, int repeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Timed per iteration by hand so the ratio uses exactly what the benchmark measured.
template <typename Work> double meanSeconds(benchmark::State& state, Work work) {
    double total = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        work();
        total += std::chrono::duration<double>(Clock::now() - start).count();
    }
    return total / static_cast<double>(state.iterations());
}

void QtPngEncode(benchmark::State& state) {
    const double seconds =
        meanSeconds(state, [] { benchmark::DoNotOptimize(qtPngOf(screenshot())); });
    state.counters["ms"] = seconds * 1000;
}
BENCHMARK(QtPngEncode)->Unit(benchmark::kMillisecond)->Iterations(3);

void RequestBodyBuild(benchmark::State& state) {
    const QImage& image = screenshot();
    static PixaloomService service(
        {QStringLiteral("http://127.0.0.1:9"), nullptr, std::chrono::seconds(60)});
    const double pngSeconds = secondsOf([&] { benchmark::DoNotOptimize(qtPngOf(image)); }, 3);
    qsizetype bodySize = 0;
    const double seconds = meanSeconds(state, [&] {
        const QByteArray body = service.createMultipartFormData(
            image, QStringLiteral("make it pop"), QStringLiteral("retro"), true);
        bodySize = body.size();
    });
    const double rawBytes = double(image.width()) * image.height() * 4;
    state.counters["ms"] = seconds * 1000;
    state.counters["png_ms"] = pngSeconds * 1000;
    state.counters["time_vs_png"] = seconds / pngSeconds; // target <= 0.15
    state.counters["body_MB"] = bodySize / 1e6;
    state.counters["body_vs_raw"] = bodySize / rawBytes; // target <= 0.05
}
BENCHMARK(RequestBodyBuild)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The request body on screenshots made from real X clients, against Qt's PNG of the same
// image: size, and time in wall and in total CPU (every thread of the process).
void RequestBodyOnRealisticScreens(benchmark::State& state) {
    const RealisticScreen& corpus = RealisticScreen::shared();
    if (!corpus.skipReason.isEmpty()) {
        state.SkipWithError(corpus.skipReason.toStdString().c_str());
        return;
    }
    const QImage& image = state.range(0) == 1 ? corpus.screen4K : corpus.screen1080p;
    static PixaloomService service(
        {QStringLiteral("http://127.0.0.1:9"), nullptr, std::chrono::seconds(60)});
    const auto measure = [](auto work) {
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        const qsizetype size = work();
        return std::array<double, 3>{std::chrono::duration<double>(Clock::now() - start).count(),
                                     cpuSeconds() - cpuStart, double(size)};
    };
    std::array<double, 3> png{}, body{};
    for (auto _ : state) {
        png = measure([&] { return qtPngOf(image).size(); });
        body = measure([&] {
            return service.createMultipartFormData(image, QStringLiteral("make it pop"), {}, false)
                .size();
        });
    }
    state.counters["body_MB"] = body[2] / 1e6;
    state.counters["png_MB"] = png[2] / 1e6;
    state.counters["body_vs_png"] = body[2] / png[2]; // target <= 1
    state.counters["body_ms"] = body[0] * 1000;
    state.counters["body_cpu_ms"] = body[1] * 1000;
    state.counters["png_ms"] = png[0] * 1000;
    state.counters["png_cpu_ms"] = png[1] * 1000;
    state.counters["cpu_vs_png_cpu"] = body[1] / png[1]; // target <= 0.15
    state.SetLabel(QStringLiteral("%1x%2 realistic capture")
                       .arg(image.width())
                       .arg(image.height())
                       .toStdString());
}
BENCHMARK(RequestBodyOnRealisticScreens)
    ->ArgName("4K")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// About 12 MB: an 8 MB PNG as base64 beside a text part and timings.
const QByteArray& twelveMegabyteReply() {
    static const QByteArray reply = [] {
        QByteArray png(8 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(7);
        generator.fillRange(reinterpret_cast<quint32*>(png.data()), png.size() / 4);
        std::memcpy(png.data(), "\x89PNG\r\n\x1A\n", 8);
        ServerResponse response;
        response.success = true;
        response.parts.push_back(
            {QStringLiteral("text"), QByteArray(12'000'000 - png.size() * 4 / 3, 'x')});
        response.parts.push_back({QStringLiteral("image"), png.toBase64()});
        response.timing = TimingInfo{5120.5, 4800.25};
        return response.encode();
    }();
    return reply;
}

QByteArray decodeToImageBytes(const QByteArray& reply) {
    const ServerResponse response = ServerResponse::decode(reply);
    for (const ResponsePart& part : response.parts)
        if (part.type == QStringLiteral("image"))
            return Base64::decode(std::string_view(part.content.constData(), part.content.size()))
                .value_or(QByteArray());
    return {};
}

void ReplyDecode(benchmark::State& state) {
    const QByteArray& reply = twelveMegabyteReply();
    QByteArray copy(reply.size(), Qt::Uninitialized);
    const double memcpySeconds = secondsOf(
        [&] {
            std::memcpy(copy.data(), reply.constData(), static_cast<size_t>(reply.size()));
            benchmark::ClobberMemory();
        },
        21);
    qsizetype imageSize = 0;
    const double seconds =
        meanSeconds(state, [&] { imageSize = decodeToImageBytes(reply).size(); });
    state.counters["ms"] = seconds * 1000;
    state.counters["reply_MB"] = reply.size() / 1e6;
    state.counters["image_MB"] = imageSize / 1e6;
    state.counters["memcpy_ms"] = memcpySeconds * 1000;
    state.counters["time_vs_memcpy"] = seconds / memcpySeconds; // target <= 20
}
BENCHMARK(ReplyDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void QtJsonReplyDecode(benchmark::State& state) {
    const QByteArray& reply = twelveMegabyteReply();
    const double seconds = meanSeconds(state, [&] {
        const QJsonDocument document = QJsonDocument::fromJson(reply);
        const QByteArray content = document.object()[QStringLiteral("parts")]
                                       .toArray()[1]
                                       .toObject()[QStringLiteral("content")]
                                       .toString()
                                       .toLatin1();
        benchmark::DoNotOptimize(
            QByteArray::fromBase64Encoding(content, QByteArray::AbortOnBase64DecodingErrors));
    });
    state.counters["ms"] = seconds * 1000;
}
BENCHMARK(QtJsonReplyDecode)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
