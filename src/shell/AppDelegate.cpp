#include "shell/AppDelegate.h"

#include "shell/ScreenCaptureWindow.h"
#include "shell/SettingsWindow.h"
#include "shell/Updater.h"

#include "editor/EditWindow.h"
#include "platform/BundleInfo.h"
#include "platform/GlobalKeyMonitor.h"
#include "platform/HotKey.h"
#include "platform/MainMenu.h"
#include "platform/StatusItem.h"
#include "platform/WindowNotificationCenter.h"
#include "sdk/PostHogSDK.h"
#include "sdk/SentrySDK.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QSysInfo>

namespace {

const QColor brandOrange = QColor::fromRgbF(1.0, 92.0 / 255.0, 0.0, 1.0);

QString stringOrUnknown(const QString& key) {
    return BundleInfo::main().string(key).value_or(QStringLiteral("unknown"));
}

// A square frame: the outer square with the inner one cut out by the even-odd rule.
QPixmap squareFrame(qreal side, const QRectF& outer, const QRectF& inner, qreal pixelRatio) {
    QPixmap pixmap(qRound(side * pixelRatio), qRound(side * pixelRatio));
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(outer);
    path.addRect(inner);
    QPainter painter(&pixmap);
    painter.fillPath(path, brandOrange);
    return pixmap;
}

} // namespace

AppDelegate::AppDelegate()
    : makeCaptureWindow([] { return std::make_unique<ScreenCaptureWindow>(); }) {
}

AppDelegate::~AppDelegate() {
    // Windows go first, while the menus they show still exist; nothing is told of it.
    windowNotifications.reset();
    disconnect(qApp, nullptr, this, nullptr);
    captureWindow.reset();
    editWindow.reset();
    settingsWindow.reset();
    delete aboutPanel;
    globalMonitor.reset();
    MainMenu::setMenus({});
    MainMenu::setUpdateHandler({});
}

void AppDelegate::applicationDidFinishLaunching() {
    // The application is always a regular one here: a taskbar entry for each window.
    updater = &Updater::shared();
    posthog = &PostHogSDK::shared();
    posthog->capture(QStringLiteral("app_launched"),
                     {{QStringLiteral("version"), stringOrUnknown(BundleInfo::shortVersionKey)},
                      {QStringLiteral("build"), stringOrUnknown(BundleInfo::versionKey)},
                      {QStringLiteral("os_version"), QSysInfo::prettyProductName()}});
    SentrySDK::shared().start(&AppDelegate::configureCrashReporting);
    SentrySDK::shared().captureMessage(QStringLiteral("Pixaloom application started"));
    setupMenuBar();
    QApplication::setWindowIcon(applicationIcon());
    setupStatusBarItem();
    observeWindows();
    setupGlobalShortcut();
    registerGlobalShortcut();
}

void AppDelegate::configureCrashReporting(SentryOptions& options) {
    options.dsn = BundleInfo::main().string(BundleInfo::crashDsnKey).value_or(QString());
    options.debug = true;
    options.diagnosticLevel = SentryLevel::debug;
    options.sendDefaultPii = true;
    options.enableAutoSessionTracking = true;
    options.environment = QStringLiteral("production");
    if (const auto version = BundleInfo::main().string(BundleInfo::shortVersionKey))
        options.releaseName = QStringLiteral("com.app.pixaloom@") + *version;
}

QIcon AppDelegate::applicationIcon() {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        const qreal w = 128;
        icon.addPixmap(squareFrame(w, QRectF(0.2 * w, 0.2 * w, 0.6 * w, 0.6 * w),
                                   QRectF(0.3 * w, 0.3 * w, 0.4 * w, 0.4 * w), ratio));
    }
    return icon;
}

QIcon AppDelegate::statusIcon() {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(squareFrame(18, QRectF(4, 4, 10, 10), QRectF(6, 6, 6, 6), ratio));
    return icon;
}

void AppDelegate::observeWindows() {
    windowNotifications = std::make_unique<WindowNotificationCenter>(
        [this](QWidget* window) { handleWindowWillOpen(window); },
        [this](QWidget* window) { handleWindowClosed(window); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    applicationDidBecomeActive();
            });
}

void AppDelegate::applicationWillTerminate() {
    // Releasing the hot key ungrabs it; nothing else is saved.
    hotkeyRef.reset();
}
