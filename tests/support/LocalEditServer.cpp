#include "LocalEditServer.h"

#include <csignal>
#include <sys/prctl.h>

LocalEditServer::LocalEditServer() {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // Port 0: the server picks a free port and names it in its first line, written once it
    // listens.
    process.start(QStringLiteral(PIXALOOM_EDIT_SERVER), {QStringLiteral("0")});
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    port = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
}

LocalEditServer::~LocalEditServer() {
    stop();
}

QString LocalEditServer::baseUrl() const {
    return port ? QStringLiteral("http://127.0.0.1:%1").arg(port) : QString();
}

void LocalEditServer::stop() {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}
