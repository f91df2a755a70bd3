#pragma once

#include <QString>
#include <QtGlobal>

// Writes every log record as one line to stderr: time, level, category and message.
// A desktop session collects stderr in the journal. Lines of the default category are
// written without a category, as plain system log lines.
namespace LogMessageHandler {
void install();
QString formatRecord(QtMsgType type, const char* category, const QString& message);
} // namespace LogMessageHandler
