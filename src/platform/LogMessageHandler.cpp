#include "platform/LogMessageHandler.h"

#include <QDateTime>

#include <cstdio>
#include <cstring>

namespace LogMessageHandler {
namespace {

const char* levelName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "Debug";
    case QtInfoMsg:
        return "Info";
    case QtWarningMsg:
        return "Warning";
    case QtCriticalMsg:
        return "Error";
    case QtFatalMsg:
        return "Fault";
    }
    return "Info";
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = formatRecord(type, context.category, message).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QString formatRecord(QtMsgType type, const char* category, const QString& message) {
    const QString time =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    QString line =
        time + QStringLiteral(" Pixaloom <") + QLatin1String(levelName(type)) + QStringLiteral(">");
    if (category && std::strcmp(category, "default") != 0)
        line += QLatin1Char(' ') + QString::fromUtf8(category);
    // One record, one line: a message with line breaks keeps them escaped.
    QString flat = message;
    flat.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return line + QStringLiteral(": ") + flat;
}

void install() {
    qInstallMessageHandler(handle);
}

} // namespace LogMessageHandler
