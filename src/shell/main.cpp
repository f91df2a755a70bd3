// Pixaloom: sets up analytics, then runs the application with its shell as the delegate.
#include "shell/AppDelegate.h"

#include "platform/BundleInfo.h"
#include "platform/DisplayConnection.h"
#include "platform/LogMessageHandler.h"
#include "platform/MainQueue.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "platform/UserDefaults.h"
#include "sdk/PostHogConfig.h"
#include "sdk/PostHogSDK.h"

#include <QApplication>

#include <malloc.h>

int main(int argc, char** argv) {
    // Each capture holds pictures of the screen, megabytes each, and frees them when its
    // windows close. Once such a block is freed glibc raises its mmap threshold to its size,
    // and the next ones come from the heap, which keeps freed memory: the resident size would
    // grow by tens of megabytes over a few captures and stay there. A fixed threshold (glibc's
    // starting value) hands every large block back to the system as soon as it is freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    LogMessageHandler::install();
    // Qt would abort without a display, blaming its own installation; this says what is wrong.
    if (!DisplayConnection::isAvailable(argc, argv))
        return 1;
    const BundleInfo& info = BundleInfo::main();
    const PostHogConfig config(info.string(BundleInfo::analyticsKeyKey).value_or(QString()),
                               info.string(BundleInfo::analyticsHostKey).value_or(QString()));
    PostHogSDK::shared().setup(config);

    QApplication app(argc, argv);
    QApplication::setApplicationName(
        info.string(QStringLiteral("CFBundleName")).value_or(UserDefaults::applicationName));
    QApplication::setOrganizationName(UserDefaults::organizationName);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.app.pixaloom"));
    // The tray icon and the hot key keep working with no window open.
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate;
    // One Pixaloom per session: a second start asks the running one for a capture and ends,
    // failing when that one did not answer (hung or stopped): nothing the user asked for
    // happened.
    const auto claim = SingleInstance::claim(SingleInstance::applicationName,
                                             [&delegate] { delegate.takeScreenshot(); });
    if (!claim.instance)
        return claim.answered ? 0 : 1;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    // A logout, `kill` or Ctrl+C quits as Quit does: the hot key is released, the queues are
    // sent and the crash-reporting session ends as a normal exit, not as an abnormal one.
    const TerminationSignals terminationSignals([](int) { QCoreApplication::quit(); });
    // Launching has finished once the event loop runs.
    MainQueue::async([&delegate] { delegate.applicationDidFinishLaunching(); });
    app.exec();
    // Windows let go of during the last turn of the loop are deleted before their owner.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
