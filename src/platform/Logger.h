#pragma once

#include "platform/LogArgument.h"

#include <QLoggingCategory>
#include <QString>

#include <initializer_list>
#include <span>

// Formats a printf-style log message the way the unified log does: "%{bool}d" prints
// true/false, "%{public}" and "%{private}" only mark privacy, "%s" takes text, "%f" six
// decimals, "%.2f" two, "%ld"/"%d" integers, "%%" a percent sign. A message longer than
// Logger::maxMessageLength is cut there, ending in "…".
QString formatLogMessage(const char* format, std::span<const LogArgument> arguments);

// A logger per class, in the category "<subsystem>.<category>" (e.g.
// com.app.pixaloom.PixaloomService), so users can filter with QT_LOGGING_RULES.
class Logger {
public:
    Logger(const QString& subsystem, const QString& category);

    template <typename... Args> void info(const char* format, const Args&... args) const {
        if (loggingCategory->isInfoEnabled())
            write(QtInfoMsg, format, {LogArgument(args)...});
    }

    template <typename... Args> void error(const char* format, const Args&... args) const {
        if (loggingCategory->isCriticalEnabled())
            write(QtCriticalMsg, format, {LogArgument(args)...});
    }

    const QLoggingCategory& category() const { return *loggingCategory; }

    // In UTF-16 code units: at most 6 KB of UTF-8 per line, however large the values are (a
    // failed reply's body, say), so that a line stays readable and cheap to write.
    static constexpr qsizetype maxMessageLength = 2048;

private:
    void write(QtMsgType type, const char* format, std::initializer_list<LogArgument> args) const;

    const QLoggingCategory* loggingCategory;
};
