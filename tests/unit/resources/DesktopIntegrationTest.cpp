#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

#include "SquareFrameLook.h"

namespace {

const QColor brandOrange = QColor::fromRgbF(1.0, 92.0 / 255.0, 0.0);
const int iconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Colour channels within a few steps: unpremultiplying a blended edge rounds.
bool sameColour(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
           std::abs(a.blue() - b.blue()) <= 3;
}

struct ProgramResult {
    int exitCode = -1;
    QString output;
};

ProgramResult run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

// One installation into a prefix of its own, shared by the tests below.
class InstalledTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix = std::make_unique<QTemporaryDir>();
        install = run(QStringLiteral(CMAKE_COMMAND_PATH),
                      {"--install", PIXALOOM_BUILD_DIR, "--prefix", prefix->path()});
    }
    static void TearDownTestSuite() { prefix.reset(); }
    void SetUp() override { ASSERT_EQ(install.exitCode, 0) << install.output.toStdString(); }

    static QString installed(const QString& relative) { return prefix->filePath(relative); }
    static QString iconPath(int size) {
        return installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/pixaloom.png").arg(size));
    }

    static std::unique_ptr<QTemporaryDir> prefix;
    static ProgramResult install;
};
std::unique_ptr<QTemporaryDir> InstalledTest::prefix;
ProgramResult InstalledTest::install;

std::map<QString, QString> desktopEntry(const QString& path) {
    QFile file(path);
    std::map<QString, QString> entry;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    bool inMainGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.contains('='))
            entry[line.section('=', 0, 0)] = line.section('=', 1);
    }
    return entry;
}

TEST_F(InstalledTest, TheDesktopEntryIsValidAndStartsTheInstalledProgramWithItsIcon) {
    const QString path = installed("share/applications/com.app.pixaloom.desktop");
    ASSERT_TRUE(QFile::exists(path));
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty()) << "tools/install-deps.sh test installs it";
    const ProgramResult validation = run(validator, {path});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();
    EXPECT_FALSE(validation.output.contains("error:")) << validation.output.toStdString();
    EXPECT_FALSE(validation.output.contains("warning:")) << validation.output.toStdString();
    EXPECT_FALSE(validation.output.contains("hint:")) << validation.output.toStdString();

    auto entry = desktopEntry(path);
    EXPECT_EQ(entry["Name"], "Pixaloom");
    EXPECT_EQ(entry["Categories"], "Graphics;");
    // Docks match the windows' class to their launcher by it.
    EXPECT_EQ(entry["StartupWMClass"], "pixaloom");
    EXPECT_FALSE(entry["Comment"].isEmpty());
    // The menu finds the icon by name in the theme, and the program on the PATH.
    EXPECT_EQ(entry["Icon"], "pixaloom");
    EXPECT_TRUE(QFile::exists(iconPath(48).replace("pixaloom.png", entry["Icon"] + ".png")));
    EXPECT_TRUE(
        QFile::exists(installed("share/icons/hicolor/scalable/apps/" + entry["Icon"] + ".svg")));
    EXPECT_EQ(entry["Exec"], "pixaloom");
    if (PIXALOOM_HAS_EXECUTABLE) {
        EXPECT_TRUE(QFileInfo(installed("bin/" + entry["Exec"])).isExecutable());
    }
}

// What a panel or menu shows at each size: the orange frame, its band a tenth of the side
// and as far from the canvas's edges as the frame's outer square is from them (a fifth).
// Up to 48 px every pixel is either the frame, fully opaque, or the clear canvas: an edge
// between pixels would show as a blurred, half-transparent line. Larger sizes may blend one
// line of pixels along each of the frame's eight edges.
TEST_F(InstalledTest, EachIconSizeIsTheOrangeFrameOnAClearCanvas) {
    for (int size : iconSizes) {
        SCOPED_TRACE(size);
        const QImage icon(iconPath(size));
        ASSERT_EQ(icon.size(), QSize(size, size));
        const SquareFrameLook look = SquareFrameLook::of(icon, brandOrange);
        EXPECT_TRUE(look.isFrameOf(0.2 * size, 0.1 * size, 1.0)) << look.stretches();
        EXPECT_EQ(look.offColour, 0);
        if (size <= 48) {
            EXPECT_EQ(look.halfTransparent, 0);
            EXPECT_EQ(look.offFrame, 0);
        } else {
            EXPECT_LE(look.halfTransparent, 8 * 0.6 * size);
            EXPECT_LE(look.offFrame, 8) << "beyond the frame's corners";
        }
    }
}

TEST_F(InstalledTest, TheScalableIconDrawsWhatTheSizedOnesShow) {
    const QString svg = installed("share/icons/hicolor/scalable/apps/pixaloom.svg");
    ASSERT_TRUE(QFile::exists(svg));
    const QString converter = QStandardPaths::findExecutable("rsvg-convert");
    ASSERT_FALSE(converter.isEmpty()) << "tools/install-deps.sh test installs it";
    QTemporaryDir scratch;
    const QString rendered = scratch.filePath("rendered.png");
    ASSERT_EQ(run(converter, {"-w", "256", "-h", "256", svg, "-o", rendered}).exitCode, 0);

    const QImage fromSvg = QImage(rendered).convertToFormat(QImage::Format_ARGB32);
    const QImage sized = QImage(iconPath(256)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(fromSvg.size(), sized.size());
    int differing = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const QColor a = fromSvg.pixelColor(x, y);
            const QColor b = sized.pixelColor(x, y);
            // Antialiasing of the edges may differ a little between the two renderers.
            if (std::abs(a.alpha() - b.alpha()) > 16 || (a.alpha() > 128 && !sameColour(a, b)))
                ++differing;
        }
    EXPECT_EQ(differing, 0);
}

} // namespace
