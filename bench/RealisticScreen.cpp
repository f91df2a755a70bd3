#include "RealisticScreen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <vector>

namespace {

// Blocks of smooth colour at three scales plus grain: compresses like a photograph, not like
// a gradient.
QImage octave(QSize grid, QSize size, QRandomGenerator& random, int amplitude) {
    QImage small(grid, QImage::Format_RGB32);
    for (int y = 0; y < grid.height(); ++y)
        for (int x = 0; x < grid.width(); ++x)
            small.setPixel(x, y,
                           qRgb(random.bounded(amplitude), random.bounded(amplitude),
                                random.bounded(amplitude)));
    return small.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void waitMilliseconds(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

} // namespace

QImage RealisticScreen::photoLikeWallpaper(QSize size) {
    QRandomGenerator random(20261206);
    const QImage coarse = octave({12, 7}, size, random, 256);
    const QImage middle = octave({64, 36}, size, random, 90);
    const QImage fine = octave({480, 270}, size, random, 40);
    QImage photo(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(coarse.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(middle.constScanLine(y));
        const auto* c = reinterpret_cast<const QRgb*>(fine.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int(random.bounded(13)) - 6;
            auto channel = [&](int (*part)(QRgb)) {
                return std::clamp(part(a[x]) * 3 / 4 + part(b[x]) / 2 + part(c[x]) / 2 - 45 + grain,
                                  0, 255);
            };
            out[x] = qRgb(channel(qRed), channel(qGreen), channel(qBlue));
        }
    }
    return photo;
}

bool RealisticScreen::isFourKXScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return QGuiApplication::platformName() == QStringLiteral("xcb") && screen &&
           screen->geometry().width() >= 3840 && screen->geometry().height() >= 2160;
}

const RealisticScreen& RealisticScreen::shared() {
    static const RealisticScreen corpus;
    return corpus;
}

RealisticScreen::RealisticScreen() {
    if (!isFourKXScreen()) {
        skipReason = "needs a 3840 x 2160 X screen: run bench/run.sh";
        return;
    }
    QTemporaryDir folder;
    const QString wallpaper = folder.filePath(QStringLiteral("wallpaper.png"));
    photoLikeWallpaper({3840, 2160}).save(wallpaper);
    const QString text = QStringLiteral("/usr/include/httplib.h");
    struct Client {
        QString program;
        QStringList arguments;
    };
    const auto terminal = [](const QString& geometry, const QString& command) {
        return Client{QStringLiteral("xterm"),
                      {QStringLiteral("-geometry"), geometry, QStringLiteral("-fa"),
                       QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"),
                       QStringLiteral("11"), QStringLiteral("-bg"), QStringLiteral("#1e1e1e"),
                       QStringLiteral("-fg"), QStringLiteral("#d0d0d0"), QStringLiteral("-e"),
                       QStringLiteral("sh"), QStringLiteral("-c"),
                       command + QStringLiteral("; sleep 600")}};
    };
    const std::vector<Client> clients = {
        {QStringLiteral("feh"),
         {QStringLiteral("-x"), QStringLiteral("-g"), QStringLiteral("3840x2160+0+0"), wallpaper}},
        terminal(QStringLiteral("110x40+60+60"), QStringLiteral("ls -l /usr/bin | head -120")),
        terminal(QStringLiteral("140x70+2000+120"), QStringLiteral("cat -n ") + text),
        terminal(QStringLiteral("120x45+300+1250"),
                 QStringLiteral("ps aux | head -80; df -h; free -m")),
        {QStringLiteral("xcalc"),
         {QStringLiteral("-geometry"), QStringLiteral("260x360+1300+120")}},
        {QStringLiteral("xclock"),
         {QStringLiteral("-analog"), QStringLiteral("-geometry"),
          QStringLiteral("220x220+1320+620")}},
    };
    std::vector<std::unique_ptr<QProcess>> running;
    for (const Client& client : clients) {
        auto process = std::make_unique<QProcess>();
        process->start(client.program, client.arguments);
        if (!process->waitForStarted(5000)) {
            skipReason = ("cannot start " + client.program + " (tools/install-deps.sh bench)")
                             .toStdString()
                             .c_str();
            return;
        }
        running.push_back(std::move(process));
        // The wallpaper first, below everything else on a bare X server.
        waitMilliseconds(running.size() == 1 ? 1500 : 300);
    }
    waitMilliseconds(1500);
    QScreen* screen = QGuiApplication::primaryScreen();
    screen4K =
        screen->grabWindow(0, 0, 0, 3840, 2160).toImage().convertToFormat(QImage::Format_RGB32);
    screen1080p = screen4K.copy(0, 0, 1920, 1080);
    // To look at what was measured: PIXALOOM_BENCH_CORPUS_DIR=folder bench/run.sh
    if (const QString folder = qEnvironmentVariable("PIXALOOM_BENCH_CORPUS_DIR");
        !folder.isEmpty()) {
        screen4K.save(QDir(folder).filePath(QStringLiteral("screen-4k.png")));
        screen1080p.save(QDir(folder).filePath(QStringLiteral("screen-1080p.png")));
    }
    // Each client is ended by its own pid.
    for (auto& process : running) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
        process->waitForFinished(3000);
    }
}
