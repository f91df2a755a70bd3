#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <chrono>
#include <mutex>
#include <vector>

// Records every log record written while it exists, then restores the previous handler.
class LogCapture {
public:
    struct Record {
        QtMsgType type;
        QString category;
        QString message;
        std::chrono::steady_clock::time_point at; // when it was written
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Record> records() const;
    // Messages of one category ("default" for the plain system log), in order.
    QStringList messages(const QString& category) const;
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable std::mutex mutex;
    std::vector<Record> captured;
    QtMessageHandler previous = nullptr;
};
