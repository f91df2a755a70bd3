#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace MainQueue {

void async(std::function<void()> work) {
    async(QCoreApplication::instance(), std::move(work));
}

void async(QObject* context, std::function<void()> work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

} // namespace MainQueue
