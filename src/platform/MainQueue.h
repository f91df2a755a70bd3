#pragma once

#include <QObject>

#include <functional>

// Deferred work on the GUI thread, first in first out: every call posts one queued event
// to the GUI thread, and posted events of equal priority are delivered in posting order.
// Do not mix with QTimer::singleShot(0, ...), which is ordered separately.
namespace MainQueue {
// Runs `work` on the GUI thread after the current event has been handled.
void async(std::function<void()> work);
// The same, skipped when `context` is destroyed before it runs.
void async(QObject* context, std::function<void()> work);
} // namespace MainQueue
