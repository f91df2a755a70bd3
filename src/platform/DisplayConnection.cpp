#include "platform/DisplayConnection.h"

#include <QByteArray>
#include <QString>

#include <cstring>
#include <optional>
#include <xcb/xcb.h>

#include "platform/Logger.h"

namespace {

// Qt's own options take one or two leading dashes.
bool isOption(const char* argument, const char* name) {
    if (argument[0] != '-')
        return false;
    const char* bare = argument[1] == '-' ? argument + 2 : argument + 1;
    return std::strcmp(bare, name) == 0;
}

// The value of Qt's option `name` among the arguments, or nothing.
std::optional<QByteArray> option(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (isOption(argv[i], name))
            return QByteArray(argv[i + 1]);
    return std::nullopt;
}

// The platform Qt chooses, as far as it is known before the application object exists:
// "-platform", else QT_QPA_PLATFORM, else xcb, except in a Wayland session, where Qt makes a
// choice of its own (empty then).
QString platformName(int argc, char** argv) {
    if (const auto given = option(argc, argv, "platform"))
        return QString::fromLocal8Bit(*given);
    const QByteArray environment = qgetenv("QT_QPA_PLATFORM");
    if (!environment.isEmpty())
        return QString::fromLocal8Bit(environment);
    if (qgetenv("XDG_SESSION_TYPE") == "wayland")
        return {};
    return QStringLiteral("xcb");
}

// Why the X display cannot be opened, when Qt will use xcb and it cannot.
std::optional<QString> failure(int argc, char** argv) {
    // Platform options follow a colon ("xcb:option"); a list of platforms to try ("wayland;xcb")
    // has other roads than xcb, and Qt takes them.
    if (platformName(argc, argv).section(QLatin1Char(':'), 0, 0) != QLatin1String("xcb"))
        return std::nullopt;
    const QByteArray display = option(argc, argv, "display").value_or(qgetenv("DISPLAY"));
    if (display.isEmpty())
        return QStringLiteral("Cannot open the X display: DISPLAY is not set");
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (!failed)
        return std::nullopt;
    return QStringLiteral("Cannot open the X display \"%1\"").arg(QString::fromLocal8Bit(display));
}

} // namespace

bool DisplayConnection::isAvailable(int argc, char** argv) {
    const auto reason = failure(argc, argv);
    if (reason)
        Logger(QStringLiteral("com.app.pixaloom"), QStringLiteral("DisplayConnection"))
            .error("%s", *reason);
    return !reason;
}
