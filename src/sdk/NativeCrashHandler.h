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
// Gives the calling thread an alternate signal stack for the rest of its life, so that a stack
// overflow on it is still reported. Once the handlers are installed every QThread (Qt's thread
// pools included) gets one by itself; a thread started otherwise calls this first.
void prepareThread();
// Writes `text` to `fd` as the inside of a JSON string, as a crash file carries an exception's
// text: quotes, backslashes and control characters escaped, every byte that is not part of
// valid UTF-8 as U+FFFD. Async-signal-safe.
void writeJsonText(int fd, const char* text);
} // namespace NativeCrashHandler
