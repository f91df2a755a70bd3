#include "LogCapture.h"

namespace {
LogCapture* active = nullptr;
}

LogCapture::LogCapture() {
    active = this;
    previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previous);
    active = nullptr;
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!active)
        return;
    std::lock_guard lock(active->mutex);
    active->captured.push_back({type,
                                QString::fromUtf8(context.category ? context.category : "default"),
                                message, std::chrono::steady_clock::now()});
}

std::vector<LogCapture::Record> LogCapture::records() const {
    std::lock_guard lock(mutex);
    return captured;
}

QStringList LogCapture::messages(const QString& category) const {
    QStringList result;
    for (const auto& record : records())
        if (record.category == category)
            result << record.message;
    return result;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex);
    captured.clear();
}
