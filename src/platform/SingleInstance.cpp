#include "platform/SingleInstance.h"

#include "platform/Logger.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {

const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"),
                                 QStringLiteral("SingleInstance")};
    return instance;
}

// The whole conversation: a later start sends the request, the running one answers.
const QByteArray activationRequest = QByteArrayLiteral("activate\n");
const QByteArray activationAnswer = QByteArrayLiteral("ok\n");
// Long enough for a busy but live instance (it answers from its event loop), short enough
// that a stopped one does not keep the user waiting for long.
constexpr int answerTimeoutMs = 3000;
// How long a start waits for the lock's holder to begin listening: it does so right after
// taking the lock, so only a hung or dying holder takes this long.
constexpr int listenTimeoutMs = 5000;
constexpr int retryIntervalMs = 50;

QString runtimeFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

enum class Notification { answered, noAnswer, notListening };

Notification askRunningInstance(const QString& path) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(retryIntervalMs))
        return Notification::notListening;
    socket.write(activationRequest);
    QDeadlineTimer deadline(answerTimeoutMs);
    while (socket.bytesToWrite() > 0 && !deadline.hasExpired())
        socket.waitForBytesWritten(int(deadline.remainingTime()));
    QByteArray answer;
    while (!answer.endsWith('\n') && !deadline.hasExpired() &&
           socket.state() == QLocalSocket::ConnectedState) {
        if (socket.waitForReadyRead(int(deadline.remainingTime())))
            answer += socket.readAll();
    }
    answer += socket.readAll();
    return answer == activationAnswer ? Notification::answered : Notification::noAnswer;
}

} // namespace

QString SingleInstance::socketPath(const QString& name) {
    return runtimeFolder() + QLatin1Char('/') + name + QStringLiteral(".socket");
}

QString SingleInstance::lockPath(const QString& name) {
    return runtimeFolder() + QLatin1Char('/') + name + QStringLiteral(".lock");
}

SingleInstance::SingleInstance(std::unique_ptr<QLockFile> lock,
                               std::function<void()> onActivationRequest)
    : lock(std::move(lock))
    , onActivationRequest(std::move(onActivationRequest)) {
}

SingleInstance::~SingleInstance() {
    if (server)
        server->close();
}

SingleInstance::Claim SingleInstance::claim(const QString& name,
                                            std::function<void()> onActivationRequest) {
    // Better a second Pixaloom than none: without a place to coordinate, the claim guards
    // nothing and the application starts.
    const auto unguarded = [&onActivationRequest] {
        return Claim{std::unique_ptr<SingleInstance>(
            new SingleInstance(nullptr, std::move(onActivationRequest)))};
    };
    if (runtimeFolder().isEmpty()) {
        logger().error("No runtime folder: another running Pixaloom cannot be detected");
        return unguarded();
    }
    auto lock = std::make_unique<QLockFile>(lockPath(name));
    // Held for the life of the process: only a dead holder makes it stale, never its age.
    lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(listenTimeoutMs);
    bool removedBrokenLock = false;
    while (true) {
        // Taking the lock is atomic, so of two starts at once exactly one gets here.
        if (lock->tryLock(0)) {
            std::unique_ptr<SingleInstance> instance(
                new SingleInstance(std::move(lock), std::move(onActivationRequest)));
            instance->listen(socketPath(name));
            return {std::move(instance)};
        }
        if (lock->error() != QLockFile::LockFailedError) {
            logger().error("Cannot take the lock %s: another running Pixaloom cannot be detected",
                           lockPath(name));
            return unguarded();
        }
        switch (askRunningInstance(socketPath(name))) {
        case Notification::answered:
            logger().info("Pixaloom is already running; asked it to take a screenshot");
            return {nullptr, true};
        case Notification::noAnswer:
            logger().error("Pixaloom is already running but did not answer");
            return {};
        case Notification::notListening:
            break;
        }
        if (deadline.hasExpired()) {
            // A lock that names no process (a start that died between creating and filling
            // it, or junk) is never recognised as stale by itself and would bar every start.
            qint64 pid = 0;
            QString host;
            QString application;
            if (!lock->getLockInfo(&pid, &host, &application) && !removedBrokenLock) {
                logger().error("Removing the unreadable lock %s", lockPath(name));
                lock->removeStaleLockFile();
                removedBrokenLock = true;
                continue;
            }
            logger().error("Pixaloom is already running but did not answer");
            return {};
        }
        QThread::msleep(retryIntervalMs);
    }
}

bool SingleInstance::listen(const QString& path) {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Only the lock's holder gets here, so a socket file left behind is a crashed instance's.
    QLocalServer::removeServer(path);
    if (!server->listen(path)) {
        logger().error("Cannot listen on %s: %s", path, server->errorString());
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* connection = server->nextPendingConnection()) {
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QLocalSocket::readyRead, this,
                [this, connection] { readRequest(connection); });
        // A peer that says nothing does not keep its connection open.
        QTimer::singleShot(answerTimeoutMs, connection, &QLocalSocket::abort);
    }
}

void SingleInstance::readRequest(QLocalSocket* connection) {
    const QByteArray received = connection->peek(activationRequest.size() + 1);
    if (received.size() < activationRequest.size() && activationRequest.startsWith(received))
        return; // more to come
    if (received != activationRequest) {
        connection->abort();
        return;
    }
    connection->readAll();
    connection->write(activationAnswer);
    connection->flush();
    connection->disconnectFromServer();
    if (onActivationRequest)
        onActivationRequest();
}
