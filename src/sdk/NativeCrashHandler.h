#pragma once

#include <QByteArray>
#include <QString>

// Catches the process's fatal signals (SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE) and uncaught
// C++ exceptions, completes a crash event prepared in advance and writes it to
// <directory>/<event id>.crash (through <event id>.crash.tmp and a rename) using only
// async-signal-safe calls. Then the previous handler runs, so the process dies as before.
namespace NativeCrashHandler {
// `eventPrefix` is an event's JSON without its closing brace. Installing again replaces
// what is written; the handlers are installed once per process.
void install(const QString& directory, const QString& eventId, const QByteArray& eventPrefix);
// Stops writing crash files; the handlers stay and only pass signals on.
void disable();
// Captures handed to the worker thread that are not on disk yet. A crash on any other thread
// gives them a moment to get there before the crash is written and the process ends.
void beginPendingWork();
void endPendingWork();
// Called on the worker thread: a crash there cannot wait for its own work.
void setWorkerThread();
} // namespace NativeCrashHandler
