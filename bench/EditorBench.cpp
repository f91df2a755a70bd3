// The editor's three performance targets: the result path of a 4K reply, the GUI thread's
// share of an auto-copy, and the memory a full history of 4K results holds.
#include "editor/EditViewController.h"
#include "editor/ImageView.h"
#include "platform/ClipboardWriter.h"
#include "service/PixaloomError.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <unistd.h>

namespace {

// A 3840 x 2160 picture with enough detail that PNG cannot shrink it to nothing.
QImage detailed4K(int seed) {
    QImage image(3840, 2160, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb((x + seed * 17) & 255, (y * 3) & 255, ((x ^ y) + seed) & 255);
    }
    return image;
}

long residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

// Drives the controller's own result step, as the edit task does once the reply is in.
struct EditViewControllerInspector {
    static void handleResult(EditViewController& controller, const QByteArray& bytes) {
        controller.handleEditResult(
            EditViewController::EditRequest{QStringLiteral("p"), std::nullopt, false, QImage()},
            bytes, std::nullopt);
    }
    static void paint(EditViewController& controller) { controller.imageView->repaint(); }
    static const QImage& shown(EditViewController& controller) {
        return controller.imageView->image();
    }
    static qint64 keptBytes(const EditViewController& controller) {
        std::set<qint64> seen;
        qint64 bytes = 0;
        auto count = [&](const QImage& image) {
            if (seen.insert(image.cacheKey()).second)
                bytes += image.sizeInBytes();
        };
        for (const QImage& entry : controller.imageHistory)
            count(entry);
        count(controller.originalImage);
        return bytes;
    }
};

namespace {

struct EditorSetup {
    EditorSetup() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        controller = std::make_shared<EditViewController>(QImage(800, 600, QImage::Format_RGB32),
                                                          QRectF(0, 0, 800, 600), 60);
        controller->view()->resize(1840, 1000);
        controller->view()->show();
    }
    QTemporaryDir config; // auto-copy stays off
    std::shared_ptr<EditViewController> controller;
};

void BM_ResultPath4K(benchmark::State& state) {
    EditorSetup editor;
    const QByteArray reply = ClipboardWriter::encodePng(detailed4K(1));
    state.counters["reply_MB"] = reply.size() / 1e6;
    for (auto _ : state) {
        EditViewControllerInspector::handleResult(*editor.controller, reply);
        EditViewControllerInspector::paint(*editor.controller);
    }
    const QImage shown = EditViewControllerInspector::shown(*editor.controller);
    state.counters["shown_width"] = shown.width();
    state.counters["shown_height"] = shown.height();
}
BENCHMARK(BM_ResultPath4K)->Unit(benchmark::kMillisecond)->Iterations(10);

// What the GUI thread spends on an auto-copy of the shown result: claiming the clipboard.
void BM_AutoCopyOnGuiThread(benchmark::State& state) {
    EditorSetup editor;
    EditViewControllerInspector::handleResult(*editor.controller,
                                              ClipboardWriter::encodePng(detailed4K(2)));
    const QImage shown = EditViewControllerInspector::shown(*editor.controller);
    for (auto _ : state)
        ClipboardWriter::writeImage(shown);
    state.counters["image_width"] = shown.width();
}
BENCHMARK(BM_AutoCopyOnGuiThread)->Unit(benchmark::kMillisecond)->Iterations(20);

// The longest a paste that arrives right after the copy waits: the whole encoding.
void BM_AutoCopyEncodeWorstPasteWait(benchmark::State& state) {
    EditorSetup editor;
    EditViewControllerInspector::handleResult(*editor.controller,
                                              ClipboardWriter::encodePng(detailed4K(3)));
    const QImage shown = EditViewControllerInspector::shown(*editor.controller);
    for (auto _ : state)
        benchmark::DoNotOptimize(ClipboardWriter::encodePngInBackground(shown).get());
}
BENCHMARK(BM_AutoCopyEncodeWorstPasteWait)->Unit(benchmark::kMillisecond)->Iterations(10);

// Twenty distinct 4K results: resident memory grown against the bytes of the images kept.
void BM_HistoryOfTwenty4KResults(benchmark::State& state) {
    std::vector<QByteArray> replies;
    for (int n = 0; n < 20; ++n)
        replies.push_back(ClipboardWriter::encodePng(detailed4K(10 + n)));
    for (auto _ : state) {
        EditorSetup editor;
        const long before = residentBytes();
        for (const QByteArray& reply : replies)
            EditViewControllerInspector::handleResult(*editor.controller, reply);
        const long grown = residentBytes() - before;
        const double kept = EditViewControllerInspector::keptBytes(*editor.controller);
        state.counters["rss_growth_MB"] = grown / 1e6;
        state.counters["kept_MB"] = kept / 1e6;
        state.counters["growth_ratio"] = grown / kept;
    }
}
BENCHMARK(BM_HistoryOfTwenty4KResults)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
