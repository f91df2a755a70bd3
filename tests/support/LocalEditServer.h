#pragma once

#include <QProcess>
#include <QString>

// The local edit server (tools/edit-server) on a free port of 127.0.0.1, for one test or
// benchmark. It is stopped by its own pid when this object goes, and ends with this process
// if that dies first.
class LocalEditServer {
public:
    LocalEditServer();
    ~LocalEditServer();
    LocalEditServer(const LocalEditServer&) = delete;
    LocalEditServer& operator=(const LocalEditServer&) = delete;

    // Empty when the server did not start.
    QString baseUrl() const;
    qint64 pid() const { return process.processId(); }
    // Ends the server now, as a server that goes away would.
    void stop();

private:
    QProcess process;
    quint16 port = 0;
};
